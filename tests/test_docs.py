"""The examples of the README and of the guide in docs/, run as doctests.

They run in a scratch folder (an example may write a file) in which `tests` stands for
this folder, so that their paths to the test pieces read as they do from the repository
root.
"""

import doctest
import os
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
PAGES = [p for p in [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))] if ">>>" in p.read_text()]


@pytest.mark.parametrize("page", PAGES, ids=[str(p.relative_to(ROOT)) for p in PAGES])
def test_examples(page, tmp_path, monkeypatch):
    (tmp_path / "tests").symlink_to(ROOT / "tests", target_is_directory=True)
    monkeypatch.chdir(tmp_path)
    result = doctest.testfile(
        os.fspath(page), module_relative=False, optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
    )
    assert result.failed == 0
