"""The notes behind the points.

The algorithms see a piece as its distinct ``(tick, pitch)`` points; a
researcher sees notes, with a MIDI pitch, a spelled (morphetic) pitch, a
duration and a staff. This module keeps the notes: :class:`Piece` holds every
note of a file, gives the points of either pitch representation
(:meth:`Piece.points`) and maps points back to the notes they stand for
(:meth:`Piece.notes_at`). A point stands for every note with its onset and its
pitch: in morphetic pitch, an F and an F sharp sounding together are one point
and two notes, so a pattern found in morphetic pitch is reported with both.

Readers (:func:`read_notes` picks one from the file name):

- CSV with the columns ``tick,midi,morph[,duration,staff]`` (one note a row),
  or the plain ``tick,pitch`` CSV, whose pitch is taken as MIDI pitch;
- standard MIDI files, spelled into morphetic pitch on request with the PS13
  pitch-spelling estimator of partitura (:func:`spell_morphetic`);
- scores (MusicXML, MEI, kern), which keep their own spelling.

Morphetic pitch numbers: notes spelled by this package (MIDI files, scores) use
:func:`~motivra.sia_family.io.morphetic_pitch`, A0 = 0 and middle C = 23; a
CSV file's ``morph`` column is used as written (the JKU Patterns Development
Database numbers middle C as 60, 37 more). Translations, and so the patterns,
do not depend on the numbering.
"""

from __future__ import annotations

import bisect
import csv
import importlib
import os
import warnings
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from fractions import Fraction

from .io import (
    DRUM_CHANNEL,
    FORMATS,
    MAX_COORDINATE,
    PieceError,
    PitchKind,
    Point,
    _coordinate,
    _import_optional,
    detect_format,
    morphetic_pitch,
    note_count_hook,
    read_csv,
)

__all__ = ["Note", "Piece", "read_notes", "read_notes_csv", "read_notes_midi", "read_notes_score", "spell_morphetic"]

#: Names of the optional columns of a notes CSV file, in their order.
CSV_COLUMNS = ("tick", "midi", "morph", "duration", "staff")


@dataclass(frozen=True, slots=True)
class Note:
    """One note: onset in ticks, MIDI pitch, morphetic pitch (``None`` when
    not known), duration in ticks and staff (``None`` when not known)."""

    tick: int
    midi: int
    morph: int | None = None
    duration: int | None = None
    staff: int | None = None

    def pitch(self, kind: PitchKind) -> int | None:
        return self.midi if kind == "midi" else self.morph


class Piece:
    """The notes of a piece, with the time unit they were read in.

    ``ticks_per_beat`` is the number of ticks in a crotchet beat when the file
    says (MIDI files, scores), else ``None``. ``notes`` are sorted.
    """

    def __init__(self, source: str, notes: Iterable[Note], ticks_per_beat: int | None = None) -> None:
        self.source = source
        self.notes: list[Note] = sorted(notes, key=_note_key)
        self.ticks_per_beat = ticks_per_beat
        self._ticks = [n.tick for n in self.notes]
        self._index: dict[str, dict[Point, list[Note]]] = {}

    def __len__(self) -> int:
        return len(self.notes)

    @property
    def has_morph(self) -> bool:
        return all(n.morph is not None for n in self.notes)

    def _by_point(self, kind: PitchKind) -> dict[Point, list[Note]]:
        index = self._index.get(kind)
        if index is None:
            if kind == "morphetic" and not self.has_morph:
                missing = next(n for n in self.notes if n.morph is None)
                raise PieceError(
                    self.source, f"the note at tick {missing.tick} (MIDI pitch {missing.midi}) has no morphetic pitch"
                )
            index = {}
            for note in self.notes:
                index.setdefault((note.tick, note.pitch(kind)), []).append(note)  # type: ignore[arg-type]
            self._index[kind] = index
        return index

    def points(self, kind: PitchKind = "midi") -> list[Point]:
        """The distinct points of the piece in one pitch representation, sorted."""
        return sorted(self._by_point(kind))

    def notes_at(self, point: Point, kind: PitchKind = "midi") -> list[Note]:
        """The notes that a point stands for (empty when it is no point of the piece)."""
        return self._by_point(kind).get(point, [])

    def notes_of(self, points: Iterable[Point], kind: PitchKind = "midi") -> list[Note]:
        """The notes that some points stand for, sorted."""
        index = self._by_point(kind)
        return sorted((n for p in set(points) for n in index.get(p, ())), key=_note_key)

    def notes_between(self, first: int, last: int) -> list[Note]:
        """The notes whose onset lies between two ticks, both included, sorted."""
        return self.notes[bisect.bisect_left(self._ticks, first) : bisect.bisect_right(self._ticks, last)]

    def beats(self, tick: int, offset_beats: Fraction = Fraction(0)) -> Fraction:
        """A tick as an exact onset in beats: ``tick / ticks_per_beat - offset_beats``."""
        if self.ticks_per_beat is None:
            raise PieceError(self.source, "the ticks per beat of this piece are unknown")
        return Fraction(tick, self.ticks_per_beat) - offset_beats


