// Character-level routines shared by the YAML writers: which scalar styles a
// text can take, double- and single-quoted writing, folding of long quoted
// text at a width, and the header and body of literal block scalars.
//
// Everything appends to the caller's output buffer and allocates nothing of
// its own.  Texts are UTF-8.  The buffer is a std::string or, for the text
// a dump returns, a LargeText (util/large_block.hpp), whose large storage
// stays out of the C library's per-thread heaps.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrine {

// Length of the multi-byte character at byte `i` of `s` when it is one that
// no plain, single-quoted or block scalar may carry raw: a C1 control (NEL,
// a line break to YAML 1.1 readers, included), U+2028, U+2029 (YAML 1.1 line
// breaks), U+FFFE or U+FFFF.  0 otherwise.
inline std::size_t escaped_multibyte_length(std::string_view s, std::size_t i) noexcept {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = at(i);
  if (b == 0xC2 && i + 1 < s.size()) {
    if (at(i + 1) >= 0x80 && at(i + 1) <= 0x9F) return 2;
  } else if (b == 0xE2 && i + 2 < s.size()) {
    if (at(i + 1) == 0x80 && (at(i + 2) == 0xA8 || at(i + 2) == 0xA9)) return 3;
  } else if (b == 0xEF && i + 2 < s.size()) {
    if (at(i + 1) == 0xBF && (at(i + 2) == 0xBE || at(i + 2) == 0xBF)) return 3;
  }
  return 0;
}

// May the text be written single-quoted on one line?  False when it holds a
// byte below 0x20 (tab, line feed and carriage return included), DEL, a C1
// control other than NEL, U+FFFE, U+FFFF, or one of the line breaks of YAML
// 1.1 readers (NEL, U+2028, U+2029), which those readers would fold.
bool is_printable_single_line(std::string_view text) noexcept;

// May the text be written as a literal block scalar?  It needs a line feed,
// must hold no carriage return, no other control character except tab, no
// DEL, C1 control, U+FFFE/U+FFFF or YAML 1.1 line break (NEL, U+2028,
// U+2029), and its first non-empty line must not begin with a space or a tab
// (the block takes its indentation from that line).
bool fits_literal_block(std::string_view text) noexcept;

// May the text be written as a literal or folded block scalar (no
// indentation indicator) and read back unchanged?  Unlike
// `fits_literal_block` it needs no line feed, and it refuses a last line of
// blanks (that would read as trailing space, not content).
bool fits_block_scalar(std::string_view text) noexcept;

// Appends the escaped body of a double-quoted scalar (no quotes).
template <class Text>
void append_double_quoted_body(Text& out, std::string_view text);
// Appends `"`, the escaped body and `"`.
template <class Text>
void write_double_quoted(Text& out, std::string_view text);

// Appends `'`, the text with every `'` doubled, and `'`.
template <class Text>
void write_single_quoted(Text& out, std::string_view text);
// Appends the text with every `'` doubled (no quotes).
template <class Text>
void append_single_quoted_body(Text& out, std::string_view text);

// A place where quoted text can fold: position i (0 < i < size-1) holding a
// space whose neighbours are neither spaces nor tabs.  Folding strips blanks
// around a line break on reading, so a break next to a tab would lose it.
inline bool is_fold_point(std::string_view text, std::size_t i) noexcept {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return text[i] == ' ' && !blank(text[i - 1]) && !blank(text[i + 1]);
}

// Does the text hold a fold point anywhere?
bool has_fold_point(std::string_view text) noexcept;

// Appends `body`, replacing single spaces by a line break and `indent` spaces
// where the next word would end past `width` (the current line is measured
// from the last line feed of `out`).  A word longer than the width stays whole.
template <class Text>
void write_folded(Text& out, std::string_view body, std::size_t indent,
                  std::size_t width);

// Appends `indicator` ('|' or '>') and the chomping indicator the text needs:
// nothing for exactly one final line feed after some content (clip), "-" for
// none (strip), "+" otherwise (keep).
template <class Text>
void write_block_header(Text& out, std::string_view text, char indicator);

// Appends a line feed ending the header line, then every line of the text
// (final line feeds removed first) indented by `indent` spaces (empty lines
// bare), each ended by a line feed; then one more line feed for every final
// line feed past the first.
template <class Text>
void write_literal_lines(Text& out, std::string_view text, std::size_t indent);

// Appends the body of a folded block scalar for `text` (a line feed ending
// the header line first), laid out so that folding gives back `text`.
template <class Text>
void write_folded_block_lines(Text& out, std::string_view text, std::size_t indent);

// Number of bytes of `out` after its last line feed (all of it when none).
std::size_t current_column(std::string_view out) noexcept;

template <class Text>
inline void append_spaces(Text& out, std::size_t n) {
  out.append(n, ' ');
}

}  // namespace kestrine
