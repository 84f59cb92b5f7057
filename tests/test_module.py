"""The module as a whole: registration and texts, the class's type, fresh imports, deep and
doubled trees, memory limits, leaks and the stub."""

import ctypes
import gc
import importlib.util
import inspect
import json
import subprocess
import sys
import textwrap
import threading
from pathlib import Path

import pytest

import motivra.sia_family as sf
from motivra.sia_family import _core

from conftest import DATA, Idx, Seq

TE = _core.TranslationalEquivalence
# The exact interface texts, name -> [text signature, doc string]; first the module's names in order.
TEXTS = json.loads((DATA / "texts.json").read_text(encoding="utf-8"))
NAMES = list(TEXTS)[:6]
ASAN = "libasan" in Path("/proc/self/maps").read_text()
no_asan = pytest.mark.skipif(ASAN, reason="the sanitizer's shadow memory needs an unlimited address space")


def test_module_identity_and_final_class():
    assert _core.__all__ == NAMES and _core.__doc__ == "" and _core.__name__ == "motivra.sia_family._core"
    assert all(getattr(sf, name) is getattr(_core, name) for name in NAMES + ["PanicException"])
    assert issubclass(_core.PanicException, BaseException) and not issubclass(_core.PanicException, Exception)
    # A second module object registers anew and shares the class.
    found = importlib.util.find_spec(_core.__name__)
    again = importlib.util.module_from_spec(found)
    found.loader.exec_module(again)
    assert again is not _core and again.__all__ == _core.__all__ and again.__all__ is not _core.__all__
    assert again.find_mtps.__self__ is again and again.TranslationalEquivalence is TE
    assert type(again.cosiatec_compress([(0, 0)])[0]) is TE
    # The class is final and slotless.
    assert TE.__qualname__ == "TranslationalEquivalence" and TE.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (TE,), {})
    t = TE([(3, 1)], {(1, 0)}, None)
    for name in ("pattern", "translators", "sub_tecs", "coverage", "compression_ratio", "other"):
        with pytest.raises(AttributeError):
            setattr(t, name, None)
    assert not hasattr(t, "__dict__") and not gc.is_tracked(t)
    with pytest.raises(TypeError):
        __import__("weakref").ref(t)


@pytest.mark.parametrize("name", TEXTS)
def test_texts(name):
    signature, doc = TEXTS[name]
    obj = getattr(_core, name) if "." not in name else getattr(TE, name.split(".")[1])
    assert obj.__doc__ == doc and getattr(obj, "__text_signature__", None) == signature
    if name in _core.__all__:
        assert str(inspect.signature(obj)) == signature.replace("$self, ", "") and obj.__name__ == name.split(".")[-1]
    if name in _core.__all__[:-1]:
        assert obj.__self__ is _core and obj.__module__ == _core.__name__


def run_python(code, *args, prefix=()):
    """Output of code run in a fresh interpreter outside the source tree (by the command
    `prefix` when given); the timeout only turns a hang into a failure."""
    command = [*prefix, sys.executable, "-c", textwrap.dedent(code), *map(str, args)]
    r = subprocess.run(command, cwd="/", capture_output=True, text=True, timeout=300)
    assert r.returncode == 0 and not r.stderr, r.stderr[-2000:]
    return r.stdout


def test_stubs_pass_stubtest(tmp_path):
    assert (Path(sf.__file__).parent / "py.typed").is_file()  # so that type checkers read the stub
    pytest.importorskip("mypy")
    r = subprocess.run([sys.executable, "-m", "mypy.stubtest", _core.__name__], cwd=tmp_path, capture_output=True)
    assert r.returncode == 0, r.stdout + r.stderr


def test_fresh_import_and_deterministic_output():
    code = """
        from motivra.sia_family import _core, cosiatec_compress, recursive_cosiatec_compress
        print(_core.__all__)
        d = [(t, p) for t in range(0, 40, 3) for p in (60, 62, 67) if (t * p) % 7 != 3]
        print(cosiatec_compress(d), recursive_cosiatec_compress(d), sorted(_core.find_mtps(d).items()))
    """
    first = run_python(code)
    assert first.splitlines()[0] == repr(_core.__all__) and run_python(code) == first