def _note_key(note: Note) -> tuple[int, int, int, int, int]:
    return (
        note.tick,
        note.midi,
        -1 if note.morph is None else note.morph,
        -1 if note.duration is None else note.duration,
        -1 if note.staff is None else note.staff,
    )


# ---------------------------------------------------------------------------
# Readers


def _read(path: str | os.PathLike[str], notes: Iterable[Note], ticks_per_beat: int | None = None) -> Piece:
    """The piece of a file's notes, told to the batch runner's note counter first."""
    notes = list(notes)
    hook = note_count_hook.get()
    if hook is not None:
        hook(len(notes))
    return Piece(os.fspath(path), notes, ticks_per_beat=ticks_per_beat)


def read_notes_csv(path: str | os.PathLike[str]) -> Piece:
    """Read a CSV file of notes.

    With three to five columns, each row is ``tick,midi,morph[,duration,staff]``:
    integers, the ``morph`` field may be empty when the spelling is not known.
    With two columns it is the plain ``tick,pitch`` file of
    :func:`~motivra.sia_family.io.read_csv`, one note per distinct point, its
    pitch taken as MIDI pitch. A header row, blank lines and ``#`` comments are
    skipped; every row must have the same number of fields as the first.
    Raises :class:`PieceError` naming the file and line of a bad row.
    """
    rows: list[tuple[int, list[str]]] = []
    try:
        with open(path, encoding="utf-8", newline="") as f:
            for number, row in enumerate(csv.reader(f), start=1):
                fields = [field.strip() for field in row]
                if not fields or fields == [""] or fields[0].startswith("#"):
                    continue
                if not rows and not any(c.isdigit() for c in fields[0]):
                    rows.append((number, []))  # header row
                    continue
                rows.append((number, fields))
    except UnicodeDecodeError as e:
        raise PieceError(path, f"not a text file ({e.reason} at byte {e.start})") from None
    except csv.Error as e:
        raise PieceError(path, f"malformed CSV: {e}") from None
    rows = [r for r in rows if r[1]]
    if not rows or len(rows[0][1]) == 2:
        return Piece(os.fspath(path), (Note(t, p) for t, p in read_csv(path)))
    width = len(rows[0][1])
    if not 3 <= width <= 5:
        raise PieceError(
            path, f"line {rows[0][0]}: expected 2 columns (tick,pitch) or 3 to 5 ({','.join(CSV_COLUMNS)}), got {width}"
        )
    notes = []
    for number, fields in rows:
        if len(fields) != width:
            raise PieceError(
                path,
                f"line {number}: expected {width} fields like the first row "
                f"({','.join(CSV_COLUMNS[:width])}), got {len(fields)}",
            )
        values: list[int | None] = []
        for name, field in zip(CSV_COLUMNS, fields):
            if field == "" and name != "tick" and name != "midi":
                values.append(None)
                continue
            try:
                values.append(_coordinate(int(field), name))
            except ValueError as e:
                problem = e if field.lstrip("-").isdigit() else f"{name} must be an integer, got {field!r}"
                raise PieceError(path, f"line {number}: {problem}") from None
        notes.append(Note(*values))  # type: ignore[arg-type]
    return _read(path, notes)


