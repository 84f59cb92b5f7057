"""Evaluation of discovered patterns against patterns annotated by analysts.

``motivra-sia evaluate`` compares the patterns of an encoding (run on a piece,
or read from a JSON or MIREX file written earlier) with a ground truth, using
the pattern metrics of ``mir_eval.pattern`` (the ``eval`` extra): standard,
establishment, occurrence (thresholds .75 and .5) and three-layer precision,
recall and F1, and the first-five-patterns measures.

Ground truths:

- a MIREX pattern file (onsets in beats);
- a folder of the JKU Patterns Development Database, laid out as
  ``repeatedPatterns/<annotator>/<label>/occurrences/csv/occN.csv`` (lines
  ``onset, pitch[, ...]``) or ``.../occurrences/lisp/occN.txt`` (lines
  ``(onset midi morph duration staff)``), onsets in beats;
- a JSON file ``{"ticks_per_beat", "offset_beats", "patterns": [{"annotator",
  "label", "in_mirex_eval", "occurrences": [[[tick, pitch], ...], ...]}]}``,
  onsets in ticks; only patterns with ``in_mirex_eval`` true count.

Both sides are brought to exact onsets in beats (fractions) and MIDI pitch,
every note of the ground truth is checked to be a note of the piece, and the
metrics are computed in the ground truth's own units.
"""

from __future__ import annotations

import importlib
import json
import os
import re
import warnings
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from fractions import Fraction
from pathlib import Path
from typing import Any

from ._core import TranslationalEquivalence
from .errors import PieceError, import_optional
from .io import Piece, PitchKind, Point, ReadOptions
from .mirex import (
    MirexOptions,
    Occurrence,
    Pattern,
    format_number,
    looks_like_json,
    mtp_occurrences,
    note_patterns,
    read_mirex,
    snap_beats,
    tec_occurrences,
)
from .results import Result

__all__ = [
    "GroundTruth",
    "load_ground_truth",
    "scores",
    "evaluate",
    "evaluate_result",
    "evaluate_file",
    "format_text",
    "SCORE_NAMES",
]

EVAL_EXTRA = "pip install 'motivra-sia-family[eval]'"

EVALUATION_SCHEMA = "motivra.sia_family/evaluation-v1"

#: The measures, under the names that ``mir_eval.pattern.evaluate`` gives them.
SCORE_NAMES = (
    "F_est",
    "P_est",
    "R_est",
    "F_occ.75",
    "P_occ.75",
    "R_occ.75",
    "F_occ.5",
    "P_occ.5",
    "R_occ.5",
    "F_3",
    "P_3",
    "R_3",
    "F",
    "P",
    "R",
    "FFP",
    "FFTP_est",
)

Onset = Fraction | int | float


@dataclass
class GroundTruth:
    """Annotated patterns as read, in the units of their file."""

    source: str
    patterns: list[Pattern]
    unit: str  # "ticks" or "beats"
    ticks_per_beat: int | None = None
    offset_beats: Fraction = Fraction(0)

    def exact(self, value: Onset) -> Fraction:
        """An onset of this file as exact beats."""
        if self.unit == "ticks":
            return Fraction(int(value), self.ticks_per_beat or 1) - self.offset_beats
        return value if isinstance(value, Fraction) else snap_beats(float(value))

    def own(self, beats: Fraction) -> Onset:
        """Exact beats as an onset in this file's units."""
        if self.unit == "ticks":
            tick = (beats + self.offset_beats) * (self.ticks_per_beat or 1)
            return int(tick) if tick.denominator == 1 else float(tick)
        return float(beats)


# ---------------------------------------------------------------------------
# Reading ground truths


def load_ground_truth(path: str | os.PathLike[str], annotators: Sequence[str] | None = None) -> GroundTruth:
    """Read a ground truth: a JKU PDD folder, a JSON file or a MIREX file."""
    if os.path.isdir(path):
        return _read_folder(path, annotators)
    if not os.path.exists(path):
        raise PieceError(path, "No such file or directory")
    if looks_like_json(path):
        return _read_json(path, annotators)
    return GroundTruth(os.fspath(path), read_mirex(path), "beats")


