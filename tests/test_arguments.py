"""Argument binding and conversion at the Python boundary: messages and accepted values."""

import collections
import operator

import pytest

from motivra.sia_family import _core

from conftest import OOR, SIX, Elsewhere, Idx, LikeFalse, LikeTrue, NoTruth, Seq, SubTypeError

TE = _core.TranslationalEquivalence
T = TE([(0, 0)], {(1, 0)}, None)
SIGNATURES = {f: f.__text_signature__[1:-1].replace("$self, ", "") for f in (T.compactness, T.summary)}
SIGNATURES |= {getattr(_core, name): getattr(_core, name).__text_signature__[1:-1] for name in _core.__all__}
VALID = {"dataset": [], "restrict_dpitch_zero": True, "min_pattern_size": 3, "sweepline_optimization": False}
VALID |= {"pattern": [], "translators": set(), "sub_tecs": None, "points": set(), "indent": 0}
LEN3 = "expected tuple of length 2, but got tuple of length 3"
FLAGS = ("restrict_dpitch_zero", "sweepline_optimization")


def index_error(obj):
    try:
        operator.index(obj)
    except TypeError as e:
        return str(e)


def raises(exc, text, f, *args, **kwargs):
    """f(*args, **kwargs) raises exactly `exc` with `text`, or naming no parameter when `text` is None."""
    with pytest.raises(exc) as info:
        f(*args, **kwargs)
    assert type(info.value) is exc
    assert str(info.value) == text if text is not None else "argument" not in str(info.value)


@pytest.mark.parametrize("f", SIGNATURES, ids=lambda f: f.__qualname__)
def test_binding_messages_match_a_python_def(f):
    ns = {}
    exec(f"def ref({SIGNATURES[f]}): pass", ns)
    ref, names = ns["ref"], [p.split("=")[0] for p in SIGNATURES[f].split(", ")]
    ref.__qualname__ = f.__qualname__ + (".__new__" if f is TE else "")
    v = [VALID[n] for n in names]
    cases = [((), {}), ((*v, None), {}), (v[:1], {"bogus": 1}), ((), {"bogus": 1, names[0]: v[0]})]
    cases += [(v[:1], {names[0]: v[0]}), (v, {names[-1]: v[-1]}), ((), {names[-1]: v[-1]}), ((), dict(zip(names, v)))]
    for args, kwargs in cases:
        try:
            ref(*args, **kwargs)
        except TypeError as e:
            # A def says "takes 1 positional argument"; the module says "arguments" for every count.
            expected = str(e).replace("1 positional argument but", "1 positional arguments but")
            raises(TypeError, expected, f, *args, **kwargs)
        else:
            f(*args, **kwargs)


def test_binding_messages():
    text = "TranslationalEquivalence.compactness() takes 1 positional arguments but 2 were given"
    raises(TypeError, text, T.compactness, set(), set())
    # Surplus positional arguments are reported before any keyword problem, binding before conversion.
    text = "find_mtps() takes from 1 to 2 positional arguments but 3 were given"
    raises(TypeError, text, _core.find_mtps, [], 0, 1, bogus=1)
    raises(TypeError, "find_mtps() got an unexpected keyword argument 'bogus'", _core.find_mtps, "ab", bogus=1)


def test_keywords_are_accepted_and_compare_by_value():
    t = TE(sub_tecs=None, translators=frozenset({(1, 0)}), pattern=((3, 1), (0, 2)))
    assert t.pattern == [(0, 2), (3, 1)] and t.compactness(points=set()) == 0.0 and t.summary(indent=1) == t.summary(1)
    built = "".join(["data", "set"])  # not interned
    assert _core.find_mtps(**{built: SIX}) == _core.find_mtps(**{Key("dataset"): SIX}) == _core.find_mtps(SIX)
    assert set(_core.find_mtps(SIX, **{"".join(["restrict_dpitch", "_zero"]): True})) == {(3, 0), (-3, 0)}
    raises(TypeError, "find_mtps() got an unexpected keyword argument 'x'", _core.find_mtps, [], **{Key("x"): 1})


Key, Text = type("Key", (str,), {}), type("Text", (str,), {})
Mapping, VecSet = type("Mapping", (dict,), {}), type("VecSet", (frozenset,), {})


def cast(what, target):
    return f"argument 'dataset': {what} is not an instance of '{target}'"


