import copy
import math
import pickle
from decimal import Decimal

import pytest
from hypothesis import given
from hypothesis import strategies as st

import model
from conftest import coords
from motivra.sia_family import PanicException, TranslationalEquivalence as TE

LEAF = TE([(1, 62), (0, 60)], {(4, 0)}, None)
NONLEAF = TE([], {(12, 0)}, [LEAF])
LEAF_REPR = "TEC(pattern=[(0, 60), (1, 62)], translators={(4, 0)}, sub_tecs=[])"


def notation(x):
    """Shortest round-trip digits, positional, no trailing '.0'."""
    if math.isnan(x):
        return "NaN"
    s = format(Decimal(repr(x)), "f")
    return s.rstrip("0").rstrip(".") if "." in s else s


def points_text(pts):
    return "[" + ", ".join(f"({a}, {b})" for a, b in pts) + "]"


def model_repr(m):
    """The one-line text of a tree with at most one translator per node."""
    subs = ", ".join(model_repr(s) for s in m.sub_tecs)
    return (f"TEC(pattern={points_text(sorted(m.pattern))}, "
            f"translators={points_text(m.translators)[1:-1].join('{}')}, sub_tecs=[{subs}])")


def model_summary(m, indent=0):
    pre = " " * indent
    head = f"pattern={points_text(sorted(m.pattern))}, " if m.pattern else ""
    lines = [f"{pre}{head}translators={points_text(m.translators)[1:-1].join('{}')}",
             f"{pre}  coverage count: {len(model.coverage(m))}",
             f"{pre}  compression ratio: {notation(model.ratio(m))}"]
    if m.sub_tecs:
        lines.append(f"{pre}  sub-tecs:")
        lines += [model_summary(s, indent + 2) for s in m.sub_tecs]
    return "\n".join(lines)


def build(m):
    return TE(m.pattern, m.translators, [build(s) for s in m.sub_tecs] or None)


points = st.tuples(coords, coords)
signed = st.one_of(st.integers(-3, 3), st.integers(-2**31, -2**31 + 2),
                   st.integers(2**31 - 3, 2**31 - 1))
vectors = st.tuples(signed, signed)


def trees(max_translators):
    tr = st.sets(vectors, max_size=max_translators)
    leaf = st.builds(model.Tec, st.lists(points, max_size=4), tr, st.just([]))
    return st.recursive(leaf, lambda kids: st.builds(
        model.Tec, st.lists(points, max_size=3), tr, st.lists(kids, min_size=1, max_size=3)),
        max_leaves=6)


@given(trees(3), st.sets(points, max_size=8))
def test_metrics_match_model(m, pts):
    t = build(m)
    assert t.pattern == sorted(m.pattern)
    assert t.translators == m.translators
    assert t.coverage == model.coverage(m)
    r = t.compression_ratio
    assert r == model.ratio(m) or math.isnan(r) and math.isnan(model.ratio(m))
    assert t.compactness(pts | t.coverage) == model.compactness(m, pts | t.coverage)
    assert t.compactness(pts) == model.compactness(m, pts)
    assert [repr(s) for s in t.sub_tecs] == [repr(build(s)) for s in m.sub_tecs]


@given(trees(1), st.integers(0, 6))
def test_texts_match_model(m, indent):
    t = build(m)
    assert repr(t) == str(t) == model_repr(m)
    assert t.summary(indent) == model_summary(m, indent)


@given(st.integers(1, 60), st.integers(0, 3000), st.integers(0, 60))
def test_ratio_notation(distinct, copies, shifts):
    pattern = [(i, 0) for i in range(distinct)] + [(0, 0)] * copies
    t = TE(pattern, {(k * distinct, 0) for k in range(1, shifts + 1)}, None)
    expected = notation(distinct * (shifts + 1) / (distinct + copies + shifts))
    assert t.summary().split("\n")[2] == "  compression ratio: " + expected


@pytest.mark.parametrize("tec, text", [
    (TE([(0, 60), (1, 62)], {(4, 0), (8, 0)}, None), "1.5"),
    (LEAF, "1.3333333333333333"),
    (NONLEAF, "2"),
    (TE([(0, 0)] * 3, set(), None), "0.3333333333333333"),
    (TE([(0, 0), (0, 0), (1, 1)], set(), None), "0.6666666666666666"),
    (TE([(0, 0)] * 100_000, set(), None), "0.00001"),
    (TE([(0, 0)] * 70_000, set(), None), "0.000014285714285714285"),
    (TE([], set(), None), "NaN"),
    (TE([], {(1, 0)}, None), "0"),
    (TE([(0, 0)], {(0, 0)}, None), "0.5"),
])
def test_ratio_texts(tec, text):
    assert tec.summary().split("\n")[2] == "  compression ratio: " + text


def test_documented_texts():
    assert repr(LEAF) == LEAF_REPR
    assert repr(NONLEAF) == f"TEC(pattern=[], translators={{(12, 0)}}, sub_tecs=[{LEAF_REPR}])"
    assert NONLEAF.summary() == "\n".join([
        "translators={(12, 0)}", "  coverage count: 8", "  compression ratio: 2", "  sub-tecs:",
        "  pattern=[(0, 60), (1, 62)], translators={(4, 0)}", "    coverage count: 4",
        "    compression ratio: 1.3333333333333333"])
    empty = TE([], set(), None)
    assert repr(empty) == "TEC(pattern=[], translators={}, sub_tecs=[])"
    assert empty.summary() == "translators={}\n  coverage count: 0\n  compression ratio: NaN"
    assert repr(TE([], {(-3, 2)}, None)) == "TEC(pattern=[], translators={(-3, 2)}, sub_tecs=[])"
    assert LEAF.summary(4).split("\n") == [
        "    pattern=[(0, 60), (1, 62)], translators={(4, 0)}",
        "      coverage count: 4", "      compression ratio: 1.3333333333333333"]


