// The five module functions and the TranslationalEquivalence class. Each entry binds
// and converts its arguments, runs the algorithm on plain values with no Python object
// touched, drops the Dataset, then converts the result in one pass.
#include "wrapper.hpp"

#include <memory>
#include <string>

#include "cosiatec.hpp"
#include "py_args.hpp"
#include "py_convert.hpp"
#include "py_docs.hpp"
#include "py_tec.hpp"
#include "recursia.hpp"
#include "sia.hpp"
#include "siatec.hpp"
#include "sweepline.hpp"

namespace motivra::sia::py {

namespace {

// ---- the class ------------------------------------------------------------------

const Tec& record(PyObject* self) noexcept { return *reinterpret_cast<TecObject*>(self)->tec; }

PyTypeObject* tec_type_checked() {
    PyObject* type = tec_type();
    if (!type) throw ErrorSet{};
    return reinterpret_cast<PyTypeObject*>(type);
}

Ref tec_list(std::vector<Tec>&& records) { return py::tec_list(tec_type_checked(), std::move(records)); }

std::vector<TecPtr> to_sub_tecs(PyObject* obj) {
    std::vector<TecPtr> subs;
    if (obj == Py_None) return subs;
    PyTypeObject* type = tec_type_checked();
    std::size_t hint = 0;
    Ref it = sequence_iter(obj, hint);
    subs.reserve(hint);
    while (Ref item = next_item(it.get())) {
        if (!Py_IS_TYPE(item.get(), type)) raise_cast_error(item.get(), "TranslationalEquivalence");
        subs.push_back(reinterpret_cast<TecObject*>(item.get())->tec);
    }
    return subs;
}

constexpr const char* new_params[] = {"pattern", "translators", "sub_tecs"};
constexpr Signature new_sig{"TranslationalEquivalence.__new__()", new_params, 3};

PyObject* tec_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(new_sig, args, kwargs);
        std::vector<Point> pattern = convert_arg("pattern", [&] { return to_points(a[0]); });
        std::vector<Vector> translators = convert_arg("translators", [&] { return to_vector_set(a[1]); });
        std::vector<TecPtr> subs = convert_arg("sub_tecs", [&] { return to_sub_tecs(a[2]); });
        Tec tec = make_tec(std::move(pattern), std::move(translators), std::move(subs));
        return new_instance(type, std::make_shared<const Tec>(std::move(tec))).release();
    });
}

void tec_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<TecObject*>(self)->tec.~TecPtr();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* tec_repr(PyObject* self) noexcept {
    return guard([&]() -> PyObject* {
        const std::string text = repr(record(self));
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* get_pattern(PyObject* self, void*) noexcept {
    return guard([&] { return point_list(record(self).pattern).release(); });
}
PyObject* get_translators(PyObject* self, void*) noexcept {
    return guard([&] { return vector_set(record(self).translators.to_vector()).release(); });
}
PyObject* get_sub_tecs(PyObject* self, void*) noexcept {
    return guard([&]() -> PyObject* {
        const auto& subs = record(self).sub_tecs;
        PyTypeObject* type = Py_TYPE(self);
        Ref list = check(PyList_New(static_cast<Py_ssize_t>(subs.size())));
        for (std::size_t i = 0; i < subs.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_instance(type, subs[i]).release());
        }
        return list.release();
    });
}
PyObject* get_coverage(PyObject* self, void*) noexcept {
    return guard([&] { return point_set(coverage(record(self))).release(); });
}
PyObject* get_compression_ratio(PyObject* self, void*) noexcept {
    return guard([&] { return PyFloat_FromDouble(compression_ratio(record(self))); });
}

constexpr const char* compactness_params[] = {"points"};
constexpr Signature compactness_sig{"TranslationalEquivalence.compactness()", compactness_params, 1};

PyObject* tec_compactness(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(compactness_sig, args, nargs, kwnames);
        const std::vector<Point> points = convert_arg("points", [&] { return to_point_set(a[0]); });
        return PyFloat_FromDouble(compactness(record(self), points));
    });
}

constexpr const char* summary_params[] = {"indent"};
constexpr Signature summary_sig{"TranslationalEquivalence.summary()", summary_params, 0};

