// The module boilerplate shared by the extension modules: multi-phase initialisation,
// no per-module state, no need of the interpreter's global lock, and an execution step
// that publishes the functions in table order before the module's own setup.
#pragma once

#include "py_ref.hpp"

namespace motivra::sia::py {

// What tells one extension module from another.
struct ModuleLayout {
    const char* name;
    const char* doc;
    PyMethodDef* functions;           // ends with a zeroed entry
    void (*setup)(PyObject* module);  // after the functions; throws ErrorSet on failure
};

// Adds `value` as attribute `name` and appends `name` to __all__.
void publish(PyObject* module, const char* name, Ref value);

// The execution step of the module described by `layout`: 0, or -1 with an exception set.
int exec_module(PyObject* module, const ModuleLayout& layout) noexcept;

// The body of PyInit_<name>: one definition per module, made at the first call.
template <const ModuleLayout& layout>
PyObject* init_module() noexcept {
    static PyModuleDef_Slot slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(+[](PyObject* module) noexcept { return exec_module(module, layout); })},
        {Py_mod_gil, Py_MOD_GIL_NOT_USED},
        {0, nullptr},
    };
    static PyModuleDef definition = {
        PyModuleDef_HEAD_INIT, layout.name, layout.doc, 0, nullptr, slots, nullptr, nullptr, nullptr,
    };
    return PyModuleDef_Init(&definition);
}

}  // namespace motivra::sia::py
