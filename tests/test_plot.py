"""Pictures of encodings: one colour and one legend entry per TEC, every occurrence drawn."""

import re
import subprocess
import sys

import pytest

from conftest import DATA
from motivra.sia_family import TranslationalEquivalence, cosiatec_compress, example_piece, recursive_cosiatec_compress

pytest.importorskip("matplotlib")
from motivra.sia_family.plot import occurrence_base, plot_encoding, tec_label  # noqa: E402

BUNDLED = example_piece.points()


def test_svg_holds_every_tec_and_occurrence(tmp_path):
    tecs = cosiatec_compress(BUNDLED)
    path = tmp_path / "enc.svg"
    fig = plot_encoding(BUNDLED, tecs, path, title="Invention")
    svg = path.read_text()
    legend = fig.legends[0]
    assert [t.get_text() for t in legend.get_texts()] == [tec_label(i + 1, t) for i, t in enumerate(tecs)]
    colours = [h.get_color() for h in legend.legend_handles]
    assert len(set(colours)) == len(tecs)
    assert len(set(re.findall(r'id="tec-(\d+)-legend"', svg))) == len(tecs)
    occurrences = re.findall(r'id="tec-(\d+)-occurrence-(\d+)"', svg)
    assert len(occurrences) == sum(1 + len(t.translators) for t in tecs)
    assert "Invention" in svg  # text kept as text


def test_png_from_numpy_and_recursive_encoding(tmp_path):
    np = pytest.importorskip("numpy")
    tecs = recursive_cosiatec_compress(BUNDLED)
    nested = next(t for t in tecs if t.sub_tecs)
    assert nested.pattern == [] and set(occurrence_base(nested)) == set().union(
        *(s.coverage for s in nested.sub_tecs))
    path = tmp_path / "enc.png"
    plot_encoding(np.array(BUNDLED), tecs, path)
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) > 20_000


def test_label_reads_well():
    tec = TranslationalEquivalence([(0, 60), (1, 62)], {(8, 0), (4, 0)}, None)
    assert tec_label(1, tec) == "1: 2 points x 3, ratio 1.5, T = (4, 0) (8, 0)"
    tec = TranslationalEquivalence([(0, 60)], {(k, 0) for k in range(1, 7)}, None)
    assert tec_label(2, tec, max_translators=2) == "2: 1 point x 7, ratio 1, T = (1, 0) (2, 0) ... (+4)"


def test_cli_plot(tmp_path):
    pytest.importorskip("mido")
    out = tmp_path / "enc.png"
    r = subprocess.run([sys.executable, "-P", "-m", "motivra.sia_family", "compress",
                        DATA / "invention1.mid", "--plot", out, "--format", "json"],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert out.read_bytes()[:4] == b"\x89PNG"
    assert r.stdout.startswith("{")  # the picture note goes to stderr
    bad = subprocess.run([sys.executable, "-P", "-m", "motivra.sia_family", "--plot", tmp_path / "x.bmpx"],
                         capture_output=True, text=True, timeout=120)
    assert bad.returncode == 1 and "x.bmpx" in bad.stderr and "Traceback" not in bad.stderr
