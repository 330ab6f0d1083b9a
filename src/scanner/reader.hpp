// The scanner's cursor over the input text: look-ahead, movement with
// position tracking, and the character classes the grammar needs.
//
// Every look-ahead is bounds-checked and yields 0 past the end of the text.
// The control-character check rejects U+0000 before tokenizing starts, so a
// 0 byte seen by the tokenizer always means "end of text".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scanner/scanner.hpp"
#include "scanner/span.hpp"
#include "util/utf8.hpp"

namespace kestrine::scan {

// ---- character classes ------------------------------------------------------

inline constexpr bool is_blank(unsigned char c) noexcept { return c == ' ' || c == '\t'; }
inline constexpr bool is_break(unsigned char c) noexcept { return c == '\n' || c == '\r'; }
// Blank (space, tab), line break, or the end of the text (the reader gives 0
// past the end).
inline constexpr bool is_blank_break_or_end(unsigned char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0;
}
inline constexpr bool is_flow_indicator(unsigned char c) noexcept {
  return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}
inline constexpr bool is_hex_digit(unsigned char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// The value of a hexadecimal digit (is_hex_digit must hold).
inline constexpr unsigned hex_digit_value(unsigned char c) noexcept {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}
inline constexpr bool is_continuation(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 sequence introduced by `lead` (1 for stray bytes).
inline constexpr std::size_t utf8_length(unsigned char lead) noexcept {
  return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

namespace detail {
// Bytes that stop a run of ordinary plain-scalar characters.
constexpr std::array<bool, 256> make_plain_stops(bool flow) {
  std::array<bool, 256> t{};
  for (unsigned char c : {'\0', ' ', '\t', '\n', '\r', '#', ':'}) t[c] = true;
  if (flow) {
    for (unsigned char c : {',', '[', ']', '{', '}'}) t[c] = true;
  }
  return t;
}
}  // namespace detail

inline constexpr std::array<bool, 256> kPlainStopBlock = detail::make_plain_stops(false);
inline constexpr std::array<bool, 256> kPlainStopFlow = detail::make_plain_stops(true);

// Index of the first LF or CR in [p, end), or end - p when there is none.
std::size_t find_line_break(const unsigned char* p, const unsigned char* end) noexcept;

// Index of the first byte at or after `i` that equals one of `Cs`, or `len`;
// sets `non_ascii` when a byte above 0x7F lies before it.
template <unsigned char... Cs>
inline std::size_t find_first_of(const unsigned char* text, std::size_t i, std::size_t len,
                                 bool& non_ascii) noexcept {
#if defined(__SSE2__)
  while (len - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(Cs))))), ...);
    const auto stop_mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    const auto high_mask = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (stop_mask != 0) {
      if (high_mask & ((stop_mask & (0u - stop_mask)) - 1)) non_ascii = true;
      return i + static_cast<unsigned>(__builtin_ctz(stop_mask));
    }
    if (high_mask) non_ascii = true;
    i += 16;
  }
#endif
  unsigned char high = 0;
  while (i < len && ((text[i] != Cs) && ...)) high |= text[i++];
  if (high & 0x80) non_ascii = true;
  return i;
}

// The first disallowed control character at or after `from`, if any:
// U+0000-U+0008, U+000B, U+000C, U+000E-U+001F, U+007F, U+0080-U+009F except
// U+0085, U+FFFE, U+FFFF.  Returns false and fills `error` when one is found;
// its span counts lines and columns from `from`.  When the check passes and
// `ascii` is given, it tells whether every byte from `from` on is ASCII.
bool check_control_characters(std::string_view text, std::size_t from, std::uint32_t file_id,
                              ScanError& error, bool* ascii = nullptr);

// ---- the reader -------------------------------------------------------------

struct Mark {
  std::size_t offset;
  std::uint32_t line;
  std::uint32_t column;
};

struct Reader {
  const unsigned char* text = nullptr;
  std::size_t length = 0;
  std::size_t offset = 0;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t file_id = 0;

