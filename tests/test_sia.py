import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import model
from conftest import datasets
from motivra.sia_family import find_mtps

T = 3 * 10**9
H = 2**31


@pytest.mark.parametrize("dataset, flag, expected", [
    ([], False, {}),
    ([(7, 7)], False, {}),
    ([(0, 60), (1, 62)], False, {}),
    ([(0, 60), (0, 60), (1, 60)], False, {}),
    ([(4, 4)] * 5, False, {}),
    ([(0, 60), (1, 60), (2, 60)], False, {(1, 0): [(0, 60), (1, 60)], (-1, 0): [(1, 60), (2, 60)]}),
    ([(0, 60), (0, 64), (1, 60), (1, 64)], False,
     {(0, 4): [(0, 60), (1, 60)], (0, -4): [(0, 64), (1, 64)],
      (1, 0): [(0, 60), (0, 64)], (-1, 0): [(1, 60), (1, 64)]}),
    ([(1, 64), (0, 60), (1, 60), (0, 64)], True,
     {(1, 0): [(0, 60), (0, 64)], (-1, 0): [(1, 60), (1, 64)]}),
    ([(0, 60), (0, 61), (1, 60), (1, 62)], True, {}),
])
def test_small_maps(dataset, flag, expected):
    assert find_mtps(dataset, flag) == expected


def test_lists_are_ascending_with_int_tuples():
    d = find_mtps([(7, 12), (6, 11), (6, 71), (5, 70), (7, 11), (6, 10)])
    assert d[(1, 1)] == [(5, 70), (6, 10), (6, 11)]
    assert d[(-1, -1)] == [(6, 71), (7, 11), (7, 12)]
    for k, v in d.items():
        assert type(k) is tuple and type(v) is list
        assert all(type(x) is int for x in k) and all(type(p) is tuple for p in v)


@pytest.mark.parametrize("flag", [False, True])
def test_tick_wrap_around(flag):
    d = find_mtps([(0, 60), (1, 60), (T, 60), (T + 1, 60)], flag)
    assert d[(T - 2**32, 0)] == [(0, 60), (1, 60)]
    assert d[(2**32 - T, 0)] == [(T, 60), (T + 1, 60)]
    assert d == model.find_mtps([(0, 60), (1, 60), (T, 60), (T + 1, 60)], flag)


def test_vector_that_is_its_own_negation():
    pts = [(0, 60), (1, 60), (H, 60), (H + 1, 60)]
    d = find_mtps(pts)
    assert d[(-H, 0)] == pts
    assert d == model.find_mtps(pts)


def test_pitch_wrap_and_extremes():
    pts = [(0, 0), (0, 2**32 - 1), (1, 0), (1, 2**32 - 1)]
    d = find_mtps(pts)
    assert d[(0, -1)] == [(0, 0), (1, 0)] and d[(0, 1)] == [(0, 2**32 - 1), (1, 2**32 - 1)]
    assert d == model.find_mtps(pts)


@given(datasets(max_size=12), st.booleans())
def test_matches_model(dataset, flag):
    got = find_mtps(dataset, flag)
    assert got == model.find_mtps(dataset, flag)
    for v, pts in got.items():
        assert v != (0, 0) and len(pts) >= 2 and pts == sorted(set(pts))
        neg = (model.s32(-v[0]), model.s32(-v[1]))
        assert got[neg] == sorted(model.add(p, v) for p in pts)


@given(datasets(max_size=12), st.booleans(), st.randoms(use_true_random=False))
def test_depends_only_on_distinct_points(dataset, flag, rnd):
    other = dataset + rnd.sample(dataset, len(dataset) // 2)
    rnd.shuffle(other)
    assert find_mtps(other, flag) == find_mtps(dataset, flag)


def test_repeated_calls_give_the_same_order(gibbons):
    first = list(find_mtps(gibbons).items())
    assert list(find_mtps(gibbons).items()) == first
    shuffled = random.Random(5).sample(gibbons, len(gibbons))
    assert find_mtps(shuffled) == dict(first)


@pytest.mark.parametrize("piece, forward, size, vector", [
    ("gibbons", 6051, 133, (672, 0)),
    ("bach", 37035, 137, (3, -2)),
])
def test_real_pieces(request, piece, forward, size, vector):
    d = find_mtps(request.getfixturevalue(piece))
    assert len(d) == 2 * forward
    assert max(map(len, d.values())) == size
    assert len(d[vector]) == len(d[(-vector[0], -vector[1])]) == size
    restricted = find_mtps(request.getfixturevalue(piece), True)
    assert restricted == {v: p for v, p in d.items() if v[1] == 0}
