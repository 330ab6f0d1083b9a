#include "emit_util/float_text.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "emit_util/shortest_decimal.hpp"

namespace kestrine {
namespace {

// The texts below are put together from fixed-size blocks: each block
// write may run past the bytes it means, which later writes overwrite or
// the returned end leaves out.  kFloatTextMax leaves room for the farthest
// one.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void copy_block(char* to, const char* from, std::size_t n) noexcept { std::memcpy(to, from, n); }

// The eight digits of x < 10^8, leading zeros included, as the bytes of a
// word (the first digit lowest): x splits into two halves of four digits,
// each into two of two, each into two digits, in all lanes at once, with
// multiplications by rounded-up reciprocals that are exact in these ranges
// (n * 10486 >> 20 == n / 100 for n < 10^4, m * 103 >> 10 == m / 10 for
// m < 100).
static_assert(std::endian::native == std::endian::little);
[[gnu::always_inline]] inline std::uint64_t eight_digits(std::uint32_t x) noexcept {
  const std::uint64_t halves = (x / 10000) | (static_cast<std::uint64_t>(x % 10000) << 32);
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007FULL;
  const std::uint64_t pairs = hundreds | ((halves - hundreds * 100) << 16);
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000FULL;
  return (tens | ((pairs - tens * 10) << 8)) + 0x3030303030303030ULL;
}

void put_word(char* out, std::uint64_t word) noexcept { std::memcpy(out, &word, 8); }

// The digits of `value` (at most 17 of them) into `buffer`, right-aligned
// at byte 24 of it and followed by zeros; returns how many there are.  The
// buffer has room for reading 24 bytes from the first digit.
int write_digits(char (&buffer)[48], std::uint64_t value) noexcept {
  constexpr std::uint64_t kTen8 = 100000000;
  put_word(buffer + 16, eight_digits(static_cast<std::uint32_t>(value % kTen8)));
  if (value >= kTen8) {
    const std::uint64_t rest = value / kTen8;
    put_word(buffer + 8, eight_digits(static_cast<std::uint32_t>(rest % kTen8)));
    buffer[7] = static_cast<char>('0' + rest / kTen8);  // at most one more digit
  }
  std::memset(buffer + 24, '0', 24);
  // log10 from the bit length, then one comparison.
  static constexpr std::uint64_t kPowers[] = {
      1,           10,           100,           1000,           10000,           100000,
      1000000,     10000000,     100000000,     1000000000,     10000000000,     100000000000,
      1000000000000, 10000000000000, 100000000000000, 1000000000000000, 10000000000000000,
      100000000000000000};
  const std::uint64_t v = value | 1;  // zero has one digit
  const int t = (std::bit_width(v) * 1233) >> 12;
  return t + (v >= kPowers[t] ? 1 : 0);
}

// The digits laid out around their decimal exponent x (the exponent of the
// first digit), -4 <= x <= 15: "123.45", "12300.0", "0.00123".
char* write_plain(char* out, const char* digits, int n, int x) noexcept {
  if (x < 0) {
    copy_block(out, "0.000000", 8);  // "0." and -x - 1 zeros
    out += 1 - x;
    copy_block(out, digits, 24);
    return out + n;
  }
  const int whole = x + 1;
  copy_block(out, digits, 24);  // the digits, then zeros up to `whole`
  if (n <= whole) {
    copy_block(out + whole, ".0", 2);
    return out + whole + 2;
  }
  out[whole] = '.';
  copy_block(out + whole + 1, digits + whole, 16);
  return out + n + 1;
}

// "d.ddde+XX": the mantissa (with ".0" when it has one digit) and a signed
// exponent of at least two digits.
char* write_scientific(char* out, const char* digits, int n, int x) noexcept {
  out[0] = digits[0];
  out[1] = '.';
  copy_block(out + 2, digits + 1, 16);  // digits[n] onwards is '0'
  out += n == 1 ? 3 : n + 1;
  *out++ = 'e';
  *out++ = x < 0 ? '-' : '+';
  const unsigned mag = static_cast<unsigned>(x < 0 ? -x : x);
  if (mag >= 100) {
    *out++ = static_cast<char>('0' + mag / 100);
  }
  copy_block(out, kDigitPairs + 2 * (mag % 100), 2);
  return out + 2;
}

}  // namespace

char* write_float_text(char* out, double value) noexcept {
  if (std::isnan(value)) {
    copy_block(out, ".nan", 4);
    return out + 4;
  }
  if (std::isinf(value)) {
    if (value > 0) {
      copy_block(out, ".inf", 4);
      return out + 4;
    }
    copy_block(out, "-.inf", 5);
    return out + 5;
  }
  if (std::signbit(value)) *out++ = '-';
  const ShortestDecimal d = shortest_decimal(std::fabs(value));
  char buffer[48];
  const int n = write_digits(buffer, d.digits);
  const char* digits = buffer + 24 - n;
  const int x = d.exponent + n - 1;
  if (x >= -4 && x <= 15) return write_plain(out, digits, n, x);
  return write_scientific(out, digits, n, x);
}

std::string format_float(double value) {
  std::string out;
  append_float(out, value);
  return out;
}

}  // namespace kestrine