DATASET_ERRORS = {  # (type, message): datasets
    (TypeError, "argument 'dataset': Can't extract `str` to `Vec`"): ["ab", Text("")],
    (TypeError, cast("'set' object", "Sequence")): [{(0, 60)}],
    (TypeError, cast("'Mapping' object", "Sequence")): [Mapping()],
    (TypeError, cast("'generator' object", "Sequence")): [(p for p in [(0, 1)])],
    (TypeError, cast("'None'", "Sequence")): [None],
    (TypeError, cast("'list' object", "tuple")): [[[0, 60]]],
    (TypeError, cast("'int' object", "tuple")): [b"ab"],
    (TypeError, cast("'None'", "tuple")): [[(0, 1), None]],
    (ValueError, LEN3): [[(0, 60, 1)]],
    (OverflowError, OOR): [[(-1, 60)], [(0, 4294967296)], [(Idx(-5), 0)]],
    (OverflowError, None): [[(2**64, 60)]],
    (TypeError, "argument 'dataset': " + index_error(0.5)): [[(0.5, 60)]],
    (TypeError, "argument 'dataset': bad"): [[(Idx(TypeError("bad")), 0)], Seq([(0, 1), TypeError("bad")])],
    (SubTypeError, "bad"): [[(Idx(SubTypeError("bad")), 0)]],
    (KeyboardInterrupt, "stop"): [[(0, Idx(KeyboardInterrupt("stop")))]],
    (ValueError, "gone"): [Seq([(0, 1), ValueError("gone")])],
}


@pytest.mark.parametrize("exc, text, value", [(*key, v) for key, values in DATASET_ERRORS.items() for v in values])
def test_dataset_conversion_errors(exc, text, value):
    raises(exc, text, _core.find_mtps, value)


@pytest.mark.parametrize("f", [getattr(_core, name) for name in _core.__all__[:-1]], ids=lambda f: f.__name__)
def test_every_function_converts_its_arguments(f):
    transposed = [(0, 60), (1, 62), (2, 64), (0, 65), (1, 67), (2, 69)]
    raises(TypeError, cast("'None'", "tuple"), f, [(0, 1), None])
    raises(ValueError, LEN3, f, [(0, 1, 2)], 1)  # the dataset first
    assert repr(f(transposed, True)) == repr(f(transposed, restrict_dpitch_zero=True)) != repr(f(transposed))


def test_dataset_conversions_accepted():
    named = [collections.namedtuple("Pt", "tick pitch")(t, 60) for t in range(3)]
    line = [(0, 60), (1, 60), (2, 60)]
    for dataset in (tuple(line), named, [(False, 60), (True, 60), (2, Idx(60))], Seq(line), Seq(line, length=2**62)):
        assert _core.find_mtps(dataset) == {(1, 0): [(0, 60), (1, 60)], (-1, 0): [(1, 60), (2, 60)]}
    assert _core.find_mtps([(4294967295, 0), (0, 4294967295)]) == {}


REFUSED = {1: "'int' object", None: "'None'", "yes": "'str' object", Elsewhere(): "'bool_' object"}


@pytest.mark.parametrize(
    "func, param", [(f, p) for f in _core.__all__[:-1] for p in FLAGS if p in SIGNATURES[getattr(_core, f)]]
)
def test_booleans(func, param):
    f, d = getattr(_core, func), [(0, 60), (1, 60), (2, 61), (2, 60)]
    for value, name in REFUSED.items():
        raises(TypeError, f"argument '{param}': {name} is not an instance of 'bool'", f, [], **{param: value})
    assert str(pytest.raises(TypeError, f, [], **{param: NoTruth()}).value).startswith(f"argument '{param}': ")
    for value, plain in [(True, True), (False, False), (LikeTrue(), True), (LikeFalse(), False)]:
        assert repr(f(d, **{param: value})) == repr(f(d, **{param: plain}))


def test_numpy_scalars():
    np = pytest.importorskip("numpy")
    d = [(0, 60), (0, 64), (1, 60), (1, 64)]
    for value in (np.True_, np.bool_(1), np.array([0, 1])[1] == 1):
        assert set(_core.find_mtps(d, value)) == {(1, 0), (-1, 0)}
    assert len(_core.find_mtps(d, np.False_)) == 4
    text = "argument 'restrict_dpitch_zero': 'int64' object is not an instance of 'bool'"
    raises(TypeError, text, _core.find_mtps, d, np.int64(1))
    assert _core.find_mtps([(np.int64(0), np.uint32(60)), (1, 60)]) == {} and T.summary(np.int64(1)) == T.summary(1)
    assert len(_core.recursive_cosiatec_compress(SIX, min_pattern_size=np.int64(3))) == 1


@pytest.mark.parametrize(
    "value, exc, text",
    [
        (-1, OverflowError, None),
        (2**64, OverflowError, None),
        (2.0, TypeError, "argument 'min_pattern_size': " + index_error(2.0)),
        (Idx(TypeError("no")), TypeError, "argument 'min_pattern_size': no"),
        (Idx(SubTypeError("no")), SubTypeError, "no"),
    ],
)
def test_min_pattern_size(value, exc, text):
    raises(exc, text, _core.recursive_cosiatec_compress, [], min_pattern_size=value)
    for accepted in (True, 2**64 - 1, Idx(4)):  # the one top-level TEC of SIX, encoded again or not
        assert len(_core.recursive_cosiatec_compress(SIX, min_pattern_size=accepted)) == 1


