// Instance layout of `KestrineSequence`: a sequence node descriptor that a
// `represent` callback returns; a CollectionObject (collection_descriptor.hpp)
// whose collection is the `items` list or tuple.  Immutable once made.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/descriptor_args.hpp"

namespace kestrine {

// The descriptor's fields when `obj` is a KestrineSequence, else null.
const CollectionFields* sequence_fields(PyObject* obj) noexcept;

}  // namespace kestrine
