"""Command-line tool: find and compress repeated patterns in a piece of music.

    motivra-sia [compress|recursive|tecs|mtps|evaluate] [PIECE] [options]
    python -m motivra.sia_family [compress|recursive|tecs|mtps|evaluate] [PIECE] [options]
    motivra-sia batch INPUT... --out DIR [--operation OPERATION] [options]

Without a subcommand, ``compress`` runs; without a piece, the bundled excerpt
of Bach's Invention No. 1 is used. Run with ``--help`` for the options, and
``motivra-sia compress --help`` for those of one operation.

This module only maps flags onto the library's option records
(:class:`~motivra.sia_family.results.Options`,
:class:`~motivra.sia_family.mirex.MirexOptions`,
:class:`~motivra.sia_family.batch.Settings`,
:class:`~motivra.sia_family.io.ReadOptions`), whose defaults are the flags'
defaults, and errors onto messages and exit statuses (:func:`main`).
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import difflib
import importlib.metadata
import json
import os
import sys
from collections.abc import Callable, Iterator, Sequence
from fractions import Fraction
from pathlib import Path

from . import batch, example_piece
from .engine import Progress
from .errors import MissingDependencyError, PieceError
from .evaluate import evaluate_file, evaluate_result, format_text, load_ground_truth
from .io import FORMATS, PITCHES, Piece, ReadOptions
from .mirex import OCCURRENCE_FORMS, MirexOptions
from .results import OPERATIONS, OUTPUT_FORMATS, SCHEMA, Options, OutputFormat, Result, analyse, plural, require_notes

__all__ = ["main", "build_parser", "SCHEMA", "PROG", "COMMANDS"]

PROG = "motivra-sia"
#: The subcommands; the first is the default.
COMMANDS = (*OPERATIONS, "evaluate", "batch")

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
cannot be written or the piece has no notes (unless --allow-empty), 2 for a
mistake on the command line, 130 when interrupted
(Ctrl-C)."""


# ---------------------------------------------------------------------------
# Flags: each defined once, its default the one of the option record it sets

_OPTIONS, _MIREX, _BATCH = Options(), MirexOptions(), batch.Settings()


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


def _piece_argument(p: argparse.ArgumentParser) -> None:
    suffixes = ", ".join(f"{name}: {' '.join(s)}" for name, s in FORMATS.items())
    p.add_argument(
        "piece",
        nargs="?",
        default=None,
        metavar="PIECE",
        help="the piece: a CSV file of tick,pitch rows (or notes: tick,midi,morph[,duration,staff]), "
        "a MIDI file or a score file "
        f"(MusicXML, MEI, kern); the format follows the suffix ({suffixes}). "
        f"Default: the bundled excerpt of {example_piece.NAME}",
    )


Adder = Callable[[argparse.ArgumentParser], object]

