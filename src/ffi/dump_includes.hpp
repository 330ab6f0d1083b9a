// The bodies of `dump_includes` and `dump_includes_map` (declared in
// ffi/functions.hpp), and the one conversion of write-back errors to
// exceptions, which `KestrineDocument.save` shares.
//
//   dump_includes(doc, /, *, include_dir=None)   writes every included file
//   dump_includes_map(doc, /)                    {path: new contents}
//
// Both take a shared borrow of the document for the whole call; the plan
// and the writes are include/write_back.hpp's.  `include_dir` is checked as
// a path and has no other effect: files go to the paths the load recorded,
// beneath the include root the load used.
#pragma once

#include "ffi/py.hpp"
#include "include/write_back.hpp"

namespace kestrine {

// ValueError for a document without includes and for an edit no file can
// hold; KestrineIncludeError (file = the path, empty include_stack) for
// conflicting edits of one file; `write_failure_type` (ValueError for
// dump_includes, OSError for save) with "cannot write {path}: {reason}" for
// a failed write.
PyErr write_back_error_to_py(const WriteBackError& error, PyObject* write_failure_type) noexcept;

}  // namespace kestrine
