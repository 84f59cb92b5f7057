"""The compression engine: COSIATEC and RecurSIA as a researcher runs them.

:func:`compress` encodes a piece by translational equivalence classes (TECs) like
:func:`motivra.sia_family.cosiatec_compress` and
:func:`motivra.sia_family.recursive_cosiatec_compress`, with more to choose:

- bounds on the patterns that may be chosen (``min_pattern_size``,
  ``max_pattern_size``, ``min_compactness``);
- a ``progress`` callable, told how far the encoding has got;
- Ctrl-C (or an exception raised by ``progress``) stops it within a fraction of a
  second, with nothing left behind;
- the interpreter is released while it computes, so several threads encode
  several pieces at once.

It returns an :class:`Encoding`: the TECs in the order chosen, the Points left
over, and the encoding length and compression factor as the literature defines
them. With the default options its TECs are exactly those of the
``motivra.sia_family`` functions, in the same order; those functions stay the
exact reference interface.

>>> enc = compress([(0, 60), (1, 62), (4, 60), (5, 62), (8, 60), (9, 62)])
>>> enc.length, enc.compression_factor
(4, 1.5)
"""

from __future__ import annotations

import math
import operator
import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field
from typing import Any

from . import _engine
from ._core import TranslationalEquivalence
from .io import Point, as_points

__all__ = ["ALGORITHMS", "Encoding", "compress", "encoding_length"]

#: The algorithms :func:`compress` knows.
ALGORITHMS: tuple[str, ...] = ("cosiatec",)

#: Called with (Points covered, Points in all, TECs chosen so far).
Progress = Callable[[int, int, int], object]

_NO_LIMIT = 2**64 - 1


@dataclass(frozen=True)
class Encoding:
    """An encoding of a piece by TECs, as :func:`compress` returns it."""

    #: The TECs in the order they were chosen; the one-Point TECs of the leftover
    #: Points come last, ascending (as in the ``motivra.sia_family`` functions).
    tecs: tuple[TranslationalEquivalence, ...]
    #: The Points that no chosen TEC covers, ascending.
    residual: tuple[Point, ...]
    #: The distinct Points of the piece.
    points: int
    #: Sum over the TECs of pattern size plus translator count, where a TEC with a
    #: nested encoding (RecurSIA) counts its translators plus the nested length; the
    #: leftover Points count one each.
    length: int
    #: ``points / length``: how many times shorter than the piece the encoding is.
    compression_factor: float
    #: Wall-clock seconds the encoding took.
    seconds: float
    #: How many TECs were chosen (one per greedy round), leftover Points not counted.
    rounds: int
    #: The algorithm and the options it ran with.
    algorithm: str = "cosiatec"
    options: dict[str, Any] = field(default_factory=dict)


def encoding_length(tec: TranslationalEquivalence) -> int:
    """The length of one TEC in an encoding: its translators plus its pattern's
    Points, or plus the length of its nested encoding when it has one."""
    total = 0
    stack = [tec]
    while stack:
        t = stack.pop()
        total += len(t.translators)
        subs = t.sub_tecs
        if subs:
            stack.extend(subs)
        else:
            total += len(t.pattern)
    return total


