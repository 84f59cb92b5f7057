from collections.abc import Sequence
from collections.abc import Set as AbstractSet
from typing import Self, final

__all__ = [
    "find_mtps",
    "build_tecs_from_mtps",
    "cosiatec_compress",
    "recursive_cosiatec_compress",
    "build_tecs_from_mtps_sweepline",
    "TranslationalEquivalence",
]

def find_mtps(
    dataset: Sequence[tuple[int, int]], restrict_dpitch_zero: bool = False
) -> dict[tuple[int, int], list[tuple[int, int]]]: ...
def build_tecs_from_mtps(
    dataset: Sequence[tuple[int, int]], restrict_dpitch_zero: bool = False
) -> list[TranslationalEquivalence]: ...
def cosiatec_compress(
    dataset: Sequence[tuple[int, int]], restrict_dpitch_zero: bool = False, sweepline_optimization: bool = True
) -> list[TranslationalEquivalence]: ...
def recursive_cosiatec_compress(
    dataset: Sequence[tuple[int, int]],
    restrict_dpitch_zero: bool = False,
    min_pattern_size: int = 2,
    sweepline_optimization: bool = True,
) -> list[TranslationalEquivalence]: ...
def build_tecs_from_mtps_sweepline(
    dataset: Sequence[tuple[int, int]], restrict_dpitch_zero: bool = False
) -> list[TranslationalEquivalence]: ...

@final
class TranslationalEquivalence:
    def __new__(
        cls,
        pattern: Sequence[tuple[int, int]],
        translators: AbstractSet[tuple[int, int]],
        sub_tecs: Sequence[TranslationalEquivalence] | None,
    ) -> Self: ...
    @property
    def pattern(self) -> list[tuple[int, int]]: ...
    @property
    def translators(self) -> set[tuple[int, int]]: ...
    @property
    def sub_tecs(self) -> list[TranslationalEquivalence]: ...
    @property
    def coverage(self) -> set[tuple[int, int]]: ...
    @property
    def compression_ratio(self) -> float: ...
    def compactness(self, points: AbstractSet[tuple[int, int]]) -> float: ...
    def summary(self, indent: int = 0) -> str: ...

class PanicException(BaseException): ...
