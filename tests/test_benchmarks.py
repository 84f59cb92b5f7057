"""The JKU table script: the piece names it prints are the names it takes, and a
missing data folder is named."""

import subprocess
import sys
from pathlib import Path

import pytest

from conftest import DATA

SCRIPT = Path(__file__).parent.parent / "benchmarks" / "jku_table.py"


def run_script(*args, cwd):
    return subprocess.run([sys.executable, "-P", str(SCRIPT), *map(str, args)], capture_output=True, text=True, cwd=cwd)


@pytest.mark.parametrize("name", ["gibbonsSilverSwan1612", "Gibbons", "gibbons"])
def test_the_pieces_go_by_either_name(tmp_path, name):
    data = tmp_path / "data"
    data.mkdir()
    notes = (DATA / "gibbonsSilverSwan1612_polyphonic_notes.csv").read_text().splitlines()[1:]
    rows = [line.split(",") for line in notes]
    for suffix, column in (("", 1), ("_morph", 2)):
        text = "tick,pitch\n" + "".join(f"{row[0]},{row[column]}\n" for row in rows)
        (data / f"gibbonsSilverSwan1612_polyphonic{suffix}.csv").write_text(text)
    r = run_script("--data", data, "--pieces", name, "--write-notes", tmp_path / "out", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    written = (tmp_path / "out" / "gibbonsSilverSwan1612_polyphonic_notes.csv").read_text().splitlines()
    assert len(written) == len(notes) + 1


@pytest.mark.parametrize(
    "args, message",
    [
        (["--data", "nowhere"], "nowhere/bachBWV889Fg_polyphonic.csv not found: nowhere (the folder given by --data)"),
        (["--data", "nowhere", "--pieces", "Gibons"], "unknown piece 'Gibons'; choose from: Bach (bachBWV889Fg)"),
    ],
)
def test_a_missing_folder_or_piece_is_named(tmp_path, args, message):
    r = run_script(*args, cwd=tmp_path)
    assert r.returncode == 1 and message in r.stderr and "Traceback" not in r.stderr


def test_the_large_pieces_are_read_with_the_packages_score_reader():
    # The large pieces are written from music21's scores by this reader on first use;
    # a rename in the package once broke it on every machine without them.
    pytest.importorskip("partitura")
    sys.path.insert(0, str(SCRIPT.parent))
    try:
        import large_pieces
    finally:
        sys.path.remove(str(SCRIPT.parent))
    points = large_pieces._score_reader()(DATA / "invention1.musicxml")
    assert points == sorted(set(points)) and len(points) == len((DATA / "invention1.csv").read_text().split()) - 1
