#include "roundtrip/document/anchor_edit.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "roundtrip/tree/anchors.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {
namespace {

// Where a step leads within `parent`, for ordering: an item's index, the
// place of the pair a key step resolves to (the last with that text), or
// past the end when nothing is there.
std::size_t step_position(const YamlNode* parent, const PathSegment& step) {
  constexpr std::size_t kPastEnd = static_cast<std::size_t>(-1);
  if (parent == nullptr) return kPastEnd;
  if (step.kind == PathSegment::Kind::Index) return step.index;
  if (!parent->is_mapping()) return kPastEnd;
  return last_pair_with_key(*parent, step.key, nullptr).value_or(kPastEnd);
}

EditError defined_after(std::string_view name) {
  return value_error("anchor '&" + std::string(name) + "' must be defined before the alias that references it");
}

}  // namespace

// ---- the guard ---------------------------------------------------------------------

bool carries_anchor(const YamlNode& node) {
  return node.anchor().has_value() || (node.is_collection() && any_child(node, carries_anchor));
}

bool anchors_below(const YamlNode& node) { return any_child(node, carries_anchor); }

std::vector<std::string> unbound_names(const YamlNode& root) {
  std::vector<std::string> names;
  const AnchorBindings bindings = bind_root_unlimited(root);
  auto visit = [&](auto& self, const YamlNode& node) -> void {
    stack_guarded([&] {
      if (node.is_alias() && bindings.binding(node) == nullptr) names.push_back(node.alias_name());
      for (const YamlNode& item : node.items()) self(self, item);
      for (const NodePair& pair : node.pairs()) {
        self(self, pair.key);
        self(self, pair.value);
      }
    });
  };
  visit(visit, root);
  return names;
}

std::optional<std::string> newly_unbound(const YamlNode& root, const std::vector<std::string>& before) {
  for (std::string& name : unbound_names(root))
    if (std::find(before.begin(), before.end(), name) == before.end()) return std::move(name);
  return std::nullopt;
}

EditError anchor_in_use(std::string_view doing, std::string_view name) {
  const std::string n(name);
  return value_error(std::string(doing) + " this node would remove anchor '&" + n +
                     "', still referenced by an alias '*" + n +
                     "' elsewhere; the result would not re-parse. Remove or rewrite the alias first.");
}

// ---- anchors -----------------------------------------------------------------------

const YamlNode* find_anchored_node(const YamlNode& root, std::string_view name) {
  return stack_guarded([&]() -> const YamlNode* {
    if (root.anchor().equals(name)) return &root;
    for (const YamlNode& item : root.items())
      if (const YamlNode* found = find_anchored_node(item, name)) return found;
    for (const NodePair& pair : root.pairs()) {
      if (const YamlNode* found = find_anchored_node(pair.key, name)) return found;
      if (const YamlNode* found = find_anchored_node(pair.value, name)) return found;
    }
    return nullptr;
  });
}

EditResult<> set_anchor(YamlNode& root, YamlNode& node, std::optional<std::string_view> name) {
  if (name && node.is_alias()) return std::unexpected(value_error("an alias node cannot have an anchor"));
  if (const OptText& current = node.anchor(); current && !(name && current.equals(*name))) {
    if (bind_root_unlimited(root).any_bound_to(node)) {
      const std::string n(*current);
      return std::unexpected(value_error("renaming or clearing this anchor would remove anchor '&" + n +
                                         "', still referenced by an alias '*" + n +
                                         "' elsewhere; the result would not re-parse. Remove or rewrite the "
                                         "alias first."));
    }
  }
  node.set_anchor(name ? OptText(*name) : OptText());
  node.comments.modified = true;
  return {};
}

// ---- aliases ---------------------------------------------------------------------

EditResult<> check_alias_order(const YamlNode& root, std::span<const PathSegment> definition,
                               std::span<const PathSegment> alias_path, std::string_view name) {
  const bool contains = definition.size() <= alias_path.size() &&
                        std::equal(definition.begin(), definition.end(), alias_path.begin());
  if (contains) {
    return std::unexpected(value_error("anchor '&" + std::string(name) +
                                       "' contains the alias that would reference it, which is a cycle"));
  }
  const YamlNode* parent = &root;
  for (std::size_t i = 0;; ++i) {
    if (i == alias_path.size()) return std::unexpected(defined_after(name));
    if (definition[i] == alias_path[i]) {
      parent = parent == nullptr ? nullptr : child_by_segment(*parent, definition[i]);
      continue;
    }
    if (step_position(parent, definition[i]) >= step_position(parent, alias_path[i]))
      return std::unexpected(defined_after(name));
    return {};
  }
}

EditResult<> make_alias(YamlNode& root, YamlNode& node, std::string_view name, KeyIndexCache* lookups) {
  const std::vector<std::string> before = unbound_names(root);
  if (lookups != nullptr) lookups->forget(node);
  YamlNode alias = YamlNode::alias(std::string(name), node.span);
  alias.end_offset = node.end_offset;
  alias.end_line = node.end_line;
  alias.end_column = node.end_column;
  alias.set_tag(node.tag());
  alias.comments = node.comments;
  if (alias.comments.raw()) alias.comments.raw_mut().reset();
  alias.comments.compact = false;
  alias.comments.modified = true;
  alias.explicit_start = node.explicit_start;
  alias.leading_bom = node.leading_bom;
  alias.explicit_key = node.explicit_key;
  alias.set_directives(std::vector<std::string>(node.directives().begin(), node.directives().end()));

  YamlNode old = std::exchange(node, std::move(alias));
  if (std::optional<std::string> lost = newly_unbound(root, before)) {
    node = std::move(old);
    if (*lost == name) return std::unexpected(defined_after(name));
    return std::unexpected(anchor_in_use("replacing", *lost));
  }
  drop_node_tree(std::move(old));
  return {};
}

EditResult<> detach_alias(YamlNode& root, YamlNode& node, const DirectiveRelocator* relocator) {
  if (!node.is_alias())
    return std::unexpected(EditError{EditError::Kind::Type, "detach() is only valid on an alias node"});
  const AnchorBindings bindings = bind_root_unlimited(root);
  const AliasBinding* binding = bindings.binding(node);
  if (binding == nullptr)
    return std::unexpected(EditError{EditError::Kind::Key, "alias *" + node.alias_name() + " has no anchor to detach"});
  // The limits reading the alias as a value (to_dict) is held to, with its
  // error, before anything is copied; nothing has changed then.
  if (binding->depth > kMaxAliasDepth) return std::unexpected(value_error(std::string(kAliasDepthMessage)));
  if (binding->count > kAliasNodeBudget) return std::unexpected(value_error(std::string(kAliasBombMessage)));
  // Copied from the alias itself, which counts as one expansion, so the
  // copy spends what the read is charged: the same limits hold.
  std::uint64_t budget = kAliasNodeBudget;
  AliasCopy expanded = copy_expanding_aliases_for_detach(node, bindings, 0, budget, relocator);
  if (!expanded) {
    AliasCopyError& error = expanded.error();
    if (error.relocation) error.message = "cannot detach *" + node.alias_name() + ": " + error.message;
    return std::unexpected(value_error(std::move(error.message)));
  }
  YamlNode copy = std::move(*expanded);
  mark_subtree_modified(copy);
  copy.comments.modified = true;
  settle_inline_place(copy);
  node = std::move(copy);
  return {};
}

}  // namespace kestrine
