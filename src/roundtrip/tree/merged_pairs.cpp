#include "roundtrip/tree/merged_pairs.hpp"

#include <cmath>
#include <deque>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/directives.hpp"  // is_custom_tag
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/tree/tree_ops.hpp"  // is_secret_node
#include "util/repeated_text.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// A ref of a merge source's fold as the merging mapping sees it: behind
// `by` more aliases, and secret when the source is.
NodeRef shifted(NodeRef ref, std::uint32_t by, bool secret) noexcept {
  ref.aliases = add_alias_counts(ref.aliases, by);
  ref.secret = ref.secret || secret;
  return ref;
}

// `ref` leads to a secret's content: it lies in one, or it or the node
// it stands for (`target`) came from !secret.
bool leads_to_secret(const NodeRef& ref, const NodeRef& target) noexcept {
  return ref.secret || (ref.node != nullptr && is_secret_node(*ref.node)) ||
         (target.node != nullptr && is_secret_node(*target.node));
}

std::optional<std::string_view> custom_tag(const YamlNode& node) noexcept {
  const auto tag = node.expanded_tag();
  if (tag && is_custom_tag(*tag)) return tag;
  return std::nullopt;
}

}  // namespace

YamlValue key_node_value(const YamlNode& key, KeyReading reading, AliasFollower& aliases, ValueArena& arena) {
  const YamlNode* n = &key;
  while (n != nullptr && n->is_alias()) n = aliases.target(*n);
  if (n == nullptr) return YamlValue::null();
  const auto tag = n->expanded_tag();
  YamlValue v;
  switch (n->kind()) {
    case NodeKind::Scalar: {
      const bool plain = n->scalar_style() == ScalarStyle::Plain;
      const ScalarKind k = resolve_scalar_kind(reading.mode, n->text(), !plain, tag);
      v = scalar_kind_value(k, n->text(), arena);
      if (k.type == ScalarType::Str && reading.timestamps && !tag && plain) {
        if (const auto ts = parse_timestamp(n->text())) v = arena.make_timestamp(*ts);
      }
      break;
    }
    case NodeKind::Null:
      v = tag ? scalar_kind_value(resolve_scalar_kind(reading.mode, "", false, tag), "", arena) : YamlValue::null();
      break;
    case NodeKind::Sequence: {
      const auto items = n->items();
      v = arena.alloc_sequence(items.size());
      stack_guarded([&] {
        for (std::size_t i = 0; i < items.size(); ++i) v.items()[i] = key_node_value(items[i], reading, aliases, arena);
      });
      break;
    }
    case NodeKind::Mapping: {
      const auto pairs = n->pairs();
      v = arena.alloc_mapping(pairs.size());
      stack_guarded([&] {
        for (std::size_t i = 0; i < pairs.size(); ++i) {
          v.pairs()[i].key = key_node_value(pairs[i].key, reading, aliases, arena);
          v.pairs()[i].value = key_node_value(pairs[i].value, reading, aliases, arena);
        }
      });
      break;
    }
    case NodeKind::Alias:
      break;
  }
  if (const auto custom = custom_tag(*n)) v = arena.make_tagged_ref(*custom, v);
  return v;
}

namespace {

// The fold's view of round-trip trees.  A merge source mapping is handed
// over folded (its own fold, from the cache), shifted by the aliases that
// led to it.
class NodeTree {
 public:
  using Handle = NodeRef;

  explicit NodeTree(MappingFolds& folds) : folds_(folds) {}

  bool is_merge_key(const NodeRef& key) const noexcept {
    return key.node != nullptr && !key.merge_text &&
           is_merge_key_node(*key.node, folds_.reading().mode, folds_.aliases());
  }

