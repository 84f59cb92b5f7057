// The engine module: the same algorithms with the choices a researcher may narrow,
// computed with the interpreter released (other threads run meanwhile), with progress
// reports and prompt interruption. Its records are instances of _core's class.
//
// The function is private: motivra.sia_family.engine checks and documents the
// arguments, and this module binds and converts them as _core does.
#include <algorithm>
#include <chrono>
#include <tuple>

#include "cosiatec.hpp"
#include "py_args.hpp"
#include "py_module.hpp"
#include "py_ref.hpp"
#include "py_tec.hpp"
#include "recursia.hpp"

namespace motivra::sia::py {

namespace {

// Taken from _core at the first import, then only read.
PyTypeObject* g_tec_type = nullptr;
PyObject* g_panic = nullptr;

// Holds the interpreter's lock only while it looks for signals or reports progress.
// Signals are looked for at most every 20 ms of computation. A report is passed on at
// once when it is the first or when `interval` has passed since the last one passed
// on; otherwise it waits for the next poll that finds the interval over, or for
// flush() at the end, so the last state is never lost. A report equal to the last
// one passed on is no change and is dropped.
class PythonMonitor final : public Monitor {
public:
    using Clock = std::chrono::steady_clock;

    PythonMonitor(PyObject* progress, Clock::duration interval)
        : m_progress(progress == Py_None ? nullptr : progress), m_interval(interval), m_last_poll(Clock::now()) {}

    void release() noexcept { m_state = PyEval_SaveThread(); }
    void acquire() noexcept { PyEval_RestoreThread(m_state); }

    // Called with the interpreter released.
    void report(std::size_t covered, std::size_t total, std::size_t tecs) override {
        m_state_now = {covered, total, tecs};
        m_pending = m_progress && !(m_delivered && m_state_now == m_last_state);
        const Clock::time_point now = Clock::now();
        if (due(now)) with_interpreter(now);
    }

    // Passes on the report still waiting, if any; called with the interpreter held.
    void flush() {
        if (m_pending) deliver(Clock::now());
    }

protected:
    void poll() override {
        const Clock::time_point now = Clock::now();
        if (now - m_last_poll < std::chrono::milliseconds(20)) return;
        with_interpreter(now);
    }

private:
    using State = std::tuple<std::size_t, std::size_t, std::size_t>;

    [[nodiscard]] bool due(Clock::time_point now) const {
        return m_pending && (!m_delivered || now - m_last_report >= m_interval);
    }

    // Looks for signals, and passes on the waiting report when it is due.
    void with_interpreter(Clock::time_point now) {
        m_last_poll = now;
        const bool report = due(now);
        acquire();
        try {
            check(PyErr_CheckSignals());
            if (report) deliver(now);
        } catch (...) {
            release();
            throw;
        }
        release();
    }

    void deliver(Clock::time_point now) {
        m_pending = false;
        m_delivered = true;
        m_last_report = now;
        m_last_state = m_state_now;
        const auto [covered, total, tecs] = m_state_now;
        check(PyObject_CallFunction(m_progress, "nnn", static_cast<Py_ssize_t>(covered), static_cast<Py_ssize_t>(total),
                                    static_cast<Py_ssize_t>(tecs)));
    }

    PyObject* m_progress;  // borrowed from the call's arguments; nullptr for none
    Clock::duration m_interval;
    PyThreadState* m_state = nullptr;
    Clock::time_point m_last_poll, m_last_report;
    State m_state_now{}, m_last_state{};
    bool m_pending = false, m_delivered = false;
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

// Seconds as the monitor's clock counts them. engine.py refuses what is not a number
// of 0 or more; the bounds here only keep the conversion defined.
PythonMonitor::Clock::duration to_interval(PyObject* obj) {
    double seconds = to_double(obj);
    if (!(seconds >= 0.0)) seconds = 0.0;
    seconds = std::min(seconds, 1e6);
    return std::chrono::duration_cast<PythonMonitor::Clock::duration>(std::chrono::duration<double>(seconds));
}

constexpr const char* compress_params[] = {
    "points",    "restrict_dpitch_zero", "min_pattern_size", "max_pattern_size",  "min_compactness",
    "recursive", "min_recursion_size",   "progress",         "progress_interval",
};
constexpr Signature compress_sig{"compress()", compress_params, std::size(compress_params)};

PyObject* py_compress(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(compress_sig, args, nargs, kwnames);
        std::vector<Point> dataset = convert_arg("points", [&] { return to_points(a[0]); });
        CompressOptions options;
        options.restrict_dpitch_zero = convert_arg("restrict_dpitch_zero", [&] { return to_bool(a[1]); });
        options.min_pattern_size = convert_arg("min_pattern_size", [&] { return to_u64(a[2]); });
        options.max_pattern_size = convert_arg("max_pattern_size", [&] { return to_u64(a[3]); });
        options.min_compactness = convert_arg("min_compactness", [&] { return to_double(a[4]); });
        const bool recursive = convert_arg("recursive", [&] { return to_bool(a[5]); });
        const std::uint64_t min_recursion_size = convert_arg("min_recursion_size", [&] { return to_u64(a[6]); });
        const auto interval = convert_arg("progress_interval", [&] { return to_interval(a[8]); });
        PythonMonitor monitor(a[7], interval);
        options.monitor = &monitor;
        std::vector<Tec> records;
        {
            const Released released(monitor);
            records = recursive ? recursive_cosiatec_compress(dataset, options, min_recursion_size)
                                : cosiatec_compress(dataset, options);
            std::vector<Point>().swap(dataset);
        }
        monitor.flush();
        return tec_list(g_tec_type, std::move(records)).release();
    });
}

PyMethodDef functions[] = {
    {"compress", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_compress)),
     METH_FASTCALL | METH_KEYWORDS,
     "compress(points, restrict_dpitch_zero, min_pattern_size, max_pattern_size, min_compactness, recursive, "
     "min_recursion_size, progress, progress_interval)\n--\n\nThe engine's COSIATEC and RecurSIA; see "
     "motivra.sia_family.engine."},
    {nullptr, nullptr, 0, nullptr},
};

void setup(PyObject*) {
    if (g_tec_type) return;
    Ref core = check(PyImport_ImportModule("motivra.sia_family._core"));
    Ref type = check(PyObject_GetAttrString(core.get(), "TranslationalEquivalence"));
    Ref panic = check(PyObject_GetAttrString(core.get(), "PanicException"));
    if (!PyType_Check(type.get()) ||
        reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize != static_cast<Py_ssize_t>(sizeof(TecObject))) {
        raise(PyExc_ImportError, "motivra.sia_family._core and _engine come from different builds");
    }
    g_panic = panic.release();
    g_tec_type = reinterpret_cast<PyTypeObject*>(type.release());
}

constexpr ModuleLayout layout{"_engine", "The compression engine's native part.", functions, setup};

}  // namespace

PyObject* panic_type() noexcept { return g_panic ? g_panic : PyExc_RuntimeError; }

}  // namespace motivra::sia::py

PyMODINIT_FUNC PyInit__engine(void) { return motivra::sia::py::init_module<motivra::sia::py::layout>(); }
