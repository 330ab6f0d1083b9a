// Instance layout of `KestrineNode`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"

namespace kestrine {

// The class's own fields (the document reference and the path from the root are added with its behaviour).
struct NodeData {
  BorrowFlag borrow;
};

struct NodeObject {
  PyObject ob_base;
  NodeData data;
};

}  // namespace kestrine