  MergeSourceKind source_kind(const NodeRef& value) {
    const NodeRef t = folds_.follow(value);
    if (t.node == nullptr) return t.list != nullptr ? MergeSourceKind::Other : MergeSourceKind::Null;
    const YamlNode& n = *t.node;
    // What a custom tag makes of a node is the tag's business: never merged.
    if (custom_tag(n)) return MergeSourceKind::Other;
    switch (n.kind()) {
      case NodeKind::Mapping: return MergeSourceKind::Mapping;
      case NodeKind::Sequence: return MergeSourceKind::Sequence;
      case NodeKind::Null:
        if (!n.tag()) return MergeSourceKind::Null;
        [[fallthrough]];
      case NodeKind::Scalar: {
        const bool non_plain = n.is_scalar() && n.scalar_style() != ScalarStyle::Plain;
        const std::string_view text = n.is_scalar() ? std::string_view(n.text()) : std::string_view();
        const ScalarKind k = resolve_scalar_kind(folds_.reading().mode, text, non_plain, n.expanded_tag());
        return k.type == ScalarType::Null ? MergeSourceKind::Null : MergeSourceKind::Other;
      }
      case NodeKind::Alias: break;
    }
    return MergeSourceKind::Null;
  }

  template <class F>
  void source_pairs(const NodeRef& mapping, F&& each) {
    const NodeRef t = folds_.follow(mapping);
    const bool secret = leads_to_secret(mapping, t);
    const FoldedMapping<NodeRef>& f = folds_.fold(*t.node);
    for (std::size_t i = 0; i < f.pairs.size(); ++i) {
      const FoldedPair<NodeRef>& p = f.pairs[i];
      NodeRef key = shifted(p.key, t.aliases, secret);
      key.merge_text = key.merge_text || p.merge_text_key;
      each(key, f.slot == i ? leftover_ref(f.leftover, t.aliases, secret) : shifted(p.value, t.aliases, secret));
    }
  }

  template <class F>
  void source_items(const NodeRef& sequence, F&& each) {
    const NodeRef t = folds_.follow(sequence);
    const bool secret = leads_to_secret(sequence, t);
    for (const YamlNode& item : t.node->items()) each(NodeRef{&item, nullptr, t.aliases, false, secret});
  }

  bool identity(const NodeRef& key, std::string& out) { return folds_.identity(key, out); }

 private:
  static NodeRef leftover_ref(const MergeLeftover<NodeRef>& l, std::uint32_t aliases, bool secret) noexcept {
    if (!l.is_list) return shifted(l.value, aliases, secret);
    return NodeRef{nullptr, &l, aliases, false, secret};
  }

  MappingFolds& folds_;
};

// A key that reads as a string whatever the mode: quoted or block, or plain
// with a text that no resolver reads as anything else; no tag, no alias.
// Two such keys are one key exactly when their texts are equal.
bool is_text_key(const YamlNode& key, KeyReading reading) noexcept {
  if (!key.is_scalar() || key.tag()) return false;
  if (key.scalar_style() != ScalarStyle::Plain) return true;
  // What composing found out, in the usual reading (no timestamps under 1.2).
  if (reading.mode == VersionMode::Yaml12 && !reading.timestamps &&
      (key.scalar_facts() & scalar_fact::kStrInYaml12) != 0)
    return true;
  if (resolve_scalar_kind(reading.mode, key.text(), false, std::nullopt).type != ScalarType::Str) return false;
  return !(reading.timestamps && parse_timestamp(key.text()));
}

}  // namespace

YamlValue scalar_kind_value(const ScalarKind& k, std::string_view text, ValueArena& arena) {
  switch (k.type) {
    case ScalarType::Null:
      return YamlValue::null();
    case ScalarType::Bool:
      return YamlValue::of_bool(k.boolean);
    case ScalarType::Int:
      return YamlValue::of_int(k.integer);
    case ScalarType::Float:
      return YamlValue::of_float(k.real);
    case ScalarType::BigInt:
      if (const std::optional<std::string> digits = normalize_int_literal(text)) return arena.make_bigint(*digits);
      return arena.make_bigint_ref(text);
    case ScalarType::Merge:
      return YamlValue::string_literal("<<");
    case ScalarType::Str:
      break;
  }
  return arena.make_string_ref(text);
}

