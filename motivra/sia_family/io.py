"""Reading pieces of music: one loader, one importer per file format, one model.

A researcher sees a piece as notes, with a MIDI pitch, a spelled (morphetic)
pitch, a duration and a staff; the algorithms see its distinct ``(tick, pitch)``
points. :func:`read` reads any supported file into a :class:`Piece`, which holds
every note and gives the points of either pitch (:meth:`Piece.points`), sorted
by ``(tick, pitch)`` as :func:`~motivra.sia_family.build_tecs_from_mtps_sweepline`
requires, and maps points back to the notes they stand for
(:meth:`Piece.notes_at`). A point stands for every note with its onset and
pitch: in morphetic pitch, an F and an F sharp sounding together are one point
and two notes.

:func:`read` picks the importer from the file name (see :data:`FORMATS`):

- :func:`import_csv`: CSV files of ``tick,pitch`` points, or of notes
  ``tick,midi,morph[,duration,staff]``;
- :func:`import_midi`: standard MIDI files (needs ``mido``), spelled into
  morphetic pitch on request with the PS13 estimator of partitura
  (:func:`spell_morphetic`);
- :func:`import_score`: MusicXML and the other score formats that ``partitura``
  reads (compressed ``.mxl``, MEI, Humdrum kern), with their own spelling.

Every failure raises :class:`PieceError`, whose message names the file (and the
line) and the problem, a missing file and a folder included; a missing optional
library raises :class:`MissingDependencyError`, which says what to install.

Morphetic pitch numbers: notes spelled by this package use :func:`morphetic_pitch`,
A0 = 0 and middle C = 23; a CSV file's ``morph`` column is used as written (the
JKU Patterns Development Database numbers middle C as 60, 37 more).
Translations, and so the patterns, do not depend on the numbering.

:func:`as_points` converts a numpy array of shape ``(n, 2)`` or any sequence of
pairs into the list of ``(int, int)`` tuples that the algorithms take.

References
----------
.. [1] D. Meredith, "The ps13 pitch spelling algorithm", Journal of New Music
   Research 35(2), 2006.
"""

from __future__ import annotations

import bisect
import csv
import operator
import os
import warnings
from collections.abc import Callable, Iterable, Sequence
from contextvars import ContextVar
from dataclasses import dataclass
from fractions import Fraction
from pathlib import Path
from typing import Any, Literal

from .errors import MissingDependencyError, PieceError, import_optional

__all__ = [
    "Point",
    "PitchKind",
    "PITCHES",
    "Note",
    "Piece",
    "ReadOptions",
    "PieceError",
    "MissingDependencyError",
    "FORMATS",
    "read",
    "import_csv",
    "import_midi",
    "import_score",
    "read_piece",
    "detect_format",
    "as_points",
    "morphetic_pitch",
    "spell_morphetic",
]

Point = tuple[int, int]
PitchKind = Literal["midi", "morphetic"]
PITCHES: tuple[PitchKind, ...] = ("midi", "morphetic")

#: Largest coordinate of a point: ticks and pitches are unsigned 32-bit integers.
MAX_COORDINATE = 2**32 - 1

#: The MIDI channel (0-based) that General MIDI reserves for drums.
DRUM_CHANNEL = 9

#: Input formats and the file name suffixes that select them.
FORMATS: dict[str, tuple[str, ...]] = {
    "csv": (".csv", ".txt"),
    "midi": (".mid", ".midi", ".smf", ".kar"),
    "score": (".musicxml", ".xml", ".mxl", ".mei", ".krn", ".kern"),
}

#: Names of the columns of a notes CSV file, in their order.
CSV_COLUMNS = ("tick", "midi", "morph", "duration", "staff")


# ---------------------------------------------------------------------------
# Coordinates


def _coordinate(value: Any, what: str) -> int:
    if isinstance(value, float):
        if not value.is_integer():
            raise ValueError(f"{what} must be an integer, got {value!r}")
        number = int(value)
    else:
        try:
            number = operator.index(value)
        except TypeError:
            raise TypeError(f"{what} must be an integer, got {type(value).__name__}") from None
    if not 0 <= number <= MAX_COORDINATE:
        raise ValueError(f"{what} must lie in 0..{MAX_COORDINATE}, got {number}")
    return number


