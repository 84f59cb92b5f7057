"""Sphinx configuration of the package's guide (built by scripts/docs)."""

project = "motivra-sia-family"
author = "motivra"
copyright = "2026, motivra"

extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
# Links to a section of another page (`engine.md#the-engine-...`) resolve through these.
myst_heading_anchors = 3
exclude_patterns = ["_build"]
html_theme = "furo"
html_title = "motivra.sia_family"
