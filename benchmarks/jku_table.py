"""COSIATEC and RecurSIA on the five polyphonic pieces of the JKU PDD,
evaluated against the annotated patterns.

    .venv/bin/python benchmarks/jku_table.py [--data DIR] [--occurrences raw,segment]
    .venv/bin/python benchmarks/jku_table.py --write-notes DIR   # the joined note files

For each piece, pitch representation (MIDI, morphetic) and algorithm it prints
one row: notes, TECs (and how many of them are one-point leftovers, which
COSIATEC gives each point that no candidate covered), the encoding's
compression ratio (distinct points / encoding units, as the CLI reports it),
the establishment F1, occurrence F1 (c = .75) and three-layer F1 of
``mir_eval.pattern`` for the patterns that ``--format mirex`` writes in the
first occurrence form, the three-layer F1 when the leftovers are written as
one pattern instead, the three-layer F1 in each further occurrence form, and
the seconds the compression took.

The notes come from the data folder (default ``shared/data/jkupdd`` beside the
repository's folder, found from this script's place, not from the current
folder): each
``<piece>_polyphonic.csv`` (tick, MIDI pitch) is joined row by row with
``<piece>_polyphonic_morph.csv`` (tick, morphetic pitch, middle C = 60). Both
files list the same notes sorted by onset and pitch; the join checks that the
ticks agree row by row and that every morphetic pitch is a spelling of its
MIDI pitch (within two semitones of the natural note). The ground truth is
``patterns/<piece>_polyphonic.json`` (ticks, 24 per beat, shifted by one beat).
The figures of the algorithms' author (D. Meredith, COSIATEC in morphetic
pitch, MIREX Matlab evaluation) are printed beside the COSIATEC morphetic rows.
"""

from __future__ import annotations

import argparse
import csv
import sys
import time
from pathlib import Path

from motivra.sia_family import Note, Piece, cosiatec_compress, recursive_cosiatec_compress
from motivra.sia_family.evaluate import evaluate, load_ground_truth, piece_estimate
from motivra.sia_family.mirex import tec_occurrences
from motivra.sia_family.results import encoding_units

ROOT = Path(__file__).resolve().parent.parent
PIECES = {
    "Bach": "bachBWV889Fg",
    "Beethoven": "beethovenOp2No1Mvt3",
    "Chopin": "chopinOp24No4",
    "Gibbons": "gibbonsSilverSwan1612",
    "Mozart": "mozartK282Mvt2",
}
# COSIATEC in morphetic pitch, as published by the algorithms' author:
# compression factor and three-layer F1.
AUTHOR = {
    "Bach": (2.6875, 0.185),
    "Beethoven": (3.8741, 0.132),
    "Chopin": (3.7796, 0.056),
    "Gibbons": (2.3125, 0.139),
    "Mozart": (4.2228, 0.212),
}
_NATURAL = (0, 2, 4, 5, 7, 9, 11)
DEFAULT_DATA = ROOT.parent / "shared" / "data" / "jkupdd"


def piece_names(text: str) -> list[str]:
    """The file names of the pieces a comma-separated list names, by their short
    name (``Gibbons``) or their file name (``gibbonsSilverSwan1612``), any case."""
    known = {key.lower(): name for short, name in PIECES.items() for key in (short, name)}
    names = []
    for given in filter(None, (t.strip() for t in text.split(","))):
        if given.lower() not in known:
            choices = ", ".join(f"{short} ({name})" for short, name in PIECES.items())
            raise SystemExit(f"jku_table.py: unknown piece {given!r}; choose from: {choices}")
        names.append(known[given.lower()])
    return names


def check_data(data: Path, names: list[str], default: bool) -> None:
    """Stop with a message naming the folder when the data of a piece is not there."""
    for name in names:
        for suffix in ("_polyphonic.csv", "_polyphonic_morph.csv"):
            if not (data / f"{name}{suffix}").is_file():
                how = "the default data folder; give --data DIR" if default else "the folder given by --data"
                raise SystemExit(
                    f"jku_table.py: {data / (name + suffix)} not found: {data} ({how}) must hold the JKU PDD "
                    "CSV files <piece>_polyphonic.csv and <piece>_polyphonic_morph.csv, and patterns/"
                )


def _rows(path: Path) -> list[tuple[int, int]]:
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return [(int(a), int(b)) for a, b in rows[1:]]


