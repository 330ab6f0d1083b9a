// Instance layout of `KestrineTag`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the tag text and the value reference are added with its behaviour).
struct TagData {
  BorrowFlag borrow;
};

struct TagObject {
  PyObject ob_base;
  TagData data;
};

}  // namespace kestrine
