"""Reliability at scale: leak loops over every entry point, memory limits in a child
process, calls from many threads, and the largest pieces."""
import csv
import ctypes
import gc
import random
import subprocess
import sys
import textwrap
import threading
from pathlib import Path

import pytest

from motivra.sia_family import _core

TE = _core.TranslationalEquivalence
FUNCTIONS = ["find_mtps", "build_tecs_from_mtps", "cosiatec_compress",
             "recursive_cosiatec_compress", "build_tecs_from_mtps_sweepline"]
JKU = Path(__file__).resolve().parents[2] / "shared" / "data" / "jkupdd"


def _asan_loaded():
    with open("/proc/self/maps") as f:
        return "libasan" in f.read()


ASAN = _asan_loaded()


def _allocated_counter():
    """Bytes currently allocated through malloc (glibc), or through the sanitizer's
    allocator when it is loaded: C++ containers and, under PYTHONMALLOC=malloc, Python
    objects too."""
    libc = ctypes.CDLL(None)
    if ASAN:
        f = libc.__sanitizer_get_current_allocated_bytes
        f.restype = ctypes.c_size_t
        return f

    class MallInfo2(ctypes.Structure):
        _fields_ = [(n, ctypes.c_size_t) for n in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
            "uordblks", "fordblks", "keepcost")]
    f = libc.mallinfo2
    f.restype = MallInfo2

    def allocated():
        m = f()
        return m.uordblks + m.hblkhd
    return allocated


allocated_bytes = _allocated_counter()


