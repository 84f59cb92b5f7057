"""Time every public function of motivra.sia_family on real and synthetic pieces.

    .venv/bin/python benchmarks/bench.py [--quick] [--only FUNC[,FUNC]] [--sizes N,N,...]
        [--repeat K] [--max-seconds S] [--data DIR] [--baseline PATH] [--json OUT]

Each (function, dataset) cell runs in a fresh subprocess, so the peak resident
memory read from ru_maxrss belongs to that cell alone (it includes the
interpreter, about 10-20 MiB).  Times are medians over --repeat runs of the
whole Python call, argument conversion and result objects included.

Datasets: the bundled example piece, every *_polyphonic.csv under --data
(skipped when the directory is absent), and seeded synthetic pieces of the
requested sizes: a few motifs repeated with transpositions and time shifts in
several voices, with some varied occurrences and random noise notes.

--baseline PATH runs a reference command-line program (`PATH ALGO
[--restrict] [--no-sweepline] [--repeat K] < dataset.csv`, printing one JSON
line with `seconds_median`) on the same files in the same run, under the same
ru_maxrss measurement, and reports the ratio baseline time / our time.
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import math
import os
import random
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DATA = ROOT.parent / "shared" / "data" / "jkupdd"
DEFAULT_SIZES = (500, 1000, 2000, 4000, 8000)

# label -> (module function, keyword arguments, baseline algorithm and flags)
FUNCTIONS: dict[str, tuple[str, dict[str, bool], list[str]]] = {
    "find_mtps": ("find_mtps", {}, ["sia"]),
    "build_tecs_from_mtps": ("build_tecs_from_mtps", {}, ["siatec"]),
    "build_tecs_from_mtps_sweepline": ("build_tecs_from_mtps_sweepline", {}, ["sweepline"]),
    "cosiatec_compress": ("cosiatec_compress", {"sweepline_optimization": True}, ["cosiatec"]),
    "cosiatec_compress/no-sweep": (
        "cosiatec_compress", {"sweepline_optimization": False}, ["cosiatec", "--no-sweepline"]),
    "recursive_cosiatec_compress": (
        "recursive_cosiatec_compress", {"sweepline_optimization": True}, ["recursia"]),
    "recursive_cosiatec_compress/no-sweep": (
        "recursive_cosiatec_compress", {"sweepline_optimization": False},
        ["recursia", "--no-sweepline"]),
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


@dataclass
class Dataset:
    name: str
    path: Path
    size: int
    synthetic: bool = False


def build_datasets(args: argparse.Namespace, workdir: Path) -> list[Dataset]:
    # The example piece is loaded from the source tree by path: it needs no extension.
    module_spec = importlib.util.spec_from_file_location(
        "example_piece", ROOT / "motivra" / "sia_family" / "example_piece.py")
    assert module_spec is not None and module_spec.loader is not None
    example_piece = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(example_piece)
    sets: list[tuple[str, list[tuple[int, int]], bool]] = [
        ("example (BWV 772)", example_piece.points(), False)]
    if args.data.is_dir():
        for path in sorted(args.data.glob("*_polyphonic.csv")):
            sets.append((path.stem.removesuffix("_polyphonic"), sorted(set(read_csv(path))), False))
    else:
        print(f"note: no real pieces, {args.data} is not a directory", file=sys.stderr)
    for n in args.sizes:
        sets.append((f"synthetic {n}", synthetic_piece(n, args.seed), True))
    out = []
    for i, (name, points, synthetic) in enumerate(sets):
        if args.quick and not synthetic and len(points) > max(args.sizes):
            continue
        path = workdir / f"{i:02d}.csv"
        write_csv(path, points)
        out.append(Dataset(name, path, len(points), synthetic))
    return sorted(out, key=lambda d: (d.size, d.name))


# ---------------------------------------------------------------- measuring

@dataclass
class Cell:
    seconds: float | None = None   # median
    runs: int = 0
    slowest: float | None = None
    peak_mib: float | None = None
    note: str = ""


def run_measured(cmd: list[str], stdin_path: Path | None, timeout: float) -> tuple[int, str, str, float]:
    """Run cmd; return exit code, stdout, stderr and its own peak RSS in MiB."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            open(stdin_path or os.devnull, "rb") as inp:
        proc = subprocess.Popen(cmd, stdin=inp, stdout=out, stderr=err)
        deadline = time.monotonic() + timeout
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                proc.kill()
                pid, status, usage = os.wait4(proc.pid, 0)
                break
            time.sleep(0.01)
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        # ru_maxrss is in KiB on Linux.
        return code, out.read().decode(), err.read().decode(), usage.ru_maxrss / 1024


