"""The batch runner: every output equals the single-piece command's, bad pieces become
rows, and runs resume after Ctrl-C."""

import contextlib
import io
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

from motivra.sia_family import batch
from motivra.sia_family.batch import Settings
from motivra.sia_family.cli import main
from motivra.sia_family.errors import MissingDependencyError
from motivra.sia_family.results import Options

from conftest import DATA, with_ctrl_c

pytest.importorskip("pebble")
mido = pytest.importorskip("mido")


def single(argv):
    """What the single-piece command prints for ``argv``."""
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        assert main(argv) == 0
    return out.getvalue()


def outputs(folder):
    """Every output file of a batch folder (not the summary), with its content."""
    paths = [os.path.join(root, name) for root, _, names in os.walk(folder) for name in names if name != batch.SUMMARY]
    return {os.path.relpath(path, folder): Path(path).read_text() for path in paths}


def figures(rows):
    """The rows without what depends on the run (time, memory, skipped or not)."""
    return [{k: v for k, v in row.items() if k not in ("seconds", "peak_memory_mib", "status")} for row in rows]


@pytest.fixture
def corpus(tmp_path, monkeypatch):
    """A folder of pieces, good and bad, as the current folder's ``corpus``."""
    monkeypatch.chdir(tmp_path)
    for sub in ("a", "b", ".hidden"):
        os.makedirs(f"corpus/{sub}")
    shutil.copy(DATA / "invention1.csv", "corpus/a/piece.csv")
    shutil.copy(DATA / "gibbonsSilverSwan1612_polyphonic.csv", "corpus/a/gibbons.csv")
    shutil.copy(DATA / "invention1.mid", "corpus/b/invention.mid")
    with open("corpus/b/piece.csv", "w") as f:  # the same name in another folder
        f.write("0,60\n1,62\n4,60\n5,62\n5,62\n")
    one = mido.MidiFile()
    one.tracks.append(mido.MidiTrack([mido.Message("note_on", note=60, velocity=64, time=0)]))
    one.save("corpus/a/one_note.mid")
    open("corpus/b/empty.mid", "wb").close()
    with open("corpus/b/corrupt.mid", "wb") as f:
        f.write(b"MThd\x00\x00\x00\x06\x00\x01\x00\x02garbage")
    shutil.copy(DATA / "invention1.csv", "corpus/.hidden/ignored.csv")
    return tmp_path


def endless_piece(path):
    """A piece whose worker waits until the test ends it: a named pipe that no one
    writes to, so that reading it never returns."""
    os.mkfifo(path)


@pytest.mark.parametrize(
    "operation, fmt", [("compress", "json"), ("recursive", "csv"), ("tecs", "text"), ("mtps", "json")]
)
def test_outputs_equal_the_single_piece_command(corpus, operation, fmt):
    # The output folder inside the input folder: its files are not taken as pieces.
    inputs = ["corpus/a", "corpus/b/*.mid", "corpus/b/piece.csv", "corpus/none/*.mid"]
    rows = batch.run(inputs, "corpus/out", Options(operation=operation), Settings(format=fmt, jobs=2))
    status = {row["input"]: (row["status"], row["error"]) for row in rows}
    assert list(status) == [
        "corpus/a/gibbons.csv",
        "corpus/a/one_note.mid",
        "corpus/a/piece.csv",
        "corpus/b/corrupt.mid",
        "corpus/b/empty.mid",
        "corpus/b/invention.mid",
        "corpus/b/piece.csv",
        "corpus/none/*.mid",
    ]
    assert status["corpus/b/empty.mid"] == ("failed", "corpus/b/empty.mid: not a valid MIDI file: the file is empty")
    assert status["corpus/b/corrupt.mid"][1].startswith("corpus/b/corrupt.mid: not a valid MIDI file")
    assert status["corpus/none/*.mid"] == ("failed", "corpus/none/*.mid: No such file or directory")
    assert batch.read_summary("corpus/out") == rows
    written = outputs("corpus/out")
    good = [row for row in rows if row["status"] == "ok"]
    assert len(good) == 5 and sorted(written) == sorted(row["output"] for row in good)
    for row in good:
        assert row["output"] == row["input"] + batch.OUTPUT_SUFFIX[fmt]
        assert written[row["output"]] == single([operation, row["input"], "--format", fmt])
    one = next(row for row in good if row["input"] == "corpus/a/one_note.mid")
    assert (one["notes"], one["points"]) == (1, 1)
    if operation == "compress":
        duplicate = next(row for row in good if row["input"] == "corpus/b/piece.csv")
        assert (
            duplicate["notes"],
            duplicate["points"],
            duplicate["tecs"],
            duplicate["units"],
            duplicate["compression_ratio"],
        ) == (5, 4, 1, 3, 4 / 3)


