// The engine module: the same algorithms with the choices a researcher may narrow,
// computed with the interpreter released (other threads run meanwhile), with progress
// reports and prompt interruption. Its records are instances of _core's class.
//
// The functions are private: motivra.sia_family.engine checks and documents the
// arguments and calls them positionally.
#include <chrono>

#include "cosiatec.hpp"
#include "py_args.hpp"
#include "py_ref.hpp"
#include "py_tec.hpp"
#include "recursia.hpp"

namespace motivra::sia::py {

namespace {

// Taken from _core at the first import, then only read.
PyTypeObject* g_tec_type = nullptr;
PyObject* g_panic = nullptr;

// Holds the interpreter's lock only while it looks for signals or reports progress.
// Signals are looked for at most every 20 ms of computation, progress reported at most
// every 100 ms.
class PythonMonitor final : public Monitor {
public:
    using Clock = std::chrono::steady_clock;

    explicit PythonMonitor(PyObject* progress)
        : m_progress(progress == Py_None ? nullptr : progress), m_last_poll(Clock::now()), m_last_report(m_last_poll) {}

    void release() noexcept { m_state = PyEval_SaveThread(); }
    void acquire() noexcept { PyEval_RestoreThread(m_state); }

    void report(std::size_t covered, std::size_t total, std::size_t tecs) override {
        m_covered = covered;
        m_total = total;
        m_tecs = tecs;
        m_pending = true;
        poll();
    }

protected:
    void poll() override {
        const Clock::time_point now = Clock::now();
        if (now - m_last_poll < std::chrono::milliseconds(20)) return;
        m_last_poll = now;
        const bool due = m_progress && m_pending && now - m_last_report >= std::chrono::milliseconds(100);
        acquire();
        try {
            check(PyErr_CheckSignals());
            if (due) {
                m_pending = false;
                m_last_report = now;
                check(PyObject_CallFunction(m_progress, "nnn", static_cast<Py_ssize_t>(m_covered),
                                            static_cast<Py_ssize_t>(m_total), static_cast<Py_ssize_t>(m_tecs)));
            }
        } catch (...) {
            release();
            throw;
        }
        release();
    }

private:
    PyObject* m_progress;  // borrowed from the call's arguments
    PyThreadState* m_state = nullptr;
    Clock::time_point m_last_poll, m_last_report;
    std::size_t m_covered = 0, m_total = 0, m_tecs = 0;
    bool m_pending = false;
};

// The interpreter released for this scope (and taken back however it ends).
class Released {
public:
    explicit Released(PythonMonitor& monitor) noexcept : m_monitor(monitor) { m_monitor.release(); }
    ~Released() { m_monitor.acquire(); }
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;

private:
    PythonMonitor& m_monitor;
};

// compress(points, restrict_dpitch_zero, min_pattern_size, max_pattern_size,
//          min_compactness, recursive, min_recursion_size, progress)
PyObject* py_compress(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return guard([&]() -> PyObject* {
        if (nargs != 8) raise(PyExc_TypeError, "compress() takes 8 positional arguments");
        std::vector<Point> dataset = to_points(args[0]);
        CompressOptions options;
        options.restrict_dpitch_zero = to_bool(args[1]);
        options.min_pattern_size = to_u64(args[2]);
        options.max_pattern_size = to_u64(args[3]);
        options.min_compactness = PyFloat_AsDouble(args[4]);
        if (options.min_compactness == -1.0 && PyErr_Occurred()) throw ErrorSet{};
        const bool recursive = to_bool(args[5]);
        const std::uint64_t min_recursion_size = to_u64(args[6]);
        PythonMonitor monitor(args[7]);
        options.monitor = &monitor;
        std::vector<Tec> records;
        {
            const Released released(monitor);
            records = recursive ? recursive_cosiatec_compress(dataset, options, min_recursion_size)
                                : cosiatec_compress(dataset, options);
            std::vector<Point>().swap(dataset);
        }
        return tec_list(g_tec_type, std::move(records)).release();
    });
}

PyMethodDef functions[] = {
    {"compress", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_compress)), METH_FASTCALL,
     "compress(points, restrict_dpitch_zero, min_pattern_size, max_pattern_size, min_compactness, recursive, "
     "min_recursion_size, progress)\n--\n\nThe engine's COSIATEC and RecurSIA; see motivra.sia_family.engine."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) noexcept {
    PyObject* done = guard([&]() -> PyObject* {
        if (!g_tec_type) {
            Ref core = check(PyImport_ImportModule("motivra.sia_family._core"));
            Ref type = check(PyObject_GetAttrString(core.get(), "TranslationalEquivalence"));
            Ref panic = check(PyObject_GetAttrString(core.get(), "PanicException"));
            if (!PyType_Check(type.get()) || reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize !=
                                                 static_cast<Py_ssize_t>(sizeof(TecObject))) {
                raise(PyExc_ImportError, "motivra.sia_family._core and _engine come from different builds");
            }
            g_panic = panic.release();
            g_tec_type = reinterpret_cast<PyTypeObject*>(type.release());
        }
        check(PyModule_AddFunctions(module, functions));
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
    PyModuleDef_HEAD_INIT,
    "_engine",
    "The compression engine's native part.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyObject* panic_type() noexcept { return g_panic ? g_panic : PyExc_RuntimeError; }

}  // namespace motivra::sia::py

PyMODINIT_FUNC PyInit__engine(void) { return PyModuleDef_Init(&motivra::sia::py::definition); }
