// `KestrineDocument.save` and `set_origin`: writing an edited document back
// to its files.
//
// save() writes the included files that were edited (each to the file it
// was read from) and the document's own file when something outside the
// included parts changed, or always to a path given.  Every target is
// staged (a temporary file in its directory, flushed) before any is renamed
// over its target, and every refusal comes before anything is written: a
// failed save leaves every file as it was (include/write_back.hpp,
// util/atomic_write.hpp).
#pragma once

#include "ffi/py.hpp"

namespace kestrine {

// save($self, path=None): the paths written, included files first.
PyObject* document_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// set_origin($self, path)
PyObject* document_set_origin(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

}  // namespace kestrine
