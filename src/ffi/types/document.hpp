// Instance layout of `KestrineDocument`, its construction from a loaded
// record, and path resolution over its trees.
//
//   DocumentRecord rec{roots, names, texts, text, std::nullopt, flags};
//   PyResult<OwnedRef> doc = new_document(std::move(rec));
//
// A document owns one YamlNode root per YAML document of the stream, the
// source-file table, the text as read and its flags.  Handles (views and
// nodes) keep only a path of PathSegment steps from a root and resolve it
// anew on every access.
#pragma once

#include <cstddef>
#include <span>

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/tree_ops.hpp"

namespace kestrine {

struct DocumentData {
  BorrowFlag borrow;
  DocumentRecord record;

  DocumentData() noexcept = default;
  explicit DocumentData(DocumentRecord&& r) noexcept : record(std::move(r)) {}
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
PyResult<OwnedRef> document_to_yaml(PyObject* document) noexcept;

// ---- paths ------------------------------------------------------------------------

// One step down from `node`: in a mapping, Key gives the value and KeyNode the
// key of the last pair whose key is a scalar with exactly that text; in a
// sequence, Index gives the item.  Anything else (aliases included) gives
// null.
const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment) noexcept;
YamlNode* child_by_segment_mut(YamlNode& node, const PathSegment& segment) noexcept;

// The node at `path` from root `start_root`, or null.
const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root,
                             std::span<const PathSegment> path) noexcept;
YamlNode* resolve_path_mut(DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path) noexcept;

// A Python key as a step: a non-negative integer that fits 64 bits (an int,
// bool, or anything with __index__) is an Index, a str a Key; anything else
// is TypeError "mapping keys must be str or int".
PyResult<PathSegment> py_to_path_segment(PyObject* key) noexcept;

// The error of a lookup on `node` that found nothing: IndexError "index out
// of range" for a sequence, else KeyError(str(key)).
PyErr missing_step_error(const YamlNode& node, PyObject* key) noexcept;

}  // namespace kestrine
