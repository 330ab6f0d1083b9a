// Instance layout of `KestrineDocumentView`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"

namespace kestrine {

// The class's own fields (the document reference and the path from the root are added with its behaviour).
struct DocumentViewData {
  BorrowFlag borrow;
};

struct DocumentViewObject {
  PyObject ob_base;
  DocumentViewData data;
};

}  // namespace kestrine
