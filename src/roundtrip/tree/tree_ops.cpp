#include "roundtrip/tree/tree_ops.hpp"

#include <utility>

#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

// ---- comments ---------------------------------------------------------------------

namespace {

template <class Node>
Node& attach_target(Node& node, std::uint32_t column) {
  Node* target = &node;
  for (;;) {
    Node* last = nullptr;
    if (target->is_sequence() && target->size() > 0) last = &target->items().back();
    // A line at or left of a block mapping's entries is not inside its last
    // entry, even where that entry's value is a sequence written at the
    // key's own column ("k:\n- 1\n# c"): taken as that sequence's, the line
    // would go wherever the entry goes.
    else if (target->is_mapping() && target->size() > 0 && column > target->span.column)
      last = &target->pairs().back().value;
    if (last == nullptr || last->source() != nullptr || !is_block_collection(*last) || last->span.column > column)
      return *target;
    target = last;
  }
}

}  // namespace

YamlNode& find_attach_target(YamlNode& node, std::uint32_t column) { return attach_target(node, column); }
const YamlNode& find_attach_target(const YamlNode& node, std::uint32_t column) { return attach_target(node, column); }

std::size_t inner_head_lines(std::span<const HeadComment> head, std::uint32_t column) noexcept {
  std::size_t n = 0;
  while (n < head.size() && !head[n].below_introducer && head[n].column > column) ++n;
  return n;
}

void carry_comments(const Comments& from, Comments& to) {
  const OptText raw = to.raw();
  const bool compact = to.compact;
  to = from;
  if (raw || to.raw()) to.raw_mut() = raw;
  to.compact = compact;
}

// ---- provenance ---------------------------------------------------------------

bool is_include_tag(std::string_view tag) noexcept {
  return tag == "!include" || tag == "!include_dir_list" || tag == "!include_dir_named" ||
         tag == "!include_dir_merge_list" || tag == "!include_dir_merge_named";
}

// ---- change detection ---------------------------------------------------------

bool subtree_modified(const YamlNode& node) {
  return stack_guarded([&] { return subtree_modified_inner(node); });
}

bool subtree_modified_inner(const YamlNode& node) {
  if (node.comments.modified) return true;
  for (const YamlNode& item : node.items())
    if (subtree_modified(item)) return true;
  for (const NodePair& p : node.pairs())
    if (subtree_modified(p.key) || subtree_modified(p.value)) return true;
  return false;
}

namespace {

// The children of `node` (not the node itself) modified within this file.
bool children_modified_in_file(const YamlNode& node) {
  return stack_guarded([&] {
    for (const YamlNode& item : node.items())
      if (subtree_modified_in_file(item)) return true;
    for (const NodePair& p : node.pairs())
      if (pairs_modified_in_file(p)) return true;
    return false;
  });
}

}  // namespace

bool subtree_modified_in_file(const YamlNode& node) {
  if (node.source() != nullptr) return false;
  if (node.comments.modified) return true;
  return children_modified_in_file(node);
}

bool pairs_modified_in_file(const NodePair& pair) {
  if (pair.key.comments.modified || children_modified_in_file(pair.key)) return true;
  return subtree_modified_in_file(pair.value);
}

bool set_content_modified(YamlNode& node, bool modified) {
  const IncludeSource* source = node.source();
  if (source == nullptr) return std::exchange(node.comments.modified, modified);
  const bool before = source->content_comments.modified;
  if (before != modified) {
    IncludeSource marked = *source;
    marked.content_comments.modified = modified;
    node.set_source(std::move(marked));
  }
  return before;
}

// ---- paths and anchors --------------------------------------------------------

namespace {

template <class Record>
void for_each_child(const YamlNode& node, Record&& record) {
  for (const YamlNode& item : node.items()) record(item);
  for (const NodePair& p : node.pairs()) {
    record(p.key);
    record(p.value);
  }
}

}  // namespace

void find_anchor_node(const YamlNode& node, std::string_view name, NodePath& path,
                      std::optional<NodePath>& result) {
  stack_guarded([&] {
    if (result) return;
    if (node.anchor().equals(name)) {
      result = path;
      return;
    }
    if (node.is_mapping()) {
      for (const NodePair& p : node.pairs()) {
        if (!p.key.is_scalar()) continue;
        path.push_back(PathSegment::of_key_node(p.key.text()));
        find_anchor_node(p.key, name, path, result);
        path.pop_back();
        if (result) return;
        path.push_back(PathSegment::of_key(p.key.text()));
        find_anchor_node(p.value, name, path, result);
        path.pop_back();
        if (result) return;
      }
    } else if (node.is_sequence()) {
      auto items = node.items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        path.push_back(PathSegment::of_index(i));
        find_anchor_node(items[i], name, path, result);
        path.pop_back();
        if (result) return;
      }
    }
  });
}

std::optional<NodePath> find_anchor_path(std::span<const YamlNode> roots, std::string_view name) {
  if (roots.empty()) return std::nullopt;
  NodePath path;
  std::optional<NodePath> result;
  find_anchor_node(roots.front(), name, path, result);
  return result;
}

