// The bodies of `dumps` and `to_json` (declared in ffi/functions.hpp).
//
// A KestrineDocument given to `dumps` is written back by the round-trip
// emitter (the text as read while nothing was edited), its other arguments
// ignored.  Anything else is converted to a value tree with the interpreter
// lock held (ffi/convert/encode.hpp); the lock is then released while the
// text writer runs and the tree is freed.  Both return the text as bytes.
#pragma once

#include <cstdint>

#include "ffi/functions.hpp"
#include "ffi/py.hpp"

namespace kestrine {

// Reads an optional unsigned 64-bit argument (`option=`, `width=`): None or
// absent is 0; anything with an index conversion is accepted.  A failed
// conversion carries the note "while processing '{name}'".
PyResult<std::uint64_t> read_u64_argument(PyObject* arg, const char* name) noexcept;

// Adds the note "while processing '{name}'" to an argument error.
PyErr with_argument_note(PyErr err, const char* name) noexcept;

}  // namespace kestrine