PyObject* tec_summary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(summary_sig, args, nargs, kwnames);
        const std::uint64_t indent = a[0] ? convert_arg("indent", [&] { return to_u64(a[0]); }) : 0;
        const std::string text = summary(record(self), indent);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyGetSetDef tec_getset[] = {
    {"pattern", get_pattern, nullptr, doc::pattern, nullptr},
    {"translators", get_translators, nullptr, doc::translators, nullptr},
    {"sub_tecs", get_sub_tecs, nullptr, doc::sub_tecs, nullptr},
    {"coverage", get_coverage, nullptr, doc::coverage, nullptr},
    {"compression_ratio", get_compression_ratio, nullptr, doc::compression_ratio, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef tec_methods[] = {
    {"compactness", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tec_compactness)),
     METH_FASTCALL | METH_KEYWORDS, doc::compactness},
    {"summary", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tec_summary)), METH_FASTCALL | METH_KEYWORDS,
     doc::summary},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot tec_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc::type)},
    {Py_tp_new, reinterpret_cast<void*>(tec_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tec_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(tec_repr)},
    {Py_tp_getset, tec_getset},
    {Py_tp_methods, tec_methods},
    {0, nullptr},
};

// Not a base type, not collected (instances hold no Python references), no __dict__,
// no weak references.
PyType_Spec tec_spec = {
    "motivra.sia_family._core.TranslationalEquivalence", sizeof(TecObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,       tec_slots,
};

// ---- the module functions -------------------------------------------------------

constexpr const char* two_params[] = {"dataset", "restrict_dpitch_zero"};
constexpr const char* cosiatec_params[] = {"dataset", "restrict_dpitch_zero", "sweepline_optimization"};
constexpr const char* recursive_params[] = {"dataset", "restrict_dpitch_zero", "min_pattern_size",
                                            "sweepline_optimization"};

std::vector<Point> dataset_arg(const Bound& a) {
    return convert_arg("dataset", [&] { return to_points(a[0]); });
}
bool bool_arg(const Bound& a, std::size_t at, const char* name, bool fallback) {
    return a[at] ? convert_arg(name, [&] { return to_bool(a[at]); }) : fallback;
}

// Pauses the cyclic collector while a large result is built: the new lists cannot form
// cycles, and a collection every few hundred of them would traverse the whole result
// again and again.
class GcPause {
public:
    GcPause() noexcept : m_was_enabled(PyGC_Disable() != 0) {}
    ~GcPause() {
        if (m_was_enabled) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool m_was_enabled;
};

// The MTP map as a dict; each distinct Point's tuple is built once and shared by the
// lists that hold it.
Ref mtp_dict(const MtpTable& table) {
    const GcPause pause;
    std::vector<Ref> tuples;
    tuples.reserve(table.points().size());
    for (const Point& p : table.points()) tuples.push_back(point_tuple(p));
    // Sized for every key at once: no rehashing while it fills.
    Ref dict = check(_PyDict_NewPresized(static_cast<Py_ssize_t>(table.size())));
    // The keys come in runs of one dtick (each half is ascending), so runs share one int.
    Ref dtick;
    std::int32_t last = 0;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const ListView origins = table.origins(k);  // read in every storage mode
        Ref list = check(PyList_New(static_cast<Py_ssize_t>(origins.size())));
        for (std::size_t i = 0; i < origins.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(tuples[origins[i]].get()));
        }
        const Vector v = table.vector(k);
        if (!dtick || v.dtick != last) {
            dtick = check(PyLong_FromLong(v.dtick));
            last = v.dtick;
        }
        Ref key = check(PyTuple_New(2));
        PyTuple_SET_ITEM(key.get(), 0, Py_NewRef(dtick.get()));
        PyTuple_SET_ITEM(key.get(), 1, check(PyLong_FromLong(v.dpitch)).release());
        check(PyDict_SetItem(dict.get(), key.get(), list.get()));
    }
    return dict;
}

