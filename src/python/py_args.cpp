// Argument binding and conversions. Messages follow CPython 3.13's for a Python `def`
// with the same parameters, so a caller sees what a pure-Python function would say.
#include "py_args.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace motivra::sia::py {

namespace {

[[noreturn]] void raise_too_many(const Signature& sig, Py_ssize_t given) {
    const std::size_t max = sig.params.size();
    const char* verb = given == 1 ? "was" : "were";
    if (sig.required < max) {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given", sig.name,
                     sig.required, max, given, verb);
    } else {
        // Always "arguments", one included (a Python def would say "1 positional argument").
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", sig.name, max, given, verb);
    }
    throw ErrorSet{};
}

void bind_keyword(const Signature& sig, Bound& slots, PyObject* name, PyObject* value) {
    for (std::size_t p = 0; p < sig.params.size(); ++p) {
        if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, sig.params[p]) == 0) {
            if (slots[p]) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.name, sig.params[p]);
                throw ErrorSet{};
            }
            slots[p] = value;
            return;
        }
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", sig.name, name);
    throw ErrorSet{};
}

// A Signature longer than Bound is a fault of this module, not of the caller.
void check_fits(const Signature& sig, const Bound& slots) {
    if (sig.params.size() > slots.size())
        throw std::logic_error("a Signature has more parameters than Bound has slots");
}

void check_required(const Signature& sig, const Bound& slots) {
    std::vector<const char*> missing;
    for (std::size_t p = 0; p < sig.required; ++p) {
        if (!slots[p]) missing.push_back(sig.params[p]);
    }
    if (missing.empty()) return;
    // 'a'; 'a' and 'b'; 'a', 'b', and 'c'
    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) names += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        names += '\'';
        names += missing[i];
        names += '\'';
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", sig.name, missing.size(),
                 missing.size() == 1 ? "" : "s", names.c_str());
    throw ErrorSet{};
}

std::uint32_t to_u32(PyObject* obj) {
    const long value = PyLong_AsLong(obj);
    if (value == -1 && PyErr_Occurred()) throw ErrorSet{};
    if (value < 0 || value > static_cast<long>(UINT32_MAX)) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<std::uint32_t>(value);
}

std::int32_t to_i32(PyObject* obj) {
    const long value = PyLong_AsLong(obj);
    if (value == -1 && PyErr_Occurred()) throw ErrorSet{};
    if (value < INT32_MIN || value > INT32_MAX) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<std::int32_t>(value);
}

// A tuple of exactly two elements, as a pair of borrowed references.
std::pair<PyObject*, PyObject*> pair_items(PyObject* item) {
    if (!PyTuple_Check(item)) raise_cast_error(item, "tuple");
    const Py_ssize_t size = PyTuple_GET_SIZE(item);
    if (size != 2) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd", size);
        throw ErrorSet{};
    }
    return {PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1)};
}

Point to_point(PyObject* item) {
    const auto [tick, pitch] = pair_items(item);
    const std::uint32_t t = to_u32(tick);
    return Point{t, to_u32(pitch)};
}

Ref set_iter(PyObject* obj) {
    if (!PyAnySet_Check(obj)) raise_cast_error(obj, "set");
    return check(PyObject_GetIter(obj));
}

// Reservations follow the reported length only up to a bound, so a hostile __len__
// cannot make a small input allocate a huge buffer.
constexpr std::size_t max_reserve = std::size_t{1} << 22;

}  // namespace

void raise_cast_error(PyObject* obj, const char* target) {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", target);
    } else {
        Ref name = check(PyType_GetQualName(Py_TYPE(obj)));
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), target);
    }
    throw ErrorSet{};
}

Bound bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound slots{};
    check_fits(sig, slots);
    if (static_cast<std::size_t>(nargs) > sig.params.size()) raise_too_many(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i) bind_keyword(sig, slots, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]);
    }
    check_required(sig, slots);
    return slots;
}

Bound bind(const Signature& sig, PyObject* args, PyObject* kwargs) {
    Bound slots{};
    check_fits(sig, slots);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (static_cast<std::size_t>(nargs) > sig.params.size()) raise_too_many(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *name = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &name, &value)) bind_keyword(sig, slots, name, value);
    }
    check_required(sig, slots);
    return slots;
}

Ref sequence_iter(PyObject* obj, std::size_t& length_hint) {
    if (PyUnicode_Check(obj)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(obj)) raise_cast_error(obj, "Sequence");
    const Py_ssize_t len = PyObject_Length(obj);
    if (len < 0) PyErr_Clear();
    length_hint = len < 0 ? 0 : std::min(static_cast<std::size_t>(len), max_reserve);
    return check(PyObject_GetIter(obj));
}

Ref next_item(PyObject* it) {
    Ref item = Ref::steal(PyIter_Next(it));
    if (!item && PyErr_Occurred()) throw ErrorSet{};
    return item;
}

std::vector<Point> to_points(PyObject* obj) {
    std::size_t hint = 0;
    Ref it = sequence_iter(obj, hint);
    std::vector<Point> points;
    points.reserve(hint);
    while (Ref item = next_item(it.get())) points.push_back(to_point(item.get()));
    return points;
}

std::vector<Point> to_point_set(PyObject* obj) {
    Ref it = set_iter(obj);
    std::vector<Point> points;
    while (Ref item = next_item(it.get())) points.push_back(to_point(item.get()));
    // Distinct Python members can still convert to one Point (through __index__).
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

std::vector<Vector> to_vector_set(PyObject* obj) {
    Ref it = set_iter(obj);
    std::vector<Vector> vectors;
    while (Ref item = next_item(it.get())) {
        const auto [dtick, dpitch] = pair_items(item.get());
        const std::int32_t t = to_i32(dtick);
        vectors.push_back(Vector{t, to_i32(dpitch)});
    }
    return vectors;
}

bool to_bool(PyObject* obj) {
    if (PyBool_Check(obj)) return obj == Py_True;
    PyTypeObject* type = Py_TYPE(obj);
    Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module) PyErr_Clear();
    if (module && PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0) {
        Ref name = check(PyType_GetName(type));
        if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
            PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0) {
            if (!type->tp_as_number || !type->tp_as_number->nb_bool) {
                PyErr_Format(PyExc_TypeError, "type '%U' does not define a '__bool__' conversion", name.get());
                throw ErrorSet{};
            }
            return check(type->tp_as_number->nb_bool(obj)) != 0;
        }
    }
    raise_cast_error(obj, "bool");
}

std::uint64_t to_u64(PyObject* obj) {
    Ref number = PyLong_Check(obj) ? Ref::borrow(obj) : check(PyNumber_Index(obj));
    const unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw ErrorSet{};
    return value;
}

double to_double(PyObject* obj) {
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) throw ErrorSet{};
    return value;
}

}  // namespace motivra::sia::py
