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

}  // namespace kestrine
