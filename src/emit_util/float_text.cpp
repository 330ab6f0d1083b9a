#include "emit_util/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kestrine {

void append_float(std::string& out, double value) {
  if (std::isnan(value)) {
    out.append(".nan");
    return;
  }
  if (std::isinf(value)) {
    out.append(value > 0 ? ".inf" : "-.inf");
    return;
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
    out.append(fixed, f.ptr - fixed);
    if (std::memchr(fixed, '.', f.ptr - fixed) == nullptr) out.append(".0");
    return;
  }
  out.append(sci, e - sci);
  if (std::memchr(sci, '.', e - sci) == nullptr) out.append(".0");
  out.push_back('e');
  out.push_back(exponent < 0 ? '-' : '+');
  unsigned mag = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
  if (mag < 10) out.push_back('0');
  char digits[8];
  auto d = std::to_chars(digits, digits + sizeof digits, mag);
  out.append(digits, d.ptr - digits);
}

std::string format_float(double value) {
  std::string out;
  append_float(out, value);
  return out;
}

}  // namespace kestrine
