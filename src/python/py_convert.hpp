// Conversion of results into new Python objects.
#pragma once

#include <span>
#include <vector>

#include "points.hpp"
#include "py_ref.hpp"

namespace motivra::sia::py {

inline Ref int_tuple(long long a, long long b) {
    Ref x = check(PyLong_FromLongLong(a));
    Ref y = check(PyLong_FromLongLong(b));
    Ref t = check(PyTuple_New(2));
    PyTuple_SET_ITEM(t.get(), 0, x.release());
    PyTuple_SET_ITEM(t.get(), 1, y.release());
    return t;
}
inline Ref point_tuple(const Point& p) { return int_tuple(p.tick, p.pitch); }
inline Ref vector_tuple(const Vector& v) { return int_tuple(v.dtick, v.dpitch); }

inline Ref point_list(std::span<const Point> points) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(points.size())));
    for (std::size_t i = 0; i < points.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), point_tuple(points[i]).release());
    }
    return list;
}

template <class T, class ToTuple>
Ref tuple_set(std::span<const T> items, ToTuple&& to_tuple) {
    Ref set = check(PySet_New(nullptr));
    for (const T& item : items) check(PySet_Add(set.get(), to_tuple(item).get()));
    return set;
}
inline Ref point_set(std::span<const Point> points) { return tuple_set(points, point_tuple); }
inline Ref vector_set(std::span<const Vector> vectors) { return tuple_set(vectors, vector_tuple); }

}  // namespace motivra::sia::py
