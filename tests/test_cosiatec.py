import hashlib
import random

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from motivra.sia_family import cosiatec_compress

import model
from conftest import DIAG, SIX, datasets, records


def leftovers(*points):
    return [((p,), frozenset()) for p in points]


@pytest.mark.parametrize("sweep", [True, False])
@pytest.mark.parametrize(
    "dataset, flag, expected",
    [
        ([], False, []),
        ([(4, 4)] * 3, False, leftovers((4, 4))),
        ([(9, 1), (2, 5)], False, leftovers((2, 5), (9, 1))),
        ([(3, 1), (0, 2), (1, 3), (2, 4)], True, leftovers((0, 2), (1, 3), (2, 4), (3, 1))),
        (DIAG, False, [(((0, 10), (1, 0)), frozenset({(5, 5)}))] + leftovers((5, 5))),
        (SIX[::-1], False, [(tuple(SIX[:3]), frozenset({(3, 0)}))]),
    ],
)
def test_documented_encodings(dataset, flag, expected, sweep):
    got = cosiatec_compress(dataset, flag, sweep)
    assert records(got) == expected and all(t.sub_tecs == [] for t in got)


@settings(max_examples=150)
@given(datasets(max_size=12), st.booleans(), st.randoms(use_true_random=False))
@example([(2**32 - 1, 1), (2**31 - 1, 1), (5, 1), (0, 1)], True, random.Random(0))  # ticks spanning 2^32
def test_greedy_choice_matches_model(dataset, flag, rnd):
    got = cosiatec_compress(dataset, flag, True)
    model.check_partition(dataset, got)
    model.check_cosiatec(dataset, got, flag)
    assert records(cosiatec_compress(dataset, flag, False)) == records(got)
    other = dataset + dataset[: len(dataset) // 2]
    rnd.shuffle(other)
    assert [repr(t) for t in cosiatec_compress(other, flag)] == [repr(t) for t in got]


# SHA-256 (first 16 digits) of the encodings' reprs, one per line, without and with
# restrict_dpitch_zero: the encodings as revision 18d3452 computed them.
DIGESTS = {"gibbons": ("c3bb44f6d37221d0", "512386956c3d74d6"), "bach": ("2ea0f5e64a840fda", "d996bc16603a027e")}


@pytest.mark.parametrize("piece, n", [("gibbons", 100), ("bach", 60)])
def test_real_pieces(request, piece, n):
    points = request.getfixturevalue(piece)
    model.check_cosiatec(points[:n], cosiatec_compress(points[:n]))  # a prefix against the model
    for flag in (False, True):
        got = cosiatec_compress(points, flag)
        model.check_partition(points, got)
        assert records(cosiatec_compress(points, flag, False)) == records(got)
        assert len(points) / sum(len(t.pattern) + len(t.translators) for t in got) > 1.5
        assert hashlib.sha256("\n".join(map(repr, got)).encode()).hexdigest()[:16] == DIGESTS[piece][flag]


@settings(max_examples=60)
@given(datasets(max_size=14, coord=st.integers(0, 9)), st.sampled_from([3, 1000, 2**20 + 7]), st.booleans())
def test_spreading_the_ticks_spreads_the_encoding(dataset, step, flag):
    # Ticks far apart on a common step take the grids' divided rows; the encoding must
    # be the same one, spread.
    def spread(p):
        return (7 + p[0] * step, p[1])

    want = [
        (tuple(map(spread, pattern)), frozenset((dt * step, dp) for dt, dp in ts))
        for pattern, ts in records(cosiatec_compress(dataset, flag))
    ]
    assert records(cosiatec_compress([spread(p) for p in dataset], flag)) == want


@settings(max_examples=15, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 24), st.integers(0, 5)), min_size=30, max_size=60, unique=True), st.booleans())
def test_many_rounds_of_near_ties_match_model(dataset, flag):
    # Dense random sets give dozens of rounds of small, nearly tied candidates: the
    # bounds kept from round to round must never hide the first of the best.
    model.check_cosiatec(dataset, cosiatec_compress(dataset, flag), flag)


def test_more_points_than_sixteen_bits_hold(bach):
    # Past 65,536 Points the pairs are no longer packed into one word. Lone Points far
    # above the piece's pitches (restricted: no pair shares a row with them) change none
    # of its choices; they only join the one-Point TECs at the end.
    piece = bach[:300]
    top = max(p for _, p in piece)
    lone = [(0, top + 1 + i) for i in range(2**16)]
    want = cosiatec_compress(piece, True)
    got = cosiatec_compress(piece + lone, True)
    chosen = [t for t in want if t.translators]
    assert [repr(t) for t in got[: len(chosen)]] == [repr(t) for t in chosen]
    rest = sorted(t.pattern[0] for t in want[len(chosen) :]) + lone
    assert [t.pattern for t in got[len(chosen) :]] == [[p] for p in sorted(rest)]
