import gc
import importlib.util
import inspect
import subprocess
import sys
import textwrap
import tracemalloc

import pytest

import motivra.sia_family as sf
from motivra.sia_family import _core

TE = _core.TranslationalEquivalence
NAMES = ["find_mtps", "build_tecs_from_mtps", "cosiatec_compress",
         "recursive_cosiatec_compress", "build_tecs_from_mtps_sweepline",
         "TranslationalEquivalence"]

SIGNATURES = {
    "find_mtps": "(dataset, restrict_dpitch_zero=False)",
    "build_tecs_from_mtps": "(dataset, restrict_dpitch_zero=False)",
    "cosiatec_compress": "(dataset, restrict_dpitch_zero=False, sweepline_optimization=True)",
    "recursive_cosiatec_compress":
        "(dataset, restrict_dpitch_zero=False, min_pattern_size=2, sweepline_optimization=True)",
    "build_tecs_from_mtps_sweepline": "(dataset, restrict_dpitch_zero=False)",
}
DOCS = {
    "find_mtps": "Python wrapper for `find_mtps` (SIA algorithm).",
    "build_tecs_from_mtps": "Python wrapper for `build_tecs_from_mtps` (SIATEC algorithm).",
    "cosiatec_compress": "Python wrapper for `cosiatec_compress` (COSIATEC algorithm).",
    "recursive_cosiatec_compress":
        "Python wrapper for `recursive_cosiatec_compress` (RECURSIA on COSIATEC).",
    "build_tecs_from_mtps_sweepline":
        "Python wrapper for `sweepline::build_tecs_from_mtps`.\n\n"
        "**WARNING**: The input `dataset` must be lexicographically sorted by (tick, pitch)!\n"
        "Unsorted input leads to incorrect results or infinite loops.\n"
        "Use `sorted(dataset)` before calling this function.",
}
CLASS_DOC = (
    "A translational equivalence class (TEC) consisting of a pattern (a set of points)\n"
    "and a set of non\u2011zero translation vectors that map the pattern onto other\n"
    "occurrences within the same dataset.\n\n"
    "The pattern is stored as a sorted `Vec<(u32, u32)>` to ensure deterministic ordering.\n"
    "Translators are `(i32, i32)` vectors, possibly negative in either dimension.\n"
    "Sub\u2011TECs are used by recursive compression algorithms (RECURSIA) to encode\n"
    "nested patterns.")
MEMBER_DOCS = {
    "pattern": "Sorted list of points `(tick, pitch)` forming the pattern.",
    "translators": "Set of non\u2011zero translation vectors `(\u0394tick, \u0394pitch)` "
                   "that map `pattern`\nonto other patterns in the dataset.",
    "sub_tecs": "Optional sub\u2011TECs obtained after recursive compression of the pattern.",
    "coverage": "Covered set = pattern \u222a (pattern + v) for every translator v.\n\n"
                "Returns the set of all points that belong to any occurrence in this TEC.",
    "compression_ratio":
        "Recursive compression ratio = coverage size / total encoding units.\n"
        "- For a leaf TEC (no sub_tecs), total = |pattern| + |translators|.\n"
        "- For a non-leaf TEC, total = |translators| + sum(compression units of sub_tecs).",
    "compactness":
        "Bounding\u2011box compactness: |pattern| divided by the number of dataset points\n"
        "that lie inside the axis\u2011aligned bounding box of the pattern.\n"
        "- If sub_tecs exist, merge all leaf pattern points from the subtree,\n"
        "then compute compactness of that merged point set.\n"
        "- Otherwise, compute compactness from self.pattern directly.\n\n"
        "Higher compactness means the pattern occupies a relatively dense region of\n"
        "the dataset. This Python\u2011exposed method clones the input set.",
    "summary": None,
}


