import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model
from conftest import datasets, records
from motivra.sia_family import cosiatec_compress, recursive_cosiatec_compress as recursia

SIX = [(0, 60), (1, 62), (2, 64), (3, 60), (4, 62), (5, 64)]
H = 2**31


def check_tree(dataset, tecs, size, flag, sweep):
    """Every level is COSIATEC's encoding of its data, with each large enough
    pattern (short of the whole data) replaced by its own encoding."""
    restored = []
    for t in tecs:
        if t.sub_tecs:
            assert t.pattern == []
            covers = [model.coverage(s) for s in t.sub_tecs]
            former = set().union(*covers)
            assert sum(map(len, covers)) == len(former)
            assert len(former) >= max(size, 2) and former != set(dataset)
            check_tree(sorted(former), t.sub_tecs, size, flag, sweep)
            restored.append((tuple(sorted(former)), frozenset(t.translators)))
        else:
            assert len(t.pattern) < max(size, 2) or set(t.pattern) == set(dataset)
            restored.append((tuple(t.pattern), frozenset(t.translators)))
    assert restored == records(cosiatec_compress(dataset, flag, sweep))


@settings(max_examples=120)
@given(datasets(max_size=12), st.sampled_from([0, 1, 2, 3, 4, 7]), st.booleans(), st.booleans())
def test_tree_is_recursive_cosiatec(dataset, size, flag, sweep):
    got = recursia(dataset, flag, size, sweep)
    check_tree(dataset, got, size, flag, sweep)
    model.check_partition(dataset, got)


def test_empty():
    assert recursia([]) == []


def test_three_levels():
    (top,) = recursia(SIX)
    assert top.pattern == [] and len(top.translators) == 1 and len(top.sub_tecs) == 1
    (mid,) = top.sub_tecs
    assert mid.pattern == [] and len(mid.translators) == 1 and len(mid.sub_tecs) == 2
    assert len(mid.coverage) == 3 and top.coverage == set(SIX)
    leaves = mid.sub_tecs
    assert all(len(x.pattern) == 1 and x.translators == set() and x.sub_tecs == [] for x in leaves)
    assert leaves[0].pattern < leaves[1].pattern
    assert top.compression_ratio == 6 / (1 + (2 + 1 + 1))


@pytest.mark.parametrize("size, leaf", [(0, False), (1, False), (True, False), (2, False),
                                        (3, False), (4, True), (7, True), (2**64 - 1, True)])
def test_min_pattern_size_bound(size, leaf):
    (top,) = recursia(SIX, min_pattern_size=size)
    assert (top.sub_tecs == []) == leaf
    if leaf:
        assert records([top]) == records(cosiatec_compress(SIX))


def test_small_sizes_behave_like_two(gibbons):
    part = gibbons[:40]
    expected = [repr(t) for t in recursia(part)]
    for size in (0, 1, True):
        assert [repr(t) for t in recursia(part, min_pattern_size=size)] == expected


@pytest.mark.parametrize("dataset", [
    [(0, 60), (H, 60)],
    [(5, 60), (H + 5, 60), (5, 61), (H + 5, 61)],
    [(0, 60), (1, 60), (H, 60), (H + 1, 60)],
])
def test_whole_dataset_pattern_stays_leaf(dataset):
    for size in (0, 2):
        got = recursia(dataset, min_pattern_size=size)
        assert records(got) == [(tuple(sorted(dataset)), frozenset({(-H, 0)}))]
        assert got[0].sub_tecs == []


def test_real_piece(gibbons):
    got = recursia(gibbons)
    model.check_partition(gibbons, got)
    check_tree(gibbons, got, 2, False, True)
