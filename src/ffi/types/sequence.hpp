// Instance layout of `KestrineSequence`: a sequence node descriptor that a
// `represent` callback returns.  Immutable once made.
#pragma once

#include <utility>

#include "ffi/py.hpp"
#include "ffi/types.hpp"
#include "ffi/types/descriptor_args.hpp"

namespace kestrine {

struct SequenceData {
  explicit SequenceData(CollectionFields&& f) noexcept : fields(std::move(f)) {}
  BorrowFlag borrow;
  CollectionFields fields;  // collection = the `items` list or tuple
};

struct SequenceObject {
  PyObject ob_base;
  SequenceData data;
};

// The descriptor's fields when `obj` is a KestrineSequence, else null.
const CollectionFields* sequence_fields(PyObject* obj) noexcept;

}  // namespace kestrine
