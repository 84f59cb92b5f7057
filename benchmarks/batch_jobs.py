"""Wall time of ``motivra-sia batch`` with one worker process and with more.

    .venv/bin/python benchmarks/batch_jobs.py [--pieces 300] [--jobs 1 2] [--operation compress]

Writes a corpus of synthetic MIDI pieces (a motif repeated with transpositions,
plus stray notes; 100 to 1000 notes each) into a temporary folder, or takes the
pieces of ``--corpus DIR``, and runs the same batch once per ``--jobs`` value
(``--force``, into a fresh output folder), printing the wall time of each run
its speed-up over the first and the CPU time of the main process and of the
workers (which tells, on a busy machine, whether the work itself grew). The
outputs of all runs are checked to be equal.
"""

from __future__ import annotations

import argparse
import filecmp
import os
import random
import resource
import tempfile
import time

from motivra.sia_family import batch
from motivra.sia_family.results import Options


def write_corpus(folder: str, pieces: int) -> None:
    import mido

    rng = random.Random(15)
    for i in range(pieces):
        motif = [(rng.randrange(8) * 24, rng.randrange(-7, 8)) for _ in range(rng.randrange(3, 8))]
        notes = []
        for r in range(rng.randrange(20, 150)):
            start, base = r * 200 + rng.randrange(4) * 24, 60 + rng.randrange(-5, 6)
            notes += [(start + dt, base + dp) for dt, dp in motif]
            if rng.random() < 0.5:
                notes.append((start + rng.randrange(200), 48 + rng.randrange(24)))
        track, last = mido.MidiTrack(), 0
        for tick, pitch in sorted(notes):
            track.append(mido.Message("note_on", note=pitch, velocity=64, time=tick - last))
            last = tick
        midi = mido.MidiFile(ticks_per_beat=96)
        midi.tracks.append(track)
        os.makedirs(os.path.join(folder, f"g{i % 8}"), exist_ok=True)
        midi.save(os.path.join(folder, f"g{i % 8}", f"piece{i:04d}.mid"))


def _cpu() -> tuple[float, float]:
    """CPU seconds (user + system) of this process and of its ended child processes."""
    me, children = (resource.getrusage(who) for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN))
    return me.ru_utime + me.ru_stime, children.ru_utime + children.ru_stime


def same_outputs(a: str, b: str) -> bool:
    compare = filecmp.dircmp(a, b, ignore=[batch.SUMMARY])
    stack = [compare]
    while stack:
        c = stack.pop()
        if (
            c.left_only
            or c.right_only
            or filecmp.cmpfiles(c.left, c.right, c.common_files, shallow=False)[1:] != ([], [])
        ):
            return False
        stack.extend(c.subdirs.values())
    return True


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pieces", type=int, default=300)
    parser.add_argument("--corpus", help="a folder of pieces instead of the synthetic ones")
    parser.add_argument("--jobs", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--operation", default="compress", choices=("compress", "recursive", "tecs", "mtps"))
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        corpus = options.corpus or os.path.join(tmp, "corpus")
        if options.corpus is None:
            write_corpus(corpus, options.pieces)
        first = None
        for jobs in options.jobs:
            out = os.path.join(tmp, f"out-{jobs}")
            start, cpu = time.perf_counter(), _cpu()
            settings = batch.Settings(jobs=jobs, force=True, progress=False)
            rows = batch.run([corpus], out, Options(operation=options.operation), settings)
            seconds = time.perf_counter() - start
            main_cpu, worker_cpu = (now - then for now, then in zip(_cpu(), cpu))
            busy = sum(row["seconds"] or 0 for row in rows)
            first = first or (seconds, out)
            same = same_outputs(first[1], out)
            print(
                f"--jobs {jobs}: {len(rows)} pieces in {seconds:.2f} s wall "
                f"({busy:.2f} s in the workers), speed-up {first[0] / seconds:.2f}, "
                f"CPU {main_cpu:.2f} s main + {worker_cpu:.2f} s workers, "
                f"outputs {'equal' if same else 'DIFFERENT'}"
            )


if __name__ == "__main__":
    main()
