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

// The decimal form "[+-]?digits.digits" of at most 24 bytes as a Float; false
// for any other text.
bool resolve_common_decimal(std::string_view text, ScalarKind& out) noexcept;

inline bool resolve_common_plain(std::string_view text, ScalarKind& out) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return false;
  const char c = text[0];
  if (resolver_detail::is_digit(c) || c == '-' || c == '+') {
    std::int64_t value;
    if (resolver_detail::small_decimal(text, value)) {
      out = ScalarKind::of_int(value);
      return true;
    }
    return resolve_common_decimal(text, out);
  }
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
