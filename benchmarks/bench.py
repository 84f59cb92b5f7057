"""Time every public function of motivra.sia_family on real and synthetic pieces.

    .venv/bin/python benchmarks/bench.py [--quick] [--only FUNC[,FUNC]] [--sizes N,N,...]
        [--large] [--random N,N,...] [--repeat K] [--max-seconds S] [--timeout S]
        [--data DIR] [--against REV] [--baseline PATH] [--json OUT]

Each (function, dataset) cell runs in a fresh subprocess, so the peak resident
memory read from ru_maxrss belongs to that cell alone (it includes the
interpreter, about 10-20 MiB).  Times are medians over --repeat runs of the
whole Python call, argument conversion and result objects included.

Datasets: the bundled example piece, every *_polyphonic.csv under --data
(skipped when the directory is absent), and seeded synthetic pieces of the
requested sizes: a few motifs repeated with transpositions and time shifts in
several voices, with some varied occurrences and random noise notes.  --large
adds Beethoven string quartet movements of 4,840 to 6,631 notes and prefixes of
op. 132 of 2,000 to 12,000 notes (see large_pieces.py), --random N,... seeded
uniform random point sets; either one leaves out the default datasets unless
--sizes or --data asks for them.

--against REV builds revision REV of this repository once into its own cached
virtual environment (benchmarks/.against/), times the same cells with it right
after ours, and checks that both give the same results record for record; the
exit status is 1 if any cell differs.

--baseline PATH runs a reference command-line program (`PATH ALGO
[--restrict] [--no-sweepline] [--repeat K] < dataset.csv`, printing one JSON
line with `seconds_median`) on the same files in the same run, under the same
ru_maxrss measurement, and reports the ratio baseline time / our time.
"""

from __future__ import annotations

import argparse
import hashlib
import importlib.util
import itertools
import json
import math
import os
import random
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DATA = ROOT.parent / "shared" / "data" / "jkupdd"
DEFAULT_SIZES = (500, 1000, 2000, 4000, 8000)
SHARED_LARGE = ROOT.parent / "shared" / "data" / "large"
AGAINST_CACHE = ROOT / "benchmarks" / ".against"

# label -> (module function, keyword arguments, baseline algorithm and flags)
FUNCTIONS: dict[str, tuple[str, dict[str, bool], list[str]]] = {
    "find_mtps": ("find_mtps", {}, ["sia"]),
    "build_tecs_from_mtps": ("build_tecs_from_mtps", {}, ["siatec"]),
    "build_tecs_from_mtps_sweepline": ("build_tecs_from_mtps_sweepline", {}, ["sweepline"]),
    "cosiatec_compress": ("cosiatec_compress", {"sweepline_optimization": True}, ["cosiatec"]),
    "cosiatec_compress/no-sweep": (
        "cosiatec_compress",
        {"sweepline_optimization": False},
        ["cosiatec", "--no-sweepline"],
    ),
    "recursive_cosiatec_compress": ("recursive_cosiatec_compress", {"sweepline_optimization": True}, ["recursia"]),
    "recursive_cosiatec_compress/no-sweep": (
        "recursive_cosiatec_compress",
        {"sweepline_optimization": False},
        ["recursia", "--no-sweepline"],
    ),
}


# ---------------------------------------------------------------- datasets


def read_csv(path: Path) -> list[tuple[int, int]]:
    """tick,pitch rows; a header, blank lines and # comments are skipped."""
    points = []
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        a, _, b = line.partition(",")
        try:
            points.append((int(a), int(b)))
        except ValueError:
            if points:
                raise
    return points


def write_csv(path: Path, points: list[tuple[int, int]]) -> None:
    path.write_text("tick,pitch\n" + "".join(f"{t},{p}\n" for t, p in points), encoding="utf-8")