  // Byte `k` positions after the cursor, 0 past the end.
  unsigned char at(std::size_t k = 0) const noexcept {
    std::size_t i = offset + k;
    return i < length ? text[i] : 0;
  }
  bool at_end() const noexcept { return offset >= length; }
  const unsigned char* ptr() const noexcept { return text + offset; }
  const unsigned char* end_ptr() const noexcept { return text + length; }

  Span span() const noexcept { return Span{file_id, line, column, offset}; }
  Mark mark() const noexcept { return Mark{offset, line, column}; }
  void reset(const Mark& m) noexcept {
    offset = m.offset;
    line = m.line;
    column = m.column;
  }

  // The character at the cursor (U+0000 at the end).
  char32_t peek_char() const noexcept;
  // UTF-8 length of the character at the cursor, clamped to the text.
  std::size_t char_length() const noexcept {
    if (offset >= length) return 0;
    std::size_t n = utf8_length(text[offset]);
    return n <= length - offset ? n : length - offset;
  }

  // Moves over `n` ASCII bytes that hold no line break.
  void advance_ascii(std::size_t n) noexcept {
    offset += n;
    column += static_cast<std::uint32_t>(n);
  }
  // Moves over one character.
  void advance_char() noexcept {
    std::size_t n = char_length();
    offset += n;
    column += n ? 1 : 0;
  }
  // Moves over `n` bytes that hold no line break, counting characters.
  void advance_run(std::size_t n) noexcept {
    column += static_cast<std::uint32_t>(
        utf8_char_count(std::string_view(reinterpret_cast<const char*>(text + offset), n)));
    offset += n;
  }

  // At LF or CR: moves past it (CR LF counts once); line + 1, column 0.
  void consume_line_break() noexcept {
    unsigned char c = at();
    if (c == '\r') {
      ++offset;
      if (at() == '\n') ++offset;
    } else if (c == '\n') {
      ++offset;
    } else {
      return;
    }
    ++line;
    column = 0;
  }

  void skip_spaces() noexcept {
    std::size_t i = offset;
    while (i < length && text[i] == ' ') ++i;
    column += static_cast<std::uint32_t>(i - offset);
    offset = i;
  }
  void skip_blanks() noexcept {
    std::size_t i = offset;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    column += static_cast<std::uint32_t>(i - offset);
    offset = i;
  }
  // Offset of the first non-blank byte at or after the cursor (length at end).
  std::size_t next_non_blank_offset() const noexcept {
    std::size_t i = offset;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    return i;
  }
  unsigned char next_non_blank() const noexcept {
    std::size_t i = next_non_blank_offset();
    return i < length ? text[i] : 0;
  }

  // Moves to the end of the current line (the break is not consumed).
  void skip_to_line_end() noexcept {
    std::size_t n = find_line_break(text + offset, text + length);
    if (offset + n >= length) {
      advance_run(n);  // the column matters only when the text ends here
    } else {
      offset += n;
    }
  }

  bool match_marker(const char* marker) const noexcept {
    return offset + 3 <= length && std::memcmp(text + offset, marker, 3) == 0;
  }
  // Column 0, "---" or "..." and then a blank, a line break or the end.
  bool at_document_marker() const noexcept {
    return column == 0 && offset + 3 <= length &&
           (std::memcmp(text + offset, "---", 3) == 0 ||
            std::memcmp(text + offset, "...", 3) == 0) &&
           is_blank_break_or_end(at(3));
  }
  void advance_three() noexcept {
    for (int i = 0; i < 3 && offset < length; ++i) advance_char();
  }

  // Moves over spaces while the column is below `indent`, and over line
  // breaks followed by such spaces; returns the number of breaks consumed.
  std::size_t skip_to_indent(std::uint32_t indent) noexcept {
    std::size_t breaks = 0;
    for (;;) {
      while (column < indent && at() == ' ') advance_ascii(1);
      if (!is_break(at())) return breaks;
      consume_line_break();
      ++breaks;
    }
  }
};

ScanError tab_indent_error(const Span& span);

}  // namespace kestrine::scan
