"""Pictures of encodings: one colour and one legend entry per TEC, every occurrence drawn."""

import re

import pytest

from motivra.sia_family import TranslationalEquivalence, cosiatec_compress, example_piece, recursive_cosiatec_compress
from motivra.sia_family.cli import main

from conftest import DATA

pytest.importorskip("matplotlib")
from motivra.sia_family.plot import occurrence_base, plot_encoding, tec_label  # noqa: E402

BUNDLED = example_piece.points()


def test_svg_holds_every_tec_and_occurrence(tmp_path):
    tecs = cosiatec_compress(BUNDLED)
    legend = plot_encoding(BUNDLED, tecs, tmp_path / "enc.svg", title="Invention").legends[0]
    svg = (tmp_path / "enc.svg").read_text()
    assert [t.get_text() for t in legend.get_texts()] == [tec_label(i + 1, t) for i, t in enumerate(tecs)]
    assert len({h.get_color() for h in legend.legend_handles}) == len(set(re.findall(r'id="tec-(\d+)-legend"', svg)))
    assert len(re.findall(r'id="tec-(\d+)-occurrence-(\d+)"', svg)) == sum(1 + len(t.translators) for t in tecs)
    assert len(legend.legend_handles) == len(tecs) and "Invention" in svg  # text kept as text
    tec = TranslationalEquivalence([(0, 60), (1, 62)], {(8, 0), (4, 0)}, None)
    assert tec_label(1, tec) == "1: 2 points x 3, ratio 1.5, T = (4, 0) (8, 0)"
    tec = TranslationalEquivalence([(0, 60)], {(k, 0) for k in range(1, 7)}, None)
    assert tec_label(2, tec, max_translators=2) == "2: 1 point x 7, ratio 1, T = (1, 0) (2, 0) ... (+4)"


def test_png_of_a_recursive_encoding_from_the_command_line(tmp_path, capsys):
    nested = next(t for t in recursive_cosiatec_compress(BUNDLED) if t.sub_tecs)
    assert nested.pattern == [] and set(occurrence_base(nested)) == set().union(*(s.coverage for s in nested.sub_tecs))
    assert (
        main(["recursive", str(DATA / "invention1.csv"), "--plot", str(tmp_path / "enc.png"), "--format", "json"]) == 0
    )
    out, err = capsys.readouterr()
    assert out.startswith("{") and "picture written" in err  # the note goes to stderr
    assert (tmp_path / "enc.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert main(["--plot", str(tmp_path / "x.bmpx")]) == 1 and "x.bmpx" in capsys.readouterr().err
