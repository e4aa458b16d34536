// `_objects.Columns`: a table of results built by the engine
// (quillon_accounts/result_columns.hpp), read through the Arrow PyCapsule
// interface or turned into rows, CSV or JSON lines; and the entries that
// make one: `table`, `concat`, `empty`.
//
// A Columns object holds a shared reference to an immutable table: it may be
// read from any thread, any number of times. Tables are built with the
// interpreter lock released; nothing in the engine touches Python.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "columns.hpp"
#include "objects_state.hpp"
#include "py_ref.hpp"
#include "quillon_accounts/registry.hpp"
#include "quillon_core/decimal128.hpp"
#include "quillon_core/local_datetime.hpp"

namespace quillon_py {

namespace {

namespace columns = quillon_accounts::columns;
using columns::Column;
using columns::ColumnPlan;
using columns::ColumnType;
using columns::Form;
using columns::Table;

struct ColumnsObject {
    PyObject_HEAD
    std::shared_ptr<const Table>* table;
};

const Table& table_of(PyObject* self) { return **reinterpret_cast<ColumnsObject*>(self)->table; }

Ref text(std::string_view s) { return Ref(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()))); }

// Runs `f` with the interpreter lock released; false when it threw.
template <class F>
bool without_lock(F&& f) {
    bool ok = true;
    PyThreadState* state = PyEval_SaveThread();
    try {
        f();
    } catch (const std::exception&) {
        ok = false;
    }
    PyEval_RestoreThread(state);
    return ok;
}

// ---- the type ---------------------------------------------------------------

void columns_dealloc(PyObject* self) {
    delete reinterpret_cast<ColumnsObject*>(self)->table;
    PyTypeObject* type = Py_TYPE(self);
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

Py_ssize_t columns_len(PyObject* self) { return static_cast<Py_ssize_t>(table_of(self).rows()); }

PyObject* get_num_batches(PyObject* self, void*) {
    return PyLong_FromSize_t(table_of(self).batches().size());
}

PyObject* get_kind(PyObject* self, void*) { return text(table_of(self).kind()).release(); }

PyObject* get_column_names(PyObject* self, void*) {
    const auto names = table_of(self).column_names();
    Ref out(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Ref name = text(names[i]);
        if (!name) return nullptr;
        PyTuple_SetItem(out.get(), static_cast<Py_ssize_t>(i), name.release());
    }
    return out.release();
}

// ---- the Arrow PyCapsule interface ------------------------------------------

// Makes the table's export (once; later calls find it made) with the
// interpreter lock released: rescaling amounts and merging dictionaries of
// a long table takes a while. False (and MemoryError set) when it failed.
bool prepared(const Table& t) {
    if (!without_lock([&] { t.type(); })) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// A capsule's destructor: releases the structure unless a consumer moved it
// out (and so marked it released), then frees it.
template <class S, const char* Name>
void capsule_free(PyObject* capsule) {
    auto* s = static_cast<S*>(PyCapsule_GetPointer(capsule, Name));
    if (s == nullptr) return;
    if (s->release != nullptr) s->release(s);
    std::free(s);
}

constexpr char SCHEMA_CAPSULE[] = "arrow_schema";
constexpr char STREAM_CAPSULE[] = "arrow_array_stream";

PyObject* arrow_c_schema(PyObject* self, PyObject*) {
    if (!prepared(table_of(self))) return nullptr;
    auto* schema = static_cast<ArrowSchema*>(std::malloc(sizeof(ArrowSchema)));
    if (schema == nullptr) return PyErr_NoMemory();
    schema->release = nullptr;
    try {
        quillon_core::arrow::export_type(table_of(self).type(), schema);
    } catch (const std::exception&) {
        std::free(schema);
        return PyErr_NoMemory();
    }
    PyObject* capsule = PyCapsule_New(schema, SCHEMA_CAPSULE, &capsule_free<ArrowSchema, SCHEMA_CAPSULE>);
    if (capsule == nullptr) {
        schema->release(schema);
        std::free(schema);
    }
    return capsule;
}

// The requested schema is ignored: the stream always has the table's own.
PyObject* arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__", const_cast<char**>(keywords),
                                     &requested)) {
        return nullptr;
    }
    if (!prepared(table_of(self))) return nullptr;
    auto* stream = static_cast<ArrowArrayStream*>(std::malloc(sizeof(ArrowArrayStream)));
    if (stream == nullptr) return PyErr_NoMemory();
    stream->release = nullptr;
    try {
        quillon_core::arrow::export_stream(*reinterpret_cast<ColumnsObject*>(self)->table, stream);
    } catch (const std::exception&) {
        std::free(stream);
        return PyErr_NoMemory();
    }
    PyObject* capsule = PyCapsule_New(stream, STREAM_CAPSULE, &capsule_free<ArrowArrayStream, STREAM_CAPSULE>);
    if (capsule == nullptr) {
        stream->release(stream);
        std::free(stream);
    }
    return capsule;
}

