#include "roundtrip/emit/scalar_style_check.hpp"

#include <cstddef>

#include "emit_util/plain_scalar.hpp"

namespace kestrine {
namespace {

inline unsigned char byte_at(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

inline bool contains(std::string_view text, char c) noexcept {
  return text.find(c) != std::string_view::npos;
}

// Does the text hold a control character other than those allowed?  Tab and
// line feed are tested through the flags; the multi-byte controls are C1
// (but NEL) and U+FFFE, U+FFFF.
bool has_control(std::string_view text, bool allow_tab, bool allow_line_feed) noexcept {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = byte_at(text, i);
    if (b >= 0x20 && b < 0x7F) [[likely]] continue;
    if (b < 0x20) {
      if ((b == '\t' && allow_tab) || (b == '\n' && allow_line_feed)) continue;
      return true;
    }
    if (b == 0x7F) return true;
    if (b == 0xC2 && i + 1 < n) {
      const unsigned char c = byte_at(text, i + 1);
      if (c >= 0x80 && c <= 0x9F && c != 0x85) return true;
    } else if (b == 0xEF && i + 2 < n) {
      if (byte_at(text, i + 1) == 0xBF && (byte_at(text, i + 2) == 0xBE || byte_at(text, i + 2) == 0xBF))
        return true;
    }
  }
  return false;
}

// The sixteen bytes that start an indicator whatever follows them.
bool is_leading_indicator(unsigned char b) noexcept {
  switch (b) {
    case '!': case '"': case '#': case '%': case '&': case '\'': case '*': case ',':
    case '>': case '@': case '[': case ']': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

bool is_document_marker(std::string_view text) noexcept {
  if (!(text.starts_with("---") || text.starts_with("..."))) return false;
  return text.size() == 3 || text[3] == ' ';
}

std::optional<std::string_view> check_plain(std::string_view text, bool in_flow_or_key) noexcept {
  if (text.empty()) return "an empty string has no plain rendering";
  if (contains(text, '\n') || contains(text, '\r')) return "a plain scalar cannot hold a line break";
  if (has_control(text, false, false)) return "it contains a tab or control character";
  if (text.starts_with("\xEF\xBB\xBF")) return "a leading byte order mark would be stripped on reload";
  if (text.front() == ' ' || text.back() == ' ') return "leading or trailing spaces would be trimmed on reload";
  const unsigned char first = byte_at(text, 0);
  if (is_leading_indicator(first)) return "it begins with a YAML indicator";
  if ((first == '-' || first == '?' || first == ':') && (text.size() == 1 || text[1] == ' '))
    return "it begins with a YAML indicator";
  if (is_document_marker(text)) return "it re-reads as a document marker";
  if (text.size() == 1) return std::nullopt;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '#' && text[i - 1] == ' ') return "it contains a ' #' comment starter";
    if (text[i] == ':' && (i + 1 == text.size() || text[i + 1] == ' '))
      return "it contains a ':' mapping indicator";
  }
  // A flow indicator ends a plain scalar inside a flow collection, and a key
  // may be written in flow form.
  if (in_flow_or_key && text.find_first_of(",[]{}") != std::string_view::npos)
    return "it contains a flow indicator (',', '[', ']', '{' or '}') inside a flow collection or key";
  // What the writers refuse besides: a character that YAML 1.1 readers take
  // for a line break (NEL, LS, PS), U+FFFE, U+FFFF, and in a flow collection
  // a ":" or "?" that readers may take for an indicator.
  if (!plain_text_safe(text, in_flow_or_key, PlainSafety::Exact))
    return "it holds a character that a plain scalar cannot carry here";
  return std::nullopt;
}

std::optional<std::string_view> check_single(std::string_view text) noexcept {
  if (contains(text, '\n') || contains(text, '\r')) return "single quotes cannot hold a line break";
  if (has_control(text, true, false)) return "single quotes cannot escape a control character";
  return std::nullopt;
}

std::optional<std::string_view> check_block(std::string_view text, bool folded) noexcept {
  if (text.empty()) return std::nullopt;
  if (contains(text, '\r')) return "it contains a carriage return";
  if (has_control(text, true, true)) return "it contains a non-printable control character";
  if (folded && contains(text, '\n')) return "folding would rewrite its line breaks";
  const std::size_t first = text.find_first_not_of('\n');
  if (first == std::string_view::npos) {
    // A block of empty lines leaves the text to the reader's indentation
    // guess; some readers give the empty string.
    return "it has no content line, and a block of empty lines can read back as an empty string";
  }
  if (text[first] == ' ' || text[first] == '\t') return "its first line begins with whitespace";
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> check_scalar_style(std::string_view text, ScalarStyle style,
                                                   bool in_flow_or_key) noexcept {
  switch (style) {
    case ScalarStyle::Plain:
      return check_plain(text, in_flow_or_key);
    case ScalarStyle::SingleQuoted:
      return check_single(text);
    case ScalarStyle::DoubleQuoted:
      return std::nullopt;
    case ScalarStyle::Literal:
      return check_block(text, false);
    case ScalarStyle::Folded:
      return check_block(text, true);
  }
  return std::nullopt;
}

}  // namespace kestrine