def test_a_second_run_skips_what_is_done(corpus, capsys):
    command = ["batch", "corpus/a", "--out", "out", "-q"]
    assert main(command) == 0
    first, before = batch.read_summary("out"), outputs("out")
    assert {row["status"] for row in first} == {"ok"}
    assert main(command) == 0
    again = batch.read_summary("out")
    assert {row["status"] for row in again} == {"skipped"} and figures(again) == figures(first)
    assert outputs("out") == before
    # A changed piece, and then changed options, are computed again.
    os.utime("corpus/a/piece.csv", ns=(time.time_ns() + 10**10,) * 2)
    assert main(command) == 0
    assert [row["status"] for row in batch.read_summary("out")] == ["skipped", "skipped", "ok"]
    assert main([*command, "--no-sweepline", "--max-notes", "200"]) == 0
    rows = batch.read_summary("out")
    assert [row["status"] for row in rows] == ["skipped", "ok", "ok"]
    assert rows[0]["error"] == "corpus/a/gibbons.csv: 333 notes, more than --max-notes 200"
    assert not os.path.exists("out/corpus/a/gibbons.csv.json")  # it was for other options
    assert main([*command, "--no-sweepline", "--force"]) == 0
    assert {row["status"] for row in batch.read_summary("out")} == {"ok"}
    assert main(["batch", "corpus/b", "--out", "out"]) == 1
    assert "2 ok, 0 skipped, 2 failed, 0 timeout" in capsys.readouterr().err


def test_a_piece_past_its_time_ends_its_worker(corpus):
    endless_piece("corpus/a/big.csv")
    # The timeout is far beyond what the small pieces take; only the endless one meets it.
    rows = batch.run(["corpus/a"], "out", settings=Settings(jobs=2, timeout=5))
    assert [row["status"] for row in rows] == ["timeout", "ok", "ok", "ok"]
    assert rows[0]["error"] == ("corpus/a/big.csv: stopped after 5 s (--timeout); its worker was ended")
    assert not os.path.exists("out/corpus/a/big.csv.json")


def test_ctrl_c_keeps_what_is_done_and_a_second_run_completes_it(corpus):
    endless_piece("corpus/a/big.csv")  # holds one worker until the run is stopped
    command = [
        sys.executable,
        "-P",
        "-m",
        "motivra.sia_family",
        "batch",
        "corpus/a",
        "corpus/b",
        "--out",
        "out",
        "--jobs",
        "2",
        "-q",
    ]
    # In a session of its own, so that Ctrl-C reaches the whole group, workers too, as in a terminal.
    run = subprocess.Popen(
        command,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        start_new_session=True,
        preexec_fn=with_ctrl_c,
    )
    small = ["corpus/a/gibbons.csv", "corpus/a/piece.csv", "corpus/b/piece.csv"]
    for _ in range(600):
        if all(os.path.exists(f"out/{name}.json") for name in small) or run.poll() is not None:
            break
        time.sleep(0.2)
    os.killpg(run.pid, signal.SIGINT)
    _, err = run.communicate(timeout=120)
    assert run.returncode == 130, err
    assert "leaked" not in err and "Traceback" not in err, err
    os.unlink("corpus/a/big.csv")
    done = batch.read_summary("out")
    assert "corpus/a/big.csv" not in [row["input"] for row in done]
    assert set(small) <= {row["input"] for row in done if row["status"] == "ok"}
    assert sorted(outputs("out")) == sorted(row["output"] for row in done if row["output"])
    # Resumed (leaving the big piece out), the outputs are those of one whole run.
    resumed = batch.run(["corpus/a", "corpus/b"], "out")
    assert {row["input"] for row in resumed if row["status"] == "skipped"} >= set(small)
    whole = batch.run(["corpus/a", "corpus/b"], "whole")
    assert outputs("out") == outputs("whole") and figures(resumed) == figures(whole)


@pytest.fixture(scope="module")
def dask_cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    ) as cluster:
        yield cluster.scheduler_address


@pytest.mark.parametrize("timeout", [None, 60])
def test_a_dask_cluster_gives_the_same_outputs(corpus, dask_cluster, timeout):
    on_pool = batch.run(["corpus"], "pool", settings=Settings(jobs=2))
    on_dask = batch.run(["corpus"], "dask", settings=Settings(scheduler=dask_cluster, timeout=timeout))
    assert figures(on_dask) == figures(on_pool)
    assert outputs("dask") == outputs("pool")


def test_without_dask_the_message_names_the_extra(corpus, monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "distributed", None)
    with pytest.raises(MissingDependencyError, match=r"motivra-sia-family\[distributed\]"):
        batch.run(["corpus/a"], "out", settings=Settings(scheduler="local"))
    assert main(["batch", "corpus/a", "--out", "out", "--scheduler", "local"]) == 1
    assert "pip install 'motivra-sia-family[distributed]'" in capsys.readouterr().err


@pytest.mark.parametrize(
    "paths", [["x/piece.mid", "y/piece.mid", "x/piece.MID", "piece.mid"], ["../outside/piece.mid", "outside/piece.mid"]]
)
def test_output_names_never_collide(tmp_path, monkeypatch, paths):
    monkeypatch.chdir(tmp_path)
    names = [batch.output_name(path, "json") for path in paths]
    assert len(set(names)) == len(names)
    assert all(not name.startswith(("/", "..")) for name in names)
