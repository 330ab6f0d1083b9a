#include "util/utf8.hpp"

#include "util/unaligned.hpp"

#include <cstdint>

namespace kestrine {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Skips the ASCII bytes at `p`, 16 then 8 bytes at a time; returns the first
// non-ASCII position (or `end`).
inline const unsigned char* skip_ascii(const unsigned char* p, const unsigned char* end) noexcept {
  while (end - p >= 16) {
    if (((load_u64(p) | load_u64(p + 8)) & kHighBits) != 0) break;
    p += 16;
  }
  if (end - p >= 8 && (load_u64(p) & kHighBits) == 0) p += 8;
  while (p < end && *p < 0x80) ++p;
  return p;
}

inline bool is_cont(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

}  // namespace

std::size_t utf8_char_count_long(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t chars = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    if ((load_u64(p + i) & kHighBits) == 0) {
      chars += 8;
      continue;
    }
    for (std::size_t k = 0; k < 8; ++k) chars += !is_cont(p[i + k]);
  }
  for (; i < n; ++i) chars += !is_cont(p[i]);
  return chars;
}

std::size_t utf8_valid_prefix(const char* data, std::size_t size) noexcept {
  const auto* const begin = reinterpret_cast<const unsigned char*>(data);
  const auto* const end = begin + size;
  const unsigned char* p = begin;
  while (p < end) {
    p = skip_ascii(p, end);
    // Non-ASCII characters tend to come in runs (e.g. CJK text), so decode
    // until the next ASCII byte before going back to the wide scan.
    while (p < end && *p >= 0x80) {
      const unsigned char c = *p;
      const std::ptrdiff_t left = end - p;
      if (c >= 0xC2 && c <= 0xDF) {
        if (left < 2 || !is_cont(p[1])) return static_cast<std::size_t>(p - begin);
        p += 2;
      } else if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3) return static_cast<std::size_t>(p - begin);
        const unsigned char c1 = p[1];
        // E0 needs A0..BF (no overlong), ED needs 80..9F (no surrogates).
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
        if (c1 < lo || c1 > hi || !is_cont(p[2])) return static_cast<std::size_t>(p - begin);
        p += 3;
      } else if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4) return static_cast<std::size_t>(p - begin);
        const unsigned char c1 = p[1];
        // F0 needs 90..BF (no overlong), F4 needs 80..8F (max U+10FFFF).
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
        if (c1 < lo || c1 > hi || !is_cont(p[2]) || !is_cont(p[3])) {
          return static_cast<std::size_t>(p - begin);
        }
        p += 4;
      } else {
        // Stray continuation byte, C0/C1 overlong lead, or F5..FF.
        return static_cast<std::size_t>(p - begin);
      }
    }
  }
  return size;
}

bool is_ascii(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  return skip_ascii(p, end) == end;
}

void append_utf8(std::string& out, char32_t cp) {
  char buf[4];
  std::size_t n;
  if (cp < 0x80) {
    buf[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (cp >> 6));
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (cp >> 12));
    buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out.append(buf, n);
}

std::string utf8_lossy(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t valid = utf8_valid_prefix(text.data(), text.size());
    out.append(text.substr(0, valid));
    text.remove_prefix(valid);
    if (text.empty()) break;
    // One U+FFFD for a lead byte and the continuation bytes that follow it.
    std::size_t bad = 1;
    if (static_cast<unsigned char>(text[0]) >= 0xC2) {
      while (bad < text.size() && bad < 4 && (static_cast<unsigned char>(text[bad]) & 0xC0) == 0x80) ++bad;
    }
    append_utf8(out, 0xFFFD);
    text.remove_prefix(bad);
  }
  return out;
}

char32_t next_code_point(std::string_view s, std::size_t& i) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : 1;
  char32_t c = b0 & (0x3F >> extra);
  ++i;
  for (int k = 0; k < extra && i < s.size(); ++k, ++i) {
    c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  }
  return c;
}

}  // namespace kestrine
