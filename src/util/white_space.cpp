#include "util/white_space.hpp"

namespace kestrine {

std::size_t white_space_at(std::string_view s, std::size_t i) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
  if (b0 < 0xC2) return 0;
  const std::size_t left = s.size() - i;
  const auto b1 = left > 1 ? static_cast<unsigned char>(s[i + 1]) : 0u;
  const auto b2 = left > 2 ? static_cast<unsigned char>(s[i + 2]) : 0u;
  if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;            // U+0085, U+00A0
  if (b0 == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;            // U+1680
  if (b0 == 0xE2) {
    if (b1 == 0x80 && ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF))
      return 3;                                                          // U+2000-200A, 2028, 2029, 202F
    if (b1 == 0x81 && b2 == 0x9F) return 3;                              // U+205F
    return 0;
  }
  if (b0 == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;            // U+3000
  return 0;
}

std::string_view trim_white_space_start(std::string_view s) noexcept {
  std::size_t i = 0;
  for (std::size_t w; i < s.size() && (w = white_space_at(s, i)) != 0;) i += w;
  return s.substr(i);
}

std::string_view trim_white_space_end(std::string_view s) noexcept {
  // Every White_Space character is 1 to 3 bytes long: try each length at
  // the end, so no backwards UTF-8 decoding is needed.
  for (;;) {
    std::size_t cut = 0;
    for (std::size_t len = 1; len <= 3 && len <= s.size() && cut == 0; ++len) {
      if (white_space_at(s, s.size() - len) == len) cut = len;
    }
    if (cut == 0) return s;
    s.remove_suffix(cut);
  }
}

}  // namespace kestrine
