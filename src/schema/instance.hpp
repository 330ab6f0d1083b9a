// The instance a schema is checked against: a round-trip tree read as the
// load returns it, in place (nothing is copied).
//
// The validator reads `YamlNode` trees, so that every failure has a source
// position, but it must see exactly the data the load returns:
//   * an alias stands for the node the load binds it to (the most recent
//     node before it carrying that anchor and complete where the alias
//     stands); a failure on the aliased node as a whole is located at the
//     alias, failures inside it where the anchored content is written; an
//     alias naming nothing is null;
//   * a mapping's members are the pairs the load keeps: merge keys folded by
//     the one merge fold the loader uses (roundtrip/tree/merged_pairs.hpp) and
//     repeated keys collapsed to one member holding the last value;
//   * a node that lies behind more than `kMaxValidationAliasDepth` nested
//     alias expansions (a chain of merges through aliases, say) is not read:
//     validation fails with kAliasesTooDeepMessage instead of passing data
//     it did not look at;
//   * text read through aliases is charged to `AliasReadLimits`: reading a
//     scalar costs its size, and every alias to it reads it again, so many
//     aliases to a long scalar would cost (aliases x size).  Past the budget
//     validation fails with kAliasTextTooLargeMessage, never passing data it
//     did not look at.  The nodes of a value read whole through aliases
//     (for `enum`, `const`, `uniqueItems`) are counted likewise
//     (kAliasNodesTooManyMessage): an alias bomb of a few hundred bytes
//     stands for billions of nodes.
// Scalars are typed for the keywords, and merge keys and repeated keys
// compare, as the load reads them (`KeyReading`: the version mode its
// conversion uses, and timestamps).
//
// `InstanceView::to_value` gives a node's loaded value where keywords compare
// values (`enum`, `const`, `uniqueItems`).
//
// Provenance: `is_secret_node` (roundtrip/tree/tree_ops.hpp) tells a node whose
// content came from a `!secret` directive; the validator never quotes the
// value of such a node, or of anything below it, nor a key below it (in a
// message or a path): it shows "<secret>" instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "decode/value.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/duplicates.hpp"
#include "roundtrip/tree/merged_pairs.hpp"
#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {

inline constexpr std::uint32_t kMaxValidationAliasDepth = 100;
inline constexpr std::string_view kAliasesTooDeepMessage = "aliases nest too deeply to validate";
// Scalar bytes one validation reads through aliases, as the copy of every
// alias that validation once made was allowed.
inline constexpr std::uint64_t kValidationAliasTextBudget = std::uint64_t{64} << 20;
inline constexpr std::string_view kAliasTextTooLargeMessage = "aliases repeat too much text to validate";
// Nodes one validation reads through aliases, as many as the copy of every
// alias was allowed to hold.
inline constexpr std::uint64_t kValidationAliasNodeBudget = 1'000'000;
inline constexpr std::string_view kAliasNodesTooManyMessage = "aliases expand to too many nodes to validate";

// What one validation may still read through aliases, and why reading
// stopped (empty while it goes on).
struct AliasReadLimits {
  std::uint64_t text_left = kValidationAliasTextBudget;
  std::uint64_t nodes_left = kValidationAliasNodeBudget;
  std::string_view stopped;

  // Counts one node read through aliases; false (and `stopped` set) once
  // the budget is spent.
  bool count_node() noexcept {
    if (nodes_left == 0) {
      stopped = kAliasNodesTooManyMessage;
      return false;
    }
    --nodes_left;
    return true;
  }

  // Charges `bytes` read through aliases; false (and `stopped` set) once
  // they are more than what is left.
  bool charge(std::size_t bytes) noexcept {
    if (bytes > text_left) {
      stopped = kAliasTextTooLargeMessage;
      return false;
    }
    text_left -= bytes;
    return true;
  }
};

// The loaded reading of one validated tree: alias bindings (made when the
// first alias is met) and mapping folds.  Lives for one validation; the tree
// must not change meanwhile.
class InstanceView {
 public:
  // `reading`: how the load read scalars (their types for the keywords) and
  // compared keys (merge keys, repeated keys).
  InstanceView(const YamlNode& root, KeyReading reading)
      : mode_(reading.mode), aliases_(root), folds_(aliases_, reading) {}
  InstanceView(const InstanceView&) = delete;
  InstanceView& operator=(const InstanceView&) = delete;

  VersionMode mode() const noexcept { return mode_; }
  MappingFolds& folds() noexcept { return folds_; }

  // The members of `mapping` when they differ from its pairs (merge keys, or
  // keys that are one key once loaded), else null.  `through_aliases`: the
  // mapping is read through an alias, so it may be read many times: the
  // answer is kept (see MappingFolds::members).
  const FoldedMapping<NodeRef>* members(const YamlNode& mapping, bool through_aliases) {
    return folds_.members(mapping, through_aliases);
  }

  // The loaded value of `ref`, whose own alias depth is `depth`: scalars
  // resolved under `mode` (never Tagged or Timestamp), collections item by
  // item with their loaded members, aliases followed, an alias to nothing
  // Null.  Nodes and scalars read through aliases (depth above 0) are
  // charged to `limits`; past the alias depth limit or a budget it sets
  // `limits.stopped` and stops descending.  Texts refer to the tree;
  // collections are allocated in `arena`.
  YamlValue to_value(const NodeRef& ref, std::uint32_t depth, ValueArena& arena, AliasReadLimits& limits);

 private:
  VersionMode mode_;
  AliasFollower aliases_;
  MappingFolds folds_;
};

// A scalar node's value resolved under `mode` (never Tagged or Timestamp);
// Null for anything but a scalar.  Texts refer to the node's own.
YamlValue scalar_node_value(const YamlNode& node, VersionMode mode, ValueArena& arena);

}  // namespace kestrine
