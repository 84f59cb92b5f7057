from hypothesis import given, settings
from hypothesis import strategies as st

from motivra.sia_family import cosiatec_compress
from motivra.sia_family import recursive_cosiatec_compress as recursia

import model
from conftest import HALF, SIX, datasets, records


def check_tree(dataset, tecs, size, flag, sweep):
    """Every level is COSIATEC's encoding of its data, each large pattern (not all of it) encoded again."""
    restored = []
    for t in tecs:
        if t.sub_tecs:
            covers = [model.coverage(s) for s in t.sub_tecs]
            former = set().union(*covers)
            assert t.pattern == [] and sum(map(len, covers)) == len(former)
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


def test_three_levels():
    assert recursia([]) == [] and recursia(SIX, min_pattern_size=4)[0].sub_tecs == []
    (top,) = recursia(SIX)
    (mid,) = top.sub_tecs
    assert top.pattern == mid.pattern == [] and len(top.translators) == len(mid.translators) == 1
    assert len(mid.coverage) == 3 and top.coverage == set(SIX) and top.compression_ratio == 6 / (1 + (2 + 1 + 1))
    assert [(x.pattern, x.translators, x.sub_tecs) for x in mid.sub_tecs] == [([p], set(), []) for p in SIX[:2]]
    # A pattern that holds the whole data (possible only with wrap-around) stays a leaf.
    for dataset in ([(0, 60), (HALF, 60)], [(5, 60), (HALF + 5, 60), (5, 61), (HALF + 5, 61)]):
        for size in (0, 2):
            got = recursia(dataset, min_pattern_size=size)
            assert records(got) == [(tuple(sorted(dataset)), frozenset({(-HALF, 0)}))] and got[0].sub_tecs == []


def test_real_piece(gibbons):
    got = recursia(gibbons)
    model.check_partition(gibbons, got)
    check_tree(gibbons, got, 2, False, True)
