// Instance layout of `KestrineDocument`, its construction from a loaded
// record, and the Python side of paths (keys as steps, lookup errors).
//
//   DocumentRecord rec{roots, names, texts, text, std::nullopt, flags};
//   PyResult<OwnedRef> doc = new_document(std::move(rec));
//
// The record and path resolution are roundtrip/document/document.hpp's; the object
// adds the borrow flag that guards the record against edits while it is
// read, and what reads keep between calls: the key indexes of large
// mappings and the alias bindings of each root.  Readers take
// `borrow.borrow()`; the only way to edit is `begin_tracked_edit()`, which
// drops the alias bindings before the trees can change and leaves the key
// indexes to the editor (the flag offers no exclusive access of its own).
// Functions that are not noexcept let allocation failures reach the
// caller's py_entry (MemoryError).
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {

// A document's access flag: shared access for readers; exclusive access
// only through DocumentData::begin_tracked_edit.
class DocumentBorrowFlag {
 public:
  // "Already mutably borrowed" (RuntimeError) while an edit runs.
  PyResult<BorrowFlag::Shared> borrow() noexcept { return flag_.borrow(); }
  bool is_free() const noexcept { return flag_.is_free(); }

 private:
  friend struct DocumentData;
  BorrowFlag flag_;
};

struct DocumentData {
  DocumentBorrowFlag borrow;
  DocumentRecord record;
  // Filled by reads under shared access (the interpreter lock keeps them
  // apart, and no read holds on to them across Python code that could
  // edit: an edit fails while any read runs); the editor keeps them true
  // (begin_tracked_edit).
  KeyIndexCache lookups;
  BindingsCache bindings;

  DocumentData() noexcept = default;
  explicit DocumentData(DocumentRecord&& r) noexcept : record(std::move(r)) {}

  // Exclusive access for an edit ("Already borrowed" while anyone reads).
  // The key indexes stay: the editor drops those of the mappings it frees or
  // replaces (KeyIndexCache::forget) and clears them when it moves pairs or
  // changes a key's text (roundtrip/document/edit.hpp).  Alias bindings are
  // dropped; the edit must not fill them again.
  PyResult<BorrowFlag::Exclusive> begin_tracked_edit() noexcept {
    auto exclusive = borrow.flag_.borrow_mut();
    if (exclusive) bindings.clear();
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
