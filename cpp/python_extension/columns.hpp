// `_objects.Columns` and the entries that make tables (columns.cpp); Python.h
// is included by the source before this header.
#pragma once

#include "quillon_accounts/result_columns.hpp"

namespace quillon_py {

// Makes the module's own type `Columns`, kept in its state and added to it.
int add_columns_type(PyObject* module);

// table(operation, status, body) -> Columns | (Columns, Columns) | None
PyObject* table_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
// concat(parts) -> Columns
PyObject* concat_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
// empty(operation) -> Columns | (Columns, Columns)
PyObject* empty_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace quillon_py
