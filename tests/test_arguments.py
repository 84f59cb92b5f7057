import collections
import operator

import pytest

from motivra.sia_family import _core

np = pytest.importorskip("numpy")

TE = _core.TranslationalEquivalence
PARAMS = {
    "find_mtps": "dataset, restrict_dpitch_zero=False",
    "build_tecs_from_mtps": "dataset, restrict_dpitch_zero=False",
    "cosiatec_compress": "dataset, restrict_dpitch_zero=False, sweepline_optimization=True",
    "recursive_cosiatec_compress": "dataset, restrict_dpitch_zero=False, min_pattern_size=2, "
                                   "sweepline_optimization=True",
    "build_tecs_from_mtps_sweepline": "dataset, restrict_dpitch_zero=False",
}
T = TE([(0, 0)], {(1, 0)}, None)
METHODS = {  # qualified name: (params, callable, valid positional arguments)
    "TranslationalEquivalence.__new__": ("pattern, translators, sub_tecs", TE, ([], set(), None)),
    "TranslationalEquivalence.compactness": ("points", T.compactness, (set(),)),
    "TranslationalEquivalence.summary": ("indent=0", T.summary, (0,)),
}
VALID = {"dataset": [], "restrict_dpitch_zero": True, "min_pattern_size": 3,
         "sweepline_optimization": False}


def reference(qualname, params):
    """A pure-Python function with the same signature, for its argument messages."""
    ns = {}
    exec(f"def f({params}): pass", ns)
    ns["f"].__qualname__ = qualname
    return ns["f"]


def message(f, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        f(*args, **kwargs)
    assert type(info.value) is TypeError
    return str(info.value)


def binding_cases(names, valid):
    yield (), {}
    yield tuple(valid) + (None,), {}
    yield tuple(valid[:1]), {"bogus": 1}
    yield (), {"bogus": 1, names[0]: valid[0]}
    yield tuple(valid[:1]), {names[0]: valid[0]}
    yield tuple(valid), {names[-1]: valid[-1]}
    yield (), {names[-1]: valid[-1]}
    yield (), {n: v for n, v in zip(names[1:], valid[1:])}


def all_signatures():
    for name, params in PARAMS.items():
        names = [p.split("=")[0] for p in params.split(", ")]
        yield pytest.param(name, params, getattr(_core, name), names,
                           [VALID[n] for n in names], id=name)
    for qual, (params, f, valid) in METHODS.items():
        names = [p.split("=")[0] for p in params.split(", ")]
        yield pytest.param(qual, params, f, names, list(valid), id=qual)


@pytest.mark.parametrize("name, params, f, names, valid", list(all_signatures()))
def test_binding_messages_match_python(name, params, f, names, valid):
    ref = reference(name, params)
    for args, kwargs in binding_cases(names, valid):
        try:
            ref(*args, **kwargs)
        except TypeError as e:
            expected = str(e)
        else:
            f(*args, **kwargs)
            continue
        # A def says "takes 1 positional argument"; the module says "arguments" for every count.
        expected = expected.replace("1 positional argument but", "1 positional arguments but")
        assert message(f, *args, **kwargs) == expected


@pytest.mark.parametrize("call, text", [
    (lambda: _core.recursive_cosiatec_compress([], False, 2, True, 0),
     "recursive_cosiatec_compress() takes from 1 to 4 positional arguments but 5 were given"),
    # Surplus positional arguments are reported before any keyword problem.
    (lambda: _core.find_mtps([], False, True, dataset=[], bogus=1),
     "find_mtps() takes from 1 to 2 positional arguments but 3 were given"),
    # Binding comes before any conversion.
    (lambda: _core.find_mtps("ab", bogus=1),
     "find_mtps() got an unexpected keyword argument 'bogus'"),
    (lambda: _core.find_mtps(restrict_dpitch_zero=1),
     "find_mtps() missing 1 required positional argument: 'dataset'"),
    (lambda: T.compactness(set(), set()),
     "TranslationalEquivalence.compactness() takes 1 positional arguments but 2 were given"),
    (lambda: TE([], set(), None, None),
     "TranslationalEquivalence.__new__() takes 3 positional arguments but 4 were given"),
    (lambda: TE([(3, 1)], {(1, 0)}),
     "TranslationalEquivalence.__new__() missing 1 required positional argument: 'sub_tecs'"),
])
def test_binding_messages(call, text):
    assert message(call) == text


def test_keyword_arguments_are_accepted():
    t = TE(sub_tecs=None, translators=frozenset({(1, 0)}), pattern=((3, 1), (0, 2)))
    assert t.pattern == [(0, 2), (3, 1)] and t.compactness(points=set()) == 0.0
    assert t.summary(indent=1) == t.summary(1)
    assert _core.recursive_cosiatec_compress(sweepline_optimization=False, min_pattern_size=5,
                                             restrict_dpitch_zero=True, dataset=[(0, 0)]) != []


class Key(str):
    pass


def test_keyword_names_compare_by_value():
    d = [(0, 60), (1, 60), (2, 60)]
    built = "".join(["data", "set"])  # not interned
    assert _core.find_mtps(**{built: d}) == _core.find_mtps(**{Key("dataset"): d}) == \
        _core.find_mtps(d)
    flag = {"".join(["restrict_dpitch", "_zero"]): True}
    assert set(_core.find_mtps([(0, 60), (0, 64), (1, 60), (1, 64)], **flag)) == {(1, 0), (-1, 0)}
    assert message(_core.find_mtps, d, **{Key("restrict"): True}) == (
        "find_mtps() got an unexpected keyword argument 'restrict'")


def test_dataset_emptied_during_conversion():
    data = []

    class Clears:
        def __index__(self):
            data.clear()
            return 0
    data.extend([(Clears(), 0), (1, 0), (2, 0)])
    assert _core.find_mtps(data) == {}
    data.extend([(0, Clears()), (1, 0), (2, 0)])
    assert _core.build_tecs_from_mtps(data) == []


def index_error(obj):
    try:
        operator.index(obj)
    except TypeError as e:
        return str(e)


class Idx:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        if isinstance(self.v, BaseException):
            raise self.v
        return self.v


class SubTypeError(TypeError):
    pass


class Seq:
    """An indexable container that is neither a list nor a tuple; its length fails."""

    def __init__(self, items, fail_at=None):
        self.items, self.fail_at = items, fail_at

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, i):
        if i == self.fail_at:
            raise self.items[i]
        return self.items[i]