// ---- schema_fields ----------------------------------------------------------

std::string readable(const Column& c, const ColumnPlan& p) {
    switch (p.form) {
        case Form::utf8:
        case Form::amount_text:
            return "string";
        case Form::dictionary:
            return "dictionary<string>";
        case Form::timestamp:
            return "timestamp[us]";
        case Form::uint64:
            return "uint64";
        case Form::decimal:
            return "decimal128(38, " + std::to_string(p.scale) + ")";
        case Form::group: {
            std::string out = "struct<";
            for (std::size_t k = 0; k < c.children.size(); ++k) {
                if (k > 0) out.append(", ");
                out.append(c.children[k].name).append(": ").append(readable(c.children[k], p.children[k]));
            }
            return out + ">";
        }
    }
    return "string";
}

PyObject* schema_fields(PyObject* self, PyObject*) {
    const Table& t = table_of(self);
    if (!prepared(t)) return nullptr;
    try {
        const auto& plans = t.plans();
        const auto& cols = t.batches().front()->columns;
        Ref out(PyList_New(0));
        if (!out) return nullptr;
        for (std::size_t k = 0; k < cols.size(); ++k) {
            const std::string type = readable(cols[k], plans[k]);
            Ref item(Py_BuildValue("(s#s#O)", cols[k].name.data(), static_cast<Py_ssize_t>(cols[k].name.size()),
                                   type.data(), static_cast<Py_ssize_t>(type.size()),
                                   cols[k].nullable ? Py_True : Py_False));
            if (!item || PyList_Append(out.get(), item.get()) < 0) return nullptr;
        }
        return out.release();
    } catch (const std::exception&) {
        return PyErr_NoMemory();
    }
}

// ---- rows -------------------------------------------------------------------

struct Classes {
    Ref decimal;
    Ref datetime;
};

// The Python value of one column at one row, as pyarrow's `to_pylist` gives
// it for the exported column.
class RowValues {
public:
    RowValues(const Classes& classes) : classes_(classes) {}

    Ref value(const Column& c, const ColumnPlan& p, std::size_t row) {
        if (p.form == Form::group) return record(c.children, p.children, row);
        if (!c.validity.valid(row)) return none();
        switch (p.form) {
            case Form::utf8:
                return text(c.texts.at(row));
            case Form::dictionary:
                return text(c.texts.at(static_cast<std::size_t>(c.codes[row])));
            case Form::uint64:
                return Ref(PyLong_FromUnsignedLongLong(c.ids[row]));
            case Form::timestamp: {
                const auto t = quillon_core::local_datetime::civil(c.micros[row]);
                return Ref(PyObject_CallFunction(classes_.datetime.get(), "iiiiiii", t.year, t.month, t.day, t.hour,
                                                 t.minute, t.second, t.micro));
            }
            case Form::decimal: {
                scratch_.clear();
                quillon_core::decimal128::append_at_scale(c.amounts[row], p.scale, scratch_);
                Ref s = text(scratch_);
                if (!s) return Ref();
                return Ref(PyObject_CallFunctionObjArgs(classes_.decimal.get(), s.get(), nullptr));
            }
            case Form::amount_text:
                scratch_.clear();
                quillon_core::amount::append_text(c.amounts[row], scratch_);
                return text(scratch_);
            case Form::group:
                break;
        }
        return none();
    }