def test_deep_trees_without_recursion():
    def work():
        t = TE([(0, 0)], set(), None)
        for _ in range(50_000):
            t = TE([], set(), [t])
        assert repr(t).endswith("])" * 50_001) and t.coverage == {(0, 0)} and t.compactness({(0, 0)}) == 0.0
        assert t.compression_ratio == 1 / 50_001 and len(TE([(1, 1)], {(1, 0)}, [t, t]).coverage) == 4
        s = t.sub_tecs[0]
        del t  # the root goes first; the rest must survive, and go without recursion too
        for _ in range(47_999):
            s = s.sub_tecs[0]
        lines = s.summary().split("\n")  # 2,000 levels
        assert len(lines) == 4 * 2_000 + 3 and lines[-1] == " " * 4_002 + "compression ratio: 1"
        line = [(i, 0) for i in range(200)]
        results.append(set().union(*(x.coverage for x in _core.recursive_cosiatec_compress(line))) == set(line))

    results, old = [], threading.stack_size(256 * 1024)  # a recursive walk would overflow this stack
    try:
        thread = threading.Thread(target=work)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old)
    assert results == [True]


CHILD = """
    import functools, random, resource, sys
    resource.setrlimit(resource.RLIMIT_AS, (int(sys.argv[1]), int(sys.argv[1])))
    from motivra.sia_family import _core, TranslationalEquivalence as TE
    n, rnd = int(sys.argv[2]), random.Random(7)
    grid = [(i // 100, 30 + i % 100) for i in range(n)]  # 100 pitches
    wide = sorted({(rnd.randrange(2**32), rnd.randrange(2**32)) for _ in range(n)})  # the hashed path
    big = lambda: TE([(i, 60) for i in range(n)], {(0, k) for k in range(1, n + 1)}, None)  # n**2 Points
    # 2**n leaves in n calls: every instance holds its sub-tree twice
    doubled = lambda: functools.reduce(lambda t, _: TE([], set(), [t, t]), range(n), TE([(0, 0)], {(1, 0)}, None))
    for expression in sys.argv[3:]:
        try:
            print(repr(eval(expression))[:40])
        except MemoryError:
            print("MemoryError")
"""
G = 2**30


FITS = {  # calls that must fit under the limit, and their results
    "TE([], set(), [big()]).compression_ratio": repr(4000 * 4001 / 8001),  # 128 MB
    "len(_core.build_tecs_from_mtps([(0, 0), (0, 2**32 - 1), (1, 0), (1, 2**32 - 1)]))": "4",  # no grid of 2^33 bits
}


@no_asan
@pytest.mark.parametrize(
    "limit, n, call",
    [
        (2 * G, 200_000, "_core.find_mtps(grid)"),
        (2 * G, 200_000, "_core.cosiatec_compress(grid)"),
        (G, 30_000, "_core.build_tecs_from_mtps(wide)"),
        (2 * G, 200_000, "_core.find_mtps(grid, True)"),  # 4e8 ordered pairs within the pitches
        (2 * G, 30_000, "TE([], set(), [big()]).compactness({(0, 60)})"),
        (2 * G, 30_000, "big().summary()"),
        *((G, 4_000, call) for call in FITS),
    ],
)
def test_memory_limits(limit, n, call):
    assert run_python(CHILD, limit, n, call)[:-1] == FITS.get(call, "MemoryError")


def test_requests_beyond_the_available_memory_are_refused(tmp_path):
    # Shown 1 MiB available and no limit, the child leaves a covered set of 64 MiB to the allocator, refuses a larger.
    (tmp_path / "meminfo").write_text("MemAvailable: 1024 kB\n")
    if subprocess.run(["sh", "-c", "unshare -rm true"], capture_output=True).returncode:
        pytest.skip("no user and mount namespaces for a child's own /proc/meminfo")
    fake = ["unshare", "-rm", "sh", "-c", f'mount --bind "{tmp_path}/meminfo" /proc/meminfo && exec "$0" "$@"']
    call = "TE([(i, 0) for i in range(4096)], {{(0, k) for k in range(1, {})}}, None).compression_ratio".format
    assert run_python(CHILD, -1, 0, call(2048), call(2049), prefix=fake).split() == [repr(2**23 / 6143), "MemoryError"]


@no_asan
def test_tree_built_by_doubling_answers_or_refuses():
    # A tree of 2**40 nodes gives the answer or a MemoryError, never hangs with the lock held.
    calls = {"repr(doubled())": None, "sorted(doubled().coverage)": "[(0, 0), (1, 0)]", "doubled().summary()": None}
    calls |= {"doubled().compression_ratio": repr(2 / (2**42 - 2)), "doubled().compactness({(0, 0)})": "0.0"}
    out = run_python(CHILD, 2 * G, 40, *calls).splitlines()
    assert all(line in (answer, "MemoryError") for line, answer in zip(out, calls.values(), strict=True))


