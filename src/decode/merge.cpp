#include "decode/merge.hpp"

#include <cmath>
#include <cstring>
#include <span>
#include <tuple>

#include "decode/merge_fold.hpp"
#include "resolver/resolve.hpp"
#include "util/hash_map.hpp"
#include "util/repeated_text.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// The fold's view of value trees: handles are the values themselves
// (16 bytes), merge sources are already folded (values are processed before
// their mapping).
struct FoldValueTree {
  using Handle = YamlValue;

  // Keys compare as converted, without the tags `tags` does not keep;
  // with `every_tag`, every custom tag counts.
  const KeyTags* tags = nullptr;
  bool every_tag = false;

  bool is_merge_key(const YamlValue& key) const noexcept { return is_merge_marker(key); }
  MergeSourceKind source_kind(const YamlValue& v) const noexcept {
    switch (v.kind) {
      case ValueKind::Null: return MergeSourceKind::Null;
      case ValueKind::Mapping: return MergeSourceKind::Mapping;
      case ValueKind::Sequence: return MergeSourceKind::Sequence;
      default: return MergeSourceKind::Other;
    }
  }
  template <class F>
  void source_pairs(const YamlValue& mapping, F&& each) const {
    for (const ValuePair& p : mapping.pairs()) each(p.key, p.value);
  }
  template <class F>
  void source_items(const YamlValue& sequence, F&& each) const {
    for (const YamlValue& item : sequence.items()) each(item);
  }
  // Keys equal as Python values are one key (the duplicate-key signature:
  // 1, 1.0 and true); a NaN key equals none.
  bool identity(const YamlValue& key, std::string& out) const {
    out.clear();
    const YamlValue& bare = every_tag ? key : key_as_converted(key, tags);
    if (bare.kind == ValueKind::Float && std::isnan(bare.real)) return false;
    if (every_tag)
      write_key_signature(out, key);
    else
      write_key_signature(out, key, tags);
    return true;
  }
};

YamlValue leftover_value(ValueArena& arena, const MergeLeftover<YamlValue>& rest) {
  if (!rest.is_list) return rest.value;
  std::vector<YamlValue> items;
  items.reserve(rest.items.size());
  for (const MergeLeftover<YamlValue>& item : rest.items)
    items.push_back(stack_guarded([&] { return leftover_value(arena, item); }));
  return arena.make_sequence(items);
}

bool same_handle(const YamlValue& a, const YamlValue& b) noexcept {
  return std::memcmp(&a, &b, sizeof(YamlValue)) == 0;
}

// Identity of a collection or tagged value's payload (kind, address and
// length), for memoising walks over trees whose subtrees may be shared
// (aliases); a null address for empty collections and scalars.
using PayloadId = std::tuple<const void*, std::size_t, std::uint8_t>;

PayloadId payload_id(const YamlValue& v) noexcept {
  const auto kind = static_cast<std::uint8_t>(v.kind);
  switch (v.kind) {
    case ValueKind::Sequence:
      return {v.size() ? static_cast<const void*>(v.items().data()) : nullptr, v.size(), kind};
    case ValueKind::Mapping:
      return {v.size() ? static_cast<const void*>(v.pairs().data()) : nullptr, v.size(), kind};
    case ValueKind::Tagged:
      return {&v.tagged(), 1, kind};
    default:
      return {nullptr, 0, kind};
  }
}

constexpr std::uint16_t kMergeOrigin = YamlValue::kMergedKey | YamlValue::kMergeSourceStart;

// Rebuilds a mapping that holds merge keys from its (already processed)
// pairs, marking the pairs merged from each source.
YamlValue rebuild_mapping(ValueArena& arena, std::span<const ValuePair> old, FoldValueTree tree) {
  FoldedMapping<YamlValue> folded;
  MergeFold<FoldValueTree>(tree).fold(
      [&](auto&& each) {
        for (const ValuePair& p : old) each(p.key, p.value);
      },
      folded);
  std::vector<ValuePair> out;
  out.reserve(folded.pairs.size());
  std::uint32_t source = 0;
  for (std::size_t i = 0; i < folded.pairs.size(); ++i) {
    const FoldedPair<YamlValue>& p = folded.pairs[i];
    YamlValue key = p.merge_text_key ? YamlValue::string_literal("<<") : p.key;
    // A merge source's own merged pairs are plain pairs of that source here.
    key.flags &= ~kMergeOrigin;
    if (p.source != 0) {
      key.flags |= p.source != source ? kMergeOrigin : YamlValue::kMergedKey;
      source = p.source;
    }
    out.push_back({key, folded.slot == i ? leftover_value(arena, folded.leftover) : p.value});
  }
  YamlValue mapping = arena.make_mapping(out);
  if (source != 0) mapping.flags |= YamlValue::kMergedPairs;
  return mapping;
}

// The merge pass over one document.  It never edits a node in place: a
// subtree that changes is rebuilt along the path to the change, so subtrees
// shared between several parents (aliases) give every parent the result a
// private copy would have given.  Results are memoised per shared payload,
// so a subtree reached through many aliases is processed once.
class MergePass {
 public:
  MergePass(ValueArena& arena, const KeyTags* key_tags) : arena_(arena) { tree_.tags = key_tags; }