def _read_json(path: str | os.PathLike[str], annotators: Sequence[str] | None) -> GroundTruth:
    try:
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
    except json.JSONDecodeError as e:
        raise PieceError(path, f"line {e.lineno}: not valid JSON ({e.msg})") from None
    except UnicodeDecodeError as e:
        raise PieceError(path, f"not a text file ({e.reason} at byte {e.start})") from None
    if not isinstance(doc, dict) or not isinstance(doc.get("patterns"), list):
        raise PieceError(path, 'expected a JSON object with a list "patterns"')
    tpb = doc.get("ticks_per_beat")
    offset = doc.get("offset_beats", 0)
    if tpb is not None and (not isinstance(tpb, int) or isinstance(tpb, bool) or tpb <= 0):
        raise PieceError(path, f'"ticks_per_beat" must be a positive integer, got {tpb!r}')
    if not isinstance(offset, (int, float, str)) or isinstance(offset, bool):
        raise PieceError(path, f'"offset_beats" must be a number, got {offset!r}')
    patterns = []
    for i, item in enumerate(doc["patterns"]):
        where = f"patterns[{i}]"
        if not isinstance(item, dict) or not isinstance(item.get("occurrences"), list):
            raise PieceError(path, f'{where}: expected an object with a list "occurrences"')
        if not item.get("in_mirex_eval", True):
            continue
        annotator = str(item.get("annotator", ""))
        if annotators and annotator not in annotators:
            continue
        label = "/".join(str(x) for x in (item.get("annotator"), item.get("label")) if x is not None)
        pattern = Pattern(label=label or where, where=where)
        for j, occ in enumerate(item["occurrences"]):
            occurrence = Occurrence(source=os.fspath(path))
            if not isinstance(occ, list) or not occ:
                raise PieceError(
                    path, f"{where}.occurrences[{j}] ({label}): expected a non-empty list of [tick, pitch]"
                )
            for k, point in enumerate(occ):
                if (
                    not isinstance(point, list)
                    or len(point) != 2
                    or not all(isinstance(x, int) and not isinstance(x, bool) for x in point)
                ):
                    raise PieceError(
                        path,
                        f"{where}.occurrences[{j}][{k}] ({label}): expected "
                        f"[tick, pitch] with two integers, got {point!r}",
                    )
                occurrence.notes.append((point[0], point[1]))
                occurrence.where.append(f"{where}.occurrences[{j}][{k}] ({label})")
            pattern.occurrences.append(occurrence)
        if not pattern.occurrences:
            raise PieceError(path, f"{where} ({label}): a pattern without occurrences")
        patterns.append(pattern)
    if not patterns:
        raise PieceError(
            path,
            'no patterns to evaluate against (none is marked "in_mirex_eval"'
            + (" for the annotators asked for" if annotators else "")
            + ")",
        )
    return GroundTruth(os.fspath(path), patterns, "ticks", tpb, Fraction(str(offset)))


_OCC = re.compile(r"occ(\d+)\.(csv|txt)", re.IGNORECASE)


def _read_folder(path: str | os.PathLike[str], annotators: Sequence[str] | None) -> GroundTruth:
    root = Path(path)
    if (root / "repeatedPatterns").is_dir():
        root = root / "repeatedPatterns"
    patterns = []
    for annotator in sorted(p for p in root.iterdir() if p.is_dir()):
        if annotators and annotator.name not in annotators:
            continue
        for label in sorted(p for p in annotator.iterdir() if p.is_dir()):
            folder = label / "occurrences"
            files: list[Path] = []
            for kind, suffix in (("csv", ".csv"), ("lisp", ".txt")):
                sub = folder / kind
                if sub.is_dir():
                    files = [f for f in sub.iterdir() if _OCC.fullmatch(f.name) and f.suffix == suffix]
                    if files:
                        break
            if not files:
                continue
            files.sort(key=lambda f: int(_OCC.fullmatch(f.name).group(1)))  # type: ignore[union-attr]
            pattern = Pattern(label=f"{annotator.name}/{label.name}", where=os.fspath(label))
            pattern.occurrences = [_read_occurrence(f) for f in files]
            patterns.append(pattern)
    if not patterns:
        raise PieceError(
            path,
            "no patterns found: expected files repeatedPatterns/<annotator>/"
            "<label>/occurrences/csv/occN.csv (or lisp/occN.txt)"
            + (f" for the annotators {', '.join(annotators)}" if annotators else ""),
        )
    return GroundTruth(os.fspath(path), patterns, "beats")


