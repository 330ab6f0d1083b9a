// Instance layout of `KestrineAnnotatedDict`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the metadata record are added with its behaviour).
struct AnnotatedDictData {
  BorrowFlag borrow;
};

struct AnnotatedDictObject {
  PyDictObject dict;
  AnnotatedDictData data;
};

}  // namespace kestrine
