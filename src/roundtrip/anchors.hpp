// Aliases and merge keys over round-trip trees, without Python.
//
//   auto bindings = bind_anchors(roots);          // once per operation
//   const YamlNode* target = follow_aliases(node, *bindings);
//
// Aliases.  An alias stands for the most recent node before it, in its own
// document, that carries its anchor and is complete where the alias appears
// (an alias inside the node it names, or naming an anchor that only follows
// it, binds to an earlier definition or to nothing).  `bind_anchors` works
// this out once per operation and charges every alias the node count of what
// it stands for, exactly like the plain decoder's alias budget, so a document
// that would expand beyond the budget fails before any value is built.  No
// node is copied.
//
// Bindings point into the trees: the trees must not change while the
// bindings are in use.  The walk runs under the stack guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "roundtrip/ast.hpp"
#include "roundtrip/compose_error.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// ---- aliases -----------------------------------------------------------------------

// What every alias of one or more documents stands for.
class AnchorBindings {
 public:
  // The node the alias refers to, or null when it refers to nothing.
  const YamlNode* target(const YamlNode& alias) const noexcept {
    auto it = targets_.find(&alias);
    return it == targets_.end() ? nullptr : it->second;
  }
  bool empty() const noexcept { return targets_.empty(); }
  std::size_t size() const noexcept { return targets_.size(); }

 private:
  friend class AnchorBinder;
  SeededHashMap<const YamlNode*, const YamlNode*> targets_;
};

// Nodes that all aliases of one operation may stand for, counted as if every
// alias had been replaced by a copy of its target: the plain decoder's limit.
inline constexpr std::uint64_t kAliasExpansionBudget = 10'000'000;
inline constexpr std::string_view kAliasBombMessage = "document expands to too many nodes (possible alias bomb)";

// Binds the aliases of each root within that root; the budget is shared by
// all of them.  Fails with kAliasBombMessage at the alias that exceeds it.
std::expected<AnchorBindings, ComposeError> bind_anchors(std::span<const YamlNode> roots,
                                                         std::uint64_t budget = kAliasExpansionBudget);
inline std::expected<AnchorBindings, ComposeError> bind_anchors(const YamlNode& root) {
  return bind_anchors(std::span<const YamlNode>(&root, 1));
}

// The node an alias chain ends at (the node itself when it is no alias), or
// null for an alias that refers to nothing.
const YamlNode* follow_aliases(const YamlNode& node, const AnchorBindings& bindings) noexcept;

// A sequence or mapping, or an alias that stands for one.
bool is_collection_node(const YamlNode& node, const AnchorBindings& bindings) noexcept;

// ---- merge keys -------------------------------------------------------------------------

// True for the merge key "<<": tagged !!merge (either spelling, whatever the
// text), or untagged, plain and exactly "<<".
bool is_merge_key_node(const YamlNode& key) noexcept;
// Some pair's key is a merge key.
bool has_merge_key(std::span<const NodePair> pairs) noexcept;
// A scalar "<<" that is not a merge key (quoted, block, otherwise tagged).
bool is_ordinary_merge_text_key(const YamlNode& key) noexcept;

}  // namespace kestrine
