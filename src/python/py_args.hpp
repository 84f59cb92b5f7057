// Argument binding with the messages of a Python `def`, and the conversions of the
// module's parameter types.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "points.hpp"
#include "py_ref.hpp"

namespace motivra::sia::py {

// What the binder needs of a callable: its display name (as in messages, "f()"), its
// parameter names, and how many of the leading ones are required.
struct Signature {
    const char* name;
    std::span<const char* const> params;
    std::size_t required;
};

// One slot per parameter, borrowed, nullptr where the caller gave nothing. A Signature
// has at most as many parameters as there are slots (the binder checks).
using Bound = std::array<PyObject*, 9>;

// Vectorcall form: positional args, then values for the names in `kwnames`.
Bound bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// tp_new form: a tuple and an optional dict.
Bound bind(const Signature& sig, PyObject* args, PyObject* kwargs);

// Runs one parameter's conversion; an exact TypeError gets the parameter's name in
// front of its message, every other exception passes unchanged.
template <class F>
auto convert_arg(const char* param, F&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const ErrorSet&) {
        PyObject* exc = PyErr_GetRaisedException();
        if (exc && Py_IS_TYPE(exc, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
            PyErr_Format(PyExc_TypeError, "argument '%s': %S", param, exc);
            Py_DECREF(exc);
        } else {
            PyErr_SetRaisedException(exc);
        }
        throw;
    }
}

std::vector<Point> to_points(PyObject* obj);       // any sequence but str, of (u32, u32) tuples
std::vector<Point> to_point_set(PyObject* obj);    // a set or frozenset of (u32, u32) tuples; distinct
std::vector<Vector> to_vector_set(PyObject* obj);  // a set or frozenset of (i32, i32) tuples
bool to_bool(PyObject* obj);                       // bool, or numpy's bool scalar
std::uint64_t to_u64(PyObject* obj);               // int or __index__, 0 .. 2^64 - 1
double to_double(PyObject* obj);                   // float, int or __float__
// The sequence checks shared by every Point sequence: refuses a str and anything that
// is not a sequence, and returns an iterator with the reported length (0 if unknown).
Ref sequence_iter(PyObject* obj, std::size_t& length_hint);
// The next item of an iterator, or an empty Ref at its end (error propagated).
Ref next_item(PyObject* it);
// "'{type}' object is not an instance of '{target}'" ("'None' is not ..." for None).
[[noreturn]] void raise_cast_error(PyObject* obj, const char* target);

}  // namespace motivra::sia::py
