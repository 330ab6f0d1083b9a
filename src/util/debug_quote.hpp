// Texts as the messages show them: enclosed in quotes, with backslash escapes
// for the quote, the backslash, NUL, tab, CR, LF, and "\u{hex}" for any other
// control or unprintable character.
//
//   debug_quoted("a\tb")      -> "\"a\\tb\""
//   debug_quoted_char(U'\'')  -> "'\\''"
//
// The texts are UTF-8, read with next_code_point (never validated here: a
// cut-off sequence at the end reads as the bits it has).
#pragma once

#include <string>
#include <string_view>

#include "util/utf8.hpp"  // next_code_point, for callers that walk the same texts

namespace kestrine {

// `text` in double quotes.
std::string debug_quoted(std::string_view text);
// One character (a code point) in single quotes.
std::string debug_quoted_char(char32_t ch);

}  // namespace kestrine
