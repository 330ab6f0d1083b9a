// Instance layout of `KestrineAnnotatedList`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the metadata record are added with its behaviour).
struct AnnotatedListData {
  BorrowFlag borrow;
};

struct AnnotatedListObject {
  PyListObject list;
  AnnotatedListData data;
};

}  // namespace kestrine
