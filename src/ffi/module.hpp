// The extension module `_kestrine`: definition and start-up.
#pragma once

#include "ffi/py.hpp"

namespace kestrine {

// The exec step: adds the eight functions, the 34 option constants and the
// ten classes, each appended to `__all__` as it is added.  0 on success, -1
// with an exception set on failure (what was added so far stays).
int module_exec(PyObject* module) noexcept;

// Adds `value` to the module under `name` and appends the name to the
// module's `__all__` (created as an empty list when missing).
PyStatus add_to_module(PyObject* module, const char* name, PyObject* value) noexcept;

}  // namespace kestrine
