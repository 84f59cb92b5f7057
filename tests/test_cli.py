"""The command-line tool, end to end in a subprocess and in-process."""

import csv
import io
import json
import subprocess
import sys

import pytest

from conftest import DATA, load_piece
from motivra.sia_family import (
    build_tecs_from_mtps,
    cosiatec_compress,
    example_piece,
    find_mtps,
    recursive_cosiatec_compress,
)
from motivra.sia_family.cli import SCHEMA, main

BUNDLED = example_piece.points()


def cli(*args, cwd=None):
    """Run ``python -P -m motivra.sia_family ARGS``; return the finished process."""
    return subprocess.run([sys.executable, "-P", "-m", "motivra.sia_family", *map(str, args)],
                          capture_output=True, text=True, timeout=120, cwd=cwd)


def run_main(capsys, *args):
    code = main([str(a) for a in args])
    out, err = capsys.readouterr()
    return code, out, err


def covered(tec_json):
    """Points covered by a TEC of the JSON output (pattern or sub-TECs, moved by translators)."""
    base = {tuple(p) for p in tec_json["pattern"]}
    for sub in tec_json["sub_tecs"]:
        base |= covered(sub)
    return base | {(t + dt, p + dp) for t, p in base for dt, dp in tec_json["translators"]}


def test_default_run_compresses_the_bundled_piece():
    r = cli()
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0] == example_piece.NAME
    assert lines[1] == f"{len(BUNDLED)} distinct points"
    assert lines[2] == f"COSIATEC encoding: {len(cosiatec_compress(BUNDLED))} TECs"
    assert lines[-2].startswith(f"compression ratio: {len(BUNDLED)} points / ")
    assert lines[-1].startswith(f"compression factor: {len(BUNDLED)} points / encoding length ")
    assert r.stderr == ""


@pytest.mark.parametrize("name, needs", [
    ("invention1.csv", None), ("invention1.mid", "mido"), ("invention1.musicxml", "partitura"),
])
def test_json_of_every_input_format(name, needs, tmp_path):
    if needs:
        pytest.importorskip(needs)
    out = tmp_path / "enc.json"
    r = cli("compress", DATA / name, "--format", "json", "--output", out)
    assert r.returncode == 0, r.stderr
    assert r.stdout == ""
    doc = json.loads(out.read_text())
    assert doc["schema"] == SCHEMA
    assert doc["operation"] == "compress" and doc["algorithm"] == "COSIATEC"
    assert doc["piece"] == {"source": str(DATA / name), "points": len(BUNDLED)}
    assert doc["options"] == {"restrict_dpitch_zero": False, "sweepline_optimization": True}
    # The TECs partition the piece, whatever the file's time unit.
    points = set()
    for tec in doc["tecs"]:
        assert set(tec) == {"pattern", "translators", "sub_tecs", "coverage", "compression_ratio"}
        assert tec["translators"] == sorted(tec["translators"])
        assert tec["coverage"] == len(covered(tec))
        assert not points & covered(tec)
        points |= covered(tec)
    assert len(points) == len(BUNDLED)
    assert doc["encoding"]["units"] == sum(len(t["pattern"]) + len(t["translators"]) for t in doc["tecs"])


def test_json_matches_the_python_api(capsys):
    code, out, _ = run_main(capsys, "--format", "json")
    assert code == 0
    tecs = cosiatec_compress(BUNDLED)
    assert [(t["pattern"], t["translators"]) for t in json.loads(out)["tecs"]] == [
        ([list(p) for p in t.pattern], sorted(list(v) for v in t.translators)) for t in tecs]

    code, out, _ = run_main(capsys, "recursive", "--min-pattern-size", "3", "--format", "json")
    doc = json.loads(out)
    rec = recursive_cosiatec_compress(BUNDLED, False, 3)
    assert doc["options"]["min_pattern_size"] == 3 and len(doc["tecs"]) == len(rec)
    for t_json, t in zip(doc["tecs"], rec):
        assert covered(t_json) == t.coverage
        assert len(t_json["sub_tecs"]) == len(t.sub_tecs)
        assert t_json["compression_ratio"] == t.compression_ratio
        if t.sub_tecs:
            assert t_json["pattern"] == []


