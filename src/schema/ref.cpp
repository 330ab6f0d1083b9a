#include "schema/ref.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrine {

namespace {

// `text` with every `from` (two characters) replaced by `to`.
std::string replace_pairs(std::string_view text, std::string_view from, char to) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i).starts_with(from)) {
      out += to;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "~1" is read before "~0", so "~01" stands for "~1".
std::string unescape_segment(std::string_view segment) {
  return replace_pairs(replace_pairs(segment, "~1", '/'), "~0", '~');
}

std::optional<std::size_t> parse_index(std::string_view segment) {
  if (segment.starts_with('+')) segment.remove_prefix(1);
  if (segment.empty()) return std::nullopt;
  std::size_t index = 0;
  for (char c : segment) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::size_t digit = static_cast<std::size_t>(c - '0');
    if (index > (SIZE_MAX - digit) / 10) return std::nullopt;
    index = index * 10 + digit;
  }
  return index;
}

const YamlValue* step_into(const YamlValue& at, std::string_view segment) {
  if (at.is_mapping()) {
    for (const ValuePair& p : at.pairs())
      if (p.key.is_string() && p.key.text() == segment) return &p.value;
    return nullptr;
  }
  if (at.is_sequence()) {
    const std::optional<std::size_t> index = parse_index(segment);
    if (!index || *index >= at.size()) return nullptr;
    return &at.items()[*index];
  }
  return nullptr;
}

}  // namespace

const YamlValue* resolve_schema_ref(const YamlValue& root, std::string_view ref) {
  if (ref == "#") return &root;
  if (!ref.starts_with("#/")) return nullptr;
  std::string_view rest = ref.substr(2);
  const YamlValue* at = &root;
  for (;;) {
    const std::size_t slash = rest.find('/');
    const std::string_view raw = rest.substr(0, slash);
    at = raw.find('~') == std::string_view::npos ? step_into(*at, raw) : step_into(*at, unescape_segment(raw));
    if (at == nullptr || slash == std::string_view::npos) return at;
    rest.remove_prefix(slash + 1);
  }
}

}  // namespace kestrine
