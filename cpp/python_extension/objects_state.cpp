// The `_objects` module's state: `bind`, which sets the result classes and
// value types all at once or leaves the state as it was; the check, run on
// every call, that the bound classes still make their instances as they did;
// and the collector's view of the state.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

#include "objects_state.hpp"
#include "py_ref.hpp"
#include "quillon_accounts/account_status.hpp"
#include "quillon_core/status.hpp"

namespace quillon_py {

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

namespace {

// Calls `f(slot)` for each object reference the binding holds.
template <class F>
void each_ref(Binding& b, F&& f) {
    f(b.decimal);
    for (PyObject*& member : b.account_status) f(member);
    for (PyObject*& member : b.payment_status) f(member);
    for (BoundClass& cls : b.classes) {
        f(cls.type);
        f(cls.init);
    }
}

void release(Binding& b) {
    each_ref(b, [](PyObject*& slot) { Py_CLEAR(slot); });
}

// A binding that releases what it holds unless it is handed over.
class NewBinding {
public:
    NewBinding() = default;
    ~NewBinding() { release(b_); }
    NewBinding(const NewBinding&) = delete;
    NewBinding& operator=(const NewBinding&) = delete;
    Binding& get() { return b_; }

private:
    Binding b_{};
};

int bind_statuses(PyObject* cls, PyObject** out, int count, std::string_view (*word)(int)) {
    for (int i = 0; i < count; ++i) {
        const std::string_view w = word(i);
        Ref text(PyUnicode_FromStringAndSize(w.data(), static_cast<Py_ssize_t>(w.size())));
        if (!text) return -1;
        out[i] = PyObject_CallFunctionObjArgs(cls, text.get(), nullptr);
        if (out[i] == nullptr) return -1;
    }
    return 0;
}

int bind_class(const State& state, PyObject* classes, std::string_view name, BoundClass& out) {
    const std::string key(name);
    PyObject* cls = PyDict_GetItemString(classes, key.c_str());  // borrowed
    if (cls == nullptr || !PyType_Check(cls)) {
        PyErr_Format(PyExc_TypeError, "bind(): no class for %s", key.c_str());
        return -1;
    }
    out.make = reinterpret_cast<newfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(cls), Py_tp_new));
    if (out.make == nullptr) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "bind(): %s cannot be made", key.c_str());
        return -1;
    }
    Py_INCREF(cls);
    out.type = cls;
    out.init = PyObject_GetAttr(cls, state.init_name);
    return out.init == nullptr ? -1 : 0;
}

// 1 when a class in the MRO of `type` (other than `object`, which cannot
// change) has `name` in its own dictionary, 0 when none has, -1 (perhaps
// with an error set) when that cannot be told. Cheaper than a failed
// attribute lookup, which makes an exception.
int defines(const State& state, PyObject* type, PyObject* name) {
    Ref mro(PyObject_GetAttr(type, state.mro_name));
    if (!mro || !PyTuple_Check(mro.get())) return -1;
    const Py_ssize_t n = PyTuple_Size(mro.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* base = PyTuple_GetItem(mro.get(), i);  // borrowed
        if (base == reinterpret_cast<PyObject*>(&PyBaseObject_Type)) continue;
        Ref dict(PyObject_GetAttr(base, state.dict_name));
        if (!dict) return -1;
        const int found = PySequence_Contains(dict.get(), name);
        if (found != 0) return found;
    }
    return 0;
}

}  // namespace

bool still_bound(const State& state, Kinds kinds) {
    for (int k = 0; k < kind_count; ++k) {
        if ((kinds & (Kinds{1} << k)) == 0) continue;
        const BoundClass& cls = state.binding.classes[k];
        auto* type = reinterpret_cast<PyTypeObject*>(cls.type);
        if (reinterpret_cast<newfunc>(PyType_GetSlot(type, Py_tp_new)) != cls.make) return false;
        Ref init(PyObject_GetAttr(cls.type, state.init_name));
        if (init.get() != cls.init) return false;
        if (defines(state, cls.type, state.post_init_name) != 0) return false;
    }
    return true;
}

// bind(decimal, account_status, payment_status, classes): the types the
// results are made of; `classes` maps each result class's name to the class.
// All of it is bound, or (with the error raised) none of it: a failed bind
// leaves what an earlier one set.
PyObject* bind_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4 || !PyDict_Check(args[3])) {
        PyErr_SetString(PyExc_TypeError, "bind(decimal, account_status, payment_status, classes: dict)");
        return nullptr;
    }
    State* state = state_of(module);
    if (state == nullptr) return nullptr;
    NewBinding fresh;
    Binding& b = fresh.get();
    Py_INCREF(args[0]);
    b.decimal = args[0];
    const auto account_word = [](int i) {
        return model::AccountStatus(static_cast<model::AccountStatus::Value>(i)).word();
    };
    const auto payment_word = [](int i) {
        return quillon_core::status::word(static_cast<quillon_core::status::PaymentStatus>(i));
    };
    if (bind_statuses(args[1], b.account_status, ACCOUNT_STATUSES, account_word) < 0 ||
        bind_statuses(args[2], b.payment_status, PAYMENT_STATUSES, payment_word) < 0) {
        return nullptr;
    }
    int failed = 0;
    Results::each([&](int k, std::string_view name, const auto&) {
        if (failed == 0) failed = bind_class(*state, args[3], name, b.classes[k]);
    });
    if (failed < 0) return nullptr;
    // Handed over whole: the old binding is released with `fresh`.
    std::swap(state->binding, b);
    state->bound = true;
    Py_RETURN_TRUE;
}

int traverse_state(PyObject* module, visitproc visit, void* arg) {
    State* state = state_of(module);
    if (state == nullptr) return 0;
    int rc = 0;
    each_ref(state->binding, [&](PyObject*& slot) {
        if (rc == 0 && slot != nullptr) rc = visit(slot, arg);
    });
    if (rc != 0) return rc;
    Py_VISIT(state->columns_type);
    return 0;
}

int clear_state(PyObject* module) {
    State* state = state_of(module);
    if (state == nullptr) return 0;
    state->bound = false;
    release(state->binding);
    Py_CLEAR(state->columns_type);
    Py_CLEAR(state->empty_args);
    Py_CLEAR(state->init_name);
    Py_CLEAR(state->post_init_name);
    Py_CLEAR(state->mro_name);
    Py_CLEAR(state->dict_name);
    for (auto& names : state->field_names) {
        for (PyObject*& name : names) Py_CLEAR(name);
    }
    return 0;
}

int init_state(PyObject* module) {
    State* state = state_of(module);
    if (state == nullptr) return -1;
    if ((state->empty_args = PyTuple_New(0)) == nullptr ||
        (state->init_name = PyUnicode_InternFromString("__init__")) == nullptr ||
        (state->post_init_name = PyUnicode_InternFromString("__post_init__")) == nullptr ||
        (state->mro_name = PyUnicode_InternFromString("__mro__")) == nullptr ||
        (state->dict_name = PyUnicode_InternFromString("__dict__")) == nullptr) {
        return -1;
    }
    int failed = 0;
    Results::each([&](int k, std::string_view, const auto& fields) {
        for (std::size_t i = 0; i < fields.size() && failed == 0; ++i) {
            PyObject* name = PyUnicode_InternFromString(std::string(fields[i]).c_str());
            if (name == nullptr) failed = -1;
            state->field_names[k][i] = name;
        }
    });
    return failed;
}

}  // namespace quillon_py
