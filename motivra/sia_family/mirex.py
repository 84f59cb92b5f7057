"""Patterns as notes, and the MIREX pattern file format.

A TEC of an encoding becomes one pattern of notes: its occurrences are the
pattern moved by the zero vector and by each translator (the pattern itself
first, then the translators in ascending order). For a TEC that RecurSIA
encoded again, the pattern is the set of points its sub-TECs cover. Each
occurrence is a set of points; it is written as notes in one of three forms:

- ``raw``: the notes its points stand for (:meth:`Piece.notes_at`);
- ``bbox``: every note of the piece inside the bounding box of its points;
- ``segment``: every note whose onset lies between its first and last onset.

The MIREX text format (task "Discovery of Repeated Themes & Sections") has a
line ``pattern1``, a line ``occurrence1``, then one ``onset, pitch`` line per
note, and so on; :func:`write_mirex` writes it and :func:`read_mirex` reads it
back, naming the file and line of anything malformed.
"""

from __future__ import annotations

import math
import os
import re
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from fractions import Fraction
from typing import Any, Literal, TextIO

from ._core import TranslationalEquivalence
from .io import Note, Piece, PieceError, PitchKind, Point

__all__ = [
    "OCCURRENCE_FORMS",
    "Timing",
    "MirexOptions",
    "Occurrence",
    "Pattern",
    "tec_occurrences",
    "note_patterns",
    "mirex_patterns",
    "write_mirex",
    "read_mirex",
    "snap_beats",
]

OccurrenceForm = Literal["raw", "bbox", "segment"]
OCCURRENCE_FORMS: tuple[OccurrenceForm, ...] = ("raw", "bbox", "segment")

_WRAP = 2**32


# ---------------------------------------------------------------------------
# TECs as patterns of notes


def pattern_points(tec: TranslationalEquivalence) -> set[Point]:
    """The points of a TEC's pattern: its own, or those its sub-TECs cover."""
    points = set(tec.pattern)
    for sub in tec.sub_tecs:
        points |= sub.coverage
    return points


def tec_occurrences(tec: TranslationalEquivalence) -> list[list[Point]]:
    """The occurrences of a TEC as sorted point lists: the pattern, then the
    pattern moved by each translator, translators in ascending order."""
    pattern = sorted(pattern_points(tec))
    occurrences = [pattern]
    for dt, dp in sorted(tec.translators):
        occurrences.append(sorted(((t + dt) % _WRAP, (p + dp) % _WRAP) for t, p in pattern))
    return occurrences


def occurrence_notes(piece: Piece, points: Sequence[Point], pitch: PitchKind, form: OccurrenceForm) -> list[Note]:
    """The notes that stand for an occurrence, in the chosen form."""
    if form == "raw" or not points:
        return piece.notes_of(points, pitch)
    first = min(t for t, _ in points)
    last = max(t for t, _ in points)
    span = piece.notes_between(first, last)
    if form == "segment":
        return span
    if form != "bbox":
        raise ValueError(f"occurrence form must be one of {', '.join(OCCURRENCE_FORMS)}, got {form!r}")
    low = min(p for _, p in points)
    high = max(p for _, p in points)
    return [n for n in span if low <= n.pitch(pitch) <= high]  # type: ignore[operator]


def note_patterns(
    piece: Piece, occurrence_lists: Iterable[Sequence[Sequence[Point]]], pitch: PitchKind, form: OccurrenceForm
) -> list[list[list[Note]]]:
    """Patterns of notes from patterns of point occurrences."""
    return [[occurrence_notes(piece, occ, pitch, form) for occ in occurrences] for occurrences in occurrence_lists]


def mtp_occurrences(vector: tuple[int, int], pattern: Sequence[Point]) -> list[list[Point]]:
    """The two occurrences of a maximal translatable pattern: itself and its image."""
    dt, dp = vector
    return [sorted(pattern), sorted(((t + dt) % _WRAP, (p + dp) % _WRAP) for t, p in pattern)]


# ---------------------------------------------------------------------------
# Onsets


