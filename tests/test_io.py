"""Reading pieces into points: CSV, MIDI, MusicXML, numpy arrays."""

import sys

import pytest

from motivra.sia_family import example_piece, io

from conftest import DATA

BUNDLED = example_piece.points()


def test_as_points():
    np = pytest.importorskip("numpy")
    assert io.as_points(np.array([[5, 60], [0, 62], [5, 60]], dtype=np.uint32)) == [(5, 60), (0, 62), (5, 60)]
    assert io.as_points(np.array([[0.0, 60.0]])) == [(0, 60)] and io.as_points(np.empty((0, 2), dtype=np.int64)) == []
    assert io.as_points([[1, 2], (3, 4)]) == [(1, 2), (3, 4)]
    assert all(type(c) is int for p in io.as_points(np.array([[1, 2]])) for c in p)
    bad = {r"shape \(n, 2\)": np.zeros((2, 3)), "integer": np.array([[0.5, 60]]), "pair": [(1, 2, 3)]}
    bad |= {"0..4294967295": np.array([[2**32, 60]], dtype=np.uint64)}
    for message, value in bad.items():
        with pytest.raises(ValueError, match=message):
            io.as_points(value)
    for message, value in {"dtype": np.array([["a", "b"]]), "integer": [("1", 2)], "string": "12"}.items():
        with pytest.raises(TypeError, match=message):
            io.as_points(value)


def test_read_csv_and_morphetic_pitch(tmp_path):
    cases = {"A0": 0, "B0": 1, "C1": 2, "C4": 23, "E4": 25, "A4": 28, "C8": 51, "c4": 23}
    assert {name: io.morphetic_pitch(name[0], int(name[1])) for name in cases} == cases
    with pytest.raises(ValueError, match="step 'H'"):
        io.morphetic_pitch("H", 4)
    f = tmp_path / "p.csv"
    f.write_text("# a comment\ntick,morph\n\n4, 62\n0,60\n4,62\n")
    assert io.read(f).points() == [(0, 60), (4, 62)]
    problems = {"0,60\nx,61\n": "line 2", "0,60\n0,60,1\n": "line 2"}
    problems["0,-1\n"] = "line 1: pitch must lie in 0..4294967295"
    for text, problem in problems.items():
        f.write_text(text)
        with pytest.raises(io.PieceError, match="p.csv: " + problem):
            io.read(f).points()
    f.write_bytes(b"\xff\xfe\x00\x01")
    with pytest.raises(io.PieceError, match="p.csv: not a text file"):
        io.read(f).points()


def test_read_midi(tmp_path, monkeypatch):
    mido = pytest.importorskip("mido")
    # 30 file ticks per tick of the bundled piece, not rescaled; drums left out.
    assert io.read(DATA / "invention1.mid").points() == [(30 * t, p) for t, p in BUNDLED]
    drums = set(io.read(DATA / "invention1.mid", include_drums=True).points()) - {(30 * t, p) for t, p in BUNDLED}
    assert sorted(drums) == [(0, 36), (64 * 30, 38), (128 * 30, 36), (192 * 30, 42)]
    on = [("note_on", 60, 64, 10, 0), ("note_on", 60, 0, 5, 0), ("note_on", 62, 64, 0, 3), ("note_off", 62, 64, 7, 3)]
    on2 = [("note_on", 40, 1, 3, 0), ("note_on", 35, 90, 1, 9)]  # a note-off, a drum
    m = mido.MidiFile(type=1, ticks_per_beat=96)
    for track in (on, on2):
        m.tracks.append(
            mido.MidiTrack(mido.Message(k, note=n, velocity=v, time=t, channel=c) for k, n, v, t, c in track)
        )
    m.save(tmp_path / "x.mid")
    assert io.read(tmp_path / "x.mid").points() == [(3, 40), (10, 60), (15, 62)]
    assert io.read_piece(tmp_path / "x.mid", include_drums=True) == [(3, 40), (4, 35), (10, 60), (15, 62)]
    for content in (b"", b"tick,pitch\n0,60\n", (DATA / "invention1.mid").read_bytes()[:200]):
        (tmp_path / "broken.mid").write_bytes(content)
        with pytest.raises(io.PieceError, match="broken.mid: not a valid MIDI file"):
            io.read(tmp_path / "broken.mid").points()
    monkeypatch.setitem(sys.modules, "mido", None)
    with pytest.raises(io.MissingDependencyError, match=r"mido.*motivra-sia-family\[io\]"):
        io.read(DATA / "invention1.mid").points()


def test_read_musicxml(tmp_path):
    pytest.importorskip("partitura")
    path = DATA / "invention1.musicxml"
    # 8 divisions per quarter: one file tick is two ticks of the bundled piece.
    assert io.read(path).points() == [(t // 2, p) for t, p in BUNDLED]
    morphetic = io.read_piece(path, pitch="morphetic", format="score")
    assert len(morphetic) == len(BUNDLED) and morphetic[:3] == [(2, 30), (4, 31), (6, 32)]  # C5 D5 E5
    # Part 1 counts 2 divisions per quarter, part 2 four: unified to four. Eb4 is tied
    # over the bar line (one onset); Cb5 sounds as B4; B#3 as C4.
    path = DATA / "spelled.musicxml"
    expected = [(0, 60), (2, 62), (3, 42), (4, 43), (4, 63), (8, 55), (10, 71), (12, 21), (12, 60)]
    assert io.read(path).points() == expected
    assert [p for _, p in io.read(path).points("morphetic")] == [23, 24, 12, 13, 25, 20, 30, 0, 22]
    for content in ("<score-partwise><part-list>", "hello", ""):
        (tmp_path / "broken.musicxml").write_text(content)
        with pytest.raises(io.PieceError, match="broken.musicxml: cannot read the score"):
            io.read(tmp_path / "broken.musicxml").points()


def test_dispatch(tmp_path):
    formats = {"csv": ["a.csv"], "midi": ["a.MID", "a.midi"], "score": ["a.musicxml", "a.mxl", "a.krn"]}
    assert all(io.detect_format(name) == kind for kind, names in formats.items() for name in names)
    errors = {"song.wav": "unknown file type '.wav'", "a.mid": "morphetic pitch needs a score file"}
    for name, message in errors.items():
        with pytest.raises(io.PieceError, match=f"{name}: {message}"):
            io.read_piece(tmp_path / name, pitch="morphetic")
    problems = {"missing.csv": "No such file or directory", "missing.mid": "No such file or directory"}
    folders = ("folder.csv", "folder.mid", "folder.musicxml", "folder")
    problems |= {name: "is a folder, not a piece file" for name in folders}
    for name in folders:
        (tmp_path / name).mkdir()
    for name, problem in problems.items():
        with pytest.raises(io.PieceError, match=f"{name}: {problem}"):
            io.read(tmp_path / name)
    with pytest.raises(io.PieceError, match="missing.csv: No such file"):
        io.read_piece(tmp_path / "missing.csv")
    (tmp_path / "points.dat").write_text("1,2\n")
    assert io.read_piece(tmp_path / "points.dat", format="csv") == [(1, 2)]
