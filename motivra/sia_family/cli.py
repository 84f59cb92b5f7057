"""Command-line tool: find and compress repeated patterns in a piece of music.

    motivra-sia [compress|recursive|tecs|mtps|evaluate] [PIECE] [options]
    python -m motivra.sia_family [compress|recursive|tecs|mtps|evaluate] [PIECE] [options]
    motivra-sia batch INPUT... --out DIR [--operation OPERATION] [options]

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
from fractions import Fraction
from pathlib import Path
from typing import Any, TextIO

from . import engine, evaluate, example_piece, mirex
from ._core import TranslationalEquivalence, build_tecs_from_mtps, build_tecs_from_mtps_sweepline, find_mtps
from .io import FORMATS, MissingDependencyError, Piece, PieceError, Point, read

__all__ = ["main", "build_parser", "encoding_units", "to_json", "SCHEMA"]

#: Value of the ``"schema"`` field of the JSON output. A change that could break
#: a reader of the JSON gets a new version.
SCHEMA = "motivra.sia_family/encoding-v1"

PROG = "motivra-sia"
OPERATIONS = ("compress", "recursive", "tecs", "mtps", "evaluate")

JSON_HELP = f"""\
JSON output (--format json), schema "{SCHEMA}": one object with
  "schema"     "{SCHEMA}"
  "operation"  "mtps", "tecs", "compress" or "recursive"
  "algorithm"  "SIA", "SIATEC", "SIATEC (sweepline)", "COSIATEC" or "RecurSIA"
  "piece"      {{"source": file name or bundled piece name, "points": distinct points}}
  "options"    the algorithm options used, by their Python parameter names
  "pitch"      the pitch of the points: "midi" or "morphetic"
  "mtps"       (mtps only) [{{"vector": [dt, dp], "pattern": [[tick, pitch], ...]}}, ...]
  "tecs"       (other operations) [TEC, ...], a TEC being
               {{"pattern": [[tick, pitch], ...], "translators": [[dt, dp], ...],
                "sub_tecs": [TEC, ...], "coverage": covered points,
                "compression_ratio": number}}
  "encoding"   (compress, recursive) {{"units": encoding units,
                "compression_ratio": points / units, "length": encoding
                length, "compression_factor": points / length}}
Points and translators are sorted; a TEC encoded again by "recursive" has an
empty "pattern" and its pattern's points in "sub_tecs". Units are what the
TECs' compression_ratio counts; the length is the literature's encoding length
(pattern points plus translators of every TEC, where a TEC encoded again counts
its translators plus the length of its nested encoding), so compression_factor
compares with published figures.

CSV output (--format csv): for mtps the columns vector_tick, vector_pitch,
tick, pitch (one row per point of each MTP); for the others tec, role, tick,
pitch, one row per pattern point (role "pattern") and per translator (role
"translator"), where tec numbers the TECs from 1 and "2.1" is the first
sub-TEC of TEC 2.

