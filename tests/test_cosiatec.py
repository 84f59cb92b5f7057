import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model
from conftest import datasets, records
from motivra.sia_family import cosiatec_compress

SIX = [(0, 60), (1, 62), (2, 64), (3, 60), (4, 62), (5, 64)]
DIAG = [(0, 10), (1, 0), (5, 5), (5, 15), (6, 5)]


def leftovers(*points):
    return [((p,), frozenset()) for p in points]


@pytest.mark.parametrize("sweep", [True, False])
@pytest.mark.parametrize("dataset, flag, expected", [
    ([], False, []),
    ([(4, 4)], False, leftovers((4, 4))),
    ([(4, 4)] * 3, False, leftovers((4, 4))),
    ([(9, 1), (2, 5)], False, leftovers((2, 5), (9, 1))),
    ([(3, 1), (0, 2), (1, 3), (2, 4)], True, leftovers((0, 2), (1, 3), (2, 4), (3, 1))),
    (DIAG, False, [(((0, 10), (1, 0)), frozenset({(5, 5)}))] + leftovers((5, 5))),
])
def test_documented_encodings(dataset, flag, expected, sweep):
    assert records(cosiatec_compress(dataset, flag, sweep)) == expected


@pytest.mark.parametrize("sweep", [True, False])
def test_six_points_single_tec(sweep):
    (t,) = cosiatec_compress(SIX[::-1], sweepline_optimization=sweep)
    assert t.coverage == set(SIX) and t.compression_ratio == 1.5 and t.sub_tecs == []
    assert len(t.pattern) == 3 and len(t.translators) == 1


@settings(max_examples=150)
@given(datasets(max_size=12), st.booleans())
def test_greedy_choice_matches_model(dataset, flag):
    by_sweep = cosiatec_compress(dataset, flag, True)
    model.check_partition(dataset, by_sweep)
    model.check_cosiatec(dataset, by_sweep, flag)
    assert records(cosiatec_compress(dataset, flag, False)) == records(by_sweep)


@settings(max_examples=100)
@given(datasets(max_size=12), st.booleans(), st.randoms(use_true_random=False))
def test_encoding_ignores_order_and_repeats(dataset, flag, rnd):
    other = dataset + dataset[: len(dataset) // 2]
    rnd.shuffle(other)
    first = cosiatec_compress(dataset, flag)
    assert [repr(t) for t in cosiatec_compress(dataset, flag)] == [repr(t) for t in first]
    assert records(cosiatec_compress(other, flag)) == records(first)


@pytest.mark.parametrize("piece, n", [("gibbons", 100), ("bach", 60)])
def test_real_piece_prefix_matches_model(request, piece, n):
    part = request.getfixturevalue(piece)[:n]
    model.check_cosiatec(part, cosiatec_compress(part))


@pytest.mark.parametrize("flag", [False, True])
def test_real_piece(gibbons, flag):
    got = cosiatec_compress(gibbons, flag)
    model.check_partition(gibbons, got)
    assert records(cosiatec_compress(gibbons, flag, False)) == records(got)
    units = sum(len(t.pattern) + len(t.translators) for t in got)
    assert len(gibbons) / units > 1.5
