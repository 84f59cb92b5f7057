import math
import random
import signal
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from motivra.sia_family import (
    TranslationalEquivalence,
    cosiatec_compress,
    engine,
    example_piece,
    recursive_cosiatec_compress,
)

import model
from conftest import datasets, records, with_ctrl_c

JKU = Path(__file__).resolve().parents[2] / "shared" / "data" / "jkupdd"


@settings(max_examples=150)
@given(datasets(max_size=12), st.booleans(), st.booleans())
def test_defaults_give_the_reference_records(dataset, flag, recursive):
    reference = (recursive_cosiatec_compress if recursive else cosiatec_compress)(dataset, flag)
    got = engine.compress(dataset, recursive=recursive, restrict_dpitch_zero=flag)
    assert [repr(t) for t in got.tecs] == [repr(t) for t in reference]
    assert all(type(t) is TranslationalEquivalence for t in got.tecs)
    assert got.points == len(set(dataset))
    assert sum(len(t.coverage) for t in got.tecs) == got.points


@settings(max_examples=150)
@given(
    datasets(max_size=12), st.booleans(), st.integers(1, 4), st.none() | st.integers(2, 6), st.sampled_from([0, 0.5, 1])
)
def test_options_narrow_the_greedy_choice(dataset, flag, low, high, compact):
    high = None if high is None else max(high, low)

    def admit(pattern, key):
        return low <= len(pattern) <= (high or len(pattern)) and key[1] >= compact

    got = engine.compress(
        dataset, restrict_dpitch_zero=flag, min_pattern_size=low, max_pattern_size=high, min_compactness=compact
    )
    model.check_partition(dataset, got.tecs)
    model.check_cosiatec(dataset, got.tecs, flag, admit)
    assert got.residual == tuple(sorted(set(dataset) - set().union(*(t.coverage for t in got.tecs[: got.rounds]))))
    assert got.length == sum(len(t.pattern) + len(t.translators) for t in got.tecs)


def test_nested_length_counts_translators_and_the_nested_encoding():
    leaf = TranslationalEquivalence([(0, 0), (1, 1)], {(5, 0)}, None)
    top = TranslationalEquivalence([], {(10, 0), (20, 0)}, [leaf, leaf])
    assert engine.encoding_length(leaf) == 3
    assert engine.encoding_length(top) == 2 + 3 + 3


@pytest.mark.parametrize("piece", ["gibbons", "bach"])
def test_real_pieces_match_the_reference(request, piece):
    points = request.getfixturevalue(piece)
    for recursive, reference in [(False, cosiatec_compress), (True, recursive_cosiatec_compress)]:
        got = engine.compress(points, recursive=recursive)
        assert [repr(t) for t in got.tecs] == [repr(t) for t in reference(points)]


@pytest.mark.skipif(not JKU.is_dir(), reason="the JKU pieces are not beside the repository")
@pytest.mark.parametrize(
    "name, factor",
    [
        ("gibbonsSilverSwan1612", 2.2966),
        ("bachBWV889Fg", 2.6777),
        ("beethovenOp2No1Mvt3", 3.8741),
        ("mozartK282Mvt2", 4.2228),
        ("chopinOp24No4", 3.7934),
    ],  # fmt: skip
)
def test_compression_factor_on_the_jku_pieces_in_morphetic_pitch(name, factor):
    rows = (JKU / f"{name}_polyphonic_morph.csv").read_text().split()[1:]
    points = [tuple(map(int, row.split(","))) for row in rows]
    assert round(engine.compress(points).compression_factor, 4) == factor