#: Every flag of the tool, by name. A subcommand lists the names it takes.
FLAGS: dict[str, Adder] = {
    "piece": _piece_argument,
    "inputs": lambda p: p.add_argument(
        "inputs", nargs="+", metavar="INPUT", help="a piece file, folder or glob pattern"
    ),
    "out": lambda p: p.add_argument("--out", required=True, metavar="DIR", help="the folder of the outputs"),
    "input-format": lambda p: p.add_argument(
        "--input-format",
        choices=sorted(FORMATS),
        metavar="{csv,midi,score}",
        help="read the piece as this format whatever its suffix (batch: folders are searched for its suffixes only)",
    ),
    "pitch": lambda p: p.add_argument(
        "--pitch",
        choices=PITCHES,
        help=f"pitch of the points (default: {_OPTIONS.pitch}): MIDI note number or morphetic pitch: a "
        "score's own spelling (A0 = 0, middle C = 23), a MIDI file spelled by "
        "the PS13 estimator, a CSV file's morph column",
    ),
    "include-drums": lambda p: p.add_argument(
        "--include-drums", action="store_true", help="keep the notes of MIDI channel 10 (drums), left out by default"
    ),
    "allow-empty": lambda p: p.add_argument(
        "--allow-empty", action="store_true", help="accept a piece without notes (by default an error, exit status 1)"
    ),
    "restrict-dpitch-zero": lambda p: p.add_argument(
        "--restrict-dpitch-zero",
        action="store_true",
        help="consider only translations that keep the pitch (exact repetitions in time)",
    ),
    "format": lambda p: p.add_argument(
        "--format",
        choices=OUTPUT_FORMATS,
        default="text",
        help=f"output format (default: text); the JSON and CSV layouts are described in '{PROG} --help'",
    ),
    "batch-format": lambda p: p.add_argument(
        "--format", choices=tuple(batch.OUTPUT_SUFFIX), help=f"output format (default: {_BATCH.format})"
    ),
    "output": lambda p: p.add_argument(
        "-o", "--output", metavar="FILE", help="write the result to FILE instead of standard output"
    ),
    "occurrences": lambda p: p.add_argument(
        "--occurrences",
        choices=OCCURRENCE_FORMS,
        help=f"notes of an occurrence (default: {_MIREX.occurrences}): its own (raw), every note inside its "
        "bounding box (bbox), or every note between its first and last onset (segment)",
    ),
    "onset": lambda p: p.add_argument(
        "--onset",
        choices=("beats", "ticks"),
        help=f"onsets of pattern files in beats or in ticks (default: {_MIREX.onset})",
    ),
    "ticks-per-beat": lambda p: p.add_argument(
        "--ticks-per-beat",
        type=_positive,
        metavar="N",
        help="ticks in a crotchet beat (default: from a MIDI or score file; a CSV file needs it for onsets in beats)",
    ),
    "offset-beats": lambda p: p.add_argument(
        "--offset-beats",
        type=_fraction,
        metavar="B",
        help="beats to subtract from every onset (data shifted to start at 0, e.g. 1 for the JKU PDD CSV files)",
    ),
    "mirex-pitch": lambda p: p.add_argument(
        "--mirex-pitch",
        choices=PITCHES,
        help=f"pitch in pattern files (default: {_MIREX.pitch}): MIDI or the morphetic pitch of the notes",
    ),
    "min-size": lambda p: p.add_argument(
        "--min-size",
        type=_positive,
        metavar="N",
        help=f"never choose a pattern of fewer than N points (default: {_OPTIONS.min_size})",
    ),
    "max-size": lambda p: p.add_argument(
        "--max-size",
        type=_positive,
        metavar="N",
        help="never choose a pattern of more than N points (default: no limit)",
    ),
    "min-compactness": lambda p: p.add_argument(
        "--min-compactness",
        type=_share,
        metavar="C",
        help="never choose a pattern whose bounding box holds a smaller share than C "
        f"(0..1) of the points not yet covered (default: {_OPTIONS.min_compactness:g})",
    ),
    "min-pattern-size": lambda p: p.add_argument(
        "--min-pattern-size",
        type=int,
        metavar="N",
        help=f"recursive: encode again only patterns of at least N points (default: {_OPTIONS.min_pattern_size})",
    ),
    "sweepline": lambda p: (
        p.add_argument(
            "--sweepline",
            action="store_const",
            const=True,
            help="tecs: use the sweepline builder (same classes, found with forward sweeps); "
            "the compressors use it by default",
        ),
        p.add_argument(
            "--no-sweepline",
            dest="sweepline",
            action="store_const",
            const=False,
            help="compress, recursive: pass sweepline_optimization=False, building the candidate TECs "
            "with SIATEC; the encoding is the same either way",
        ),
    ),
    "quiet": lambda p: p.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        help="no progress bar (there is none either when standard error is not a terminal)",
    ),
    "plot": lambda p: p.add_argument(
        "--plot", metavar="FILE", help="also draw the piece and the encoding into FILE (.png or .svg; needs matplotlib)"
    ),
    "ground-truth": lambda p: p.add_argument(
        "--ground-truth",
        "-g",
        required=True,
        metavar="GT",
        help="annotated patterns: a MIREX pattern file (onsets in beats), a JKU PDD "
        "folder (repeatedPatterns/<annotator>/<label>/occurrences/csv/occN.csv or "
        "lisp/occN.txt, onsets in beats) or a JSON file of patterns with "
        "ticks_per_beat and in_mirex_eval (onsets in ticks)",
    ),
    "annotators": lambda p: p.add_argument(
        "--annotators", metavar="A,B", help="count only the patterns of these annotators (folder or JSON ground truth)"
    ),
    "encoding": lambda p: p.add_argument(
        "--encoding",
        metavar="FILE",
        help="evaluate this encoding instead of computing one: a JSON file written by "
        "--format json (PIECE, or the file it names, gives the notes) or a MIREX "
        "pattern file",
    ),
    "evaluate-operation": lambda p: p.add_argument(
        "--operation",
        choices=("compress", "recursive"),
        help="the encoding to compute from PIECE: COSIATEC (default) or RecurSIA",
    ),
    "json": lambda p: p.add_argument(
        "--json",
        metavar="FILE",
        dest="json_output",
        help="also write the measures as JSON to FILE ('-' for standard output, instead of the text)",
    ),
    "batch-operation": lambda p: p.add_argument(
        "--operation", choices=OPERATIONS, help=f"the operation to run (default: {_OPTIONS.operation})"
    ),
    "jobs": lambda p: p.add_argument(
        "-j",
        "--jobs",
        type=int,
        metavar="N",
        help=f"worker processes (default: {_BATCH.jobs}); with '--scheduler local', Dask workers",
    ),
    "scheduler": lambda p: p.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run the pieces on the Dask cluster at ADDRESS (e.g. tcp://host:8786), "
        "or on a new local one with 'local'; needs the 'distributed' extra",
    ),
    "timeout": lambda p: p.add_argument(
        "--timeout", type=float, metavar="S", help="end a piece's worker after S seconds (status 'timeout')"
    ),
    "max-notes": lambda p: p.add_argument(
        "--max-notes", type=int, metavar="N", help="do not compute pieces of more than N notes (status 'skipped')"
    ),
    "force": lambda p: p.add_argument("--force", action="store_true", help="compute every piece again"),
}

