"""Point-set pattern discovery and compression for symbolic music.

A piece is a collection of ``(tick, pitch)`` points. The functions find the
maximal translatable patterns of a piece (SIA), their translational equivalence
classes (SIATEC, and a sweepline variant for sorted input), and greedy
encodings of the piece by such classes (COSIATEC, and RecurSIA on COSIATEC).
"""

from ._core import (
    PanicException,
    TranslationalEquivalence,
    build_tecs_from_mtps,
    build_tecs_from_mtps_sweepline,
    cosiatec_compress,
    find_mtps,
    recursive_cosiatec_compress,
)
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
