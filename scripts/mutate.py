"""Mutation testing of the C++ sources: how many small faults does the test suite catch?

Run through scripts/mutants, which prepares the environment. The working tree is never
touched: its files are copied into build/mutants/tree, built there once, and each mutant
is one small operator change to one copy, rebuilt incrementally and tested with
``pytest -x`` (the slow-marked tests left out). A mutant whose build fails is replaced by
the next one in the seeded order, so the run always reports --count mutants that built.

Operators: a comparison widened or narrowed (< and <=, > and >=), flipped (< and >,
<= and >=) or negated (== and !=); "+ 1" or "- 1" dropped; && and || swapped;
std::min and std::max swapped. Operators are only recognised with a space on each
side, as the formatter writes binary operators, so template brackets, shifts and
references are never mistaken for them. Comments, string literals and preprocessor
lines are skipped.

The mutants are built with the standard library's assertions on (CHECKED below), so a
mutant that only reads out of bounds counts as caught when a test reaches the read.
"""

from __future__ import annotations

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
WORK = ROOT / "build" / "mutants"
# The extension modules: both link the mutated core library.
MODULES = ("_core", "_engine")
# Checked element access in the standard containers and spans: a mutant that reads past
# the end of one aborts (a crash, so caught) instead of reading whatever lies there,
# which an optimised build turns into a result only by chance.
CHECKED = "-D_GLIBCXX_ASSERTIONS"

SWAPS = {
    "<": ["<=", ">"],
    "<=": ["<", ">="],
    ">": [">=", "<"],
    ">=": [">", "<="],
    "==": ["!="],
    "!=": ["=="],
    "&&": ["||"],
    "||": ["&&"],
}
BINARY = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||<|>)(?= )")
OFF_BY_ONE = re.compile(r" [+-] 1(?![\w.'])")
MIN_MAX = re.compile(r"\bstd::(min|max)\b(?!_)")


@dataclass(frozen=True)
class Mutant:
    path: str  # relative to the tree
    line: int  # 1-based
    start: int  # column span in the line
    end: int
    replacement: str
    occurrence: int  # 1 for the first instance of the operator on its line, 2 for the second...

    def key(self, text: str) -> tuple[str, str, str, str]:
        """How scripts/mutants-equivalent names this mutant: file, code, 'op@n', replacement."""
        before = text[self.start : self.end].strip()
        return (self.path, text.strip(), f"{before}@{self.occurrence}", self.replacement.strip() or "(dropped)")

    def describe(self, text: str) -> str:
        before, after = text[self.start : self.end].strip(), self.replacement.strip() or "(dropped)"
        return f"{self.path}:{self.line}: '{before}' -> '{after}'"


def code_mask(source: str) -> list[str]:
    """The file's lines with comments, string and character literals and preprocessor
    lines blanked out (same lengths, so columns still match)."""
    out = []
    in_block = False
    for line in source.split("\n"):
        chars = list(line)
        if not in_block and line.lstrip().startswith("#"):
            out.append(" " * len(line))
            continue
        i = 0
        while i < len(chars):
            if in_block:
                if line.startswith("*/", i):
                    chars[i] = chars[i + 1] = " "
                    in_block = False
                    i += 2
                    continue
                chars[i] = " "
                i += 1
                continue
            if line.startswith("//", i):
                for k in range(i, len(chars)):
                    chars[k] = " "
                break
            if line.startswith("/*", i):
                in_block = True
                chars[i] = chars[i + 1] = " "
                i += 2
                continue
            if chars[i] in "\"'":
                quote, k = chars[i], i + 1
                while k < len(chars) and chars[k] != quote:
                    k += 2 if chars[k] == "\\" else 1
                for j in range(i, min(k + 1, len(chars))):
                    chars[j] = " "
                i = k + 1
                continue
            i += 1
        out.append("".join(chars))
    return out


