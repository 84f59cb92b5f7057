"""Run one operation over a whole corpus: many pieces, one output file each.

    motivra-sia batch INPUT... --out DIR [--operation compress] [--jobs N] [options]

Every piece goes through the single-piece pipeline (:func:`~motivra.sia_family.io.read`,
:func:`~motivra.sia_family.results.analyse` and :meth:`Result.render
<motivra.sia_family.results.Result.render>`), so its output file is exactly what
``motivra-sia OPERATION PIECE --format FORMAT`` prints. The pieces run in worker
processes, on this machine (a ``pebble`` process pool, which can end one worker
that is past its time) or on a Dask cluster (``dask.distributed``). The main
process writes every output (under a temporary name, then renamed) and the table
``DIR/summary.csv``, one row per piece; the table also records the options of
each output, so that running the same command again skips the pieces already
done.

:func:`run` is the entry point; it takes the :class:`~motivra.sia_family.results.Options`
of the single-piece analysis and the :class:`Settings` of the batch.
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import csv
import dataclasses
import glob
import io
import json
import logging
import multiprocessing
import os
import signal
import subprocess
import sys
import threading
import time
from collections.abc import Callable, Iterable, Iterator
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Any, Literal

from ._core import PanicException
from .errors import MissingDependencyError, PieceError, import_optional
from .io import FORMATS, ReadOptions, note_count_hook
from .results import Options, analyse

__all__ = ["run", "Settings", "find_pieces", "output_name", "read_summary", "BatchInterrupted", "COLUMNS", "SUMMARY"]

#: Name of the summary table in the output folder.
SUMMARY = "summary.csv"

#: Columns of the summary table, in order.
COLUMNS = (
    "input",
    "output",
    "status",
    "notes",
    "points",
    "tecs",
    "units",
    "compression_ratio",
    "seconds",
    "peak_memory_mib",
    "error",
    "options",
)
_INTS = ("notes", "points", "tecs", "units")
_FLOATS = ("compression_ratio", "seconds", "peak_memory_mib")

#: File name suffix of the output of each format.
OUTPUT_SUFFIX: dict[str, str] = {"json": ".json", "csv": ".csv", "text": ".txt"}
BatchFormat = Literal["json", "csv", "text"]

_PARTIAL = ".partial"  # suffix of a file being written
_POLL = 0.2  # seconds between two looks at the workers and at Ctrl-C
_CHECKPOINT = 10.0  # seconds between two writes of the summary during a run
_BATCH_EXTRA = "pip install 'motivra-sia-family[batch]'"
_DASK_EXTRA = "pip install 'motivra-sia-family[distributed]'"

Row = dict[str, Any]


@dataclass(frozen=True)
class Settings:
    """How a batch runs, beside the :class:`~motivra.sia_family.results.Options` of
    each piece's analysis.

    - ``format``: the output of each piece, ``"json"``, ``"csv"`` or ``"text"``.
    - ``input_format``, ``include_drums``: how to read the pieces (see
      :class:`~motivra.sia_family.io.ReadOptions`); folders are searched for the
      suffixes of ``input_format`` only.
    - ``jobs``: worker processes on this machine, or Dask workers for
      ``scheduler="local"``; ``scheduler``: the address of a Dask cluster.
    - ``timeout``: seconds after which a piece's worker is ended (status
      ``"timeout"``); ``max_notes``: pieces of more notes are not computed
      (status ``"skipped"``).
    - ``force``: compute again the pieces whose output is there.
    - ``progress``: a progress bar on standard error (``None``: when it is a terminal).
    """

    format: BatchFormat = "json"
    input_format: str | None = None
    include_drums: bool = False
    jobs: int = 1
    scheduler: str | None = None
    timeout: float | None = None
    max_notes: int | None = None
    force: bool = False
    progress: bool | None = None

    def __post_init__(self) -> None:
        if self.format not in OUTPUT_SUFFIX:
            raise ValueError(f"format must be one of {', '.join(OUTPUT_SUFFIX)}, got {self.format!r}")
        if self.input_format is not None and self.input_format not in FORMATS:
            raise ValueError(f"input_format must be one of {', '.join(FORMATS)}, got {self.input_format!r}")
        if self.jobs < 1:
            raise ValueError(f"jobs must be 1 or more, got {self.jobs}")
        if self.timeout is not None and not self.timeout > 0:
            raise ValueError(f"timeout must be a positive number of seconds, got {self.timeout}")
        if self.max_notes is not None and self.max_notes < 0:
            raise ValueError(f"max_notes must be 0 or more, got {self.max_notes}")

    @property
    def read_options(self) -> ReadOptions:
        return ReadOptions(self.input_format, self.include_drums)


@dataclass(frozen=True)
class Job:
    """One piece for a worker: its name as given, the path it is read by, and
    what to do with it."""

    source: str
    path: str
    options: Options
    read: ReadOptions = field(default_factory=ReadOptions)
    format: BatchFormat = "json"
    max_notes: int | None = None

    def to_json(self) -> str:
        return json.dumps(asdict(self))

    @classmethod
    def from_json(cls, text: str) -> Job:
        doc = json.loads(text)
        return cls(**doc | {"options": Options(**doc["options"]), "read": ReadOptions(**doc["read"])})


class BatchInterrupted(KeyboardInterrupt):
    """Ctrl-C stopped a batch. The pieces finished before it are written, and so is
    the summary of them; ``rows`` holds that summary."""

    def __init__(self, rows: list[Row]) -> None:
        super().__init__("batch interrupted")
        self.rows = rows


# ---------------------------------------------------------------------------
# Finding the pieces and naming their outputs


def _suffixes(input_format: str | None) -> tuple[str, ...]:
    if input_format is not None:
        return FORMATS[input_format]
    return tuple(s for suffixes in FORMATS.values() for s in suffixes)


def find_pieces(
    inputs: Iterable[str | os.PathLike[str]],
    *,
    input_format: str | None = None,
    exclude: str | os.PathLike[str] | None = None,
) -> list[str]:
    """The piece files that ``inputs`` name, each once, in a fixed order.

    A file is taken as it is, whatever its suffix (a missing one fails when it is
    read). A folder is searched recursively, in sorted order, for files with a
    readable suffix (those of ``input_format`` if given), leaving out hidden files
    and folders and the folder ``exclude`` (the output folder). Any other input
    is a glob pattern (``**`` matches any depth); the files with a readable suffix
    among its matches are taken, and its folders searched.
    """
    suffixes = _suffixes(input_format)
    skip = os.path.realpath(exclude) if exclude is not None else None
    seen: set[str] = set()
    found: list[str] = []

    def add(path: str) -> None:
        key = os.path.abspath(path)
        if key not in seen and not (skip and os.path.realpath(path).startswith(skip + os.sep)):
            seen.add(key)
            found.append(path)

    def search(folder: str) -> None:
        for root, dirs, files in os.walk(folder):
            dirs[:] = sorted(
                d for d in dirs if not d.startswith(".") and os.path.realpath(os.path.join(root, d)) != skip
            )
            for name in sorted(files):
                if not name.startswith(".") and Path(name).suffix.lower() in suffixes:
                    add(os.path.join(root, name))

    for item in (os.fspath(i) for i in inputs):
        if os.path.isdir(item):
            search(item)
        elif os.path.exists(item) or not glob.has_magic(item):
            add(item)
        else:
            matches = sorted(glob.glob(item, recursive=True))
            if not matches:
                add(item)  # fails as a missing file, with the pattern in its row
            for match in matches:
                if os.path.isdir(match):
                    search(match)
                elif Path(match).suffix.lower() in suffixes:
                    add(match)
    return found


def output_name(source: str | os.PathLike[str], fmt: str) -> str:
    """The output file of a piece, relative to the output folder: the piece's path
    relative to the current folder (or its absolute path without the leading
    ``/`` when it lies elsewhere), with the format's suffix added. Two different
    files never get the same name, and the name does not depend on the other
    inputs, so that a later run finds the outputs of an earlier one."""
    path = os.path.abspath(source)
    here = os.getcwd()
    if os.path.commonpath([here, path]) == here:
        parts = Path(os.path.relpath(path, here)).parts
    else:
        parts = Path(path).parts[1:]
    return "/".join(parts) + OUTPUT_SUFFIX[fmt]


# ---------------------------------------------------------------------------
# One piece, in a worker


def _reset_peak_memory() -> None:
    """Lower this process's high-water mark of resident memory to what it uses
    now, so that the mark read after a piece is that piece's peak (Linux)."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def _peak_memory_mib() -> float | None:
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return round(int(line.split()[1]) / 1024, 1)
    except OSError:
        pass
    try:
        import resource
    except ImportError:
        return None
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # KiB, bytes on macOS
    return round(peak / (2**20 if sys.platform == "darwin" else 1024), 1)


