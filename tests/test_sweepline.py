from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family import build_tecs_from_mtps
from motivra.sia_family import build_tecs_from_mtps_sweepline as sweep

import model
from conftest import LINE3, datasets, records


@given(datasets(max_size=12), st.booleans())
def test_sorted_input_gives_the_records_of_siatec(dataset, flag):
    dataset.sort()
    assert records(sweep(dataset, flag)) == records(build_tecs_from_mtps(dataset, flag)) == model.siatec(dataset, flag)


@given(datasets(max_size=12, min_size=3), st.booleans())
def test_unsorted_input_stays_sound(dataset, flag):
    pts = set(dataset)
    mtps = [tuple(p) for p in model.find_mtps(dataset, flag).values()]
    for t in sweep(dataset, flag):
        assert tuple(t.pattern) in mtps and t.translators and (0, 0) not in t.translators
        assert t.translators <= model.translators_of(t.pattern, pts, flag)


def test_unsorted_examples(gibbons):
    assert sweep(LINE3[::-1]) == [] and records(sweep(gibbons)) == records(build_tecs_from_mtps(gibbons))
    # Forward scans find what lies ahead of each pattern: here two of the four records, one in part.
    got = sweep([(2, 60), (0, 60), (1, 60), (3, 60), (2, 64)])
    assert [(t.pattern, t.translators) for t in got] == [
        ([(0, 60), (1, 60)], {(2, 0)}),
        ([(2, 60), (3, 60)], {(-2, 0)}),
    ]
