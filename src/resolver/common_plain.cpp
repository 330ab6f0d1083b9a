#include "resolver/common_plain.hpp"

#include <charconv>

namespace kestrine {

using namespace resolver_detail;

// Twenty-four bytes hold at most 23 digits, so the value lies far inside the
// range of a double: no overflow or underflow to tell apart, and from_chars
// rounds as the full resolver's conversion does.
bool resolve_common_decimal(std::string_view text, ScalarKind& out) noexcept {
  const std::size_t n = text.size();
  if (n > 24) return false;
  std::size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  const std::size_t int_begin = i;
  while (i < n && is_digit(text[i])) ++i;
  if (i == int_begin || i == n || text[i] != '.') return false;
  const std::size_t frac_begin = ++i;
  while (i < n && is_digit(text[i])) ++i;
  if (i == frac_begin || i != n) return false;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data() + int_begin, text.data() + n, value);
  if (ec != std::errc() || end != text.data() + n) return false;
  out = ScalarKind::of_float(text[0] == '-' ? -value : value);
  return true;
}

}  // namespace kestrine