    Ref record(const std::vector<Column>& cols, const std::vector<ColumnPlan>& plans, std::size_t row) {
        Ref out(PyDict_New());
        if (!out) return Ref();
        for (std::size_t k = 0; k < cols.size(); ++k) {
            Ref v = value(cols[k], plans[k], row);
            if (!v || PyDict_SetItemString(out.get(), cols[k].name.c_str(), v.get()) < 0) return Ref();
        }
        return out;
    }

private:
    const Classes& classes_;
    std::string scratch_;
};

Ref attribute_of(const char* module, const char* name) {
    Ref m(PyImport_ImportModule(module));
    if (!m) return Ref();
    return Ref(PyObject_GetAttrString(m.get(), name));
}

PyObject* to_pylist(PyObject* self, PyObject*) {
    const Table& t = table_of(self);
    Classes classes{attribute_of("decimal", "Decimal"), attribute_of("datetime", "datetime")};
    if (!classes.decimal || !classes.datetime || !prepared(t)) return nullptr;
    try {
        const auto& plans = t.plans();
        Ref out(PyList_New(0));
        if (!out) return nullptr;
        RowValues values(classes);
        for (const auto& batch : t.batches()) {
            for (std::size_t row = 0; row < static_cast<std::size_t>(batch->rows); ++row) {
                Ref item = values.record(batch->columns, plans, row);
                if (!item || PyList_Append(out.get(), item.get()) < 0) return nullptr;
            }
        }
        return out.release();
    } catch (const std::exception&) {
        return PyErr_NoMemory();
    }
}

template <std::string (Table::*Form)() const>
PyObject* text_form(PyObject* self, PyObject*) {
    const Table& t = table_of(self);
    std::string out;
    if (!without_lock([&] { out = (t.*Form)(); })) return PyErr_NoMemory();
    return PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

PyMethodDef methods[] = {
    {"__arrow_c_schema__", &arrow_c_schema, METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe table's schema as a PyCapsule \"arrow_schema\"."},
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_c_stream)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\n"
     "A new stream of the table's batches as a PyCapsule \"arrow_array_stream\"."},
    {"schema_fields", &schema_fields, METH_NOARGS,
     "schema_fields()\n--\n\n(name, type, nullable) of each column, the type written as pyarrow names it."},
    {"to_pylist", &to_pylist, METH_NOARGS,
     "to_pylist()\n--\n\nThe rows as dicts, with the values pyarrow's to_pylist gives."},
    {"csv", &text_form<&Table::csv>, METH_NOARGS, "csv()\n--\n\nThe rows as RFC 4180 CSV (CRLF line ends)."},
    {"jsonl", &text_form<&Table::jsonl>, METH_NOARGS, "jsonl()\n--\n\nThe rows as JSON lines."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"num_batches", &get_num_batches, nullptr, "The number of record batches.", nullptr},
    {"kind", &get_kind, nullptr, "\"movements\", \"balances\" or \"accounts\".", nullptr},
    {"column_names", &get_column_names, nullptr, "The names of the columns, in order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&columns_dealloc)},
    {Py_sq_length, reinterpret_cast<void*>(&columns_len)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char*>("A table of results: record batches of one kind of record, read through the "
                                  "Arrow PyCapsule interface.")},
    {0, nullptr},
};

PyType_Spec columns_type_slots = {
    "quillon.accounts._objects.Columns",
    sizeof(ColumnsObject),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

// The module's Columns type (borrowed), or null with an error set.
PyObject* columns_type(PyObject* module) {
    const State* state = state_of(module);
    if (state == nullptr) return nullptr;
    if (state->columns_type == nullptr) PyErr_SetString(PyExc_RuntimeError, "the module has no Columns type");
    return state->columns_type;
}

Ref wrap(PyObject* type_object, std::shared_ptr<const Table> table) {
    auto* type = reinterpret_cast<PyTypeObject*>(type_object);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Ref obj(alloc(type, 0));
    if (!obj) return Ref();
    reinterpret_cast<ColumnsObject*>(obj.get())->table = new std::shared_ptr<const Table>(std::move(table));
    return obj;
}

Ref wrap(PyObject* type, const columns::Tables& tables) {
    Ref first = wrap(type, tables.first);
    if (!first || !tables.second) return first;
    Ref second = wrap(type, tables.second);
    if (!second) return Ref();
    return Ref(PyTuple_Pack(2, first.get(), second.get()));
}

std::optional<columns::TableOp> operation_of(PyObject* arg) {
    Py_ssize_t size = 0;
    const char* op = PyUnicode_Check(arg) ? PyUnicode_AsUTF8AndSize(arg, &size) : nullptr;
    if (op == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "operation must be a str");
        return std::nullopt;
    }
    const auto named = quillon_accounts::find_operation(std::string_view(op, static_cast<std::size_t>(size)));
    auto found = named ? columns::table_op(*named) : std::nullopt;
    if (!found) PyErr_Format(PyExc_ValueError, "no table for the operation %R", arg);
    return found;
}

}  // namespace