def join_notes(data: Path, name: str) -> list[Note]:
    """The notes of a piece with MIDI and morphetic pitch, checked."""
    midi = _rows(data / f"{name}_polyphonic.csv")
    morph = _rows(data / f"{name}_polyphonic_morph.csv")
    if len(midi) != len(morph):
        raise SystemExit(f"{name}: {len(midi)} MIDI rows but {len(morph)} morphetic rows")
    notes = []
    for row, ((tick, m), (tick2, mo)) in enumerate(zip(midi, morph), start=2):
        if tick != tick2:
            raise SystemExit(f"{name}: line {row}: tick {tick} against {tick2}")
        step = mo - 37 + 5  # the package's numbering (A0 = 0) shifted to start at C0
        natural = 12 * (step // 7 + 1) + _NATURAL[step % 7]
        if abs(m - natural) > 2:
            raise SystemExit(f"{name}: line {row}: morphetic pitch {mo} is no spelling of MIDI {m}")
        notes.append(Note(tick, m, mo))
    return notes


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--data", type=Path, help=f"the JKU PDD data folder (default: {DEFAULT_DATA}, found from this script's place)"
    )
    parser.add_argument(
        "--occurrences", default="raw", help="occurrence forms to evaluate, comma-separated (raw, bbox, segment)"
    )
    parser.add_argument(
        "--pieces",
        default=",".join(PIECES),
        help="comma-separated pieces, by short name (Gibbons) or file name (gibbonsSilverSwan1612)",
    )
    parser.add_argument(
        "--write-notes",
        type=Path,
        metavar="DIR",
        help="write <piece>_polyphonic_notes.csv (tick,midi,morph) into DIR and stop",
    )
    args = parser.parse_args()
    names = piece_names(args.pieces)
    default = args.data is None
    if default:
        args.data = DEFAULT_DATA
    check_data(args.data, names, default)
    if args.write_notes:
        args.write_notes.mkdir(parents=True, exist_ok=True)
        for name in names:
            out = args.write_notes / f"{name}_polyphonic_notes.csv"
            with open(out, "w", newline="") as f:
                f.write("tick,midi,morph\n")
                f.writelines(f"{n.tick},{n.midi},{n.morph}\n" for n in join_notes(args.data, name))
            print(out)
        return 0

    forms = args.occurrences.split(",")
    head = ["piece", "pitch", "algorithm", "notes", "TECs (leftovers)", "CR"]
    head += ["est F1", "occ F1 .75", "3L F1", "3L merged"] + [f"3L {form}" for form in forms[1:]]
    head += ["seconds", "author CR", "author 3L F1"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for short, name in PIECES.items():
        if name not in names:
            continue
        piece = Piece(name, join_notes(args.data, name), ticks_per_beat=24)
        truth = load_ground_truth(args.data / "patterns" / f"{name}_polyphonic.json")
        for pitch in ("midi", "morphetic"):
            points = piece.points(pitch)
            for algorithm, compress in (("COSIATEC", cosiatec_compress), ("RecurSIA", recursive_cosiatec_compress)):
                start = time.perf_counter()
                tecs = compress(points)
                seconds = time.perf_counter() - start
                units = sum(encoding_units(t) for t in tecs)
                leftovers = [t for t in tecs if not t.translators and not t.sub_tecs]
                cells = [
                    short,
                    pitch,
                    algorithm,
                    str(len(piece)),
                    f"{len(tecs)} ({len(leftovers)})",
                    f"{len(points) / units:.4f}",
                ]
                occurrences = [tec_occurrences(t) for t in tecs]
                merged = [tec_occurrences(t) for t in tecs if t.translators or t.sub_tecs]
                if leftovers:
                    merged.append([sorted(p for t in leftovers for p in t.pattern)])
                s = evaluate(truth, piece_estimate(piece, occurrences, pitch, forms[0], truth.exact, {}))
                m = evaluate(truth, piece_estimate(piece, merged, pitch, forms[0], truth.exact, {}))
                cells += [f"{s['F_est']:.3f}", f"{s['F_occ.75']:.3f}", f"{s['F_3']:.3f}", f"{m['F_3']:.3f}"]
                for form in forms[1:]:
                    s = evaluate(truth, piece_estimate(piece, occurrences, pitch, form, truth.exact, {}))
                    cells.append(f"{s['F_3']:.3f}")
                cells.append(f"{seconds:.3f}")
                if algorithm == "COSIATEC" and pitch == "morphetic":
                    cells += [f"{AUTHOR[short][0]}", f"{AUTHOR[short][1]:.3f}"]
                else:
                    cells += ["", ""]
                print("| " + " | ".join(cells) + " |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