def spell_morphetic(ticks: Sequence[int], midis: Sequence[int], durations: Sequence[int] | None = None) -> list[int]:
    """Morphetic pitch (A0 = 0) of unspelled notes, estimated with the PS13
    pitch-spelling algorithm as partitura implements it
    (``partitura.musicanalysis.estimate_spelling``).

    The estimate depends on the order of the notes in time and on their pitch
    classes only; each note is spelled in the context of its neighbours."""
    if not ticks:
        return []
    _import_optional("partitura", "spelling MIDI notes into morphetic pitch")
    import numpy as np  # partitura depends on it

    notes = np.zeros(len(ticks), dtype=[("onset_div", "i8"), ("duration_div", "i8"), ("pitch", "i8")])
    notes["onset_div"] = ticks
    notes["pitch"] = midis
    notes["duration_div"] = durations if durations is not None else 1
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        spelling = importlib.import_module("partitura.musicanalysis").estimate_spelling(notes)
    return [morphetic_pitch(str(s), int(o)) for s, o in zip(spelling["step"], spelling["octave"])]


def read_notes_midi(path: str | os.PathLike[str], *, spell: bool = False, include_drums: bool = False) -> Piece:
    """Read the notes of a standard MIDI file (needs ``mido``).

    Onsets are read like :func:`~motivra.sia_family.io.read_midi` does; the
    duration runs to the matching note-off (``None`` when there is none) and
    the staff is the number of the track, from 0. With ``spell`` the notes get
    a morphetic pitch from :func:`spell_morphetic`. ``ticks_per_beat`` is the
    file's ticks per quarter note.
    """
    mido = _import_optional("mido", "reading MIDI files")
    try:
        with open(path, "rb") as f:
            if os.fstat(f.fileno()).st_size == 0:
                raise PieceError(path, "not a valid MIDI file: the file is empty")
            try:
                midi = mido.MidiFile(file=f, clip=False)
            except (OSError, EOFError, ValueError, KeyError, IndexError, TypeError) as e:
                problem = str(e) or type(e).__name__
                if isinstance(e, EOFError):
                    problem = "the file ends in the middle of a chunk"
                raise PieceError(path, f"not a valid MIDI file: {problem}") from None
    except IsADirectoryError:
        raise PieceError(path, "is a directory, not a MIDI file") from None
    raw: list[tuple[int, int, int | None, int]] = []  # tick, midi, duration, track
    for number, track in enumerate(midi.tracks):
        tick = 0
        sounding: dict[tuple[int, int], list[int]] = {}  # (channel, note) -> indices into raw
        for message in track:
            tick += message.time
            if message.type not in ("note_on", "note_off"):
                continue
            if message.channel == DRUM_CHANNEL and not include_drums:
                continue
            key = (message.channel, message.note)
            if message.type == "note_on" and message.velocity > 0:
                sounding.setdefault(key, []).append(len(raw))
                raw.append((tick, message.note, None, number))
            elif sounding.get(key):
                i = sounding[key].pop(0)
                start, note, _, track_number = raw[i]
                raw[i] = (start, note, tick - start, track_number)
    late = [r[0] for r in raw if r[0] > MAX_COORDINATE]
    if late:
        raise PieceError(path, f"note onset at tick {late[0]} exceeds {MAX_COORDINATE}")
    morphs: list[int | None] = [None] * len(raw)
    if spell and raw:
        morphs = list(spell_morphetic([r[0] for r in raw], [r[1] for r in raw]))
        if min(m for m in morphs if m is not None) < 0:
            raise PieceError(path, "a note lies below A0 and has no morphetic pitch")
    notes = (Note(t, p, m, d, s) for (t, p, d, s), m in zip(raw, morphs))
    return _read(path, notes, midi.ticks_per_beat)


