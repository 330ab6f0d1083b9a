// Unicode White_Space over UTF-8 text: U+0009..U+000D, U+0020, U+0085,
// U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
//
// For the places that split or trim text as Unicode does (directive words,
// the schema reference comment, verbose regular expressions).  The text
// need not be valid UTF-8: a byte sequence that is not one of these
// characters is simply not white space.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrine {

// Length in bytes of the White_Space character that starts at byte `i`
// (`i` < s.size()), or 0.
std::size_t white_space_at(std::string_view s, std::size_t i) noexcept;

// `s` without its leading / trailing White_Space characters.
std::string_view trim_white_space_start(std::string_view s) noexcept;
std::string_view trim_white_space_end(std::string_view s) noexcept;
inline std::string_view trim_white_space(std::string_view s) noexcept {
  return trim_white_space_end(trim_white_space_start(s));
}

}  // namespace kestrine