class Mapping(dict):
    pass


class Text(str):
    pass


class Huge(Seq):
    def __len__(self):
        return 2**62


Pt = collections.namedtuple("Pt", "tick pitch")

OOR = "out of range integral type conversion attempted"
LEN3 = "expected tuple of length 2, but got tuple of length 3"
SEQ_ERR = "'{}' object is not an instance of 'Sequence'"
DATASET_ERRORS = [
    ("ab", TypeError, "argument 'dataset': Can't extract `str` to `Vec`"),
    (Text(""), TypeError, "argument 'dataset': Can't extract `str` to `Vec`"),
    (b"ab", TypeError, "argument 'dataset': 'int' object is not an instance of 'tuple'"),
    ({(0, 60)}, TypeError, "argument 'dataset': " + SEQ_ERR.format("set")),
    (None, TypeError, "argument 'dataset': 'None' is not an instance of 'Sequence'"),
    ({0: (0, 1)}, TypeError, "argument 'dataset': " + SEQ_ERR.format("dict")),
    (Mapping(), TypeError, "argument 'dataset': " + SEQ_ERR.format("Mapping")),
    ((p for p in [(0, 1)]), TypeError, "argument 'dataset': " + SEQ_ERR.format("generator")),
    (5, TypeError, "argument 'dataset': " + SEQ_ERR.format("int")),
    ([[0, 60]], TypeError, "argument 'dataset': 'list' object is not an instance of 'tuple'"),
    ([(0, 1), None], TypeError, "argument 'dataset': 'None' is not an instance of 'tuple'"),
    (range(3), TypeError, "argument 'dataset': 'int' object is not an instance of 'tuple'"),
    ([(0, 60, 1)], ValueError, LEN3),
    ([(0, 1), ()], ValueError, "expected tuple of length 2, but got tuple of length 0"),
    ([(-1, 60)], OverflowError, OOR),
    ([(0, 4294967296)], OverflowError, OOR),
    ([(Idx(-5), 0)], OverflowError, OOR),
    ([(2**64, 60)], OverflowError, None),
    ([(0.5, 60)], TypeError, "argument 'dataset': " + index_error(0.5)),
    ([(0, "60")], TypeError, "argument 'dataset': " + index_error("60")),
    ([(Idx(TypeError("bad index")), 0)], TypeError, "argument 'dataset': bad index"),
    ([(Idx(SubTypeError("bad index")), 0)], SubTypeError, "bad index"),
    ([(Idx(ValueError("bad index")), 0)], ValueError, "bad index"),
    ([(0, Idx(KeyboardInterrupt("stop")))], KeyboardInterrupt, "stop"),
    (Seq([(0, 1), ValueError("gone")], 1), ValueError, "gone"),
    (Seq([(0, 1), TypeError("gone")], 1), TypeError, "argument 'dataset': gone"),
]


