// What the `_objects` module keeps, in the state of each module object: the
// result classes and value types bound from Python (`bind`), the names their
// fields are set by, and the `Columns` type. Every interpreter that imports
// the module gets a module object, and so a state, of its own; nothing lives
// in the process. Python.h is included by the source before this header.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <type_traits>

#include "quillon_accounts/result_fields.hpp"
#include "quillon_accounts/results.hpp"

namespace quillon_py {

namespace model = quillon_accounts::model;

// The result classes, in the order of their slots in the state; each one's
// name and fields come from its record's field table (result_fields.hpp).
template <class... Rs>
struct RecordList {
    static constexpr int count = sizeof...(Rs);
    static constexpr std::size_t most_fields = std::max({model::field_count<Rs>...});

    // The position of R in the list.
    template <class R>
    static constexpr int index() {
        int i = 0, found = -1;
        ((std::is_same_v<R, Rs> ? (found = i, ++i) : ++i), ...);
        return found;
    }

    // Calls `f(position, name, field names)` for each class.
    template <class F>
    static void each(F&& f) {
        int i = 0;
        (f(i++, model::Fields<Rs>::name, model::field_names<Rs>()), ...);
    }
};

using Results = RecordList<model::Account, model::MerchantAccount, model::Establishment, model::MerchantAccounts,
                           model::CreatedAccounts, model::StatusChanged, model::Party, model::Movement,
                           model::Balance, model::Reconciliation>;
constexpr int kind_count = Results::count;

// A set of result classes, one bit per position in `Results`.
using Kinds = unsigned;
static_assert(kind_count <= static_cast<int>(sizeof(Kinds) * 8));

// R and every record class reachable through its fields.
template <model::ResultRecord R>
constexpr Kinds kinds_of() {
    Kinds kinds = Kinds{1} << Results::index<R>();
    model::for_each_field<R>([&](const auto& f) {
        using T = typename std::remove_cvref_t<decltype(f)>::Type;
        if constexpr (model::IsVector<T>::value) {
            kinds |= kinds_of<typename model::IsVector<T>::Element>();
        } else if constexpr (model::ResultRecord<T>) {
            kinds |= kinds_of<T>();
        }
    });
    return kinds;
}

constexpr int ACCOUNT_STATUSES = 5;
constexpr int PAYMENT_STATUSES = 9;

// One result class as `bind` found it: the instances are made by its own
// allocator (`make`, its `__new__`) with `__init__` left out, which gives
// the same object only while `__init__` is the one seen here.
struct BoundClass {
    PyObject* type;
    PyObject* init;
    newfunc make;
};

// What `bind` sets, replaced as a whole or not at all.
struct Binding {
    PyObject* decimal;
    PyObject* account_status[ACCOUNT_STATUSES];
    PyObject* payment_status[PAYMENT_STATUSES];
    BoundClass classes[kind_count];
};

// Zeroed by the interpreter before the module's exec step runs.
struct State {
    bool bound;
    Binding binding;
    PyObject* columns_type;
    PyObject* empty_args;
    PyObject* init_name;       // "__init__", interned
    PyObject* post_init_name;  // "__post_init__", interned
    PyObject* mro_name;        // "__mro__", interned
    PyObject* dict_name;       // "__dict__", interned
    PyObject* field_names[kind_count][Results::most_fields];  // interned
};

// The state of an `_objects` module object; null before its exec step.
State* state_of(PyObject* module);

// True when every class in `kinds` still makes its instances as when it was
// bound: the same `__new__` and `__init__`, and no `__post_init__` added
// since (a dataclass calls one only if it had it when decorated, but a class
// that has one is left to the engine's call all the same). False, perhaps
// with a Python error set, otherwise; the caller then leaves the answer to
// the call path.
bool still_bound(const State& state, Kinds kinds);

// bind(decimal, account_status, payment_status, classes) -> bool
PyObject* bind_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// The module's collector support.
int traverse_state(PyObject* module, visitproc visit, void* arg);
int clear_state(PyObject* module);
// Fills in what the state holds from the start; -1 with an error set.
int init_state(PyObject* module);

}  // namespace quillon_py