def synthetic_piece(n: int, seed: int = 1) -> list[tuple[int, int]]:
    """n distinct sorted points of music-like material.

    Four voices in separate registers take turns at stating one of a few
    motifs (4 to 9 notes on a semiquaver grid of 4 ticks), transposed and
    shifted in time; about one occurrence in five is varied (a note dropped
    or moved a step), and one note in ten is random noise.
    """
    rng = random.Random(seed * 1_000_003 + n)
    motifs = []
    for _ in range(rng.randint(4, 6)):
        tick, pitch, notes = 0, 0, []
        for _ in range(rng.randint(4, 9)):
            notes.append((tick, pitch))
            tick += 4 * rng.choice((1, 1, 1, 2, 2, 3, 4))
            pitch += rng.choice((-4, -3, -2, -2, -1, -1, 1, 1, 2, 2, 3, 5, 7))
        motifs.append((notes, tick))
    voices = [(36, 52), (48, 64), (60, 76), (67, 84)]
    clocks = [rng.randrange(0, 64, 4) for _ in voices]
    points: set[tuple[int, int]] = set()
    while len(points) < n:
        v = rng.randrange(len(voices))
        low, high = voices[v]
        notes, length = rng.choice(motifs)
        base = rng.randint(low, high)
        varied = rng.random() < 0.2
        skip = rng.randrange(len(notes)) if varied else -1
        for i, (dt, dp) in enumerate(notes):
            if i == skip:
                continue
            shift = rng.choice((-1, 1)) if varied and i == len(notes) - 1 else 0
            points.add((clocks[v] + dt, max(0, base + dp + shift)))
        clocks[v] += length + 4 * rng.choice((0, 0, 1, 2, 4))
        for _ in range(len(notes) // 10 + (rng.random() < 0.5)):
            points.add((rng.randrange(0, max(clocks) + 4, 2), rng.randint(36, 84)))
    # Keep the earliest n points so that the piece has no holes at its end.
    return sorted(points)[:n]


def random_set(n: int) -> list[tuple[int, int]]:
    """n points with tick uniform in [0, 4096) and pitch uniform in [0, 128),
    seeded by n; repeated points are kept (about 15 of 4000), sorted."""
    rng = random.Random(n)
    return sorted((rng.randrange(4096), rng.randrange(128)) for _ in range(n))


def large_folder() -> Path:
    """The folder of large pieces: the shared one if present, else ours, written on first use."""
    if SHARED_LARGE.is_dir():
        return SHARED_LARGE
    import large_pieces  # beside this file

    if not large_pieces.complete(large_pieces.DEFAULT_OUT):
        print(f"writing the large pieces to {large_pieces.DEFAULT_OUT} (once)", file=sys.stderr)
        large_pieces.generate(large_pieces.DEFAULT_OUT)
    return large_pieces.DEFAULT_OUT


@dataclass
class Dataset:
    name: str
    path: Path
    size: int
    series: str = ""  # datasets of one series give growth exponents
    real: bool = False


def build_datasets(args: argparse.Namespace, workdir: Path) -> list[Dataset]:
    # (name, points, series, real piece)
    sets: list[tuple[str, list[tuple[int, int]], str, bool]] = []
    if args.default_sets:
        # The example piece is loaded from the source tree by path: it needs no extension.
        module_spec = importlib.util.spec_from_file_location(
            "example_piece", ROOT / "motivra" / "sia_family" / "example_piece.py"
        )
        assert module_spec is not None and module_spec.loader is not None
        example_piece = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(example_piece)
        sets.append(("example (BWV 772)", example_piece.points(), "", True))
    if args.data is not None:
        if args.data.is_dir():
            for path in sorted(args.data.glob("*_polyphonic.csv")):
                sets.append((path.stem.removesuffix("_polyphonic"), sorted(set(read_csv(path))), "", True))
        else:
            print(f"note: no real pieces, {args.data} is not a directory", file=sys.stderr)
    if args.large:
        folder = large_folder()
        print(f"large pieces: {folder}", file=sys.stderr)
        for path in sorted(folder.glob("*.csv")):
            # A name ending in -firstN is the prefix of N points of a longer piece.
            prefix = re.fullmatch(r"(.+)-first0*\d+", path.stem)
            series = f"prefixes of {prefix.group(1)}" if prefix else ""
            sets.append((path.stem, sorted(set(read_csv(path))), series, False))
    for n in args.random:
        sets.append((f"random {n}", random_set(n), "random sets", False))
    for n in args.sizes:
        sets.append((f"synthetic {n}", synthetic_piece(n, args.seed), "synthetic pieces", False))
    out = []
    for i, (name, points, series, real) in enumerate(sets):
        if args.quick and real and args.sizes and len(points) > max(args.sizes):
            continue
        path = workdir / f"{i:02d}.csv"
        write_csv(path, points)
        out.append(Dataset(name, path, len(points), series, real))
    return sorted(out, key=lambda d: (d.size, d.name))


# ---------------------------------------------------------------- measuring


@dataclass
class Cell:
    seconds: float | None = None  # median
    runs: int = 0
    slowest: float | None = None
    peak_mib: float | None = None
    note: str = ""
    records: int | None = None  # with --against: number of records of the result,
    digest: str | None = None  # a hash of all of them,
    digests: Path | None = None  # and the file of one hash per record, in order


def run_measured(cmd: list[str], stdin_path: Path | None, timeout: float) -> tuple[int, str, str, float, bool]:
    """Run cmd; return exit code, stdout, stderr, its own peak RSS in MiB and
    whether it was killed for running past the timeout."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, open(stdin_path or os.devnull, "rb") as inp:
        proc = subprocess.Popen(cmd, stdin=inp, stdout=out, stderr=err)
        deadline = time.monotonic() + timeout
        timed_out = False
        try:
            while True:
                pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
                if pid:
                    break
                if time.monotonic() > deadline:
                    proc.kill()
                    pid, status, usage = os.wait4(proc.pid, 0)
                    timed_out = True
                    break
                time.sleep(0.01)
        except BaseException:
            # Interrupted (Ctrl-C, or SIGTERM via main's handler): take the cell along.
            proc.kill()
            proc.wait()
            raise
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        # ru_maxrss is in KiB on Linux.
        return code, out.read().decode(), err.read().decode(), usage.ru_maxrss / 1024, timed_out


def failure(code: int, err: str, peak: float, timed_out: bool, who: str) -> Cell:
    if timed_out:
        return Cell(note="timeout", peak_mib=peak)
    sys.stderr.write(f"{who} failed with exit code {code}:\n{err[-2000:]}")
    return Cell(note=f"failed ({code})", peak_mib=peak)


def measure_python(
    python: str, label: str, ds: Dataset, args: argparse.Namespace, digests: Path | None, who: str
) -> Cell:
    """Time one cell in a fresh process of `python`, which imports its own
    motivra.sia_family; with `digests`, also hash its result record by record."""
    cmd = [
        python,
        str(Path(__file__).resolve()),
        "_cell",
        label,
        str(ds.path),
        str(args.repeat),
        str(args.max_seconds),
        "1" if args.restrict else "0",
        str(digests or ""),
    ]
    code, out, err, peak, timed_out = run_measured(cmd, None, args.timeout)
    if code != 0 or timed_out:
        return failure(code, err, peak, timed_out, who)
    result = json.loads(out)
    times = result["seconds"]
    return Cell(
        statistics.median(times),
        len(times),
        max(times),
        peak,
        records=result.get("records"),
        digest=result.get("digest"),
        digests=digests if "digest" in result else None,
    )


def measure_baseline(label: str, ds: Dataset, args: argparse.Namespace) -> Cell:
    cmd = [str(args.baseline), *FUNCTIONS[label][2], "--repeat", str(args.baseline_repeat or args.repeat)]
    if args.restrict:
        cmd.append("--restrict")
    code, out, err, peak, timed_out = run_measured(cmd, ds.path, args.timeout)
    if code != 0 or timed_out:
        return failure(code, err, peak, timed_out, "the baseline")
    result = json.loads(out.splitlines()[0])
    median = float(result["seconds_median"])
    slowest = max(map(float, result.get("seconds_all") or [median]))
    return Cell(median, args.repeat, slowest, peak)


def record_forms(result: object) -> Iterator[object]:
    """The content of each record of a result, in the result's order, in a form
    whose repr() is canonical: a TEC's translators (a set, iterated in no fixed
    order) are sorted, and its sub-TECs are taken apart the same way."""

    def tec_form(tec: Any) -> tuple[object, ...]:
        return (tuple(tec.pattern), tuple(sorted(tec.translators)), tuple(tec_form(sub) for sub in tec.sub_tecs))

    if isinstance(result, dict):  # find_mtps: Vector -> points, in the dict's order
        for vector, points in result.items():
            yield (vector, tuple(points))
    else:
        for tec in result:  # type: ignore[attr-defined]
            yield tec_form(tec)


def write_digests(result: object, path: Path) -> tuple[int, str]:
    """Write one hash per record to path; return the count and a hash of them all."""
    total = hashlib.sha256()
    count = 0
    with open(path, "w", encoding="ascii") as f:
        for form in record_forms(result):
            line = hashlib.blake2b(repr(form).encode(), digest_size=10).hexdigest() + "\n"
            f.write(line)
            total.update(line.encode())
            count += 1
    return count, total.hexdigest()


def compare(ours: Cell, rev: Cell, rev_name: str = "REV") -> str:
    """'same', 'DIFFERENT (...)', or '-' when one side has no result to compare."""
    if ours.digest is not None and rev.digest is not None:
        if ours.digest == rev.digest:
            return "same"
        assert ours.digests is not None and rev.digests is not None
        a = ours.digests.read_text(encoding="ascii").split()
        b = rev.digests.read_text(encoding="ascii").split()
        if sorted(a) == sorted(b):
            return "DIFFERENT (same records, other order)"
        first = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
        return f"DIFFERENT (ours {len(a)} records, {rev_name} {len(b)}; first differs at #{first})"
    # A result on one side and an error on the other is a difference; a timeout is not.
    for mine, other, who in ((ours, rev, "ours"), (rev, ours, rev_name)):
        if mine.note.startswith("failed") and other.digest is not None:
            return f"DIFFERENT ({who} failed)"
    return "-"


def cell_main(label: str, csv_path: str, repeat: str, max_seconds: str, restrict: str, digests: str = "") -> int:
    """Child process: time one function on one dataset, print JSON.  With a
    digests path, the result of the last run is also hashed record by record
    (after the timing, so it costs no time of the measured call)."""
    import gc

    import motivra.sia_family as sf

    name, kwargs, _ = FUNCTIONS[label]
    fn = getattr(sf, name)
    if restrict == "1":
        kwargs = {**kwargs, "restrict_dpitch_zero": True}
    points = read_csv(Path(csv_path))
    times: list[float] = []
    report: dict[str, object] = {"module": sf.__file__}
    for i in range(int(repeat)):
        gc.collect()
        start = time.perf_counter()
        result = fn(points, **kwargs)
        times.append(time.perf_counter() - start)
        last = i + 1 == int(repeat) or times[-1] > float(max_seconds)
        if last and digests:
            report["records"], report["digest"] = write_digests(result, Path(digests))
        del result
        if last:
            break
    report["seconds"] = times
    report["maxrss_kib"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps(report))
    return 0


# ---------------------------------------------------------------- the other revision


def find_python313() -> list[str]:
    """A command that runs Python 3.13 (or newer) with the venv module."""
    check = ["-c", "import sys, venv, ensurepip; sys.exit(sys.version_info[:2] < (3, 13))"]
    for cmd in (["env", "PYENV_VERSION=3.13.0", "python3.13"], ["python3.13"], [sys.executable]):
        try:
            if subprocess.run(cmd + check, capture_output=True, check=False).returncode == 0:
                return cmd
        except OSError:
            pass
    raise SystemExit(
        "error: --against needs Python 3.13 with the venv module "
        "('PYENV_VERSION=3.13.0 python3.13' or 'python3.13') to build REV"
    )


def imported_module(python: str) -> str | None:
    """Where `python` imports motivra.sia_family from (None if it cannot).
    -P and a neutral working directory keep a source tree off sys.path."""
    r = subprocess.run(
        [python, "-P", "-c", "import motivra.sia_family as m; print(m.__file__)"],
        capture_output=True,
        text=True,
        check=False,
        cwd=tempfile.gettempdir(),
    )
    return r.stdout.strip() if r.returncode == 0 else None


def prepare_against(rev: str) -> tuple[str, str]:
    """Check out revision rev and install it into its own virtual environment,
    both cached in benchmarks/.against/ (a detached git worktree <sha>/ and the
    environment <sha>.venv/); return the full sha and the environment's python."""
    r = subprocess.run(
        ["git", "rev-parse", "--verify", "--quiet", f"{rev}^{{commit}}"],
        cwd=ROOT,
        capture_output=True,
        text=True,
        check=False,
    )
    if r.returncode != 0:
        raise SystemExit(f"error: --against: {rev!r} is not a revision of this repository")
    sha = r.stdout.strip()
    tree = AGAINST_CACHE / sha
    venv = AGAINST_CACHE / f"{sha}.venv"
    python = venv / "bin" / "python"
    stamp = venv / "installed-from"
    if not (tree / ".git").exists():
        if tree.exists():
            shutil.rmtree(tree)
        AGAINST_CACHE.mkdir(parents=True, exist_ok=True)
        print(f"checking out {sha} in {tree}", file=sys.stderr, flush=True)
        r = subprocess.run(
            ["git", "worktree", "add", "--detach", "--force", str(tree), sha],
            cwd=ROOT,
            capture_output=True,
            text=True,
            check=False,
        )
        if r.returncode != 0:
            raise SystemExit(f"error: git worktree add failed:\n{r.stderr}")
    ready = stamp.is_file() and stamp.read_text(encoding="utf-8").strip() == sha
    if not (ready and imported_module(str(python))):
        if venv.exists():
            shutil.rmtree(venv)
        base = find_python313()
        print(
            f"creating {venv} and installing {sha[:12]} into it (builds the C++ extension)", file=sys.stderr, flush=True
        )
        subprocess.run([*base, "-m", "venv", str(venv)], check=True)
        log = AGAINST_CACHE / f"{sha}.pip.log"
        with open(log, "w", encoding="utf-8") as f:
            pip = subprocess.run(
                [
                    str(python),
                    "-m",
                    "pip",
                    "install",
                    "--progress-bar",
                    "off",
                    "--disable-pip-version-check",
                    str(tree),
                ],
                stdout=f,
                stderr=subprocess.STDOUT,
                check=False,
            )
        if pip.returncode != 0:
            sys.stderr.write(log.read_text(encoding="utf-8")[-4000:])
            raise SystemExit(f"error: pip install of {sha} failed (log: {log})")
        stamp.write_text(sha + "\n", encoding="utf-8")
    module = imported_module(str(python))
    if module is None or not Path(module).resolve().is_relative_to(venv.resolve()):
        raise SystemExit(f"error: {python} imports motivra.sia_family from {module}, not from its environment {venv}")
    return sha, str(python)


