from collections import Counter

import pytest
from hypothesis import given
from hypothesis import strategies as st

import model
from conftest import datasets, records
from motivra.sia_family import build_tecs_from_mtps, build_tecs_from_mtps_sweepline as sweep

LINE3 = [(0, 60), (1, 60), (2, 60)]
SQUARE = [(0, 60), (0, 64), (1, 60), (1, 64)]
DIAG = [(0, 10), (1, 0), (5, 5), (5, 15), (6, 5)]


@pytest.mark.parametrize("dataset, flag, count", [
    ([], False, 0),
    ([(3, 3)], False, 0),
    ([(0, 0), (5, 9)], False, 0),
    ([(1, 1)] * 4, True, 0),
    (LINE3, False, 2),
    ([(0, 60), (1, 60), (1, 60), (2, 60)], False, 2),
    (LINE3 + [(3, 60)], False, 4),
    (SQUARE, False, 4),
    (SQUARE, True, 2),
    # The first pattern's second target wraps below pitch 0; it is still found.
    (DIAG, False, 4),
    ([(0, 2**32 - 1), (1, 0), (1, 2**32 - 1), (2, 0)], False, None),
    ([(0, 5), (2**31, 5), (2**32 - 1, 5)], True, None),
])
def test_sorted_input_gives_the_records_of_siatec(dataset, flag, count):
    got = records(sweep(dataset, flag))
    assert got == records(build_tecs_from_mtps(dataset, flag))
    assert Counter(got) == Counter(model.siatec(dataset, flag))
    assert count is None or len(got) == count


def test_diagonal_example_records():
    assert Counter(records(sweep(DIAG))) == Counter([
        (((0, 10), (1, 0)), frozenset({(5, 5)})), (((0, 10), (5, 15)), frozenset({(1, -10)})),
        (((1, 0), (6, 5)), frozenset({(-1, 10)})), (((5, 15), (6, 5)), frozenset({(-5, -5)}))])


def test_descending_input_gives_nothing():
    assert sweep([(2, 60), (1, 60), (0, 60)]) == []


@given(datasets(max_size=12), st.booleans())
def test_sorted_matches_siatec_exactly(dataset, flag):
    dataset.sort()
    got = records(sweep(dataset, flag))
    assert got == records(build_tecs_from_mtps(dataset, flag))
    assert Counter(got) == Counter(model.siatec(dataset, flag))


@given(datasets(max_size=12, min_size=3), st.booleans())
def test_unsorted_input_stays_sound(dataset, flag):
    pts = set(dataset)
    mtps = [tuple(p) for p in model.find_mtps(dataset, flag).values()]
    for t in sweep(dataset, flag):
        assert tuple(t.pattern) in mtps
        assert t.translators and (0, 0) not in t.translators
        assert t.translators <= model.translators_of(t.pattern, pts, flag)


def test_real_piece(gibbons):
    assert records(sweep(gibbons)) == records(build_tecs_from_mtps(gibbons))