NodeRef MappingFolds::follow(NodeRef ref) {
  while (ref.node != nullptr && ref.node->is_alias()) {
    ref.node = aliases_.target(*ref.node);
    ref.aliases = add_alias_counts(ref.aliases, 1);
  }
  return ref;
}

bool MappingFolds::identity(const NodeRef& key, std::string& out) {
  out.clear();
  if (key.merge_text) {
    out = kMergeTextIdentity;
    return true;
  }
  if (key.node == nullptr) {
    write_key_signature(out, YamlValue::null());
    return true;
  }
  ValueArena arena;
  const YamlValue v = key_node_value(*key.node, reading_, aliases_, arena);
  const YamlValue& bare = key_as_converted(v, reading_.tags);
  if (bare.kind == ValueKind::Float && std::isnan(bare.real)) return false;
  write_key_signature(out, v, reading_.tags);
  return true;
}

const FoldedMapping<NodeRef>& MappingFolds::fold(const YamlNode& mapping) {
  if (auto it = folds_.find(&mapping); it != folds_.end() && it->second != nullptr) return *it->second;
  // Folding may fold (and insert) merge sources first: the slot is found again.
  std::unique_ptr<FoldedMapping<NodeRef>> folded = compute_fold(mapping);
  return *folds_.insert_or_assign(&mapping, std::move(folded)).first->second;
}

const FoldedMapping<NodeRef>* MappingFolds::members(const YamlNode& mapping, bool keep_answer) {
  if (!mapping.is_mapping()) return nullptr;
  if (keep_answer) {
    if (auto it = folds_.find(&mapping); it != folds_.end()) return it->second.get();
  }
  if (has_merge_key(mapping.pairs(), reading_.mode, aliases_) || repeats_keys(mapping)) return &fold(mapping);
  if (keep_answer) folds_.emplace(&mapping, nullptr);
  return nullptr;
}

std::unique_ptr<FoldedMapping<NodeRef>> MappingFolds::compute_fold(const YamlNode& mapping) {
  auto folded = std::make_unique<FoldedMapping<NodeRef>>();
  stack_guarded([&] {
    NodeTree tree(*this);
    MergeFold<NodeTree>(tree).fold(
        [&](auto&& each) {
          for (const NodePair& p : mapping.pairs()) each(NodeRef{&p.key}, NodeRef{&p.value});
        },
        *folded);
  });
  return folded;
}

// Whether two keys of `mapping` are one key.  Keys that read as text (the
// common case) compare by text, two by two in a small mapping; the others,
// and every key of a large mapping, by identity.
bool MappingFolds::repeats_keys(const YamlNode& mapping) {
  const auto pairs = mapping.pairs();
  const std::size_t n = pairs.size();
  if (n < 2) return false;
  if (n <= kPairwiseTexts) {
    bool all_text = true;
    for (std::size_t i = 0; all_text && i < n; ++i) all_text = is_text_key(pairs[i].key, reading_);
    if (all_text) return some_text_repeats(n, [&](std::size_t i) { return std::string_view(pairs[i].key.text()); });
  }
  // Text keys by view; the others by identity, where a string is spelled
  // "s:" as write_key_signature spells it, so that it meets text keys too.
  SeededHashSet<std::string_view> texts;
  SeededHashSet<std::string> others;
  std::deque<std::string> owned;  // texts of keys that are strings by their tag: stable in place
  texts.reserve(n);
  for (const NodePair& p : pairs) {
    if (is_text_key(p.key, reading_)) {
      if (!texts.insert(p.key.text()).second) return true;
      continue;
    }
    if (!identity(NodeRef{&p.key}, scratch_)) continue;
    if (scratch_.starts_with("s:")) {
      const std::string& kept = owned.emplace_back(scratch_.substr(scratch_.find(':', 2) + 1));
      if (!texts.insert(kept).second) return true;
      continue;
    }
    if (!others.insert(scratch_).second) return true;
  }
  return false;
}

}  // namespace kestrine