_INPUT = ("piece", "input-format", "pitch", "include-drums", "allow-empty", "restrict-dpitch-zero")
_TIMING = ("occurrences", "onset", "ticks-per-beat", "offset-beats")
_SINGLE = (*_INPUT, "format", "output", *_TIMING, "mirex-pitch")
_COMPRESSION = ("min-size", "max-size", "min-compactness", "sweepline", "quiet", "plot")

#: Each subcommand: its help, its description and its flags.
SUBCOMMANDS: dict[str, tuple[str, str, tuple[str, ...]]] = {
    "compress": (
        "COSIATEC: a greedy encoding of the piece by TECs (default)",
        "COSIATEC: repeatedly take the best translational equivalence "
        "class (TEC) of the points not yet covered, until every point is covered.",
        (*_SINGLE, *_COMPRESSION),
    ),
    "recursive": (
        "RecurSIA: COSIATEC, with each pattern encoded again",
        "RecurSIA on COSIATEC: compress the piece, then the pattern of "
        "every chosen TEC again, recursively (nested sub-TECs).",
        (*_SINGLE, *_COMPRESSION, "min-pattern-size"),
    ),
    "tecs": (
        "SIATEC: every maximal translatable pattern with all its translators",
        "SIATEC: one translational equivalence class (TEC) for each maximal "
        "translatable pattern, with every vector that carries the whole "
        "pattern into the piece.",
        (*_SINGLE, "sweepline"),
    ),
    "mtps": (
        "SIA: the maximal translatable pattern of every vector",
        "SIA: for every vector between two points, the points that it carries onto other points of the piece.",
        _SINGLE,
    ),
    "evaluate": (
        "compare discovered patterns with annotated ones (needs mir_eval)",
        "Evaluate the patterns of an encoding against a ground truth with the MIREX "
        "measures of mir_eval.pattern: establishment, occurrence (c = .75 and .5), "
        "three-layer and standard precision, recall and F1, and the first-five "
        "measures. The encoding is computed from PIECE, or read from --encoding.",
        (
            *_INPUT,
            "ground-truth",
            "annotators",
            "encoding",
            "evaluate-operation",
            "min-pattern-size",
            "sweepline",
            "quiet",
            *_TIMING,
            "json",
        ),
    ),
    "batch": (
        "run an operation on many pieces: files, folders or glob patterns",
        "Run one operation on every piece named: files, folders (searched "
        "recursively for the readable suffixes) and glob patterns. Each piece's "
        "output, the same as the single-piece command's, goes to its own file in "
        "DIR (the piece's path with the format's suffix added), and DIR/summary.csv "
        "gets one row per piece. Running the command again skips the pieces whose "
        "output is there with the same options. Exit status: 0 when every piece "
        "is 'ok' or 'skipped', 1 otherwise, 2 for a mistake on the command line, 130 after Ctrl-C.",
        (
            "inputs",
            "out",
            "batch-operation",
            "batch-format",
            "input-format",
            "pitch",
            "include-drums",
            "restrict-dpitch-zero",
            "sweepline",
            "min-pattern-size",
            "jobs",
            "scheduler",
            "timeout",
            "max-notes",
            "force",
            "quiet",
        ),
    ),
}


