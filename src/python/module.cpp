// The module _core: the five functions, then the TranslationalEquivalence class, and
// the PanicException that every internal failure of the extension raises.
#include "py_module.hpp"
#include "wrapper.hpp"

namespace motivra::sia::py {

namespace {

PyObject* g_panic = nullptr;  // created once for the process, then only read

void setup(PyObject* module) {
    if (!g_panic) {
        g_panic =
            PyErr_NewExceptionWithDoc("motivra.sia_family._core.PanicException",
                                      "An internal failure of the extension (a broken invariant). It derives from\n"
                                      "BaseException so that `except Exception` does not swallow it.",
                                      PyExc_BaseException, nullptr);
        if (!g_panic) throw ErrorSet{};
    }
    PyObject* type = tec_type();
    if (!type) throw ErrorSet{};
    publish(module, "TranslationalEquivalence", Ref::borrow(type));
    // Reachable for `except`, but not part of __all__.
    check(PyModule_AddObjectRef(module, "PanicException", g_panic));
}

constexpr ModuleLayout layout{"_core", "", module_functions, setup};

}  // namespace

PyObject* panic_type() noexcept { return g_panic ? g_panic : PyExc_RuntimeError; }

}  // namespace motivra::sia::py

PyMODINIT_FUNC PyInit__core(void) { return motivra::sia::py::init_module<motivra::sia::py::layout>(); }