def test_texts_with_two_translators_and_two_sub_tecs():
    a, b = TE([(0, 0)], set(), None), TE([(5, 5)], {(1, 0), (-2, -1)}, None)
    t = TE([(9, 9)], {(0, 1)}, [a, b])
    sets = ["{(1, 0), (-2, -1)}", "{(-2, -1), (1, 0)}"]
    assert repr(b) in [f"TEC(pattern=[(5, 5)], translators={s}, sub_tecs=[])" for s in sets]
    assert repr(t) == f"TEC(pattern=[(9, 9)], translators={{(0, 1)}}, sub_tecs=[{a!r}, {b!r}])"
    lines = t.summary().split("\n")
    assert lines[:4] == ["pattern=[(9, 9)], translators={(0, 1)}", "  coverage count: 10",
                         "  compression ratio: 1.6666666666666667", "  sub-tecs:"]
    assert "\n".join(lines[4:]) == a.summary(2) + "\n" + b.summary(2)
    assert repr(b) == repr(TE([], set(), [b]).sub_tecs[0])


@pytest.mark.parametrize("indent", [2**63, 2**63 + 7, 2**64 - 1])
def test_summary_indent_too_large_for_capacity(indent):
    with pytest.raises(PanicException) as info:
        LEAF.summary(indent)
    assert str(info.value) == "capacity overflow"


def test_summary_indent_beyond_memory():
    with pytest.raises(MemoryError):
        LEAF.summary(2**62)


def test_construction_sorts_and_keeps_duplicates():
    assert TE([(5, 1), (0, 3), (5, 0)], set(), None).pattern == [(0, 3), (5, 0), (5, 1)]
    assert TE([(2, 7), (2, 7)], set(), None).pattern == [(2, 7), (2, 7)]
    assert TE([(2**32 - 1, 0), (2**31, 5), (7, 2**32 - 1)], set(), []).pattern == [
        (7, 2**32 - 1), (2**31, 5), (2**32 - 1, 0)]
    assert TE([(3, 1), (0, 2)], {(1, 0)}, []).sub_tecs == []


def test_reads_are_fresh_copies():
    t = TE([(3, 1), (0, 2)], {(1, 0)}, [LEAF])
    t.pattern.append((9, 9))
    t.translators.add((9, 9))
    t.coverage.clear()
    assert t.pattern == [(0, 2), (3, 1)] and t.translators == {(1, 0)}
    assert t.pattern is not t.pattern and t.sub_tecs[0] is not t.sub_tecs[0]
    assert t.coverage == {(0, 2), (3, 1), (0, 60), (1, 62), (4, 60), (5, 62),
                          (1, 2), (4, 1), (1, 60), (2, 62), (5, 60), (6, 62)}
    src = [(1, 1)]
    u = TE(src, {(1, 0)}, None)
    src.append((0, 0))
    assert u.pattern == [(1, 1)]


def test_identity_semantics():
    a, b = TE([(0, 0)], set(), None), TE([(0, 0)], set(), None)
    assert a != b and a == a and not (a == b)
    assert hash(a) == object.__hash__(a) and hash(b) == object.__hash__(b)
    for f in (pickle.dumps, copy.copy, copy.deepcopy):
        with pytest.raises(TypeError):
            f(a)


@pytest.mark.parametrize("tec, pts, expected", [
    (TE([(0, 60), (1, 62)], {(10, 0)}, None),
     {(0, 60), (1, 62), (10, 60), (11, 62), (5, 61), (12, 61)}, 0.4),
    (TE([(0, 60), (1, 62)], {(10, 0)}, None), {(0, 62), (11, 60)}, 1.0),
    (TE([(0, 60), (1, 62)], {(10, 0)}, None), {(12, 61), (5, 63)}, 0.0),
    (TE([(0, 60), (1, 62)], {(10, 0)}, None), set(), 0.0),
    (TE([], set(), None), {(0, 0)}, 0.0),
    (NONLEAF, {(0, 60), (1, 62)}, 0.0),
    (TE([(0, 0)], {(-1, 0)}, None), {(5, 0), (2**32 - 1, 0)}, 0.5),
])
def test_compactness_cases(tec, pts, expected):
    assert tec.compactness(pts) == expected


@pytest.mark.parametrize("tec, cov, ratio", [
    (TE([(0, 60), (1, 62)], {(4, 0), (8, 0)}, None), 6, 1.5),
    (TE([(0, 0)], {(-1, 0)}, None), {(0, 0), (2**32 - 1, 0)}, 1.0),
    (TE([(0, 0)], {(0, 0)}, None), {(0, 0)}, 0.5),
    (NONLEAF, 8, 2.0),
    (TE([(7, 7)], {(1, 1), (2, 2)}, [LEAF]), 15, 3.75),
])
def test_coverage_and_ratio_cases(tec, cov, ratio):
    assert (len(tec.coverage) if isinstance(cov, int) else tec.coverage) == cov
    assert tec.compression_ratio == ratio
