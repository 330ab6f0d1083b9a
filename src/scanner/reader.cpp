#include "scanner/reader.hpp"

#include <cstdio>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/unaligned.hpp"

namespace kestrine::scan {

namespace {

#if !defined(__SSE2__)
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Nonzero when some byte of `v` equals `b`.
inline std::uint64_t has_byte(std::uint64_t v, unsigned char b) noexcept {
  std::uint64_t x = v ^ (kOnes * b);
  return (x - kOnes) & ~x & kHighs;
}
#endif

}  // namespace

std::size_t find_line_break(const unsigned char* p, const unsigned char* end) noexcept {
  const unsigned char* s = p;
#if defined(__SSE2__)
  while (end - s >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))));
    if (mask != 0) return static_cast<std::size_t>(s - p) + static_cast<unsigned>(__builtin_ctz(mask));
    s += 16;
  }
#else
  while (end - s >= 8) {
    std::uint64_t v = load_u64(s);
    if (has_byte(v, '\n') | has_byte(v, '\r')) break;
    s += 8;
  }
#endif
  while (s < end && *s != '\n' && *s != '\r') ++s;
  return static_cast<std::size_t>(s - p);
}

char32_t Reader::peek_char() const noexcept {
  if (offset >= length) return 0;
  unsigned char b = text[offset];
  if (b < 0x80) return b;
  std::size_t n = char_length();
  char32_t cp = n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
  if (n == 1) return b;  // a stray byte stands for itself
  for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (text[offset + k] & 0x3F);
  return cp;
}

namespace {

// Whether the character at `i` is a disallowed control character (its code
// point then in `code`).
inline bool is_control_at(const unsigned char* p, std::size_t n, std::size_t i, char32_t& code) noexcept {
  const unsigned char b = p[i];
  if (b < 0x20) {
    if (b == '\t' || b == '\n' || b == '\r') return false;
    code = b;
    return true;
  }
  if (b == 0x7F) {
    code = b;
    return true;
  }
  if (b == 0xC2 && i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F && p[i + 1] != 0x85) {
    code = p[i + 1];
    return true;
  }
  if (b == 0xEF && i + 2 < n && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF)) {
    code = p[i + 2] == 0xBE ? 0xFFFE : 0xFFFF;
    return true;
  }
  return false;
}

#if defined(__SSE2__)
// One bit per byte of the sixteen in `v` that may start a disallowed
// character: below 0x20 other than tab and line breaks, 0x7F, and the lead
// bytes of the C1 controls (C2) and of U+FFFE / U+FFFF (EF).
inline unsigned control_candidates(__m128i v) noexcept {
  const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  const __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')),
                                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
  const __m128i other = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)),
                                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2)))),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xEF))));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(allowed, low), other)));
}
#endif

// Offset of the first disallowed control character at or after `from` (its
// code point in `code`), or the text's size; `high` gathers the bytes looked
// at (bit 7 set when any was non-ASCII).  Candidates are found sixteen bytes
// at a time; only they get a closer look.
std::size_t find_control_character(std::string_view text, std::size_t from, char32_t& code,
                                   unsigned& high) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = from;
#if defined(__SSE2__)
  __m128i seen = _mm_setzero_si128();
  for (; n - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    seen = _mm_or_si128(seen, v);
    for (unsigned mask = control_candidates(v); mask != 0; mask &= mask - 1) {
      const std::size_t k = i + static_cast<unsigned>(__builtin_ctz(mask));
      if (is_control_at(p, n, k, code)) return k;
    }
  }
  high = _mm_movemask_epi8(seen) != 0 ? 0x80 : 0;
#endif
  for (; i < n; ++i) {
    high |= p[i];
    if (is_control_at(p, n, i, code)) return i;
  }
  return n;
}

}  // namespace

bool check_control_characters(std::string_view text, std::size_t from, std::uint32_t file_id,
                              ScanError& error, bool* ascii) {
  char32_t code = 0;
  unsigned high = 0;
  const std::size_t bad = find_control_character(text, from, code, high);
  if (bad == text.size()) {
    if (ascii != nullptr) *ascii = (high & 0x80) == 0;
    return true;
  }

  // Position of the offending character: lines and characters since `from`.
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::uint32_t line = 0;
  std::size_t line_start = from;
  for (std::size_t k = from; k < bad; ++k) {
    if (p[k] == '\n') {
      ++line;
      line_start = k + 1;
    } else if (p[k] == '\r') {
      if (k + 1 < bad && p[k + 1] == '\n') ++k;
      ++line;
      line_start = k + 1;
    }
  }
  char msg[64];
  std::snprintf(msg, sizeof msg, "disallowed control character U+%04X", static_cast<unsigned>(code));
  error.message = msg;
  error.span = Span{file_id, line,
                    static_cast<std::uint32_t>(utf8_char_count(text.substr(line_start, bad - line_start))), bad};
  return false;
}

ScanError tab_indent_error(const Span& span) {
  return ScanError{"a tab cannot be used for indentation", span};
}

}  // namespace kestrine::scan
