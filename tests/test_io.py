"""Reading pieces into points: CSV, MIDI, MusicXML, numpy arrays."""

import sys

import pytest

from conftest import DATA, load_piece
from motivra.sia_family import example_piece
from motivra.sia_family.io import (
    MissingDependencyError,
    PieceError,
    as_points,
    detect_format,
    morphetic_pitch,
    read_csv,
    read_midi,
    read_piece,
    read_score,
)

BUNDLED = example_piece.points()


def spelled_onsets():
    """(tick, note name) of every onset of the bundled piece, ties resolved."""
    out = []
    for bars in example_piece.VOICES.values():
        for number, bar in enumerate(bars):
            tick = number * example_piece.TICKS_PER_BAR
            for token in bar.split():
                note, duration = token.split(":")
                if note not in ("r", "~"):
                    out.append((tick, note))
                tick += example_piece._DURATIONS[duration]
    return out


# --- conversions -----------------------------------------------------------

def test_as_points_numpy_and_sequences():
    np = pytest.importorskip("numpy")
    assert as_points(np.array([[5, 60], [0, 62], [5, 60]], dtype=np.uint32)) == [(5, 60), (0, 62), (5, 60)]
    assert as_points(np.array([[0.0, 60.0]])) == [(0, 60)]
    assert as_points(np.empty((0, 2), dtype=np.int64)) == []
    assert as_points([[1, 2], (3, 4)]) == [(1, 2), (3, 4)]
    assert all(type(c) is int for p in as_points(np.array([[1, 2]])) for c in p)


@pytest.mark.parametrize("bad, error, message", [
    ("np.zeros((3,))", ValueError, "shape (n, 2)"),
    ("np.zeros((2, 3))", ValueError, "shape (n, 2)"),
    ("np.array([[0.5, 60]])", ValueError, "integer"),
    ("np.array([[-1, 60]])", ValueError, "0..4294967295"),
    ("np.array([[2**32, 60]], dtype=np.uint64)", ValueError, "0..4294967295"),
    ("np.array([['a', 'b']])", TypeError, "dtype"),
    ("[(1, 2, 3)]", ValueError, "pair"),
    ("[('1', 2)]", TypeError, "integer"),
    ("'12'", TypeError, "string"),
])
def test_as_points_rejects(bad, error, message):
    np = pytest.importorskip("numpy")
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        as_points(eval(bad, {"np": np}))


@pytest.mark.parametrize("step, octave, value", [
    ("A", 0, 0), ("B", 0, 1), ("C", 1, 2), ("C", 4, 23), ("E", 4, 25), ("A", 4, 28),
    ("C", 8, 51), ("c", 4, 23),
])
def test_morphetic_pitch(step, octave, value):
    assert morphetic_pitch(step, octave) == value


def test_morphetic_pitch_ignores_accidentals_and_keeps_written_octave():
    # B#3 sounds as C4 (MIDI 60) but sits a step below it on the staff; Cb5 sounds as B4.
    assert morphetic_pitch("B", 3) == morphetic_pitch("C", 4) - 1
    with pytest.raises(ValueError, match="step 'H'"):
        morphetic_pitch("H", 4)


# --- CSV -------------------------------------------------------------------

def test_read_csv_header_comments_duplicates(tmp_path):
    f = tmp_path / "p.csv"
    f.write_text("# a comment\ntick,morph\n\n4, 62\n0,60\n4,62\n")
    assert read_csv(f) == [(0, 60), (4, 62)]
    assert read_csv(DATA / "gibbonsSilverSwan1612_polyphonic.csv") == sorted(
        set(load_piece("gibbonsSilverSwan1612_polyphonic")))


@pytest.mark.parametrize("text, problem", [
    ("0,60\nx,61\n", "line 2"),
    ("0,60,1\n", "line 1"),
    ("0,60\n0,-1\n", "line 2: pitch must lie in 0..4294967295"),
    ("0,4294967296\n", "line 1: pitch must lie"),
])
def test_read_csv_errors_name_file_and_line(tmp_path, text, problem):
    f = tmp_path / "bad.csv"
    f.write_text(text)
    with pytest.raises(PieceError, match="bad.csv: " + problem):
        read_csv(f)


def test_read_csv_binary_file(tmp_path):
    f = tmp_path / "bin.csv"
    f.write_bytes(b"\xff\xfe\x00\x01")
    with pytest.raises(PieceError, match="bin.csv: not a text file"):
        read_csv(f)


# --- MIDI ------------------------------------------------------------------

def test_read_midi_bundled_fixture():
    pytest.importorskip("mido")
    # 30 file ticks per tick of the bundled piece, not rescaled; drums left out.
    assert read_midi(DATA / "invention1.mid") == [(30 * t, p) for t, p in BUNDLED]
    with_drums = read_midi(DATA / "invention1.mid", include_drums=True)
    assert sorted(set(with_drums) - set((30 * t, p) for t, p in BUNDLED)) == [
        (0, 36), (64 * 30, 38), (128 * 30, 36), (192 * 30, 42)]