class _TooManyNotes(Exception):
    pass


def _empty_row() -> Row:
    return {column: None for column in COLUMNS} | {"error": ""}


def run_piece(job: Job) -> Row:
    """Read, compute and render one piece as the single-piece command would; the
    summary figures of it, with the rendered output under ``"text"`` (``None``
    when the piece did not succeed). Never raises for a bad piece."""
    _reset_peak_memory()
    start = time.perf_counter()
    source, max_notes = job.source, job.max_notes
    row = _empty_row()

    def count(notes: int) -> None:
        row["notes"] = notes
        if max_notes is not None and notes > max_notes:
            raise _TooManyNotes(f"{notes} notes, more than --max-notes {max_notes}")

    token = note_count_hook.set(count)
    try:
        # The file is read by its absolute path, since a worker may run in another
        # folder, and named as it was given, as the single-piece command names it.
        result = analyse(job.read.read(job.path, job.options.pitch), job.options)
        result = dataclasses.replace(result, source=source)
        row["text"] = result.render(job.format)
    except _TooManyNotes as e:
        row.update(status="skipped", error=f"{source}: {e}")
    except PieceError as e:
        row.update(status="failed", error=f"{source}: {e.problem}")
    except MissingDependencyError as e:
        row.update(status="failed", error=str(e))
    except OSError as e:
        row.update(status="failed", error=f"{source}: {e.strerror or e}")
    except (Exception, PanicException) as e:
        row.update(status="failed", error=f"{source}: {type(e).__name__}: {e}")
    else:
        row["status"] = "ok"
        row["points"] = len(result.points)
        if result.tecs is not None:
            row["tecs"] = len(result.tecs)
        if result.is_encoding:
            units = result.units()
            row["units"] = units
            row["compression_ratio"] = len(result.points) / units if units else None
    finally:
        note_count_hook.reset(token)
    row["seconds"] = round(time.perf_counter() - start, 4)
    row["peak_memory_mib"] = _peak_memory_mib()
    return row