@pytest.mark.parametrize("func", sorted(PARAMS))
@pytest.mark.parametrize("value, exc, text", DATASET_ERRORS)
def test_dataset_conversion_errors(func, value, exc, text):
    with pytest.raises(exc) as info:
        getattr(_core, func)(value)
    assert type(info.value) is exc
    if text is not None:
        assert str(info.value) == text
    else:
        assert "argument" not in str(info.value)


@pytest.mark.parametrize("dataset", [
    ((0, 60), (1, 60), (2, 60)),
    [Pt(0, 60), Pt(1, 60), Pt(2, 60)],
    [(False, 60), (True, 60), (2, Idx(60))],
    [(np.int64(0), np.uint32(60)), (1, 60), (Idx(2), 60)],
    Seq([(0, 60), (1, 60), (2, 60)]),
    Huge([(0, 60), (1, 60), (2, 60)]),
])
def test_dataset_conversions_accepted(dataset):
    assert _core.find_mtps(dataset) == {(1, 0): [(0, 60), (1, 60)], (-1, 0): [(1, 60), (2, 60)]}


def test_extreme_coordinates_accepted():
    assert _core.find_mtps([(4294967295, 0), (0, 4294967295)]) == {}


BOOL_PARAMS = [(f, p) for f, ps in PARAMS.items() for p in ("restrict_dpitch_zero",
               "sweepline_optimization") if p in ps]


@pytest.mark.parametrize("func, param", BOOL_PARAMS)
@pytest.mark.parametrize("value, text", [
    (1, "'int' object is not an instance of 'bool'"),
    (0, "'int' object is not an instance of 'bool'"),
    (None, "'None' is not an instance of 'bool'"),
    ("yes", "'str' object is not an instance of 'bool'"),
    (np.int64(1), "'int64' object is not an instance of 'bool'"),
])
def test_boolean_refused(func, param, value, text):
    assert message(getattr(_core, func), [], **{param: value}) == f"argument '{param}': {text}"


@pytest.mark.parametrize("func, param", BOOL_PARAMS)
def test_boolean_accepted(func, param):
    f = getattr(_core, func)
    d = [(0, 60), (1, 60), (2, 61), (2, 60)]
    for value in (True, False, np.True_, np.False_, np.bool_(1), np.array([0, 1])[1] == 1):
        assert repr(f(d, **{param: value})) == repr(f(d, **{param: bool(value)}))


# Boolean scalar types are recognised by their module and name alone.
LikeTrue = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
LikeFalse = type("bool", (), {"__module__": "numpy", "__bool__": lambda self: False})
NoTruth = type("bool_", (), {"__module__": "numpy"})
Elsewhere = type("bool_", (), {"__module__": "numpyx", "__bool__": lambda self: True})


def test_boolean_scalar_types_by_module_and_name():
    d = [(0, 60), (0, 64), (1, 60), (1, 64)]
    assert set(_core.find_mtps(d, LikeTrue())) == {(1, 0), (-1, 0)}
    assert len(_core.find_mtps(d, LikeFalse())) == 4
    assert message(_core.find_mtps, d, NoTruth()).startswith("argument 'restrict_dpitch_zero': ")
    assert message(_core.find_mtps, d, Elsewhere()) == (
        "argument 'restrict_dpitch_zero': 'bool_' object is not an instance of 'bool'")


@pytest.mark.parametrize("value, exc, text", [
    (-1, OverflowError, None),
    (2**64, OverflowError, None),
    (2.0, TypeError, "argument 'min_pattern_size': " + index_error(2.0)),
    ("2", TypeError, "argument 'min_pattern_size': " + index_error("2")),
    (None, TypeError, "argument 'min_pattern_size': " + index_error(None)),
    (Idx(TypeError("no")), TypeError, "argument 'min_pattern_size': no"),
    (Idx(SubTypeError("no")), SubTypeError, "no"),
])
def test_min_pattern_size_refused(value, exc, text):
    with pytest.raises(exc) as info:
        _core.recursive_cosiatec_compress([], min_pattern_size=value)
    assert type(info.value) is exc
    assert str(info.value) == text if text else "argument" not in str(info.value)


@pytest.mark.parametrize("value", [True, 0, 2**64 - 1, np.int64(3), Idx(4)])
def test_min_pattern_size_accepted(value):
    d = [(0, 60), (1, 62), (2, 64), (3, 60), (4, 62), (5, 64)]
    assert len(_core.recursive_cosiatec_compress(d, min_pattern_size=value)) == 1


