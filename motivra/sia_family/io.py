"""Reading pieces of music into ``(tick, pitch)`` points.

The algorithms of :mod:`motivra.sia_family` work on a set of points, one per
note: its onset time in integer ticks and its pitch as an integer. This module
turns the files that researchers start from into such points:

- CSV files of ``tick,pitch`` rows (:func:`read_csv`);
- standard MIDI files (:func:`read_midi`, needs ``mido``);
- MusicXML and the other score formats that ``partitura`` reads, such as
  compressed MusicXML (``.mxl``), MEI and Humdrum kern (:func:`read_score`),
  with MIDI pitch or morphetic pitch.

:func:`read_piece` picks the reader from the file name. Every reader returns the
distinct points of the piece sorted by ``(tick, pitch)``, the order that
:func:`~motivra.sia_family.build_tecs_from_mtps_sweepline` requires. A file
that cannot be read raises :class:`PieceError`, whose message names the file
and the problem; a missing optional library raises
:class:`MissingDependencyError`, which says what to install.

:func:`as_points` converts a numpy array of shape ``(n, 2)`` or any sequence of
pairs into the list of ``(int, int)`` tuples that the algorithms take.
"""

from __future__ import annotations

import csv
import operator
import os
import warnings
from collections.abc import Callable, Iterable
from contextvars import ContextVar
from pathlib import Path
from typing import Any, Literal

__all__ = [
    "Point",
    "PitchKind",
    "PieceError",
    "MissingDependencyError",
    "FORMATS",
    "as_points",
    "morphetic_pitch",
    "read_csv",
    "read_midi",
    "read_score",
    "read_piece",
    "detect_format",
]

Point = tuple[int, int]
PitchKind = Literal["midi", "morphetic"]

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

_IO_EXTRA = "pip install 'motivra-sia-family[io]'"


class PieceError(ValueError):
    """A piece file could not be read; the message names the file and the problem."""

    def __init__(self, path: str | os.PathLike[str], problem: str) -> None:
        self.path = os.fspath(path)
        self.problem = problem
        super().__init__(f"{self.path}: {problem}")


class MissingDependencyError(ImportError):
    """An optional library needed for this input or output is not installed."""


def _import_optional(module: str, purpose: str, extra: str = _IO_EXTRA) -> Any:
    try:
        with warnings.catch_warnings():
            # Some score libraries import deprecated standard modules; that is
            # their concern, not the reader's.
            warnings.simplefilter("ignore", DeprecationWarning)
            return __import__(module)
    except ImportError as e:
        raise MissingDependencyError(
            f"{purpose} needs the optional library {module!r}, which is not installed; install it with: {extra}"
        ) from e


# ---------------------------------------------------------------------------
# Conversions


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


# ---------------------------------------------------------------------------
# Readers


#: When set, called with the number of notes of every piece read in this context,
#: before equal points are merged; the batch runner counts notes with it and may
#: raise from it to stop reading a piece that is too large.
note_count_hook: ContextVar[Callable[[int], None] | None] = ContextVar("note_count_hook", default=None)


def _finish(points: Iterable[Point]) -> list[Point]:
    points = list(points)
    hook = note_count_hook.get()
    if hook is not None:
        hook(len(points))
    return sorted(set(points))


def read_csv(path: str | os.PathLike[str]) -> list[Point]:
    """Read a CSV file of ``tick,pitch`` rows into sorted distinct points.

    Each row holds two non-negative integers (at most 4294967295). A header row
    (such as ``tick,pitch``) as the first row, blank lines and lines starting
    with ``#`` are skipped. Any other malformed row raises :class:`PieceError`
    naming the file and the line.
    """
    points: list[Point] = []
    try:
        with open(path, encoding="utf-8", newline="") as f:
            for number, row in enumerate(csv.reader(f), start=1):
                fields = [field.strip() for field in row]
                if not fields or fields == [""] or fields[0].startswith("#"):
                    continue
                try:
                    tick, pitch = (int(field) for field in fields)
                except ValueError:
                    if not points and not any(c.isdigit() for c in fields[0]):
                        continue  # header row
                    raise PieceError(
                        path, f"line {number}: expected 'tick,pitch' with two integers, got {','.join(row)!r}"
                    ) from None
                try:
                    tick, pitch = _coordinate(tick, "tick"), _coordinate(pitch, "pitch")
                except ValueError as e:
                    raise PieceError(path, f"line {number}: {e}") from None
                points.append((tick, pitch))
    except UnicodeDecodeError as e:
        raise PieceError(path, f"not a text file ({e.reason} at byte {e.start})") from None
    except csv.Error as e:
        raise PieceError(path, f"malformed CSV: {e}") from None
    return _finish(points)


