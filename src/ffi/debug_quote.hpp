// Texts as the messages show them: enclosed in quotes, with backslash escapes
// for the quote, the backslash, NUL, tab, CR, LF, and "\u{hex}" for any other
// control or unprintable character.
//
//   debug_quoted("a\tb")      -> "\"a\\tb\""
//   debug_quoted_char(U'\'')  -> "'\\''"
//
// Python-free; the texts are UTF-8 (never validated here: a cut-off sequence
// at the end reads as the bits it has).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrine {

// `text` in double quotes.
std::string debug_quoted(std::string_view text);
// One character (a code point) in single quotes.
std::string debug_quoted_char(char32_t ch);

// Decodes the code point that starts at byte `i` of UTF-8 text and moves `i`
// past it.
char32_t next_code_point(std::string_view text, std::size_t& i) noexcept;

}  // namespace kestrine