MIREX output (--format mirex): the pattern file of the MIREX task "Discovery
of Repeated Themes & Sections": "pattern1", "occurrence1", one "onset, pitch"
line per note, ...; one pattern per TEC (per MTP for mtps), its occurrences
the pattern moved by 0 and by each translator in ascending order, written as
notes (--occurrences raw|bbox|segment), onsets in beats (--onset ticks for
ticks) and MIDI pitch (--mirex-pitch morphetic for the points' own pitch).

Exit status: 0 on success, 1 when the piece cannot be read or an output
cannot be written, 2 for a mistake on the command line, 130 when interrupted
(Ctrl-C)."""


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
        piece: Piece | None = None,
        pitch: str = "midi",
        report: dict[str, Any] | None = None,
        encoding: engine.Encoding | None = None,
    ) -> None:
        self.operation = operation
        self.algorithm = algorithm
        self.source = source
        self.points = points
        self.options = options
        self.mtps = mtps
        self.tecs = tecs
        #: The notes behind the points, their pitch kind, and how --format
        #: mirex writes them (occurrences, onset unit, ticks_per_beat, ...).
        self.piece = piece if piece is not None else Piece.from_points(source, points)
        self.pitch = pitch
        self.report = report or {}
        #: The engine's account of an encoding (compress, recursive).
        self.encoding = encoding

    @property
    def is_encoding(self) -> bool:
        return self.operation in ("compress", "recursive")

    def units(self) -> int:
        return sum(encoding_units(tec) for tec in self.tecs or [])

    def compression_ratio(self) -> float | None:
        units = self.units()
        return len(self.points) / units if self.is_encoding and units else None

    def length(self) -> int:
        """The literature's encoding length (see :func:`engine.encoding_length`)."""
        return sum(engine.encoding_length(tec) for tec in self.tecs or [])

    def occurrence_lists(self) -> list[list[list[Point]]]:
        """Every pattern as its occurrences (point lists): one per TEC, or one per MTP."""
        if self.mtps is not None:
            return [mirex.mtp_occurrences(v, p) for v, p in sorted(self.mtps.items())]
        return [mirex.tec_occurrences(tec) for tec in self.tecs or []]


def to_json(result: Result) -> dict[str, Any]:
    """The JSON document of a result (schema :data:`SCHEMA`)."""
    doc: dict[str, Any] = {
        "schema": SCHEMA,
        "operation": result.operation,
        "algorithm": result.algorithm,
        "piece": {"source": result.source, "points": len(result.points)},
        "options": result.options,
        "pitch": result.pitch,
    }
    if result.mtps is not None:
        doc["mtps"] = [
            {"vector": list(v), "pattern": [list(p) for p in pattern]} for v, pattern in sorted(result.mtps.items())
        ]
    else:
        doc["tecs"] = [tec_to_dict(tec) for tec in result.tecs or []]
    if result.is_encoding:
        units = result.units()
        length = result.length()
        doc["encoding"] = {
            "units": units,
            "compression_ratio": len(result.points) / units if units else None,
            "length": length,
            "compression_factor": len(result.points) / length if length else None,
        }
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
        length = result.length()
        n = len(result.points)
        out.write(f"compression ratio: {n} points / {units} units = {n / units:.3f}\n")
        out.write(f"compression factor: {n} points / encoding length {length} = {n / length:.4f}\n")


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


def _add_input(p: argparse.ArgumentParser) -> None:
    suffixes = ", ".join(f"{name}: {' '.join(s)}" for name, s in FORMATS.items())
    p.add_argument(
        "piece",
        nargs="?",
        metavar="PIECE",
        help="the piece: a CSV file of tick,pitch rows (or notes: tick,midi,morph[,duration,staff]), "
        "a MIDI file or a score file "
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
        help="pitch of the points: MIDI note number (default) or morphetic pitch: a "
        "score's own spelling (A0 = 0, middle C = 23), a MIDI file spelled by "
        "the PS13 estimator, a CSV file's morph column",
    )
    p.add_argument(
        "--include-drums", action="store_true", help="keep the notes of MIDI channel 10 (drums), left out by default"
    )
    p.add_argument(
        "--restrict-dpitch-zero",
        action="store_true",
        help="consider only translations that keep the pitch (exact repetitions in time)",
    )


def _fraction(text: str) -> Fraction:
    try:
        return Fraction(text)
    except (ValueError, ZeroDivisionError):
        raise argparse.ArgumentTypeError(f"expected a number such as 1, 0.5 or 1/3, got {text!r}") from None


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value <= 0:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}")
    return value


