"""Evaluation against annotated patterns (Gibbons, The Silver Swan, from the JKU PDD)."""

import json
import sys
from fractions import Fraction

import pytest

from motivra.sia_family.cli import main
from motivra.sia_family.evaluate import scores
from motivra.sia_family.mirex import snap_beats

from conftest import DATA

mir_eval = pytest.importorskip("mir_eval")
pytest.importorskip("mir_eval.io")

NOTES = DATA / "gibbonsSilverSwan1612_polyphonic_notes.csv"
TRUTH = DATA / "gibbonsSilverSwan1612_polyphonic_patterns.json"
TIMING = ["--ticks-per-beat", "24", "--offset-beats", "1"]


def truth_patterns():
    doc = json.loads(TRUTH.read_text())
    return [p for p in doc["patterns"] if p["in_mirex_eval"]]


def evaluate(capsys, *args):
    code = main(["evaluate", *map(str, args), "--json", "-"])
    out, err = capsys.readouterr()
    assert code == 0, err
    return json.loads(out)


@pytest.mark.parametrize("pitch, form", [("midi", "raw"), ("morphetic", "segment"), ("morphetic", "bbox")])
def test_measures_equal_plain_mir_eval_on_the_written_pattern_file(tmp_path, capsys, pitch, form):
    common = [NOTES, "--pitch", pitch, "--occurrences", form]
    mirex = tmp_path / "est.txt"
    assert main(["compress", *map(str, common), *TIMING, "--format", "mirex", "-o", str(mirex)]) == 0
    report = evaluate(capsys, *common, "-g", TRUTH)
    assert report["ground_truth"]["unit"] == "ticks"
    # Independently: the file read back by mir_eval, its beats turned into the ground truth's ticks.
    est = [[[(round((b + 1) * 24), p) for b, p in occ] for occ in pat] for pat in mir_eval.io.load_patterns(mirex)]
    ref = [[[tuple(x) for x in occ] for occ in p["occurrences"]] for p in truth_patterns()]
    m = mir_eval.pattern
    expected = {
        "F_est": m.establishment_FPR(ref, est)[0],
        "F_3": m.three_layer_FPR(ref, est)[0],
        "P_3": m.three_layer_FPR(ref, est)[1],
        "F": m.standard_FPR(ref, est)[0],
        "F_occ.75": m.occurrence_FPR(ref, est, thres=0.75)[0],
        "R_occ.5": m.occurrence_FPR(ref, est, thres=0.5)[2],
        "FFP": m.first_n_three_layer_P(ref, est),
        "FFTP_est": m.first_n_target_proportion_R(ref, est),
    }
    assert {k: report["scores"][k] for k in expected} == pytest.approx(expected, abs=1e-12)
    assert report["estimate"]["patterns"] == len(est)


def test_occurrence_thresholds_are_applied():
    ref = [[[(0, 60), (1, 62), (2, 64), (3, 65)], [(8, 60), (9, 62), (10, 64), (11, 65)]]]
    half = [[[(0, 60), (1, 62), (2, 70), (3, 70)], [(8, 60), (9, 62), (10, 70), (11, 70)]]]
    s = scores(ref, half)
    assert s["F_occ.5"] == 0.5 and s["F_occ.75"] == 0.0
    assert scores(ref, ref)["F_occ.75"] == scores(ref, ref)["F_3"] == 1.0


def _beats(tick):
    return Fraction(tick, 24) - 1


def write_mirex_truth(path):
    lines = []
    for i, p in enumerate(truth_patterns(), start=1):
        lines.append(f"pattern{i}")
        for j, occ in enumerate(p["occurrences"], start=1):
            lines += [f"occurrence{j}"] + [f"{float(_beats(t)):.10f}, {m}" for t, m in occ]
    path.write_text("\n".join(lines) + "\n")