def mutants_of(path: str, source: str) -> list[Mutant]:
    found = []
    for number, code in enumerate(code_mask(source), start=1):
        sites = [(m, SWAPS[m.group(1)]) for m in BINARY.finditer(code)]
        sites += [(m, [""]) for m in OFF_BY_ONE.finditer(code)]
        sites += [(m, ["std::max" if m.group(1) == "min" else "std::min"]) for m in MIN_MAX.finditer(code)]
        for m, replacements in sites:
            # The how-manieth instance of this operator on the line, counted from the left.
            occurrence = sum(1 for other, _ in sites if other.group(0) == m.group(0) and other.start() <= m.start())
            found += [Mutant(path, number, m.start(), m.end(), new, occurrence) for new in replacements]
    return found


def equivalent_mutants() -> dict[tuple[str, str, str, str], str]:
    """The mutants that cannot change any result, with the reason (scripts/mutants-equivalent)."""
    table = {}
    for line in (ROOT / "scripts" / "mutants-equivalent").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            path, code, change, why = (field.strip() for field in line.split(" | "))
            before, after = (side.strip() for side in change.split(" -> "))
            table[(path, code, before, after)] = why
    return table


def apply(source: str, mutant: Mutant) -> str:
    lines = source.split("\n")
    line = lines[mutant.line - 1]
    lines[mutant.line - 1] = line[: mutant.start] + mutant.replacement + line[mutant.end :]
    return "\n".join(lines)


def copy_tree(target: Path) -> None:
    """Copies the tracked and untracked (not ignored) files of the working tree."""
    files = (
        subprocess.run(
            ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
            cwd=ROOT,
            check=True,
            capture_output=True,
        )
        .stdout.decode()
        .split("\0")
    )
    wanted = {f for f in files if f and (ROOT / f).is_file()}
    for f in sorted(wanted):
        dest = target / f
        dest.parent.mkdir(parents=True, exist_ok=True)
        # A fresh modification time, so that the build sees every changed file.
        if not dest.exists() or dest.read_bytes() != (ROOT / f).read_bytes():
            shutil.copyfile(ROOT / f, dest)
    for dest in [p for p in target.rglob("*") if p.is_file()]:
        if str(dest.relative_to(target)) not in wanted:
            dest.unlink()


def run(cmd: list[str], cwd: Path, env: dict[str, str], timeout: float) -> tuple[str, str]:
    """('ok' | 'failed' | 'timeout', output)."""
    proc = subprocess.Popen(
        cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True
    )
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return "timeout", out
    if proc.returncode < 0:  # killed by a signal: a crash
        return "failed", out + f"\nSignal {-proc.returncode}: the test process crashed\n"
    return ("ok" if proc.returncode == 0 else "failed"), out


