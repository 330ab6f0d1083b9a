// Comments on nodes built from Python data (the dumper's represent road):
// putting a caller's comment texts on a node, and checking that a mapping
// key can carry the comments it holds.
//
//   if (auto why = apply_node_comments(node, before, inline_text, after, is_root)) ... refuse
//   if (auto why = check_key_comments(key)) ... refuse
//
// Texts come without "#"; the node writer adds the comment markers.  Both
// functions give the reason for a refusal (a static text, raised by the
// caller as ValueError) or nothing.  Pure; touch no Python object.
#pragma once

#include <optional>
#include <string_view>

#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// `before` replaces the lines above the node, `after` the lines after it
// (both cut at line feeds, a CR before a line feed dropped, no line for a
// final line feed); `inline_text` becomes the comment on the node's line,
// and its absence clears it.  An absent text leaves `before` / `after` as
// they are.  `after` is refused unless the node is the document root or a
// block mapping or block sequence with entries (nothing else has lines of
// its own after which a comment would stay attached).
std::optional<std::string_view> apply_node_comments(YamlNode& node, std::optional<std::string_view> before,
                                                    std::optional<std::string_view> inline_text,
                                                    std::optional<std::string_view> after, bool is_root);

// A key may have lines above it, but no inline comment or lines after it,
// and nothing below it may carry a comment (a key stays on one line).
std::optional<std::string_view> check_key_comments(const YamlNode& key);

}  // namespace kestrine
