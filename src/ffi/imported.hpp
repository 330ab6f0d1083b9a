// Python classes that the native core uses but does not define: looked up
// by name on first use and kept for the life of the process.
#pragma once

#include "ffi/py.hpp"

namespace kestrine {

// One lazily filled cell.  Cells are static objects; `cls` holds a strong
// reference once filled and is never cleared.
struct ImportedClass {
  const char* module;  // "kestrine.exceptions"
  const char* name;    // "KestrineParseError"
  const char* what;    // "exception " for exception classes, "" otherwise
  PyObject* cls = nullptr;
};

// The class of the cell (borrowed), importing it on first use.  A failed
// import is an internal fault "failed to import {what}{module}.{name}: {error}"
// whose cause is the import error; the next call tries again.
PyResult<PyObject*> imported_class(ImportedClass& cell) noexcept;

// The annotated scalar classes of the package (instances made by
// ffi/types/annotated_scalar.hpp).
PyResult<PyObject*> annotated_str_class() noexcept;
PyResult<PyObject*> annotated_int_class() noexcept;
PyResult<PyObject*> annotated_float_class() noexcept;

}  // namespace kestrine