def first_failure(output: str) -> str:
    """The first failing test, or how the run ended when no test reported."""
    for line in output.splitlines():
        if line.startswith(("FAILED ", "ERROR ")):
            return line.split(" - ")[0]
    for line in output.splitlines():
        if line.startswith(("Fatal Python error", "Signal ")) or "Sanitizer" in line:
            return "crash: " + line.strip()
    return "no test reported a failure"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=12, help="chooses the mutants (default 12)")
    parser.add_argument("--count", type=int, default=40, help="mutants that build (default 40)")
    parser.add_argument("--list", action="store_true", help="only list the chosen mutants")
    parser.add_argument("pytest_args", nargs="*", help="extra pytest arguments (after --)")
    args = parser.parse_args()

    tree, build = WORK / "tree", WORK / "build"
    tree.mkdir(parents=True, exist_ok=True)
    copy_tree(tree)
    # The tests find the shared data at ../shared from the tree's root, as from the repository's.
    shared = ROOT.parent / "shared"
    if shared.is_dir() and not (WORK / "shared").exists():
        (WORK / "shared").symlink_to(shared)
    sources = sorted(p for p in (tree / "src").rglob("*") if p.suffix in (".cpp", ".hpp"))
    originals = {str(p.relative_to(tree)): p.read_text() for p in sources}
    candidates = [m for path, text in originals.items() for m in mutants_of(path, text)]
    order = candidates[:]
    random.Random(args.seed).shuffle(order)
    print(f"{len(candidates)} possible mutants in {len(sources)} files; seed {args.seed}", flush=True)
    if args.list:
        equivalent = equivalent_mutants()
        for m in order[: args.count]:
            line = originals[m.path].split("\n")[m.line - 1]
            print(m.describe(line) + ("  (equivalent)" if m.key(line) in equivalent else ""))
        return 0

    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    cmake = shutil.which("cmake", path=str(Path(sys.executable).parent) + os.pathsep + env["PATH"])
    ninja = shutil.which("ninja", path=str(Path(sys.executable).parent) + os.pathsep + env["PATH"])
    if not cmake or not ninja:
        print("error: cmake and ninja are needed (pip install cmake ninja)", file=sys.stderr)
        return 1
    # Every run configures (a no-op when nothing changed), so a build left by an older
    # version of this script takes the current flags.
    subprocess.run(
        [
            cmake,
            "-S",
            tree,
            "-B",
            build,
            "-G",
            "Ninja",
            f"-DCMAKE_MAKE_PROGRAM={ninja}",
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DCMAKE_CXX_FLAGS={CHECKED}",
            f"-DPython_EXECUTABLE={sys.executable}",
        ],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    # The package as the tests import it: the tree's Python files and the built module.
    package = WORK / "package" / "motivra" / "sia_family"
    shutil.rmtree(package.parent, ignore_errors=True)
    package.mkdir(parents=True)
    for f in (tree / "motivra" / "sia_family").iterdir():
        (package / f.name).symlink_to(f)
    env["PYTHONPATH"] = str(package.parents[1])
    # Hypothesis draws the same examples every run and remembers none between mutants.
    env["HYPOTHESIS_PROFILE"] = "mutants"
    # -P: the tree's own package (without the built module) must not shadow the one above.
    pytest = [
        sys.executable,
        "-P",
        "-m",
        "pytest",
        "-x",
        "-q",
        "-p",
        "no:cacheprovider",
        "-m",
        "not slow",
        *args.pytest_args,
        "tests",
    ]

    def build_module() -> bool:
        status, out = run([ninja, "-C", str(build), *MODULES], tree, env, 900)
        if status == "ok":
            for so in (so for name in MODULES for so in build.rglob(f"{name}*.so")):
                link = package / so.name
                if not link.exists():
                    link.symlink_to(so)
        return status == "ok"

    if not build_module():
        print("error: the unmutated tree does not build", file=sys.stderr)
        return 1
    started = time.monotonic()
    status, out = run(pytest, tree, env, 3600)
    baseline = time.monotonic() - started
    if status != "ok":
        print(out[-3000:])
        print("error: the test suite fails on the unmutated tree", file=sys.stderr)
        return 1
    print(f"unmutated suite passes in {baseline:.0f} s", flush=True)
    timeout = 3 * baseline + 60  # a mutant that loops forever counts as caught

    equivalent = equivalent_mutants()
    caught = tested = skipped = 0
    for m in order:
        if tested == args.count:
            break
        path = tree / m.path
        text = originals[m.path]
        line = text.split("\n")[m.line - 1]
        label = m.describe(line)
        if m.key(line) in equivalent:
            skipped += 1
            print(f"  (equivalent) {label}: {equivalent[m.key(line)]}", flush=True)
            continue
        path.write_text(apply(text, m))
        try:
            if not build_module():
                print(f"  (does not build) {label}", flush=True)
                continue
            tested += 1
            status, out = run(pytest, tree, env, timeout)
        finally:
            path.write_text(text)
        if status == "ok":
            print(f"[{tested:>3}] survived  {label}", flush=True)
        else:
            caught += 1
            why = "timeout" if status == "timeout" else first_failure(out)
            print(f"[{tested:>3}] caught    {label}  ({why})", flush=True)
    build_module()  # leave the build matching the unmutated tree
    print(
        f"caught {caught} of {tested} mutants: {caught / max(tested, 1):.1%} (seed {args.seed}); "
        f"{skipped} equivalent ones not counted"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
