#include "decode/yaml_version.hpp"

#include "util/white_space.hpp"

namespace kestrine {
namespace {

// The leading run of `s` that holds no White_Space character.
std::string_view leading_word(std::string_view s) noexcept {
  std::size_t end = 0;
  while (end < s.size() && white_space_at(s, end) == 0) ++end;
  return s.substr(0, end);
}

std::optional<std::uint32_t> parse_u32_digits(std::string_view digits) noexcept {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char ch : digits) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(ch - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// The version the word after "%YAML" gives: MAJOR.MINOR, or nothing (no
// word, a comment, anything else).
std::optional<YamlVersion> parse_version_word(std::string_view word) noexcept {
  if (word.empty() || word.front() == '#') return std::nullopt;
  const std::size_t dot = word.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  auto major = parse_u32_digits(word.substr(0, dot));
  auto minor = parse_u32_digits(word.substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return YamlVersion{*major, *minor};
}

}  // namespace

std::optional<YamlVersion> sniff_yaml_version(std::string_view text) noexcept {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  std::size_t pos = 0;
  bool prefix = true;  // only blank and comment lines so far
  while (pos <= text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A byte order mark may start the stream and each line of the prefix
    // before the first directive, as the scanner reads it.
    while (prefix && line.starts_with(kByteOrderMark)) line.remove_prefix(3);
    line = trim_white_space_start(line);
    if (!line.empty()) {
      if (line.front() == '#') {
        // a comment line
      } else if (line.front() == '%') {
        prefix = false;
        // A blank may follow the "%".  Another directive (a %TAG line, or
        // "%YAML1.1" without its blank) lets the search go on.
        const std::string_view words = trim_white_space_start(line.substr(1));
        const std::string_view name = leading_word(words);
        if (name == "YAML") return parse_version_word(leading_word(trim_white_space_start(words.substr(name.size()))));
      } else {
        return std::nullopt;  // content, "---" or "..."
      }
    }
    if (eol == text.size()) break;
    pos = eol + 1;
  }
  return std::nullopt;
}

}  // namespace kestrine
