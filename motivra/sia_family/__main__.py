"""Compress a piece with COSIATEC and print the encoding.

    python -m motivra.sia_family [POINTS.csv]

Without an argument the bundled excerpt of Bach's Invention No. 1 is used.
A CSV file holds one ``tick,pitch`` row per note (non-negative integers); a
header row, blank lines and lines starting with ``#`` are skipped.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from pathlib import Path

from motivra.sia_family import TranslationalEquivalence, cosiatec_compress, example_piece


def read_points_csv(path: Path) -> list[tuple[int, int]]:
    """Read ``tick,pitch`` rows; raise ValueError naming the bad line."""
    points: list[tuple[int, int]] = []
    with path.open(encoding="utf-8") as f:
        for number, line in enumerate(f, start=1):
            text = line.strip()
            if not text or text.startswith("#"):
                continue
            fields = [field.strip() for field in text.split(",")]
            try:
                if len(fields) != 2:
                    raise ValueError
                tick, pitch = int(fields[0]), int(fields[1])
            except ValueError:
                if not points and not any(c.isdigit() for c in fields[0]):
                    continue  # header row
                raise ValueError(f"{path}:{number}: expected 'tick,pitch', got {text!r}") from None
            if not (0 <= tick < 2**32 and 0 <= pitch < 2**32):
                raise ValueError(f"{path}:{number}: values must lie in 0..4294967295")
            points.append((tick, pitch))
    return points


def encoding_units(tec: TranslationalEquivalence) -> int:
    """Units needed to write the TEC down: pattern plus translators for a leaf."""
    sub_tecs = tec.sub_tecs
    if not sub_tecs:
        return len(tec.pattern) + len(tec.translators)
    return len(sub_tecs) + sum(encoding_units(sub) for sub in sub_tecs)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m motivra.sia_family",
        description="Compress a point set of (tick, pitch) notes with COSIATEC.",
    )
    parser.add_argument(
        "csv", nargs="?", type=Path,
        help="CSV file of tick,pitch rows (default: the bundled Bach excerpt)",
    )
    args = parser.parse_args(argv)

    if args.csv is None:
        name, dataset = example_piece.NAME, example_piece.points()
    else:
        try:
            dataset = read_points_csv(args.csv)
        except (OSError, ValueError) as e:
            print(f"error: {e}", file=sys.stderr)
            return 1
        name = str(args.csv)

    distinct = len(set(dataset))
    print(name)
    print(f"{distinct} distinct points")
    if distinct == 0:
        return 0

    tecs = cosiatec_compress(dataset)
    print(f"COSIATEC encoding: {len(tecs)} TEC{'' if len(tecs) == 1 else 's'}")
    for i, tec in enumerate(tecs, start=1):
        print(f"{i:3d}. {tec.summary(5).lstrip()}")

    units = sum(encoding_units(tec) for tec in tecs)
    print(f"compression ratio: {distinct} points / {units} units = {distinct / units:.3f}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
