"""The exceptions of the package, and the import of its optional libraries.

Every reader raises :class:`PieceError`, whose message names the file (and the
line, where there is one) and the problem; a missing optional library raises
:class:`MissingDependencyError`, which says what to install.
"""

from __future__ import annotations

import importlib
import os
import warnings
from types import ModuleType

__all__ = ["PieceError", "MissingDependencyError", "import_optional", "IO_EXTRA"]

#: How to install the readers' optional libraries.
IO_EXTRA = "pip install 'motivra-sia-family[io]'"


class PieceError(ValueError):
    """A piece file could not be read; the message names the file and the problem."""

    def __init__(self, path: str | os.PathLike[str], problem: str) -> None:
        self.path = os.fspath(path)
        self.problem = problem
        super().__init__(f"{self.path}: {problem}")


class MissingDependencyError(ImportError):
    """An optional library needed for this input or output is not installed."""


def import_optional(module: str, purpose: str, extra: str = IO_EXTRA) -> ModuleType:
    """Import an optional library, or raise :class:`MissingDependencyError`
    naming ``purpose`` and the command that installs ``extra``."""
    try:
        with warnings.catch_warnings():
            # Some score libraries import deprecated standard modules; that is
            # their concern, not the reader's.
            warnings.simplefilter("ignore", DeprecationWarning)
            return importlib.import_module(module)
    except ImportError as e:
        raise MissingDependencyError(
            f"{purpose} needs the optional library {module!r}, which is not installed; install it with: {extra}"
        ) from e
