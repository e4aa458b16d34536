// Fuzzes the result objects built straight from the answer bytes (the
// `_objects` module) against the engine's call as the package reads it. The
// target embeds the interpreter: both extension modules are linked in and
// made as the package's own, the package binds the real result classes, and
// for each input (laid out as for parse_fuzzer: operation byte, status
// byte(s), body; the body's bytes as they come, UTF-8 or not)
// `objects_check.check` compares the two paths. Python allocates with
// malloc, so the sanitizers see every read of its buffers.
//
// PYTHONPATH must name the package's sources, tests/ and fuzz/ (run.sh sets
// it, with the site-packages of the environment that has httpx).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "checks.hpp"

extern "C" PyObject* PyInit__objects(void);
extern "C" PyObject* PyInit__native(void);

namespace {

PyObject* g_check = nullptr;

[[noreturn]] void failed(const char* what) {
    if (PyErr_Occurred()) PyErr_Print();
    std::fprintf(stderr, "objects_fuzzer: %s\n", what);
    std::abort();
}

// Makes the module of a multi-phase definition under `name` and enters it
// in sys.modules, as the import system does for an extension file.
void install(const char* name, PyObject* (*init)()) {
    PyObject* def = init();
    PyObject* machinery = PyImport_ImportModule("importlib.machinery");
    if (def == nullptr || machinery == nullptr) failed("no module definition");
    PyObject* described = PyObject_CallMethod(machinery, "ModuleSpec", "sO", name, Py_None);
    if (described == nullptr) failed("no ModuleSpec");
    auto* definition = reinterpret_cast<PyModuleDef*>(def);
    PyObject* module = PyModule_FromDefAndSpec(definition, described);
    if (module == nullptr || PyModule_ExecDef(module, definition) < 0) failed(name);
    if (PyDict_SetItemString(PyImport_GetModuleDict(), name, module) < 0) failed(name);
    Py_DECREF(module);
    Py_DECREF(described);
    Py_DECREF(machinery);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PyPreConfig pre;
    PyPreConfig_InitPythonConfig(&pre);
    pre.allocator = PYMEM_ALLOCATOR_MALLOC;
    if (PyStatus_Exception(Py_PreInitialize(&pre))) failed("the interpreter did not start");
    Py_InitializeEx(0);
    install("quillon.accounts._native", &PyInit__native);
    install("quillon.accounts._objects", &PyInit__objects);
    PyObject* fast = PyImport_ImportModule("quillon.accounts._fast_results");
    if (fast == nullptr) failed("the package did not import (is PYTHONPATH set?)");
    PyObject* ready = PyObject_GetAttrString(fast, "READY");
    if (ready != Py_True) failed("the result classes were not bound");
    PyObject* checks = PyImport_ImportModule("objects_check");
    if (checks == nullptr || (g_check = PyObject_GetAttrString(checks, "check")) == nullptr) {
        failed("objects_check did not import");
    }
    Py_DECREF(ready);
    Py_DECREF(fast);
    Py_DECREF(checks);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parse_input(data, size);
    if (!input) return 0;
    // The body as it came: `as_utf8` keeps the length, so it is the input's end.
    const auto* body = reinterpret_cast<const char*>(data + size - input->body.size());
    const std::string op(fuzz::OPERATIONS[input->op_index]);
    PyObject* out = PyObject_CallFunction(g_check, "sIy#", op.c_str(), static_cast<unsigned>(input->status), body,
                                          static_cast<Py_ssize_t>(input->body.size()));
    if (out == nullptr) {
        PyErr_Print();
        fuzz::broken("the fast path and the call differ", op, std::string_view(body, input->body.size()));
    }
    Py_DECREF(out);
    return 0;
}
