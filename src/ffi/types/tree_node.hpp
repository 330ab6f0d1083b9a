// Instance layout of `KestrineTreeNode` and the snapshot of a document tree.
//
//   PyResult<OwnedRef> snapshot = tree_snapshot(root, flags);
//
// A snapshot is built complete in one depth-first pass and never changes:
// collections hold tuples of child snapshots, scalars their plain values,
// aliases their names (not followed).  It owns its texts and keeps no
// reference to the document.  Each node reports the comment lines a
// KestrineNode handle at its path reads (roundtrip/document/comment_places.hpp).
#pragma once

#include <cstdint>
#include <string_view>

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

struct TreeNodeData {
  OwnedRef value;
  OptText tag;
  OptText anchor;
  OptText comment;
  OptText comment_before;
  OptText comment_after;
  std::string_view kind;   // static text: "scalar", "sequence", "mapping", "alias"
  std::string_view style;  // static text, as KestrineNode.style
  bool is_merge_key = false;
};

struct TreeNodeObject {
  PyObject ob_base;
  TreeNodeData data;
};

// The snapshot of `root` (a document root: its comment_before is all its
// head lines), with scalars read under the document's flags.
PyResult<OwnedRef> tree_snapshot(const YamlNode& root, const DocumentFlags& flags);

}  // namespace kestrine
