// What the document classes share when they edit a document: item
// assignment and deletion in Python terms (keys matched by Python equality,
// values converted to nodes), the assignment slots of `KestrineDocument` and
// `KestrineDocumentView`, and the error bridge of refused edits.
//
//   KESTRINE_ASSIGN_OR_RETURN(DocumentEdit edit, edit_document(data));
//   KESTRINE_TRY(set_item(edit, root_index, container, path, key, value));
//
// The tree side of every edit is roundtrip/document/edit.hpp's.  An edit holds
// exclusive access to the document for its whole run (conversions of the
// new value and key comparisons included), so Python code that runs meanwhile
// cannot read or edit the same document: it fails at once.
#pragma once

#include <cstddef>
#include <span>

#include "ffi/py.hpp"
#include "ffi/types/document.hpp"
#include "roundtrip/document/edit.hpp"

namespace kestrine {

// Exclusive access to a document for one edit ("Already borrowed" while it
// is read).
struct DocumentEdit {
  BorrowFlag::Exclusive access;
  DocumentData* data;

  DocumentRecord& record() noexcept { return data->record; }
  KeyIndexCache* lookups() noexcept { return &data->lookups; }
  // After an edit of (or below) the node at `path` of root `root`: the
  // nodes on that path are marked (roundtrip/document/edit.hpp).
  void mark(std::size_t root, std::span<const PathSegment> path);
};
PyResult<DocumentEdit> edit_document(DocumentData& data) noexcept;

// The exception for a refused edit.
PyErr edit_error_to_py(const EditError& error) noexcept;
// An edit's outcome as a Python status.
PyStatus edit_status(EditResult<> result) noexcept;

// A value assigned into the document, as a new node (the document's quote
// preference and version mode).
PyResult<YamlNode> value_node(const DocumentEdit& edit, PyObject* value);

// `container[key] = value` and `del container[key]` on a mapping or sequence
// of root `root` (for an assignment, at `path`): a mapping replaces the value
// of the last pair whose key equals `key` (or appends a pair) and deletes
// every such pair; a sequence takes a non-negative integer below its length.
// TypeError "node is not a mapping or sequence" for anything else.
PyStatus set_item(DocumentEdit& edit, std::size_t root, YamlNode& container, std::span<const PathSegment> path,
                  PyObject* key, PyObject* value);
PyStatus delete_item(DocumentEdit& edit, std::size_t root, YamlNode& container, PyObject* key);

// The node at a handle's path for an edit: an alias at the end stands for
// the node it refers to, whose path then replaces `path` (as reads re-base
// it); null when the path does not resolve.
YamlNode* resolve_for_edit(DocumentRecord& record, KeyIndexCache* lookups, std::size_t root, NodePath& path);

// The mp_ass_subscript slots.
int document_ass_subscript(PyObject* self, PyObject* key, PyObject* value) noexcept;
int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value) noexcept;

}  // namespace kestrine