def measure_ours(label: str, ds: Dataset, args: argparse.Namespace) -> Cell:
    cmd = [sys.executable, str(Path(__file__).resolve()), "_cell", label, str(ds.path),
           str(args.repeat), str(args.max_seconds), "1" if args.restrict else "0"]
    code, out, err, peak = run_measured(cmd, None, args.timeout)
    if code != 0:
        reason = "timeout" if code == -9 else f"failed ({code})"
        sys.stderr.write(err[-2000:])
        return Cell(note=reason, peak_mib=peak)
    times = json.loads(out)["seconds"]
    return Cell(statistics.median(times), len(times), max(times), peak)


def measure_baseline(label: str, ds: Dataset, args: argparse.Namespace) -> Cell:
    cmd = [str(args.baseline), *FUNCTIONS[label][2], "--repeat", str(args.baseline_repeat or args.repeat)]
    if args.restrict:
        cmd.append("--restrict")
    code, out, err, peak = run_measured(cmd, ds.path, args.timeout)
    if code != 0:
        reason = "timeout" if code == -9 else f"failed ({code})"
        sys.stderr.write(err[-2000:])
        return Cell(note=reason, peak_mib=peak)
    result = json.loads(out.splitlines()[0])
    median = float(result["seconds_median"])
    slowest = max(map(float, result.get("seconds_all") or [median]))
    return Cell(median, args.repeat, slowest, peak)