def _read_occurrence(path: Path) -> Occurrence:
    occurrence = Occurrence(source=os.fspath(path))
    lisp = path.suffix == ".txt"
    try:
        lines = path.read_text(encoding="utf-8").splitlines()
    except UnicodeDecodeError as e:
        raise PieceError(path, f"not a text file ({e.reason} at byte {e.start})") from None
    for number, text in enumerate(lines, start=1):
        line = text.strip()
        if lisp:
            line = line.strip("()")
            fields = line.split()
        else:
            fields = [x.strip() for x in line.split(",")]
        if not line:
            continue
        try:
            if len(fields) < 2:
                raise ValueError
            onset: Onset = Fraction(fields[0]) if lisp else float(fields[0])
            value = float(fields[1])
            pitch: int | float = int(value) if value.is_integer() else value
        except (ValueError, ZeroDivisionError):
            form = "(onset midi morph duration staff)" if lisp else "onset, pitch"
            raise PieceError(path, f"line {number}: expected '{form}', got {text.strip()!r}") from None
        occurrence.notes.append((onset, pitch))
        occurrence.where.append(f"line {number}")
    if not occurrence.notes:
        raise PieceError(path, "an occurrence without notes")
    return occurrence


# ---------------------------------------------------------------------------
# Estimates


@dataclass
class Estimate:
    """Discovered patterns as occurrences of exact ``(beats, MIDI pitch)``."""

    source: str
    patterns: list[list[list[tuple[Fraction, Any]]]]
    info: dict[str, Any] = field(default_factory=dict)


def piece_estimate(
    piece: Piece,
    occurrence_lists: Sequence[Sequence[Sequence[Point]]],
    pitch: str,
    form: str,
    beats: Callable[[int], Fraction],
    info: dict[str, Any],
) -> Estimate:
    """The estimate of point occurrences found in a piece: their notes in the
    chosen form, as exact beats and MIDI pitch."""
    patterns = note_patterns(piece, occurrence_lists, pitch, form)  # type: ignore[arg-type]
    out = [[sorted({(beats(n.tick), n.midi) for n in notes}) for notes in occurrences] for occurrences in patterns]
    return Estimate(piece.source, out, info)


def tecs_from_json(tecs: list[dict[str, Any]]) -> list[TranslationalEquivalence]:
    def build(doc: dict[str, Any]) -> TranslationalEquivalence:
        return TranslationalEquivalence(
            [tuple(p) for p in doc["pattern"]],
            {tuple(v) for v in doc["translators"]},
            [build(sub) for sub in doc.get("sub_tecs", [])],
        )

    return [build(t) for t in tecs]


def encoding_occurrences(path: str | os.PathLike[str]) -> tuple[dict[str, Any], list[list[list[Point]]]]:
    """The JSON document written by ``--format json`` and its patterns as point occurrences."""
    try:
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
    except json.JSONDecodeError as e:
        raise PieceError(path, f"line {e.lineno}: not valid JSON ({e.msg})") from None
    if not isinstance(doc, dict) or not str(doc.get("schema", "")).startswith("motivra.sia_family/encoding"):
        raise PieceError(
            path,
            'not an encoding written by \'motivra-sia --format json\' (no "schema": "motivra.sia_family/encoding-v1")',
        )
    try:
        if "mtps" in doc:
            return doc, [mtp_occurrences(tuple(m["vector"]), [tuple(p) for p in m["pattern"]]) for m in doc["mtps"]]
        return doc, [tec_occurrences(t) for t in tecs_from_json(doc["tecs"])]
    except (KeyError, TypeError, ValueError) as e:
        raise PieceError(path, f"malformed encoding: {e}") from None


# ---------------------------------------------------------------------------
# Metrics


def scores(reference: list[Any], estimate: list[Any]) -> dict[str, float]:
    """The pattern measures of ``mir_eval.pattern`` for two pattern lists in
    the format of ``mir_eval.io.load_patterns``. The occurrence measures are
    computed at both thresholds here: ``mir_eval.pattern.evaluate`` (0.8.2)
    hands its threshold on under a name ``occurrence_FPR`` ignores."""
    import_optional("mir_eval", "evaluating patterns", extra=EVAL_EXTRA)
    metrics = importlib.import_module("mir_eval.pattern")

    out: dict[str, float] = {}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # empty pattern lists and numpy's empty means
        out["F_est"], out["P_est"], out["R_est"] = metrics.establishment_FPR(reference, estimate)
        for c in (0.75, 0.5):
            name = f"occ.{str(c)[2:]}"
            out[f"F_{name}"], out[f"P_{name}"], out[f"R_{name}"] = metrics.occurrence_FPR(reference, estimate, thres=c)
        out["F_3"], out["P_3"], out["R_3"] = metrics.three_layer_FPR(reference, estimate)
        out["F"], out["P"], out["R"] = metrics.standard_FPR(reference, estimate)
        ffp = metrics.first_n_three_layer_P(reference, estimate, n=5)
        fftp = metrics.first_n_target_proportion_R(reference, estimate, n=5)
    # With an empty side these two return a triple of zeros instead of one number.
    out["FFP"] = 0.0 if isinstance(ffp, tuple) else ffp
    out["FFTP_est"] = 0.0 if isinstance(fftp, tuple) else fftp
    return {name: float(out[name]) for name in SCORE_NAMES}