def _timeout_row(source: str, timeout: float) -> Row:
    return _empty_row() | {
        "status": "timeout",
        "error": f"{source}: stopped after {timeout:g} s (--timeout); its worker was ended",
    }


def run_piece_in_child(job: Job, timeout: float) -> Row:
    """:func:`run_piece` in a new interpreter that is ended past ``timeout``
    seconds. Dask runs a piece this way when a timeout is set, since a running
    task cannot be stopped inside a Dask worker."""
    command = [sys.executable, "-P", "-m", "motivra.sia_family.batch"]  # -P: not the cwd's modules
    try:
        done = subprocess.run(
            command, input=job.to_json(), capture_output=True, text=True, timeout=timeout, check=False
        )
    except subprocess.TimeoutExpired:
        return _timeout_row(job.source, timeout)
    if done.returncode != 0:
        return _empty_row() | {
            "status": "failed",
            "error": f"{job.source}: the worker process "
            f"ended with status {done.returncode}: {done.stderr.strip()[-500:]}",
        }
    row: Row = json.loads(done.stdout)
    return row


# ---------------------------------------------------------------------------
# The summary table


def _cell(value: Any) -> str:
    return "" if value is None else str(value)


def _parse(row: dict[str, str]) -> Row:
    parsed: Row = {column: row.get(column, "") for column in COLUMNS}
    for column in _INTS + _FLOATS:
        text = parsed[column]
        parsed[column] = None if not text else (int(text) if column in _INTS else float(text))
    return parsed


