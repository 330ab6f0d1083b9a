// Anchor names for a tree built from Python objects.
//
//   assign_anchors(root, aliased);
//
// The dumper's represent road marks the node of every object it may meet
// again with a provisional anchor, the object's identity (its address) in
// decimal, and writes each later occurrence as an alias of that text.  This
// pass keeps the anchors that some alias uses (their identities are in
// `aliased`), drops every other one, and renames anchors and aliases to
// "id001", "id002", ... in document order ("id1000" after "id999").  It
// relies on each anchored node coming before its aliases in a pre-order walk,
// which the represent road guarantees.  An anchor that is not an identity
// text (an optional "+" and decimal digits within 64 bits) is dropped.
//
// Rewrites the tree in place; never fails; touches no Python object.  The
// walk runs under the stack guard.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "roundtrip/tree/ast.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// The identity an anchor or alias name stands for, when it is an identity text.
std::optional<std::uint64_t> parse_identity(std::string_view text) noexcept;

void assign_anchors(YamlNode& root, const SeededHashSet<std::uint64_t>& aliased);

}  // namespace kestrine