def check_against_piece(truth: GroundTruth, piece: Piece, beats: Callable[[int], Fraction], hint: str) -> None:
    """Every note of the ground truth must be a note of the piece."""
    notes = {(beats(n.tick), n.midi) for n in piece.notes}
    for pattern in truth.patterns:
        for occ in pattern.occurrences:
            for (onset, pitch), where in zip(occ.notes, occ.where):
                if (truth.exact(onset), pitch) not in notes:
                    raise PieceError(
                        occ.source,
                        f"{where}: the note ({format_number(onset)}, {format_number(pitch)}) of pattern "
                        f"'{pattern.label}' is not a note of the piece "
                        f"{piece.source}{hint}",
                    )


def evaluate(truth: GroundTruth, estimate: Estimate) -> dict[str, float]:
    """The measures of an estimate against a ground truth, in the ground truth's units."""
    reference = [
        [[(truth.own(truth.exact(o)), p) for o, p in occ.notes] for occ in pattern.occurrences]
        for pattern in truth.patterns
    ]
    est = [[[(truth.own(o), p) for o, p in occ] for occ in pattern] for pattern in estimate.patterns]
    return scores(reference, est)


# ---------------------------------------------------------------------------
# Reports


def evaluate_result(truth: GroundTruth, result: Result, options: MirexOptions = MirexOptions()) -> dict[str, Any]:
    """Score the patterns of a result against a ground truth; the report (schema
    ``motivra.sia_family/evaluation-v1``) names both sides and holds the
    measures under ``"scores"``. ``options`` say how occurrences become notes and
    how ticks become beats (``options.pitch`` does not matter: the measures are
    computed in MIDI pitch, as ground truths are written)."""
    info: dict[str, Any] = {"occurrence_form": options.occurrences}
    info.update(algorithm=result.algorithm, compression_ratio=result.compression_ratio())
    return _report(truth, options, info, result.piece, result.pitch, result.occurrence_lists())


def evaluate_file(
    truth: GroundTruth,
    encoding: str | os.PathLike[str],
    options: MirexOptions = MirexOptions(),
    *,
    piece: str | os.PathLike[str] | None = None,
    read_options: ReadOptions = ReadOptions(),
) -> dict[str, Any]:
    """Score an encoding written earlier against a ground truth: a JSON file
    written by ``--format json`` (whose notes come from ``piece``, or from the
    file the encoding names) or a MIREX pattern file (``piece`` optional). The
    report is that of :func:`evaluate_result`."""
    info: dict[str, Any] = {"occurrence_form": options.occurrences}
    if not looks_like_json(encoding):
        info.update(encoding=os.fspath(encoding))
        notes = read_options.read(piece, "midi") if piece else None
        return _report(truth, options, info, notes, "midi", None, read_mirex(encoding), os.fspath(encoding))
    doc, occurrence_lists = encoding_occurrences(encoding)
    pitch = doc.get("pitch", "midi")
    source = piece or doc.get("piece", {}).get("source")
    if not source or not os.path.exists(source):
        raise PieceError(
            encoding,
            f"the notes of the piece are needed: give PIECE (the encoding names {source!r}, which does not exist)",
        )
    notes = read_options.read(source, pitch)
    info.update(algorithm=doc.get("algorithm"), encoding=os.fspath(encoding))
    if doc.get("encoding"):
        info["compression_ratio"] = doc["encoding"].get("compression_ratio")
    known = set(notes.points(pitch))
    for occurrences in occurrence_lists:
        for point in occurrences[0]:
            if point not in known:
                raise PieceError(
                    encoding, f"the point {list(point)} of the encoding is not a point of {source} in {pitch} pitch"
                )
    return _report(truth, options, info, notes, pitch, occurrence_lists)