def _size(name: str, value: Any, *, minimum: int) -> int:
    """``value`` as an int of at least ``minimum``: a ``TypeError`` for a bool or
    what has no ``__index__``, a ``ValueError`` below the minimum."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, got bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, got {type(value).__name__}") from None
    if number < minimum:
        raise ValueError(f"{name} must be at least {minimum}, got {number}")
    return number


def compress(
    points: Iterable[tuple[int, int]] | Any,
    algorithm: str = "cosiatec",
    *,
    recursive: bool = False,
    restrict_dpitch_zero: bool = False,
    min_pattern_size: int = 2,
    max_pattern_size: int | None = None,
    min_compactness: float = 0.0,
    min_recursion_size: int = 2,
    progress: Progress | None = None,
    progress_interval: float = 0.1,
) -> Encoding:
    """Encode a piece greedily by TECs and return the :class:`Encoding`.

    ``points`` are ``(tick, pitch)`` pairs (any iterable of pairs, or a numpy
    array of shape ``(n, 2)``); repeated Points count once.

    Every round chooses, among the maximal translatable patterns of the Points not
    yet covered, the TEC with the best compression ratio (then compactness,
    coverage, ... as in :func:`motivra.sia_family.cosiatec_compress`; the first of
    equally ranked ones in SIATEC's order) and covers its Points.

    Options:

    - ``algorithm``: ``"cosiatec"`` (the only one so far).
    - ``recursive``: encode every chosen pattern again, recursively (RecurSIA);
      patterns of fewer than ``min_recursion_size`` Points stay as they are.
    - ``restrict_dpitch_zero``: only patterns repeated at the same pitch.
    - ``min_pattern_size``, ``max_pattern_size``: patterns with fewer, or more,
      Points are never chosen (a one-Point pattern never is).
    - ``min_compactness``: patterns whose bounding box holds a smaller share of
      uncovered Points than this are never chosen.
    - ``progress``: called with (Points covered, Points in all, TECs so far)
      while the encoding runs: once as it starts (``(0, points, 0)``, before SIA
      builds its table), then as TECs are chosen, at most once every
      ``progress_interval`` seconds, and last with the final state
      (``(points, points, len(tecs))``: the one-Point TECs cover the rest). A
      report equal to the one before is left out, so ``progress_interval=0``
      reports every change. An exception it raises stops the encoding and
      propagates.

    Points that no admitted pattern covers stay as one-Point TECs. Ctrl-C stops
    the encoding within half a second with ``KeyboardInterrupt``. The
    interpreter is released while the encoding computes.

    Raises ``ValueError`` for an unknown algorithm or an option out of range,
    ``TypeError`` for an option of the wrong type, and ``MemoryError`` when the
    piece is too large for this machine's memory.
    """
    # The options are checked here, once, with the messages users see; _engine binds
    # the checked values and only converts them to its C++ types.
    if algorithm not in ALGORITHMS:
        raise ValueError(f"unknown algorithm {algorithm!r}; choose from: {', '.join(ALGORITHMS)}")
    min_size = _size("min_pattern_size", min_pattern_size, minimum=1)
    if max_pattern_size is None:
        max_size = _NO_LIMIT
    else:
        max_size = _size("max_pattern_size", max_pattern_size, minimum=1)
        if max_size < min_size:
            raise ValueError(f"max_pattern_size ({max_size}) is below min_pattern_size ({min_size})")
    if isinstance(min_compactness, bool) or not isinstance(min_compactness, (int, float)):
        raise TypeError(f"min_compactness must be a number, got {type(min_compactness).__name__}")
    if not 0.0 <= float(min_compactness) <= 1.0:
        raise ValueError(f"min_compactness must lie in 0..1, got {min_compactness!r}")
    recursion_size = _size("min_recursion_size", min_recursion_size, minimum=1)
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be callable, got {type(progress).__name__}")
    if isinstance(progress_interval, bool) or not isinstance(progress_interval, (int, float)):
        raise TypeError(f"progress_interval must be a number, got {type(progress_interval).__name__}")
    if not float(progress_interval) >= 0.0:
        raise ValueError(f"progress_interval must be at least 0, got {progress_interval!r}")

    data = as_points(points)
    distinct = len(set(data))
    start = time.perf_counter()
    records = _engine.compress(
        data,
        restrict_dpitch_zero=bool(restrict_dpitch_zero),
        min_pattern_size=min_size,
        max_pattern_size=max_size,
        min_compactness=float(min_compactness),
        recursive=bool(recursive),
        min_recursion_size=recursion_size,
        progress=progress,
        progress_interval=float(progress_interval),
    )
    seconds = time.perf_counter() - start

    # The leftover Points are the one-Point TECs at the end (chosen patterns have two
    # Points or more).
    first_leftover = len(records)
    while (
        first_leftover > 0
        and not records[first_leftover - 1].sub_tecs
        and len(records[first_leftover - 1].pattern) == 1
    ):
        first_leftover -= 1
    residual = tuple(records[i].pattern[0] for i in range(first_leftover, len(records)))
    length = sum(encoding_length(t) for t in records)
    return Encoding(
        tecs=tuple(records),
        residual=residual,
        points=distinct,
        length=length,
        compression_factor=distinct / length if length else math.nan,
        seconds=seconds,
        rounds=first_leftover,
        algorithm=algorithm,
        options={
            "recursive": bool(recursive),
            "restrict_dpitch_zero": bool(restrict_dpitch_zero),
            "min_pattern_size": min_size,
            "max_pattern_size": max_pattern_size,
            "min_compactness": float(min_compactness),
            "min_recursion_size": recursion_size,
        },
    )
