#include "schema/multiple_of.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>

#include "emit_util/shortest_decimal.hpp"
#include "resolver/resolve.hpp"

namespace kestrine {

namespace {

using Limbs = std::vector<std::uint32_t>;

// n = n x mul + add; keeps n without leading zero limbs.
void multiply_add(Limbs& n, std::uint32_t mul, std::uint32_t add) {
  std::uint64_t carry = add;
  for (std::uint32_t& limb : n) {
    const std::uint64_t t = std::uint64_t{limb} * mul + carry;
    limb = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  if (carry != 0) n.push_back(static_cast<std::uint32_t>(carry));
}

bool less(const Limbs& a, const Limbs& b) noexcept {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i];
  return false;
}

// a -= b, for a >= b.
void subtract(Limbs& a, const Limbs& b) noexcept {
  std::uint32_t borrow = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::uint64_t take = std::uint64_t{i < b.size() ? b[i] : 0} + borrow;
    borrow = a[i] < take ? 1 : 0;
    a[i] = static_cast<std::uint32_t>(std::uint64_t{a[i]} + (std::uint64_t{borrow} << 32) - take);
  }
  while (!a.empty() && a.back() == 0) a.pop_back();
}

// n /= divisor; returns the remainder.
std::uint32_t divide(Limbs& n, std::uint32_t divisor) noexcept {
  std::uint64_t rest = 0;
  for (std::size_t i = n.size(); i-- > 0;) {
    const std::uint64_t t = (rest << 32) | n[i];
    n[i] = static_cast<std::uint32_t>(t / divisor);
    rest = t % divisor;
  }
  while (!n.empty() && n.back() == 0) n.pop_back();
  return static_cast<std::uint32_t>(rest);
}

// The decimal digits of a whole, finite, non-negative double, exactly.
// Above 2^53 its shortest printed form stands for another integer (2^60
// prints as 1152921504606847000), which is not what the data holds.
std::string_view whole_number_digits(double magnitude, char (&buffer)[24], std::string& big) {
  if (magnitude < 18446744073709551616.0)  // 2^64
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::uint64_t>(magnitude)).ptr};
  int exponent = 0;
  const double fraction = std::frexp(magnitude, &exponent);  // in [0.5, 1)
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));  // all 53 bits, exactly
  Limbs n{static_cast<std::uint32_t>(mantissa), static_cast<std::uint32_t>(mantissa >> 32)};
  for (int shift = exponent - 53; shift > 0; shift -= 31) multiply_add(n, std::uint32_t{1} << std::min(shift, 31), 0);
  std::vector<std::uint32_t> chunks;  // nine digits each, least significant first
  while (!n.empty()) chunks.push_back(divide(n, 1'000'000'000));
  big = std::to_string(chunks.back());
  for (std::size_t i = chunks.size() - 1; i-- > 0;) {
    const std::string chunk = std::to_string(chunks[i]);
    big.append(9 - chunk.size(), '0') += chunk;
  }
  return big;
}

// A number as a decimal: the digits of its magnitude x 10^exponent.
struct Decimal {
  std::string_view digits;
  std::int64_t exponent = 0;
};

// The decimal of an Int, BigInt or finite Float (a whole-number Float as
// the integer it holds, another as its shortest decimal); its digits live
// in `buffer` or `big`.
std::optional<Decimal> decimal_of(const YamlValue& value, char (&buffer)[24], std::string& big) {
  switch (value.kind) {
    case ValueKind::Int: {
      const auto magnitude = value.integer < 0 ? 0 - static_cast<std::uint64_t>(value.integer)
                                               : static_cast<std::uint64_t>(value.integer);
      return Decimal{{buffer, std::to_chars(buffer, buffer + sizeof buffer, magnitude).ptr}, 0};
    }
    case ValueKind::BigInt: {
      big = canonical_bigint_text(value.text());
      std::string_view digits = big;
      if (digits.starts_with('-')) digits.remove_prefix(1);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
      return Decimal{digits, 0};
    }
    case ValueKind::Float: {
      if (!std::isfinite(value.real)) return std::nullopt;
      const double magnitude = std::fabs(value.real);
      if (std::trunc(magnitude) == magnitude) return Decimal{whole_number_digits(magnitude, buffer, big), 0};
      const ShortestDecimal d = shortest_decimal(magnitude);
      return Decimal{{buffer, std::to_chars(buffer, buffer + sizeof buffer, d.digits).ptr}, d.exponent};
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

namespace {

// A decimal as a natural number D and a scale k (it is D x 10^-k); nothing
// for zero.
std::optional<std::pair<Limbs, std::int64_t>> natural_and_scale(std::string_view digits, std::int64_t exponent) {
  Limbs n;
  for (char c : digits) multiply_add(n, 10, static_cast<std::uint32_t>(c - '0'));
  for (std::int64_t i = 0; i < exponent; ++i) multiply_add(n, 10, 0);
  if (n.empty()) return std::nullopt;
  return std::pair{std::move(n), exponent < 0 ? -exponent : 0};
}

// The shortest decimal of a whole-number double above 2^53, which stands
// for another integer than the one it holds (1e23 holds
// 99999999999999991611392); nothing for any other value.
std::optional<Decimal> large_whole_number_as_written(const YamlValue& value, char (&buffer)[24]) {
  const double magnitude = value.kind == ValueKind::Float ? std::fabs(value.real) : 0;
  if (!(magnitude >= 9007199254740992.0) || !std::isfinite(magnitude) || std::trunc(magnitude) != magnitude)
    return std::nullopt;  // 2^53
  const ShortestDecimal written = shortest_decimal(magnitude);
  return Decimal{{buffer, std::to_chars(buffer, buffer + sizeof buffer, written.digits).ptr}, written.exponent};
}

}  // namespace

std::optional<DecimalDivisor> DecimalDivisor::of(const YamlValue& divisor) {
  char buffer[24];
  std::string big;
  const std::optional<Decimal> d = decimal_of(divisor, buffer, big);
  if (!d || (divisor.kind == ValueKind::Int && divisor.integer < 0) || big.starts_with('-') ||
      (divisor.kind == ValueKind::Float && divisor.real < 0))
    return std::nullopt;
  auto held = natural_and_scale(d->digits, d->exponent);
  if (!held) return std::nullopt;  // zero
  DecimalDivisor out;
  std::tie(out.digits_, out.scale_) = std::move(*held);
  if (const std::optional<Decimal> written = large_whole_number_as_written(divisor, buffer)) {
    if (auto as_written = natural_and_scale(written->digits, written->exponent))
      std::tie(out.written_digits_, out.written_scale_) = std::move(*as_written);
  }
  return out;
}

std::optional<bool> DecimalDivisor::divides(const YamlValue& value) const {
  char buffer[24];
  std::string big;
  const std::optional<Decimal> d = decimal_of(value, buffer, big);
  if (!d) return std::nullopt;
  // Above 2^53 a whole-number double also stands for the decimal it was
  // written as, on either side: a multiple as held or as written passes, as
  // a quotient computed in doubles would (1e23 of 10, 10^23 of 1e23).
  const auto either_divisor = [&](std::string_view digits, std::int64_t exponent) {
    return divides_decimal(digits_, scale_, digits, exponent) ||
           (!written_digits_.empty() && divides_decimal(written_digits_, written_scale_, digits, exponent));
  };
  if (either_divisor(d->digits, d->exponent)) return true;
  const std::optional<Decimal> written = large_whole_number_as_written(value, buffer);
  return written && either_divisor(written->digits, written->exponent);
}

bool DecimalDivisor::divides_decimal(const Limbs& divisor_digits, std::int64_t scale, std::string_view digits,
                                     std::int64_t exponent) {
  // value / divisor = digits x 10^shift / D
  const std::int64_t shift = exponent + scale;
  const std::int64_t zeros = std::max<std::int64_t>(shift, 0);
  if (shift >= 0 && divisor_digits.size() <= 2) {
    // The usual divisor fits 64 bits: a remainder below it times ten fits 128.
    const unsigned __int128 divisor = divisor_digits.size() == 2 ? (std::uint64_t{divisor_digits[1]} << 32) | divisor_digits[0] : divisor_digits[0];
    unsigned __int128 rest = 0;
    for (char c : digits) rest = (rest * 10 + static_cast<unsigned>(c - '0')) % divisor;
    for (std::int64_t i = 0; i < zeros && rest != 0; ++i) rest = rest * 10 % divisor;
    return rest == 0;
  }
  Limbs divisor = divisor_digits;
  for (std::int64_t i = shift; i < 0; ++i) multiply_add(divisor, 10, 0);
  Limbs rest;  // below `divisor`, so below ten times it after a step
  const auto step = [&](std::uint32_t digit) {
    multiply_add(rest, 10, digit);
    while (!less(rest, divisor)) subtract(rest, divisor);
  };
  for (char c : digits) step(static_cast<std::uint32_t>(c - '0'));
  for (std::int64_t i = 0; i < zeros && !rest.empty(); ++i) step(0);
  return rest.empty();
}

bool is_near_multiple(double x, double v) noexcept {
  const double q = x / v;
  const double margin = std::fabs(q) * 2.220446049250313e-16 * 8;
  return margin < 1.0 / 1024 && margin >= std::fabs(q - std::round(q));  // NaN fails
}

}  // namespace kestrine
