"""Throughput of motivra.sia_family.engine.compress with 1 and N Python threads.

    python benchmarks/threads.py [--threads N] [--copies K] PIECE.csv...

Each of K copies of every piece is compressed once, first one at a time in one
thread, then by N threads sharing the work. The engine releases the interpreter
while it computes, so N threads on N free cores should come close to N times the
throughput of one. A piece is a CSV of tick,pitch rows (a header is skipped).
"""

from __future__ import annotations

import argparse
import os
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from motivra.sia_family import engine
from motivra.sia_family.io import read_csv


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("pieces", nargs="+", type=Path)
    p.add_argument("--threads", type=int, default=os.cpu_count() or 2)
    p.add_argument("--copies", type=int, default=2)
    args = p.parse_args()
    work = [read_csv(path) for path in args.pieces] * args.copies

    start = time.perf_counter()
    for points in work:
        engine.compress(points)
    one = time.perf_counter() - start

    start = time.perf_counter()
    with ThreadPoolExecutor(args.threads) as pool:
        list(pool.map(engine.compress, work))
    many = time.perf_counter() - start

    print(
        f"{len(work)} compressions: 1 thread {one:.2f} s, {args.threads} threads {many:.2f} s, "
        f"throughput x{one / many:.2f}"
    )


if __name__ == "__main__":
    main()
