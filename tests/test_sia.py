import gc
import random

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from motivra.sia_family import find_mtps

import model
from conftest import HALF, LINE3, SQUARE, TOP, datasets

T = 3 * 10**9
WRAPS = {  # dataset: (a Vector, its MTP), where a difference wraps around
    ((0, 60), (1, 60), (T, 60), (T + 1, 60)): ((T - 2**32, 0), [(0, 60), (1, 60)]),
    ((0, 60), (1, 60), (HALF, 60), (HALF + 1, 60)): ((-HALF, 0), [(0, 60), (1, 60), (HALF, 60), (HALF + 1, 60)]),
    ((0, 0), (0, TOP), (1, 0), (1, TOP)): ((0, 1), [(0, TOP), (1, TOP)]),
}


def test_examples():
    assert find_mtps([(0, 60), (0, 60), (1, 60)]) == {} and find_mtps([(4, 4)] * 5) == {}
    assert find_mtps(LINE3) == {(1, 0): [(0, 60), (1, 60)], (-1, 0): [(1, 60), (2, 60)]}
    assert find_mtps(SQUARE[::-1], True) == {(1, 0): [(0, 60), (0, 64)], (-1, 0): [(1, 60), (1, 64)]}
    d = find_mtps([(7, 12), (6, 11), (6, 71), (5, 70), (7, 11), (6, 10)])
    assert d[(1, 1)] == [(5, 70), (6, 10), (6, 11)] and d[(-1, -1)] == [(6, 71), (7, 11), (7, 12)]
    assert all(type(k) is tuple and type(v) is list and all(type(x) is int for x in k + v[0]) for k, v in d.items())
    for dataset, (vector, mtp) in WRAPS.items():
        for flag in (False, True):
            assert find_mtps(dataset, flag) == model.find_mtps(dataset, flag)
        assert find_mtps(dataset)[vector] == mtp
    # The collector is paused while the dict is built, and left as it was found.
    try:
        for enabled in (True, False):
            (gc.enable if enabled else gc.disable)()
            find_mtps(LINE3)
            assert gc.isenabled() == enabled
    finally:
        gc.enable()


@given(datasets(max_size=12), st.booleans(), st.randoms(use_true_random=False))
@example([(0, 5), (1, 5), (998, 5), (999, 5), (1003, 7), (2, 7)], False, random.Random(0))  # sparse tick offsets
def test_matches_model(dataset, flag, rnd):
    got = find_mtps(dataset, flag)
    assert got == model.find_mtps(dataset, flag)
    for v, pts in got.items():
        assert got[(model.s32(-v[0]), model.s32(-v[1]))] == sorted(model.add(p, v) for p in pts)
    other = dataset + rnd.sample(dataset, len(dataset) // 2)
    rnd.shuffle(other)
    assert find_mtps(other, flag) == got


@pytest.mark.parametrize(
    "piece, forward, size, vector", [("gibbons", 6051, 133, (672, 0)), ("bach", 37035, 137, (3, -2))]
)
def test_real_pieces(request, piece, forward, size, vector):
    points = request.getfixturevalue(piece)
    d = find_mtps(points)
    assert len(d) == 2 * forward and max(map(len, d.values())) == size
    assert len(d[vector]) == len(d[(-vector[0], -vector[1])]) == size
    assert find_mtps(points, True) == {v: p for v, p in d.items() if v[1] == 0}
    assert find_mtps([(t + HALF, p) for t, p in points]) == {v: [(t + HALF, p) for t, p in o] for v, o in d.items()}
    assert list(find_mtps(random.Random(5).sample(points, len(points))).items()) == list(d.items())