# ---------------------------------------------------------------- report


@dataclass
class Row:
    dataset: Dataset
    label: str
    ours: Cell
    base: Cell | None = None
    rev: Cell | None = None
    result: str = ""  # with --against: 'same', 'DIFFERENT (...)' or '-'


def fmt_seconds(c: Cell | None) -> str:
    if c is None:
        return ""
    if c.seconds is None:
        return c.note
    return f"{c.seconds:.4f}" if c.seconds < 10 else f"{c.seconds:.1f}"


def with_unit(c: Cell) -> str:
    return fmt_seconds(c) + (" s" if c.seconds is not None else "")


def fmt_mib(c: Cell | None) -> str:
    return "" if c is None or c.peak_mib is None else f"{c.peak_mib:.0f}"


def fmt_ratio(other: Cell | None, ours: Cell) -> str:
    if other is None or other.seconds is None or not ours.seconds:
        return ""
    return f"{other.seconds / ours.seconds:.2f}"


def print_table(rows: list[Row], with_baseline: bool, rev_name: str | None) -> None:
    head = ["dataset", "points", "function", "median s", "peak MiB"]
    left = {0, 2}
    if with_baseline:
        head += ["baseline s", "baseline MiB", "baseline/ours"]
    if rev_name is not None:
        head += [f"{rev_name} s", f"{rev_name} MiB", f"{rev_name}/ours", "result"]
        left.add(len(head) - 1)
    lines = [head]
    for r in rows:
        line = [r.dataset.name, str(r.dataset.size), r.label, fmt_seconds(r.ours), fmt_mib(r.ours)]
        if with_baseline:
            line += [fmt_seconds(r.base), fmt_mib(r.base), fmt_ratio(r.base, r.ours)]
        if rev_name is not None:
            line += [fmt_seconds(r.rev), fmt_mib(r.rev), fmt_ratio(r.rev, r.ours), r.result]
        lines.append(line)
    widths = [max(len(line[i]) for line in lines) for i in range(len(head))]
    for k, line in enumerate(lines):
        print("  ".join(s.ljust(w) if i in left else s.rjust(w) for i, (s, w) in enumerate(zip(line, widths))).rstrip())
        if k == 0:
            print("  ".join("-" * w for w in widths))