def _version() -> str:
    try:
        return importlib.metadata.version("motivra-sia-family")
    except importlib.metadata.PackageNotFoundError:
        return "unknown"


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
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    sub = parser.add_subparsers(dest="command", metavar="{" + ",".join(COMMANDS) + "}")
    for name, (help, description, flags) in SUBCOMMANDS.items():
        p = sub.add_parser(
            name,
            help=help,
            description=description,
            epilog=JSON_HELP if name in OPERATIONS else None,
            formatter_class=argparse.RawDescriptionHelpFormatter,
            # A flag not given is left out, so that the option records' defaults apply.
            argument_default=argparse.SUPPRESS,
        )
        for flag in flags:
            FLAGS[flag](p)
    return parser


def _normalise_argv(parser: argparse.ArgumentParser, argv: list[str]) -> list[str]:
    """Insert the default subcommand, ``compress``, when none is given; refuse a
    mistyped one rather than read it as a file name."""
    if not argv:
        return ["compress"]
    first = argv[0]
    if first in COMMANDS or first in ("-h", "--help", "--version"):
        return argv
    if not first.startswith("-") and not Path(first).suffix and not os.path.exists(first):
        close = difflib.get_close_matches(first, COMMANDS, n=1)
        if close:
            parser.error(f"unknown operation {first!r} (did you mean {close[0]!r}?)")
    return ["compress", *argv]


class _UsageError(Exception):
    """Flags that the option records refuse: a mistake on the command line."""


def _record[T](cls: type[T], args: argparse.Namespace, **names: str) -> T:
    """An option record from the flags given; ``names`` maps a field to the
    flag's ``dest`` where the two differ."""
    given = vars(args)
    values = {}
    for f in dataclasses.fields(cls):  # type: ignore[arg-type]
        dest = names.get(f.name, f.name)
        if dest in given:
            values[f.name] = given[dest]
    try:
        return cls(**values)
    except ValueError as e:
        raise _UsageError(str(e)) from None


# ---------------------------------------------------------------------------
# The progress bar


@contextlib.contextmanager
def progress_bar(total: int, quiet: bool) -> Iterator[Progress | None]:
    """A progress bar on standard error, shown from the engine's first report (as the
    encoding starts) to its last (every Point covered), as the ``progress`` callable
    of :func:`~motivra.sia_family.engine.compress`; ``None`` when standard error is not
    a terminal, when asked to be quiet, or when tqdm is missing."""
    if quiet or not sys.stderr.isatty():
        yield None
        return
    try:
        from tqdm import tqdm
    except ImportError:
        yield None
        return
    bar = tqdm(total=total, unit="pt", leave=False, file=sys.stderr, desc="covering points")

    def update(covered: int, total: int, tecs: int) -> None:
        bar.n = covered
        bar.set_postfix_str(f"{tecs} TECs", refresh=False)
        bar.refresh()

    try:
        yield update
    finally:
        bar.close()


# ---------------------------------------------------------------------------
# The subcommands


def _piece(args: argparse.Namespace, pitch: str) -> Piece:
    """The piece that PIECE names, or the bundled one; an empty piece is an error
    unless --allow-empty."""
    path = getattr(args, "piece", None)
    if path is None:
        if pitch == "morphetic":
            raise PieceError("(bundled piece)", "morphetic pitch needs a score file with spelled notes")
        return Piece.from_points(example_piece.NAME, example_piece.points(), 4 * example_piece.TICKS_PER_SEMIQUAVER)
    read_options = _record(ReadOptions, args, format="input_format")
    piece = read_options.read(path, "morphetic" if pitch == "morphetic" else "midi")
    if not getattr(args, "allow_empty", False):
        require_notes(piece)
    return piece


def _analyse(args: argparse.Namespace, piece: Piece, options: Options) -> Result:
    if not options.is_encoding:
        return analyse(piece, options)
    with progress_bar(len(piece.points(options.pitch)), getattr(args, "quiet", False)) as progress:
        return analyse(piece, options, progress=progress)


