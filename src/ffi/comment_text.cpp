#include "ffi/comment_text.hpp"

#include <utility>

#include "scanner/reader.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr std::string_view kUnicodeBreakMessage =
    "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines";

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

// CR LF and lone CR become LF.
std::string with_lf_breaks(std::string_view text) {
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

// A character no reader takes in a comment (a control character other than
// tab and the line breaks, U+FFFE, U+FFFF): such a comment would make the
// text written unreadable.
PyStatus check_printable(std::string_view text) {
  ScanError error;
  if (scan::check_control_characters(text, 0, 0, error)) return {};
  return fail(PyErr::value_error("a comment cannot contain a " + error.message));
}

}  // namespace

PyStatus check_inline_comment(const std::optional<std::string>& comment) noexcept {
  if (!comment) return {};
  if (comment->find_first_of("\r\n") != std::string::npos || has_unicode_line_break(*comment)) {
    return fail(PyErr::value_error(
        "an inline comment cannot contain a line break; use comment_before or comment_after for a "
        "multi-line comment"));
  }
  return check_printable(*comment);
}

PyResult<std::optional<std::string>> split_comment_lines(std::optional<std::string> text) {
  if (!text) return text;
  if (has_unicode_line_break(*text)) return fail(PyErr::value_error(kUnicodeBreakMessage));
  KESTRINE_TRY(check_printable(*text));
  if (text->find('\r') == std::string::npos) return text;
  return std::optional<std::string>(with_lf_breaks(*text));
}

PyResult<std::optional<std::string>> normalize_comment(std::optional<std::string_view> comment) {
  if (!comment) return std::optional<std::string>();
  if (has_unicode_line_break(*comment)) return fail(PyErr::value_error(kUnicodeBreakMessage));
  KESTRINE_TRY(check_printable(*comment));
  std::string lines = with_lf_breaks(*comment);
  if (!lines.empty() && lines.back() == '\n') lines.pop_back();
  return std::optional<std::string>(std::move(lines));
}

}  // namespace kestrine
