// The extension module `quillon.accounts._objects`: the gateway's answer to
// an accounts operation turned straight into the package's result objects,
// each record built as soon as it is decoded and converted, with no JSON
// text in between.
//
// It relies on these engine entry points alone: `CodeData::open_list` (over a
// status and body view) with a `ListSink` and `CodeData::open`
// (quillon_core/envelope.hpp), the gateway
// records' `wire::decode` and `model::convert` (quillon_accounts/
// gateway_records.hpp, conversion.hpp), `amount::append_text` and the status words. The values
// are those the engine's "parse" stage writes; `parse` answers None for
// anything it does not turn into a result (a failed answer, a body that does
// not decode, a payload of another shape), and the caller then runs the
// engine's `call`, whose answer is the one that counts.
//
// What it keeps (the bound classes, the `Columns` type) lives in the state of
// each module object (objects_state.hpp), so every interpreter that imports
// it has its own. Each call first checks that the classes it would make still
// make their instances as when they were bound, and otherwise answers None.
//
// Built against the stable ABI of 3.10, like `_native`.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "columns.hpp"
#include "objects_state.hpp"
#include "py_ref.hpp"
#include "quillon_accounts/conversion.hpp"
#include "quillon_accounts/gateway_records.hpp"
#include "quillon_accounts/registry.hpp"
#include "quillon_accounts/result_fields.hpp"
#include "quillon_accounts/results.hpp"
#include "quillon_core/amount.hpp"
#include "quillon_core/envelope.hpp"
#include "quillon_core/http.hpp"
#include "quillon_core/status.hpp"

namespace {

namespace model = quillon_accounts::model;
namespace wire = quillon_accounts::wire;
using quillon_core::envelope::CodeData;
using quillon_core::http::HttpResponse;
using quillon_core::json::Node;

using quillon_accounts::OpId;
using quillon_py::ACCOUNT_STATUSES;
using quillon_py::borrowed;
using quillon_py::BoundClass;
using quillon_py::kinds_of;
using quillon_py::none;
using quillon_py::PAYMENT_STATUSES;
using quillon_py::Ref;
using quillon_py::Results;
using quillon_py::State;
using quillon_py::state_of;
using quillon_py::still_bound;

// ---------------------------------------------------------------------------
// Records

// A new instance of a result class with its fields set in order. The
// instance is made by the class's own allocator and its fields are stored
// the way `object.__setattr__` stores them, which is how a frozen
// dataclass's `__init__` sets them too. It stays tracked by the collector
// when any of its values is (a status enum, a nested record, a list), so that
// a reference cycle through it is found; one that holds only untracked atoms
// (texts, numbers, amounts, None: a party) is untracked, as CPython does with
// tuples of atoms. Records are frozen: only `object.__setattr__`, going round
// that, could give such a record a reference the collector would not follow.
template <std::size_t N>
Ref make(const State& st, int kind, std::array<Ref, N>& values) {
    const BoundClass& cls = st.binding.classes[kind];
    for (Ref& v : values) {
        if (!v) return Ref();
    }
    Ref obj(cls.make(reinterpret_cast<PyTypeObject*>(cls.type), st.empty_args, nullptr));
    if (!obj) return Ref();
    bool holds_tracked = false;
    for (std::size_t i = 0; i < N; ++i) {
        if (PyObject_GenericSetAttr(obj.get(), st.field_names[kind][i], values[i].get()) < 0) return Ref();
        holds_tracked = holds_tracked || PyObject_GC_IsTracked(values[i].get());
    }
    if (!holds_tracked) PyObject_GC_UnTrack(obj.get());
    return obj;
}

// ---------------------------------------------------------------------------
// Values

// Values that repeat across the records of one answer (status words,
// currency, bank and person names, messages, small amounts) are made once and
// shared while they keep coming; texts and decimals are immutable, so sharing
// changes no value. A small table with one place per hash: a value that
// lands on a taken place replaces what was there.
class Shared {
public:
    Shared() : slots_(SLOTS) {}
    ~Shared() {
        for (Slot& slot : slots_) Py_XDECREF(slot.value);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    // The object kept for `key`, made by `make(key)` when there is none.
    template <class Make>
    Ref get(std::string_view key, Make&& make) {
        if (key.size() > LONGEST) return make(key);
        Slot& slot = slots_[hash(key) & (SLOTS - 1)];
        if (slot.value != nullptr && slot.key == key) return borrowed(slot.value);
        Ref out = make(key);
        if (out) {
            slot.key.assign(key);
            Py_INCREF(out.get());
            PyObject* old = slot.value;
            slot.value = out.get();
            Py_XDECREF(old);
        }
        return out;
    }

private:
    struct Slot {
        std::string key;
        PyObject* value = nullptr;
    };
    static constexpr std::size_t SLOTS = 1024;  // a power of two
    static constexpr std::size_t LONGEST = 48;

    static std::size_t hash(std::string_view key) {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (const char c : key) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

    std::vector<Slot> slots_;
};

// A str of UTF-8 text; fails (with a Python error set) on text that is not
// UTF-8.
Ref fresh_text(std::string_view s) {
    return Ref(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr));
}

// A Decimal (of the type `decimal`) from its plain decimal text.
Ref fresh_decimal(PyObject* decimal, std::string_view s) {
    Ref text = fresh_text(s);
    if (!text) return Ref();
    return Ref(PyObject_CallFunctionObjArgs(decimal, text.get(), nullptr));
}

// The values of the records of one answer; those of a list's records are
// shared (see `Shared`), a single record's are not worth a table.
class Values {
public:
    Values(const State& st, bool share) : st_(st), share_(share) {}