  // Value context: merge keys are folded in.
  YamlValue apply(const YamlValue& v) {
    return stack_guarded([&] { return apply_body(v); });
  }
  // Key context: merge markers become the String "<<", nothing is folded.
  YamlValue replace(const YamlValue& v) {
    return stack_guarded([&] { return replace_body(v); });
  }

 private:
  using Memo = FlatHashMap<PayloadId, YamlValue>;

  template <class Child>
  YamlValue walk(const YamlValue& v, Memo& memo, Child child, bool fold) {
    const PayloadId id = payload_id(v);
    if (std::get<0>(id) == nullptr) return v;
    if (auto it = memo.find(id); it != memo.end()) return it->second;
    YamlValue out = v;
    switch (v.kind) {
      case ValueKind::Tagged: {
        const YamlValue inner = child(v.tagged().inner);
        if (!same_handle(inner, v.tagged().inner)) out = arena_.make_tagged_ref(v.tagged().tag, inner);
        break;
      }
      case ValueKind::Sequence: {
        const auto items = v.items();
        YamlValue* fresh = nullptr;
        for (std::size_t i = 0; i < items.size(); ++i) {
          const YamlValue r = child(items[i]);
          if (fresh == nullptr && !same_handle(r, items[i])) {
            fresh = arena_.allocate_array<YamlValue>(items.size());
            std::memcpy(static_cast<void*>(fresh), items.data(), i * sizeof(YamlValue));
          }
          if (fresh != nullptr) fresh[i] = r;
        }
        if (fresh != nullptr) out = arena_.adopt_sequence(fresh, items.size());
        break;
      }
      case ValueKind::Mapping: {
        const auto pairs = v.pairs();
        ValuePair* fresh = nullptr;
        bool has_merge = false;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
          ValuePair r;
          if (fold && is_merge_marker(pairs[i].key)) {
            has_merge = true;
            r.key = pairs[i].key;
          } else {
            r.key = replace(pairs[i].key);
          }
          r.value = child(pairs[i].value);
          if (fresh == nullptr && (!same_handle(r.key, pairs[i].key) || !same_handle(r.value, pairs[i].value))) {
            fresh = arena_.allocate_array<ValuePair>(pairs.size());
            std::memcpy(static_cast<void*>(fresh), pairs.data(), i * sizeof(ValuePair));
          }
          if (fresh != nullptr) fresh[i] = r;
        }
        const std::span<const ValuePair> now =
            fresh != nullptr ? std::span<const ValuePair>(fresh, pairs.size()) : pairs;
        if (has_merge)
          out = rebuild_mapping(arena_, now, tree_);
        else if (fresh != nullptr)
          out = arena_.adopt_mapping(fresh, pairs.size());
        break;
      }
      default:
        break;
    }
    // A rebuilt anchored node still shares its texts.
    out.flags = static_cast<std::uint16_t>(v.flags | (out.flags & YamlValue::kMergedPairs));
    memo.emplace(id, out);
    return out;
  }

  YamlValue apply_body(const YamlValue& v) {
    if (is_merge_marker(v)) return v.tagged().inner;
    return walk(v, applied_, [this](const YamlValue& c) { return apply(c); }, true);
  }
  YamlValue replace_body(const YamlValue& v) {
    if (is_merge_marker(v)) return v.tagged().inner;
    return walk(v, replaced_, [this](const YamlValue& c) { return replace(c); }, false);
  }

  ValueArena& arena_;
  FoldValueTree tree_;
  Memo applied_;
  Memo replaced_;
};

}  // namespace

YamlValue merge_key_value(ValueArena& arena) {
  return arena.make_tagged_ref(kMergeTag, YamlValue::string_literal("<<"));
}

bool is_merge_marker(const YamlValue& value) noexcept {
  return value.kind == ValueKind::Tagged && value.tagged().tag == kMergeTag;
}

bool has_repeated_keys(const YamlValue& mapping) {
  const auto pairs = mapping.pairs();
  if (pairs.size() < 2) return false;
  bool strings = pairs.size() <= kPairwiseTexts;
  for (std::size_t i = 0; strings && i < pairs.size(); ++i) strings = pairs[i].key.is_string();
  // String keys, the common case, are one key exactly when their texts are equal.
  if (strings) return some_text_repeats(pairs.size(), [&](std::size_t i) { return pairs[i].key.text(); });
  // Texts by view; other keys by identity.
  FoldValueTree tree;
  tree.every_tag = true;
  SeededHashSet<std::string_view> texts;
  SeededHashSet<std::string> others;
  texts.reserve(pairs.size());
  std::string id;
  for (const ValuePair& p : pairs) {
    if (p.key.is_string()) {
      if (!texts.insert(p.key.text()).second) return true;
    } else if (tree.identity(p.key, id) && !others.insert(id).second) {
      return true;
    }
  }
  return false;
}

YamlValue collapse_repeated_keys(ValueArena& arena, const YamlValue& mapping) {
  FoldValueTree tree;
  tree.every_tag = true;
  return rebuild_mapping(arena, mapping.pairs(), tree);
}

void apply_merge_keys(ValueArena& arena, YamlValue& document, const KeyTags* key_tags) {
  MergePass pass(arena, key_tags);
  document = pass.apply(document);
}

}  // namespace kestrine