def _report(
    truth: GroundTruth,
    options: MirexOptions,
    info: dict[str, Any],
    piece: Piece | None,
    pitch: PitchKind,
    occurrence_lists: list[list[list[Point]]] | None,
    mirex_estimate: list[Pattern] | None = None,
    encoding: str = "",
) -> dict[str, Any]:
    """Check the estimate against the ground truth and score it."""
    info["pitch"] = pitch
    offset = options.offset_beats
    # The time unit of the piece: its own ticks per beat, or those given, or
    # (for a ground truth in ticks) the ground truth's.
    tpb: int | None = options.ticks_per_beat or (piece.ticks_per_beat if piece else None)
    same_ticks = tpb is None and truth.unit == "ticks"
    if same_ticks:
        tpb, offset = truth.ticks_per_beat or 1, truth.offset_beats
    needs_tpb = piece is not None or (mirex_estimate is not None and options.onset == "ticks")
    if needs_tpb and tpb is None:
        where = piece.source if piece else encoding
        raise PieceError(
            where,
            "the ticks per beat are unknown (a CSV file does not say): give "
            "--ticks-per-beat N, and --offset-beats B if the ticks are shifted",
        )
    in_ticks = piece is not None or options.onset == "ticks"
    if truth.unit == "ticks" and truth.ticks_per_beat is None and not (same_ticks and in_ticks):
        raise PieceError(truth.source, 'the ground truth is in ticks but does not give "ticks_per_beat"')

    def beats(tick: int) -> Fraction:
        return Fraction(tick, tpb) - offset

    if piece is not None:
        hint = (
            ""
            if options.ticks_per_beat is None and piece.ticks_per_beat is None and truth.unit == "ticks"
            else f" (onsets read with {tpb} ticks per beat and an offset of {offset} beats: "
            f"check --ticks-per-beat and --offset-beats)"
        )
        check_against_piece(truth, piece, beats, hint)
    if occurrence_lists is not None:
        assert piece is not None
        estimate = piece_estimate(piece, occurrence_lists, pitch, options.occurrences, beats, info)
    else:
        assert mirex_estimate is not None
        exact: Callable[[float], Fraction] = snap_beats
        if options.onset == "ticks":

            def exact(v: float) -> Fraction:
                return beats(int(v))

        estimate = Estimate(
            encoding,
            [[sorted({(exact(o), p) for o, p in occ.notes}) for occ in pat.occurrences] for pat in mirex_estimate],
            info,
        )
    measures = evaluate(truth, estimate)
    return {
        "schema": EVALUATION_SCHEMA,
        "ground_truth": {
            "source": truth.source,
            "unit": truth.unit,
            "patterns": [p.label for p in truth.patterns],
            "occurrences": sum(len(p.occurrences) for p in truth.patterns),
        },
        "estimate": {
            "source": estimate.source,
            **info,
            "patterns": len(estimate.patterns),
            "occurrences": sum(len(p) for p in estimate.patterns),
            **({"notes": len(piece)} if piece is not None else {}),
        },
        "scores": measures,
    }


_ROWS = (
    ("establishment", "est"),
    ("occurrence (c = .75)", "occ.75"),
    ("occurrence (c = .5)", "occ.5"),
    ("three-layer", "3"),
    ("standard", ""),
)


def format_text(report: dict[str, Any]) -> str:
    """The report of :func:`evaluate_result` as a table of precision, recall and F1."""
    truth, est, s = report["ground_truth"], report["estimate"], report["scores"]
    lines = [
        f"ground truth: {truth['source']}: {len(truth['patterns'])} patterns, "
        f"{truth['occurrences']} occurrences, onsets in {truth['unit']}"
    ]
    what = est.get("algorithm") or "patterns"
    details = ([f"{est['notes']} notes"] if "notes" in est else []) + [
        f"{est['pitch']} pitch",
        f"{est['occurrence_form']} occurrences",
    ]
    lines.append(f"estimate: {what} of {est['source']} ({', '.join(details)}): {est['patterns']} patterns")
    if est.get("compression_ratio") is not None:
        lines.append(f"compression ratio: {est['compression_ratio']:.4f}")
    lines.append(f"{'':22}{'precision':>10}{'recall':>8}{'F1':>8}")
    for title, key in _ROWS:
        suffix = f"_{key}" if key else ""
        lines.append(f"{title:22}{s['P' + suffix]:>10.3f}{s['R' + suffix]:>8.3f}{s['F' + suffix]:>8.3f}")
    lines.append(f"first five patterns: three-layer precision {s['FFP']:.3f}, establishment recall {s['FFTP_est']:.3f}")
    return "\n".join(lines) + "\n"
