"""Hostile arguments: every call returns a result of its type or raises an exception from a short
table (conversion errors, or what a hostile hook raised), never crashes, and never uses a hook
that it must not (those raise AssertionError, which is in no table)."""

import inspect

import pytest
from hypothesis import given
from hypothesis import strategies as st

from motivra.sia_family import _core

from conftest import FAKE_NUMPY_BOOLS, Idx, Seq, SubTypeError

TE = _core.TranslationalEquivalence
HOOK_ERRORS = (TypeError, SubTypeError, ValueError, OverflowError, RuntimeError, KeyboardInterrupt, IndexError)
CONVERSION_ERRORS = (TypeError, ValueError, OverflowError, DeprecationWarning)  # the last: __index__ gave no int


class IntSub(int):
    def __index__(self):
        raise AssertionError("__index__ of an int subclass used")


class TupleSub(tuple):
    def __getitem__(self, i):
        raise AssertionError("tuple.__getitem__ override used")


class Spoof:  # claims to be a tuple through __class__
    __class__ = property(lambda self: tuple)


class Reentrant:
    def __index__(self):
        _core.cosiatec_compress([(0, 0), (1, 0), (2, 0)])
        TE([(0, 0)], {(1, 0)}, [TE([], set(), None)]).summary(2)
        return 1


def mutating(items):
    """A list that the conversion of its first item empties."""
    out = list(items)
    out.insert(0, (type("Clears", (), {"__index__": lambda self: out.clear() or 0})(), 0))
    return out


errors = st.sampled_from(HOOK_ERRORS).map(lambda e: e("hook"))
ints = st.integers(0, 6) | st.sampled_from([2**31, 2**32 - 1, 2**32, -1, 2**63, -(2**63) - 1, 2**64])
odd = st.sampled_from([Idx(0.5), Idx(IntSub(1)), Reentrant(), None, 0.5, "1", 1j, ()])


def integer_likes(ints):
    return st.one_of(ints, ints, st.booleans(), ints.map(IntSub), ints.map(Idx), errors.map(Idx), odd)


integers = integer_likes(ints)
pairs = st.tuples(integers, integers)
items = st.one_of(pairs, st.tuples(ints, ints), pairs.map(TupleSub), st.tuples(integers))
items |= st.tuples(ints, ints, ints) | st.lists(ints, min_size=2, max_size=2) | st.sampled_from([Spoof(), None, 5])
lists = st.lists(items, max_size=6)
sequences = st.one_of(lists, lists.map(tuple), lists.map(Seq), lists.map(mutating), lists.map(iter))
sequences |= st.builds(Seq, st.lists(items | errors, max_size=6), st.sampled_from([None, 2**62, -1, 2**100]))
sequences |= st.sampled_from([range(3), "ab", b"ab", {(0, 1)}, {(0, 1): 2}, None, 3])
vectors = st.tuples(st.integers(-3, 3), st.integers(-3, 3))
sets = st.sets(vectors, max_size=5) | st.frozensets(vectors) | st.sets(pairs | ints) | sequences
flags = st.booleans() | st.sampled_from([0, 1, None, "yes", 1.0]) | st.sampled_from(FAKE_NUMPY_BOOLS).map(lambda c: c())
ARGS = {"dataset": sequences, "pattern": sequences, "translators": sets, "points": sets, "min_pattern_size": integers}
ARGS |= {"restrict_dpitch_zero": flags, "sweepline_optimization": flags}
ARGS["sub_tecs"] = st.none() | st.lists(st.just(TE([(0, 0)], {(1, 0)}, None)) | items, max_size=3) | sequences
# An indent between about 1000 and 2**62 would build a text of gigabytes.
ARGS["indent"] = integer_likes(st.integers(0, 40)) | st.integers(2**62, 2**70) | st.integers(-(2**70), -1)
T = TE([(0, 0), (1, 1)], {(2, 0)}, [TE([(5, 5)], set(), None)])
RESULTS = {_core.find_mtps: dict, TE: TE, T.compactness: float, T.summary: str}


CALLS = [*(getattr(_core, name) for name in _core.__all__), T.compactness, T.summary]


@pytest.mark.parametrize("f", CALLS, ids=lambda f: f.__qualname__)
@given(data=st.data())
def test_calls_return_or_raise_a_listed_exception(f, data):
    params = list(inspect.signature(f).parameters)
    values = [data.draw(ARGS[p], label=p) for p in params]
    split = data.draw(st.integers(0, len(params)), label="first keyword")
    try:
        result = f(*values[:split], **dict(zip(params[split:], values[split:])))
    except (*CONVERSION_ERRORS, *HOOK_ERRORS, MemoryError, _core.PanicException):  # the last two: huge indents
        return
    assert type(result) is RESULTS.get(f, list)
