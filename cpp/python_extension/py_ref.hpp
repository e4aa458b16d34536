// An owned reference to a Python object, for the `_objects` extension's
// sources (built against the stable ABI of 3.10; Python.h is included by the
// source before this header).
#pragma once

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

}  // namespace quillon_py