constexpr Signature find_mtps_sig{"find_mtps()", two_params, 1};
PyObject* py_find_mtps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(find_mtps_sig, args, nargs, kwnames);
        std::vector<Point> dataset = dataset_arg(a);
        const bool restrict_dpitch_zero = bool_arg(a, 1, "restrict_dpitch_zero", false);
        const MtpTable table = sia_table(dataset, restrict_dpitch_zero);
        std::vector<Point>().swap(dataset);
        return mtp_dict(table).release();
    });
}

// The three entries that take (dataset, restrict_dpitch_zero) and return records.
template <std::vector<Tec> (*build)(std::span<const Point>, bool)>
PyObject* py_builder(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(sig, args, nargs, kwnames);
        std::vector<Point> dataset = dataset_arg(a);
        const bool restrict_dpitch_zero = bool_arg(a, 1, "restrict_dpitch_zero", false);
        std::vector<Tec> records = build(dataset, restrict_dpitch_zero);
        std::vector<Point>().swap(dataset);
        return tec_list(std::move(records)).release();
    });
}

constexpr Signature siatec_sig{"build_tecs_from_mtps()", two_params, 1};
PyObject* py_build_tecs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return py_builder<build_tecs_from_mtps>(siatec_sig, args, nargs, kwnames);
}

constexpr Signature sweepline_sig{"build_tecs_from_mtps_sweepline()", two_params, 1};
PyObject* py_build_tecs_sweepline(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return py_builder<sweepline::build_tecs_from_mtps>(sweepline_sig, args, nargs, kwnames);
}

constexpr Signature cosiatec_sig{"cosiatec_compress()", cosiatec_params, 1};
PyObject* py_cosiatec(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(cosiatec_sig, args, nargs, kwnames);
        std::vector<Point> dataset = dataset_arg(a);
        const bool restrict_dpitch_zero = bool_arg(a, 1, "restrict_dpitch_zero", false);
        const bool sweepline_optimization = bool_arg(a, 2, "sweepline_optimization", true);
        std::vector<Tec> records = cosiatec_compress(dataset, restrict_dpitch_zero, sweepline_optimization);
        std::vector<Point>().swap(dataset);
        return tec_list(std::move(records)).release();
    });
}

constexpr Signature recursive_sig{"recursive_cosiatec_compress()", recursive_params, 1};
PyObject* py_recursive(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> PyObject* {
        const Bound a = bind(recursive_sig, args, nargs, kwnames);
        std::vector<Point> dataset = dataset_arg(a);
        const bool restrict_dpitch_zero = bool_arg(a, 1, "restrict_dpitch_zero", false);
        const std::uint64_t min_pattern_size = a[2] ? convert_arg("min_pattern_size", [&] { return to_u64(a[2]); }) : 2;
        const bool sweepline_optimization = bool_arg(a, 3, "sweepline_optimization", true);
        std::vector<Tec> records = recursive_cosiatec_compress(
            dataset, restrict_dpitch_zero, static_cast<std::size_t>(min_pattern_size), sweepline_optimization);
        std::vector<Point>().swap(dataset);
        return tec_list(std::move(records)).release();
    });
}

template <class F>
PyCFunction fastcall(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace

PyMethodDef module_functions[] = {
    {"find_mtps", fastcall(py_find_mtps), METH_FASTCALL | METH_KEYWORDS, doc::find_mtps},
    {"build_tecs_from_mtps", fastcall(py_build_tecs), METH_FASTCALL | METH_KEYWORDS, doc::build_tecs_from_mtps},
    {"cosiatec_compress", fastcall(py_cosiatec), METH_FASTCALL | METH_KEYWORDS, doc::cosiatec_compress},
    {"recursive_cosiatec_compress", fastcall(py_recursive), METH_FASTCALL | METH_KEYWORDS,
     doc::recursive_cosiatec_compress},
    {"build_tecs_from_mtps_sweepline", fastcall(py_build_tecs_sweepline), METH_FASTCALL | METH_KEYWORDS,
     doc::build_tecs_from_mtps_sweepline},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* tec_type() noexcept {
    // Created once for the process, then only read.
    static PyObject* type = nullptr;
    if (!type) type = PyType_FromSpec(&tec_spec);
    return type;
}

}  // namespace motivra::sia::py
