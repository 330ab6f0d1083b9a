// Instance layout of `KestrineDocument`, its construction from a loaded
// record, and the Python side of paths (keys as steps, lookup errors).
//
//   DocumentRecord rec{roots, names, texts, text, std::nullopt, flags};
//   PyResult<OwnedRef> doc = new_document(std::move(rec));
//
// The record and path resolution are roundtrip/document.hpp's; the object
// adds the borrow flag that guards the record against edits while it is
// read, and the key indexes its lookups build.  Readers take
// `borrow.borrow()`; every edit takes `begin_edit()`, never
// `borrow.borrow_mut()` directly, so the indexes are dropped before the
// trees change.  Functions that are not noexcept let allocation failures
// reach the caller's py_entry (MemoryError).
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/tree_ops.hpp"

namespace kestrine {

struct DocumentData {
  BorrowFlag borrow;
  DocumentRecord record;
  // Filled by lookups under shared access (the interpreter lock keeps them
  // apart); dropped by begin_edit.
  KeyIndexCache lookups;

  DocumentData() noexcept = default;
  explicit DocumentData(DocumentRecord&& r) noexcept : record(std::move(r)) {}

  // Exclusive access for an edit ("Already borrowed" while anyone reads).
  PyResult<BorrowFlag::Exclusive> begin_edit() noexcept {
    auto exclusive = borrow.borrow_mut();
    if (exclusive) lookups.clear();
    return exclusive;
  }
};

struct DocumentObject {
  PyObject ob_base;
  DocumentData data;
};

// A new KestrineDocument owning `record` (released on failure), with a free
// borrow flag.
PyResult<OwnedRef> new_document(DocumentRecord&& record) noexcept;

// The data of a KestrineDocument instance, or null for any other object.
DocumentData* document_data(PyObject* obj) noexcept;

// The whole document as YAML text (the text as read while nothing is
// modified), as a new bytes object.  Takes a shared borrow.
PyResult<OwnedRef> document_to_yaml(PyObject* document);

// What `to_json` writes for a document: None when it holds no document,
// else its to_dict().
PyResult<OwnedRef> document_json_value(PyObject* document);

// ---- paths ------------------------------------------------------------------------

// A Python key as a step: a non-negative integer that fits 64 bits (an int,
// bool, or anything with __index__) is an Index, a str a Key; anything else
// is TypeError "mapping keys must be str or int".
PyResult<PathSegment> py_to_path_segment(PyObject* key);

// KeyError(str(key)).
PyErr key_error_for(PyObject* key) noexcept;

// The error of a lookup on `node` that found nothing: IndexError "index out
// of range" for a sequence, else KeyError(str(key)).
PyErr missing_step_error(const YamlNode& node, PyObject* key) noexcept;

}  // namespace kestrine