def test_module_identity():
    assert _core.__all__ == NAMES
    assert _core.__doc__ == ""
    assert _core.__name__ == "motivra.sia_family._core"
    for name in NAMES:
        assert getattr(sf, name) is getattr(_core, name)
    assert sf.PanicException is _core.PanicException
    assert "PanicException" not in _core.__all__


def test_second_module_object_shares_the_class():
    module_spec = importlib.util.find_spec(_core.__name__)
    again = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(again)
    assert again is not _core and again.__all__ == NAMES and again.__all__ is not _core.__all__
    assert again.find_mtps.__self__ is again and again.TranslationalEquivalence is TE
    assert type(again.cosiatec_compress([(0, 0)])[0]) is TE


def test_panic_exception_is_not_an_exception():
    exc = _core.PanicException
    assert issubclass(exc, BaseException) and not issubclass(exc, Exception)


@pytest.mark.parametrize("name", SIGNATURES)
def test_function_texts(name):
    f = getattr(_core, name)
    assert f.__text_signature__ == SIGNATURES[name]
    assert f.__doc__ == DOCS[name]
    assert str(inspect.signature(f)) == SIGNATURES[name]
    assert f.__self__ is _core and f.__module__ == _core.__name__ and f.__name__ == name


def test_class_texts():
    assert TE.__name__ == TE.__qualname__ == "TranslationalEquivalence"
    assert TE.__text_signature__ == "(pattern, translators, sub_tecs)"
    assert TE.__doc__ == CLASS_DOC
    assert str(inspect.signature(TE)) == "(pattern, translators, sub_tecs)"
    assert TE.__bases__ == (object,)
    for name, doc in MEMBER_DOCS.items():
        assert getattr(TE, name).__doc__ == doc, name
    assert TE.compactness.__text_signature__ == "($self, points)"
    assert TE.summary.__text_signature__ == "($self, indent=0)"


def test_class_is_final_and_slotless():
    with pytest.raises(TypeError):
        type("Sub", (TE,), {})
    t = TE([(3, 1)], {(1, 0)}, None)
    for name in ("pattern", "translators", "sub_tecs", "coverage", "compression_ratio"):
        with pytest.raises(AttributeError):
            setattr(t, name, None)
    with pytest.raises(AttributeError):
        t.other = 1
    assert not hasattr(t, "__dict__")
    assert not gc.is_tracked(t)
    with pytest.raises(TypeError):
        __import__("weakref").ref(t)


def run_python(code, timeout=120):
    """Runs code in a fresh interpreter, outside the source tree."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd="/",
                          capture_output=True, text=True, timeout=timeout)


def test_fresh_import_and_deterministic_output():
    code = """
        from motivra.sia_family import _core, cosiatec_compress, recursive_cosiatec_compress
        print(_core.__all__)
        d = [(t, p) for t in range(0, 40, 3) for p in (60, 62, 67) if (t * p) % 7 != 3]
        print(cosiatec_compress(d), recursive_cosiatec_compress(d))
        print(sorted(_core.find_mtps(d).items()))
    """
    runs = [run_python(code) for _ in range(2)]
    for r in runs:
        assert r.returncode == 0, r.stderr
        assert r.stderr == ""
        assert r.stdout.splitlines()[0] == repr(NAMES)
    assert runs[0].stdout == runs[1].stdout


DEEP = """
    import threading
    from motivra.sia_family import TranslationalEquivalence as TE, recursive_cosiatec_compress
    errors = []
    def work():
        try:
            t = TE([(0, 0)], set(), None)
            for _ in range(50_000):
                t = TE([], set(), [t])
            r = repr(t)
            assert r.count("TEC(") == 50_001 and r.endswith("])" * 50_001)
            assert t.coverage == {(0, 0)}
            assert t.compression_ratio == 1 / 50_001
            assert t.compactness({(0, 0)}) == 0.0
            u = TE([(1, 1)], {(1, 0)}, [t, t])
            assert len(u.sub_tecs) == 2 and u.coverage == {(0, 0), (1, 1), (1, 0), (2, 1)}
            s = t.sub_tecs[0]
            del t, u
            assert s.compression_ratio == 1 / 50_000
            del s
            t = TE([(0, 0)], set(), None)
            for _ in range(2_000):
                t = TE([], set(), [t])
            lines = t.summary().split("\\n")
            assert len(lines) == 4 * 2_000 + 3 and lines[0] == "translators={}"
            assert lines[-3:] == [" " * 4_000 + "pattern=[(0, 0)], translators={}",
                                  " " * 4_002 + "coverage count: 1",
                                  " " * 4_002 + "compression ratio: 1"]
            line = [(i, 0) for i in range(200)]
            res = recursive_cosiatec_compress(line)
            assert set().union(*(x.coverage for x in res)) == set(line)
        except BaseException as e:
            errors.append(repr(e))
    threading.stack_size(256 * 1024)
    th = threading.Thread(target=work)
    th.start()
    th.join()
    print(errors)