def read_midi(path: str | os.PathLike[str], *, include_drums: bool = False) -> list[Point]:
    """Read a standard MIDI file into sorted distinct ``(tick, MIDI pitch)`` points.

    Every note-on event with a non-zero velocity in every track gives one point:
    its onset in the file's own ticks (counted from the start of its track, not
    rescaled to beats or seconds) and its MIDI note number (middle C = 60). The
    tracks of a type 1 file play together; the tracks of a type 2 file are read
    the same way, each starting at tick 0. Notes on MIDI channel 10 (the General
    MIDI drum channel, ``channel == 9`` counting from 0) are left out unless
    ``include_drums`` is true.

    Needs the optional library ``mido`` (the ``io`` extra). Raises
    :class:`PieceError` when the file is not a valid MIDI file.
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
    points: list[Point] = []
    for track in midi.tracks:
        tick = 0
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0:
                if message.channel == DRUM_CHANNEL and not include_drums:
                    continue
                points.append((tick, message.note))
    too_late = [p for p in points if p[0] > MAX_COORDINATE]
    if too_late:
        raise PieceError(path, f"note onset at tick {too_late[0][0]} exceeds {MAX_COORDINATE}")
    return _finish(points)


def read_score(path: str | os.PathLike[str], *, pitch: PitchKind = "midi") -> list[Point]:
    """Read a MusicXML file (or another score format) into sorted distinct points.

    Reads every part of the score with ``partitura`` (the ``io`` extra):
    MusicXML (``.musicxml``, ``.xml``, compressed ``.mxl``), MEI (``.mei``) and
    Humdrum kern (``.krn``). The tick of a note is its onset in the score's
    divisions of a quarter note, unified over all parts (the smallest unit in
    which every onset is a whole number); tied notes count once, at the onset of
    the first note of the tie; the first note starts at tick 0 or later.

    ``pitch`` chooses the pitch coordinate: ``"midi"`` for the MIDI note number
    (middle C = 60), or ``"morphetic"`` for the morphetic pitch computed from the
    spelled note by :func:`morphetic_pitch` (A0 = 0, middle C = 23), which keeps
    a pattern and its diatonic transpositions apart from chromatic accidents
    and is what pattern discovery in tonal music usually uses.

    Raises :class:`PieceError` when the score cannot be read.
    """
    if pitch not in ("midi", "morphetic"):
        raise ValueError(f"pitch must be 'midi' or 'morphetic', got {pitch!r}")
    partitura = _import_optional("partitura", "reading MusicXML and other score files")
    if os.path.isdir(path):
        raise PieceError(path, "is a directory, not a score file")
    if not os.path.exists(path):
        raise FileNotFoundError(2, "No such file or directory", os.fspath(path))
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            score = partitura.load_score(os.fspath(path))
            notes = score.note_array(include_pitch_spelling=True)
    except Exception as e:  # the library raises many kinds for a bad file
        problem = str(e).strip().splitlines()[0] if str(e).strip() else type(e).__name__
        raise PieceError(path, f"cannot read the score: {problem}") from None
    if len(notes) == 0:
        return _finish([])
    onsets = [int(t) for t in notes["onset_div"]]
    shift = -min(min(onsets), 0)  # a pickup may start before 0
    if pitch == "midi":
        pitches = [int(p) for p in notes["pitch"]]
    else:
        pitches = [morphetic_pitch(str(s), int(o)) for s, o in zip(notes["step"], notes["octave"])]
    if min(pitches) < 0:
        raise PieceError(path, f"a note lies below A0 (morphetic pitch {min(pitches)})")
    return _finish((t + shift, p) for t, p in zip(onsets, pitches))


def detect_format(path: str | os.PathLike[str]) -> str:
    """The input format (``"csv"``, ``"midi"`` or ``"score"``) for a file name,
    from its suffix; raises :class:`PieceError` for an unknown suffix."""
    suffix = Path(path).suffix.lower()
    for name, suffixes in FORMATS.items():
        if suffix in suffixes:
            return name
    known = " ".join(s for suffixes in FORMATS.values() for s in suffixes)
    raise PieceError(path, f"unknown file type {suffix or '(no suffix)'!r}; expected one of: {known}")


def read_piece(
    path: str | os.PathLike[str], *, pitch: PitchKind = "midi", include_drums: bool = False, format: str | None = None
) -> list[Point]:
    """Read any supported file into sorted distinct ``(tick, pitch)`` points.

    The format is taken from the file name (see :data:`FORMATS`) unless
    ``format`` is ``"csv"``, ``"midi"`` or ``"score"``. ``pitch`` applies to
    score files (see :func:`read_score`); MIDI files carry no spelling, so they
    only give MIDI pitch, and CSV pitches are taken as written: asking for
    ``"morphetic"`` with either raises :class:`PieceError`. ``include_drums``
    applies to MIDI files (see :func:`read_midi`).

    >>> from motivra.sia_family import cosiatec_compress
    >>> tecs = cosiatec_compress(read_piece("theme.mid"))  # doctest: +SKIP
    """
    if format is None:
        format = detect_format(path)
    elif format not in FORMATS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, got {format!r}")
    if pitch not in ("midi", "morphetic"):
        raise ValueError(f"pitch must be 'midi' or 'morphetic', got {pitch!r}")
    if pitch == "morphetic" and format != "score":
        what = "a MIDI file has no pitch spelling" if format == "midi" else "CSV pitches are used as written"
        raise PieceError(path, f"morphetic pitch needs a score file with spelled notes ({what})")
    if format == "csv":
        return read_csv(path)
    if format == "midi":
        return read_midi(path, include_drums=include_drums)
    return read_score(path, pitch=pitch)
