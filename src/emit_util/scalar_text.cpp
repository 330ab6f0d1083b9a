#include "emit_util/scalar_text.hpp"

#include <cstring>
#include <string>

#include "util/large_block.hpp"

namespace kestrine {
namespace {

constexpr char kHex[] = "0123456789abcdef";

inline unsigned char byte_at(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

// Bytes that never need a closer look when testing or escaping: printable
// ASCII other than the quote characters and the backslash.
struct ByteClass {
  bool plain_ascii[256] = {};
  constexpr ByteClass() {
    for (int c = 0x20; c < 0x7F; ++c) plain_ascii[c] = true;
  }
};
constexpr ByteClass kBytes{};

// Number of line feeds ending the text.
inline std::size_t trailing_line_feeds(std::string_view text) noexcept {
  std::size_t n = 0;
  while (n < text.size() && text[text.size() - 1 - n] == '\n') ++n;
  return n;
}

// Every byte may stand in a block scalar: no control character but tab and
// line feed, no DEL, none of the multi-byte characters that must be escaped.
bool block_scalar_bytes(std::string_view text) noexcept {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = byte_at(text, i);
    if (b < 0x80) {
      if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) return false;
    } else if (escaped_multibyte_length(text, i) != 0) {
      return false;
    }
  }
  return true;
}

// Code point of a character found by `escaped_multibyte_length`.
inline unsigned special_code_point(std::string_view s, std::size_t i, std::size_t len) noexcept {
  if (len == 2) return byte_at(s, i + 1);  // U+0080..U+009F
  unsigned b1 = byte_at(s, i + 1) & 0x3F, b2 = byte_at(s, i + 2) & 0x3F;
  return ((byte_at(s, i) & 0x0Fu) << 12) | (b1 << 6) | b2;
}

}  // namespace

bool is_printable_single_line(std::string_view text) noexcept {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = byte_at(text, i);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F) return false;
      continue;
    }
    if (escaped_multibyte_length(text, i) != 0) return false;
  }
  return true;
}

bool fits_literal_block(std::string_view text) noexcept {
  if (text.find('\n') == std::string_view::npos) return false;
  if (!block_scalar_bytes(text)) return false;
  // The first non-empty line decides the block's indentation.
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && text[i] == '\n') ++i;
  if (i == n) return true;
  return text[i] != ' ' && text[i] != '\t';
}

bool fits_block_scalar(std::string_view text) noexcept {
  if (!block_scalar_bytes(text)) return false;
  const std::string_view body = text.substr(0, text.size() - trailing_line_feeds(text));
  // The first non-empty line sets the block's indentation.
  std::size_t i = 0;
  while (i < body.size() && body[i] == '\n') ++i;
  if (i < body.size() && (body[i] == ' ' || body[i] == '\t')) return false;
  // A last line of blanks would read as trailing space, not content.
  const std::size_t ls = body.rfind('\n');
  const std::string_view last = body.substr(ls == std::string_view::npos ? 0 : ls + 1);
  if (!last.empty() && last.find_first_not_of(" \t") == std::string_view::npos) return false;
  return true;
}

template <class Text>
void append_double_quoted_body(Text& out, std::string_view text) {
  const std::size_t n = text.size();
  std::size_t run = 0;  // start of the pending run of bytes copied unchanged
  for (std::size_t i = 0; i < n;) {
    unsigned char b = byte_at(text, i);
    if (kBytes.plain_ascii[b] && b != '"' && b != '\\') {
      ++i;
      continue;
    }
    std::size_t len = 1;
    const char* esc = nullptr;
    unsigned hex = 0;
    int hex_digits = 0;
    if (b < 0x80) {
      switch (b) {
        case 0: esc = "\\0"; break;
        case '\t': esc = "\\t"; break;
        case '\n': esc = "\\n"; break;
        case '\r': esc = "\\r"; break;
        case '"': esc = "\\\""; break;
        case '\\': esc = "\\\\"; break;
        default: hex = b; hex_digits = 2; break;  // other C0 controls and DEL
      }
    } else {
      len = escaped_multibyte_length(text, i);
      if (len == 0) {  // any other non-ASCII character passes unchanged
        ++i;
        continue;
      }
      unsigned cp = special_code_point(text, i, len);
      if (cp == 0x85) {
        esc = "\\N";
      } else if (cp == 0x2028) {
        esc = "\\L";
      } else if (cp == 0x2029) {
        esc = "\\P";
      } else if (cp < 0x100) {
        hex = cp;
        hex_digits = 2;
      } else {
        hex = cp;
        hex_digits = 4;
      }
    }
    out.append(text.data() + run, i - run);
    if (esc != nullptr) {
      out.append(esc, 2);
    } else if (hex_digits == 2) {
      char buf[4] = {'\\', 'x', kHex[(hex >> 4) & 0xF], kHex[hex & 0xF]};
      out.append(buf, 4);
    } else {
      char buf[6] = {'\\', 'u', kHex[(hex >> 12) & 0xF], kHex[(hex >> 8) & 0xF],
                     kHex[(hex >> 4) & 0xF], kHex[hex & 0xF]};
      out.append(buf, 6);
    }
    i += len;
    run = i;
  }
  out.append(text.data() + run, n - run);
}