    // From now on, values are shared.
    void share() {
        if (share_) return;
        share_ = true;
        texts_.emplace();
        decimals_.emplace();
    }

    static Ref text(const std::string& s) { return fresh_text(s); }
    static Ref text(const std::optional<std::string>& s) { return s ? fresh_text(*s) : none(); }
    Ref shared(const std::string& s) { return share_ ? texts_->get(s, fresh_text) : fresh_text(s); }
    Ref shared(const std::optional<std::string>& s) { return s ? shared(*s) : none(); }

    Ref decimal(const quillon_core::amount::Amount& a) {
        scratch_.clear();
        quillon_core::amount::append_text(a, scratch_);
        PyObject* type = st_.binding.decimal;
        const auto fresh = [type](std::string_view s) { return fresh_decimal(type, s); };
        return share_ ? decimals_->get(scratch_, fresh) : fresh(scratch_);
    }
    Ref decimal(const std::optional<quillon_core::amount::Amount>& a) {
        return a ? decimal(*a) : none();
    }

    Ref status(model::AccountStatus s) const {
        const int i = static_cast<int>(static_cast<model::AccountStatus::Value>(s));
        return borrowed(st_.binding.account_status[i < ACCOUNT_STATUSES ? i : ACCOUNT_STATUSES - 1]);
    }
    Ref status(quillon_core::status::PaymentStatus s) const {
        const int i = static_cast<int>(s);
        return borrowed(st_.binding.payment_status[i < PAYMENT_STATUSES ? i : PAYMENT_STATUSES - 1]);
    }

private:
    const State& st_;
    bool share_;
    std::optional<Shared> texts_ = share_ ? std::make_optional<Shared>() : std::nullopt;
    std::optional<Shared> decimals_ = share_ ? std::make_optional<Shared>() : std::nullopt;
    std::string scratch_;
};

Ref number(std::uint64_t n) { return Ref(PyLong_FromUnsignedLongLong(n)); }
Ref number(const std::optional<std::uint64_t>& n) { return n ? number(*n) : none(); }

// ---------------------------------------------------------------------------
// Records

class Builder {
public:
    Builder(const State& st, bool lists) : st_(st), values_(st, lists) {}
    void share() { values_.share(); }