def growth(rows: list[Row], pick: Callable[[Row], float | None]) -> dict[str, dict[str, list[str]]]:
    """Per series of datasets and function: log(t2/t1)/log(n2/n1) between
    successive sizes, and the least-squares slope of log t over log n."""
    out: dict[str, dict[str, list[str]]] = {}
    for series in dict.fromkeys(r.dataset.series for r in rows if r.dataset.series):
        table: dict[str, list[str]] = {}
        for label in FUNCTIONS:
            pts = [(r.dataset.size, pick(r)) for r in rows if r.label == label and r.dataset.series == series]
            timed = [(n, t) for n, t in pts if t]
            cells = []
            for (n1, t1), (n2, t2) in itertools.pairwise(pts):
                if t1 and t2 and n1 != n2:
                    cells.append(f"{n1}->{n2}: {math.log(t2 / t1) / math.log(n2 / n1):.2f}")
            if len(cells) > 1:
                xs = [math.log(n) for n, _ in timed]
                ys = [math.log(t) for _, t in timed]
                mx, my = statistics.fmean(xs), statistics.fmean(ys)
                sxx = sum((x - mx) ** 2 for x in xs)
                if sxx > 0:
                    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx
                    cells.append(f"fit {timed[0][0]}..{timed[-1][0]}: {slope:.2f}")
            if cells:
                table[label] = cells
        if table:
            out[series] = table
    return out