int add_columns_type(PyObject* module) {
    State* state = state_of(module);
    if (state == nullptr) return -1;
    PyObject* type = PyType_FromModuleAndSpec(module, &columns_type_slots, nullptr);
    if (type == nullptr) return -1;
    state->columns_type = type;
    Py_INCREF(type);
    if (PyModule_AddObject(module, "Columns", type) < 0) {
        Py_DECREF(type);
        return -1;
    }
    return 0;
}

PyObject* table_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) {
        PyErr_Format(PyExc_TypeError, "table() takes 3 positional arguments but %zd were given", nargs);
        return nullptr;
    }
    const auto op = operation_of(args[0]);
    if (!op) return nullptr;
    PyObject* type = columns_type(module);
    if (type == nullptr) return nullptr;
    Answer answer;
    if (!answer_of(args[1], args[2], answer)) return nullptr;
    if (!answer.status) Py_RETURN_NONE;
    std::optional<quillon_core::error::Result<columns::Tables>> built;
    const bool ran = without_lock([&] { built.emplace(columns::build(*op, *answer.status, answer.body)); });
    if (!ran || !built || !*built) Py_RETURN_NONE;
    return wrap(type, built->value()).release();
}

PyObject* concat_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) {
        PyErr_SetString(PyExc_TypeError, "concat() takes 1 positional argument");
        return nullptr;
    }
    PyObject* type = columns_type(module);
    if (type == nullptr) return nullptr;
    const Py_ssize_t n = PySequence_Size(args[0]);
    if (n < 0) return nullptr;
    if (n == 0) {
        PyErr_SetString(PyExc_ValueError, "concat() of no tables");
        return nullptr;
    }
    std::vector<std::shared_ptr<const Table>> parts;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(PySequence_GetItem(args[0], i));
        if (!item) return nullptr;
        if (!PyObject_TypeCheck(item.get(), reinterpret_cast<PyTypeObject*>(type))) {
            PyErr_SetString(PyExc_TypeError, "concat() takes Columns");
            return nullptr;
        }
        parts.push_back(*reinterpret_cast<ColumnsObject*>(item.get())->table);
    }
    auto joined = columns::concat(parts);
    if (!joined) {
        PyErr_SetString(PyExc_ValueError, "concat() of tables of different kinds");
        return nullptr;
    }
    return wrap(type, std::move(joined)).release();
}

PyObject* empty_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) {
        PyErr_SetString(PyExc_TypeError, "empty() takes 1 positional argument");
        return nullptr;
    }
    const auto op = operation_of(args[0]);
    if (!op) return nullptr;
    PyObject* type = columns_type(module);
    if (type == nullptr) return nullptr;
    columns::Tables tables{columns::empty(columns::kind_of(*op)), nullptr};
    if (*op == columns::TableOp::reconcile) tables.second = columns::empty("balances");
    if (!tables.first || (*op == columns::TableOp::reconcile && !tables.second)) return PyErr_NoMemory();
    return wrap(type, tables).release();
}

}  // namespace quillon_py