    // A record with its fields in the order of its table, each value made
    // as its kind and hint say.
    template <model::ResultRecord R>
    Ref of(const R& r) {
        std::array<Ref, model::field_count<R>> values;
        std::size_t i = 0;
        model::for_each_field<R>([&](const auto& f) {
            if (i == 0 || values[i - 1]) values[i] = value(f, f.get(r));
            ++i;
        });
        return make(st_, Results::index<R>(), values);
    }

    // A tuple of the records of a list node of W (no node: an empty tuple),
    // each decoded, converted and built in turn; nothing when one fails.
    template <class W>
    Ref tuple_of(const Node* list) {
        if (list == nullptr) return Ref(PyTuple_New(0));
        if (!list->is_array()) return Ref();
        Ref out(PyTuple_New(static_cast<Py_ssize_t>(list->items().size())));
        if (!out) return Ref();
        Py_ssize_t i = 0;
        W record;
        for (const Node& item : list->items()) {
            if (!wire::decode(item, record)) return Ref();
            Ref built = of(model::convert(std::move(record)));
            if (!built) return Ref();
            PyTuple_SetItem(out.get(), i++, built.release());  // steals
        }
        return out;
    }

    template <class T>
    Ref tuple(const std::vector<T>& items) {
        Ref out(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
        if (!out) return Ref();
        for (std::size_t i = 0; i < items.size(); ++i) {
            Ref item = of(items[i]);
            if (!item) return Ref();
            PyTuple_SetItem(out.get(), static_cast<Py_ssize_t>(i), item.release());  // steals
        }
        return out;
    }

private:
    template <class F>
    static bool shares(const F& f) {
        return f.hint == model::Hint::repeats || f.hint == model::Hint::category;
    }
    template <class F>
    Ref value(const F& f, const std::string& s) {
        return shares(f) ? values_.shared(s) : Values::text(s);
    }
    template <class F>
    Ref value(const F& f, const std::optional<std::string>& s) {
        return shares(f) ? values_.shared(s) : Values::text(s);
    }
    template <class F>
    Ref value(const F&, const quillon_core::amount::Amount& a) {
        return values_.decimal(a);
    }
    template <class F>
    Ref value(const F&, const std::optional<quillon_core::amount::Amount>& a) {
        return values_.decimal(a);
    }
    template <class F>
    Ref value(const F&, std::uint64_t n) {
        return number(n);
    }
    template <class F>
    Ref value(const F&, const std::optional<std::uint64_t>& n) {
        return number(n);
    }
    template <class F>
    Ref value(const F&, model::AccountStatus s) {
        return values_.status(s);
    }
    template <class F>
    Ref value(const F&, quillon_core::status::PaymentStatus s) {
        return values_.status(s);
    }
    template <class F, model::ResultRecord R>
    Ref value(const F&, const R& r) {
        return of(r);
    }
    template <class F, class T>
    Ref value(const F&, const std::vector<T>& items) {
        return tuple(items);
    }

private:
    const State& st_;
    Values values_;
};

// ---------------------------------------------------------------------------
// Opening the answer

// Builds each element of a list payload as it is read. A Python error while
// building stops the building (the rest of the body is still read by the
// engine, and the whole answer is then given up).
template <class W>
class ListBuilder final : public quillon_core::envelope::ListSink {
public:
    explicit ListBuilder(const State& st) : list_(PyList_New(0)), builder_(st, false) {}

    quillon_core::error::Result<void> element(const Node& item) override {
        if (!list_) return {};
        if (auto read = wire::decode(item, record_); !read) return read;
        Ref obj = builder_.of(model::convert(std::move(record_)));
        if (!obj || PyList_Append(list_.get(), obj.get()) < 0) list_.reset();
        // A second record makes a list whose values may repeat.
        if (++count_ == 1) builder_.share();
        return {};
    }