"""


def test_deep_trees_without_recursion():
    r = run_python(DEEP, timeout=150)
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout.strip() == "[]"


def test_stubs_pass_stubtest(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    r = subprocess.run([sys.executable, "-m", "mypy.stubtest", "motivra.sia_family._core"],
                       cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stdout + r.stderr


# Leak loops: inputs keep their reference counts, results are freed.

def _calls(data):
    yield lambda: _core.find_mtps(data)
    yield lambda: _core.build_tecs_from_mtps(data, True)
    yield lambda: _core.build_tecs_from_mtps_sweepline(data)
    yield lambda: _core.cosiatec_compress(data, sweepline_optimization=False)
    yield lambda: [(repr(t), t.summary(2), t.coverage, t.compactness(set(data)), t.sub_tecs,
                    t.compression_ratio, t.pattern, t.translators)
                   for t in _core.recursive_cosiatec_compress(data, False, 2, True)]


def _failing_calls(data):
    bad = data + [(1, 2, 3)]
    yield lambda: _core.find_mtps(bad)
    yield lambda: _core.cosiatec_compress(data + [(-1, 0)])
    yield lambda: _core.build_tecs_from_mtps(data, 1)
    yield lambda: TE(data, {(1, 0), (1, 2, 3)}, None)
    yield lambda: TE(data, set(), [TE(data, set(), None), 5])
    yield lambda: _core.recursive_cosiatec_compress(data, min_pattern_size=-1)


def _rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def test_reference_counts_of_inputs_are_kept():
    data = [(t * 1000, p * 1000) for t in range(12) for p in (60, 64) if (t + p) % 3]
    flag = True
    sub = TE([(1, 1)], {(1, 0)}, None)
    watched = [data, sub, *data[:3], data[0][1], data[-1][0]]
    before = [sys.getrefcount(x) for x in watched]
    for _ in range(200):
        for call in _calls(data):
            call()
        for call in _failing_calls(data):
            with pytest.raises((TypeError, ValueError, OverflowError)):
                call()
        _core.find_mtps(data, flag)
        TE(data, {(1, 0)}, [sub, sub]).sub_tecs
    del call
    assert [sys.getrefcount(x) for x in watched] == before


def test_memory_is_flat_over_repeated_calls():
    data = [(t, p) for t in range(24) for p in (60, 62, 64) if (t * 7 + p) % 5]
    calls = list(_calls(data)) + list(_failing_calls(data))

    def rounds(n):
        for _ in range(n):
            for call in calls:
                try:
                    call()
                except (TypeError, ValueError, OverflowError):
                    pass
        gc.collect()

    rounds(20)
    rss = _rss_kib()
    rounds(200)
    assert _rss_kib() - rss < 8 * 1024
    tracemalloc.start()
    snap = tracemalloc.take_snapshot()
    rounds(60)
    grown = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(snap, "filename"))
    tracemalloc.stop()
    assert grown < 16 * 1024
