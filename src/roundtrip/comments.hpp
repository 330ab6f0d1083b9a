// Comment attachment: distributes the comments the scanner skipped over the
// nodes of freshly composed document roots (head, inline and foot comments)
// and records the blank lines and column spacing the round-trip emitter needs
// to write the documents back in the layout they were read in.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include <absl/container/flat_hash_set.h>

#include "roundtrip/ast.hpp"
#include "scanner/scanner.hpp"

namespace kestrine {

// Positions (line, column) of "-" entry indicators whose item starts on a
// later line; filled by the composer.
using IntroducerSet = absl::flat_hash_set<std::uint64_t>;

constexpr std::uint64_t introducer_key(std::uint32_t line, std::uint32_t column) noexcept {
  return (std::uint64_t{line} << 32) | column;
}

// Places `comments` (in text order) on the nodes of `roots` and records
// blank lines and spacing.  Never fails; changes no tree structure.
void attach_comments(std::span<YamlNode> roots, std::span<const SourceComment> comments,
                     std::string_view text, const IntroducerSet& introducers);

// The (line, column) just past a node's content, computed from its values
// (a scalar's text, not its source), 0-based.
std::pair<std::uint32_t, std::uint32_t> node_end_position(const YamlNode& node);

// From a root, the node whose foot receives a trailing comment at `column`.
YamlNode& find_attach_target(YamlNode& root, std::uint32_t column);

}  // namespace kestrine
