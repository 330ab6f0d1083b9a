// Doubles in the IEEE 754 total order, as integers: sorting by the key sorts
// negative NaN < -inf < ... < -0 < +0 < ... < +inf < NaN, the order sorted
// keys are written in whatever their NaNs and signed zeros.
//
//   std::sort(v.begin(), v.end(), [](double a, double b) { return total_order_key(a) < total_order_key(b); });
#pragma once

#include <bit>
#include <cstdint>

namespace kestrine {

constexpr std::int64_t total_order_key(double d) noexcept {
  const auto bits = std::bit_cast<std::int64_t>(d);
  // Negative doubles order backwards as integers: flip all but the sign bit.
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

}  // namespace kestrine
