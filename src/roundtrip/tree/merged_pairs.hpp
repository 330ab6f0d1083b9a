// The pairs a round-trip mapping holds once loaded: merge keys folded by the
// one merge fold (decode/merge_fold.hpp, the plain decoder's too) and
// repeated keys collapsed (the last value at the first key's position), read
// off the tree in place: nothing is copied.  The Python conversions of the
// tree roads and schema validation both read mappings through it, so what
// is validated is what is returned.
//
//   AliasFollower aliases(bindings);                // roundtrip/tree/anchors.hpp
//   MappingFolds folds(aliases, KeyReading(mode, timestamps));
//   if (has_merge_key(mapping.pairs(), mode)) {
//     const FoldedMapping<NodeRef>& f = folds.fold(mapping);
//     for (std::size_t i = 0; i < f.pairs.size(); ++i) ...   // f.slot: the "<<" leftovers
//   }
//
// A `NodeRef` is a key or value of a folded mapping: a node (an alias is
// left for the reader to follow), or a list of merge leftovers, with the
// number of alias expansions the fold went through to reach it (relative to
// the folded mapping; schema validation bounds the nesting) and whether it
// came from a secret's content (is_secret_node) through a merge.  Keys compare
// as the load reads them (`KeyReading`: the version mode, timestamps, the
// custom tags the conversion keeps, others left out; aliases stand for
// their targets), by the decoder's duplicate-key signature: 1, 1.0 and true
// are one key.
//
// Folds are computed once per mapping and kept while the `MappingFolds`
// lives; the tree and the follower's bindings must not change meanwhile.
// Merge sources are followed through `AliasFollower::target` (nothing is
// charged).  Recursive steps run under the stack guard.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "decode/merge_fold.hpp"
#include "decode/value.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/duplicates.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

struct NodeRef {
  const YamlNode* node = nullptr;                      // null: `list`, or nothing (an alias to nothing)
  const MergeLeftover<NodeRef>* list = nullptr;        // a list of merge leftovers
  std::uint32_t aliases = 0;                           // alias expansions on the way
  bool merge_text = false;                             // a key that reads as the string "<<"
  // Taken from a merge source that is a secret's content (or lies in one, or
  // is an alias to one): its parent in the fold is not, so the flag carries it.
  bool secret = false;
};

// Two counts of alias expansions added; the sum saturates (any count past
// a reader's limit is too deep either way).
inline std::uint32_t add_alias_counts(std::uint32_t a, std::uint32_t b) noexcept {
  return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

// The value of a scalar resolved to `k` from `text` (never Tagged or
// Timestamp); texts refer to `text`, big integers are normalised in `arena`.
YamlValue scalar_kind_value(const ScalarKind& k, std::string_view text, ValueArena& arena);

// The value `key` stands for as a key, as the load reads it: scalars
// resolved (timestamps as `reading` says), aliases followed through
// `aliases` (nothing charged; one that refers to nothing is Null), custom
// tags kept as Tagged.  Texts refer to the tree or to `arena`.
YamlValue key_node_value(const YamlNode& key, KeyReading reading, AliasFollower& aliases, ValueArena& arena);

class MappingFolds {
 public:
  MappingFolds(AliasFollower& aliases, KeyReading reading) : aliases_(aliases), reading_(reading) {}
  MappingFolds(const MappingFolds&) = delete;
  MappingFolds& operator=(const MappingFolds&) = delete;

  // The loaded pairs of `mapping` (any mapping: one without merge keys only
  // has its repeated keys collapsed).
  const FoldedMapping<NodeRef>& fold(const YamlNode& mapping);

  // The loaded pairs of `mapping` when they differ from its pairs (it holds
  // a merge key, or two keys that are one key once loaded), else null.  A
  // fold is kept, as by `fold`; with `keep_answer` a null answer is kept
  // too, for a mapping read again and again (through aliases): the question
  // reads every key in full, the answer kept costs one lookup.
  const FoldedMapping<NodeRef>* members(const YamlNode& mapping, bool keep_answer);

  // The node `ref` stands for, aliases followed (counted in `aliases`); a
  // ref to nothing when an alias refers to nothing.  Lists are returned as
  // they are.
  NodeRef follow(NodeRef ref);

  AliasFollower& aliases() noexcept { return aliases_; }
  KeyReading reading() const noexcept { return reading_; }

  // A key's identity as the fold compares it; false for a key equal to no
  // other (NaN).
  bool identity(const NodeRef& key, std::string& out);

 private:
  bool repeats_keys(const YamlNode& mapping);
  std::unique_ptr<FoldedMapping<NodeRef>> compute_fold(const YamlNode& mapping);

  AliasFollower& aliases_;
  KeyReading reading_;
  // Null: `members` found that the mapping reads as its pairs (kept answer).
  SeededHashMap<const YamlNode*, std::unique_ptr<FoldedMapping<NodeRef>>> folds_;
  std::string scratch_;
};

}  // namespace kestrine
