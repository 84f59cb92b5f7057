"""Notes behind the points: readers, pitch spelling, and the points-to-notes map."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family.io import Note, Piece, PieceError, read, read_piece

from conftest import DATA

GIBBONS_NOTES = DATA / "gibbonsSilverSwan1612_polyphonic_notes.csv"

notes_st = st.lists(
    st.builds(
        Note,
        st.integers(0, 6),
        st.integers(60, 66),
        st.integers(35, 38),
        st.none() | st.integers(1, 4),
        st.none() | st.integers(0, 2),
    ),
    max_size=25,
)


@given(notes_st, st.sampled_from(["midi", "morphetic"]))
def test_points_stand_for_exactly_the_notes_with_their_onset_and_pitch(notes, kind):
    piece = Piece("p", notes)
    points = piece.points(kind)
    assert points == sorted({(n.tick, n.pitch(kind)) for n in notes})
    for point in points:
        assert sorted(piece.notes_at(point, kind), key=repr) == sorted(
            (n for n in notes if (n.tick, n.pitch(kind)) == point), key=repr
        )
    assert sorted(piece.notes_of(points, kind), key=repr) == sorted(notes, key=repr)
    assert piece.notes_of([(99, 0)], kind) == []


def test_morphetic_points_merge_notes_that_midi_keeps_apart():
    # F and F sharp at one onset: one morphetic point, two notes, two MIDI points.
    piece = Piece("p", [Note(0, 65, 26), Note(0, 66, 26), Note(4, 67, 27)])
    assert piece.points("morphetic") == [(0, 26), (4, 27)]
    assert piece.points("midi") == [(0, 65), (0, 66), (4, 67)]
    assert [n.midi for n in piece.notes_at((0, 26), "morphetic")] == [65, 66]


def test_notes_csv_columns_header_and_unknown_spelling(tmp_path):
    f = tmp_path / "n.csv"
    f.write_text("tick,midi,morph,duration,staff\n# comment\n4,62,,2,1\n0,60,60,4,0\n\n")
    piece = read(f)
    assert piece.notes == [Note(0, 60, 60, 4, 0), Note(4, 62, None, 2, 1)]
    assert piece.points() == [(0, 60), (4, 62)]
    with pytest.raises(PieceError, match="no morphetic pitch"):
        read(f, pitch="morphetic")
    two = tmp_path / "two.csv"
    two.write_text("tick,pitch\n0,60\n0,60\n")
    assert read(two).notes == [Note(0, 60)]
    with pytest.raises(PieceError, match="two.csv: morphetic pitch needs"):
        read(two, pitch="morphetic")


@pytest.mark.parametrize(
    "text, problem",
    [
        ("0,60,60\n1,61\n", "line 2: expected 3 fields"),
        ("0,60,60,1,0,9\n", "line 1: expected 2 columns"),
        ("tick,midi,morph\n0,60,60\n1,x,61\n", "line 3: midi must be an integer"),
        ("0,60,60\n-1,60,60\n", "line 2: tick must lie in"),
    ],
)
def test_notes_csv_errors_name_file_and_line(tmp_path, text, problem):
    f = tmp_path / "bad.csv"
    f.write_text(text)
    with pytest.raises(PieceError, match=f"bad.csv: {problem}"):
        read(f)


def test_score_notes_give_the_points_of_the_score_reader():
    pytest.importorskip("partitura")
    path = DATA / "invention1.musicxml"
    piece = read(path)
    for kind in ("midi", "morphetic"):
        assert piece.points(kind) == read_piece(path, pitch=kind)
    assert piece.ticks_per_beat == 8
    assert {n.staff for n in piece.notes} == {1, 2}


def write_midi(path, notes, ticks_per_beat=24):
    mido = pytest.importorskip("mido")
    midi = mido.MidiFile(type=1, ticks_per_beat=ticks_per_beat)
    events = sorted([(n.tick, 1, n.midi) for n in notes] + [(n.tick + 6, 0, n.midi) for n in notes])
    track, now = mido.MidiTrack(), 0
    for tick, on, pitch in events:
        track.append(mido.Message("note_on", note=pitch, velocity=64 * on, time=tick - now))
        now = tick
    midi.tracks.append(track)
    midi.save(path)


def test_midi_spelled_with_ps13_agrees_with_the_score_spelling(tmp_path):
    """Gibbons from the JKU PDD: every note spelled as in the score (numbered
    here from A0 = 0, there from middle C = 60)."""
    pytest.importorskip("partitura")
    jku = read(GIBBONS_NOTES)
    path = tmp_path / "gibbons.mid"
    write_midi(path, jku.notes)
    piece = read(path, pitch="morphetic")
    assert piece.ticks_per_beat == 24
    assert [(n.tick, n.midi, n.morph + 37) for n in piece.notes] == [(n.tick, n.midi, n.morph) for n in jku.notes]
    assert {n.duration for n in piece.notes} == {6} and {n.staff for n in piece.notes} == {0}
    assert read(path).notes[0].morph is None
