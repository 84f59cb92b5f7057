"""Point-set pattern discovery and compression for symbolic music.

A piece is a collection of ``(tick, pitch)`` points. The functions find the
maximal translatable patterns of a piece (SIA), their translational equivalence
classes (SIATEC, and a sweepline variant for sorted input), and greedy
encodings of the piece by such classes (COSIATEC, and RecurSIA on COSIATEC).
"""

try:
    from ._core import (
        PanicException,
        TranslationalEquivalence,
        build_tecs_from_mtps,
        build_tecs_from_mtps_sweepline,
        cosiatec_compress,
        find_mtps,
        recursive_cosiatec_compress,
    )
except ModuleNotFoundError as e:
    if e.name != __name__ + "._core":
        raise
    # Python found this source folder (e.g. the repository root is the current
    # folder), which holds no compiled module, before the installed package.
    raise ImportError(
        f"motivra.sia_family was imported from {__path__[0]}, a source folder without "
        "its compiled module _core. Run Python from another folder, or with 'python -P' "
        "so that the current folder is not searched first, or build the module in place "
        "with an in-place editable install: pip install -C editable.mode=inplace -e ."
    ) from None
from .errors import MissingDependencyError, PieceError
from .io import Note, Piece, read

__all__ = [
    "find_mtps",
    "build_tecs_from_mtps",
    "cosiatec_compress",
    "recursive_cosiatec_compress",
    "build_tecs_from_mtps_sweepline",
    "TranslationalEquivalence",
    "PanicException",
    "read",
    "Piece",
    "Note",
    "PieceError",
    "MissingDependencyError",
]
