// Instance layout of `KestrineDocument`.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types.hpp"

namespace kestrine {

// The class's own fields (the document record (roots, source-file table, texts as read, flags) are added with its behaviour).
struct DocumentData {
  BorrowFlag borrow;
};

struct DocumentObject {
  PyObject ob_base;
  DocumentData data;
};

}  // namespace kestrine