template <class Text>
void write_double_quoted(Text& out, std::string_view text) {
  out.push_back('"');
  append_double_quoted_body(out, text);
  out.push_back('"');
}

template <class Text>
void append_single_quoted_body(Text& out, std::string_view text) {
  std::size_t start = 0;
  while (true) {
    const std::size_t p = text.find('\'', start);
    if (p == std::string_view::npos) break;
    out.append(text.data() + start, p + 1 - start);
    out.push_back('\'');
    start = p + 1;
  }
  out.append(text.data() + start, text.size() - start);
}

template <class Text>
void write_single_quoted(Text& out, std::string_view text) {
  out.push_back('\'');
  append_single_quoted_body(out, text);
  out.push_back('\'');
}

bool has_fold_point(std::string_view text) noexcept {
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (is_fold_point(text, i)) return true;
  }
  return false;
}

std::size_t current_column(std::string_view out) noexcept {
  // Scanned backwards: lines are short compared with the whole output.
  const char* data = out.data();
  std::size_t i = out.size();
  while (i > 0 && data[i - 1] != '\n') --i;
  return out.size() - i;
}

template <class Text>
void write_folded(Text& out, std::string_view body, std::size_t indent,
                  std::size_t width) {
  const std::size_t n = body.size();
  if (n == 0) return;
  if (n < 3) {
    out.append(body);
    return;
  }
  std::size_t col = current_column(out);
  auto next_point = [&](std::size_t from) {
    for (std::size_t i = from; i + 1 < n; ++i) {
      if (is_fold_point(body, i)) return i;
    }
    return n;
  };
  std::size_t start = 0;
  std::size_t p = next_point(1);
  while (p < n) {
    out.append(body.data() + start, p - start);
    std::size_t q = next_point(p + 1);
    if (col + (p - start) + 1 + (q - p - 1) <= width) {
      out.push_back(' ');
      col += (p - start) + 1;
    } else {
      out.push_back('\n');
      append_spaces(out, indent);
      col = indent;
    }
    start = p + 1;
    p = q;
  }
  out.append(body.data() + start, n - start);
}

template <class Text>
void write_block_header(Text& out, std::string_view text, char indicator) {
  const std::size_t feeds = trailing_line_feeds(text);
  const bool body_empty = feeds == text.size();
  out.push_back(indicator);
  if (feeds == 0) {
    out.push_back('-');
  } else if (feeds > 1 || body_empty) {
    out.push_back('+');
  }
}

template <class Text>
void write_literal_lines(Text& out, std::string_view text, std::size_t indent) {
  const std::size_t feeds = trailing_line_feeds(text);
  std::string_view body = text.substr(0, text.size() - feeds);
  out.push_back('\n');
  std::size_t start = 0;
  while (true) {
    const std::size_t lf = body.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? body.size() : lf;
    if (end > start) {
      append_spaces(out, indent);
      out.append(body.data() + start, end - start);
    }
    out.push_back('\n');
    if (lf == std::string_view::npos) break;
    start = end + 1;
  }
  if (feeds >= 2) out.append(feeds - 1, '\n');
}

template <class Text>
void write_folded_block_lines(Text& out, std::string_view text, std::size_t indent) {
  const std::size_t feeds = trailing_line_feeds(text);
  const std::string_view body = text.substr(0, text.size() - feeds);
  out.push_back('\n');
  // Between two lines that start with a non-blank, a single line break folds
  // into a space, so each break there is written as one more empty line.
  // Breaks next to more-indented lines are kept as they are.
  bool prev_folds = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = body.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? body.size() : lf;
    if (end > start) {
      const bool folds = body[start] != ' ' && body[start] != '\t';
      if (folds && prev_folds) out.push_back('\n');
      append_spaces(out, indent);
      out.append(body.data() + start, end - start);
      prev_folds = folds;
    }
    out.push_back('\n');
    if (lf == std::string_view::npos) break;
    start = end + 1;
  }
  if (feeds >= 2) out.append(feeds - 1, '\n');
}

// The two kinds of output text (see the header).
#define KESTRINE_SCALAR_TEXT_FOR(Text)                                                      \
  template void append_double_quoted_body(Text&, std::string_view);                       \
  template void write_double_quoted(Text&, std::string_view);                             \
  template void append_single_quoted_body(Text&, std::string_view);                       \
  template void write_single_quoted(Text&, std::string_view);                             \
  template void write_folded(Text&, std::string_view, std::size_t, std::size_t);          \
  template void write_block_header(Text&, std::string_view, char);                        \
  template void write_literal_lines(Text&, std::string_view, std::size_t);                \
  template void write_folded_block_lines(Text&, std::string_view, std::size_t);
KESTRINE_SCALAR_TEXT_FOR(std::string)
KESTRINE_SCALAR_TEXT_FOR(LargeText)
#undef KESTRINE_SCALAR_TEXT_FOR

}  // namespace kestrine