@dataclass(frozen=True)
class Timing:
    """How onsets are written: in ``"beats"`` (tick / ticks_per_beat -
    offset_beats) or in ``"ticks"`` as read."""

    unit: Literal["beats", "ticks"] = "beats"
    ticks_per_beat: int | None = None
    offset_beats: Fraction = Fraction(0)

    def onset(self, tick: int) -> Fraction | int:
        if self.unit == "ticks":
            return tick
        if not self.ticks_per_beat:
            raise ValueError("ticks per beat unknown")
        return Fraction(tick, self.ticks_per_beat) - self.offset_beats


@dataclass(frozen=True)
class MirexOptions:
    """How a pattern file writes the notes of an encoding.

    - ``occurrences``: the notes of an occurrence: its own (``"raw"``), every note
      inside its bounding box (``"bbox"``), or every note between its first and
      last onset (``"segment"``).
    - ``onset``: onsets in ``"beats"`` (tick / ticks_per_beat - offset_beats) or in
      ``"ticks"`` as read.
    - ``ticks_per_beat``: ticks in a crotchet beat (``None``: the piece's own, from
      a MIDI or score file); ``offset_beats``: beats subtracted from every onset.
    - ``pitch``: MIDI pitch, or the notes' morphetic pitch.
    """

    occurrences: OccurrenceForm = "raw"
    onset: Literal["beats", "ticks"] = "beats"
    ticks_per_beat: int | None = None
    offset_beats: Fraction = Fraction(0)
    pitch: PitchKind = "midi"

    def __post_init__(self) -> None:
        if self.occurrences not in OCCURRENCE_FORMS:
            raise ValueError(f"occurrences must be one of {', '.join(OCCURRENCE_FORMS)}, got {self.occurrences!r}")
        if self.onset not in ("beats", "ticks"):
            raise ValueError(f"onset must be 'beats' or 'ticks', got {self.onset!r}")
        if self.ticks_per_beat is not None and self.ticks_per_beat <= 0:
            raise ValueError(f"ticks_per_beat must be positive, got {self.ticks_per_beat}")

    def ticks_per_beat_of(self, piece: Piece) -> int | None:
        return self.ticks_per_beat or piece.ticks_per_beat

    def timing(self, piece: Piece) -> Timing:
        return Timing(self.onset, self.ticks_per_beat_of(piece), Fraction(self.offset_beats))

    def check(self, piece: Piece) -> None:
        """Raise :class:`PieceError` when a pattern file of ``piece`` cannot be
        written with these options."""
        if self.pitch == "morphetic" and not piece.has_morph:
            raise PieceError(piece.source, "--mirex-pitch morphetic needs the morphetic pitch of every note")
        if self.onset == "beats" and not self.ticks_per_beat_of(piece):
            raise PieceError(
                piece.source,
                "onsets in beats need the ticks per beat, which a CSV file does "
                "not give: use --ticks-per-beat N (and --offset-beats B), "
                "or --onset ticks",
            )


def format_number(value: Fraction | int | float) -> str:
    """An onset or pitch as written in a MIREX file: integers plainly, other
    values as the shortest decimal that reads back as the same double."""
    if isinstance(value, Fraction) and value.denominator == 1 or isinstance(value, float) and value.is_integer():
        value = int(value)
    if isinstance(value, int):
        return str(value)
    return repr(float(value))


def snap_beats(value: float) -> Fraction:
    """An onset read from a file as the exact fraction it stands for: the
    nearest fraction with a denominator of at most 10000. Files that write
    thirds as 0.3333333333 (the JKU PDD's CSV files round to ten decimals)
    and as 0.3333333333333333 then agree."""
    return Fraction(value).limit_denominator(10000)


def mirex_patterns(
    patterns: Sequence[Sequence[Sequence[Note]]], timing: Timing, pitch: PitchKind = "midi"
) -> list[list[list[tuple[Fraction | int, int]]]]:
    """Patterns of notes as sorted, distinct ``(onset, pitch)`` pairs per occurrence."""
    out = []
    for occurrences in patterns:
        rows = []
        for notes in occurrences:
            pairs = {(n.tick, n.midi if pitch == "midi" else n.morph) for n in notes}
            rows.append([(timing.onset(t), p) for t, p in sorted(pairs) if p is not None])
        out.append(rows)
    return out


