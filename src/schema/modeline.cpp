#include "schema/modeline.hpp"

#include "util/white_space.hpp"

namespace kestrine {

namespace {

constexpr std::string_view kModelineKey = "yaml-language-server:";
constexpr std::string_view kSchemaKey = "$schema=";

// The reference a comment body (the text after "#") names, or nothing.
std::optional<std::string_view> modeline_reference(std::string_view body) {
  body = trim_white_space_start(body);
  if (!body.starts_with(kModelineKey)) return std::nullopt;
  body = trim_white_space_start(body.substr(kModelineKey.size()));
  if (!body.starts_with(kSchemaKey)) return std::nullopt;
  const std::string_view reference = trim_white_space(body.substr(kSchemaKey.size()));
  if (reference.empty()) return std::nullopt;
  return reference;
}

}  // namespace

std::optional<std::string> find_schema_modeline(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t feed = text.find('\n', pos);
    std::string_view line;
    if (feed == std::string_view::npos) {
      line = text.substr(pos);  // the last line is taken whole, a final CR included
      pos = text.size();
    } else {
      line = text.substr(pos, feed - pos);
      if (line.ends_with('\r')) line.remove_suffix(1);
      pos = feed + 1;
    }
    line = trim_white_space_start(line);
    if (line.empty()) continue;
    if (line.front() != '#') return std::nullopt;
    if (const auto reference = modeline_reference(line.substr(1))) return std::string(*reference);
  }
  return std::nullopt;
}

}  // namespace kestrine
