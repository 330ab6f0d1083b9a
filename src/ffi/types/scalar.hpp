// Instance layout of `KestrineScalar`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the value, tag, style and comment fields are added with its behaviour).
struct ScalarData {
  BorrowFlag borrow;
};

struct ScalarObject {
  PyObject ob_base;
  ScalarData data;
};

}  // namespace kestrine
