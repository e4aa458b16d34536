// An owned reference to a Python object, for the `_objects` extension's
// sources (built against the stable ABI of 3.10; Python.h is included by the
// source before this header).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon_py {

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* p) : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.release()) {}
    Ref& operator=(Ref&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(PyObject* p = nullptr) {
        PyObject* old = p_;
        p_ = p;
        Py_XDECREF(old);
    }

private:
    PyObject* p_ = nullptr;
};

inline Ref none() {
    Py_INCREF(Py_None);
    return Ref(Py_None);
}

inline Ref borrowed(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
}

// An HTTP answer's status and body bytes as the entries take them. False
// with a Python error set when they are not an int and bytes; `status` is
// nothing when it is no HTTP status (the answer is then left to the engine).
// The body stays the caller's: bytes are immutable and held by the caller.
struct Answer {
    std::optional<std::uint16_t> status;
    std::string_view body;
};
inline bool answer_of(PyObject* status_arg, PyObject* body_arg, Answer& out) {
    const long status = PyLong_AsLong(status_arg);
    if (status == -1 && PyErr_Occurred()) return false;
    char* body = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(body_arg, &body, &size) < 0) return false;
    out.body = std::string_view(body, static_cast<std::size_t>(size));
    if (status >= 0 && status <= 0xFFFF) out.status = static_cast<std::uint16_t>(status);
    return true;
}

}  // namespace quillon_py