def print_growth(title: str, tables: dict[str, dict[str, list[str]]]) -> None:
    for series, table in tables.items():
        print(f"\n{title} over the {series}:")
        width = max(map(len, table))
        for label, cells in table.items():
            print(f"  {label.ljust(width)}  " + "  ".join(cells))


# ---------------------------------------------------------------- main


def int_list(p: argparse.ArgumentParser, option: str, text: str) -> list[int]:
    try:
        values = sorted({int(s) for s in text.split(",") if s.strip()})
    except ValueError:
        p.error(f"{option}: not a list of integers: {text!r}")
    if any(n <= 0 for n in values):
        p.error(f"{option}: sizes must be positive: {text!r}")
    return values


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    p = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0], formatter_class=argparse.RawDescriptionHelpFormatter
    )
    p.add_argument(
        "--data", type=Path, default=None, help=f"directory of *_polyphonic.csv pieces (default: {DEFAULT_DATA})"
    )
    p.add_argument(
        "--only",
        default="",
        help="comma-separated functions; a bare name also selects its /no-sweep "
        f"variant. Labels: {', '.join(FUNCTIONS)}",
    )
    p.add_argument("--sizes", default=None, help="comma-separated synthetic sizes (default: 500,1000,2000,4000,8000)")
    p.add_argument(
        "--large",
        action="store_true",
        help=f"Beethoven quartet movements and op. 132 prefixes: {SHARED_LARGE} if "
        "present, else written once to benchmarks/data/large",
    )
    p.add_argument(
        "--random",
        default="",
        help="comma-separated sizes of seeded uniform random point sets (tick < 4096, pitch < 128)",
    )
    p.add_argument("--repeat", type=int, default=None, help="runs per cell (default: 3)")
    p.add_argument(
        "--max-seconds",
        type=float,
        default=None,
        help="once a run of a function exceeds this, skip its larger datasets (default: 30)",
    )
    p.add_argument(
        "--timeout",
        type=float,
        default=None,
        help="kill a cell after this many seconds (default: 10 x max-seconds x repeat)",
    )
    p.add_argument(
        "--quick",
        action="store_true",
        help="sizes 500,1000, one run per cell, real pieces up to 1000 points, max-seconds 5",
    )
    p.add_argument("--restrict", action="store_true", help="restrict_dpitch_zero=True")
    p.add_argument("--seed", type=int, default=1, help="seed of the synthetic pieces")
    p.add_argument(
        "--against",
        metavar="REV",
        default=None,
        help="also time revision REV of this repository (built once into "
        "benchmarks/.against/) and compare its results with ours",
    )
    p.add_argument(
        "--baseline-repeat",
        type=int,
        default=None,
        help="runs per baseline cell (default: --repeat); its runs can be long",
    )
    p.add_argument("--baseline", type=Path, default=None, help="reference binary run on the same data for a time ratio")
    p.add_argument("--json", type=Path, default=None, help="also write the results as JSON")
    args = p.parse_args(argv)

    args.random = int_list(p, "--random", args.random)
    # --large and --random choose their own datasets; the default ones only come
    # along when asked for by --sizes or --data.
    args.default_sets = not (args.large or args.random)
    if args.data is None and args.default_sets:
        args.data = DEFAULT_DATA
    if args.sizes is None and args.default_sets:
        args.sizes = "500,1000" if args.quick else ",".join(map(str, DEFAULT_SIZES))
    args.sizes = int_list(p, "--sizes", args.sizes or "")
    args.repeat = args.repeat or (1 if args.quick else 3)
    args.max_seconds = args.max_seconds or (5.0 if args.quick else 30.0)
    args.timeout = args.timeout or 10 * args.max_seconds * args.repeat
    labels = []
    for item in filter(None, (s.strip() for s in args.only.split(","))):
        chosen = [lab for lab in FUNCTIONS if lab == item or lab.split("/")[0] == item]
        if not chosen:
            p.error(f"--only: unknown function {item!r}; choose from {', '.join(FUNCTIONS)}")
        labels += [lab for lab in chosen if lab not in labels]
    args.labels = [lab for lab in FUNCTIONS if lab in labels] if labels else list(FUNCTIONS)
    if args.baseline is not None and not os.access(args.baseline, os.X_OK):
        p.error(f"--baseline: {args.baseline} is not an executable file")
    return args


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    # A terminated benchmark exits through its cleanup, which kills the running cell.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(128 + signum))
    rev_name = rev_python = None
    if args.against is not None:
        sha, rev_python = prepare_against(args.against)
        rev_name = sha[:7]
        print(f"ours: {imported_module(sys.executable)}\n{rev_name}: {imported_module(rev_python)}", file=sys.stderr)
    rows: list[Row] = []
    with tempfile.TemporaryDirectory(prefix="sia-bench-") as tmp:
        datasets = build_datasets(args, Path(tmp))
        if not datasets:
            print("error: no datasets", file=sys.stderr)
            return 2
        for label in args.labels:
            too_big: int | None = None  # size at which we exceeded max-seconds
            base_too_big: int | None = None
            rev_too_big: int | None = None
            for ds in datasets:
                if too_big is not None and ds.size > too_big:
                    rows.append(Row(ds, label, Cell(note="skipped")))
                    continue
                mine = theirs = None
                if rev_python is not None:
                    mine, theirs = Path(tmp) / "ours.digests", Path(tmp) / "rev.digests"
                ours = measure_python(sys.executable, label, ds, args, mine, "ours")
                if ours.slowest is None or ours.slowest > args.max_seconds:
                    too_big = ds.size
                row = Row(ds, label, ours)
                if args.baseline is not None and ours.seconds is not None:
                    if base_too_big is not None and ds.size > base_too_big:
                        row.base = Cell(note="skipped")
                    else:
                        row.base = measure_baseline(label, ds, args)
                        if row.base.slowest is None or row.base.slowest > args.max_seconds:
                            base_too_big = ds.size
                if rev_python is not None:
                    # Right after ours, on the same file, measured the same way.
                    if rev_too_big is not None and ds.size > rev_too_big:
                        row.rev = Cell(note="skipped")
                    else:
                        row.rev = measure_python(rev_python, label, ds, args, theirs, rev_name or "REV")
                        if row.rev.slowest is None or row.rev.slowest > args.max_seconds:
                            rev_too_big = ds.size
                    row.result = compare(row.ours, row.rev, rev_name or "REV")
                rows.append(row)
                print(
                    f"{label:38s} {ds.name:24s} {ds.size:6d}  {with_unit(row.ours):>11s}"
                    + (f"  baseline {with_unit(row.base)}" if row.base else "")
                    + (f"  {rev_name} {with_unit(row.rev)}  {row.result}" if row.rev else ""),
                    file=sys.stderr,
                    flush=True,
                )

    print()
    print(
        f"median of {args.repeat} run(s) per cell, whole Python call; peak = ru_maxrss of "
        f"the cell's own process; timeout {args.timeout:g} s; Python {sys.version.split()[0]}"
    )
    if rev_name is not None:
        print(
            f"{rev_name} = {args.against} ({sha}); result: its records against ours, "
            "in order (translators compared as sets)"
        )
    print_table(rows, args.baseline is not None, rev_name)
    print_growth("growth exponent log(t2/t1)/log(n2/n1)", growth(rows, lambda r: r.ours.seconds))
    if args.baseline is not None:
        print_growth("baseline growth exponent", growth(rows, lambda r: r.base.seconds if r.base else None))
    if rev_name is not None:
        print_growth(f"{rev_name} growth exponent", growth(rows, lambda r: r.rev.seconds if r.rev else None))
    if args.json:
        args.json.write_text(
            json.dumps(
                [
                    {
                        "dataset": r.dataset.name,
                        "points": r.dataset.size,
                        "function": r.label,
                        "seconds": r.ours.seconds,
                        "peak_mib": r.ours.peak_mib,
                        "note": r.ours.note,
                        "baseline_seconds": r.base.seconds if r.base else None,
                        "baseline_peak_mib": r.base.peak_mib if r.base else None,
                        "against_seconds": r.rev.seconds if r.rev else None,
                        "against_peak_mib": r.rev.peak_mib if r.rev else None,
                        "against_note": r.rev.note if r.rev else None,
                        "records": r.ours.records,
                        "result": r.result or None,
                    }
                    for r in rows
                ],
                indent=1,
            )
            + "\n",
            encoding="utf-8",
        )
    differ = [r for r in rows if r.result.startswith("DIFFERENT")]
    if differ:
        print(f"\n{len(differ)} cell(s) differ from {rev_name}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "_cell":
        sys.exit(cell_main(*sys.argv[2:8]))
    sys.exit(main())
