// How the writers spell a null.
#pragma once

#include <cstdint>

namespace kestrine {

// `Keyword` writes "null" everywhere, `Tilde` "~"; `Default` leaves a null
// empty where block layout allows it (after a key's ":" or a "-") and writes
// "null" elsewhere.  Chosen by OPT_NULL_AS_KEYWORD / OPT_NULL_AS_TILDE.
enum class NullStyle : std::uint8_t {
  Keyword = 0,
  Default = 1,
  Tilde = 2,
};

}  // namespace kestrine
