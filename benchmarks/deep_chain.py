"""Time the TranslationalEquivalence operations on a deep chain of nested TECs.

    .venv/bin/python benchmarks/deep_chain.py [--depths 1000,2000,...] [--no-summary]

The chain is ``TE([(0, 0)], {(1, 0)}, None)`` wrapped n - 1 times in
``TE([], {(1, 0)}, [t])``: level k covers k + 1 points, so the covered sets of
all levels hold about n^2 / 2 points and the summary text about 4 n^2 bytes of
indentation.  Each operation is run once per depth and printed with its growth
exponent log(t2 / t1) / log(n2 / n1) against the previous depth.  A summary
that cannot fit in memory raises MemoryError, which is reported as such.
"""

import argparse
import math
import time

from motivra.sia_family import TranslationalEquivalence as TE

DEPTHS = [1_000, 2_000, 4_000, 8_000, 16_000, 32_000, 50_001]


def chain(levels: int) -> TE:
    t = TE([(0, 0)], {(1, 0)}, None)
    for _ in range(levels - 1):
        t = TE([], {(1, 0)}, [t])
    return t


def operations(summary: bool) -> dict[str, object]:
    ops: dict[str, object] = {
        "coverage": lambda t: t.coverage,
        "compression_ratio": lambda t: t.compression_ratio,
        "compactness": lambda t: t.compactness({(0, 0), (5, 0)}),
        "repr": repr,
        "sub_tecs": lambda t: t.sub_tecs,
    }
    if summary:
        ops["summary"] = lambda t: len(t.summary())
    return ops


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--depths", default=",".join(map(str, DEPTHS)))
    parser.add_argument("--no-summary", action="store_true", help="skip summary() (gigabytes of text)")
    args = parser.parse_args()
    depths = [int(d) for d in args.depths.split(",")]
    ops = operations(not args.no_summary)
    previous: dict[str, tuple[int, float]] = {}
    print(f"{'levels':>8} {'operation':<18} {'seconds':>9} {'exponent':>8}")
    for depth in depths:
        t = chain(depth)
        for name, op in ops.items():
            start = time.perf_counter()
            try:
                op(t)  # type: ignore[operator]
                note = ""
            except MemoryError:
                note = " MemoryError"
            seconds = time.perf_counter() - start
            exponent = ""
            if name in previous and not note:
                d0, s0 = previous[name]
                if s0 > 0 and seconds > 0:
                    exponent = f"{math.log(seconds / s0) / math.log(depth / d0):.2f}"
            if not note:
                previous[name] = (depth, seconds)
            print(f"{depth:>8} {name:<18} {seconds:>9.3f} {exponent:>8}{note}", flush=True)
        del t


if __name__ == "__main__":
    main()
