#include "schema/instance.hpp"

#include <optional>
#include <utility>
#include <vector>

#include "decode/merge.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/anchors.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// The copy of one node's own fields (not its children): kind and text or
// style, tag, positions and provenance.
YamlNode copy_shell(const YamlNode& n) {
  YamlNode copy;
  if (n.is_scalar()) copy.set_scalar(std::string_view(n.text()), n.scalar_style());
  copy.span = n.span;
  copy.end_offset = n.end_offset;
  copy.end_line = n.end_line;
  copy.end_column = n.end_column;
  copy.style = n.style;
  if (n.tag()) copy.copy_tag(n);
  if (const IncludeSource* source = n.source()) copy.set_source(*source);
  return copy;
}

class AliasExpander {
 public:
  AliasExpander(const ExpansionLimits& limits)
      : limits_(limits), budget_(limits.alias_node_budget), text_budget_(limits.alias_text_budget) {}

  // Records, in document order, the node each alias stands for: the most
  // recent node carrying its anchor that is complete at the alias.
  void bind(const YamlNode& n) {
    if (n.is_alias()) {
      const auto it = anchors_.find(std::string_view(n.alias_name()));
      bindings_[&n] = it == anchors_.end() ? nullptr : it->second;
    } else if (n.is_collection()) {
      stack_guarded([&] {
        for (const YamlNode& item : n.items()) bind(item);
        for (const NodePair& p : n.pairs()) {
          bind(p.key);
          bind(p.value);
        }
      });
    }
    if (const auto anchor = n.anchor().view()) anchors_.insert_or_assign(*anchor, &n);
  }

  // `depth`: the number of alias expansions the node lies in.
  YamlNode expand(const YamlNode& n, std::uint32_t depth) {
    const std::size_t text_bytes = n.is_scalar() ? n.text().size() : 0;
    if (depth > limits_.max_alias_depth || (depth > 0 && (budget_ == 0 || text_budget_ < text_bytes)))
      return YamlNode::null_at(n.span);
    if (depth > 0) {
      --budget_;
      text_budget_ -= text_bytes;
    }
    if (n.is_alias()) {
      const auto it = bindings_.find(&n);
      if (it == bindings_.end() || it->second == nullptr) return YamlNode::null_at(n.span);
      YamlNode copy = stack_guarded([&] { return expand(*it->second, depth + 1); });
      copy.span = n.span;  // failures inside are reported at the alias
      return copy;
    }
    YamlNode copy = copy_shell(n);
    if (n.is_sequence()) {
      std::vector<YamlNode> items;
      items.reserve(n.size());
      stack_guarded([&] {
        for (const YamlNode& item : n.items()) items.push_back(expand(item, depth));
      });
      copy.set_sequence(std::move(items));
    } else if (n.is_mapping()) {
      std::vector<NodePair> pairs;
      pairs.reserve(n.size());
      stack_guarded([&] {
        for (const NodePair& p : n.pairs()) pairs.push_back(NodePair{expand(p.key, depth), expand(p.value, depth)});
      });
      copy.set_mapping(std::move(pairs));
    }
    return copy;
  }

 private:
  ExpansionLimits limits_;
  std::uint64_t budget_;
  std::uint64_t text_budget_;
  SeededHashMap<std::string_view, const YamlNode*> anchors_;
  SeededHashMap<const YamlNode*, const YamlNode*> bindings_;
};

class MergeFolder {
 public:
  explicit MergeFolder(VersionMode mode) : mode_(mode) {}

  // Values before their mapping, so that merge sources are folded before
  // they are merged onward.
  void fold(YamlNode& n) {
    if (!n.is_collection()) return;
    stack_guarded([&] {
      for (YamlNode& item : n.items()) fold(item);
      for (NodePair& p : n.pairs()) fold(p.value);
    });
    if (n.is_mapping()) fold_mapping(n);
  }

 private:
  std::string fingerprint(const YamlNode& key) {
    ValueArena arena;
    std::string fp;
    write_key_signature(fp, node_to_value(key, mode_, arena));
    return fp;
  }

