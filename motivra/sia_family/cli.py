"""Command-line tool: find and compress repeated patterns in a piece of music.

    motivra-sia [compress|recursive|tecs|mtps] [PIECE] [options]
    python -m motivra.sia_family [compress|recursive|tecs|mtps] [PIECE] [options]

Without a subcommand, ``compress`` runs; without a piece, the bundled excerpt
of Bach's Invention No. 1 is used. Run with ``--help`` for the options, and
``motivra-sia compress --help`` for those of one operation.
"""

from __future__ import annotations

import argparse
import csv
import io as _stringio
import json
import math
import os
import re
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any, TextIO

from . import example_piece
from ._core import (
    TranslationalEquivalence,
    build_tecs_from_mtps,
    build_tecs_from_mtps_sweepline,
    cosiatec_compress,
    find_mtps,
    recursive_cosiatec_compress,
)
from .io import FORMATS, MissingDependencyError, PieceError, Point, read_piece

__all__ = ["main", "build_parser", "encoding_units", "to_json", "SCHEMA"]

#: Value of the ``"schema"`` field of the JSON output. A change that could break
#: a reader of the JSON gets a new version.
SCHEMA = "motivra.sia_family/encoding-v1"

PROG = "motivra-sia"
OPERATIONS = ("compress", "recursive", "tecs", "mtps")

JSON_HELP = f"""\
JSON output (--format json), schema "{SCHEMA}": one object with
  "schema"     "{SCHEMA}"
  "operation"  "mtps", "tecs", "compress" or "recursive"
  "algorithm"  "SIA", "SIATEC", "SIATEC (sweepline)", "COSIATEC" or "RecurSIA"
  "piece"      {{"source": file name or bundled piece name, "points": distinct points}}
  "options"    the algorithm options used, by their Python parameter names
  "mtps"       (mtps only) [{{"vector": [dt, dp], "pattern": [[tick, pitch], ...]}}, ...]
  "tecs"       (other operations) [TEC, ...], a TEC being
               {{"pattern": [[tick, pitch], ...], "translators": [[dt, dp], ...],
                "sub_tecs": [TEC, ...], "coverage": covered points,
                "compression_ratio": number}}
  "encoding"   (compress, recursive) {{"units": encoding units,
                "compression_ratio": points / units}}
Points and translators are sorted; a TEC encoded again by "recursive" has an
empty "pattern" and its pattern's points in "sub_tecs".

CSV output (--format csv): for mtps the columns vector_tick, vector_pitch,
tick, pitch (one row per point of each MTP); for the others tec, role, tick,
pitch, one row per pattern point (role "pattern") and per translator (role
"translator"), where tec numbers the TECs from 1 and "2.1" is the first
sub-TEC of TEC 2.

Exit status: 0 on success, 1 when the piece cannot be read or an output
cannot be written, 2 for a mistake on the command line."""


# ---------------------------------------------------------------------------
# Results as plain data


def encoding_units(tec: TranslationalEquivalence) -> int:
    """Encoding units of a TEC, as its ``compression_ratio`` counts them: pattern
    points plus translators for a leaf TEC; for a TEC encoded again by RecurSIA,
    one unit per sub-TEC plus the sub-TECs' own units."""
    # The count of the C++ core (encoding_units in src/core/tec.cpp), which the class
    # does not expose; tests/test_cli.py checks that the two agree.
    sub_tecs = tec.sub_tecs
    if not sub_tecs:
        return len(tec.pattern) + len(tec.translators)
    return len(sub_tecs) + sum(encoding_units(sub) for sub in sub_tecs)


def _ratio(value: float) -> float | None:
    return value if math.isfinite(value) else None


def tec_to_dict(tec: TranslationalEquivalence) -> dict[str, Any]:
    """A TEC as JSON-ready data (see the JSON schema in ``--help``)."""
    return {
        "pattern": [list(p) for p in tec.pattern],
        "translators": [list(v) for v in sorted(tec.translators)],
        "sub_tecs": [tec_to_dict(sub) for sub in tec.sub_tecs],
        "coverage": len(tec.coverage),
        "compression_ratio": _ratio(tec.compression_ratio),
    }


