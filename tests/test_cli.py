"""The command-line tool: in-process through main(), and once as python -m."""

import csv
import io
import json
import subprocess
import sys

import pytest

from motivra.sia_family import example_piece, find_mtps, recursive_cosiatec_compress
from motivra.sia_family.cli import main
from motivra.sia_family.results import SCHEMA, encoding_units

from conftest import DATA

BUNDLED = example_piece.points()


def run_main(capsys, *args):
    code = main([str(a) for a in args])
    out, err = capsys.readouterr()
    return code, out, err


def covered(tec):
    """Points covered by a TEC of the JSON output (pattern or sub-TECs, moved by translators)."""
    base = {tuple(p) for p in tec["pattern"]}.union(*(covered(sub) for sub in tec["sub_tecs"]))
    return base | {(t + dt, p + dp) for t, p in base for dt, dp in tec["translators"]}


@pytest.mark.parametrize(
    "name, needs", [("invention1.csv", "csv"), ("invention1.mid", "mido"), ("invention1.musicxml", "partitura")]
)
def test_json_of_every_input_format(name, needs, tmp_path, capsys):
    pytest.importorskip(needs)
    code, out, _ = run_main(capsys, "compress", DATA / name, "--format", "json", "--output", tmp_path / "enc.json")
    assert code == 0 and out == ""
    doc = json.loads((tmp_path / "enc.json").read_text())
    assert doc["schema"] == SCHEMA and doc["operation"] == "compress" and doc["algorithm"] == "COSIATEC"
    assert doc["piece"] == {"source": str(DATA / name), "points": len(BUNDLED)}
    assert doc["options"] == {"restrict_dpitch_zero": False, "sweepline_optimization": True}
    points = set()  # the TECs partition the piece, whatever the file's time unit
    for tec in doc["tecs"]:
        assert set(tec) == {"pattern", "translators", "sub_tecs", "coverage", "compression_ratio"}
        assert tec["translators"] == sorted(tec["translators"]) and tec["coverage"] == len(covered(tec))
        assert not points & covered(tec)
        points |= covered(tec)
    assert len(points) == len(BUNDLED)
    assert doc["encoding"]["units"] == sum(len(t["pattern"]) + len(t["translators"]) for t in doc["tecs"])


def test_json_of_each_operation(capsys):
    code, out, _ = run_main(capsys, "recursive", "--min-pattern-size", "3", "--format", "json")
    doc, tecs = json.loads(out), recursive_cosiatec_compress(BUNDLED, False, 3)
    assert code == 0 and doc["options"]["min_pattern_size"] == 3 and len(doc["tecs"]) == len(tecs)
    for t_json, t in zip(doc["tecs"], tecs):
        assert covered(t_json) == t.coverage and len(t_json["sub_tecs"]) == len(t.sub_tecs)
        # The units of the core, which the class does not expose, and those of the tool agree.
        assert t_json["compression_ratio"] == t.compression_ratio == len(t.coverage) / encoding_units(t)
        assert not t.sub_tecs or t_json["pattern"] == []
    assert doc["encoding"]["units"] == sum(map(encoding_units, tecs))
    plain, sweep = (
        json.loads(run_main(capsys, "tecs", "--format", "json", *flags)[1]) for flags in ([], ["--sweepline"])
    )
    assert sweep["algorithm"] == "SIATEC (sweepline)" and "encoding" not in sweep and plain["tecs"] == sweep["tecs"]
    mtps = json.loads(run_main(capsys, "mtps", "--format", "json", "--restrict-dpitch-zero")[1])["mtps"]
    assert {tuple(m["vector"]): [tuple(p) for p in m["pattern"]] for m in mtps} == find_mtps(BUNDLED, True)


def test_csv_output(capsys):
    rows = list(csv.DictReader(io.StringIO(run_main(capsys, "recursive", "--format", "csv")[1])))
    tecs = recursive_cosiatec_compress(BUNDLED)
    assert len({r["tec"].split(".")[0] for r in rows}) == len(tecs)
    sub = [(int(r["tick"]), int(r["pitch"])) for r in rows if r["tec"] == "1.1" and r["role"] == "pattern"]
    assert sub == tecs[0].sub_tecs[0].pattern
    lines = run_main(capsys, "mtps", "--format", "csv")[1].splitlines()
    assert lines[0] == "vector_tick,vector_pitch,tick,pitch"
    assert len(lines) == 1 + sum(map(len, find_mtps(BUNDLED).values()))


