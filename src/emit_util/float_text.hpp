// The YAML text of a 64-bit float.
//
// ".nan", ".inf", "-.inf" for the special values; otherwise the shortest
// decimal that reads back as the same double: plain ("3.0", "0.0001",
// "1000000000000000.0") when the decimal exponent lies in -4..15, else
// mantissa, "e", sign and at least two exponent digits ("1.0e+16",
// "1.5e-07").  A finite result always holds a "." and, with an exponent, a
// signed one, so YAML 1.1 and 1.2 readers both take it for a float, and it is
// valid JSON.
#pragma once

#include <cstddef>
#include <string>

namespace kestrine {

std::string format_float(double value);
// The room write_float_text needs at `out`: the longest text is 24 bytes
// (sign, 17 digits, point, exponent), and it is written in blocks that may
// run past its end.
inline constexpr std::size_t kFloatTextMax = 48;
// The same text written at `out` (room for kFloatTextMax bytes); gives its end.
char* write_float_text(char* out, double value) noexcept;
// The same text appended to `out` (a std::string or a LargeText).
template <class Text>
void append_float(Text& out, double value) {
  char text[kFloatTextMax];
  out.append(text, static_cast<std::size_t>(write_float_text(text, value) - text));
}

}  // namespace kestrine