@pytest.mark.parametrize(
    "options, error, text",
    [
        ({"algorithm": "siatec"}, ValueError, "unknown algorithm 'siatec'"),
        ({"min_pattern_size": 0}, ValueError, "min_pattern_size must be at least 1"),
        ({"min_pattern_size": True}, TypeError, "min_pattern_size must be an integer"),
        ({"max_pattern_size": 2.5}, TypeError, "max_pattern_size must be an integer"),
        ({"min_pattern_size": 4, "max_pattern_size": 3}, ValueError, "is below min_pattern_size"),
        ({"min_compactness": 1.5}, ValueError, "min_compactness must lie in 0..1"),
        ({"min_compactness": "0"}, TypeError, "min_compactness must be a number"),
        ({"min_recursion_size": -1}, ValueError, "min_recursion_size must be at least 1"),
        ({"progress": 3}, TypeError, "progress must be callable"),
        ({"progress_interval": -0.5}, ValueError, "progress_interval must be at least 0, got -0.5"),
        ({"progress_interval": math.nan}, ValueError, "progress_interval must be at least 0, got nan"),
        ({"progress_interval": "1"}, TypeError, "progress_interval must be a number, got str"),
        ({"progress_interval": True}, TypeError, "progress_interval must be a number, got bool"),
    ],
)
def test_bad_options(options, error, text):
    with pytest.raises(error, match=text):
        engine.compress([(0, 0), (1, 1)], **options)


def every_report(enc):
    """What compress reports with progress_interval=0: the start, each round, the final state; no repeats."""
    n, covered = enc.points, 0
    reports = [(0, n, 0)]
    for k, t in enumerate(enc.tecs[: enc.rounds], 1):
        covered += len(t.coverage)
        reports.append((covered, n, k))
    reports.append((n, n, len(enc.tecs)))
    return [r for i, r in enumerate(reports) if i == 0 or r != reports[i - 1]]


def is_subsequence(part, whole):
    rest = iter(whole)
    return all(item in rest for item in part)


_rng = random.Random(1)
RANDOM = [(_rng.randrange(3000), _rng.randrange(48)) for _ in range(700)]


def run_with_progress(points, **options):
    seen = []
    enc = engine.compress(points, progress=lambda *report: seen.append(report), **options)
    return enc, seen


@settings(max_examples=100)
@given(datasets(max_size=12), st.booleans())
def test_every_change_is_reported_with_no_interval(dataset, recursive):
    enc, seen = run_with_progress(dataset, recursive=recursive, progress_interval=0)
    assert seen == every_report(enc)


@pytest.mark.parametrize("recursive", [False, True])
def test_reports_come_first_at_once_and_last_with_the_final_state(recursive):
    enc, every = run_with_progress(RANDOM, recursive=recursive, progress_interval=0)
    assert every == every_report(enc) and every[0] == (0, enc.points, 0) and every[-1][0] == enc.points
    assert len(every) > 30
    # However long the interval, the first report passes at once and the last is flushed.
    assert run_with_progress(RANDOM, recursive=recursive, progress_interval=3600)[1] == [every[0], every[-1]]
    thinned = run_with_progress(RANDOM, recursive=recursive)[1]
    assert thinned[0] == every[0] and thinned[-1] == every[-1] and is_subsequence(thinned, every)


@pytest.mark.parametrize(
    "interval, stop_at",
    [(0, 1), (0, 2), (0, 20), (3600, 2)],
    ids=["first report, before the table", "first round", "a later round", "the flush at the end"],
)
def test_an_exception_from_progress_stops_the_run(interval, stop_at):
    calls = []

    def stop(*report):
        calls.append(report)
        if len(calls) == stop_at:
            raise ArithmeticError

    before = sys.getrefcount(stop)
    for _ in range(3):
        calls.clear()
        with pytest.raises(ArithmeticError):
            engine.compress(RANDOM, progress=stop, progress_interval=interval)
        assert len(calls) == stop_at
    assert sys.getrefcount(stop) == before


def test_threads_give_the_sequential_results(bach, gibbons):
    pieces = [bach, gibbons, bach[::-1], gibbons[:200]]
    expected = [records(engine.compress(p).tecs) for p in pieces]
    with ThreadPoolExecutor(4) as pool:
        assert [records(e.tecs) for e in pool.map(engine.compress, pieces)] == expected


