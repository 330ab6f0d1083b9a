#include "util/debug_quote.hpp"

namespace kestrine {
namespace {

bool is_non_printable(char32_t c) noexcept {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  switch (c) {
    case 0xAD: case 0x061C: case 0x06DD: case 0x070F: case 0x180E: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000: case 0xFEFF:
    case 0xA0: case 0xFFFE: case 0xFFFF:
      return true;
    default: break;
  }
  return (c >= 0x0600 && c <= 0x0605) || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
         (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xD800 && c <= 0xDFFF);
}

void append_escaped(std::string& out, char32_t c, char quote) {
  switch (c) {
    case 0: out += "\\0"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\\': out += "\\\\"; return;
    default: break;
  }
  if (c == static_cast<char32_t>(quote)) {
    out.push_back('\\');
    out.push_back(quote);
    return;
  }
  if (is_non_printable(c)) {
    static constexpr char kHex[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    char32_t v = c;
    do {
      buf[n++] = kHex[v & 0xF];
      v >>= 4;
    } while (v != 0);
    out += "\\u{";
    while (n > 0) out.push_back(buf[--n]);
    out.push_back('}');
    return;
  }
  append_utf8(out, c);
}

}  // namespace

std::string debug_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) append_escaped(out, next_code_point(text, i), '"');
  out.push_back('"');
  return out;
}

std::string debug_quoted_char(char32_t ch) {
  std::string out = "'";
  append_escaped(out, ch, '\'');
  out.push_back('\'');
  return out;
}

}  // namespace kestrine
