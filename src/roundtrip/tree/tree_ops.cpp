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
class DetachCopier {
 public:
  DetachCopier(const AnchorBindings& bindings, std::uint32_t written_in, std::uint64_t& budget,
               const DirectiveRelocator* relocator)
      : bindings_(bindings), written_in_(written_in), budget_(budget), relocator_(relocator) {}

  // `read_in`: the file that holds `node` (its directive, when it has one)
  // as read; `below_kept`: `node` lies below a directive the copy keeps.
  AliasCopy copy(const YamlNode& node, std::uint32_t read_in, bool below_kept, std::uint32_t depth) {
    if (node.is_alias()) return copy_alias(node, read_in, below_kept, depth);
    if (budget_ == 0) return std::unexpected(AliasCopyError{std::string(kAliasBombMessage), node.span});
    --budget_;
    return stack_guarded([&]() -> AliasCopy {
      const IncludeSource* source = node.source();
      // What a directive stood for is written as that directive: without its
      // source a copied secret or variable would be written as its value.  An
      // included file's content is copied without its source, to be written
      // inline: as the directive, the copy would share the file with what it
      // copies, and an edit of either would reach both once written.  Below
      // a kept directive every source stays: those files are read again.
      const bool keeps = source != nullptr && (below_kept || content_without_file(node) != nullptr);
      const std::uint32_t inner = source != nullptr && source->target_file_id ? *source->target_file_id : read_in;
      KESTRINE_ASSIGN_OR_RETURN(YamlNode out, copy_content(node, inner, keeps, depth));
      out.copy_tag(node);
      // A tag written with a %TAG handle of another file's document is written
      // in full where the copy lands, where that handle means nothing.
      if (const NodeExtra* extra = node.extra(); extra && extra->expanded_tag && node.span.file_id != written_in_) {
        const std::string_view expanded = *extra->expanded_tag.view();
        out.set_tag(OptText("!<" + std::string(expanded) + ">"), OptText(expanded));
      }
      out.style = node.style;
      out.comments = node.comments;
      if (!keeps) return out;
      IncludeSource kept = *source;
      // Below a kept directive nothing is written: it is read from its files.
      if (!below_kept && relocator_ != nullptr && read_in != written_in_) {
        if (std::optional<std::string> refusal = relocator_->relocate(kept, read_in, written_in_))
          return std::unexpected(AliasCopyError{std::move(*refusal), node.span, /*relocation=*/true});
      }
      out.set_source(std::move(kept));
      return out;
    });
  }

 private:
  AliasCopy copy_alias(const YamlNode& node, std::uint32_t read_in, bool below_kept, std::uint32_t depth) {
    const YamlNode* anchored = bindings_.target(node);
    if (anchored == nullptr) {
      YamlNode null = YamlNode::null_at(node.span);
      null.copy_tag(node);
      null.style = node.style;
      null.comments = node.comments;
      return null;
    }
    if (depth >= kMaxAliasDepth) return std::unexpected(AliasCopyError{std::string(kAliasDepthMessage), node.span});
    // An anchor binds within its file: the anchored node is read where the alias is.
    AliasCopy copied = stack_guarded([&] { return copy(*anchored, read_in, below_kept, depth + 1); });
    if (copied) carry_comments(node.comments, copied->comments);
    return copied;
  }

  // The node's kind and children, copied; `inner`: the file its children are read in.
  AliasCopy copy_content(const YamlNode& node, std::uint32_t inner, bool below_kept, std::uint32_t depth) {
    switch (node.kind()) {
      case NodeKind::Sequence: {
        std::vector<YamlNode> items;
        items.reserve(node.size());
        for (const YamlNode& item : node.items()) {
          KESTRINE_ASSIGN_OR_RETURN(YamlNode copied, copy(item, inner, below_kept, depth));
          items.push_back(std::move(copied));
        }
        return YamlNode::sequence(std::move(items), CollectionStyle::Block, node.span);
      }
      case NodeKind::Mapping: {
        std::vector<NodePair> pairs;
        pairs.reserve(node.size());
        for (const NodePair& p : node.pairs()) {
          KESTRINE_ASSIGN_OR_RETURN(YamlNode k, copy(p.key, inner, below_kept, depth));
          KESTRINE_ASSIGN_OR_RETURN(YamlNode v, copy(p.value, inner, below_kept, depth));
          pairs.push_back(NodePair{std::move(k), std::move(v)});
        }
        return YamlNode::mapping(std::move(pairs), CollectionStyle::Block, node.span);
      }
      case NodeKind::Scalar: return YamlNode::scalar(node.text(), node.scalar_style(), node.span);
      case NodeKind::Alias:  // copied by copy_alias
      case NodeKind::Null: break;
    }
    return YamlNode::null_at(node.span);
  }

  const AnchorBindings& bindings_;
  std::uint32_t written_in_;  // the file the copy is written in
  std::uint64_t& budget_;
  const DirectiveRelocator* relocator_;
};

}  // namespace

AliasCopy copy_expanding_aliases_for_detach(const YamlNode& node, const AnchorBindings& bindings,
                                            std::uint32_t depth, std::uint64_t& budget,
                                            const DirectiveRelocator* relocator) {
  DetachCopier copier(bindings, node.span.file_id, budget, relocator);
  return copier.copy(node, node.span.file_id, /*below_kept=*/false, depth);
}

}  // namespace kestrine
