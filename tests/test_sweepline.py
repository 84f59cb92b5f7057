from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family import TranslationalEquivalence as TE
from motivra.sia_family import build_tecs_from_mtps
from motivra.sia_family import build_tecs_from_mtps_sweepline as sweep

import model
from conftest import datasets, records


@given(datasets(max_size=12), st.booleans())
def test_sorted_input_gives_the_records_of_siatec(dataset, flag):
    dataset.sort()
    got = sweep(dataset, flag)
    assert records(got) == records(build_tecs_from_mtps(dataset, flag)) == model.siatec(dataset, flag)
    assert all(repr(t) == repr(TE(t.pattern, t.translators, None)) for t in got)  # translators ascending


@given(datasets(max_size=12, min_size=3), st.booleans())
def test_unsorted_input_stays_sound(dataset, flag):
    pts = set(dataset)
    mtps = [tuple(p) for p in model.find_mtps(dataset, flag).values()]
    for t in sweep(dataset, flag):
        assert tuple(t.pattern) in mtps and t.translators and (0, 0) not in t.translators
        assert t.translators <= model.translators_of(t.pattern, pts, flag)


H, TOP = 2**31, 2**32 - 1
UNSORTED = {  # forward scans find what lies ahead of their cursors, targets beyond 32 bits by bisection
    ((2, 60), (0, 60), (1, 60), (3, 60), (2, 64)): [([(0, 60), (1, 60)], {(2, 0)}), ([(2, 60), (3, 60)], {(-2, 0)})],
    ((2, 61), (0, 60), (4, 62)): [([(0, 60), (2, 61)], {(2, 1)})],
    ((H + 1, 62), (H + 1, 60), (H + 1, 61)): [],
    ((0, 62), (H, 62), (H, 61)): [([(0, 62), (H, 62)], {(-H, 0)})],
    ((TOP - 1, 62), (0, 61), (2, 60)): [],
    ((0, 60), (0, 62), (0, 61)): [],
    ((1, TOP - 1), (2, TOP), (2, TOP - 1), (2, TOP), (1, TOP)): [([(1, TOP - 1), (1, TOP)], {(1, 0)})],
}


def test_unsorted_examples():
    for dataset, expected in UNSORTED.items():
        assert [(t.pattern, t.translators) for t in sweep(list(dataset))] == expected, dataset