def read_notes_score(path: str | os.PathLike[str]) -> Piece:
    """Read the notes of a score with partitura, with their own spelling.

    Ticks are the score's divisions of a quarter note, as in
    :func:`~motivra.sia_family.io.read_score`; the morphetic pitch comes from
    the spelled note (A0 = 0); staves are numbered from 1 through the parts in
    order. ``ticks_per_beat`` is the divisions per quarter note.
    """
    partitura = _import_optional("partitura", "reading MusicXML and other score files")
    if os.path.isdir(path):
        raise PieceError(path, "is a directory, not a score file")
    if not os.path.exists(path):
        raise FileNotFoundError(2, "No such file or directory", os.fspath(path))
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            score = partitura.load_score(os.fspath(path))
            array = score.note_array(include_pitch_spelling=True, include_staff=True, include_divs_per_quarter=True)
    except Exception as e:  # the library raises many kinds for a bad file
        problem = str(e).strip().splitlines()[0] if str(e).strip() else type(e).__name__
        raise PieceError(path, f"cannot read the score: {problem}") from None
    if len(array) == 0:
        return _read(path, [])
    shift = -min(min(int(t) for t in array["onset_div"]), 0)  # a pickup may start before 0
    staves: dict[tuple[str, int], int] = {}
    notes = []
    for row in array:
        part = str(row["id"]).split("_", 1)[0]
        staff = staves.setdefault((part, int(row["staff"])), len(staves) + 1)
        morph = morphetic_pitch(str(row["step"]), int(row["octave"]))
        if morph < 0:
            raise PieceError(path, f"a note lies below A0 (morphetic pitch {morph})")
        notes.append(Note(int(row["onset_div"]) + shift, int(row["pitch"]), morph, int(row["duration_div"]), staff))
    return _read(path, notes, int(array["divs_pq"][0]))


def read_notes(
    path: str | os.PathLike[str], *, pitch: PitchKind = "midi", include_drums: bool = False, format: str | None = None
) -> Piece:
    """Read the notes of any supported file; the format follows the file name
    unless ``format`` is ``"csv"``, ``"midi"`` or ``"score"``.

    With ``pitch="morphetic"``, a MIDI file is spelled (:func:`spell_morphetic`)
    and a CSV file must have a ``morph`` column (a ``tick,pitch`` file raises
    :class:`PieceError`); scores are always spelled.
    """
    if format is None:
        format = detect_format(path)
    elif format not in FORMATS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, got {format!r}")
    if pitch not in ("midi", "morphetic"):
        raise ValueError(f"pitch must be 'midi' or 'morphetic', got {pitch!r}")
    piece: Piece
    if format == "csv":
        piece = read_notes_csv(path)
        if pitch == "morphetic" and piece.notes and not piece.has_morph:
            raise PieceError(
                path,
                "morphetic pitch needs a score file, a MIDI file or a CSV "
                "file with a morph column (tick,midi,morph); this CSV "
                "file has no morphetic pitch for every note",
            )
    elif format == "midi":
        piece = read_notes_midi(path, spell=pitch == "morphetic", include_drums=include_drums)
    else:
        piece = read_notes_score(path)
    return piece


def as_piece(source: str, points: Iterable[Point], ticks_per_beat: int | None = None) -> Piece:
    """A piece of one note per point, its pitch taken as MIDI pitch."""
    return Piece(source, (Note(t, p) for t, p in points), ticks_per_beat)


def coordinates_of(notes: Iterable[Note], kind: PitchKind) -> list[Point]:
    """The distinct ``(tick, pitch)`` of some notes, sorted."""
    return sorted({(n.tick, n.pitch(kind)) for n in notes})  # type: ignore[misc]
