// Aliases and merge keys over round-trip trees, without Python.
//
//   auto bindings = bind_anchors(roots);          // once per load
//   const YamlNode* target = follow_aliases(node, *bindings);
//
//   AliasFollower aliases(root);                  // once per document read
//   auto value_node = aliases.expand(alias);      // binds on first use
//
// Aliases.  An alias stands for the most recent node before it, in its own
// document and in the file it is written in (after include expansion: the
// file of its nearest enclosing `!include`, or the top-level text), that
// carries its anchor and is complete where the alias appears
// (an alias inside the node it names, or naming an anchor that only follows
// it, binds to an earlier definition or to nothing).  `bind_anchors` works
// this out once per operation and charges every alias the node count of what
// it stands for, exactly like the plain decoder's alias budget, so a document
// that would expand beyond the budget fails before any value is built.  No
// node is copied.
//
// Reading a document follows aliases lazily: an `AliasFollower` binds the
// aliases of one root only when the first one is met, and charges every
// alias read as a value the node count of what it stands for against the
// plain decoder's budget, so a read fails exactly where the plain road
// would, at the first alias past the limit.  The readers build one object
// per anchor and share it for every alias, so what a read keeps in memory
// stays proportional to the document.
//
// Bindings point into the trees: the trees must not change while the
// bindings are in use.  The walk runs under the stack guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "resolver/kind.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/compose_error.hpp"
#include "scanner/span.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// ---- aliases -----------------------------------------------------------------------

// What one alias stands for: the anchored node, its node count with the
// aliases inside it counted as copies of their targets, and how many alias
// expansions reading the alias nests (1 for a target without aliases).
struct AliasBinding {
  const YamlNode* target = nullptr;
  std::uint64_t count = 0;
  std::uint32_t depth = 0;
};

// What every alias of one or more documents stands for.
class AnchorBindings {
 public:
  // The node the alias refers to, or null when it refers to nothing.
  const YamlNode* target(const YamlNode& alias) const noexcept {
    const AliasBinding* b = binding(alias);
    return b == nullptr ? nullptr : b->target;
  }
  // The alias's binding, or null when it refers to nothing.
  const AliasBinding* binding(const YamlNode& alias) const noexcept {
    auto it = targets_.find(&alias);
    return it == targets_.end() ? nullptr : &it->second;
  }
  bool empty() const noexcept { return targets_.empty(); }
  std::size_t size() const noexcept { return targets_.size(); }
  // Some alias refers to `node`.
  bool any_bound_to(const YamlNode& node) const noexcept {
    for (const auto& [alias, binding] : targets_)
      if (binding.target == &node) return true;
    return false;
  }

 private:
  friend class AnchorBinder;
  SeededHashMap<const YamlNode*, AliasBinding> targets_;
};

// Nodes that all aliases of one operation may stand for, counted as if every
// alias had been replaced by a copy of its target: the plain decoder's limit.
inline constexpr std::uint64_t kAliasExpansionBudget = 10'000'000;
inline constexpr std::string_view kAliasBombMessage = "document expands to too many nodes (possible alias bomb)";

// Binds the aliases of each root within that root; the budget is shared by
// all of them.  Fails with kAliasBombMessage at the alias that exceeds it.
std::expected<AnchorBindings, ComposeError> bind_anchors(std::span<const YamlNode> roots,
                                                         std::uint64_t budget = kAliasExpansionBudget);
inline std::expected<AnchorBindings, ComposeError> bind_anchors(const YamlNode& root,
                                                                std::uint64_t budget = kAliasExpansionBudget) {
  return bind_anchors(std::span<const YamlNode>(&root, 1), budget);
}

// The node an alias chain ends at (the node itself when it is no alias), or
// null for an alias that refers to nothing.
const YamlNode* follow_aliases(const YamlNode& node, const AnchorBindings& bindings) noexcept;

// A sequence or mapping, or an alias that stands for one.
bool is_collection_node(const YamlNode& node, const AnchorBindings& bindings) noexcept;

// The bindings of one root, without limits: for checking a tree, not for
// reading values out of it.
AnchorBindings bind_root_unlimited(const YamlNode& root);

// ---- following aliases while a document is read -------------------------------------------

// Limits of one alias-expanding copy, which really copies what every alias
// stands for: the nodes it may make, and alias expansions nested in one
// another.
inline constexpr std::uint64_t kAliasNodeBudget = 1'000'000;
inline constexpr std::uint32_t kMaxAliasDepth = 100;
inline constexpr std::string_view kAliasDepthMessage = "aliases nest more than 100 levels deep";

