#include "emit_util/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kestrine {

char* write_float_text(char* out, double value) noexcept {
  const auto put = [&out](const char* text, std::size_t n) {
    std::memcpy(out, text, n);
    out += n;
  };
  if (std::isnan(value)) {
    put(".nan", 4);
    return out;
  }
  if (std::isinf(value)) {
    if (value > 0) put(".inf", 4); else put("-.inf", 5);
    return out;
  }
  // Shortest round-trip digits in scientific form give the exponent.
  char sci[40];
  auto r = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* e = static_cast<const char*>(std::memchr(sci, 'e', r.ptr - sci));
  int exponent = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, exponent);

  if (exponent >= -4 && exponent <= 15) {
    char fixed[48];
    auto f = std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed);
    put(fixed, static_cast<std::size_t>(f.ptr - fixed));
    if (std::memchr(fixed, '.', f.ptr - fixed) == nullptr) put(".0", 2);
    return out;
  }
  put(sci, static_cast<std::size_t>(e - sci));
  if (std::memchr(sci, '.', e - sci) == nullptr) put(".0", 2);
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const unsigned mag = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
  if (mag < 10) *out++ = '0';
  return std::to_chars(out, out + 8, mag).ptr;
}

void append_float(std::string& out, double value) {
  char text[kFloatTextMax];
  out.append(text, static_cast<std::size_t>(write_float_text(text, value) - text));
}

std::string format_float(double value) {
  std::string out;
  append_float(out, value);
  return out;
}

}  // namespace kestrine
