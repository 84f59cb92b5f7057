// The module boilerplate shared by _core and _engine.
#include "py_module.hpp"

#include "py_args.hpp"

namespace motivra::sia::py {

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

int exec_module(PyObject* module, const ModuleLayout& layout) noexcept {
    PyObject* done = guard([&]() -> PyObject* {
        if (!PyModule_Check(module)) raise_cast_error(module, "module");
        Ref name = check(PyModule_GetNameObject(module));
        for (PyMethodDef* def = layout.functions; def->ml_name; ++def) {
            publish(module, def->ml_name, check(PyCFunction_NewEx(def, module, name.get())));
        }
        layout.setup(module);
        return Py_None;
    });
    return done ? 0 : -1;
}

}  // namespace motivra::sia::py