def _share(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must lie in 0..1, got {text}")
    return value


def _add_timing(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--occurrences",
        choices=mirex.OCCURRENCE_FORMS,
        default="raw",
        help="notes of an occurrence: its own (raw, default), every note inside its "
        "bounding box (bbox), or every note between its first and last onset (segment)",
    )
    p.add_argument(
        "--onset",
        choices=("beats", "ticks"),
        default="beats",
        help="onsets of pattern files in beats (default) or in ticks",
    )
    p.add_argument(
        "--ticks-per-beat",
        type=_positive,
        metavar="N",
        help="ticks in a crotchet beat (default: from a MIDI or score file; a CSV file needs it for onsets in beats)",
    )
    p.add_argument(
        "--offset-beats",
        type=_fraction,
        default=Fraction(0),
        metavar="B",
        help="beats to subtract from every onset (data shifted to start at 0, e.g. 1 for the JKU PDD CSV files)",
    )


def _add_common(p: argparse.ArgumentParser) -> None:
    _add_input(p)
    p.add_argument(
        "--format",
        choices=("text", "json", "csv", "mirex"),
        default="text",
        help=f"output format (default: text); the JSON and CSV layouts are described in '{PROG} --help'",
    )
    p.add_argument("-o", "--output", metavar="FILE", help="write the result to FILE instead of standard output")
    _add_timing(p)
    p.add_argument(
        "--mirex-pitch",
        choices=("midi", "morphetic"),
        default="midi",
        help="pitch in pattern files: MIDI (default) or the morphetic pitch of the notes",
    )


def _add_compression(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--min-size",
        type=_positive,
        default=2,
        metavar="N",
        help="never choose a pattern of fewer than N points (default: 2)",
    )
    p.add_argument(
        "--max-size",
        type=_positive,
        default=None,
        metavar="N",
        help="never choose a pattern of more than N points (default: no limit)",
    )
    p.add_argument(
        "--min-compactness",
        type=_share,
        default=0.0,
        metavar="C",
        help="never choose a pattern whose bounding box holds a smaller share than C "
        "(0..1) of the points not yet covered (default: 0)",
    )
    p.add_argument(
        "--quiet",
        action="store_true",
        help="no progress bar (there is none either when standard error is not a terminal)",
    )
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
    sub = parser.add_subparsers(dest="operation", metavar="{compress,recursive,tecs,mtps,evaluate,batch}")
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

    evaluate.add_parser(sub, _add_input, _add_timing)

    from . import batch  # imports this module

    batch.add_parser(sub)
    return parser


def _normalise_argv(argv: list[str]) -> list[str]:
    """Insert the default subcommand: ``compress`` when none is given."""
    if not argv:
        return ["compress"]
    first = argv[0]
    if first in OPERATIONS or first in ("batch", "-h", "--help"):
        return argv
    return ["compress", *argv]


def run(args: argparse.Namespace) -> Result:
    """Read the piece and run the chosen operation."""
    if args.piece is None:
        source = example_piece.NAME
        piece = Piece.from_points(source, example_piece.points(), 4 * example_piece.TICKS_PER_SEMIQUAVER)
        if args.pitch == "morphetic":
            raise PieceError("(bundled piece)", "morphetic pitch needs a score file with spelled notes")
    else:
        source = args.piece
        # Pattern files in morphetic pitch need spelled notes whatever the points' pitch.
        spelled = args.pitch == "morphetic" or (
            getattr(args, "format", None) == "mirex" and getattr(args, "mirex_pitch", "midi") == "morphetic"
        )
        piece = read(
            args.piece,
            pitch="morphetic" if spelled else "midi",
            include_drums=args.include_drums,
            format=args.input_format,
        )
    points = piece.points(args.pitch)
    report = _report(args, piece)
    restrict = args.restrict_dpitch_zero
    options: dict[str, Any] = {"restrict_dpitch_zero": restrict}
    common = dict(operation=args.operation, source=source, points=points, piece=piece, pitch=args.pitch, report=report)
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
    recursive = args.operation == "recursive"
    if recursive:
        options["min_pattern_size"] = args.min_pattern_size
    min_size, max_size = getattr(args, "min_size", 2), getattr(args, "max_size", None)
    compactness = getattr(args, "min_compactness", 0.0)
    if (min_size, max_size, compactness) != (2, None, 0.0):
        options.update(min_size=min_size, max_size=max_size, min_compactness=compactness)
    with _ProgressBar(len(set(points)), getattr(args, "quiet", False)) as bar:
        encoding = engine.compress(
            points,
            recursive=recursive,
            restrict_dpitch_zero=restrict,
            min_pattern_size=min_size,
            max_pattern_size=max_size,
            min_compactness=compactness,
            min_recursion_size=max(args.min_pattern_size, 1) if recursive else 2,
            progress=bar.update,
        )
    return Result(
        algorithm="RecurSIA" if recursive else "COSIATEC",
        options=options,
        tecs=list(encoding.tecs),
        encoding=encoding,
        **common,
    )


class _ProgressBar:
    """A progress bar on standard error for encodings that take more than a second;
    nothing when standard error is not a terminal, when asked to be quiet, or when
    tqdm is missing."""

    def __init__(self, total: int, quiet: bool) -> None:
        self._bar: Any = None
        if quiet or not sys.stderr.isatty():
            return
        try:
            from tqdm import tqdm
        except ImportError:
            return
        self._bar = tqdm(total=total, unit="pt", delay=1.0, leave=False, file=sys.stderr, desc="covering points")

    def update(self, covered: int, total: int, tecs: int) -> None:
        if self._bar is not None:
            self._bar.n = covered
            self._bar.set_postfix_str(f"{tecs} TECs", refresh=False)
            self._bar.refresh()

    def __enter__(self) -> _ProgressBar:
        return self

    def __exit__(self, *exc: object) -> None:
        if self._bar is not None:
            self._bar.close()


def _report(args: argparse.Namespace, piece: Piece) -> dict[str, Any]:
    """How pattern files of this run write their notes; checks that onsets in
    beats can be computed when a pattern file is asked for."""
    report = {
        "occurrences": getattr(args, "occurrences", "raw"),
        "onset": getattr(args, "onset", "beats"),
        "ticks_per_beat": getattr(args, "ticks_per_beat", None) or piece.ticks_per_beat,
        "offset_beats": getattr(args, "offset_beats", Fraction(0)),
        "mirex_pitch": getattr(args, "mirex_pitch", "midi"),
    }
    if getattr(args, "format", None) == "mirex" and report["mirex_pitch"] == "morphetic" and not piece.has_morph:
        raise PieceError(piece.source, "--mirex-pitch morphetic needs the morphetic pitch of every note")
    if getattr(args, "format", None) == "mirex" and report["onset"] == "beats" and not report["ticks_per_beat"]:
        raise PieceError(
            piece.source,
            "onsets in beats need the ticks per beat, which a CSV file does "
            "not give: use --ticks-per-beat N (and --offset-beats B), "
            "or --onset ticks",
        )
    return report


def write_mirex(out: TextIO, result: Result) -> None:
    """The result as a MIREX pattern file."""
    report = result.report
    timing = mirex.Timing(
        report.get("onset", "beats"), report.get("ticks_per_beat"), Fraction(report.get("offset_beats", 0))
    )
    patterns = mirex.note_patterns(
        result.piece,
        result.occurrence_lists(),
        result.pitch,  # type: ignore[arg-type]
        report.get("occurrences", "raw"),
    )
    mirex.write_mirex(out, mirex.mirex_patterns(patterns, timing, report.get("mirex_pitch", "midi")))


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
    elif fmt == "mirex":
        write_mirex(buffer, result)
    else:
        write_text(buffer, result)
    return buffer.getvalue()


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command-line tool with ``argv`` (default: ``sys.argv[1:]``);
    return the exit status."""
    parser = build_parser()
    args = parser.parse_args(_normalise_argv(list(sys.argv[1:] if argv is None else argv)))
    if args.operation == "batch":
        from . import batch

        return batch.main(args, parser)
    if args.operation in ("recursive", "evaluate") and args.min_pattern_size < 0:
        parser.error("--min-pattern-size must be 0 or more")
    if getattr(args, "max_size", None) is not None and args.max_size < args.min_size:
        parser.error(f"--max-size {args.max_size} is below --min-size {args.min_size}")
    if args.operation == "evaluate":
        return evaluate.main(
            args,
            lambda path, pitch: read(path, pitch=pitch, include_drums=args.include_drums, format=args.input_format),  # type: ignore[arg-type]
            _run_for_evaluation,
            PROG,
        )
    try:
        result = run(args)
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
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


def _run_for_evaluation(args: argparse.Namespace) -> Result:
    """Run the operation that ``evaluate --operation`` names."""
    return run(argparse.Namespace(**{**vars(args), "operation": args.operation_to_run}))


if __name__ == "__main__":
    raise SystemExit(main())
