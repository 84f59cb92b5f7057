// The instance layout of TranslationalEquivalence, shared by the two extension modules:
// _core owns the class, and _engine creates instances of that same class.
#pragma once

#include <memory>
#include <vector>

#include "py_ref.hpp"
#include "tec.hpp"

namespace motivra::sia::py {

struct TecObject {
    PyObject_HEAD TecPtr tec;  // never null; the record is never changed once here
};

inline Ref new_instance(PyTypeObject* type, TecPtr tec) {
    Ref self = check(type->tp_alloc(type, 0));
    new (&reinterpret_cast<TecObject*>(self.get())->tec) TecPtr(std::move(tec));
    return self;
}

// Moves each record into a new instance of `type`, in order.
inline Ref tec_list(PyTypeObject* type, std::vector<Tec>&& records) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(records.size())));
    for (std::size_t i = 0; i < records.size(); ++i) {
        Ref item = new_instance(type, std::make_shared<const Tec>(std::move(records[i])));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

}  // namespace motivra::sia::py
