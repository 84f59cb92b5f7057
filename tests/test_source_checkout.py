"""Importing the source folder, without the compiled module, explains itself."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).parent.parent


def test_importing_the_source_folder_says_what_to_do():
    package = ROOT / "motivra" / "sia_family"
    if any(name.startswith("_core") and not name.endswith(".pyi") for name in os.listdir(package)):
        pytest.skip("the compiled module was built in place")
    r = subprocess.run([sys.executable, "-c", "import motivra.sia_family"], cwd=ROOT, capture_output=True, text=True)
    assert r.returncode == 1
    assert "ImportError: motivra.sia_family was imported from" in r.stderr
    assert all(hint in r.stderr for hint in ("another folder", "python -P", "editable install"))