  void fold_mapping(YamlNode& n) {
    bool any_merge = false;
    for (const NodePair& p : n.pairs()) any_merge = any_merge || is_merge_key_node(p.key);
    if (!any_merge) return;
    NodeList<NodePair> old = std::move(n.pairs_mut());
    std::vector<NodePair> rebuilt;
    rebuilt.reserve(old.size());
    SeededHashSet<std::string> seen;
    std::vector<NodePair*> merges;
    for (NodePair& p : old) {
      if (is_merge_key_node(p.key)) {
        merges.push_back(&p);
        continue;
      }
      seen.insert(fingerprint(p.key));  // own keys are never dropped, even repeated ones
      rebuilt.push_back(std::move(p));
    }
    for (NodePair* merge : merges) {
      std::optional<YamlNode> rest = take_merge_source(rebuilt, seen, std::move(merge->value));
      if (!rest) continue;
      YamlNode key = YamlNode::scalar("<<", ScalarStyle::Plain, merge->key.span);
      key.end_offset = merge->key.end_offset;
      key.end_line = merge->key.end_line;
      key.end_column = merge->key.end_column;
      rebuilt.push_back(NodePair{std::move(key), std::move(*rest)});
    }
    n.set_mapping(std::move(rebuilt));
  }

  // Appends the new pairs of one merge value; gives back what cannot be
  // merged (scalars, and sequences of them), or nothing.
  std::optional<YamlNode> take_merge_source(std::vector<NodePair>& out, SeededHashSet<std::string>& seen,
                                            YamlNode&& value) {
    if (value.is_mapping()) {
      for (NodePair& p : value.pairs_mut())
        if (seen.insert(fingerprint(p.key)).second) out.push_back(std::move(p));
      return std::nullopt;
    }
    if (value.is_sequence()) {
      std::vector<YamlNode> kept;
      stack_guarded([&] {
        for (YamlNode& item : value.items_mut())
          if (std::optional<YamlNode> rest = take_merge_source(out, seen, std::move(item)))
            kept.push_back(std::move(*rest));
      });
      if (kept.empty()) return std::nullopt;
      value.set_sequence(std::move(kept));
      return std::move(value);
    }
    if (loads_as_null(value)) return std::nullopt;
    return std::move(value);
  }

  // An empty value, or a scalar that reads as null ("null", "~"): what the
  // loaded data drops from a merge.
  bool loads_as_null(const YamlNode& n) const noexcept {
    if (n.is_null()) return true;
    return n.is_scalar() &&
           resolve_scalar_kind(mode_, n.text(), n.scalar_style() != ScalarStyle::Plain, n.expanded_tag()).type ==
               ScalarType::Null;
  }

  VersionMode mode_;
};

YamlValue scalar_node_value(const YamlNode& n, VersionMode mode, ValueArena& arena) {
  const std::string_view text = n.text();
  const ScalarKind k = resolve_scalar_kind(mode, text, n.scalar_style() != ScalarStyle::Plain, n.expanded_tag());
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

}  // namespace

bool needs_instance_copy(const YamlNode& root) {
  std::vector<const YamlNode*> stack{&root};
  while (!stack.empty()) {
    const YamlNode* n = stack.back();
    stack.pop_back();
    switch (n->kind()) {
      case NodeKind::Alias:
        return true;
      case NodeKind::Sequence:
        for (const YamlNode& item : n->items())
          if (item.is_collection() || item.is_alias()) stack.push_back(&item);
        break;
      case NodeKind::Mapping:
        for (const NodePair& p : n->pairs()) {
          if (is_merge_key_node(p.key)) return true;
          if (p.key.is_collection() || p.key.is_alias()) stack.push_back(&p.key);
          if (p.value.is_collection() || p.value.is_alias()) stack.push_back(&p.value);
        }
        break;
      default:
        break;
    }
  }
  return false;
}

YamlNode prepare_instance(const YamlNode& root, VersionMode mode, const ExpansionLimits& limits) {
  YamlNode copy;
  {
    AliasExpander expander(limits);
    expander.bind(root);
    copy = expander.expand(root, 0);
  }
  MergeFolder(mode).fold(copy);
  return copy;
}

YamlValue node_to_value(const YamlNode& node, VersionMode mode, ValueArena& arena) {
  switch (node.kind()) {
    case NodeKind::Scalar:
      return scalar_node_value(node, mode, arena);
    case NodeKind::Sequence: {
      YamlValue seq = arena.alloc_sequence(node.size());
      stack_guarded([&] {
        const auto items = node.items();
        for (std::size_t i = 0; i < items.size(); ++i) seq.items()[i] = node_to_value(items[i], mode, arena);
      });
      return seq;
    }
    case NodeKind::Mapping: {
      YamlValue map = arena.alloc_mapping(node.size());
      stack_guarded([&] {
        const auto pairs = node.pairs();
        for (std::size_t i = 0; i < pairs.size(); ++i) {
          map.pairs()[i].key = node_to_value(pairs[i].key, mode, arena);
          map.pairs()[i].value = node_to_value(pairs[i].value, mode, arena);
        }
      });
      return map;
    }
    case NodeKind::Alias:
    case NodeKind::Null:
      break;
  }
  return YamlValue::null();
}

}  // namespace kestrine