def write_mirex(out: TextIO, patterns: Sequence[Sequence[Sequence[tuple[Any, Any]]]]) -> None:
    """Write patterns of ``(onset, pitch)`` occurrences in the MIREX format."""
    for i, occurrences in enumerate(patterns, start=1):
        out.write(f"pattern{i}\n")
        for j, notes in enumerate(occurrences, start=1):
            out.write(f"occurrence{j}\n")
            for onset, pitch in notes:
                out.write(f"{format_number(onset)}, {format_number(pitch)}\n")


# ---------------------------------------------------------------------------
# Reading pattern files


@dataclass
class Occurrence:
    """The notes of one occurrence as read, with where each came from."""

    notes: list[tuple[Any, Any]] = field(default_factory=list)
    where: list[str] = field(default_factory=list)
    source: str = ""


@dataclass
class Pattern:
    label: str
    occurrences: list[Occurrence] = field(default_factory=list)
    where: str = ""


_HEADER = re.compile(r"(pattern|occurrence)\s*(\S*)", re.IGNORECASE)


def read_mirex(path: str | os.PathLike[str]) -> list[Pattern]:
    """Read a MIREX pattern file into patterns of ``(onset, pitch)`` floats.

    Raises :class:`PieceError` naming the file and line of a line that is
    neither ``patternN``, ``occurrenceN`` nor ``onset, pitch``, of a note
    before the first occurrence, of a pattern without occurrences or an
    occurrence without notes, and when the file holds no pattern.
    """
    patterns: list[Pattern] = []
    header_line: dict[int, int] = {}  # id(occurrence) -> line
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except UnicodeDecodeError as e:
        raise PieceError(path, f"not a text file ({e.reason} at byte {e.start})") from None
    except IsADirectoryError:
        raise PieceError(path, "is a directory, not a pattern file") from None

    def check(pattern: Pattern | None) -> None:
        if pattern is None:
            return
        if not pattern.occurrences:
            raise PieceError(path, f"{pattern.where}: pattern '{pattern.label}' has no occurrences")
        last = pattern.occurrences[-1]
        if not last.notes:
            raise PieceError(path, f"line {header_line[id(last)]}: occurrence without notes")

    current: Pattern | None = None
    for number, text in enumerate(lines, start=1):
        line = text.strip()
        if not line:
            continue
        header = _HEADER.fullmatch(line)
        if header and header.group(1).lower() == "pattern":
            check(current)
            current = Pattern(label=line, where=f"line {number}")
            patterns.append(current)
            continue
        if header:
            if current is None:
                raise PieceError(path, f"line {number}: 'occurrence' before the first 'pattern' line")
            if current.occurrences and not current.occurrences[-1].notes:
                last = current.occurrences[-1]
                raise PieceError(path, f"line {header_line[id(last)]}: occurrence without notes")
            occurrence = Occurrence(source=os.fspath(path))
            header_line[id(occurrence)] = number
            current.occurrences.append(occurrence)
            continue
        fields = [x.strip() for x in line.split(",")]
        try:
            if len(fields) != 2:
                raise ValueError
            onset, pitch = float(fields[0]), float(fields[1])
            if not (math.isfinite(onset) and math.isfinite(pitch)):
                raise ValueError
        except ValueError:
            raise PieceError(
                path,
                f"line {number}: expected 'onset, pitch' with two numbers, 'patternN' or 'occurrenceN', got {line!r}",
            ) from None
        if current is None or not current.occurrences:
            raise PieceError(path, f"line {number}: a note before the first 'occurrence' line")
        current.occurrences[-1].notes.append((onset, int(pitch) if pitch.is_integer() else pitch))
        current.occurrences[-1].where.append(f"line {number}")
    check(current)
    if not patterns:
        raise PieceError(path, "no patterns: expected lines 'pattern1', 'occurrence1', then 'onset, pitch' per note")
    return patterns


def looks_like_json(path: str | os.PathLike[str]) -> bool:
    """Whether a file starts, after white space, with ``{``."""
    try:
        with open(path, "rb") as f:
            head = f.read(256).lstrip()
    except IsADirectoryError:
        return False
    return head.startswith(b"{")
