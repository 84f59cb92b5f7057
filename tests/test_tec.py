import copy
import math
import pickle
from decimal import Decimal

import pytest
from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family import TranslationalEquivalence as TE

import model
from conftest import coords

LEAF = TE([(1, 62), (0, 60)], {(4, 0)}, None)
NONLEAF = TE([], {(12, 0)}, [LEAF])


def notation(x):
    """Shortest round-trip digits, positional, no trailing '.0'."""
    if math.isnan(x):
        return "NaN"
    s = format(Decimal(repr(x)), "f")
    return s.rstrip("0").rstrip(".") if "." in s else s


def text(items):
    return ", ".join(f"({a}, {b})" for a, b in items)


def model_repr(m):
    subs = ", ".join(model_repr(s) for s in m.sub_tecs)
    translators = text(sorted(m.translators))
    return f"TEC(pattern=[{text(sorted(m.pattern))}], translators={{{translators}}}, sub_tecs=[{subs}])"


def model_summary(m, indent=0):
    pre = " " * indent
    head = f"pattern=[{text(sorted(m.pattern))}], " if m.pattern else ""
    lines = [
        f"{pre}{head}translators={{{text(sorted(m.translators))}}}",
        f"{pre}  coverage count: {len(model.coverage(m))}",
        f"{pre}  compression ratio: {notation(model.ratio(m))}",
    ]
    if m.sub_tecs:
        lines += [f"{pre}  sub-tecs:"] + [model_summary(s, indent + 2) for s in m.sub_tecs]
    return "\n".join(lines)


def build(m):
    return TE(m.pattern, m.translators, [build(s) for s in m.sub_tecs] or None)


points = st.tuples(coords, coords)
signed = st.one_of(st.integers(-3, 3), st.integers(-(2**31), -(2**31) + 2), st.integers(2**31 - 3, 2**31 - 1))
vectors = st.sets(st.tuples(signed, signed), max_size=3)
leaves = st.builds(model.Tec, st.lists(points, max_size=4), vectors)
nodes = lambda kids: st.builds(model.Tec, st.lists(points, max_size=3), vectors, st.lists(kids, min_size=1, max_size=3))  # noqa: E731
trees = st.recursive(leaves, nodes, max_leaves=6)


@given(trees, st.sets(points, max_size=8), st.integers(0, 6))
def test_metrics_and_texts_match_model(m, pts, indent):
    t = build(m)
    assert t.pattern == sorted(m.pattern) and t.translators == m.translators
    assert t.coverage == model.coverage(m)
    assert notation(t.compression_ratio) == notation(model.ratio(m))
    assert t.compactness(pts | t.coverage) == model.compactness(m, pts | t.coverage)
    assert t.compactness(pts) == model.compactness(m, pts)
    assert [repr(s) for s in t.sub_tecs] == [repr(build(s)) for s in m.sub_tecs]
    assert repr(t) == str(t) == model_repr(m)
    assert t.summary(indent) == model_summary(m, indent)


def test_documented_texts():
    leaf = "TEC(pattern=[(0, 60), (1, 62)], translators={(4, 0)}, sub_tecs=[])"
    assert repr(NONLEAF) == f"TEC(pattern=[], translators={{(12, 0)}}, sub_tecs=[{leaf}])"
    assert NONLEAF.summary(1).split("\n")[2:4] == ["   compression ratio: 2", "   sub-tecs:"]
    assert TE([], set(), None).summary() == "translators={}\n  coverage count: 0\n  compression ratio: NaN"
    assert TE([(0, 0)] * 70_000, set(), None).summary().endswith("  compression ratio: 0.000014285714285714285")
    assert TE([(0, 0)] * 100_000, set(), None).summary().endswith("  compression ratio: 0.00001")


def test_identity_and_fresh_copies():
    src = [(3, 1), (0, 2)]
    t = TE(src, {(1, 0)}, [LEAF])
    src.append((9, 9)), t.pattern.append((9, 9)), t.translators.add((9, 9)), t.coverage.clear()
    assert t.pattern == [(0, 2), (3, 1)] and t.translators == {(1, 0)} and len(t.coverage) == 12
    assert t.pattern is not t.pattern and t.sub_tecs[0] is not t.sub_tecs[0]
    a, b = TE([(0, 0)], set(), None), TE([(0, 0)], set(), None)
    assert a != b and a == a and hash(a) == object.__hash__(a)
    for f in (pickle.dumps, copy.copy, copy.deepcopy):
        with pytest.raises(TypeError):
            f(a)


def chain(step, depth, pattern=((0, 0),)):
    t = TE(list(pattern), {step}, None)
    for _ in range(depth):
        t = TE([], {step}, [t])
    return t


@pytest.mark.parametrize("step", [(1, 0), (-1, 0), (0, -1), (2**31 - 1, -5), (-(2**31), 3), (0, -(2**31))])
def test_deep_chain_covers_every_multiple_of_its_step(step):
    # Each level adds one multiple of the step; moves that wrap past 2^32 rotate the runs.
    depth = 3_000
    t = chain(step, depth)
    expected = {(k * step[0] % 2**32, k * step[1] % 2**32) for k in range(depth + 2)}
    assert t.coverage == expected
    assert t.compression_ratio == len(expected) / (depth + 2)
    assert repr(t).count("TEC(") == depth + 1 and len(t.sub_tecs) == 1


@pytest.mark.parametrize("step", [(1, 0), (2**31 + 5, 2**32 - 1), (-(2**31), -(2**31))])
@pytest.mark.parametrize("pattern", [[(0, 0)], [(2**32 - 1, 5), (3, 2**32 - 2), (3, 0)]])
def test_chain_texts_match_model(step, pattern):
    m = model.Tec(pattern, {tuple(x - 2**32 if x >= 2**31 else x for x in step)})
    for _ in range(40):
        m = model.Tec([], set(m.translators), [m])
    t = build(m)
    assert t.coverage == model.coverage(m)
    assert t.summary(3) == model_summary(m, 3)
