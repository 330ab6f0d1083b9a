// UTF-8 validation, counting and encoding.
//
// Strict UTF-8 as the Unicode standard defines it: no overlong forms, no
// encoded surrogates (U+D800..U+DFFF), nothing above U+10FFFF.  ASCII runs are
// checked 16 bytes at a time, which is where real YAML text spends its bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrine {

// Length of the longest valid UTF-8 prefix of `data`; equals `size` exactly
// when the whole input is valid.  The prefix never ends inside a character.
std::size_t utf8_valid_prefix(const char* data, std::size_t size) noexcept;

inline bool is_valid_utf8(std::string_view text) noexcept {
  return utf8_valid_prefix(text.data(), text.size()) == text.size();
}

// True when every byte is below 0x80.
bool is_ascii(std::string_view text) noexcept;

// Number of characters in `text` (bytes that are not continuation bytes;
// the text is taken as UTF-8).  Short texts (keys, words: the common case)
// are counted inline, longer ones eight bytes at a time.
std::size_t utf8_char_count_long(std::string_view text) noexcept;
inline std::size_t utf8_char_count(std::string_view text) noexcept {
  if (text.size() <= 16) {
    std::size_t chars = text.size();
    for (unsigned char c : text) chars -= (c & 0xC0) == 0x80;
    return chars;
  }
  return utf8_char_count_long(text);
}

// Appends the UTF-8 form of `cp` (at most U+10FFFF; callers reject
// surrogates where they matter) to `out`.
void append_utf8(std::string& out, char32_t cp);

// Decodes the code point that starts at byte `i` of `text` and moves `i`
// past it.  Lenient, for texts that are shown rather than checked: the
// length comes from the lead byte alone (any other non-ASCII byte below E0
// leads two bytes), continuation bytes are not checked, and a sequence cut
// off by the end of the text gives the bits it has.
char32_t next_code_point(std::string_view text, std::size_t& i) noexcept;

// `text` with every invalid UTF-8 sequence replaced by U+FFFD (for showing
// file names, which are bytes, as text).
std::string utf8_lossy(std::string_view text);

}  // namespace kestrine