class Result:
    """What one run computed: the piece, the options and the result."""

    def __init__(
        self,
        operation: str,
        algorithm: str,
        source: str,
        points: list[Point],
        options: dict[str, Any],
        mtps: dict[tuple[int, int], list[Point]] | None = None,
        tecs: list[TranslationalEquivalence] | None = None,
    ) -> None:
        self.operation = operation
        self.algorithm = algorithm
        self.source = source
        self.points = points
        self.options = options
        self.mtps = mtps
        self.tecs = tecs

    @property
    def is_encoding(self) -> bool:
        return self.operation in ("compress", "recursive")

    def units(self) -> int:
        return sum(encoding_units(tec) for tec in self.tecs or [])


def to_json(result: Result) -> dict[str, Any]:
    """The JSON document of a result (schema :data:`SCHEMA`)."""
    doc: dict[str, Any] = {
        "schema": SCHEMA,
        "operation": result.operation,
        "algorithm": result.algorithm,
        "piece": {"source": result.source, "points": len(result.points)},
        "options": result.options,
    }
    if result.mtps is not None:
        doc["mtps"] = [
            {"vector": list(v), "pattern": [list(p) for p in pattern]} for v, pattern in sorted(result.mtps.items())
        ]
    else:
        doc["tecs"] = [tec_to_dict(tec) for tec in result.tecs or []]
    if result.is_encoding:
        units = result.units()
        doc["encoding"] = {"units": units, "compression_ratio": len(result.points) / units if units else None}
    return doc


# ---------------------------------------------------------------------------
# Text and CSV


def _pts(points: Sequence[tuple[int, int]]) -> str:
    return " ".join(f"({a}, {b})" for a, b in points) if points else "(none)"


def _plural(n: int, word: str) -> str:
    return f"{n} {word}{'' if n == 1 else 's'}"


def _write_tec(out: TextIO, label: str, tec: TranslationalEquivalence, indent: str) -> None:
    """A heading in words, then the TEC's own ``summary()`` (which nests its sub-TECs)."""
    if not tec.translators and not tec.sub_tecs:
        head = f"{_plural(len(tec.pattern), 'point')}, not repeated"
    else:
        head = f"{_plural(len(tec.coverage), 'point')} covered by {_plural(len(tec.translators) + 1, 'occurrence')}"
    out.write(f"{indent}{label}  {head}\n")
    out.write(tec.summary(len(indent) + len(label) + 2) + "\n")


def write_text(out: TextIO, result: Result) -> None:
    """The human-readable report."""
    out.write(f"{result.source}\n")
    out.write(f"{_plural(len(result.points), 'distinct point')}\n")
    flags = [
        name
        for name, value in result.options.items()
        if value is True and name not in ("sweepline_optimization", "sweepline")
    ]
    if "min_pattern_size" in result.options:
        flags.append(f"min_pattern_size={result.options['min_pattern_size']}")
    if result.options.get("sweepline_optimization") is False:
        flags.append("sweepline_optimization=False")
    options = f" ({', '.join(flags)})" if flags else ""
    if result.mtps is not None:
        out.write(f"{result.algorithm}{options}: {_plural(len(result.mtps), 'maximal translatable pattern')}\n")
        for v, pattern in sorted(result.mtps.items()):
            out.write(f"  vector ({v[0]}, {v[1]}): {_plural(len(pattern), 'point')}: {_pts(pattern)}\n")
        return
    tecs = result.tecs or []
    kind = "encoding" if result.is_encoding else "classes"
    out.write(f"{result.algorithm} {kind}{options}: {_plural(len(tecs), 'TEC')}\n")
    width = len(str(len(tecs)))
    for i, tec in enumerate(tecs, start=1):
        _write_tec(out, f"{i:>{width}}.", tec, "  ")
    if result.is_encoding and tecs:
        units = result.units()
        n = len(result.points)
        out.write(f"compression ratio: {n} points / {units} units = {n / units:.3f}\n")


def write_csv(out: TextIO, result: Result) -> None:
    """The result as a CSV table (see ``--help``)."""
    writer = csv.writer(out, lineterminator="\n")
    if result.mtps is not None:
        writer.writerow(["vector_tick", "vector_pitch", "tick", "pitch"])
        for v, pattern in sorted(result.mtps.items()):
            for p in pattern:
                writer.writerow([v[0], v[1], p[0], p[1]])
        return
    writer.writerow(["tec", "role", "tick", "pitch"])

    def rows(label: str, tec: TranslationalEquivalence) -> None:
        for p in tec.pattern:
            writer.writerow([label, "pattern", p[0], p[1]])
        for v in sorted(tec.translators):
            writer.writerow([label, "translator", v[0], v[1]])
        for j, sub in enumerate(tec.sub_tecs, start=1):
            rows(f"{label}.{j}", sub)

    for i, tec in enumerate(result.tecs or [], start=1):
        rows(str(i), tec)


