// Helpers shared by the ffi tests: run Python snippets in the embedded
// interpreter and make `kestrine.exceptions` importable without the
// compiled module.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ffi/py.hpp"

namespace kestrine::testing {

// Evaluates a Python expression in a scratch namespace that persists across
// calls (`run` statements define names for later `eval`s).
inline PyObject* test_namespace() {
  static PyObject* ns = [] {
    PyObject* d = PyDict_New();
    PyDict_SetItemString(d, "__builtins__", PyEval_GetBuiltins());
    return d;
  }();
  return ns;
}

inline OwnedRef eval(const std::string& expr) {
  OwnedRef r = OwnedRef::steal(PyRun_String(expr.c_str(), Py_eval_input, test_namespace(), test_namespace()));
  if (!r) {
    PyErr_Print();
    ADD_FAILURE() << "Python expression failed: " << expr;
  }
  return r;
}

inline void run(const std::string& code) {
  OwnedRef r = OwnedRef::steal(PyRun_String(code.c_str(), Py_file_input, test_namespace(), test_namespace()));
  if (!r) {
    PyErr_Print();
    ADD_FAILURE() << "Python code failed: " << code;
  }
}

inline std::string to_std(PyObject* obj) {
  OwnedRef s = OwnedRef::steal(PyObject_Str(obj));
  if (!s) {
    PyErr_Clear();
    return "<str failed>";
  }
  return PyUnicode_AsUTF8(s.get());
}

inline std::string repr(PyObject* obj) {
  OwnedRef s = OwnedRef::steal(PyObject_Repr(obj));
  if (!s) {
    PyErr_Clear();
    return "<repr failed>";
  }
  return PyUnicode_AsUTF8(s.get());
}

// Binds `name` in the test namespace.
inline void bind(const char* name, PyObject* value) { PyDict_SetItemString(test_namespace(), name, value); }

// Puts a bare `kestrine` package (no compiled module) into sys.modules so
// that `kestrine.exceptions` imports from the package sources.
inline void install_bare_package() {
  run(
      "import sys, types\n"
      "if 'kestrine' not in sys.modules:\n"
      "    _pkg = types.ModuleType('kestrine')\n"
      "    _pkg.__path__ = ['" KESTRINE_PYTHON_DIR "/kestrine']\n"
      "    sys.modules['kestrine'] = _pkg\n"
      "import kestrine.exceptions\n");
}

}  // namespace kestrine::testing