class Idx:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class NoLen:
    """A sequence whose length fails; iteration goes by index."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, i):
        return self.items[i]


class BadIter(list):
    def __iter__(self):
        raise ValueError("no iterator")


# Tiny inputs, every argument kind; the objects are kept so that their reference
# counts can be compared after the loops.
DATA = [(1000, 60000), (1001, 60000), (1002, 60001), (1003, 60000)]
SORTED = sorted(DATA)
POINTS = set(DATA)
TRANS = {(1, 0), (-70000, 5)}
LEAF = TE(DATA[:2], TRANS, None)
NODE = TE([], {(4, 0)}, [LEAF, LEAF])
IDX = Idx(70000)
HOSTILE = NoLen([(IDX, 3), (5, IDX)])
BAD_ITER = BadIter(DATA)
BIG = 2**70
WATCHED = [DATA, SORTED, POINTS, TRANS, LEAF, NODE, IDX, HOSTILE, BAD_ITER, BIG,
           *DATA, *POINTS, *TRANS, DATA[0][0], DATA[0][1]]

OK_CALLS = {
    "find_mtps": lambda: _core.find_mtps(DATA),
    "find_mtps/restrict": lambda: _core.find_mtps(DATA, restrict_dpitch_zero=True),
    "build_tecs_from_mtps": lambda: _core.build_tecs_from_mtps(DATA, False),
    "build_tecs_from_mtps_sweepline": lambda: _core.build_tecs_from_mtps_sweepline(SORTED),
    "cosiatec_compress": lambda: _core.cosiatec_compress(DATA, False, False),
    "recursive_cosiatec_compress": lambda: _core.recursive_cosiatec_compress(DATA, True, IDX),
    "hostile dataset": lambda: _core.find_mtps(HOSTILE),
    "TranslationalEquivalence": lambda: TE(DATA, TRANS, [LEAF, NODE]),
    "pattern": lambda: NODE.sub_tecs[0].pattern,
    "translators": lambda: LEAF.translators,
    "sub_tecs": lambda: NODE.sub_tecs,
    "coverage": lambda: NODE.coverage,
    "compression_ratio": lambda: NODE.compression_ratio,
    "compactness": lambda: NODE.compactness(POINTS),
    "summary": lambda: NODE.summary(IDX),
    "repr": lambda: repr(NODE),
}
FAILING_CALLS = {  # one of each failure: binding, each conversion, each exception type
    "binding": (TypeError, lambda: _core.find_mtps(DATA, bogus=DATA)),
    "str dataset": (TypeError, lambda: _core.cosiatec_compress("ab")),
    "length 3": (ValueError, lambda: _core.build_tecs_from_mtps(DATA + [(1, 2, 3)])),
    "out of range": (OverflowError, lambda: _core.build_tecs_from_mtps_sweepline(DATA + [(BIG, 0)])),
    "iterator fails": (ValueError, lambda: _core.find_mtps(BAD_ITER)),
    "flag": (TypeError, lambda: _core.recursive_cosiatec_compress(DATA, False, 2, 1)),
    "size": (OverflowError, lambda: _core.recursive_cosiatec_compress(DATA, min_pattern_size=-BIG)),
    "translators": (OverflowError, lambda: TE(DATA, TRANS | {(BIG, 0)}, None)),
    "sub_tecs": (TypeError, lambda: TE(DATA, TRANS, [LEAF, DATA])),
    "compactness": (TypeError, lambda: LEAF.compactness(DATA)),
    "panic": (_core.PanicException, lambda: LEAF.summary(2**63)),
    "memory": (MemoryError, lambda: LEAF.summary(2**62)),
}


def _run(call, expected, n):
    if expected is None:
        for _ in range(n):
            call()
    else:
        for _ in range(n):
            try:
                call()
            except expected:
                pass
            else:
                raise AssertionError("no exception")


LEAK_CASES = [pytest.param(c, None, id=name) for name, c in OK_CALLS.items()] + [
    pytest.param(c, e, id=name) for name, (e, c) in FAILING_CALLS.items()]


@pytest.mark.parametrize("call, expected", LEAK_CASES)
def test_loops_leave_memory_and_reference_counts_flat(call, expected):
    # 28 entries x 11,000 calls: about 300,000 calls in all, on tiny inputs.
    n = 2_500 if ASAN else 10_000
    _run(call, expected, 1_000)
    gc.collect()
    refs = [sys.getrefcount(x) for x in WATCHED]
    blocks, heap = sys.getallocatedblocks(), allocated_bytes()
    _run(call, expected, n)
    gc.collect()
    grown_blocks, grown_heap = sys.getallocatedblocks() - blocks, allocated_bytes() - heap
    assert [sys.getrefcount(x) for x in WATCHED] == refs
    # A leak of one object or one small buffer per call would show as n blocks or at
    # least 16 n bytes.
    assert grown_blocks < n // 20, grown_blocks
    assert grown_heap < 2 * n, grown_heap


# ---- memory limits ----------------------------------------------------------------

CHILD = """
    import random, resource, sys, time
    limit = int(sys.argv[1])
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    from motivra.sia_family import _core
    TE = _core.TranslationalEquivalence
    kind, n, what = sys.argv[2], int(sys.argv[3]), sys.argv[4]
    rnd = random.Random(7)
    if kind == "grid":        # 100 pitches, ticks ascending
        data = [(i // 100, 30 + i % 100) for i in range(n)]
    elif kind == "random":    # 32-bit coordinates: the hashed path, with wrap-around
        data = sorted({(rnd.randrange(2**32), rnd.randrange(2**32)) for _ in range(n)})
    line = [(i, 60) for i in range(n)]
    calls = {
        "restrict": lambda f: getattr(_core, f)(data, True),
        "plain": lambda f: getattr(_core, f)(data),
        "coverage": lambda f: TE(line, {(0, k) for k in range(1, n + 1)}, None).coverage,
        "compression_ratio": lambda f: TE([], set(), [TE(line, {(0, k) for k in range(1, n + 1)}, None)]).compression_ratio,
        "compactness": lambda f: TE([], set(), [TE(line, {(0, k) for k in range(1, n + 1)}, None)]).compactness(set(line)),
        "summary": lambda f: TE(line, {(0, k) for k in range(1, n + 1)}, None).summary(),
    }
    start = time.monotonic()
    try:
        calls[sys.argv[5]](what)
        print("returned")
    except MemoryError:
        print("MemoryError %.2f" % (time.monotonic() - start))
"""

GIB = 2**30
MEMORY_CASES = (
    [pytest.param(2 * GIB, "grid", 200_000, f, "plain", id=f"{f}-200k-2GiB") for f in FUNCTIONS]
    + [pytest.param(1 * GIB, "random", 30_000, f, "plain", id=f"{f}-30k-1GiB") for f in FUNCTIONS]
    # Within one pitch: 200,000 Points on 100 pitches still make 4e8 ordered pairs.
    + [pytest.param(2 * GIB, "grid", 200_000, f, "restrict", id=f"{f}-restrict-200k-2GiB")
       for f in FUNCTIONS]
    # A TEC of 30,000 Points and 30,000 translators covers 9e8 Points.
    + [pytest.param(2 * GIB, "line", 30_000, "", m, id=f"{m}-30kx30k-2GiB")
       for m in ("coverage", "compression_ratio", "compactness", "summary")]
)


@pytest.mark.skipif(ASAN, reason="the sanitizer's shadow memory needs an unlimited address space")
@pytest.mark.parametrize("limit, kind, n, func, call", MEMORY_CASES)
def test_too_big_fails_fast_with_memory_error(limit, kind, n, func, call):
    try:
        r = subprocess.run([sys.executable, "-c", textwrap.dedent(CHILD), str(limit), kind,
                            str(n), func, call],
                           cwd="/", capture_output=True, text=True, timeout=30)
    except subprocess.TimeoutExpired:
        pytest.fail("no MemoryError within 30 s")
    assert r.returncode == 0, r.stderr[-2000:]
    out = r.stdout.split()
    assert out[0] == "MemoryError", r.stdout
    assert float(out[1]) < 15


# ---- threads ----------------------------------------------------------------------

def _piece(seed, n=300):
    rnd = random.Random(seed)
    return sorted({(rnd.randrange(0, 4 * n, 2), rnd.randrange(48, 72)) for _ in range(n)})


def _work(seed):
    """Every entry point on one piece, with hostile conversions, as comparable text."""
    data = _piece(seed)
    out = [sorted(_core.find_mtps(data).items()), sorted(_core.find_mtps(data, True).items())]
    for name in FUNCTIONS[1:]:
        out.append(repr(getattr(_core, name)(data)))
    tecs = _core.recursive_cosiatec_compress(NoLen([(Idx(t), p) for t, p in data]), False, 3, False)
    for t in tecs[:20]:
        out.append((t.summary(1), sorted(t.coverage), t.compression_ratio,
                    t.compactness(set(data)), repr(t.sub_tecs), t.pattern, sorted(t.translators)))
    deep = TE([data[0]], set(), None)
    for _ in range(300):
        deep = TE([], {(1, 0)}, [deep])
    out.append((repr(deep), deep.compression_ratio, len(deep.coverage)))
    for bad in ("ab", [(0, 1, 2)], [(-1, 0)], BadIter(data)):
        try:
            _core.cosiatec_compress(bad)
        except (TypeError, ValueError, OverflowError) as e:
            out.append((type(e).__name__, str(e)))
    return out


def test_eight_threads_match_sequential_results():
    seeds = list(range(8))
    expected = {s: _work(s) for s in seeds}
    got, errors = {}, []
    barrier = threading.Barrier(8)

    def run(s):
        try:
            barrier.wait()
            for _ in range(2):
                got.setdefault(s, []).append(_work(s))
        except BaseException as e:
            errors.append(repr(e))

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # switch threads as often as possible
    try:
        threads = [threading.Thread(target=run, args=(s,)) for s in seeds]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    assert errors == []
    for s in seeds:
        assert got[s] == [expected[s], expected[s]]


def test_threads_share_one_instance():
    tree = _core.recursive_cosiatec_compress(_piece(99, 200), False, 2)
    expected = [(repr(t), t.summary(), sorted(t.coverage)) for t in tree]
    results, errors = [], []

    def read():
        try:
            for _ in range(5):
                results.append([(repr(t), t.summary(), sorted(t.coverage)) for t in tree])
        except BaseException as e:
            errors.append(repr(e))

    threads = [threading.Thread(target=read) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and results == [expected] * 40


# ---- the largest pieces -----------------------------------------------------------

def _read_piece(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return sorted({(int(t), int(p)) for t, p in rows[1:]})


def _largest_real_piece():
    pieces = sorted(JKU.glob("*_polyphonic.csv")) if JKU.is_dir() else []
    if not pieces:
        pytest.skip("the JKU PDD pieces are not present")
    return _read_piece(max(pieces, key=lambda p: p.stat().st_size))


def _check_compression(data, tecs):
    covered = set()
    for t in tecs:
        assert t.coverage <= set(data)
        covered |= t.coverage
        assert t.compression_ratio > 0
        t.summary()
    assert covered == set(data)


def test_largest_real_piece():
    data = _largest_real_piece()
    mtps = _core.find_mtps(data)
    assert sum(len(v) for v in mtps.values()) <= len(data) * (len(data) - 1)
    tecs = _core.build_tecs_from_mtps(data)
    assert len(tecs) == len(mtps)
    assert repr(_core.build_tecs_from_mtps_sweepline(data)) == repr(tecs)
    del mtps, tecs
    for flag in (True, False):
        _check_compression(data, _core.cosiatec_compress(data, sweepline_optimization=flag))
        _check_compression(data, _core.recursive_cosiatec_compress(data, sweepline_optimization=flag))


def _synthetic(n):
    """The benchmark's synthetic piece of n Points."""
    import importlib.util
    module_spec = importlib.util.spec_from_file_location(
        "_bench_for_tests", Path(__file__).resolve().parents[1] / "benchmarks" / "bench.py")
    bench = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = bench  # its dataclasses look their module up
    try:
        module_spec.loader.exec_module(bench)
        return bench.synthetic_piece(n)
    finally:
        del sys.modules[module_spec.name]


@pytest.mark.slow
def test_largest_synthetic_piece():
    data = _synthetic(8000)
    assert len(_core.find_mtps(data)) > 0
    tecs = _core.cosiatec_compress(data)
    _check_compression(data, tecs)
    nested = _core.recursive_cosiatec_compress(data)
    _check_compression(data, nested)
    assert [t.translators for t in nested] == [t.translators for t in tecs]


# ---- shared sub-trees -------------------------------------------------------------

DAG = """
    import resource, sys
    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
    from motivra.sia_family import TranslationalEquivalence as TE
    t = TE([(0, 0)], {(1, 0)}, None)
    for _ in range(40):  # 40 calls, 2**40 leaves: every instance holds its sub-tree twice
        t = TE([], set(), [t, t])
    calls = {"repr": lambda: repr(t), "coverage": lambda: t.coverage,
             "compression_ratio": lambda: t.compression_ratio,
             "compactness": lambda: t.compactness({(0, 0), (1, 0)}), "summary": lambda: t.summary()}
    try:
        print(calls[sys.argv[1]]())
    except MemoryError:
        print("MemoryError")
"""


@pytest.mark.skipif(ASAN, reason="the sanitizer's shadow memory needs an unlimited address space")
@pytest.mark.parametrize("call", ["repr", "coverage", "compression_ratio", "compactness", "summary"])
def test_tree_built_by_doubling_answers_or_refuses_quickly(call):
    # A caller can build a tree of 2**40 nodes in 40 constructor calls; reading it must
    # give the answer (the covered set has two Points) or a MemoryError, not hang with
    # the interpreter lock held.
    try:
        r = subprocess.run([sys.executable, "-c", textwrap.dedent(DAG), call], cwd="/",
                           capture_output=True, text=True, timeout=15)
    except subprocess.TimeoutExpired:
        pytest.fail(f"{call} still running after 15 s")
    assert r.returncode == 0, r.stderr[-2000:]
    if call == "coverage":
        assert r.stdout.strip() in ("{(0, 0), (1, 0)}", "{(1, 0), (0, 0)}", "MemoryError")
