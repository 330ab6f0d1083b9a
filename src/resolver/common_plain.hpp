// The commonest plain scalars, decided before full resolution.
//
// Most scalars of configuration and data files are nulls, booleans and short
// numbers, and those forms read alike under YAML 1.2, YAML 1.1 and the
// stricter 1.1 reading.  `resolve_common_plain` decides them from the length
// and the first byte, without the mode, and answers false for every other
// text, which then goes to `resolve_scalar_kind` (resolver/resolve.hpp).
// It speaks only for untagged plain scalars: the caller checks both.
//
// Decided forms (nothing else):
//   "~", "null", "Null", "NULL"                 Null
//   "true", "True", "TRUE", "false", ...        Bool
//   [+-]? and 1-18 decimal digits, no leading   Int
//     zero unless the digit is alone
//   [+-]? digits "." digits, 24 bytes at most   Float (correctly rounded)
// A text with an exponent, an underscore, a leading zero before more digits,
// a colon or more digits than these is left to the full resolver: that is
// where the modes differ.
//
// Pure, never fails, never allocates; inline so that the decoder's loop pays
// no call for the words and integers.
#pragma once

#include <cstdint>
#include <string_view>

#include "resolver/kind.hpp"
#include "resolver/text_util.hpp"
#include "util/unaligned.hpp"

namespace kestrine {

// The decimal form "[+-]?digits.digits" of at most 24 bytes as a Float, by
// the general conversion (for values the quick division cannot make).
bool resolve_common_decimal(std::string_view text, ScalarKind& out) noexcept;

namespace resolver_detail {

inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The number forms of resolve_common_plain, in one pass over the digits.  A
// decimal whose digits make an integer of at most 2^53 and that has at most
// 22 digits after the point is that integer divided by a power of ten: both
// exact doubles, so the one rounding of the division is the correct one.
[[gnu::always_inline]] inline bool common_number(std::string_view t, ScalarKind& out) noexcept {
  const std::size_t n = t.size();
  const bool negative = t[0] == '-';
  std::size_t i = (negative || t[0] == '+') ? 1 : 0;
  const std::size_t int_begin = i;
  if (n - int_begin > 19) return n <= 24 && resolve_common_decimal(t, out);  // may overflow 64 bits
  std::uint64_t digits = 0;
  for (; i < n && is_digit(t[i]); ++i) digits = digits * 10 + unsigned(t[i] - '0');
  const std::size_t int_digits = i - int_begin;
  if (int_digits == 0) return false;
  if (i == n) {
    if (int_digits > 18 || (t[int_begin] == '0' && int_digits > 1)) return false;
    const auto value = static_cast<std::int64_t>(digits);
    out = ScalarKind::of_int(negative ? -value : value);
    return true;
  }
  if (t[i] != '.') return false;
  const std::size_t fraction_begin = ++i;
  for (; i < n && is_digit(t[i]); ++i) digits = digits * 10 + unsigned(t[i] - '0');
  const std::size_t fraction_digits = i - fraction_begin;
  if (fraction_digits == 0 || i != n) return false;
  if (digits > (std::uint64_t{1} << 53)) return resolve_common_decimal(t, out);
  const double value = static_cast<double>(digits) / kExactPowersOfTen[fraction_digits];
  out = ScalarKind::of_float(negative ? -value : value);
  return true;
}

}  // namespace resolver_detail

[[gnu::always_inline]] inline bool resolve_common_plain(std::string_view text, ScalarKind& out) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return false;
  const char c = text[0];
  if (resolver_detail::is_digit(c) || c == '-' || c == '+') return resolver_detail::common_number(text, out);
  // Words: one 4-byte load compared with constants (little- or big-endian
  // alike, as both sides are loaded the same way).
  static constexpr auto word = [](const char (&w)[5]) { return load_u32(w); };
  if (n == 4) {
    const std::uint32_t w = load_u32(text.data());
    if (w == word("null") || w == word("Null") || w == word("NULL")) {
      out = ScalarKind::null();
      return true;
    }
    if (w == word("true") || w == word("True") || w == word("TRUE")) {
      out = ScalarKind::of_bool(true);
      return true;
    }
    return false;
  }
  if (n == 5) {
    const std::uint32_t w = load_u32(text.data() + 1);
    if ((c == 'f' && w == word("alse")) || (c == 'F' && (w == word("alse") || w == word("ALSE")))) {
      out = ScalarKind::of_bool(false);
      return true;
    }
    return false;
  }
  if (n == 1 && c == '~') {
    out = ScalarKind::null();
    return true;
  }
  return false;
}

}  // namespace kestrine
