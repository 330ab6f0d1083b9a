#include "roundtrip/comments/comment_text.hpp"

#include "scanner/reader.hpp"

namespace kestrine {
namespace {

// NEL (C2 85), LINE SEPARATOR (E2 80 A8), PARAGRAPH SEPARATOR (E2 80 A9).
bool has_unicode_line_break(std::string_view text) noexcept {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == 0xC2 && static_cast<unsigned char>(text[i + 1]) == 0x85) return true;
    if (b == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
      const auto c = static_cast<unsigned char>(text[i + 2]);
      if (c == 0xA8 || c == 0xA9) return true;
    }
  }
  return false;
}

// A character no reader takes in a comment (a control character other than
// tab and the line breaks, U+FFFE, U+FFFF): such a comment would make the
// text written unreadable.
std::optional<std::string> check_printable(std::string_view text) {
  ScanError error;
  if (scan::check_control_characters(text, 0, 0, error)) return std::nullopt;
  return "a comment cannot contain a " + error.message;
}

}  // namespace

std::optional<std::string> check_inline_comment_text(std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos || has_unicode_line_break(text)) {
    return "an inline comment cannot contain a line break; use comment_before or comment_after for a multi-line "
           "comment";
  }
  return check_printable(text);
}

std::optional<std::string> check_comment_lines(std::string_view text) {
  if (has_unicode_line_break(text)) {
    return "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines";
  }
  return check_printable(text);
}

std::string comment_lines_with_lf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace kestrine
