// The instance a schema is checked against, read from a round-trip tree.
//
// The validator reads `YamlNode` trees, so that every failure has a source
// position, but it must see the data as loaded: an alias stands for the node
// it names and merge keys ("<<") are folded into their mappings.  When a
// document has neither (`needs_instance_copy` is false) it is validated in
// place; otherwise `prepare_instance` makes a private copy in which
//   * every alias is replaced by a copy of the node it names: the most
//     recent node before it carrying that anchor and complete where the
//     alias stands (as the loader binds aliases), the copy starting at the
//     alias's position; an alias naming nothing becomes an empty null node
//     there;
//   * alias expansions nest at most `max_alias_depth` deep and copy at most
//     `alias_node_budget` nodes and `alias_text_budget` bytes of scalar text
//     in all (the document's own nodes are not counted); beyond any limit a
//     null node stands in, so an alias bomb the loader accepted (a large
//     scalar aliased many times loads in the memory of its text) cannot make
//     validation run away;
//   * each mapping that holds merge keys is rebuilt: its own pairs first
//     (never removed), then, merge key by merge key, the pairs of the merged
//     mappings whose keys are new, earlier ones winning; a merge value that
//     is not a mapping (or not only mappings) stays under a plain "<<" key.
// The composed tree is never modified.
//
// `node_to_value` gives a node's loaded value where keywords compare values
// (`enum`, `const`, `uniqueItems`, merge-key identity).
//
// Provenance: `is_secret_node` (roundtrip/tree_ops.hpp) tells a node whose
// content came from a `!secret` directive; the validator never quotes the value of such a node,
// or of anything below it, in a message.  Copies keep the provenance.
#pragma once

#include <cstdint>
#include <string>

#include "decode/value.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/tree_ops.hpp"

namespace kestrine {

struct ExpansionLimits {
  std::uint32_t max_alias_depth = 100;
  std::uint64_t alias_node_budget = 1'000'000;
  std::uint64_t alias_text_budget = std::uint64_t{64} << 20;
};

// Some alias or merge key lies in the tree.
bool needs_instance_copy(const YamlNode& root);

// The validation copy of `root` (see above); `mode` decides which merged
// keys are the same key.
YamlNode prepare_instance(const YamlNode& root, VersionMode mode, const ExpansionLimits& limits = {});

// The loaded value of a node: scalars resolved under `mode` (never Tagged or
// Timestamp), sequences and mappings converted item by item, alias and null
// nodes Null.  Texts refer to the node's own, so the node must outlive the
// result; collections are allocated in `arena`.
YamlValue node_to_value(const YamlNode& node, VersionMode mode, ValueArena& arena);

}  // namespace kestrine