@pytest.mark.parametrize(
    "kwargs, exc, param",
    [
        ({"sweepline_optimization": 1, "min_pattern_size": "x", "restrict_dpitch_zero": 0}, TypeError, FLAGS[0]),
        ({"sweepline_optimization": 1, "min_pattern_size": "x"}, TypeError, "min_pattern_size"),
        ({"sweepline_optimization": 1}, TypeError, "sweepline_optimization"),
    ],
)
def test_conversion_order(kwargs, exc, param):
    with pytest.raises(exc) as info:
        _core.recursive_cosiatec_compress(**{"dataset": [(0, 1)]} | kwargs)
    assert type(info.value) is exc and (not param or str(info.value).startswith(f"argument '{param}': "))


TR, SUB = "argument 'translators': ", "argument 'sub_tecs': "
NOT_A_TEC = SUB + "'int' object is not an instance of 'TranslationalEquivalence'"


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: TE("ab", [], 5), TypeError, "argument 'pattern': Can't extract `str` to `Vec`"),
        (lambda: TE([(1, 2, 3)], set(), None), ValueError, LEN3),
        (lambda: TE([], [(1, 0)], 5), TypeError, TR + "'list' object is not an instance of 'set'"),
        (lambda: TE([], None, None), TypeError, TR + "'None' is not an instance of 'set'"),
        (lambda: TE([], {(2147483648, 0), (0, -2147483649)}, None), OverflowError, OOR),
        (lambda: TE([], {(1, 2, 3)}, None), ValueError, LEN3),
        (lambda: TE([], {(0.5, 0)}, None), TypeError, TR + index_error(0.5)),
        (lambda: TE([], {1}, None), TypeError, TR + "'int' object is not an instance of 'tuple'"),
        (lambda: TE([], set(), [T, 5]), TypeError, NOT_A_TEC),
        (lambda: TE([], set(), "ab"), TypeError, SUB + "Can't extract `str` to `Vec`"),
        (lambda: TE([], set(), {T}), TypeError, SUB + "'set' object is not an instance of 'Sequence'"),
        (lambda: T.compactness([(0, 2)]), TypeError, "argument 'points': 'list' object is not an instance of 'set'"),
        (lambda: T.compactness({(-1, 0)}), OverflowError, OOR),
        (lambda: T.summary(-1), OverflowError, None),
        (lambda: T.summary(2**64 - 1), _core.PanicException, "capacity overflow"),  # from 2**63 on (see the leak loop)
        (lambda: T.summary(indent="2"), TypeError, "argument 'indent': " + index_error("2")),
    ],
)
def test_class_conversion_errors(call, exc, text):
    raises(exc, text, call)


def test_class_conversions_accepted():
    t = TE([(0, 0)], VecSet({(-2147483648, 2147483647)}), (T,))
    assert t.translators == {(-2147483648, 2147483647)} and [repr(s) for s in t.sub_tecs] == [repr(T)]
    assert TE(Seq([(1, 1)]), set(), []).sub_tecs == [] and T.summary() == T.summary(0) == T.summary(False)
    assert T.summary(True) == T.summary(Idx(1)) == " " + T.summary().replace("\n", "\n ")
    assert T.compactness(frozenset({(0, 0)})) == T.compactness({(0, 0), (5, 5)}) == 1.0


ENGINE = {"points": [], "restrict_dpitch_zero": False, "min_pattern_size": 2, "max_pattern_size": 2**64 - 1}
ENGINE |= {"min_compactness": 0.0, "recursive": False, "min_recursion_size": 2, "progress": None}
ENGINE |= {"progress_interval": 0.1}


def test_the_engine_binds_through_the_same_binder():
    from motivra.sia_family import _engine

    names = list(ENGINE)
    assert _engine.compress.__text_signature__ == f"({', '.join(names)})" and _engine.__all__ == ["compress"]
    ns = {}
    exec(f"def compress({', '.join(names)}): pass", ns)
    v = list(ENGINE.values())
    cases = [((), {}), ((*v, None), {}), (v[:1], {"bogus": 1}), (v[:1], {"points": v[0]}), (v[:8], {})]
    for args, kwargs in cases:
        with pytest.raises(TypeError) as expected:
            ns["compress"](*args, **kwargs)
        raises(TypeError, str(expected.value), _engine.compress, *args, **kwargs)
    assert _engine.compress(*v) == _engine.compress(**ENGINE) == []
    for param, value, text in [
        ("points", "ab", "Can't extract `str` to `Vec`"),
        ("recursive", 1, "'int' object is not an instance of 'bool'"),
        ("max_pattern_size", 2.5, index_error(2.5)),
        ("progress_interval", "0", "must be real number, not str"),
    ]:
        raises(TypeError, f"argument '{param}': {text}", _engine.compress, **ENGINE | {param: value})