# ---------------------------------------------------------------------------
# Command line


def _add_common(p: argparse.ArgumentParser) -> None:
    suffixes = ", ".join(f"{name}: {' '.join(s)}" for name, s in FORMATS.items())
    p.add_argument(
        "piece",
        nargs="?",
        metavar="PIECE",
        help=f"the piece: a CSV file of tick,pitch rows, a MIDI file or a score file "
        f"(MusicXML, MEI, kern); the format follows the suffix ({suffixes}). "
        f"Default: the bundled excerpt of {example_piece.NAME}",
    )
    p.add_argument(
        "--input-format",
        choices=sorted(FORMATS),
        metavar="{csv,midi,score}",
        help="read PIECE as this format whatever its suffix",
    )
    p.add_argument(
        "--pitch",
        choices=("midi", "morphetic"),
        default="midi",
        help="pitch of a score file: MIDI note number (default) or morphetic pitch "
        "from the spelling (A0 = 0, middle C = 23)",
    )
    p.add_argument(
        "--include-drums", action="store_true", help="keep the notes of MIDI channel 10 (drums), left out by default"
    )
    p.add_argument(
        "--restrict-dpitch-zero",
        action="store_true",
        help="consider only translations that keep the pitch (exact repetitions in time)",
    )
    p.add_argument(
        "--format",
        choices=("text", "json", "csv"),
        default="text",
        help=f"output format (default: text); the JSON and CSV layouts are described in '{PROG} --help'",
    )
    p.add_argument("-o", "--output", metavar="FILE", help="write the result to FILE instead of standard output")


