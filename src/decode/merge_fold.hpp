// The merge fold: which pairs a mapping holding merge keys ("<<") has once
// loaded.  One algorithm for every tree form the system reads (the plain
// decoder's values, the round-trip nodes read by the Python conversions and
// by schema validation), so that every road returns, and validates, the same
// data.
//
//   FoldedMapping<Handle> out;
//   MergeFold<Tree>(tree).fold([&](auto&& each) {  // the mapping's own pairs
//     for (const auto& p : pairs) each(p.key, p.value);
//   }, out);
//
// The rules, for the mapping's own pairs in order:
//   * an own key wins over merged ones, wherever it stands, and keeps the
//     position where it first appeared; repeated own keys collapse to one
//     pair holding the last value (a dict's assignment);
//   * a merge key's value folds in: a mapping adds the pairs whose keys are
//     new (its own repeated keys collapsed first, the later value at the
//     earlier position); a sequence folds its items in order, so an earlier
//     mapping wins over a later one; null adds nothing;
//   * anything else (a scalar, a timestamp, a custom-tagged value) is left
//     over and kept under one "<<" string key, the merge slot: the first
//     leftover as it is, later ones turning the slot into a list (a
//     sequence's leftovers come as a list).  A slot is not made when an own
//     "<<" string key stands before it, and an own one after it takes the
//     slot's place.
// Keys are the same key when their identities are equal: the tree writes
// the identity of a key as it is loaded (tree.identity); a key without one
// (NaN) equals no key.  Nothing here fails.
//
// `Tree` tells what the handles are:
//   using Handle = ...;                                 // cheap to copy
//   bool is_merge_key(const Handle& key);
//   MergeSourceKind source_kind(const Handle& value);   // how a merge value folds
//   template <class F> void source_pairs(const Handle& mapping, F&& each);  // each(key, value)
//   template <class F> void source_items(const Handle& sequence, F&& each); // each(item)
//   bool identity(const Handle& key, std::string& out); // false: equals no key
// A merge source mapping is handed over as the load reads it: already
// folded when it holds merge keys itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

enum class MergeSourceKind : std::uint8_t { Null, Mapping, Sequence, Other };

// What a merge value left over: one value, or a list of leftovers (from a
// sequence, or several merge keys).
template <class Handle>
struct MergeLeftover {
  Handle value{};
  std::vector<MergeLeftover> items;
  bool is_list = false;
};

template <class Handle>
struct FoldedPair {
  Handle key{};
  Handle value{};
  // The key reads as the string "<<" whatever `key` is: the merge slot's
  // pair (its key is the merge key that made it, "<<" or "!!merge x").
  bool merge_text_key = false;
  // 0: the mapping's own pair (or the slot's); n: taken from the n-th merge
  // source mapping, counted in fold order.  A conversion whose tag callbacks
  // may make keys equal that the fold told apart places pairs by it.
  std::uint32_t source = 0;
};

template <class Handle>
struct FoldedMapping {
  std::vector<FoldedPair<Handle>> pairs;
  // The merge slot: the position in `pairs` whose value is `leftover`
  // (that pair's `value` is unused).
  std::optional<std::size_t> slot;
  MergeLeftover<Handle> leftover;
};

// The identity of the string "<<" (the merge slot's key), as
// write_key_signature writes it.
inline constexpr std::string_view kMergeTextIdentity = "s:2:<<";

template <class Tree>
class MergeFold {
 public:
  using Handle = typename Tree::Handle;
  using Leftover = MergeLeftover<Handle>;

  explicit MergeFold(Tree& tree) : tree_(tree) {}

  // Folds the mapping's own pairs into `out`: `own_pairs(each)` calls
  // each(key, value) for them in order.
  template <class OwnPairs>
  void fold(OwnPairs&& own_pairs, FoldedMapping<Handle>& out) {
    out.pairs.clear();
    out.slot.reset();
    out.leftover = Leftover();
    out_ = &out;
    index_.clear();
    sources_ = 0;
    own_pairs([&](const Handle& key, const Handle& value) { own(key, value); });
  }

 private:
  void own(const Handle& key, const Handle& value) {
    FoldedMapping<Handle>& out = *out_;
    if (tree_.is_merge_key(key)) {
      merge(key, value);
      return;
    }
    if (!tree_.identity(key, id_)) {
      out.pairs.push_back({key, value});
      return;
    }
    const auto [it, inserted] = index_.try_emplace(id_, out.pairs.size());
    if (inserted) {
      out.pairs.push_back({key, value});
      return;
    }
    // The own value wins; the pair keeps the place its key first took.
    out.pairs[it->second].value = value;
    out.pairs[it->second].source = 0;
    if (out.slot == it->second) {
      out.slot.reset();
      out.leftover = Leftover();
    }
  }

  void merge(const Handle& key, const Handle& value) {
    Leftover rest;
    if (!expand(value, rest)) return;
    FoldedMapping<Handle>& out = *out_;
    if (!out.slot) {
      const auto [it, inserted] = index_.try_emplace(std::string(kMergeTextIdentity), out.pairs.size());
      if (!inserted) return;  // an own "<<" key came first
      out.slot = out.pairs.size();
      out.pairs.push_back({key, Handle{}, true});
      out.leftover = std::move(rest);
      return;
    }
    if (!out.leftover.is_list) {
      Leftover list;
      list.is_list = true;
      list.items.push_back(std::move(out.leftover));
      out.leftover = std::move(list);
    }
    if (rest.is_list) {
      for (Leftover& item : rest.items) out.leftover.items.push_back(std::move(item));
    } else {
      out.leftover.items.push_back(std::move(rest));
    }
  }

  // Folds one merge value; fills `rest` and returns true when something is
  // left over.
  bool expand(const Handle& value, Leftover& rest) {
    switch (tree_.source_kind(value)) {
      case MergeSourceKind::Null:
        return false;
      case MergeSourceKind::Mapping:
        add_source_pairs(value);
        return false;
      case MergeSourceKind::Sequence: {
        rest.is_list = true;
        stack_guarded([&] {
          tree_.source_items(value, [&](const Handle& item) {
            Leftover r;
            if (expand(item, r)) rest.items.push_back(std::move(r));
          });
        });
        return !rest.items.empty();
      }
      case MergeSourceKind::Other:
        break;
    }
    rest.value = value;
    return true;
  }

  // The pairs of a merged mapping whose keys are new, its own repeated keys
  // collapsed first (the later value at the earlier position).
  void add_source_pairs(const Handle& mapping) {
    struct Entry {
      Handle key, value;
      bool has_identity;
      std::string identity;
    };
    std::vector<Entry> entries;
    SeededHashMap<std::string, std::size_t> local;
    tree_.source_pairs(mapping, [&](const Handle& key, const Handle& value) {
      if (!tree_.identity(key, id_)) {
        entries.push_back({key, value, false, {}});
        return;
      }
      const auto [it, inserted] = local.try_emplace(id_, entries.size());
      if (inserted)
        entries.push_back({key, value, true, id_});
      else
        entries[it->second].value = value;
    });
    FoldedMapping<Handle>& out = *out_;
    ++sources_;
    for (Entry& e : entries) {
      if (e.has_identity && !index_.try_emplace(std::move(e.identity), out.pairs.size()).second) continue;
      out.pairs.push_back({e.key, e.value, false, sources_});
    }
  }

  Tree& tree_;
  FoldedMapping<Handle>* out_ = nullptr;
  SeededHashMap<std::string, std::size_t> index_;
  std::string id_;
  std::uint32_t sources_ = 0;  // merge source mappings met so far
};

}  // namespace kestrine