    Ref finish() { return std::move(list_); }

private:
    Ref list_;
    W record_;
    Builder builder_;
    std::size_t count_ = 0;
};

// The result record a gateway record W converts to.
template <class W>
using ResultOf = std::remove_cvref_t<decltype(model::convert(std::declval<W&&>()))>;

// The body is read where Python holds it: a long list's body is never copied.
template <class W>
Ref open_list(const State& st, std::uint16_t status, std::string_view body) {
    if (!still_bound(st, kinds_of<ResultOf<W>>())) return Ref();
    ListBuilder<W> sink(st);
    const auto opened = CodeData::open_list(status, body, sink);
    if (!opened || !opened.value()) return Ref();
    return sink.finish();
}

template <class W>
Ref open_record(const State& st, std::uint16_t status, std::string_view body) {
    if (!still_bound(st, kinds_of<ResultOf<W>>())) return Ref();
    auto wire = CodeData::open<W>(HttpResponse{status, std::string(body)});
    if (!wire) return Ref();
    Builder builder(st, false);
    return builder.of(model::convert(std::move(wire).value()));
}

// A reconciliation built list by list straight from the payload's nodes: an
// object with "movimientos" and "saldos" (each optional), or an array of the
// two lists. Anything else is left to the engine.
Ref open_reconciliation(const State& st, std::uint16_t status, std::string_view body) {
    if (!still_bound(st, kinds_of<model::Reconciliation>())) return Ref();
    Builder builder(st, true);
    // What does not build is given up: its error is never seen.
    const auto given_up = [] { return quillon_core::error::Error::decode({}); };
    auto built = CodeData::open_with<Ref>(HttpResponse{status, std::string(body)},
                                          [&](const Node& node) -> quillon_core::error::Result<Ref> {
        const Node* lists[2] = {nullptr, nullptr};
        if (node.is_object()) {
            lists[0] = node.find("movimientos");
            lists[1] = node.find("saldos");
        } else if (node.is_array() && node.items().size() <= 2) {
            for (std::size_t i = 0; i < node.items().size(); ++i) lists[i] = &node.items()[i];
        } else {
            return given_up();
        }
        Ref movements = builder.tuple_of<wire::WMovement>(lists[0]);
        Ref balances = builder.tuple_of<wire::WBalance>(lists[1]);
        if (!movements || !balances) return given_up();
        std::array<Ref, 2> values = {std::move(movements), std::move(balances)};
        return make(st, Results::index<model::Reconciliation>(), values);
    });
    if (!built) return Ref();
    return std::move(built).value();
}

// The result of `op` from the answer, or nothing (perhaps with an error set,
// which the caller clears) when the answer is left to the engine's `call`.
Ref open(const State& st, OpId op, std::uint16_t status, std::string_view body) {
    switch (op) {
        case OpId::debits:
        case OpId::credits:
            return open_list<wire::WMovement>(st, status, body);
        case OpId::reconcile:
            return open_reconciliation(st, status, body);
        case OpId::balances:
            return open_list<wire::WBalance>(st, status, body);
        case OpId::get:
            return open_record<wire::Detail>(st, status, body);
        case OpId::list:
            return open_record<wire::List>(st, status, body);
        case OpId::create:
            return open_record<wire::Created>(st, status, body);
        case OpId::set_status:
            return open_list<wire::Changed>(st, status, body);
    }
    return Ref();
}

// Turns the collector off while many objects are made at once (each record
// made would otherwise count towards collections that look at the records
// made so far, none of which can be garbage yet), and back on as it was.
class CollectorPaused {
public:
    CollectorPaused() : was_on_(PyGC_Disable()) {}
    ~CollectorPaused() {
        if (was_on_ > 0) PyGC_Enable();
    }
    CollectorPaused(const CollectorPaused&) = delete;
    CollectorPaused& operator=(const CollectorPaused&) = delete;

private:
    int was_on_;
};

// ---------------------------------------------------------------------------
// Entries

// parse(op, status, body) -> result | None
PyObject* parse_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) {
        PyErr_Format(PyExc_TypeError, "parse() takes 3 positional arguments but %zd were given", nargs);
        return nullptr;
    }
    const State* st = state_of(module);
    if (st == nullptr) return nullptr;
    if (!st->bound) {
        PyErr_SetString(PyExc_RuntimeError, "parse() before bind()");
        return nullptr;
    }
    Py_ssize_t op_size = 0;
    const char* op_text = PyUnicode_Check(args[0]) ? PyUnicode_AsUTF8AndSize(args[0], &op_size) : nullptr;
    if (op_text == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "op must be a str");
        return nullptr;
    }
    quillon_py::Answer answer;
    if (!quillon_py::answer_of(args[1], args[2], answer)) return nullptr;
    const auto op = quillon_accounts::find_operation(std::string_view(op_text, static_cast<std::size_t>(op_size)));
    if (!answer.status || !op) Py_RETURN_NONE;
    try {
        Ref out;
        {
            CollectorPaused paused;
            out = open(*st, *op, *answer.status, answer.body);
        }
        if (out) return out.release();
        // Nothing built, or a text that is not UTF-8 stopped the building:
        // either way the engine's `call` decides.
        PyErr_Clear();
        Py_RETURN_NONE;
    } catch (const std::exception&) {
        // Out of memory and the like: the engine's `call` reports its own.
        PyErr_Clear();
        Py_RETURN_NONE;
    }
}