def as_points(data: Any) -> list[Point]:
    """Convert point data into the list of ``(tick, pitch)`` tuples that the
    algorithms take.

    ``data`` is a numpy array of shape ``(n, 2)`` (integer dtype, or floating
    point holding whole numbers) or any iterable of pairs. Every coordinate must
    be a whole number in 0..4294967295. The order and any repeated points are
    kept; sort with ``sorted(set(...))`` for the sweepline builder.

    >>> import numpy as np
    >>> as_points(np.array([[0, 60], [4, 62]]))
    [(0, 60), (4, 62)]

    Raises ``ValueError`` for a wrong shape or an out-of-range value and
    ``TypeError`` for values that are not numbers.
    """
    shape = getattr(data, "shape", None)
    if shape is not None and hasattr(data, "dtype") and hasattr(data, "tolist"):
        if len(shape) != 2 or shape[1] != 2:
            raise ValueError(f"expected an array of shape (n, 2), got shape {tuple(shape)}")
        if data.dtype.kind not in "iuf":
            raise TypeError(f"expected an array of integers, got dtype {data.dtype}")
        data = data.tolist()
    if isinstance(data, (str, bytes)):
        raise TypeError("expected a sequence of (tick, pitch) pairs, got a string")
    points: list[Point] = []
    for i, item in enumerate(data):
        try:
            tick, pitch = item
        except (TypeError, ValueError):
            raise ValueError(f"point {i}: expected a (tick, pitch) pair, got {item!r}") from None
        points.append((_coordinate(tick, f"point {i}: tick"), _coordinate(pitch, f"point {i}: pitch")))
    return points


_DIATONIC_INDEX = {"C": 0, "D": 1, "E": 2, "F": 3, "G": 4, "A": 5, "B": 6}


def morphetic_pitch(step: str, octave: int) -> int:
    """Morphetic pitch of a spelled note: its position on the staff, counted in
    diatonic steps.

    ``morphetic_pitch = 7 * octave + index(step) - 5`` with the step indices
    C=0, D=1, E=2, F=3, G=4, A=5, B=6 and the octave of scientific pitch
    notation (middle C is C4). The offset makes A0, the lowest piano key, 0:
    C4 is 23, A4 is 28, C8 is 51. Accidentals do not matter (C#4, C4 and Cb4
    are all 23) and the octave is the written one (B#3 is 22 although it
    sounds as C4). Translations, and hence every pattern the algorithms find,
    do not depend on the offset; add 37 to get the morphetic pitch numbers with
    C4 = 60 used by the JKU Patterns Development Database.

    >>> morphetic_pitch("A", 0), morphetic_pitch("C", 4), morphetic_pitch("E", 4)
    (0, 23, 25)
    """
    try:
        index = _DIATONIC_INDEX[step.upper()]
    except (KeyError, AttributeError):
        raise ValueError(f"unknown note step {step!r}: expected one of C D E F G A B") from None
    return 7 * int(octave) + index - 5


def _check_pitch(pitch: str) -> PitchKind:
    if pitch == "midi":
        return "midi"
    if pitch == "morphetic":
        return "morphetic"
    raise ValueError(f"pitch must be 'midi' or 'morphetic', got {pitch!r}")


# ---------------------------------------------------------------------------
# The model: notes and pieces


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


def _note_key(note: Note) -> tuple[int, int, int, int, int]:
    return (
        note.tick,
        note.midi,
        -1 if note.morph is None else note.morph,
        -1 if note.duration is None else note.duration,
        -1 if note.staff is None else note.staff,
    )


