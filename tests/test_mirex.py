"""Patterns as notes and the MIREX pattern file format."""

import io
import json
import os
import tempfile
from fractions import Fraction

import pytest
from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family import TranslationalEquivalence as TEC
from motivra.sia_family import cosiatec_compress, recursive_cosiatec_compress
from motivra.sia_family.cli import main
from motivra.sia_family.evaluate import tecs_from_json
from motivra.sia_family.io import Note, Piece, PieceError, read
from motivra.sia_family.mirex import Timing, occurrence_notes, read_mirex, snap_beats, tec_occurrences, write_mirex

from conftest import DATA

GIBBONS_NOTES = DATA / "gibbonsSilverSwan1612_polyphonic_notes.csv"

onsets = st.builds(Fraction, st.integers(-48, 2000), st.sampled_from([1, 2, 3, 4, 8, 24]))
occurrence = st.lists(st.tuples(onsets, st.integers(21, 108)), min_size=1, max_size=6, unique=True)
patterns = st.lists(st.lists(occurrence.map(sorted), min_size=1, max_size=4), max_size=4)


@given(patterns)
def test_write_then_read_back(pats):
    mir_io = pytest.importorskip("mir_eval.io")
    out = io.StringIO()
    write_mirex(out, pats)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "p.txt")
        with open(path, "w") as f:
            f.write(out.getvalue())
        assert mir_io.load_patterns(path) == [[[(float(o), float(p)) for o, p in occ] for occ in pat] for pat in pats]
        if pats:
            ours = [[[(snap_beats(o), p) for o, p in occ.notes] for occ in pat.occurrences] for pat in read_mirex(path)]
            assert ours == pats


def test_occurrences_are_the_pattern_then_its_translates_in_ascending_order():
    tec = TEC([(0, 60), (1, 62)], {(8, 0), (-4, 2), (4, -1)}, [])
    assert tec_occurrences(tec) == [
        [(0, 60), (1, 62)],
        [(-4 % 2**32, 62), (2**32 - 3, 64)],
        [(4, 59), (5, 61)],
        [(8, 60), (9, 62)],
    ]
    # RecurSIA: the pattern of a TEC encoded again is what its sub-TECs cover.
    six = [(0, 60), (1, 62), (2, 64), (3, 60), (4, 62), (5, 64)]
    (top,) = recursive_cosiatec_compress(six)
    assert top.pattern == [] and tec_occurrences(top) == tec_occurrences(cosiatec_compress(six)[0])


def test_occurrence_forms():
    # Two notes (F, F sharp) behind one morphetic point; other notes around.
    notes = [Note(0, 65, 26), Note(0, 66, 26), Note(2, 72, 30), Note(4, 60, 23), Note(4, 67, 27), Note(9, 64, 25)]
    piece = Piece("p", notes)
    occ = [(0, 26), (4, 27)]
    assert occurrence_notes(piece, occ, "morphetic", "raw") == [notes[0], notes[1], notes[4]]
    assert occurrence_notes(piece, occ, "morphetic", "bbox") == [notes[0], notes[1], notes[4]]
    assert occurrence_notes(piece, occ, "morphetic", "segment") == notes[:5]
    assert occurrence_notes(piece, [(0, 26), (4, 23)], "morphetic", "bbox") == [notes[0], notes[1], notes[3]]


def test_timing():
    assert Timing("beats", 24, Fraction(1)).onset(36) == Fraction(1, 2)
    assert Timing("ticks", 24, Fraction(1)).onset(36) == 36


def test_cli_mirex_matches_the_json_encoding(tmp_path, capsys):
    mir_io = pytest.importorskip("mir_eval.io")
    common = [str(GIBBONS_NOTES), "--pitch", "morphetic", "--ticks-per-beat", "24", "--offset-beats", "1"]
    assert main(["recursive", *common, "--format", "json", "-o", str(tmp_path / "e.json")]) == 0
    assert main(["recursive", *common, "--format", "mirex", "-o", str(tmp_path / "e.txt")]) == 0
    doc = json.loads((tmp_path / "e.json").read_text())
    assert doc["pitch"] == "morphetic"
    piece = read(GIBBONS_NOTES)
    expected = []
    for tec in tecs_from_json(doc["tecs"]):
        expected.append(
            [
                sorted({(n.tick / 24 - 1, float(n.midi)) for n in piece.notes_of(occ, "morphetic")})
                for occ in tec_occurrences(tec)
            ]
        )
    assert mir_io.load_patterns(str(tmp_path / "e.txt")) == expected


@pytest.mark.parametrize(
    "text, problem",
    [
        ("pattern1\noccurrence1\n1.5, 60\n2.5; 61\n", "line 4: expected 'onset, pitch'"),
        ("pattern1\n1.5, 60\n", "line 2: a note before the first 'occurrence'"),
        ("occurrence1\n1, 60\n", "line 1: 'occurrence' before"),
        ("pattern1\noccurrence1\noccurrence2\n1, 60\n", "line 2: occurrence without notes"),
        ("pattern1\npattern2\noccurrence1\n1, 60\n", "line 1: pattern 'pattern1' has no occurrences"),
        ("\n\n", "no patterns"),
    ],
)
def test_malformed_pattern_files(tmp_path, text, problem):
    f = tmp_path / "bad.txt"
    f.write_text(text)
    with pytest.raises(PieceError, match=f"bad.txt: {problem}"):
        read_mirex(f)


def test_beats_need_the_ticks_per_beat(capsys):
    assert main([str(GIBBONS_NOTES), "--format", "mirex"]) == 1
    assert "--ticks-per-beat" in capsys.readouterr().err
    assert main([str(GIBBONS_NOTES), "--format", "mirex", "--onset", "ticks"]) == 0
    assert capsys.readouterr().out.startswith("pattern1\noccurrence1\n")