// {class name: field names in order}: what `bind` expects of each class.
PyObject* fields_of() {
    Ref out(PyDict_New());
    if (!out) return nullptr;
    bool failed = false;
    Results::each([&](int, std::string_view name, const auto& fields) {
        if (failed) return;
        Ref names(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
        failed = !names;
        for (std::size_t i = 0; i < fields.size() && !failed; ++i) {
            PyObject* field = PyUnicode_FromStringAndSize(fields[i].data(), static_cast<Py_ssize_t>(fields[i].size()));
            failed = field == nullptr;
            if (!failed) PyTuple_SetItem(names.get(), static_cast<Py_ssize_t>(i), field);  // steals
        }
        failed = failed || PyDict_SetItemString(out.get(), std::string(name).c_str(), names.get()) < 0;
    });
    return failed ? nullptr : out.release();
}

template <class F>
PyCFunction entry(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef methods[] = {
    {"parse", entry(&parse_entry), METH_FASTCALL,
     "parse(op, status, body)\n--\n\n"
     "The result objects of an accounts operation from the gateway's status and body\n"
     "bytes, or None when the answer is to be handed to the engine's call instead."},
    {"table", entry(&quillon_py::table_entry), METH_FASTCALL,
     "table(operation, status, body)\n--\n\n"
     "The results of a list answer as columns (a reconciliation: movements and balances), or\n"
     "None when the answer is to be handed to the engine's call instead."},
    {"concat", entry(&quillon_py::concat_entry), METH_FASTCALL,
     "concat(parts)\n--\n\nThe batches of tables of one kind, in order, as one table."},
    {"empty", entry(&quillon_py::empty_entry), METH_FASTCALL,
     "empty(operation)\n--\n\nAn empty table of the kind the operation gives."},
    {"bind", entry(&quillon_py::bind_entry), METH_FASTCALL,
     "bind(decimal, account_status, payment_status, classes)\n--\n\n"
     "Sets the types the results are made of, all of them or (raising) none."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (quillon_py::init_state(module) < 0) return -1;
    PyObject* fields = fields_of();
    if (fields == nullptr) return -1;
    if (PyModule_AddObject(module, "FIELDS", fields) < 0) {
        Py_DECREF(fields);
        return -1;
    }
    return quillon_py::add_columns_type(module);
}

void free_module(void* module) { quillon_py::clear_state(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_objects",  // m_name
    "The package's result objects, and tables of results, built straight from the gateway's answer bytes.",
    sizeof(State),               // m_size: each module object's own state, zeroed before exec
    methods,                     // m_methods
    module_slots,                // m_slots
    quillon_py::traverse_state,  // m_traverse
    quillon_py::clear_state,     // m_clear
    free_module,                 // m_free
};

}  // namespace

PyMODINIT_FUNC PyInit__objects(void) {
    return PyModuleDef_Init(&module_def);
}
