// The %YAML version of a text, read without scanning it: the loading entries
// choose how plain scalars resolve before any parsing starts.
//
//   sniff_yaml_version("# settings\n%YAML 1.1\n---\na: 1\n")  // YamlVersion{1, 1}
//   sniff_yaml_version("---\n%YAML 1.1\n")                     // nothing: a document came first
//
// Only a leading directive counts: blank lines, comment lines and other
// directives may come before it, anything else ("---", content, "...") ends
// the search.  Directive words are split at Unicode White_Space.  A version
// that is not MAJOR.MINOR in ASCII digits, each fitting 32 bits, reads as no
// version (the decoder refuses a malformed one when it parses the text).
// Never fails and allocates nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrine {

struct YamlVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  friend bool operator==(const YamlVersion&, const YamlVersion&) = default;
};

// `text`: UTF-8; a byte-order mark may start the text and each line before
// the first directive, as the scanner reads it.
std::optional<YamlVersion> sniff_yaml_version(std::string_view text) noexcept;

}  // namespace kestrine
