// Scalar bodies: plain, single- and double-quoted, literal and folded.
//
// A value that needs no change is a view of the input; the first escape or
// folded line break switches to the reused scratch buffer, whose contents
// are copied once into the result's arena when the token is made.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scanner/tokenizer.hpp"

namespace kestrine::scan {

namespace {

std::string quote_char(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

// ---- plain scalars ----------------------------------------------------------

namespace {

// Index of the first byte at or after `i` that stops a run of ordinary
// plain-scalar characters (see kPlainStopBlock / kPlainStopFlow); sets
// `non_ascii` when the run holds a byte above 0x7F.  The input has passed
// the control-character check, so every byte up to 0x20 is a blank, a
// line break or (as 0) impossible.
inline std::size_t skip_plain_run(const unsigned char* text, std::size_t i, std::size_t len, bool flow,
                                  const std::array<bool, 256>& stops, bool& non_ascii) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  while (len - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, space), space),
                               _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('#')),
                                            _mm_cmpeq_epi8(v, _mm_set1_epi8(':'))));
    if (flow) {
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')),
                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('['))));
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(']')),
                                           _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('{')),
                                                        _mm_cmpeq_epi8(v, _mm_set1_epi8('}')))));
    }
    const auto stop_mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    const auto high_mask = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (stop_mask != 0) {
      const unsigned before = (stop_mask & (0u - stop_mask)) - 1;  // bits below the first stop
      if (high_mask & before) non_ascii = true;
      return i + static_cast<unsigned>(__builtin_ctz(stop_mask));
    }
    if (high_mask) non_ascii = true;
    i += 16;
  }
#else
  (void)flow;
#endif
  unsigned char high = 0;
  while (i < len && !stops[text[i]]) high |= text[i++];
  if (high & 0x80) non_ascii = true;
  return i;
}

// A ":" at `k` ends a plain scalar when a blank, a line break or the end
// follows (or, in flow context, a flow indicator).
[[gnu::always_inline]] inline bool ends_at_colon(const unsigned char* text, std::size_t len, std::size_t k,
                                                 bool flow) noexcept {
  unsigned char n = k + 1 < len ? text[k + 1] : 0;
  return is_blank_break_or_end(n) || (flow && is_flow_indicator(n));
}

// One line of a plain scalar from byte `i`: runs of ordinary characters,
// with the ":", "#" and blanks that belong to the scalar.  Gives the byte it
// stopped at; `content_end` is past the last non-blank content byte and
// `line_end` tells whether a line break (or the end) stopped it.  The hot
// phase of the plain-scalar scan, inlined into it.
[[gnu::always_inline]] inline std::size_t scan_plain_line(const unsigned char* text, std::size_t len,
                                                          std::size_t i, bool flow,
                                                          const std::array<bool, 256>& stops,
                                                          bool& non_ascii, std::size_t& content_end,
                                                          bool& line_end) noexcept {
  line_end = false;
  for (;;) {
    std::size_t run = i;
    i = skip_plain_run(text, i, len, flow, stops, non_ascii);
    if (i > run) content_end = i;
    unsigned char c = i < len ? text[i] : 0;
    if (c == ':') {
      if (ends_at_colon(text, len, i, flow)) return i;
      content_end = ++i;
      continue;
    }
    if (c == '#') {  // directly after a non-blank character: part of the scalar
      content_end = ++i;
      continue;
    }
    if (c == ' ' || c == '\t') {
      while (i < len && is_blank(text[i])) ++i;
      unsigned char n = i < len ? text[i] : 0;
      if (n == '#') return i;
      if (n == 0 || is_break(n)) {
        line_end = true;
        return i;
      }
      if (n == ':' && ends_at_colon(text, len, i, flow)) return i;
      if (flow && is_flow_indicator(n)) return i;
      continue;
    }
    if (c == 0 || is_break(c)) {
      line_end = true;
      return i;
    }
    if (flow && is_flow_indicator(c)) return i;
    content_end = ++i;  // any other byte the block scan stopped at is content
  }
}

}  // namespace

