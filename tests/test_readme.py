"""The README's examples run as written, and the source folder explains itself."""

import doctest
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).parent.parent


def test_the_readme_examples_pass(tmp_path, monkeypatch):
    pytest.importorskip("partitura")
    pytest.importorskip("matplotlib")
    # The examples name files as seen from the repository root; they run in a
    # scratch folder that sees the same tests/ folder, with the installed package.
    (tmp_path / "tests").symlink_to(ROOT / "tests")
    monkeypatch.chdir(tmp_path)
    result = doctest.testfile(str(ROOT / "README.md"), module_relative=False, optionflags=doctest.ELLIPSIS)
    assert result.attempted > 20 and result.failed == 0


def test_importing_the_source_folder_says_what_to_do():
    package = ROOT / "motivra" / "sia_family"
    if any(name.startswith("_core") and not name.endswith(".pyi") for name in os.listdir(package)):
        pytest.skip("the compiled module was built in place")
    r = subprocess.run([sys.executable, "-c", "import motivra.sia_family"], cwd=ROOT, capture_output=True, text=True)
    assert r.returncode == 1
    assert "ImportError: motivra.sia_family was imported from" in r.stderr
    assert all(hint in r.stderr for hint in ("another folder", "python -P", "editable install"))