def _add_compression(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--no-sweepline",
        dest="sweepline",
        action="store_false",
        help="pass sweepline_optimization=False; the encoding and the time it takes are the same either way",
    )
    p.add_argument(
        "--plot", metavar="FILE", help="also draw the piece and the encoding into FILE (.png or .svg; needs matplotlib)"
    )


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the command-line tool."""
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Find repeated patterns in a piece of music, given as (tick, pitch) points, "
        "and compress it into translated patterns (SIA, SIATEC, COSIATEC, RecurSIA). "
        "Without a subcommand, 'compress' runs; without a piece, a bundled excerpt "
        "of Bach's Invention No. 1 is used.",
        epilog=JSON_HELP,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = parser.add_subparsers(dest="operation", metavar="{compress,recursive,tecs,mtps}")
    fmt = argparse.RawDescriptionHelpFormatter

    p = sub.add_parser(
        "compress",
        help="COSIATEC: a greedy encoding of the piece by TECs (default)",
        description="COSIATEC: repeatedly take the best translational equivalence "
        "class (TEC) of the points not yet covered, until every point is covered.",
        epilog=JSON_HELP,
        formatter_class=fmt,
    )
    _add_common(p)
    _add_compression(p)

    p = sub.add_parser(
        "recursive",
        help="RecurSIA: COSIATEC, with each pattern encoded again",
        description="RecurSIA on COSIATEC: compress the piece, then the pattern of "
        "every chosen TEC again, recursively (nested sub-TECs).",
        epilog=JSON_HELP,
        formatter_class=fmt,
    )
    _add_common(p)
    _add_compression(p)
    p.add_argument(
        "--min-pattern-size",
        type=int,
        default=2,
        metavar="N",
        help="encode again only patterns of at least N points (default: 2)",
    )

    p = sub.add_parser(
        "tecs",
        help="SIATEC: every maximal translatable pattern with all its translators",
        description="SIATEC: one translational equivalence class (TEC) for each maximal "
        "translatable pattern, with every vector that carries the whole "
        "pattern into the piece.",
        epilog=JSON_HELP,
        formatter_class=fmt,
    )
    _add_common(p)
    p.add_argument(
        "--sweepline", action="store_true", help="use the sweepline builder (same classes, found with forward sweeps)"
    )

    p = sub.add_parser(
        "mtps",
        help="SIA: the maximal translatable pattern of every vector",
        description="SIA: for every vector between two points, the points that it "
        "carries onto other points of the piece.",
        epilog=JSON_HELP,
        formatter_class=fmt,
    )
    _add_common(p)
    return parser


def _normalise_argv(argv: list[str]) -> list[str]:
    """Insert the default subcommand: ``compress`` when none is given."""
    if not argv:
        return ["compress"]
    first = argv[0]
    if first in OPERATIONS or first in ("-h", "--help"):
        return argv
    return ["compress", *argv]


def run(args: argparse.Namespace) -> Result:
    """Read the piece and run the chosen operation."""
    if args.piece is None:
        source, points = example_piece.NAME, example_piece.points()
        if args.pitch == "morphetic":
            raise PieceError("(bundled piece)", "morphetic pitch needs a score file with spelled notes")
    else:
        source = args.piece
        points = read_piece(args.piece, pitch=args.pitch, include_drums=args.include_drums, format=args.input_format)
    restrict = args.restrict_dpitch_zero
    options: dict[str, Any] = {"restrict_dpitch_zero": restrict}
    common = dict(operation=args.operation, source=source, points=points)
    if args.operation == "mtps":
        return Result(algorithm="SIA", options=options, mtps=find_mtps(points, restrict), **common)
    if args.operation == "tecs":
        builder: Callable[..., list[TranslationalEquivalence]]
        if args.sweepline:
            builder, algorithm = build_tecs_from_mtps_sweepline, "SIATEC (sweepline)"
        else:
            builder, algorithm = build_tecs_from_mtps, "SIATEC"
        options["sweepline"] = args.sweepline
        return Result(algorithm=algorithm, options=options, tecs=builder(points, restrict), **common)
    options["sweepline_optimization"] = args.sweepline
    if args.operation == "compress":
        tecs = cosiatec_compress(points, restrict, args.sweepline)
        return Result(algorithm="COSIATEC", options=options, tecs=tecs, **common)
    options["min_pattern_size"] = args.min_pattern_size
    tecs = recursive_cosiatec_compress(points, restrict, args.min_pattern_size, args.sweepline)
    return Result(algorithm="RecurSIA", options=options, tecs=tecs, **common)


# A pair of integers as json.dumps(indent=...) lays it out; the line breaks it
# requires cannot occur inside a JSON string.
_PAIR = re.compile(r"\[\n *(-?\d+),\n *(-?\d+)\n *\]")


def render(result: Result, fmt: str) -> str:
    """The result as text in the chosen output format."""
    buffer = _stringio.StringIO()
    if fmt == "json":
        text = json.dumps(to_json(result), indent=1)
        # One line per point or vector instead of four.
        buffer.write(_PAIR.sub(r"[\1, \2]", text))
        buffer.write("\n")
    elif fmt == "csv":
        write_csv(buffer, result)
    else:
        write_text(buffer, result)
    return buffer.getvalue()


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command-line tool with ``argv`` (default: ``sys.argv[1:]``);
    return the exit status."""
    parser = build_parser()
    args = parser.parse_args(_normalise_argv(list(sys.argv[1:] if argv is None else argv)))
    if args.operation == "recursive" and args.min_pattern_size < 0:
        parser.error("--min-pattern-size must be 0 or more")
    try:
        result = run(args)
    except (PieceError, MissingDependencyError) as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        where = e.filename if e.filename is not None else args.piece
        print(f"{PROG}: error: {where}: {e.strerror or e}", file=sys.stderr)
        return 1

    text = render(result, args.format)
    plot = getattr(args, "plot", None)
    try:
        if args.output is None:
            sys.stdout.write(text)
            sys.stdout.flush()
        else:
            Path(args.output).write_text(text, encoding="utf-8")
        if plot is not None:
            from .plot import plot_encoding

            plot_encoding(
                result.points,
                result.tecs or [],
                plot,
                title=f"{result.algorithm}: {os.path.basename(result.source)}",
                pitch_label="morphetic pitch" if args.pitch == "morphetic" else "pitch",
            )
            print(f"{PROG}: picture written to {plot}", file=sys.stderr)
    except MissingDependencyError as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{PROG}: error: {e.filename or args.output}: {e.strerror or e}", file=sys.stderr)
        return 1
    except ValueError as e:  # an unknown picture format
        print(f"{PROG}: error: {plot}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