namespace {

// The document-API traversal: scalar-keyed pairs (KeyNode then key, Key then
// value) and sequence items (Index).  `pre` runs on every node before its
// children.
template <class Pre>
void path_walk(const YamlNode& node, NodePath& path, Pre& pre) {
  stack_guarded([&] {
    pre(node, path);
    if (node.is_mapping()) {
      for (const NodePair& p : node.pairs()) {
        if (!p.key.is_scalar()) continue;
        path.push_back(PathSegment::of_key_node(p.key.text()));
        path_walk(p.key, path, pre);
        path.back().kind = PathSegment::Kind::Key;
        path_walk(p.value, path, pre);
        path.pop_back();
      }
    } else if (node.is_sequence()) {
      auto items = node.items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        path.push_back(PathSegment::of_index(i));
        path_walk(items[i], path, pre);
        path.pop_back();
      }
    }
  });
}

}  // namespace

void collect_aliases(const YamlNode& node, std::string_view name, NodePath& path,
                     std::vector<NodePath>& out) {
  auto pre = [&](const YamlNode& n, const NodePath& p) {
    if (n.is_alias() && n.text() == name) out.push_back(p);
  };
  path_walk(node, path, pre);
}

void collect_anchor_paths(const YamlNode& node, NodePath& path,
                          std::vector<std::pair<std::string, NodePath>>& out) {
  auto pre = [&](const YamlNode& n, const NodePath& p) {
    if (n.anchor()) out.emplace_back(*n.anchor(), p);
  };
  path_walk(node, path, pre);
}

// ---- alias-expanding copies ---------------------------------------------------

namespace {

// Aliases cost nothing themselves: the copy spends what reading the alias as
// a value is charged (AliasBinding::count), so it fails exactly where such a
// read does.
// `file_id`: the file the copy is written in.
AliasCopy expand_copy(const YamlNode& node, const AnchorBindings& bindings, std::uint32_t file_id,
                      std::uint32_t depth, std::uint64_t& budget) {
  if (node.is_alias()) {
    const YamlNode* anchored = bindings.target(node);
    if (anchored == nullptr) {
      YamlNode null = YamlNode::null_at(node.span);
      null.copy_tag(node);
      null.style = node.style;
      null.comments = node.comments;
      return null;
    }
    if (depth >= kMaxAliasDepth) return std::unexpected(AliasLimitError{kAliasDepthMessage, node.span});
    AliasCopy copy = stack_guarded([&] { return expand_copy(*anchored, bindings, file_id, depth + 1, budget); });
    if (copy) carry_comments(node.comments, copy->comments);
    return copy;
  }
  if (budget == 0) return std::unexpected(AliasLimitError{kAliasBombMessage, node.span});
  --budget;
  return stack_guarded([&]() -> AliasCopy {
    YamlNode out;
    switch (node.kind()) {
      case NodeKind::Sequence: {
        std::vector<YamlNode> items;
        items.reserve(node.size());
        for (const YamlNode& item : node.items()) {
          KESTRINE_ASSIGN_OR_RETURN(YamlNode copy, expand_copy(item, bindings, file_id, depth, budget));
          items.push_back(std::move(copy));
        }
        out = YamlNode::sequence(std::move(items), CollectionStyle::Block, node.span);
        break;
      }
      case NodeKind::Mapping: {
        std::vector<NodePair> pairs;
        pairs.reserve(node.size());
        for (const NodePair& p : node.pairs()) {
          KESTRINE_ASSIGN_OR_RETURN(YamlNode k, expand_copy(p.key, bindings, file_id, depth, budget));
          KESTRINE_ASSIGN_OR_RETURN(YamlNode v, expand_copy(p.value, bindings, file_id, depth, budget));
          pairs.push_back(NodePair{std::move(k), std::move(v)});
        }
        out = YamlNode::mapping(std::move(pairs), CollectionStyle::Block, node.span);
        break;
      }
      case NodeKind::Scalar: out = YamlNode::scalar(node.text(), node.scalar_style(), node.span); break;
      case NodeKind::Alias:  // handled above
      case NodeKind::Null: out = YamlNode::null_at(node.span); break;
    }
    out.copy_tag(node);
    // A tag written with a %TAG handle of another file's document is written
    // in full where the copy lands, where that handle means nothing.
    if (const NodeExtra* extra = node.extra(); extra && extra->expanded_tag && node.span.file_id != file_id) {
      const std::string_view expanded = *extra->expanded_tag.view();
      out.set_tag(OptText("!<" + std::string(expanded) + ">"), OptText(expanded));
    }
    out.style = node.style;
    out.comments = node.comments;
    // What a directive stood for is written as that directive: without its
    // source a copied secret or variable would be written as its value.  An
    // included file's content is copied without its source, to be written
    // inline: as the directive, the copy would share the file with what it
    // copies, and an edit of either would reach both once written.
    if (const IncludeSource* source = node.source(); source != nullptr && content_without_file(node) != nullptr)
      out.set_source(*source);
    return out;
  });
}

}  // namespace

AliasCopy copy_expanding_aliases_for_detach(const YamlNode& node, const AnchorBindings& bindings,
                                            std::uint32_t depth, std::uint64_t& budget) {
  return expand_copy(node, bindings, node.span.file_id, depth, budget);
}

}  // namespace kestrine