@pytest.mark.parametrize("kwargs, exc, param", [
    ({"dataset": "ab", "restrict_dpitch_zero": 1, "min_pattern_size": -1}, TypeError, "dataset"),
    ({"dataset": [(0, 1, 2)], "restrict_dpitch_zero": 1}, ValueError, None),
    ({"sweepline_optimization": 1, "min_pattern_size": "x", "restrict_dpitch_zero": None,
      "dataset": []}, TypeError, "restrict_dpitch_zero"),
    ({"sweepline_optimization": 1, "min_pattern_size": "x", "dataset": []}, TypeError,
     "min_pattern_size"),
    ({"sweepline_optimization": 1, "min_pattern_size": -1, "dataset": []}, OverflowError, None),
    ({"sweepline_optimization": 1, "dataset": [(0, 1)]}, TypeError, "sweepline_optimization"),
])
def test_conversion_order(kwargs, exc, param):
    with pytest.raises(exc) as info:
        _core.recursive_cosiatec_compress(**kwargs)
    assert type(info.value) is exc
    if param:
        assert str(info.value).startswith(f"argument '{param}': ")


@pytest.mark.parametrize("args, exc, text", [
    (("ab", set(), None), TypeError, "argument 'pattern': Can't extract `str` to `Vec`"),
    (([(1, 2, 3)], set(), None), ValueError, LEN3),
    (([(-1, 2)], set(), None), OverflowError, OOR),
    (("ab", [], 5), TypeError, "argument 'pattern': Can't extract `str` to `Vec`"),
    (([], [(1, 0)], 5), TypeError,
     "argument 'translators': 'list' object is not an instance of 'set'"),
    (([], None, None), TypeError, "argument 'translators': 'None' is not an instance of 'set'"),
    (([], {(0, 0): 1}, None), TypeError,
     "argument 'translators': 'dict' object is not an instance of 'set'"),
    (([], {(2147483648, 0)}, None), OverflowError, OOR),
    (([], {(0, -2147483649)}, None), OverflowError, OOR),
    (([], {(1, 2, 3)}, None), ValueError, LEN3),
    (([], {(0.5, 0)}, None), TypeError, "argument 'translators': " + index_error(0.5)),
    (([], {1}, None), TypeError,
     "argument 'translators': 'int' object is not an instance of 'tuple'"),
    (([], set(), [T, 5]), TypeError,
     "argument 'sub_tecs': 'int' object is not an instance of 'TranslationalEquivalence'"),
    (([], set(), "ab"), TypeError, "argument 'sub_tecs': Can't extract `str` to `Vec`"),
    (([], set(), {T}), TypeError,
     "argument 'sub_tecs': 'set' object is not an instance of 'Sequence'"),
    (([], set(), 5), TypeError,
     "argument 'sub_tecs': 'int' object is not an instance of 'Sequence'"),
    (([], set(), False), TypeError,
     "argument 'sub_tecs': 'bool' object is not an instance of 'Sequence'"),
])
def test_constructor_conversion_errors(args, exc, text):
    with pytest.raises(exc) as info:
        TE(*args)
    assert type(info.value) is exc and str(info.value) == text


class VecSet(frozenset):
    pass


def test_constructor_accepts_sets_and_sequences():
    t = TE([(0, 0)], VecSet({(-2147483648, 2147483647)}), (T,))
    assert t.translators == {(-2147483648, 2147483647)}
    assert [repr(s) for s in t.sub_tecs] == [repr(T)]
    assert TE(Seq([(1, 1)]), set(), []).sub_tecs == []


@pytest.mark.parametrize("call, exc, text", [
    (lambda: T.compactness([(0, 2)]), TypeError,
     "argument 'points': 'list' object is not an instance of 'set'"),
    (lambda: T.compactness(None), TypeError,
     "argument 'points': 'None' is not an instance of 'set'"),
    (lambda: T.compactness({(-1, 0)}), OverflowError, OOR),
    (lambda: T.compactness({(0, 2**32)}), OverflowError, OOR),
    (lambda: T.compactness({(0, 1, 2)}), ValueError, LEN3),
    (lambda: T.summary(-1), OverflowError, None),
    (lambda: T.summary(2**64), OverflowError, None),
    (lambda: T.summary(None), TypeError, "argument 'indent': " + index_error(None)),
    (lambda: T.summary(1.0), TypeError, "argument 'indent': " + index_error(1.0)),
    (lambda: T.summary(indent="2"), TypeError, "argument 'indent': " + index_error("2")),
])
def test_method_conversion_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == text if text else "argument" not in str(info.value)


def test_method_conversions_accepted():
    assert T.summary() == T.summary(0) == T.summary(False)
    shifted = " " + T.summary().replace("\n", "\n ")
    assert T.summary(True) == T.summary(np.int64(1)) == T.summary(Idx(1)) == shifted
    assert T.compactness(frozenset({(0, 0)})) == T.compactness({(0, 0), (5, 5)}) == 1.0
