// What the document classes share when they read a document: the fields of a
// handle (`KestrineDocumentView`, `KestrineNode`), the access protocol
// (shared borrows of the handle and of its document), and the reading steps
// in Python terms: item access, key listing, length, membership, the leaf
// walk and positions.
//
//   KESTRINE_ASSIGN_OR_RETURN(HandleAccess access, access_handle(handle));
//   DocumentRead read(*access.data, handle.start_root);
//   const YamlNode* node = read.resolve(handle.path);   // null: stale
//   return lookup_item(read, handle.document.get(), handle.path, *node, key);
//
// The tree side of every step (paths, key matching, alias re-basing, walk
// order) is roundtrip/document/document.hpp's; this unit only converts.  A
// DocumentRead lives for one member call, inside the shared borrow of the
// document, so the nodes it hands out stay valid until it ends.  Python code
// may run during a read (a key's __eq__, hashing): it may read the same
// document, while an edit from it fails at once ("Already borrowed").
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>

#include "ffi/convert/node_bridge.hpp"
#include "ffi/py.hpp"
#include "ffi/types/document.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "util/try.hpp"

namespace kestrine {

// The fields of a view or node handle: the document it reads (kept alive),
// the root its path starts at, and the path.
struct HandleData {
  BorrowFlag borrow;
  OwnedRef document;
  std::size_t start_root = 0;
  NodePath path;

  HandleData(OwnedRef doc, std::size_t root, NodePath p) noexcept
      : document(std::move(doc)), start_root(root), path(std::move(p)) {}
};

// Shared access to a handle and to its document for one member call
// ("Already mutably borrowed" when either is held for an edit).
struct HandleAccess {
  BorrowFlag::Shared handle;
  BorrowFlag::Shared document;
  DocumentData* data;
};
PyResult<HandleAccess> access_handle(HandleData& handle) noexcept;
// The document's own access only.
PyResult<BorrowFlag::Shared> access_document(DocumentData& data) noexcept;

// One read of a document, started at one of its roots: conversions with the
// document's settings, aliases followed (and charged) within the root the
// read is at, one object cache for the whole call.
class DocumentRead {
 public:
  DocumentRead(DocumentData& data, std::size_t root) noexcept : data_(data), root_(root) {}
  DocumentRead(const DocumentRead&) = delete;
  DocumentRead& operator=(const DocumentRead&) = delete;

  const DocumentRecord& record() const noexcept { return data_.record; }
  KeyIndexCache* lookups() noexcept { return &data_.lookups; }
  std::size_t root_index() const noexcept { return root_; }
  const NodeReadOptions& options() const noexcept { return options_; }

  // Continues at another root (the multi-document conversions).
  void move_to_root(std::size_t root) noexcept;
  // The alias follower of the current root.  Requires that root to exist.
  AliasFollower& aliases();

  // The node at `path` from the current root, or null.
  const YamlNode* resolve(const NodePath& path);
  // The same, with an alias at the end standing for its anchored node (the
  // path then names that node; see resolve_rebased).
  const YamlNode* resolve_rebased(NodePath& path);

  // The node's plain value (aliases read as what they stand for).
  PyResult<OwnedRef> value_of(const YamlNode& node);
  // The hashable form of a key node (sequences as tuples, ...).
  PyResult<OwnedRef> key_of(const YamlNode& node);

 private:
  DocumentData& data_;
  std::size_t root_;
  NodeReadOptions options_{data_.record.flags.version_mode, data_.record.flags.timestamps};
  std::optional<AliasFollower> aliases_;
  AnchorObjectCache objects_;
  AnchorObjectCache keys_;  // key objects of alias targets (immutable, shared)
};

// Runs `body(read, node, path)` under shared access to the handle and its
// document, on the node at the handle's path, or, when an alias stands
// there, on the anchored node with that node's path (see resolve_rebased).
// A path that does not resolve fails with `stale()`.
template <class Body>
auto with_rebased_handle(HandleData& handle, PyErr (*stale)() noexcept, Body&& body)
    -> std::invoke_result_t<Body&, DocumentRead&, const YamlNode&, const NodePath&> {
  KESTRINE_ASSIGN_OR_RETURN(const HandleAccess access, access_handle(handle));
  DocumentRead read(*access.data, handle.start_root);
  const YamlNode* node = read.resolve(handle.path);
  if (node == nullptr) return fail(stale());
  if (!node->is_alias()) return body(read, *node, handle.path);
  NodePath rebased = handle.path;
  node = read.resolve_rebased(rebased);
  return body(read, *node, rebased);
}

// ---- reading steps -------------------------------------------------------------------

// `node[key]` for `node` at `base` of the read's root: a new view of
// `document` for a mapping or sequence (an alias of one re-based onto it),
// the plain value otherwise.  KeyError(str(key)), IndexError "index out of
// range" or TypeError "mapping keys must be str or int" when nothing is
// found.  A str key compares with the key texts; any other key by Python
// equality with the converted keys (errors count as no match).
PyResult<OwnedRef> lookup_item(DocumentRead& read, PyObject* document, const NodePath& base, const YamlNode& node,
                               PyObject* key);

// Whether a key node is a scalar, or empty content (None), whose plain value
// equals `key` by Python equality; an error of the comparison counts as no
// match.
PyResult<bool> key_node_matches(const NodeReadOptions& options, const YamlNode& key_node, PyObject* key);

// A view of `child` (at `path` of the read's root) or its plain value, as
// item access gives it.
PyResult<OwnedRef> item_result(DocumentRead& read, PyObject* document, NodePath path, const YamlNode& child);

// The body of `get(key, default)` (both required, by position or name):
// `lookup(key)`, or `default` when it fails to find the item (KeyError,
// IndexError, TypeError); other errors, such as a conflict with an edit,
// pass.
PyResult<OwnedRef> get_or_default(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                  const std::function<PyResult<OwnedRef>(PyObject* key)>& lookup);

// The keys of a mapping, each once (Python equality), in order of first
// appearance, as plain values.
PyResult<OwnedRef> distinct_keys(DocumentRead& read, const YamlNode& mapping);
// len(): the number of distinct keys of a mapping, items of a sequence, 1
// for anything else.
PyResult<Py_ssize_t> node_length(DocumentRead& read, const YamlNode& node);
// `key in node`: a str key equal to the text of a scalar key of a mapping.
PyResult<bool> contains_text(DocumentRead& read, const YamlNode& node, PyObject* key);

// Every leaf below `node` as a list of (path tuple, value).
PyResult<OwnedRef> walk_node(DocumentRead& read, const YamlNode& node);

// (line, column, end line, end column), 1-based.
PyResult<OwnedRef> range_tuple(const YamlNode& node) noexcept;

// The node's plain value for a whole conversion (to_dict, unwrap, value):
// no cycle collection runs while it is built.
PyResult<OwnedRef> convert_whole(DocumentRead& read, const YamlNode& node);

}  // namespace kestrine
