// Owned references and the error convention of the binding layer.
//
// A raw PyObject* is always borrowed; an owned reference is always a Ref. C++ code
// throws ErrorSet only after setting the Python error indicator, and every entry point
// the interpreter calls runs its body through guard(), which turns every C++ exception
// into a Python exception.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cassert>
#include <exception>
#include <new>
#include <utility>

namespace motivra::sia::py {

class Ref {  // owns one strong reference, or none
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(Ref&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        Py_XSETREF(m_p, std::exchange(o.m_p, nullptr));
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(m_p); }
    [[nodiscard]] PyObject* get() const noexcept { return m_p; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(m_p, nullptr); }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : m_p(p) {}
    PyObject* m_p = nullptr;
};

// Thrown only while the Python error indicator is set.
struct ErrorSet {};

inline Ref check(PyObject* p) {
    if (!p) throw ErrorSet{};
    return Ref::steal(p);
}
inline int check(int status) {
    if (status < 0) throw ErrorSet{};
    return status;
}
[[noreturn]] inline void raise(PyObject* type, const char* text) {
    PyErr_SetString(type, text);
    throw ErrorSet{};
}

// The process-wide PanicException type (a BaseException), created at first import.
PyObject* panic_type() noexcept;

template <class F>
PyObject* guard(F&& body) noexcept {
    PyObject* result = nullptr;
    try {
        result = body();
    } catch (const ErrorSet&) {
        result = nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(panic_type(), e.what());
    } catch (...) {
        PyErr_SetString(panic_type(), "unknown internal failure");
    }
    assert((result == nullptr) == (PyErr_Occurred() != nullptr));
    return result;
}

}  // namespace motivra::sia::py