def test_text_report_of_each_operation(capsys):
    for args, text in [
        ("recursive", "RecurSIA encoding (min_pattern_size=2): 25 TECs"),
        ("tecs --sweepline", "SIATEC (sweepline) "),
        ("mtps --restrict-dpitch-zero", "SIA (restrict_dpitch_zero): "),
        ("--no-sweepline", "(sweepline_optimization=False)"),
    ]:
        code, out, _ = run_main(capsys, *args.split())
        assert code == 0 and text in out, args


@pytest.mark.parametrize(
    "args, content, message",
    [
        (["bad.csv"], b"tick,pitch\n0,60\n1;61\n", "bad.csv: line 3"),
        (["bad.mid"], b"MThd\x00\x00\x00\x06\x00\x01", "bad.mid: not a valid MIDI file"),
        (["bad.wav"], b"RIFF", "bad.wav: unknown file type"),
        (["missing.csv"], None, "missing.csv: No such file or directory"),
        (["ok.csv", "--pitch", "morphetic"], b"0,1\n", "morphetic pitch needs a score file"),
        (["ok.csv", "--output", "no/out.txt"], b"0,1\n", "out.txt"),
    ],
)
def test_errors_exit_with_1_and_a_message(tmp_path, capsys, args, content, message):
    if args[0].endswith(".mid"):
        pytest.importorskip("mido")
    if content is not None:
        (tmp_path / args[0]).write_bytes(content)
    code, out, err = run_main(capsys, "compress", *(tmp_path / a if "." in a else a for a in args))
    assert code == 1 and out == "" and message in err


def test_usage_errors_and_help(capsys):
    r = subprocess.run([sys.executable, "-P", "-m", "motivra.sia_family"], capture_output=True, text=True)
    lines = r.stdout.splitlines()  # the default run: compress the bundled piece
    assert r.returncode == 0 and r.stderr == ""
    assert lines[-2:] == [
        "compression ratio: 134 points / 71 units = 1.887",
        "compression factor: 134 points / encoding length 71 = 1.8873",
    ]
    assert lines[:3] == [example_piece.NAME, "134 distinct points", "COSIATEC encoding: 25 TECs"]
    for args in (["compress", "--format", "xml"], ["recursive", "--min-pattern-size", "-1"], ["--help"]):
        with pytest.raises(SystemExit) as e:
            main(args)
        assert e.value.code == (0 if args == ["--help"] else 2)
    out = capsys.readouterr().out
    assert all(word in out for word in (SCHEMA, '"sub_tecs"', "recursive", "--format"))


@pytest.mark.parametrize(
    "args, code, message",
    [
        (["compres", "x"], 2, "unknown operation 'compres' (did you mean 'compress'?)"),
        (["evalute"], 2, "did you mean 'evaluate'?"),
        (["empty.csv"], 1, "empty.csv: no notes"),
        (["folder"], 1, "folder: is a folder, not a piece file"),
        (["folder.mid"], 1, "folder.mid: is a folder, not a piece file"),
        (["compress", "--max-size", "2", "--min-size", "3"], 2, "max_size (2) is below min_size (3)"),
    ],
)
def test_mistakes_get_one_clear_message(tmp_path, monkeypatch, capsys, args, code, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "empty.csv").write_text("tick,pitch\n")
    (tmp_path / "folder").mkdir()
    (tmp_path / "folder.mid").mkdir()
    try:
        status = main(args)
    except SystemExit as e:
        status = e.code
    assert status == code and message in capsys.readouterr().err


def test_an_empty_piece_passes_when_asked_and_the_version_is_told(tmp_path, capsys):
    (tmp_path / "empty.csv").write_text("")
    code, out, _ = run_main(capsys, tmp_path / "empty.csv", "--allow-empty")
    assert code == 0 and "0 distinct points" in out
    with pytest.raises(SystemExit) as e:
        main(["--version"])
    assert e.value.code == 0 and capsys.readouterr().out.startswith("motivra-sia ")
