// `multipleOf` decided on decimals, exactly.
//
// A double is rarely the number that was written (0.1 is not a tenth), and a
// tolerance on the quotient grows with it: at 1e16 a few units of rounding
// of the quotient span more than one whole number, so every divisor would
// pass.  The value and the divisor are therefore read as exact decimals: an
// integer's digits, a whole-number double's exact integer (2.0^60 is
// 1152921504606846976, not the 1152921504606847000 it prints as), another
// double's shortest decimal, the one it was written as (0.1 is 1 x 10^-1);
// a whole-number double above 2^53 (value or divisor) counts as either
// (1e23 is a multiple of 10 as written, 2.0^60 of 1024 as held, 10^23 of
// 1e23 as written).
// x = X x 10^e is a multiple of d = D x 10^-k when X x 10^(e+k) is a
// multiple of D, in exact arithmetic on numbers of any size (big integers
// included).
//
//   std::optional<DecimalDivisor> d = DecimalDivisor::of(divisor);  // nothing: not a positive number
//   std::optional<bool> exact = d->divides(value);  // nothing: not a finite number
//
// Fractional values also pass within a tolerance (see is_near_multiple):
// data computed in binary floating point misses the decimal it stands for
// by a few units of rounding.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "decode/value.hpp"

namespace kestrine {

class DecimalDivisor {
 public:
  // The divisor of a positive Int, BigInt or finite Float; nothing for any
  // other value.
  static std::optional<DecimalDivisor> of(const YamlValue& divisor);

  // Whether `value` (Int, BigInt or finite Float) is an exact multiple (a
  // large whole-number Float: as held or as written); nothing for any other
  // value.
  std::optional<bool> divides(const YamlValue& value) const;

 private:
  using Limbs = std::vector<std::uint32_t>;  // a natural number, base 2^32, least significant first

  // Whether the natural number `digits` x 10^`exponent` divided by
  // `divisor_digits` x 10^-`scale` is a whole number.
  static bool divides_decimal(const Limbs& divisor_digits, std::int64_t scale, std::string_view digits,
                              std::int64_t exponent);

  Limbs digits_;           // D, never zero
  std::int64_t scale_ = 0;  // k: the divisor is D x 10^-k
  // A whole-number double divisor above 2^53 as written (its shortest
  // decimal), D and k as above; empty for any other divisor.
  Limbs written_digits_;
  std::int64_t written_scale_ = 0;
};

// The tolerance for fractional values: the quotient x / v lies within eight
// units of rounding of a whole number, as long as that margin stays below
// 1/1024 of a unit (a wider one would let any value pass).
bool is_near_multiple(double x, double v) noexcept;

}  // namespace kestrine
