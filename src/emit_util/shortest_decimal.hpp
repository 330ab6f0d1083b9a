// The shortest decimal that reads back as a given double.
//
//   ShortestDecimal d = shortest_decimal(0.3);   // {3, -1}: 3 × 10^-1
//
// For a finite, non-negative double v, `digits` × 10^`exponent` is the
// decimal with the fewest significant digits that rounds (to nearest, ties
// to even) back to v; among several such decimals, the one nearest to v
// (ties: the even one).  `digits` carries no trailing zeros (zero is {0, 0}).
// The sign, NaN and the infinities are the caller's to handle.
//
// Exact integer arithmetic on 64- and 128-bit words with one table of
// powers of ten (Giulietti's "Schubfach" method): no loops over digits, no
// big numbers, no allocation.  float_text.hpp builds the YAML and JSON texts
// of floats on it.
#pragma once

#include <cstdint>

namespace kestrine {

struct ShortestDecimal {
  std::uint64_t digits;  // at most 17 decimal digits
  int exponent;
};

ShortestDecimal shortest_decimal(double value) noexcept;

}  // namespace kestrine
