"""Write the large benchmark pieces: Beethoven string quartet movements as tick,pitch CSVs.

    python benchmarks/large_pieces.py [OUTDIR]     (default: benchmarks/data/large)

The scores are the MusicXML files that ship in music21's corpus (music21 is used
only to find them); each is read with this package's own reader,
motivra.sia_family.io.read_score (partitura, MIDI pitch, ticks in the score's
divisions), which gives the distinct points sorted by (tick, pitch).

Written files (the number of notes is that of the distinct points):

    op59no2-mvt1.csv          4,840   String Quartet op. 59 no. 2, movement 1
    op59no1-mvt1.csv          5,668   op. 59 no. 1, movement 1
    op59no1-mvt2.csv          6,518   op. 59 no. 1, movement 2
    op59no3-mvt4.csv          6,631   op. 59 no. 3, movement 4
    op132-first02000.csv ... op132-first12000.csv
                                       the first N points in (tick, pitch) order of
                                       op. 132 (the corpus file, 17,446 points), for
                                       N = 2,000, 4,000, ..., 12,000

bench.py reads every *.csv of the folder; a name ending in -firstN makes that file
part of a series over which it reports the growth exponent.  Needs music21 and
partitura in the interpreter that runs it (reading op. 132 takes about half a minute).
"""

from __future__ import annotations

import importlib
import os
import sys
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_OUT = ROOT / "benchmarks" / "data" / "large"

# file stem -> (corpus file under beethoven/, points expected, title)
MOVEMENTS: dict[str, tuple[str, int, str]] = {
    "op59no2-mvt1": ("opus59no2/movement1.mxl", 4840, "String Quartet op. 59 no. 2, movement 1"),
    "op59no1-mvt1": ("opus59no1/movement1.mxl", 5668, "String Quartet op. 59 no. 1, movement 1"),
    "op59no1-mvt2": ("opus59no1/movement2.mxl", 6518, "String Quartet op. 59 no. 1, movement 2"),
    "op59no3-mvt4": ("opus59no3/movement4.mxl", 6631, "String Quartet op. 59 no. 3, movement 4"),
}
PREFIX_SOURCE = ("op132", "opus132.mxl", 17446, "String Quartet op. 132")
PREFIX_SIZES = (2000, 4000, 6000, 8000, 10000, 12000)


def prefix_stem(n: int) -> str:
    return f"{PREFIX_SOURCE[0]}-first{n:05d}"


def file_names() -> list[str]:
    return [f"{stem}.csv" for stem in MOVEMENTS] + [f"{prefix_stem(n)}.csv" for n in PREFIX_SIZES]


def complete(folder: Path) -> bool:
    """True when every piece has been written to folder."""
    return all((folder / name).is_file() for name in file_names())


def _score_reader() -> Any:
    """This package's score reader, giving a score's points in MIDI pitch."""
    try:
        from motivra.sia_family.io import import_score
    except ImportError as e:
        raise SystemExit(
            f"error: the large pieces are read with motivra.sia_family, which {sys.executable} cannot import ({e})"
        ) from None
    return lambda path: import_score(path).points("midi")


def _corpus_files() -> dict[str, Path]:
    """Beethoven's corpus files, keyed by their path below the composer's folder."""
    try:
        corpus = importlib.import_module("music21.corpus")
    except ImportError:
        raise SystemExit(
            "error: the large pieces are read from music21's corpus, and music21 is not "
            f"installed for {sys.executable}; install it ('python -m pip install music21 "
            "partitura') or run benchmarks/large_pieces.py with an interpreter that has both"
        ) from None
    files = {}
    for path in corpus.getComposer("beethoven"):
        parts = Path(path).parts
        if "beethoven" in parts:
            files[Path(*parts[parts.index("beethoven") + 1 :]).as_posix()] = Path(path)
    return files


def _write(path: Path, points: list[tuple[int, int]], header: str) -> None:
    # Written under a temporary name and renamed, so that an interrupted run
    # never leaves a truncated piece that looks complete.
    tmp = path.with_suffix(".tmp")
    tmp.write_text(header + "tick,pitch\n" + "".join(f"{t},{p}\n" for t, p in points), encoding="utf-8")
    os.replace(tmp, path)


def generate(out: Path = DEFAULT_OUT) -> None:
    files = _corpus_files()
    read_score = _score_reader()
    out.mkdir(parents=True, exist_ok=True)

    def read(rel: str, expected: int) -> list[tuple[int, int]]:
        if rel not in files:
            raise SystemExit(f"error: music21's corpus has no beethoven/{rel}")
        print(f"reading beethoven/{rel} ...", file=sys.stderr, flush=True)
        points: list[tuple[int, int]] = read_score(files[rel])
        if len(points) != expected:
            print(
                f"warning: beethoven/{rel} gave {len(points)} points, not {expected} "
                "(another music21 corpus or partitura version?)",
                file=sys.stderr,
            )
        return points

    def header(title: str, rel: str, extra: str = "") -> str:
        return (
            f"# Beethoven, {title}{extra}: music21 corpus file beethoven/{rel},\n"
            "# read with motivra.sia_family.io.import_score (MIDI pitch).\n"
        )

    for stem, (rel, expected, title) in MOVEMENTS.items():
        _write(out / f"{stem}.csv", read(rel, expected), header(title, rel))
    _, rel, expected, title = PREFIX_SOURCE
    points = read(rel, expected)
    for n in PREFIX_SIZES:
        _write(
            out / f"{prefix_stem(n)}.csv",
            points[:n],
            header(title, rel, f", its first {n} points in (tick, pitch) order"),
        )
    print(f"wrote {len(file_names())} pieces to {out}", file=sys.stderr)


if __name__ == "__main__":
    generate(Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_OUT)