def write_folder(root, lisp=False):
    for p in truth_patterns():
        for j, occ in enumerate(p["occurrences"], start=1):
            kind = "lisp" if lisp else "csv"
            folder = root / "repeatedPatterns" / p["annotator"] / p["label"] / "occurrences" / kind
            folder.mkdir(parents=True, exist_ok=True)
            if lisp:
                text = "(" + "\n ".join(f"({_beats(t)} {m} 0 1/2 0)" for t, m in occ) + ")\n"
                (folder / f"occ{j}.txt").write_text(text)
            else:
                (folder / f"occ{j}.csv").write_text(
                    "".join(f"{float(_beats(t)):.10f}, {m}.0000000000, 0, 0.5, 0\n" for t, m in occ)
                )


def test_ground_truth_forms_and_written_encodings_agree(tmp_path, capsys):
    direct = evaluate(capsys, NOTES, "--pitch", "morphetic", "-g", TRUTH)
    write_mirex_truth(tmp_path / "gt.txt")
    write_folder(tmp_path / "csvform")
    write_folder(tmp_path / "lispform", lisp=True)
    for gt in (tmp_path / "gt.txt", tmp_path / "csvform", tmp_path / "lispform" / "repeatedPatterns"):
        report = evaluate(capsys, NOTES, "--pitch", "morphetic", *TIMING, "-g", gt)
        assert report["ground_truth"]["unit"] == "beats"
        assert report["scores"] == direct["scores"]
    # The same encoding written earlier, as JSON (notes from the file it names) or as a MIREX file.
    enc = tmp_path / "enc.json"
    assert main(["compress", str(NOTES), "--pitch", "morphetic", "--format", "json", "-o", str(enc)]) == 0
    assert evaluate(capsys, "--encoding", enc, "-g", TRUTH)["scores"] == direct["scores"]
    est = tmp_path / "est.txt"
    assert main(["compress", str(NOTES), "--pitch", "morphetic", *TIMING, "--format", "mirex", "-o", str(est)]) == 0
    assert evaluate(capsys, "--encoding", est, "-g", tmp_path / "gt.txt")["scores"] == direct["scores"]
    assert evaluate(capsys, "--encoding", est, "-g", TRUTH)["scores"] == direct["scores"]
    assert snap_beats(0.3333333333) == Fraction(1, 3) == snap_beats(1 / 3)


def _json_without_mirex_patterns(tmp_path):
    doc = json.loads(TRUTH.read_text())
    for p in doc["patterns"]:
        p["in_mirex_eval"] = False
    (tmp_path / "none.json").write_text(json.dumps(doc))
    return tmp_path / "none.json"


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda d: (d / "empty").mkdir() or d / "empty", "empty: no patterns found"),
        (_json_without_mirex_patterns, "none.json: no patterns to evaluate against"),
        (
            lambda d: (d / "gt.txt").write_text("pattern1\noccurrence1\n1.5, 60\n7, 200\n") and d / "gt.txt",
            "gt.txt: line 3: the note (1.5, 60) of pattern 'pattern1' is not a note of the piece",
        ),
        (
            lambda d: (d / "gt.txt").write_text("pattern1\noccurrence1\n1.5 60\n") and d / "gt.txt",
            "gt.txt: line 3: expected 'onset, pitch'",
        ),
        (
            lambda d: (
                write_folder(d)
                or (d / "repeatedPatterns/tomCollins/B/occurrences/csv/occ2.csv").write_text("0.5, 60\nx\n")
                and d
            ),
            "occ2.csv: line 2: expected 'onset, pitch'",
        ),
    ],
)
def test_bad_ground_truths_name_the_file_and_line(tmp_path, capsys, make, message):
    gt = make(tmp_path)
    assert main(["evaluate", str(NOTES), *TIMING, "-g", str(gt)]) == 1
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1


def test_missing_mir_eval_names_the_extra(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "mir_eval", None)
    assert main(["evaluate", str(NOTES), "-g", str(TRUTH)]) == 1
    assert "motivra-sia-family[eval]" in capsys.readouterr().err
