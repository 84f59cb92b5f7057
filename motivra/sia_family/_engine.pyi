from collections.abc import Callable, Sequence

from ._core import TranslationalEquivalence

def compress(
    points: Sequence[tuple[int, int]],
    restrict_dpitch_zero: bool,
    min_pattern_size: int,
    max_pattern_size: int,
    min_compactness: float,
    recursive: bool,
    min_recursion_size: int,
    progress: Callable[[int, int, int], object] | None,
    progress_interval: float,
) -> list[TranslationalEquivalence]: ...
