from collections import Counter

import pytest
from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family import TranslationalEquivalence as TE
from motivra.sia_family import build_tecs_from_mtps, find_mtps

import model
from conftest import DIAG, HALF, LINE3, SQUARE, datasets, records

DIAG_TECS = [(DIAG[:2], (5, 5)), (DIAG[::3], (1, -10)), (DIAG[1::3], (-1, 10)), (DIAG[3:], (-5, -5))]
WRAP = [(0, 60), (1, 60), (HALF, 60), (HALF + 1, 60)]
GRID = [(0, 1), (0, 0), (0, 2), (0, 3), (1, 0), (1, 2), (1, 3)]  # the membership grid's edges
WIDE = [(0, 0), (1, 1), (2**24 - 1, 2**24 - 1)]  # a box too big for a grid of bits
X, Y = 2385874607, 1189185189  # two MTPs of three Points, of different shapes with one hash, are kept apart
HASH = [(0, 0), (1, 0), (2, 0), (0, 9), (1, 9), (2, 9), (5, 5), (5, 6), (X, Y), (5, 25), (5, 26), (X, Y + 20)]
CASES = [([(1, 1)] * 4, 0), (LINE3 + [(3, 60)], 0), (SQUARE, 1), (DIAG, 0), (WRAP, 0), (GRID, 0), (WIDE, 0), (HASH, 0)]


@pytest.mark.parametrize("dataset, flag", CASES)
def test_small_datasets(dataset, flag):
    for d in (dataset, dataset[::-1], dataset + dataset[:2]):
        got = build_tecs_from_mtps(d, bool(flag))
        assert records(got) == model.siatec(dataset, flag) and all(t.sub_tecs == [] for t in got)
        assert all(repr(t) == repr(TE(t.pattern, t.translators, None)) for t in got)  # translators ascending
    assert Counter(model.siatec(DIAG)) == Counter((tuple(p), frozenset({v})) for p, v in DIAG_TECS)  # the model


@given(datasets(max_size=11), st.booleans(), st.randoms(use_true_random=False))
def test_matches_model(dataset, flag, rnd):
    got = build_tecs_from_mtps(dataset, flag)
    assert records(got) == model.siatec(dataset, flag)  # same records, same order
    assert all(repr(t) == repr(TE(t.pattern, t.translators, None)) for t in got)  # translators ascending
    assert sorted(tuple(t.pattern) for t in got) == sorted(tuple(p) for p in find_mtps(dataset, flag).values())
    other = dataset * 2
    rnd.shuffle(other)
    assert records(build_tecs_from_mtps(other, flag)) == records(got)