def test_read_midi_tracks_channels_and_note_off_forms(tmp_path):
    mido = pytest.importorskip("mido")
    m = mido.MidiFile(type=1, ticks_per_beat=96)
    a = mido.MidiTrack([
        mido.Message("note_on", note=60, velocity=64, time=10),
        mido.Message("note_on", note=60, velocity=0, time=5),  # a note-off
        mido.Message("note_on", note=62, velocity=64, time=0, channel=3),
        mido.Message("note_off", note=62, velocity=64, time=7, channel=3),
    ])
    b = mido.MidiTrack([mido.Message("note_on", note=40, velocity=1, time=3),
                        mido.Message("note_on", note=35, velocity=90, time=1, channel=9)])
    m.tracks += [a, b]
    path = tmp_path / "x.mid"
    m.save(path)
    assert read_midi(path) == [(3, 40), (10, 60), (15, 62)]
    assert read_piece(path, include_drums=True) == [(3, 40), (4, 35), (10, 60), (15, 62)]


@pytest.mark.parametrize("content, problem", [
    (b"", "not a valid MIDI file"),
    (b"tick,pitch\n0,60\n", "not a valid MIDI file"),
    ("truncated", "not a valid MIDI file"),
])
def test_read_midi_broken(tmp_path, content, problem):
    pytest.importorskip("mido")
    if content == "truncated":
        content = (DATA / "invention1.mid").read_bytes()[:200]
    f = tmp_path / "broken.mid"
    f.write_bytes(content)
    with pytest.raises(PieceError, match="broken.mid: " + problem):
        read_midi(f)


def test_missing_library_says_what_to_install(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "mido", None)
    with pytest.raises(MissingDependencyError, match=r"mido.*motivra-sia-family\[io\]"):
        read_midi(DATA / "invention1.mid")


# --- scores ----------------------------------------------------------------

def test_read_musicxml_bundled_fixture_midi_and_morphetic():
    pytest.importorskip("partitura")
    path = DATA / "invention1.musicxml"
    # 8 divisions per quarter: one file tick is two ticks of the bundled piece.
    assert read_score(path) == [(t // 2, p) for t, p in BUNDLED]
    expected = sorted({(t // 2, morphetic_pitch(name[0], int(name[-1]))) for t, name in spelled_onsets()})
    assert read_piece(path, pitch="morphetic") == expected
    assert expected[:2] == [(2, 30), (4, 31)]  # C5 D5 after a semiquaver rest
    assert read_piece(path, pitch="morphetic", format="score") == expected


def test_read_musicxml_spelling_ties_and_parts():
    pytest.importorskip("partitura")
    path = DATA / "spelled.musicxml"
    # Part 1 counts 2 divisions per quarter, part 2 four: unified to four.
    # Eb4 is tied over the bar line (one onset); Cb5 sounds as B4; B#3 as C4.
    assert read_score(path) == [(0, 60), (2, 62), (3, 42), (4, 43), (4, 63),
                                (8, 55), (10, 71), (12, 21), (12, 60)]
    assert read_score(path, pitch="morphetic") == [(0, 23), (2, 24), (3, 12), (4, 13), (4, 25),
                                                    (8, 20), (10, 30), (12, 0), (12, 22)]


@pytest.mark.parametrize("content", [
    "<score-partwise><part-list>",  # cut short
    "hello",
    "",
])
def test_read_score_broken(tmp_path, content):
    pytest.importorskip("partitura")
    f = tmp_path / "broken.musicxml"
    f.write_text(content)
    with pytest.raises(PieceError, match="broken.musicxml: cannot read the score"):
        read_score(f)


# --- dispatch --------------------------------------------------------------

@pytest.mark.parametrize("name, fmt", [
    ("a.csv", "csv"), ("a.MID", "midi"), ("a.midi", "midi"), ("a.musicxml", "score"),
    ("a.mxl", "score"), ("a.xml", "score"), ("a.krn", "score"),
])
def test_detect_format(name, fmt):
    assert detect_format(name) == fmt


def test_read_piece_errors(tmp_path):
    with pytest.raises(PieceError, match="song.wav: unknown file type '.wav'"):
        read_piece(tmp_path / "song.wav")
    with pytest.raises(PieceError, match="a.mid: morphetic pitch needs a score file"):
        read_piece(tmp_path / "a.mid", pitch="morphetic")
    with pytest.raises(FileNotFoundError):
        read_piece(tmp_path / "missing.csv")
    f = tmp_path / "points.dat"
    f.write_text("1,2\n")
    assert read_piece(f, format="csv") == [(1, 2)]


def test_public_api_type_checks(tmp_path):
    """The stub, py.typed and the annotations let mypy check a user's program."""
    pytest.importorskip("mypy")
    import subprocess

    user = tmp_path / "user.py"
    user.write_text(
        "from motivra.sia_family import TranslationalEquivalence, cosiatec_compress\n"
        "from motivra.sia_family.io import read_piece, as_points\n"
        "from motivra.sia_family.cli import main\n"
        "from motivra.sia_family.engine import compress\n"
        "points: list[tuple[int, int]] = read_piece('a.mid', pitch='morphetic')\n"
        "tecs: list[TranslationalEquivalence] = cosiatec_compress(as_points(points), sweepline_optimization=True)\n"
        "ratio: float = tecs[0].compression_ratio\n"
        "code: int = main(['--format', 'json'])\n"
        "factor: float = compress(points, min_pattern_size=3).compression_factor\n"
        "bad: str = tecs[0].coverage\n"
        "read_piece('a.mid', pitch='chromatic')\n")
    r = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(user)],
                       capture_output=True, text=True, cwd=tmp_path, timeout=300)
    errors = [line for line in r.stdout.splitlines() if ": error:" in line]
    assert len(errors) == 2, r.stdout
    assert "user.py:10:" in errors[0] and "user.py:11:" in errors[1]