// Past a line break inside a plain scalar: moves over empty lines and the
// next content line's indentation.  Gives the number of empty lines;
// `tab_in_line` tells whether that indentation held a tab.  Inlined: it runs
// after nearly every block-context plain scalar.
[[gnu::always_inline]] inline std::size_t Tokenizer::skip_to_content_line(bool& tab_in_line) {
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  std::size_t empty_lines = 0;
  for (;;) {
    std::size_t j = r_.offset;
    tab_in_line = false;
    for (; j < len; ++j) {
      if (text[j] == '\t') {
        tab_in_line = true;
      } else if (text[j] != ' ') {
        break;
      }
    }
    r_.advance_ascii(j - r_.offset);
    if (!is_break(r_.at())) return empty_lines;
    r_.consume_line_break();
    ++empty_lines;
  }
}

// A plain scalar read from `start` to `end`: a key when ":" follows (where
// keys are allowed), else a value.
[[gnu::always_inline]] inline bool Tokenizer::finish_plain_scalar(const Span& start, std::size_t end, std::string_view value,
                                    bool allowed, bool tab) {
  const bool flow = in_flow();
  const bool multi_line = r_.line != start.line;
  if (!flow) simple_key_allowed_ = multi_line;
  if (candidate_.present && candidate_.span.line != r_.line && !drop_key_candidate()) return false;
  const bool colon_follows = r_.at() == ':' && ends_at_colon(r_.text, r_.length, r_.offset, flow);

  if (allowed && colon_follows) {
    bool is_key = true;
    if (!flow) {
      if (multi_line) {
        if (r_.column < start.column) {
          is_key = false;
        } else {
          return fail("an implicit mapping key cannot span multiple lines", start);
        }
      } else if (tab) {
        error_ = tab_indent_error(start);
        return false;
      }
      if (is_key && !roll_indent(start.column, EventKind::MappingStart, start)) return false;
    } else if (multi_line && in_flow_sequence()) {
      return fail("the implicit key of a flow sequence pair must be on one line", start);
    }
    if (is_key) {
      push(EventKind::Key, start);
      push_text(EventKind::Scalar, start, end, value).style = ScalarStyle::Plain;
      queue_value_indicator();
      if (!flow) key_line_ = r_.line;
      return true;
    }
  }
  if (flow && multi_line && colon_follows && !explicit_flow_key_) return fail(kMissingComma, start);
  // Only a key stands at a block mapping's key column: "k:\nv", "?\nv" and
  // "k:\n-\nv" hold no value, key or item v.
  if (at_key_column(start)) [[unlikely]] return fail(kExpectedColon, start);
  push_text(EventKind::Scalar, start, end, value).style = ScalarStyle::Plain;
  if (flow) {
    // The scalar ran as far as it could ("[a\n#c\n b]" ends at the comment),
    // so only ',', ':' or a closing bracket may follow.
    entry_complete_ = true;
    entry_line_ = start.line;
  }
  return true;
}

bool Tokenizer::scan_plain_scalar() {
  const Span start = r_.span();
  const bool flow = in_flow();
  const bool allowed = simple_key_allowed_ && (!flow || !explicit_flow_key_);
  const bool tab = tab_in_indent_;
  const auto& stops = flow ? kPlainStopFlow : kPlainStopBlock;
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;

  bool buffered = false;
  bool non_ascii = false;               // the current line holds multi-byte characters
  std::size_t line_start = r_.offset;   // first byte of the current line's content
  std::size_t content_end = r_.offset;  // just past its last non-blank byte
  std::size_t i = r_.offset;

  for (;;) {
    bool line_end;
    i = scan_plain_line(text, len, i, flow, stops, non_ascii, content_end, line_end);
    if (non_ascii) {
      r_.advance_run(i - r_.offset);
      non_ascii = false;
    } else {
      r_.advance_ascii(i - r_.offset);
    }
    if (!line_end || r_.at_end()) break;

    // At a line break: look at the next content line.  When the scalar ends
    // there, the cursor stays on that line's first content character; a tab
    // in that line's indentation is handed to the next token.
    r_.consume_line_break();
    bool tab_in_line = false;
    const std::size_t empty_lines = skip_to_content_line(tab_in_line);
    const unsigned char n = r_.at();
    if (flow && !r_.at_end() && n != '#' && static_cast<std::int64_t>(r_.column) <= flow_block_indent_) {
      return fail("flow content must be indented more than its block context", r_.span());
    }
    if (r_.at_end() || n == '#' ||
        (!flow && (static_cast<std::int64_t>(r_.column) <= indent_ || r_.at_document_marker())) ||
        (n == ':' && ends_at_colon(text, len, r_.offset, flow)) || (flow && is_flow_indicator(n))) {
      if (!flow) pending_tab_in_indent_ = tab_in_line;
      break;
    }
    // Join the lines.
    if (!buffered) {
      scratch_.assign(reinterpret_cast<const char*>(text) + line_start, content_end - line_start);
      buffered = true;
    } else {
      scratch_.append(reinterpret_cast<const char*>(text) + line_start, content_end - line_start);
    }
    if (empty_lines == 0) {
      scratch_.push_back(' ');
    } else {
      scratch_.append(empty_lines, '\n');
    }
    line_start = content_end = i = r_.offset;
  }

  std::string_view value;
  if (buffered) {
    scratch_.append(reinterpret_cast<const char*>(text) + line_start, content_end - line_start);
    value = store(scratch_);
  } else {
    value = std::string_view(reinterpret_cast<const char*>(text) + start.offset,
                             content_end - start.offset);
  }
  return finish_plain_scalar(start, content_end, value, allowed, tab);
}