class Piece:
    """The notes of a piece, with the time unit they were read in.

    ``source`` names the file (or the bundled piece); ``ticks_per_beat`` is the
    number of ticks in a crotchet beat when the file says (MIDI files, scores),
    else ``None``. ``notes`` are sorted.
    """

    def __init__(self, source: str, notes: Iterable[Note], ticks_per_beat: int | None = None) -> None:
        self.source = source
        self.notes: list[Note] = sorted(notes, key=_note_key)
        self.ticks_per_beat = ticks_per_beat
        self._ticks = [n.tick for n in self.notes]
        self._index: dict[str, dict[Point, list[Note]]] = {}

    @classmethod
    def from_points(cls, source: str, points: Iterable[Point], ticks_per_beat: int | None = None) -> Piece:
        """A piece of one note per distinct point, its pitch taken as MIDI pitch."""
        return cls(source, (Note(t, p) for t, p in set(points)), ticks_per_beat)

    def __len__(self) -> int:
        return len(self.notes)

    def __repr__(self) -> str:
        return f"<Piece {self.source!r}: {len(self.notes)} notes>"

    @property
    def has_morph(self) -> bool:
        """Whether every note has a morphetic pitch."""
        return all(n.morph is not None for n in self.notes)

    def _by_point(self, kind: PitchKind) -> dict[Point, list[Note]]:
        index = self._index.get(kind)
        if index is None:
            _check_pitch(kind)
            index = {}
            for note in self.notes:
                pitch = note.pitch(kind)
                if pitch is None:
                    raise PieceError(
                        self.source, f"the note at tick {note.tick} (MIDI pitch {note.midi}) has no morphetic pitch"
                    )
                index.setdefault((note.tick, pitch), []).append(note)
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


# ---------------------------------------------------------------------------
# Importers: one per format, each returning a Piece

#: When set, called with the number of notes of every piece read in this context,
#: before equal points are merged; the batch runner counts notes with it and may
#: raise from it to stop reading a piece that is too large.
note_count_hook: ContextVar[Callable[[int], None] | None] = ContextVar("note_count_hook", default=None)


def _counted(count: int) -> None:
    hook = note_count_hook.get()
    if hook is not None:
        hook(count)


def _text_problem(e: UnicodeDecodeError) -> str:
    return f"not a text file ({e.reason} at byte {e.start})"


