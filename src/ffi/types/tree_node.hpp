// Instance layout of `KestrineTreeNode`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"

namespace kestrine {

// The class's own fields (the snapshot fields (kind, value, style, tag, anchor, comments, is_merge_key) are added with its behaviour).
struct TreeNodeData {
  BorrowFlag borrow;
};

struct TreeNodeObject {
  PyObject ob_base;
  TreeNodeData data;
};

}  // namespace kestrine
