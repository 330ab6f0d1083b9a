#include "decode/merge.hpp"

#include <cmath>
#include <cstring>
#include <span>
#include <tuple>

#include "resolver/resolve.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

constexpr std::string_view kMergeText = "<<";

// The identity of `key` while merging, in `out`: equal for keys that are
// equal as Python values once loaded (the duplicate-key signature: 1, 1.0
// and true are one key).  False for a NaN key, which equals no other key and
// so is never looked up.
bool merge_identity(std::string& out, const YamlValue& key) {
  out.clear();
  if (key.kind == ValueKind::Float && std::isnan(key.real)) return false;
  write_key_signature(out, key);
  return true;
}

std::optional<YamlValue> expand_body(ValueArena& arena, const YamlValue& merge_value,
                                     std::vector<ValuePair>& pairs, FingerprintIndex& index) {
  switch (merge_value.kind) {
    case ValueKind::Null:
      return std::nullopt;
    case ValueKind::Mapping: {
      // Collapse the merged mapping's own repeated keys first: a later value
      // replaces an earlier one, at the earlier position.
      const auto src = merge_value.pairs();
      std::vector<std::optional<std::string>> ids;
      std::vector<ValuePair> collapsed;
      ids.reserve(src.size());
      collapsed.reserve(src.size());
      FingerprintIndex local;
      local.reserve(src.size());
      std::string id;
      for (const ValuePair& pair : src) {
        if (!merge_identity(id, pair.key)) {
          ids.emplace_back();
          collapsed.push_back(pair);
          continue;
        }
        auto [it, inserted] = local.try_emplace(id, collapsed.size());
        if (!inserted) {
          collapsed[it->second].value = pair.value;
          continue;
        }
        ids.emplace_back(std::move(id));
        collapsed.push_back(pair);
      }
      for (std::size_t i = 0; i < collapsed.size(); ++i) {
        if (!ids[i]) {
          pairs.push_back(collapsed[i]);
          continue;
        }
        auto [it, inserted] = index.try_emplace(std::move(*ids[i]), pairs.size());
        if (inserted) pairs.push_back(collapsed[i]);
      }
      return std::nullopt;
    }
    case ValueKind::Sequence: {
      std::vector<YamlValue> rest;
      for (const YamlValue& item : merge_value.items()) {
        std::optional<YamlValue> r = expand_merge_keys(arena, item, pairs, index);
        if (r) rest.push_back(*r);
      }
      if (rest.empty()) return std::nullopt;
      return arena.make_sequence(rest);
    }
    default:
      return merge_value;
  }
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

// Rebuilds a mapping that holds merge keys from its (already processed) pairs.
YamlValue rebuild_mapping(ValueArena& arena, std::span<const ValuePair> old) {
  std::vector<ValuePair> out;
  out.reserve(old.size());
  FingerprintIndex index;
  index.reserve(old.size());
  constexpr std::size_t kNoSlot = std::size_t(-1);
  std::size_t slot = kNoSlot;
  // Values gathered for the merge slot; the slot's list is built once at the
  // end instead of being copied on every addition.
  std::vector<YamlValue> slot_items;
  bool slot_list = false;
  std::string id;
  for (const ValuePair& pair : old) {
    if (is_merge_marker(pair.key)) {
      std::optional<YamlValue> rest = expand_merge_keys(arena, pair.value, out, index);
      if (!rest) continue;
      if (slot == kNoSlot) {
        const YamlValue key = YamlValue::string_literal(kMergeText);
        merge_identity(id, key);
        auto [it, inserted] = index.try_emplace(id, out.size());
        if (!inserted) continue;
        out.push_back({key, *rest});
        slot = out.size() - 1;
        slot_list = false;
        slot_items.clear();
        continue;
      }
      if (!slot_list) {
        const YamlValue& current = out[slot].value;
        slot_items.clear();
        if (current.is_sequence()) {
          slot_items.assign(current.items().begin(), current.items().end());
        } else {
          slot_items.push_back(current);
        }
        slot_list = true;
      }
      if (rest->is_sequence()) {
        slot_items.insert(slot_items.end(), rest->items().begin(), rest->items().end());
      } else {
        slot_items.push_back(*rest);
      }
      continue;
    }
    if (!merge_identity(id, pair.key)) {
      out.push_back(pair);
      continue;
    }
    auto [it, inserted] = index.try_emplace(id, out.size());
    if (inserted) {
      out.push_back(pair);
      continue;
    }
    const std::size_t pos = it->second;
    out[pos].value = pair.value;
    if (slot == pos) {
      slot = kNoSlot;
      slot_list = false;
      slot_items.clear();
    }
  }
  if (slot != kNoSlot && slot_list) out[slot].value = arena.make_sequence(slot_items);
  return arena.make_mapping(out);
}

// The merge pass over one document.  It never edits a node in place: a
// subtree that changes is rebuilt along the path to the change, so subtrees
// shared between several parents (aliases) give every parent the result a
// private copy would have given.  Results are memoised per shared payload,
// so a subtree reached through many aliases is processed once.
class MergePass {
 public:
  explicit MergePass(ValueArena& arena) : arena_(arena) {}

  // Value context: merge keys are folded in.
  YamlValue apply(const YamlValue& v) {
    return stack_guarded([&] { return apply_body(v); });
  }
  // Key context: merge markers become the String "<<", nothing is folded.
  YamlValue replace(const YamlValue& v) {
    return stack_guarded([&] { return replace_body(v); });
  }

 private:
  using Memo = absl::flat_hash_map<PayloadId, YamlValue>;

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
          out = rebuild_mapping(arena_, now);
        else if (fresh != nullptr)
          out = arena_.adopt_mapping(fresh, pairs.size());
        break;
      }
      default:
        break;
    }
    out.flags = v.flags;  // a rebuilt anchored node still shares its texts
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
  Memo applied_;
  Memo replaced_;
};

}  // namespace

YamlValue merge_key_value(ValueArena& arena, std::string_view text) {
  return arena.make_tagged_ref(kMergeTag, arena.make_string_ref(text));
}

bool is_merge_marker(const YamlValue& value) noexcept {
  return value.kind == ValueKind::Tagged && value.tagged().tag == kMergeTag;
}

std::optional<YamlValue> expand_merge_keys(ValueArena& arena, const YamlValue& merge_value,
                                           std::vector<ValuePair>& pairs,
                                           FingerprintIndex& index) {
  return stack_guarded([&] { return expand_body(arena, merge_value, pairs, index); });
}

void apply_merge_keys(ValueArena& arena, YamlValue& document) {
  MergePass pass(arena);
  document = pass.apply(document);
}

void replace_merge_markers(ValueArena& arena, YamlValue& value) {
  MergePass pass(arena);
  value = pass.replace(value);
}

void replace_merge_markers_in_place(YamlValue& value) {
  std::vector<YamlValue*> stack;
  stack.push_back(&value);
  while (!stack.empty()) {
    YamlValue* v = stack.back();
    stack.pop_back();
    switch (v->kind) {
      case ValueKind::Tagged:
        if (is_merge_marker(*v))
          *v = v->tagged().inner;
        else
          stack.push_back(&v->tagged().inner);
        break;
      case ValueKind::Sequence:
        for (YamlValue& item : v->items()) stack.push_back(&item);
        break;
      case ValueKind::Mapping:
        for (ValuePair& pair : v->pairs()) {
          stack.push_back(&pair.key);
          stack.push_back(&pair.value);
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace kestrine