class MallInfo2(ctypes.Structure):
    FIELDS = "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost"
    _fields_ = [(name, ctypes.c_size_t) for name in FIELDS.split()]


def allocated_bytes():
    """Bytes allocated through malloc: C++ containers and, under PYTHONMALLOC=malloc, Python
    objects too; the sanitizer's own count when it is loaded; 0 where the C library keeps no
    such statistics (glibc has mallinfo2, macOS and Windows do not), so the heap is not watched."""
    try:
        libc = ctypes.CDLL(None)
    except (OSError, TypeError):  # no handle on the running process (Windows)
        return 0
    if ASAN:
        libc.__sanitizer_get_current_allocated_bytes.restype = ctypes.c_size_t
        return libc.__sanitizer_get_current_allocated_bytes()
    if not hasattr(libc, "mallinfo2"):
        return 0
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def fails(exc, f, *args, **kwargs):
    with pytest.raises(exc):
        f(*args, **kwargs)


class BadIter(list):
    def __iter__(self):
        raise ValueError("no iterator")


def test_loops_leave_memory_and_reference_counts_flat():
    data, trans, idx, big = [(1000, 60000), (1001, 60000), (1002, 60001)], {(1, 0), (-70000, 5)}, Idx(70000), 2**70
    leaf = TE(data[:2], trans, None)
    node, hostile, bad_iter = TE([], {(4, 0)}, [leaf, leaf]), Seq([(idx, 3), (5, idx)]), BadIter(data)
    watched = [data, trans, leaf, node, idx, hostile, bad_iter, big, *data, *trans, data[0][0], data[0][1]]
    calls = [  # every entry point, and one of each failure: binding, each conversion, each exception type
        lambda: (_core.find_mtps(data, restrict_dpitch_zero=True), _core.find_mtps(hostile)),
        lambda: (_core.build_tecs_from_mtps(data, False), _core.build_tecs_from_mtps_sweepline(sorted(data))),
        lambda: (_core.cosiatec_compress(data, False, False), _core.recursive_cosiatec_compress(data, True, idx)),
        lambda: (TE(data, trans, [leaf, node]), node.sub_tecs[0].pattern, leaf.translators, node.coverage),
        lambda: (node.compression_ratio, node.compactness(set(data)), node.summary(idx), repr(node)),
        lambda: fails(TypeError, _core.find_mtps, data, bogus=data),
        lambda: fails(TypeError, _core.cosiatec_compress, "ab"),
        lambda: fails(ValueError, _core.build_tecs_from_mtps, data + [(1, 2, 3)]),
        lambda: fails(OverflowError, _core.build_tecs_from_mtps_sweepline, data + [(big, 0)]),
        lambda: fails(ValueError, _core.find_mtps, bad_iter),
        lambda: fails(TypeError, _core.recursive_cosiatec_compress, data, False, 2, 1),
        lambda: fails(OverflowError, _core.recursive_cosiatec_compress, data, min_pattern_size=-big),
        lambda: fails(OverflowError, TE, data, trans | {(big, 0)}, None),
        lambda: fails(TypeError, TE, data, trans, [leaf, data]),
        lambda: fails(TypeError, leaf.compactness, data),
        lambda: fails(_core.PanicException, leaf.summary, 2**63),
        lambda: fails(MemoryError, leaf.summary, 2**62),
    ]

    def rounds(n):
        for _ in range(n):
            for call in calls:
                call()
        gc.collect()

    n = 500 if ASAN else 2_000
    rounds(200)
    refs = [sys.getrefcount(x) for x in watched]
    growth = []
    for _ in range(2):
        blocks, heap = sys.getallocatedblocks(), allocated_bytes()
        rounds(n)
        growth.append((sys.getallocatedblocks() - blocks, allocated_bytes() - heap))
    assert [sys.getrefcount(x) for x in watched] == refs
    # A leak of one object or buffer per call shows as n blocks or 16 n bytes or more in every
    # window; the interpreter's caches grow now and then, mostly in one window. Under the
    # sanitizer every Python object is a malloc block, and they add some 10 bytes a round.
    assert min(b for b, _ in growth) < n // 4 and min(h for _, h in growth) < (12 if ASAN else 2) * n, growth