def test_tecs_and_mtps(capsys):
    gibbons = DATA / "gibbonsSilverSwan1612_polyphonic.csv"
    points = sorted(set(load_piece("gibbonsSilverSwan1612_polyphonic")))
    _, plain, _ = run_main(capsys, "tecs", gibbons, "--format", "json", "--restrict-dpitch-zero")
    _, sweep, _ = run_main(capsys, "tecs", gibbons, "--format", "json", "--restrict-dpitch-zero",
                           "--sweepline")
    plain, sweep = json.loads(plain), json.loads(sweep)
    assert sweep["algorithm"] == "SIATEC (sweepline)" and "encoding" not in sweep
    assert plain["tecs"] == sweep["tecs"]
    assert len(plain["tecs"]) == len(build_tecs_from_mtps(points, True))

    _, out, _ = run_main(capsys, "mtps", gibbons, "--format", "json")
    mtps = find_mtps(points)
    assert {tuple(m["vector"]): [tuple(p) for p in m["pattern"]] for m in json.loads(out)["mtps"]} == mtps


def test_csv_output_rebuilds_the_encoding(capsys):
    code, out, _ = run_main(capsys, "recursive", "--format", "csv")
    assert code == 0
    rows = list(csv.DictReader(io.StringIO(out)))
    assert set(rows[0]) == {"tec", "role", "tick", "pitch"}
    rec = recursive_cosiatec_compress(BUNDLED)
    top = {r["tec"].split(".")[0] for r in rows}
    assert len(top) == len(rec)
    first_sub = [(int(r["tick"]), int(r["pitch"])) for r in rows if r["tec"] == "1.1" and r["role"] == "pattern"]
    assert first_sub == rec[0].sub_tecs[0].pattern
    code, out, _ = run_main(capsys, "mtps", "--format", "csv")
    assert out.splitlines()[0] == "vector_tick,vector_pitch,tick,pitch"
    assert len(out.splitlines()) == 1 + sum(len(v) for v in find_mtps(BUNDLED).values())


def test_text_report_of_each_operation(capsys):
    _, out, _ = run_main(capsys, "recursive")
    assert "RecurSIA encoding (min_pattern_size=2)" in out and "  sub-tecs:" in out
    _, out, _ = run_main(capsys, "tecs", "--sweepline")
    assert "SIATEC (sweepline) classes" in out
    _, out, _ = run_main(capsys, "mtps", "--restrict-dpitch-zero")
    assert "SIA (restrict_dpitch_zero):" in out and "  vector (" in out
    # A bare file name still means "compress this file".
    _, out, _ = run_main(capsys, DATA / "invention1.csv", "--no-sweepline")
    assert "COSIATEC encoding" in out


def _broken(tmp_path, name, content):
    f = tmp_path / name
    f.write_bytes(content)
    return f


@pytest.mark.parametrize("name, content, message", [
    ("bad.csv", b"tick,pitch\n0,60\n1;61\n", "bad.csv: line 3"),
    ("bad.mid", b"MThd\x00\x00\x00\x06\x00\x01", "bad.mid: not a valid MIDI file"),
    ("bad.musicxml", b"<score-partwise><part", "bad.musicxml: cannot read the score"),
    ("bad.wav", b"RIFF", "bad.wav: unknown file type"),
    ("missing.csv", None, "missing.csv: No such file or directory"),
])
def test_broken_files_fail_cleanly(tmp_path, name, content, message):
    if name.endswith(".mid"):
        pytest.importorskip("mido")
    if name.endswith(".musicxml"):
        pytest.importorskip("partitura")
    path = _broken(tmp_path, name, content) if content is not None else tmp_path / name
    r = cli("compress", path, "--format", "json")
    assert r.returncode == 1
    assert r.stdout == ""
    assert message in r.stderr and "Traceback" not in r.stderr


def test_usage_errors(capsys, tmp_path):
    with pytest.raises(SystemExit) as e:
        main(["compress", "--format", "xml"])
    assert e.value.code == 2
    with pytest.raises(SystemExit) as e:
        main(["recursive", "--min-pattern-size", "-1"])
    assert e.value.code == 2
    code, out, err = run_main(capsys, DATA / "invention1.csv", "--pitch", "morphetic")
    assert code == 1 and "morphetic pitch needs a score file" in err
    code, out, err = run_main(capsys, "--output", tmp_path / "no" / "dir.txt")
    assert code == 1 and "dir.txt" in err


def test_help_documents_the_json_schema():
    r = cli("--help")
    assert r.returncode == 0
    for word in (SCHEMA, '"pattern"', '"translators"', '"sub_tecs"', "compress", "recursive", "--format"):
        assert word in r.stdout
    r = cli("compress", "--help")
    assert "--plot" in r.stdout and "--no-sweepline" in r.stdout
