"""Fixtures, hypothesis strategies and helper objects shared by the tests."""

import os
import signal
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st

from motivra.sia_family.io import read

# The model lives beside the tests; make it importable in every import mode.
sys.path.insert(0, os.path.dirname(__file__))

settings.register_profile("default", max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
# scripts/mutants: the same examples on every run, and none remembered between runs.
settings.register_profile("mutants", parent=settings.get_profile("default"), derandomize=True, database=None)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))

DATA = Path(__file__).parent / "data"
TOP, HALF = 2**32 - 1, 2**31
OOR = "out of range integral type conversion attempted"
LINE3 = [(0, 60), (1, 60), (2, 60)]
SQUARE = [(0, 60), (0, 64), (1, 60), (1, 64)]
DIAG = [(0, 10), (1, 0), (5, 5), (5, 15), (6, 5)]
SIX = [(0, 60), (1, 62), (2, 64), (3, 60), (4, 62), (5, 64)]
# Coordinates where 32-bit wrap-around matters, mixed with small ones.
coords = st.one_of(st.integers(0, 6), st.integers(0, 6), st.integers(HALF - 3, HALF + 3), st.integers(TOP - 3, TOP))
# Clusters far apart with no common step: few of the offsets up to the span occur.
sparse = st.one_of(st.integers(0, 6), st.integers(997, 1003))


def with_ctrl_c() -> None:
    """Run in a child before it starts (Popen's preexec_fn): Ctrl-C back to its default.

    A shell without job control starts background commands with SIGINT ignored, the
    children inherit that, and Python then installs no KeyboardInterrupt handler; the
    tests that interrupt a child must work wherever the suite itself was started.
    """
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@st.composite
def datasets(draw, max_size=10, min_size=0, coord=coords):
    """Unsorted point lists with repeats from few values, so translations recur; a third use small values only."""
    coord = draw(st.sampled_from([coord, st.integers(0, 6), sparse]))
    ticks = draw(st.lists(coord, min_size=1, max_size=5))
    pitches = draw(st.lists(coord, min_size=1, max_size=4))
    point = st.tuples(st.sampled_from(ticks), st.sampled_from(pitches))
    return draw(st.lists(point, min_size=min_size, max_size=max_size))


@pytest.fixture(scope="session")
def gibbons():
    return read(DATA / "gibbonsSilverSwan1612_polyphonic.csv").points()


@pytest.fixture(scope="session")
def bach():
    return read(DATA / "bachBWV889Fg_polyphonic.csv").points()


def records(tecs):
    """The (pattern, translators) content of a list of TECs, in order."""
    return [(tuple(t.pattern), frozenset(t.translators)) for t in tecs]


class Idx:
    """An integer by __index__, which may instead raise an exception."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Seq:
    """Indexable but neither a list nor a tuple; its length fails, or lies when given."""

    def __init__(self, items, length=None):
        self.items, self.length = items, length

    def __len__(self):
        if self.length is None:
            raise RuntimeError("no length")
        return self.length

    def __getitem__(self, i):
        if isinstance(self.items[i], BaseException):
            raise self.items[i]
        return self.items[i]


SubTypeError = type("SubTypeError", (TypeError,), {})


def _no_truth(self):
    raise RuntimeError("no truth")


# Boolean scalar types are recognised by their module and name alone.
LikeTrue = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
LikeFalse = type("bool", (), {"__module__": "numpy", "__bool__": lambda self: False})
NoTruth = type("bool_", (), {"__module__": "numpy"})
Elsewhere = type("bool_", (), {"__module__": "numpyx", "__bool__": lambda self: True})
TruthFails = type("bool", (), {"__module__": "numpy", "__bool__": _no_truth})
FAKE_NUMPY_BOOLS = [LikeTrue, LikeFalse, NoTruth, Elsewhere, TruthFails]