def read_summary(out_dir: str | os.PathLike[str]) -> list[Row]:
    """The rows of ``out_dir/summary.csv``, with numbers as numbers (``[]`` if none)."""
    try:
        with open(Path(out_dir, SUMMARY), encoding="utf-8", newline="") as f:
            return [_parse(row) for row in csv.DictReader(f)]
    except (OSError, csv.Error, ValueError):
        return []


def _write_atomically(path: Path, text: str) -> None:
    """Write ``text`` under a temporary name beside ``path``, then rename it, so
    that ``path`` is either absent, as it was, or complete."""
    path.parent.mkdir(parents=True, exist_ok=True)
    partial = path.with_name(f".{path.name}.{os.getpid()}{_PARTIAL}")
    try:
        with open(partial, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        os.replace(partial, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(partial)
        raise


def _write_summary(out_dir: Path, rows: Iterable[Row]) -> None:
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(COLUMNS)
    writer.writerows([_cell(row[column]) for column in COLUMNS] for row in rows)
    _write_atomically(out_dir / SUMMARY, buffer.getvalue())


def _remove_partials(out_dir: Path) -> None:
    """Remove the temporary files that a killed run may have left behind."""
    for root, _, files in os.walk(out_dir):
        for name in files:
            if name.startswith(".") and name.endswith(_PARTIAL):
                with contextlib.suppress(OSError):
                    os.unlink(os.path.join(root, name))


# ---------------------------------------------------------------------------
# Running many pieces


def command_line(options: Options, settings: Settings) -> str:
    """The single-piece command line, less the piece, that gives the output of a
    piece: what the summary records as its ``options``."""
    argv = [options.operation, "--format", settings.format, "--pitch", options.pitch]
    if settings.include_drums:
        argv.append("--include-drums")
    if options.restrict_dpitch_zero:
        argv.append("--restrict-dpitch-zero")
    if settings.input_format is not None:
        argv += ["--input-format", settings.input_format]
    if options.is_encoding and not options.uses_sweepline:
        argv.append("--no-sweepline")
    if options.operation == "tecs" and options.uses_sweepline:
        argv.append("--sweepline")
    if options.operation == "recursive":
        argv += ["--min-pattern-size", str(options.min_pattern_size)]
    if (options.min_size, options.max_size, options.min_compactness) != (2, None, 0.0) and options.is_encoding:
        argv += ["--min-size", str(options.min_size), "--min-compactness", str(options.min_compactness)]
        if options.max_size is not None:
            argv += ["--max-size", str(options.max_size)]
    return " ".join(argv)


@contextlib.contextmanager
def _ctrl_c_sets(stop: threading.Event) -> Iterator[None]:
    """While active, Ctrl-C (SIGINT) sets ``stop`` instead of raising
    KeyboardInterrupt wherever the main thread happens to be."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.signal(signal.SIGINT, lambda signum, frame: stop.set())
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


class _Progress:
    """A progress bar on standard error (tqdm), or nothing."""

    def __init__(self, total: int, skipped: int, show: bool) -> None:
        self.failed = 0
        self.bar = None
        if show:
            try:
                from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]
            except ImportError:
                return
            self.bar = tqdm(
                total=total,
                unit="piece",
                file=sys.stderr,
                dynamic_ncols=True,
                desc=f"{skipped} skipped" if skipped else None,
            )

    def update(self, row: Row) -> None:
        if row["status"] in ("failed", "timeout"):
            self.failed += 1
        if self.bar is not None:
            self.bar.set_postfix(failed=self.failed, refresh=False)
            self.bar.update(1)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def _worker_start() -> None:
    # The pool ends a worker with SIGTERM; let that end it at once, even in the
    # middle of a long computation, rather than after the computation returns.
    signal.signal(signal.SIGTERM, signal.SIG_DFL)


def _on_pool(
    jobs: list[Job], workers: int, timeout: float | None, stop: threading.Event, finish: Callable[[int, Row], None]
) -> None:
    """Run the jobs in a pool of worker processes on this machine."""
    pebble = import_optional("pebble", "running pieces in worker processes", _BATCH_EXTRA)
    # Fresh interpreters rather than forks: the pool's own threads make forking unsafe.
    pool = pebble.ProcessPool(
        max_workers=workers, initializer=_worker_start, context=multiprocessing.get_context("spawn")
    )
    queue = iter(enumerate(jobs))
    # The pieces handed to the pool: a few per worker, not all at once, so that
    # Ctrl-C finds nothing half-sent to a worker and a huge corpus costs no memory.
    pending: dict[concurrent.futures.Future[Row], int] = {}

    def hand_out() -> None:
        while len(pending) < 2 * workers:
            item = next(queue, None)
            if item is None:
                return
            pending[pool.schedule(run_piece, args=(item[1],), timeout=timeout)] = item[0]

    try:
        hand_out()
        while pending and not stop.is_set():
            done, _ = concurrent.futures.wait(pending, timeout=_POLL, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in sorted(done, key=pending.__getitem__):
                i = pending.pop(future)
                try:
                    row = future.result()
                except TimeoutError:
                    row = _timeout_row(jobs[i].source, timeout or 0)
                except Exception as e:  # the worker died (e.g. killed for lack of memory)
                    error = f"{jobs[i].source}: the worker process died: {e}"
                    row = _empty_row() | {"status": "failed", "error": error}
                finish(i, row)
            if not stop.is_set():
                hand_out()
    except BaseException:
        pool.stop()
        pool.join()
        raise
    if stop.is_set():
        pool.stop()
    else:
        pool.close()
    pool.join()


def _on_dask(
    jobs: list[Job],
    scheduler: str,
    workers: int,
    timeout: float | None,
    stop: threading.Event,
    finish: Callable[[int, Row], None],
) -> None:
    """Run the jobs on a Dask cluster: the one at ``scheduler``, or a new one on
    this machine with ``workers`` worker processes for ``"local"``."""
    import_optional("distributed", "running pieces on a Dask cluster", _DASK_EXTRA)
    from distributed import Client, LocalCluster, as_completed

    with contextlib.ExitStack() as stack:
        if scheduler == "local":
            cluster = stack.enter_context(
                LocalCluster(
                    n_workers=workers,
                    threads_per_worker=1,
                    processes=True,
                    host="127.0.0.1",
                    dashboard_address=None,
                    silence_logs=logging.ERROR,
                )
            )
            client = stack.enter_context(Client(cluster, set_as_default=False))
        else:
            client = stack.enter_context(Client(scheduler, set_as_default=False))
        futures = []
        for i, job in enumerate(jobs):
            if timeout is None:
                futures.append(client.submit(run_piece, job, pure=False, priority=-i))
            else:
                futures.append(client.submit(run_piece_in_child, job, timeout, pure=False, priority=-i))
        index = {future.key: i for i, future in enumerate(futures)}
        completed = as_completed(futures, loop=client.loop)
        while not completed.is_empty() and not stop.is_set():
            batch = completed.next_batch(block=False)
            if not batch:
                time.sleep(_POLL)
            for future in sorted(batch, key=lambda f: index[f.key]):
                i = index[future.key]
                try:
                    row = future.result()
                except Exception as e:  # e.g. the worker died again and again
                    row = _empty_row() | {"status": "failed", "error": f"{jobs[i].source}: {type(e).__name__}: {e}"}
                if stop.is_set() and row["status"] != "ok":
                    continue  # Ctrl-C in a terminal reaches the local workers too
                finish(i, row)
        if stop.is_set():
            client.cancel(futures)


def _is_current(row: Row, options: str, output: Path, source: str) -> bool:
    """Whether a previous run's output can stand: it succeeded with the same options,
    the file is there, and it is newer than the piece."""
    if row["status"] not in ("ok", "skipped") or row["options"] != options or not row["output"]:
        return False
    try:
        return output.stat().st_mtime_ns >= os.stat(source).st_mtime_ns
    except OSError:
        return False


def _size(path: str) -> int:
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


def run(
    inputs: Iterable[str | os.PathLike[str]] | str | os.PathLike[str],
    out_dir: str | os.PathLike[str],
    options: Options = Options(),
    settings: Settings = Settings(),
) -> list[Row]:
    """Run the analysis of ``options`` on every piece that ``inputs`` name; write
    one output file per piece and the table ``summary.csv`` into ``out_dir``;
    return the rows of that table, in the order of :func:`find_pieces`.

    ``inputs`` are files, folders and glob patterns (see :func:`find_pieces`).
    ``options`` are those of :func:`~motivra.sia_family.results.analyse`, and
    each output file equals the single-piece command's output for the piece;
    it is ``out_dir/`` + :func:`output_name`. ``settings`` (:class:`Settings`)
    say how the batch runs: the output format, the workers, the timeout, ...
    A piece whose output from an earlier run is there, with the same options
    and newer than the piece, is ``"skipped"``, unless ``settings.force``.

    Each row maps :data:`COLUMNS` to values: ``input``, ``output`` (relative to
    ``out_dir``, empty when none was written), ``status`` (``"ok"``, ``"failed"``,
    ``"skipped"`` or ``"timeout"``), ``notes``, ``points`` (distinct points),
    ``tecs``, ``units`` (encoding units), ``compression_ratio``, ``seconds``,
    ``peak_memory_mib`` (``None`` where it does not apply), ``error`` and
    ``options``. Ctrl-C stops the workers and raises :class:`BatchInterrupted`
    after writing the summary of the pieces finished.
    """
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    format = settings.format
    # What the output depends on: the single-piece command line less the piece.
    options_text = command_line(options, settings)

    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    _remove_partials(out)
    sources = find_pieces(inputs, input_format=settings.input_format, exclude=out)
    names = [output_name(source, format) for source in sources]
    previous = {} if settings.force else {row["output"]: row for row in read_summary(out) if row["output"]}
    rows: list[Row | None] = [None] * len(sources)
    todo = []
    for k, (source, name) in enumerate(zip(sources, names)):
        old = previous.get(name)
        if old is not None and _is_current(old, options_text, out / name, source):
            rows[k] = old | {"input": source, "status": "skipped", "error": ""}
        else:
            todo.append(k)
    # Largest files first, so that no long piece is left running alone at the end.
    todo.sort(key=lambda k: -_size(sources[k]))
    jobs_list = [
        Job(sources[k], os.path.abspath(sources[k]), options, settings.read_options, format, settings.max_notes)
        for k in todo
    ]

    def done_rows() -> list[Row]:
        return [row for row in rows if row is not None]

    show = sys.stderr.isatty() if settings.progress is None else settings.progress
    bar = _Progress(len(todo), len(sources) - len(todo), show)
    last_checkpoint = time.monotonic()

    def finish(i: int, row: Row) -> None:
        nonlocal last_checkpoint
        k = todo[i]
        text = row.pop("text", None)
        target = out / names[k]
        if text is not None:
            _write_atomically(target, text)
        else:
            # An output left from an earlier run would not match this row.
            with contextlib.suppress(OSError):
                target.unlink()
        row.update(input=sources[k], output=names[k] if text is not None else "", options=options_text)
        rows[k] = row
        bar.update(row)
        if time.monotonic() - last_checkpoint > _CHECKPOINT:
            _write_summary(out, done_rows())
            last_checkpoint = time.monotonic()

    stop = threading.Event()
    try:
        with _ctrl_c_sets(stop):
            if jobs_list and settings.scheduler is not None:
                _on_dask(jobs_list, settings.scheduler, settings.jobs, settings.timeout, stop, finish)
            elif jobs_list:
                _on_pool(jobs_list, min(settings.jobs, len(jobs_list)), settings.timeout, stop, finish)
    finally:
        bar.close()
        _write_summary(out, done_rows())
    if stop.is_set():
        raise BatchInterrupted(done_rows())
    return done_rows()


if __name__ == "__main__":
    # One piece in a child process (see run_piece_in_child): the job as JSON on
    # standard input, the row as JSON on standard output.
    json.dump(run_piece(Job.from_json(sys.stdin.read())), sys.stdout)
