// Whether two texts of a short list are equal, without a hash set.
//
// Mapping keys are checked for repeats on every mapping a validation or a
// tree conversion reads, and almost never repeat: a hash set (allocated,
// every text hashed in full) costs more than comparing one machine word per
// pair for the few dozen keys a mapping usually has.  Each text is reduced
// to a word of its length and its first and last bytes (equal texts give
// equal words); only pairs with equal words compare their texts.
//
//   if (n <= kPairwiseTexts && some_text_repeats(n, [&](std::size_t i) { return key_text(i); })) ...
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "util/unaligned.hpp"

namespace kestrine {

// The longest list `some_text_repeats` takes; longer lists want a hash set.
inline constexpr std::size_t kPairwiseTexts = 32;

// A word that equal texts share.
inline std::uint64_t text_word(std::string_view text) noexcept {
  const std::size_t n = text.size();
  const char* p = text.data();
  std::uint64_t head = 0, tail = 0;
  if (n >= 8) {
    head = load_u64(p);
    tail = load_u64(p + n - 8);
  } else if (n >= 4) {
    head = load_u32(p);
    tail = load_u32(p + n - 4);
  } else if (n > 0) {
    head = static_cast<unsigned char>(p[0]) | static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
           static_cast<std::uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16;
  }
  return head ^ (tail * 0x9E3779B97F4A7C15ull) ^ (static_cast<std::uint64_t>(n) << 40);
}

// Whether two of the texts text_of(0) .. text_of(n - 1) are equal; n must not
// exceed kPairwiseTexts.
template <class TextOf>
bool some_text_repeats(std::size_t n, TextOf&& text_of) {
  std::array<std::uint64_t, kPairwiseTexts> words;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t w = text_word(text_of(i));
    for (std::size_t j = 0; j < i; ++j)
      if (words[j] == w && text_of(j) == text_of(i)) return true;
    words[i] = w;
  }
  return false;
}

}  // namespace kestrine
