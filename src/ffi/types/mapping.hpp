// Instance layout of `KestrineMapping`: a mapping node descriptor that a
// `represent` callback returns; a CollectionObject (collection_descriptor.hpp)
// whose collection is the `pairs` list or tuple.  Immutable once made.
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/descriptor_args.hpp"

namespace kestrine {

// The descriptor's fields when `obj` is a KestrineMapping, else null.
const CollectionFields* mapping_fields(PyObject* obj) noexcept;

}  // namespace kestrine
