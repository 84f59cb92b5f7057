import csv
import os
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st

# The model lives beside the tests; make it importable in every import mode.
sys.path.insert(0, os.path.dirname(__file__))

settings.register_profile(
    "default", max_examples=200, deadline=None,
    suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("quick", parent=settings.get_profile("default"), max_examples=20)
settings.register_profile("thorough", parent=settings.get_profile("default"), max_examples=2000)
# scripts/mutants: the same examples on every run, and none remembered between runs.
settings.register_profile("mutants", parent=settings.get_profile("default"), derandomize=True,
                          database=None)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))

DATA = Path(__file__).parent / "data"
TOP = 2**32 - 1
HALF = 2**31

# Coordinates where 32-bit wrap-around matters, mixed with small ones.
small = st.integers(0, 6)
near_half = st.integers(HALF - 3, HALF + 3)
near_top = st.integers(TOP - 3, TOP)
coords = st.one_of(small, small, near_half, near_top)


@st.composite
def datasets(draw, max_size=10, min_size=0, coord=coords):
    """Unsorted point lists, often with repeats, drawn from few tick and pitch values
    so that translations recur."""
    ticks = draw(st.lists(coord, min_size=1, max_size=5))
    pitches = draw(st.lists(coord, min_size=1, max_size=4))
    pt = st.tuples(st.sampled_from(ticks), st.sampled_from(pitches))
    return draw(st.lists(pt, min_size=min_size, max_size=max_size))


small_datasets = datasets(coord=small)


def load_piece(name):
    with open(DATA / f"{name}.csv", newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == ["tick", "pitch"]
    return [(int(t), int(p)) for t, p in rows[1:]]


@pytest.fixture(scope="session")
def gibbons():
    return load_piece("gibbonsSilverSwan1612_polyphonic")


@pytest.fixture(scope="session")
def bach():
    return load_piece("bachBWV889Fg_polyphonic")


def records(tecs):
    """The (pattern, translators) content of a list of TECs, in order."""
    return [(tuple(t.pattern), frozenset(t.translators)) for t in tecs]