// Reading an alias as a value went past the budget; `message` is
// kAliasBombMessage, `span` the alias's position.
struct AliasLimitError {
  std::string_view message;
  Span span;
};

// The bindings of document roots, kept from one read of a document to the
// next: a root is bound once, when a read first follows one of its aliases.
// Whoever edits the trees clears the cache first.  Bindings stay where they
// are until then (a root's record is never moved).  Not thread-safe.
class BindingsCache {
 public:
  const AnchorBindings& of(const YamlNode& root);
  void clear() noexcept { bound_.clear(); }
  std::size_t size() const noexcept { return bound_.size(); }

 private:
  SeededHashMap<const YamlNode*, std::unique_ptr<AnchorBindings>> bound_;
};

// Follows the aliases of one operation.  Built over bindings made at load
// time (already held to the load's own budget: nothing is charged), or over
// one document root, bound when the first alias is followed (through
// `cache` when one is given), whose expansions it charges against
// kAliasExpansionBudget, as the plain decoder charges the same aliases.
// Nesting needs no limit of its own: aliases nested d deep cost about d*d/2.
// Not thread-safe; the root must not change while the follower is used.
class AliasFollower {
 public:
  explicit AliasFollower(const AnchorBindings& bindings) noexcept : bindings_(&bindings), charging_(false) {}
  explicit AliasFollower(const YamlNode& root, BindingsCache* cache = nullptr) noexcept
      : root_(&root), cache_(cache), charging_(true) {}
  AliasFollower(const AliasFollower&) = delete;
  AliasFollower& operator=(const AliasFollower&) = delete;

  // The node `alias` stands for (null: it refers to nothing), for
  // navigating: nothing is charged.
  const YamlNode* target(const YamlNode& alias);
  // The node `alias` stands for when it is read as a value: charges its
  // expanded node count.
  std::expected<const YamlNode*, AliasLimitError> expand(const YamlNode& alias);
  // Continues the operation on another root of the same document: its
  // aliases bind within it, what was charged stays charged.
  void rebind(const YamlNode& root) noexcept;
  // The bindings of the current root (built on first use), for navigating.
  const AnchorBindings& bindings();

 private:

  const YamlNode* root_ = nullptr;
  BindingsCache* cache_ = nullptr;
  const AnchorBindings* bindings_ = nullptr;
  std::optional<AnchorBindings> own_;
  std::uint64_t charged_ = 0;
  bool charging_;
};

// ---- merge keys -------------------------------------------------------------------------

// True for the merge key, as scalar resolution reads it: untagged, plain
// and exactly "<<" in every mode; under YAML 1.1 (either reading) also a
// scalar or empty node tagged !!merge (any spelling, whatever the text),
// a type YAML 1.2 does not have.
// (Inline: every key of every converted mapping is asked; only a node with
// properties needs the out-of-line look at its tag.)
bool is_merge_key_node_with_properties(const YamlNode& key, VersionMode mode) noexcept;
inline bool is_merge_key_node(const YamlNode& key, VersionMode mode) noexcept {
  if (key.extra() != nullptr) return is_merge_key_node_with_properties(key, mode);
  if (!key.is_scalar() || key.scalar_style() != ScalarStyle::Plain) return false;
  const std::string& text = key.text();
  return text.size() == 2 && text[0] == '<' && text[1] == '<';
}
// Some pair's key is a merge key.
bool has_merge_key(std::span<const NodePair> pairs, VersionMode mode) noexcept;

// The same for keys as a document reads them: an alias stands for the key it
// names, so an alias to a merge key is a merge key (as a YAML 1.1 loader
// reads it: the alias is the anchored node itself).  Aliases are followed
// for navigating (nothing is charged).  Every road that reads mappings asks
// these, so that one text reads one way on all of them.
bool alias_is_merge_key(const YamlNode& alias, VersionMode mode, AliasFollower& aliases);
inline bool is_merge_key_node(const YamlNode& key, VersionMode mode, AliasFollower& aliases) {
  if (!key.is_alias()) [[likely]] return is_merge_key_node(key, mode);
  return alias_is_merge_key(key, mode, aliases);
}
bool has_merge_key(std::span<const NodePair> pairs, VersionMode mode, AliasFollower& aliases);

}  // namespace kestrine