def cell_main(label: str, csv_path: str, repeat: str, max_seconds: str, restrict: str) -> int:
    """Child process: time one function on one dataset, print JSON."""
    import gc

    import motivra.sia_family as sf

    name, kwargs, _ = FUNCTIONS[label]
    fn = getattr(sf, name)
    if restrict == "1":
        kwargs = {**kwargs, "restrict_dpitch_zero": True}
    points = read_csv(Path(csv_path))
    times = []
    for _ in range(int(repeat)):
        gc.collect()
        start = time.perf_counter()
        result = fn(points, **kwargs)
        times.append(time.perf_counter() - start)
        del result
        if times[-1] > float(max_seconds):
            break
    print(json.dumps({"seconds": times,
                      "maxrss_kib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss}))
    return 0


# ---------------------------------------------------------------- report

@dataclass
class Row:
    dataset: Dataset
    label: str
    ours: Cell
    base: Cell | None = None
    extra: dict[str, str] = field(default_factory=dict)


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


def print_table(rows: list[Row], with_baseline: bool) -> None:
    head = ["dataset", "points", "function", "median s", "peak MiB"]
    if with_baseline:
        head += ["baseline s", "baseline MiB", "baseline/ours"]
    lines = [head]
    for r in rows:
        line = [r.dataset.name, str(r.dataset.size), r.label, fmt_seconds(r.ours), fmt_mib(r.ours)]
        if with_baseline:
            ratio = ""
            if r.base and r.base.seconds is not None and r.ours.seconds:
                ratio = f"{r.base.seconds / r.ours.seconds:.2f}"
            line += [fmt_seconds(r.base), fmt_mib(r.base), ratio]
        lines.append(line)
    widths = [max(len(line[i]) for line in lines) for i in range(len(head))]
    right = {1, 3, 4, 5, 6, 7}
    for k, line in enumerate(lines):
        print("  ".join(s.rjust(w) if i in right else s.ljust(w)
                        for i, (s, w) in enumerate(zip(line, widths))).rstrip())
        if k == 0:
            print("  ".join("-" * w for w in widths))


def growth(rows: list[Row], pick: Callable[[Row], float | None]) -> dict[str, list[str]]:
    """Per function: log(t2/t1)/log(n2/n1) between successive synthetic sizes."""
    out: dict[str, list[str]] = {}
    for label in FUNCTIONS:
        pts = [(r.dataset.size, pick(r)) for r in rows
               if r.label == label and r.dataset.synthetic]
        cells = []
        for (n1, t1), (n2, t2) in zip(pts, pts[1:]):
            if t1 and t2 and t1 > 0 and t2 > 0:
                cells.append(f"{n1}->{n2}: {math.log(t2 / t1) / math.log(n2 / n1):.2f}")
        if cells:
            out[label] = cells
    return out


def print_growth(title: str, table: dict[str, list[str]]) -> None:
    if not table:
        return
    print(f"\n{title}")
    width = max(map(len, table))
    for label, cells in table.items():
        print(f"  {label.ljust(width)}  " + "  ".join(cells))


# ---------------------------------------------------------------- main

def parse_args(argv: list[str] | None) -> argparse.Namespace:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--data", type=Path, default=DEFAULT_DATA,
                   help="directory of *_polyphonic.csv pieces (default: %(default)s)")
    p.add_argument("--only", default="",
                   help="comma-separated functions; a bare name also selects its /no-sweep "
                        f"variant. Labels: {', '.join(FUNCTIONS)}")
    p.add_argument("--sizes", default=None,
                   help="comma-separated synthetic sizes (default: 500,1000,2000,4000,8000)")
    p.add_argument("--repeat", type=int, default=None, help="runs per cell (default: 3)")
    p.add_argument("--max-seconds", type=float, default=None,
                   help="once a run of a function exceeds this, skip its larger datasets "
                        "(default: 30)")
    p.add_argument("--timeout", type=float, default=None,
                   help="kill a cell after this many seconds (default: 10 x max-seconds x repeat)")
    p.add_argument("--quick", action="store_true",
                   help="sizes 500,1000, one run per cell, real pieces up to 1000 points, "
                        "max-seconds 5")
    p.add_argument("--restrict", action="store_true", help="restrict_dpitch_zero=True")
    p.add_argument("--seed", type=int, default=1, help="seed of the synthetic pieces")
    p.add_argument("--baseline-repeat", type=int, default=None,
                   help="runs per baseline cell (default: --repeat); its runs can be long")
    p.add_argument("--baseline", type=Path, default=None,
                   help="reference binary run on the same data for a time ratio")
    p.add_argument("--json", type=Path, default=None, help="also write the results as JSON")
    args = p.parse_args(argv)

    sizes = args.sizes or ("500,1000" if args.quick else ",".join(map(str, DEFAULT_SIZES)))
    try:
        args.sizes = sorted({int(s) for s in sizes.split(",") if s.strip()})
    except ValueError:
        p.error(f"--sizes: not a list of integers: {sizes!r}")
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
    rows: list[Row] = []
    with tempfile.TemporaryDirectory(prefix="sia-bench-") as tmp:
        datasets = build_datasets(args, Path(tmp))
        for label in args.labels:
            too_big: int | None = None       # size at which we exceeded max-seconds
            base_too_big: int | None = None
            for ds in datasets:
                if too_big is not None and ds.size > too_big:
                    rows.append(Row(ds, label, Cell(note="skipped")))
                    continue
                ours = measure_ours(label, ds, args)
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
                rows.append(row)
                print(f"{label:38s} {ds.name:24s} {ds.size:6d}  {with_unit(row.ours):>11s}"
                      + (f"  baseline {with_unit(row.base)}" if row.base else ""),
                      file=sys.stderr, flush=True)

    print()
    print(f"median of {args.repeat} run(s) per cell, whole Python call; peak = ru_maxrss of "
          f"the cell's own process; Python {sys.version.split()[0]}")
    print_table(rows, args.baseline is not None)
    print_growth("growth exponent log(t2/t1)/log(n2/n1) on the synthetic pieces:",
                 growth(rows, lambda r: r.ours.seconds))
    if args.baseline is not None:
        print_growth("baseline growth exponent:",
                     growth(rows, lambda r: r.base.seconds if r.base else None))
    if args.json:
        args.json.write_text(json.dumps([
            {"dataset": r.dataset.name, "points": r.dataset.size, "function": r.label,
             "seconds": r.ours.seconds, "peak_mib": r.ours.peak_mib, "note": r.ours.note,
             "baseline_seconds": r.base.seconds if r.base else None,
             "baseline_peak_mib": r.base.peak_mib if r.base else None}
            for r in rows], indent=1) + "\n", encoding="utf-8")
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "_cell":
        sys.exit(cell_main(*sys.argv[2:7]))
    sys.exit(main())