// ---- quoted scalars ---------------------------------------------------------

void Tokenizer::append_raw(std::size_t from, std::size_t to, std::size_t& content_end) {
  if (to <= from) return;
  scratch_.append(reinterpret_cast<const char*>(r_.text) + from, to - from);
  std::size_t k = to;
  while (k > from && is_blank(r_.text[k - 1])) --k;
  if (k > from) content_end = scratch_.size() - (to - k);
}

bool Tokenizer::fold_quoted_line() {
  r_.consume_line_break();
  std::size_t empty_lines = 0;
  for (;;) {
    r_.skip_spaces();
    std::size_t j = r_.next_non_blank_offset();
    if (j < r_.length && is_break(r_.text[j])) {
      r_.advance_ascii(j - r_.offset);
      r_.consume_line_break();
      ++empty_lines;
      continue;
    }
    break;
  }
  unsigned char c = r_.at();
  if (c != 0 && !is_break(c) && static_cast<std::int64_t>(r_.column) <= indent_) {
    return fail("a multi-line quoted scalar must be indented past its block context", r_.span());
  }
  r_.skip_blanks();
  if (empty_lines == 0) {
    scratch_.push_back(' ');
  } else {
    scratch_.append(empty_lines, '\n');
  }
  return true;
}

bool Tokenizer::scan_escape(std::size_t& content_end, const Span& quote) {
  // The cursor stands on the character after the backslash.
  if (r_.at_end()) return fail("unterminated escape sequence", quote);
  const unsigned char c = r_.at();
  char32_t produced;
  int digits = 0;
  switch (c) {
    case '0': produced = 0x00; break;
    case 'a': produced = 0x07; break;
    case 'b': produced = 0x08; break;
    case 't':
    case '\t': produced = 0x09; break;
    case 'n': produced = 0x0A; break;
    case 'v': produced = 0x0B; break;
    case 'f': produced = 0x0C; break;
    case 'r': produced = 0x0D; break;
    case 'e': produced = 0x1B; break;
    case ' ': produced = 0x20; break;
    case '"': produced = '"'; break;
    case '/': produced = '/'; break;
    case '\\': produced = '\\'; break;
    case 'N': produced = 0x85; break;
    case '_': produced = 0xA0; break;
    case 'L': produced = 0x2028; break;
    case 'P': produced = 0x2029; break;
    case 'x': digits = 2; produced = 0; break;
    case 'u': digits = 4; produced = 0; break;
    case 'U': digits = 8; produced = 0; break;
    case '\n':
    case '\r': {
      // An escaped line break joins the lines without a space.
      r_.consume_line_break();
      for (;;) {
        r_.skip_spaces();
        if (!is_break(r_.at())) break;
        scratch_.push_back('\n');
        r_.consume_line_break();
      }
      content_end = scratch_.size();
      if (r_.at_document_marker()) {
        return fail("a document marker cannot appear inside a quoted scalar", quote);
      }
      return true;
    }
    default: {
      std::string m = "unknown escape character: '\\";
      m.append(reinterpret_cast<const char*>(r_.ptr()), r_.char_length());
      m += "'";
      return fail(std::move(m), r_.span());
    }
  }
  r_.advance_ascii(1);
  if (digits > 0) {
    std::uint64_t value = 0;
    for (int k = 0; k < digits; ++k) {
      if (r_.at_end()) return fail("incomplete unicode escape", quote);
      unsigned char d = r_.at();
      if (!is_hex_digit(d)) {
        std::string ch(reinterpret_cast<const char*>(r_.ptr()), r_.char_length());
        return fail("invalid hex digit in unicode escape: " + quote_char(ch), r_.span());
      }
      value = value * 16 + hex_digit_value(d);
      r_.advance_ascii(1);
    }
    if (digits == 4 && value >= 0xD800 && value <= 0xDBFF) value = combine_surrogates(value);
    if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "invalid unicode code point: U+%04llX",
                    static_cast<unsigned long long>(value));
      return fail(msg, quote);
    }
    produced = static_cast<char32_t>(value);
  }
  if (produced >= 0x80) result_.ascii_texts = false;
  append_utf8(scratch_, produced);
  content_end = scratch_.size();
  return true;
}

