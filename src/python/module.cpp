// Module definition: multi-phase initialisation, no per-module state, and an execution
// step that registers the five functions and the class in a fixed order.
#include "py_args.hpp"
#include "py_ref.hpp"
#include "wrapper.hpp"

namespace motivra::sia::py {

namespace {

PyObject* g_panic = nullptr;  // created once for the process, then only read

// Adds `value` as attribute `name` and appends `name` to __all__.
void publish(PyObject* module, const char* name, Ref value) {
    PyObject* all_raw = nullptr;
    check(PyObject_GetOptionalAttrString(module, "__all__", &all_raw));
    Ref all = Ref::steal(all_raw);
    if (!all) {
        all = check(PyList_New(0));
        check(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    Ref text = check(PyUnicode_FromString(name));
    check(PyList_Append(all.get(), text.get()));
    check(PyObject_SetAttrString(module, name, value.get()));
}

int exec_module(PyObject* module) noexcept {
    PyObject* done = guard([&]() -> PyObject* {
        if (!PyModule_Check(module)) raise_cast_error(module, "module");
        if (!g_panic) {
            g_panic =
                PyErr_NewExceptionWithDoc("motivra.sia_family._core.PanicException",
                                          "An internal failure of the extension (a broken invariant). It derives from\n"
                                          "BaseException so that `except Exception` does not swallow it.",
                                          PyExc_BaseException, nullptr);
            if (!g_panic) throw ErrorSet{};
        }
        Ref name = check(PyModule_GetNameObject(module));
        for (PyMethodDef* def = module_functions; def->ml_name; ++def) {
            publish(module, def->ml_name, check(PyCFunction_NewEx(def, module, name.get())));
        }
        PyObject* type = tec_type();
        if (!type) throw ErrorSet{};
        publish(module, "TranslationalEquivalence", Ref::borrow(type));
        // Reachable for `except`, but not part of __all__.
        check(PyModule_AddObjectRef(module, "PanicException", g_panic));
        return Py_None;
    });
    return done ? 0 : -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "_core", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyObject* panic_type() noexcept { return g_panic ? g_panic : PyExc_RuntimeError; }

}  // namespace motivra::sia::py

PyMODINIT_FUNC PyInit__core(void) { return PyModuleDef_Init(&motivra::sia::py::definition); }
