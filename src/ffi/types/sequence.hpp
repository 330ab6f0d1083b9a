// Instance layout of `KestrineSequence`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the items reference, tag, flow and comment fields are added with its behaviour).
struct SequenceData {
  BorrowFlag borrow;
};

struct SequenceObject {
  PyObject ob_base;
  SequenceData data;
};

}  // namespace kestrine