// A high surrogate "\uD83D" directly followed by a low one "\uDCA9" (how
// JSON writes characters beyond the BMP) is one character; the cursor then
// moves past the second escape.  Anything else leaves the cursor and the
// (lone, refused) surrogate as they are.
std::uint64_t Tokenizer::combine_surrogates(std::uint64_t high) {
  if (r_.at(0) != '\\' || r_.at(1) != 'u') return high;
  std::uint64_t low = 0;
  for (std::size_t k = 2; k < 6; ++k) {
    const unsigned char d = r_.at(k);
    if (!is_hex_digit(d)) return high;
    low = low * 16 + hex_digit_value(d);
  }
  if (low < 0xDC00 || low > 0xDFFF) return high;
  r_.advance_ascii(6);
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

bool Tokenizer::scan_quoted_scalar(bool single) {
  const Span quote = r_.span();
  const bool allowed = simple_key_allowed_ && (!in_flow() || !explicit_flow_key_);
  const bool tab = tab_in_indent_;
  const unsigned char q = single ? '\'' : '"';
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  r_.advance_ascii(1);

  bool buffered = false;
  std::size_t content_end = 0;
  std::size_t segment = r_.offset;  // start of the raw text not yet in the buffer
  auto to_buffer = [&]() {
    if (!buffered) {
      scratch_.clear();
      buffered = true;
    }
  };

  for (;;) {
    bool non_ascii = false;
    const std::size_t i = single ? find_first_of<'\'', '\n', '\r'>(text, r_.offset, len, non_ascii)
                                 : find_first_of<'"', '\\', '\n', '\r'>(text, r_.offset, len, non_ascii);
    if (non_ascii) {
      r_.advance_run(i - r_.offset);
    } else {
      r_.advance_ascii(i - r_.offset);
    }
    if (i >= len) {
      return fail(single ? "unterminated single-quoted scalar" : "unterminated double-quoted scalar",
                  quote);
    }
    const unsigned char c = text[i];
    if (c == q) {
      if (single && r_.at(1) == '\'') {  // '' stands for one quote
        to_buffer();
        append_raw(segment, i + 1, content_end);
        r_.advance_ascii(2);
        segment = r_.offset;
        continue;
      }
      break;
    }
    to_buffer();
    append_raw(segment, i, content_end);
    if (c == '\\') {
      r_.advance_ascii(1);
      if (!scan_escape(content_end, quote)) return false;
    } else {
      scratch_.resize(content_end);
      if (!fold_quoted_line()) return false;
      content_end = scratch_.size();
      if (r_.at_document_marker()) {
        return fail("a document marker cannot appear inside a quoted scalar", quote);
      }
    }
    segment = r_.offset;
  }

  std::string_view value;
  if (buffered) {
    append_raw(segment, r_.offset, content_end);
    value = store(scratch_);
  } else {
    value = std::string_view(reinterpret_cast<const char*>(text) + segment, r_.offset - segment);
  }
  r_.advance_ascii(1);  // closing quote
  return finish_quoted_scalar(quote, r_.offset, value,
                              single ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted, allowed,
                              tab);
}

bool Tokenizer::finish_quoted_scalar(const Span& start, std::size_t end, std::string_view value,
                                     ScalarStyle style, bool allowed, bool tab) {
  // Only escapes can make a value longer than its source ("\L" is two bytes
  // for three); event texts are 32-bit.
  if (value.size() > kMaxScanBytes) return fail("scalar value too long", start);
  const bool flow = in_flow();
  if (allowed) {
    std::size_t j = r_.offset;
    while (j < r_.length && r_.text[j] == ' ') ++j;
    if (j < r_.length && r_.text[j] == ':') {
      unsigned char n = j + 1 < r_.length ? r_.text[j + 1] : 0;
      if (is_blank_break_or_end(n) || (flow && is_flow_indicator(n))) {
        if (!flow) {
          if (start.line != r_.line) {
            return fail("an implicit mapping key cannot span multiple lines", start);
          }
          if (tab) {
            error_ = tab_indent_error(start);
            return false;
          }
          if (!roll_indent(start.column, EventKind::MappingStart, start)) return false;
        }
        push(EventKind::Key, start);
        push_text(EventKind::Scalar, start, end, value).style = style;
        r_.advance_ascii(j - r_.offset);
        queue_value_indicator();
        if (!flow) key_line_ = r_.line;
        return true;
      }
    }
  }
  if (!flow) {
    std::size_t j = r_.next_non_blank_offset();
    unsigned char nb = j < r_.length ? r_.text[j] : 0;
    if (!(nb == 0 || is_break(nb) || nb == '#' || nb == ':')) {
      Span at = r_.span();
      at.column += static_cast<std::uint32_t>(j - r_.offset);
      at.offset = j;
      return fail("unexpected content after quoted scalar", at);
    }
    if (at_key_column(start)) return fail(kExpectedColon, start);
  }
  push_text(EventKind::Scalar, start, end, value).style = style;
  simple_key_allowed_ = false;
  if (flow) {
    entry_complete_ = true;
    json_like_before_ = true;
    entry_line_ = start.line;
  }
  return true;
}

// ---- block scalars ----------------------------------------------------------

// The block scalar header after "|" or ">": chomping and indentation
// indicators in either order, then an optional comment and the line break.
bool Tokenizer::block_scalar_header(int& chomp, std::uint32_t& explicit_indent) {
  bool chomp_seen = false;
  for (int k = 0; k < 2; ++k) {
    unsigned char c = r_.at();
    if ((c == '+' || c == '-') && !chomp_seen) {
      chomp = c == '+' ? 1 : -1;
      chomp_seen = true;
      r_.advance_ascii(1);
    } else if (c >= '1' && c <= '9' && explicit_indent == 0) {
      explicit_indent = c - '0';
      r_.advance_ascii(1);
    } else {
      break;
    }
  }
  std::size_t j = r_.next_non_blank_offset();
  unsigned char c = j < r_.length ? r_.text[j] : 0;
  Span at = r_.span();
  at.column += static_cast<std::uint32_t>(j - r_.offset);
  at.offset = j;
  if (c == '#') {
    if (j == r_.offset) return fail("a comment must be preceded by whitespace", at);
    r_.advance_ascii(j - r_.offset);
    skip_comment();
  } else if (c != 0 && !is_break(c)) {
    return fail("unexpected content after block scalar indicator", at);
  } else {
    r_.advance_ascii(j - r_.offset);
  }
  r_.consume_line_break();
  return true;
}

// The content indentation taken from the first non-empty line; -1 when no
// content line follows.  Fails when a leading empty line is wider.
bool Tokenizer::detect_block_indent(const Span& indicator, std::int64_t& content_indent) {
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  std::size_t p = r_.offset;
  std::size_t widest_empty = 0;
  while (p < len) {
    std::size_t s = p;
    while (s < len && text[s] == ' ') ++s;
    if (s < len && is_break(text[s])) {
      widest_empty = std::max(widest_empty, s - p);
      p = s + ((text[s] == '\r' && s + 1 < len && text[s + 1] == '\n') ? 2 : 1);
      continue;
    }
    if (s < len) {
      const auto detected = static_cast<std::int64_t>(s - p);
      if (detected > indent_) {
        if (widest_empty > s - p) {
          return fail("a leading empty line in a block scalar is indented more than the content",
                      indicator);
        }
        content_indent = detected;
      }
    }
    return true;
  }
  return true;
}

// A block scalar without content lines: the following blank lines still
// belong to it (counted in `breaks`); a tab among them is refused.
bool Tokenizer::block_scalar_blank_lines(std::size_t& breaks) {
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  for (;;) {
    std::size_t j = r_.offset;
    while (j < len && is_blank(text[j])) ++j;
    if (j < len && !is_break(text[j])) return true;
    for (std::size_t k = r_.offset; k < j; ++k) {
      if (text[k] == '\t') {
        Span at = r_.span();
        at.column += static_cast<std::uint32_t>(k - r_.offset);
        at.offset = k;
        error_ = tab_indent_error(at);
        return false;
      }
    }
    if (j >= len) {
      if (j > r_.offset) ++breaks;  // a last line of blanks without a break
      r_.advance_ascii(j - r_.offset);
      return true;
    }
    r_.advance_ascii(j - r_.offset);
    r_.consume_line_break();
    ++breaks;
  }
}

// The content lines at `indent` into `scratch_`, folded unless `literal`;
// `breaks` counts the line breaks after the last of them.
void Tokenizer::block_scalar_lines(std::uint32_t indent, bool literal, std::size_t& breaks,
                                   bool& has_content) {
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  bool prev_more_indented = false;
  for (;;) {
    breaks += r_.skip_to_indent(indent);
    if (r_.at_end() || r_.column != indent || r_.at_document_marker()) return;
    const std::size_t line_start = r_.offset;
    const std::size_t n = find_line_break(r_.ptr(), r_.end_ptr());
    const bool more_indented = is_blank(text[line_start]);
    if (!has_content || literal || more_indented || prev_more_indented) {
      scratch_.append(breaks, '\n');
    } else if (breaks == 1) {
      scratch_.push_back(' ');
    } else {
      scratch_.append(breaks - 1, '\n');
    }
    scratch_.append(reinterpret_cast<const char*>(text) + line_start, n);
    has_content = true;
    prev_more_indented = more_indented;
    breaks = 0;
    if (line_start + n >= len) {
      r_.advance_run(n);
      // The text ends inside this line: no line break follows content, but a
      // last line of blanks still counts as a line.
      const auto* first = text + line_start;
      breaks = std::all_of(first, first + n, [](unsigned char ch) { return is_blank(ch); }) ? 1 : 0;
      return;
    }
    r_.offset += n;
    r_.consume_line_break();
    breaks = 1;
  }
}

bool Tokenizer::scan_block_scalar(bool literal) {
  const Span indicator = r_.span();
  r_.advance_ascii(1);
  int chomp = 0;  // -1 strip, 0 clip, +1 keep
  std::uint32_t explicit_indent = 0;
  if (!block_scalar_header(chomp, explicit_indent)) return false;

  const std::int64_t base = indent_ < 0 ? 0 : indent_;
  std::int64_t content_indent = -1;  // -1: no content lines
  if (explicit_indent != 0) {
    content_indent = base + explicit_indent;
  } else if (!detect_block_indent(indicator, content_indent)) {
    return false;
  }

  scratch_.clear();
  std::size_t breaks = 0;
  bool has_content = false;
  if (content_indent < 0) {
    if (!block_scalar_blank_lines(breaks)) return false;
  } else {
    block_scalar_lines(static_cast<std::uint32_t>(content_indent), literal, breaks, has_content);
  }

  // Chomping.
  if (!has_content) {
    scratch_.clear();
    if (chomp > 0) scratch_.append(breaks, '\n');
  } else if (chomp == 0) {
    if (breaks > 0) scratch_.push_back('\n');
  } else if (chomp > 0) {
    scratch_.append(breaks, '\n');
  }

  simple_key_allowed_ = true;
  if (candidate_.present && !drop_key_candidate()) return false;
  std::string_view value = scratch_.empty() ? std::string_view() : store(scratch_);
  push_text(EventKind::Scalar, indicator, r_.offset, value).style =
      literal ? ScalarStyle::Literal : ScalarStyle::Folded;
  return true;
}

}  // namespace kestrine::scan