# The child prints "running" from inside the run (at its first report, before SIA builds
# its table); the parent sends SIGINT on reading it, so the signal always lands in the run.
LONG_RUN = """
import random, sys, threading
from motivra.sia_family import cosiatec_compress, engine
from motivra.sia_family.cli import main
rng = random.Random(4000)
points = [(rng.randrange(4096), rng.randrange(128)) for _ in range(4000)]
with open(sys.argv[2], "w") as f:
    f.write("tick,pitch\\n" + "".join(f"{t},{p}\\n" for t, p in points))
real = engine.compress
def cue(*_):
    if not cue.given:
        cue.given = True
        print("running", flush=True)
cue.given = False
engine.compress = lambda points, **options: real(points, **(options | {"progress": cue}))
if sys.argv[1] == "cli":
    sys.exit(main([sys.argv[2]]))
try:
    engine.compress(points)
except KeyboardInterrupt:
    small = points[:40]
    same = [repr(t) for t in engine.compress(small).tecs] == [repr(t) for t in cosiatec_compress(small)]
    print("interrupted", same, threading.active_count(), flush=True)
    sys.exit(3)
"""


@pytest.mark.parametrize(
    "how, status, said", [("engine", 3, ("interrupted True 1", "")), ("cli", 130, ("", "motivra-sia: interrupted"))]
)
def test_sigint_interrupts_a_long_run(tmp_path, how, status, said):
    # -P: the child must import the installed package, not the source tree beside it.
    command = [sys.executable, "-P", "-c", LONG_RUN, how, str(tmp_path / "piece.csv")]
    with subprocess.Popen(
        command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, preexec_fn=with_ctrl_c
    ) as proc:
        try:
            assert proc.stdout.readline().strip() == "running", proc.stderr.read()
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=120)
        finally:
            proc.kill()
    assert (out.strip(), err.strip()) == said and proc.returncode == status


@pytest.mark.parametrize("operation", ["compress", "recursive"])
def test_cli_reports_the_compression_factor_and_narrows_patterns(capsys, operation):
    import json

    from motivra.sia_family.cli import main

    assert main([operation, "--format", "json", "--min-size", "3"]) == 0
    doc = json.loads(capsys.readouterr().out)
    assert doc["options"]["min_size"] == 3
    chosen = [t for t in doc["tecs"] if t["coverage"] > 1]
    assert chosen and all(t["sub_tecs"] or len(t["pattern"]) >= 3 for t in chosen)
    enc, n = doc["encoding"], doc["piece"]["points"]
    assert enc["compression_factor"] == n / enc["length"] and enc["compression_ratio"] == n / enc["units"]


def test_the_engine_refuses_a_record_class_of_another_layout():
    code = (
        "from motivra.sia_family import _core\n_core.TranslationalEquivalence = int\nimport motivra.sia_family._engine"
    )
    done = subprocess.run([sys.executable, "-P", "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 1 and "_core and _engine come from different builds" in done.stderr


def test_the_command_line_bar_shows_from_the_first_report_to_the_final_state():
    pytest.importorskip("tqdm")
    import fcntl
    import os
    import pty
    import select
    import struct
    import termios

    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 120, 0, 0))
    code = "import sys; from motivra.sia_family.cli import main; sys.exit(main(['compress']))"
    with subprocess.Popen([sys.executable, "-P", "-c", code], stdout=subprocess.DEVNULL, stderr=slave) as proc:
        os.close(slave)
        output = b""
        while select.select([master], [], [], 60)[0]:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the child closed its end
                break
            if not chunk:
                break
            output += chunk
    os.close(master)
    frames = [f for f in output.decode().replace("\r", "\n").split("\n") if "covering points" in f]
    total = len(set(example_piece.points()))
    assert proc.returncode == 0 and f" 0/{total} " in frames[0]
    assert "100%" in frames[-1] and f" {total}/{total} " in frames[-1]