def import_csv(path: str | os.PathLike[str]) -> Piece:
    """Read a CSV file of points or of notes.

    With two columns, each row is a ``tick,pitch`` point, its pitch taken as MIDI
    pitch; equal points count once. With three to five columns each row is a note
    ``tick,midi,morph[,duration,staff]``: integers, the ``morph`` field may be
    empty when the spelling is not known. Coordinates are integers in
    0..4294967295. A header row (such as ``tick,pitch``) as the first row, blank
    lines and lines starting with ``#`` are skipped; every row must have the
    same number of fields as the first. Raises :class:`PieceError` naming the
    file and the line of a bad row.
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
        raise PieceError(path, _text_problem(e)) from None
    except csv.Error as e:
        raise PieceError(path, f"malformed CSV: {e}") from None
    rows = [r for r in rows if r[1]]
    width = len(rows[0][1]) if rows else 2
    if width == 2:
        return _csv_points(path, rows)
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
        tick, midi, *rest = values
        assert tick is not None and midi is not None  # the two columns that may not be empty
        notes.append(Note(tick, midi, *rest))
    _counted(len(notes))
    return Piece(os.fspath(path), notes)


def _csv_points(path: str | os.PathLike[str], rows: Sequence[tuple[int, list[str]]]) -> Piece:
    points: list[Point] = []
    for number, fields in rows:
        try:
            tick, pitch = (int(field) for field in fields)
        except ValueError:
            raise PieceError(
                path, f"line {number}: expected 'tick,pitch' with two integers, got {','.join(fields)!r}"
            ) from None
        try:
            points.append((_coordinate(tick, "tick"), _coordinate(pitch, "pitch")))
        except ValueError as e:
            raise PieceError(path, f"line {number}: {e}") from None
    _counted(len(points))
    return Piece.from_points(os.fspath(path), points)


def spell_morphetic(ticks: Sequence[int], midis: Sequence[int], durations: Sequence[int] | None = None) -> list[int]:
    """Morphetic pitch (A0 = 0) of unspelled notes, estimated with the PS13
    pitch-spelling algorithm [1]_ as partitura implements it
    (``partitura.musicanalysis.estimate_spelling``).

    The estimate depends on the order of the notes in time and on their pitch
    classes only; each note is spelled in the context of its neighbours."""
    if not ticks:
        return []
    import_optional("partitura", "spelling MIDI notes into morphetic pitch")
    import numpy as np  # partitura depends on it

    notes = np.zeros(len(ticks), dtype=[("onset_div", "i8"), ("duration_div", "i8"), ("pitch", "i8")])
    notes["onset_div"] = ticks
    notes["pitch"] = midis
    notes["duration_div"] = durations if durations is not None else 1
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        analysis = import_optional("partitura.musicanalysis", "spelling MIDI notes into morphetic pitch")
        spelling = analysis.estimate_spelling(notes)
    return [morphetic_pitch(str(s), int(o)) for s, o in zip(spelling["step"], spelling["octave"])]


def import_midi(path: str | os.PathLike[str], *, spell: bool = False, include_drums: bool = False) -> Piece:
    """Read the notes of a standard MIDI file (needs ``mido``, the ``io`` extra).

    Every note-on event with a non-zero velocity in every track gives one note:
    its onset in the file's own ticks (counted from the start of its track, not
    rescaled to beats or seconds), its MIDI note number (middle C = 60), its
    duration up to the matching note-off (``None`` when there is none) and the
    number of its track as its staff, from 0. The tracks of a type 1 file play
    together; the tracks of a type 2 file are read the same way, each starting at
    tick 0. Notes on MIDI channel 10 (the General MIDI drum channel,
    ``channel == 9`` counting from 0) are left out unless ``include_drums``.
    With ``spell`` the notes get a morphetic pitch from :func:`spell_morphetic`.
    ``ticks_per_beat`` is the file's ticks per quarter note.
    """
    mido = import_optional("mido", "reading MIDI files")
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
    _counted(len(raw))
    return Piece(os.fspath(path), (Note(t, p, m, d, s) for (t, p, d, s), m in zip(raw, morphs)), midi.ticks_per_beat)


def import_score(path: str | os.PathLike[str]) -> Piece:
    """Read the notes of a score with partitura (the ``io`` extra), with their
    own spelling.

    Reads every part: MusicXML (``.musicxml``, ``.xml``, compressed ``.mxl``),
    MEI (``.mei``) and Humdrum kern (``.krn``). The tick of a note is its onset in
    the score's divisions of a quarter note, unified over all parts (the
    smallest unit in which every onset is a whole number); tied notes count
    once, at the onset of the first note of the tie; the first note starts at
    tick 0 or later. The morphetic pitch comes from the spelled note by
    :func:`morphetic_pitch` (A0 = 0; ``None`` for a note below A0); staves are
    numbered from 1 through the parts in order. ``ticks_per_beat`` is the
    divisions per quarter note.
    """
    partitura = import_optional("partitura", "reading MusicXML and other score files")
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            score = partitura.load_score(os.fspath(path))
            array = score.note_array(include_pitch_spelling=True, include_staff=True, include_divs_per_quarter=True)
    except Exception as e:  # the library raises many kinds for a bad file
        problem = str(e).strip().splitlines()[0] if str(e).strip() else type(e).__name__
        raise PieceError(path, f"cannot read the score: {problem}") from None
    _counted(len(array))
    if len(array) == 0:
        return Piece(os.fspath(path), [])
    shift = -min(min(int(t) for t in array["onset_div"]), 0)  # a pickup may start before 0
    staves: dict[tuple[str, int], int] = {}
    notes = []
    for row in array:
        part = str(row["id"]).split("_", 1)[0]
        staff = staves.setdefault((part, int(row["staff"])), len(staves) + 1)
        morph: int | None = morphetic_pitch(str(row["step"]), int(row["octave"]))
        if morph is not None and morph < 0:
            morph = None
        notes.append(Note(int(row["onset_div"]) + shift, int(row["pitch"]), morph, int(row["duration_div"]), staff))
    return Piece(os.fspath(path), notes, int(array["divs_pq"][0]))


# ---------------------------------------------------------------------------
# The loader


def detect_format(path: str | os.PathLike[str]) -> str:
    """The input format (``"csv"``, ``"midi"`` or ``"score"``) for a file name,
    from its suffix; raises :class:`PieceError` for an unknown suffix."""
    suffix = Path(path).suffix.lower()
    for name, suffixes in FORMATS.items():
        if suffix in suffixes:
            return name
    known = " ".join(s for suffixes in FORMATS.values() for s in suffixes)
    raise PieceError(path, f"unknown file type {suffix or '(no suffix)'!r}; expected one of: {known}")


def _check_format(format: str | None) -> str | None:
    if format is not None and format not in FORMATS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, got {format!r}")
    return format


def _format_of(path: str | os.PathLike[str], format: str | None) -> str:
    """The format of a piece file; a folder gets one message whatever its name."""
    if os.path.isdir(path):
        raise PieceError(path, "is a folder, not a piece file")
    return _check_format(format) or detect_format(path)


def read(
    path: str | os.PathLike[str], *, pitch: PitchKind = "midi", include_drums: bool = False, format: str | None = None
) -> Piece:
    """Read the notes of any supported file into a :class:`Piece`.

    The format follows the file name (see :data:`FORMATS`) unless ``format`` is
    ``"csv"``, ``"midi"`` or ``"score"``. ``pitch="morphetic"`` asks for notes
    with a morphetic pitch: a MIDI file is spelled (:func:`spell_morphetic`),
    a CSV file must have a ``morph`` column, a score always has its own
    spelling. ``include_drums`` keeps the drums of a MIDI file.

    >>> piece = read("tests/data/invention1.mid")  # doctest: +SKIP
    >>> points = piece.points("midi")  # doctest: +SKIP

    Raises :class:`PieceError`, naming the file and the problem, for any file
    that cannot be read (missing, a folder, malformed), and
    :class:`MissingDependencyError` when the format needs a library that is
    not installed.
    """
    _check_pitch(pitch)
    fmt = _format_of(path, format)
    if not os.path.exists(path):
        raise PieceError(path, "No such file or directory")
    try:
        if fmt == "csv":
            piece = import_csv(path)
        elif fmt == "midi":
            piece = import_midi(path, spell=pitch == "morphetic", include_drums=include_drums)
        else:
            piece = import_score(path)
    except OSError as e:  # unreadable, or gone since the checks above
        raise PieceError(path, e.strerror or str(e)) from None
    if pitch == "morphetic" and not piece.has_morph:
        if fmt == "csv":
            raise PieceError(
                path,
                "morphetic pitch needs a score file, a MIDI file or a CSV "
                "file with a morph column (tick,midi,morph); this CSV "
                "file has no morphetic pitch for every note",
            )
        if fmt == "score":
            low = min(n.midi for n in piece.notes if n.morph is None)
            raise PieceError(path, f"a note lies below A0 (MIDI pitch {low}) and has no morphetic pitch")
    return piece


@dataclass(frozen=True)
class ReadOptions:
    """How to read pieces: the format whatever the suffix (``None``: from the
    suffix) and whether to keep the drums of MIDI files; see :func:`read`."""

    format: str | None = None
    include_drums: bool = False

    def __post_init__(self) -> None:
        _check_format(self.format)

    def read(self, path: str | os.PathLike[str], pitch: PitchKind = "midi") -> Piece:
        """:func:`read` with these options."""
        return read(path, pitch=pitch, include_drums=self.include_drums, format=self.format)


def read_piece(
    path: str | os.PathLike[str], *, pitch: PitchKind = "midi", include_drums: bool = False, format: str | None = None
) -> list[Point]:
    """The sorted distinct ``(tick, pitch)`` points of a file: ``read(...).points(pitch)``,
    except that morphetic pitch is refused for files without a spelling of
    their own (MIDI and CSV files; :func:`read` spells a MIDI file).

    >>> from motivra.sia_family import cosiatec_compress
    >>> tecs = cosiatec_compress(read_piece("theme.mid"))  # doctest: +SKIP
    """
    fmt = _format_of(path, format)
    if _check_pitch(pitch) == "morphetic" and fmt != "score":
        what = "a MIDI file has no pitch spelling" if fmt == "midi" else "CSV pitches are used as written"
        raise PieceError(path, f"morphetic pitch needs a score file with spelled notes ({what})")
    return read(path, pitch=pitch, include_drums=include_drums, format=fmt).points(pitch)
