// Instance layout of `KestrineMapping`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the pairs reference, tag, flow and comment fields are added with its behaviour).
struct MappingData {
  BorrowFlag borrow;
};

struct MappingObject {
  PyObject ob_base;
  MappingData data;
};

}  // namespace kestrine
