#include "schema/instance.hpp"

#include <optional>
#include <string>

#include "resolver/resolve.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

YamlValue scalar_node_value(const YamlNode& n, VersionMode mode, ValueArena& arena) {
  if (!n.is_scalar()) return YamlValue::null();
  const std::string_view text = n.text();
  // A plain untagged scalar composing found to be a str under YAML 1.2.
  if (mode == VersionMode::Yaml12 && (n.scalar_facts() & scalar_fact::kStrInYaml12) != 0 && !n.expanded_tag())
    return arena.make_string_ref(text);
  return scalar_kind_value(resolve_scalar_kind(mode, text, n.scalar_style() != ScalarStyle::Plain, n.expanded_tag()),
                           text, arena);
}

YamlValue InstanceView::to_value(const NodeRef& ref, std::uint32_t depth, ValueArena& arena, AliasReadLimits& limits) {
  const NodeRef r = folds_.follow(ref);
  depth = add_alias_counts(depth, r.aliases - ref.aliases);
  if (depth > kMaxValidationAliasDepth) {
    limits.stopped = kAliasesTooDeepMessage;
    return YamlValue::null();
  }
  if (depth > 0 && !limits.count_node()) return YamlValue::null();
  const auto child = [&](const NodeRef& c) {
    return stack_guarded([&] { return to_value(c, add_alias_counts(depth, c.aliases), arena, limits); });
  };
  const auto more = [&] { return limits.stopped.empty(); };
  if (r.list != nullptr) {
    const auto& items = r.list->items;
    YamlValue seq = arena.alloc_sequence(items.size());
    for (std::size_t i = 0; i < items.size() && more(); ++i) {
      const MergeLeftover<NodeRef>& item = items[i];
      seq.items()[i] = child(item.is_list ? NodeRef{nullptr, &item, 0, false} : item.value);
    }
    return seq;
  }
  if (r.node == nullptr) return YamlValue::null();
  const YamlNode& n = *r.node;
  switch (n.kind()) {
    case NodeKind::Scalar:
      if (depth > 0 && !limits.charge(n.text().size())) return YamlValue::null();
      return scalar_node_value(n, mode_, arena);
    case NodeKind::Sequence: {
      const auto items = n.items();
      YamlValue seq = arena.alloc_sequence(items.size());
      for (std::size_t i = 0; i < items.size() && more(); ++i) seq.items()[i] = child(NodeRef{&items[i]});
      return seq;
    }
    case NodeKind::Mapping: {
      if (const FoldedMapping<NodeRef>* folded = members(n, depth > 0)) {
        YamlValue map = arena.alloc_mapping(folded->pairs.size());
        for (std::size_t i = 0; i < folded->pairs.size() && more(); ++i) {
          const FoldedPair<NodeRef>& p = folded->pairs[i];
          map.pairs()[i].key = p.merge_text_key || p.key.merge_text ? YamlValue::string_literal("<<") : child(p.key);
          map.pairs()[i].value =
              folded->slot == i ? child(folded->leftover.is_list ? NodeRef{nullptr, &folded->leftover, 0, false}
                                                                 : folded->leftover.value)
                                : child(p.value);
        }
        return map;
      }
      const auto pairs = n.pairs();
      YamlValue map = arena.alloc_mapping(pairs.size());
      for (std::size_t i = 0; i < pairs.size() && more(); ++i) {
        map.pairs()[i].key = child(NodeRef{&pairs[i].key});
        map.pairs()[i].value = child(NodeRef{&pairs[i].value});
      }
      return map;
    }
    case NodeKind::Alias:
    case NodeKind::Null:
      break;
  }
  return YamlValue::null();
}

}  // namespace kestrine
