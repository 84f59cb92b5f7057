from collections import Counter

import pytest
from hypothesis import given
from hypothesis import strategies as st

import model
from conftest import datasets, records
from motivra.sia_family import build_tecs_from_mtps, find_mtps

LINE3 = [(0, 60), (1, 60), (2, 60)]
LINE4 = LINE3 + [(3, 60)]
SQUARE = [(0, 60), (0, 64), (1, 60), (1, 64)]


def rec(pattern, *translators):
    return (tuple(pattern), frozenset(translators))


@pytest.mark.parametrize("dataset, flag, expected", [
    ([], False, []),
    ([(3, 3)], False, []),
    ([(0, 0), (5, 9)], False, []),
    ([(1, 1)] * 4, False, []),
    (LINE3, False, [rec([(0, 60), (1, 60)], (1, 0)), rec([(1, 60), (2, 60)], (-1, 0))]),
    (LINE4, False, [rec(LINE4[:3], (1, 0)), rec(LINE4[1:], (-1, 0)),
                    rec(LINE4[:2], (1, 0), (2, 0)), rec(LINE4[2:], (-1, 0), (-2, 0))]),
    (SQUARE, False, [rec([(0, 60), (1, 60)], (0, 4)), rec([(0, 64), (1, 64)], (0, -4)),
                     rec([(0, 60), (0, 64)], (1, 0)), rec([(1, 60), (1, 64)], (-1, 0))]),
    (SQUARE, True, [rec([(0, 60), (0, 64)], (1, 0)), rec([(1, 60), (1, 64)], (-1, 0))]),
    ([(0, 10), (1, 0), (5, 5), (5, 15), (6, 5)], False,
     [rec([(0, 10), (1, 0)], (5, 5)), rec([(0, 10), (5, 15)], (1, -10)),
      rec([(1, 0), (6, 5)], (-1, 10)), rec([(5, 15), (6, 5)], (-5, -5))]),
])
def test_small_datasets(dataset, flag, expected):
    assert Counter(model.siatec(dataset, flag)) == Counter(expected)
    for d in (dataset, dataset[::-1], dataset + dataset[:2]):
        got = build_tecs_from_mtps(d, flag)
        assert Counter(records(got)) == Counter(expected)
        assert all(t.sub_tecs == [] for t in got)


@given(datasets(max_size=11), st.booleans())
def test_matches_model(dataset, flag):
    got = build_tecs_from_mtps(dataset, flag)
    assert records(got) == model.siatec(dataset, flag)  # same records, same order
    mtps = find_mtps(dataset, flag)
    for t in got:
        assert len(t.pattern) >= 2 and (0, 0) not in t.translators
        assert any(mtps.get(v) == t.pattern for v in t.translators)
        assert not flag or all(v[1] == 0 for v in t.translators)
    assert Counter(tuple(t.pattern) for t in got) == Counter(tuple(p) for p in mtps.values())


@given(datasets(max_size=11), st.booleans(), st.randoms(use_true_random=False))
def test_same_records_for_any_order_and_repeats(dataset, flag, rnd):
    other = dataset * 2
    rnd.shuffle(other)
    first = records(build_tecs_from_mtps(dataset, flag))
    assert records(build_tecs_from_mtps(dataset, flag)) == first
    assert Counter(records(build_tecs_from_mtps(other, flag))) == Counter(first)


def test_wrap_around_translators():
    h = 2**31
    d = [(0, 60), (1, 60), (h, 60), (h + 1, 60)]
    got = Counter(records(build_tecs_from_mtps(d)))
    assert got[rec(d, (-h, 0))] == 1
    assert got == Counter(model.siatec(d))


def test_real_piece_is_deterministic(gibbons):
    first = build_tecs_from_mtps(gibbons)
    assert len(first) == 2 * 6051
    assert [repr(t) for t in build_tecs_from_mtps(gibbons)] == [repr(t) for t in first]
