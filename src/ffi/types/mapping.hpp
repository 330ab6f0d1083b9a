// Instance layout of `KestrineMapping`: a mapping node descriptor that a
// `represent` callback returns.  Immutable once made.
#pragma once

#include <utility>

#include "ffi/py.hpp"
#include "ffi/types.hpp"
#include "ffi/types/descriptor_args.hpp"

namespace kestrine {

struct MappingData {
  explicit MappingData(CollectionFields&& f) noexcept : fields(std::move(f)) {}
  BorrowFlag borrow;
  CollectionFields fields;  // collection = the `pairs` list or tuple
};

struct MappingObject {
  PyObject ob_base;
  MappingData data;
};

// The descriptor's fields when `obj` is a KestrineMapping, else null.
const CollectionFields* mapping_fields(PyObject* obj) noexcept;

}  // namespace kestrine