def _single(args: argparse.Namespace) -> int:
    options = _record(Options, args, operation="command")
    mirex = _record(MirexOptions, args, pitch="mirex_pitch")
    fmt: OutputFormat = args.format
    # Pattern files in morphetic pitch need spelled notes whatever the points' pitch.
    spelled = options.pitch == "morphetic" or (fmt == "mirex" and mirex.pitch == "morphetic")
    piece = _piece(args, "morphetic" if spelled else "midi")
    piece.points(options.pitch)  # fails before any work for a piece without the pitch asked for
    if fmt == "mirex":
        mirex.check(piece)
    result = _analyse(args, piece, options)
    text = result.render(fmt, mirex)
    output = getattr(args, "output", None)
    if output is None:
        sys.stdout.write(text)
        sys.stdout.flush()
    else:
        Path(output).write_text(text, encoding="utf-8")
    plot = getattr(args, "plot", None)
    if plot is not None:
        try:
            result.plot(plot)
        except ValueError as e:  # an unknown picture format
            raise PieceError(plot, str(e)) from None
        print(f"{PROG}: picture written to {plot}", file=sys.stderr)
    return 0


def _evaluate(args: argparse.Namespace) -> int:
    annotators = [a.strip() for a in args.annotators.split(",") if a.strip()] if "annotators" in args else None
    truth = load_ground_truth(args.ground_truth, annotators or None)
    mirex = _record(MirexOptions, args, pitch="mirex_pitch")
    encoding = getattr(args, "encoding", None)
    if encoding is not None:
        read_options = _record(ReadOptions, args, format="input_format")
        report = evaluate_file(truth, encoding, mirex, piece=getattr(args, "piece", None), read_options=read_options)
    else:
        options = _record(Options, args)
        result = _analyse(args, _piece(args, options.pitch), options)
        report = evaluate_result(truth, result, mirex)
    text = json.dumps(report, indent=1) + "\n"
    destination = getattr(args, "json_output", None)
    if destination == "-":
        sys.stdout.write(text)
        return 0
    if destination:
        Path(destination).write_text(text, encoding="utf-8")
    sys.stdout.write(format_text(report))
    return 0


def _batch(args: argparse.Namespace) -> int:
    options = _record(Options, args)
    quiet = getattr(args, "quiet", False)
    settings = dataclasses.replace(_record(batch.Settings, args), progress=False if quiet else None)
    interrupted = False
    try:
        rows = batch.run(args.inputs, args.out, options, settings)
    except batch.BatchInterrupted as e:
        rows, interrupted = e.rows, True
    bad = [row for row in rows if row["status"] in ("failed", "timeout")]
    if not quiet:
        for row in bad[:20]:
            print(f"{PROG}: {row['status']}: {row['error']}", file=sys.stderr)
        if len(bad) > 20:
            print(f"{PROG}: ... and {len(bad) - 20} more", file=sys.stderr)
        counts = ", ".join(
            f"{sum(row['status'] == s for row in rows)} {s}" for s in ("ok", "skipped", "failed", "timeout")
        )
        where = os.path.join(args.out, batch.SUMMARY)
        head = "interrupted after " if interrupted else ""
        print(f"{PROG}: {head}{plural(len(rows), 'piece')}: {counts}; summary in {where}", file=sys.stderr)
    if interrupted:
        return 130
    return 1 if bad else 0


_RUN: dict[str, Callable[[argparse.Namespace], int]] = {name: _single for name in OPERATIONS}
_RUN |= {"evaluate": _evaluate, "batch": _batch}


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command-line tool with ``argv`` (default: ``sys.argv[1:]``);
    return the exit status: 0 on success, 1 when a file cannot be read or
    written, 2 for a mistake on the command line (argparse exits), 130 after
    Ctrl-C. The one place where errors become messages."""
    parser = build_parser()
    args = parser.parse_args(_normalise_argv(parser, list(sys.argv[1:] if argv is None else argv)))
    try:
        return _RUN[args.command](args)
    except _UsageError as e:
        parser.error(str(e))
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    except (PieceError, MissingDependencyError) as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        where = f"{e.filename}: " if e.filename is not None else ""
        print(f"{PROG}: error: {where}{e.strerror or e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    raise SystemExit(main())
