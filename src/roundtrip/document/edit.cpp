#include "roundtrip/document/edit.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "resolver/resolve.hpp"
#include "roundtrip/document/anchor_edit.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

EditError value_error(std::string message) { return EditError{EditError::Kind::Value, std::move(message)}; }

void mark_subtree_modified(YamlNode& node) {
  stack_guarded([&] {
    node.comments.modified = true;
    // Its directive is written anew; what it stood for (a secret's value,
    // an included file's content) is not written here, and stays as read.
    if (node.source() != nullptr) return;
    for (YamlNode& item : node.items()) mark_subtree_modified(item);
    for (NodePair& pair : node.pairs()) {
      mark_subtree_modified(pair.key);
      mark_subtree_modified(pair.value);
    }
  });
}

EditResult<> check_edit_kept(const YamlNode& root, std::span<const PathSegment> path, KeyIndexCache* lookups,
                             const YamlNode* container) {
  const YamlNode* secret =
      container != nullptr && is_secret_node(*container) ? container : enclosing_secret(root, path, lookups);
  if (secret != nullptr) return std::unexpected(value_error(inside_secret_message("edit", *secret)));
  // The nearest directive decides: an `!include` inside a directory's
  // content holds its own file, where an edit below it is written.
  const YamlNode* holder =
      container != nullptr && container->source() != nullptr ? container : enclosing_directive(root, path, lookups);
  const char* reason = holder != nullptr ? content_without_file(*holder) : nullptr;
  if (reason == nullptr) return {};
  const IncludeSource& source = *holder->source();
  return std::unexpected(value_error("cannot edit part of '" + source.tag + " " + source.target + "', " + reason));
}

namespace {

bool edited_in_file(const YamlNode& node) {
  if (node.comments.modified) return true;
  if (node.source() != nullptr || !node.is_collection()) return false;
  return any_child(node, edited_in_file);
}

}  // namespace

namespace {

// Marks the nodes above every modified node of the subtree; gives whether
// the subtree holds one.
bool mark_above_modified(YamlNode& node) {
  bool edited = node.comments.modified;
  if (!node.is_collection()) return edited;
  stack_guarded([&] {
    bool below = false;
    for (YamlNode& item : node.items()) below = mark_above_modified(item) || below;
    for (NodePair& pair : node.pairs()) {
      below = mark_above_modified(pair.key) || below;
      below = mark_above_modified(pair.value) || below;
    }
    if (below) node.comments.edited_below = true;
    edited = edited || below;
  });
  return edited;
}

}  // namespace

void mark_edits(DocumentRecord& doc) {
  for (YamlNode& root : doc.roots) mark_above_modified(root);
  doc.edit_marks = true;
}

void mark_edited_path(DocumentRecord& doc, std::size_t root, std::span<const PathSegment> path,
                      KeyIndexCache* lookups) {
  if (!doc.edit_marks || root >= doc.roots.size()) return;
  const YamlNode* node = &doc.roots[root];
  for (std::size_t i = 0;; ++i) {
    // The document is ours to change; the const walk can use the key indexes.
    const_cast<YamlNode*>(node)->comments.edited_below = true;
    if (i == path.size()) break;
    node = child_by_segment(*node, path[i], lookups);
    if (node == nullptr) break;
  }
}

bool root_file_edited(const DocumentRecord& doc) {
  if (doc.documents_replaced) return true;
  for (const YamlNode& root : doc.roots)
    if (edited_in_file(root)) return true;
  return false;
}

// ---- values ----------------------------------------------------------------------

namespace {

// The core type name ("int", "map", ...) of what `node` reads as, untagged,
// under `mode`; empty for an alias.
std::string_view core_type_of(const YamlNode& node, VersionMode mode) noexcept {
  switch (node.kind()) {
    case NodeKind::Null: return "null";
    case NodeKind::Mapping: return "map";
    case NodeKind::Sequence: return "seq";
    case NodeKind::Alias: return {};
    case NodeKind::Scalar: break;
  }
  const bool non_plain = node.scalar_style() != ScalarStyle::Plain;
  return scalar_kind_tag_name(resolve_scalar_kind(mode, node.text(), non_plain, std::nullopt).type);
}

// The collection forms of the core types that are not "map" or "seq": a set
// is a mapping whose values are all empty, an ordered map and a pair list
// are sequences of one-pair mappings.
bool core_collection_fits(std::string_view name, const YamlNode& node) noexcept {
  if (name == "set") {
    return node.is_mapping() &&
           std::all_of(node.pairs().begin(), node.pairs().end(), [](const NodePair& p) { return p.value.is_null(); });
  }
  if (name == "omap" || name == "pairs") {
    return node.is_sequence() && std::all_of(node.items().begin(), node.items().end(), [](const YamlNode& item) {
             return item.is_mapping() && item.size() == 1;
           });
  }
  return false;
}

}  // namespace

bool tag_fits(const YamlNode& old, const YamlNode& fresh, VersionMode mode) {
  const std::optional<std::string_view> tag = old.expanded_tag();
  if (!tag || is_directive_tag(*old.tag())) return false;
  if (const std::string_view name = core_tag_name(*tag); !name.empty()) {
    return name == core_type_of(fresh, mode) || core_collection_fits(name, fresh);
  }
  // On a scalar, "!" alone and any custom tag read the text as a string:
  // kept over a number, a boolean or a null, they would turn it into one.
  if (!old.is_collection() || *tag == "!") return fresh.is_scalar() && core_type_of(fresh, mode) == "str";
  return old.kind() == fresh.kind();
}

namespace {

// Carries the record of a line read with no space after its "#".
void carry_spacing(const Comments& from, Comments& to, const std::string& text) {
  if (from.is_unspaced(text) && !to.is_unspaced(text)) to.unspaced_mut().push_back(text);
}

// Gives `line`, a head line of the entry after `previous` (read from
// `from`), to the foot of `target`, the block collection of `previous` it
// lies in (inner_line_targets).  Rendering looks inside the nodes from
// `previous` down to `target`, and copies the line as read where the text
// holds it right there.
void move_to_foot(YamlNode& previous, YamlNode& target, const HeadComment& line, const Comments& from) {
  for (YamlNode* n = &previous;; n = n->is_mapping() ? &n->pairs_mut().back().value : &n->items_mut().back()) {
    n->comments.edited_below = true;
    if (n == &target) break;
  }
  Comments& to = target.comments;
  to.foot_mut().push_back(line.text);
  carry_spacing(from, to, line.text);
}

// Whether `target` is `node` or lies down its last entries, both on the
// chain of last entries from `previous`.
bool lies_within(const YamlNode& previous, const YamlNode& node, const YamlNode& target) {
  bool reached = false;
  for (const YamlNode* c = &previous;;) {
    reached = reached || c == &node;
    if (c == &target) return reached;
    if (c->source() != nullptr || !is_block_collection(*c)) return false;
    c = c->is_mapping() ? &c->pairs().back().value : &c->items().back();
  }
}


// Where the comment lines at the front of the head of the entry after
// `place.node` go when new content replaces that node: the reader placed
// them by the columns of what they follow, which content built from a value
// does not have until it is read again.
// - The new content `holds` foot lines (a block collection with entries):
//   the lines that were the node's comment_after, and those after it that
//   no getter reads (indented under a node that is no block collection, or
//   left of its entries; written after the new content, they are its),
//   become its foot lines.  A line of the collection that holds the node
//   becomes a foot line of that collection where the new content would
//   take it (right of the collection's column, or after a sequence's last
//   item): written right after the collection's entries.
// - It does not: where the node is the content before the entry, the lines
//   stay (after content that is no block collection no getter reads them);
//   else those that were the node's go with it (they would be read as the
//   collection's that holds it).
// Lines of collections inside the node go with them (null).  From the first
// line that keeps its place on (one left of that content, or one that what
// lies between keeps), the lines stay where they are.
std::vector<YamlNode*> lines_after_targets(const FootSource<YamlNode>& place, bool holds) {
  std::vector<YamlNode*> into;
  if (place.next == nullptr) return into;
  const bool last = place.previous == place.node;
  if (!holds && last) return into;
  const std::span<const HeadComment> head = place.next->head();
  const std::vector<YamlNode*> targets = inner_line_targets(*place.previous, head, place.column);
  YamlNode* parent = nullptr;
  for (YamlNode* n = place.previous; n != place.node;) {
    if (n->source() != nullptr || !is_block_collection(*n)) return into;
    parent = n;
    n = n->is_mapping() ? &n->pairs_mut().back().value : &n->items_mut().back();
  }
  std::uint32_t reach = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    YamlNode* target = targets[i];
    reach = std::min(reach, head[i].column);
    // (Lines below the entry's own introducer stay there.)
    if (head[i].below_introducer) break;
    if (target == nullptr && !last) break;
    if (target == nullptr) {
      into.push_back(place.node);
    } else if (target == place.node) {
      into.push_back(holds ? place.node : nullptr);
    } else if (lies_within(*place.previous, *place.node, *target)) {
      into.push_back(nullptr);
    } else if (holds && target == parent && (parent->is_sequence() || reach > parent->span.column)) {
      into.push_back(parent);
    } else {
      break;
    }
  }
  return into;
}

// Moves those lines (lines_after_targets) where they go, once the node
// holds the new content.
void move_lines_after(FootSource<YamlNode>& place, std::span<YamlNode* const> into) {
  const std::span<const HeadComment> head = place.next->head();
  for (std::size_t i = 0; i < into.size(); ++i)
    if (into[i] != nullptr) move_to_foot(*place.previous, *into[i], head[i], *place.next);
  // (The entry after the node is not marked: its own lines stay as read.)
  std::vector<HeadComment> rest(head.begin() + static_cast<std::ptrdiff_t>(into.size()), head.end());
  place.next->head_mut() = std::move(rest);
}

}  // namespace

// Where the writer puts a node's inline comment decides how a reader takes
// the comment lines around it.  A block collection with entries carries it
// on the line of its introducer ("- # c", "key: # c"), which a reader takes
// as a comment before the value, and the lines between that line and the
// entries as lines below it; without an inline comment no line sets those
// apart from the lines above the introducer, and nothing keeps the value
// off that line.  The node's marks follow, so that its handles read what a
// reader of the rendered text will.
void settle_inline_place(YamlNode& node) {
  Comments& c = node.comments;
  const bool carried = c.inline_comment().has_value();
  if (!carried || (node.source() == nullptr && is_block_collection(node))) c.inline_before_value = carried;
  if (c.inline_before_value || c.head().empty()) return;
  if (std::none_of(c.head().begin(), c.head().end(), [](const HeadComment& h) { return h.below_introducer; }))
    return;
  for (HeadComment& h : c.head_mut()) h.below_introducer = false;
}

EditResult<> replace_node(YamlNode& root, YamlNode& slot, YamlNode&& fresh, VersionMode mode,
                          KeyIndexCache* lookups, FootSource<YamlNode>* after) {
  // The node's own anchor stays on it: only anchors below it can go.
  const bool guarded = slot.is_collection() && anchors_below(slot);
  std::vector<std::string> before;
  if (guarded) before = unbound_names(root);
  if (lookups != nullptr) lookups->forget(slot);

  mark_subtree_modified(fresh);
  carry_comments(slot.comments, fresh.comments);
  fresh.comments.modified = true;
  fresh.set_anchor(slot.anchor());
  // A tag that stayed on a value it does not describe would change what the
  // value reads as ("!!int 2.5" a string, "!secret x" a secret's name).
  if (tag_fits(slot, fresh, mode)) fresh.copy_tag(slot);
  else fresh.set_tag(OptText());
  fresh.set_anchor_first(slot.anchor_first());
  // An empty node with a tag reads as what the tag makes of nothing (an
  // empty "!!str" is ""): it is written so, not as a null word.
  if (fresh.is_null() && fresh.tag()) fresh.synthetic = false;
  // Facts of a document root stay with the root.
  // Its position names the file of the node it replaces.
  fresh.span.file_id = slot.span.file_id;
  fresh.explicit_start = slot.explicit_start;
  fresh.leading_bom = slot.leading_bom;
  fresh.set_directives(std::vector<std::string>(slot.directives().begin(), slot.directives().end()));
  settle_inline_place(fresh);
  // Foot lines the new content cannot hold (written after it, they would
  // read as the lines of what follows) go with the content they ended; a
  // root holds them whatever it is (they end the document).
  const bool holds = fresh.source() == nullptr && is_block_collection(fresh);
  if (!holds && &slot != &root && !fresh.comments.foot().empty()) fresh.comments.foot_mut().clear();
  // Found on the tree as read, before it changes.
  std::vector<YamlNode*> into;
  if (after != nullptr && after->node == &slot) into = lines_after_targets(*after, holds);

  YamlNode old = std::exchange(slot, std::move(fresh));
  if (guarded) {
    if (std::optional<std::string> name = newly_unbound(root, before)) {
      slot = std::move(old);
      return std::unexpected(anchor_in_use("replacing", *name));
    }
  }
  drop_node_tree(std::move(old));
  if (!into.empty()) move_lines_after(*after, into);
  return {};
}

void take_flow_style(YamlNode& fresh) {
  if (!fresh.is_collection()) return;
  stack_guarded([&] {
    fresh.style = CollectionStyle::Flow;
    if (fresh.is_sequence()) {
      for (YamlNode& item : fresh.items_mut()) take_flow_style(item);
      return;
    }
    for (NodePair& pair : fresh.pairs_mut()) {
      take_flow_style(pair.key);
      take_flow_style(pair.value);
    }
  });
}

void value_head_to_key(NodePair& pair) {
  Comments& from = pair.value.comments;
  if (from.head().empty()) return;
  Comments& to = pair.key.comments;
  std::vector<HeadComment> head(to.head().begin(), to.head().end());
  for (const HeadComment& h : from.head()) {
    carry_spacing(from, to, h.text);
    head.push_back(HeadComment{h.text, false, h.column});
  }
  to.head_mut() = std::move(head);
  from.head_mut().clear();
  to.modified = true;
}

void root_inline_to_head(YamlNode& root) {
  Comments& c = root.comments;
  if (root.source() != nullptr || !is_block_collection(root) || !c.inline_comment()) return;
  c.head_mut().push_back(HeadComment{std::string(*c.inline_comment()), false});
  c.inline_comment_mut().reset();
  c.inline_before_value = false;
  c.inline_spaces = 0;
}

void append_pair(YamlNode& mapping, YamlNode&& key, YamlNode&& value, KeyIndexCache* lookups,
                 FootSource<YamlNode>* after) {
  // A mapping that held nothing becomes a block collection: the lines after
  // it that it takes now are placed as for new content in its place.
  if (after != nullptr && after->node == &mapping && mapping.size() == 0 && mapping.source() == nullptr &&
      mapping.style == CollectionStyle::Block) {
    const std::vector<YamlNode*> into = lines_after_targets(*after, true);
    if (!into.empty()) move_lines_after(*after, into);
  }
  // Lines after the mapping that lie in its last entry stay right after
  // that entry, above the pair added after it: they become feet of what
  // they lie in (they were read as its comment_after).  The mapping's own
  // lines indented past its keys would read as the new value's once that
  // is a block collection: they become the mapping's feet, written at its
  // column after the new pair.
  if (after != nullptr && after->node == &mapping && after->next != nullptr && mapping.size() > 0) {
    const bool holds = value.source() == nullptr && is_block_collection(value);
    const std::span<const HeadComment> head = after->next->head();
    const std::vector<YamlNode*> targets = inner_line_targets(*after->previous, head, after->column);
    std::size_t taken = 0;
    for (; taken < targets.size(); ++taken) {
      YamlNode* target = targets[taken];
      if (target == nullptr || !lies_within(*after->previous, mapping, *target)) break;
      if (target == &mapping && (!holds || head[taken].column <= mapping.span.column)) break;
      move_to_foot(*after->previous, *target, head[taken], *after->next);
    }
    if (taken > 0) {
      std::vector<HeadComment> rest(head.begin() + static_cast<std::ptrdiff_t>(taken), head.end());
      after->next->head_mut() = std::move(rest);
    }
  }
  mark_subtree_modified(key);
  mark_subtree_modified(value);
  // The pair list may move: indexes notice that by themselves.
  (void)lookups;
  mapping.pairs_mut().push_back(NodePair{std::move(key), std::move(value)});
  // A mapping that held nothing is written as a block now.
  settle_inline_place(mapping);
}

void spell_empty_key(YamlNode& key, NullStyle style, KeyIndexCache* lookups) {
  // A tag makes something else of nothing (an empty "!!str" is '').
  if (!key.is_null() || key.tag() || key.source() != nullptr) return;
  key.set_scalar(null_word(style), ScalarStyle::Plain);
  key.synthetic = false;
  key.comments.modified = true;
  // A key that had no text has one now.
  if (lookups != nullptr) lookups->clear();
}

namespace {

// Comment lines above a removed entry of a block collection (the entry at
// `column`) that are indented deeper than it lie inside the content before
// it (`previous`): the entry held them as head lines only because they came
// before it.  They stay where they stood: as foot lines of the last block
// collection of that content they are indented to, and where they lie
// outside it (after a scalar, a flow collection or a directive, or left of
// it) at the front of the head lines of the entry that follows (`next`),
// or of the foot lines of `collection` when none follows.  The lines from
// the first one at the entry's own column on are the entry's.
void keep_inner_lines(YamlNode& collection, YamlNode& previous, YamlNode* next, const Comments& removed,
                      std::uint32_t column) {
  const std::span<const HeadComment> head = removed.head();
  const std::vector<YamlNode*> targets = inner_line_targets(previous, head, column);
  std::size_t i = 0;
  for (; i < targets.size() && targets[i] != nullptr; ++i) move_to_foot(previous, *targets[i], head[i], removed);
  if (i == targets.size()) return;
  const std::span<const HeadComment> rest = head.subspan(i, targets.size() - i);
  if (next != nullptr) {
    Comments& to = next->comments;
    std::vector<HeadComment> lines(rest.begin(), rest.end());
    lines.insert(lines.end(), to.head().begin(), to.head().end());
    to.head_mut() = std::move(lines);
    to.modified = true;
    for (const HeadComment& h : rest) carry_spacing(removed, to, h.text);
    return;
  }
  // The collection's own feet are written after its entries, in its file.
  IncludeSource* source = collection.source_mut();
  Comments& to = source != nullptr ? source->content_comments : collection.comments;
  std::vector<std::string> lines;
  for (const HeadComment& h : rest) {
    lines.push_back(h.text);
    carry_spacing(removed, to, h.text);
  }
  lines.insert(lines.end(), to.foot().begin(), to.foot().end());
  to.foot_mut() = std::move(lines);
}

}  // namespace

EditResult<> remove_pairs(YamlNode& root, YamlNode& mapping, std::span<const std::size_t> indexes,
                          KeyIndexCache* lookups) {
  const auto pairs = mapping.pairs();
  bool guarded = false;
  for (std::size_t i : indexes) guarded = guarded || carries_anchor(pairs[i].key) || carries_anchor(pairs[i].value);
  std::vector<std::string> before;
  if (guarded) before = unbound_names(root);
  // Later pairs move down, with every mapping inside them.
  if (lookups != nullptr) lookups->clear();

  NodeList<NodePair>& list = mapping.pairs_mut();
  std::vector<NodePair> removed;
  removed.reserve(indexes.size());
  for (std::size_t n = indexes.size(); n-- > 0;) {
    removed.push_back(std::move(list[indexes[n]]));
    list.erase(list.begin() + indexes[n]);
  }
  // An edit of the file the mapping's content was read from.
  const bool was_modified = set_content_modified(mapping, true);
  if (guarded) {
    if (std::optional<std::string> name = newly_unbound(root, before)) {
      // Back in place: `removed` holds the pairs last first.
      NodeList<NodePair>& back = mapping.pairs_mut();
      for (std::size_t n = indexes.size(); n-- > 0;) {
        const std::size_t at = indexes[indexes.size() - 1 - n];
        back.insert(back.begin() + at, std::move(removed[n]));
      }
      set_content_modified(mapping, was_modified);
      return std::unexpected(anchor_in_use("deleting", *name));
    }
  }
  if (mapping.style == CollectionStyle::Block) {
    // `removed` holds the pairs last first; the n pairs removed before the
    // one at indexes[n] all stood before its previous pair.
    for (std::size_t n = 0; n < indexes.size(); ++n) {
      const std::size_t at = indexes[n];
      if (at == 0 || (n > 0 && indexes[n - 1] + 1 == at)) continue;
      const YamlNode& key = removed[indexes.size() - 1 - n].key;
      // The pair that followed it (unless removed too) is at `at - n` now.
      YamlNode* next = at - n < list.size() ? &list[at - n].key : nullptr;
      keep_inner_lines(mapping, list[at - 1 - n].value, next, key.comments, mapping.span.column);
    }
  }
  drop_node_pairs(std::move(removed));
  return {};
}

EditResult<> remove_item(YamlNode& root, YamlNode& sequence, std::size_t index, KeyIndexCache* lookups) {
  const bool guarded = carries_anchor(sequence.items()[index]);
  std::vector<std::string> before;
  if (guarded) before = unbound_names(root);
  if (lookups != nullptr) lookups->clear();

  NodeList<YamlNode>& list = sequence.items_mut();
  YamlNode removed = std::move(list[index]);
  list.erase(list.begin() + index);
  const bool was_modified = set_content_modified(sequence, true);
  if (guarded) {
    if (std::optional<std::string> name = newly_unbound(root, before)) {
      NodeList<YamlNode>& back = sequence.items_mut();
      back.insert(back.begin() + index, std::move(removed));
      set_content_modified(sequence, was_modified);
      return std::unexpected(anchor_in_use("deleting", *name));
    }
  }
  if (sequence.style == CollectionStyle::Block && index > 0) {
    keep_inner_lines(sequence, list[index - 1], index < list.size() ? &list[index] : nullptr, removed.comments,
                     sequence.span.column);
  }
  drop_node_tree(std::move(removed));
  return {};
}

// ---- comments --------------------------------------------------------------------

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  for (;;) {
    const std::size_t lf = text.find('\n');
    lines.emplace_back(text.substr(0, lf));
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return lines;
}

EditResult<bool> set_inline_comment(YamlNode& node, bool is_key, bool is_root, std::optional<std::string_view> text) {
  if (is_key && text) {
    return std::unexpected(
        value_error("a mapping key cannot carry an inline comment; set the comment of its value instead"));
  }
  if (is_root && text && node.source() == nullptr && is_block_collection(node)) {
    return std::unexpected(value_error(
        "a block mapping or sequence at the document root cannot carry an inline comment; set its comment_before "
        "instead"));
  }
  Comments& c = node.comments;
  if (c.inline_comment().view() == text) return false;
  c.inline_comment_mut() = text;
  c.inline_spaces = 0;
  c.modified = true;
  settle_inline_place(node);
  return true;
}

EditResult<> check_foot_place(const FootSource<YamlNode>& place, bool is_root) {
  if (!is_root && !is_block_collection(*place.node))
    return std::unexpected(
        value_error("comment_after is only supported on a block mapping, a block sequence, or the document root"));
  // Lines written there would read back as another node's, never as these.
  if (!is_root && place.node->source() != nullptr)
    return std::unexpected(value_error(
        "comment_after is not supported on content read through an include directive: lines after the "
        "directive read as what follows it"));
  if (place.before_document)
    return std::unexpected(value_error(
        "comment_after is not supported at the end of a document that another document follows: lines there "
        "read as that document's"));
  return {};
}

namespace {

void replace_foot(YamlNode& node, std::vector<std::string> lines) {
  Comments& c = node.comments;
  if (!lines.empty() || !c.foot().empty()) c.foot_mut() = std::move(lines);
  c.modified = true;
}

}  // namespace

bool set_foot(FootSource<YamlNode>& place, std::vector<std::string> lines) {
  if (foot_text(place) == joined_lines(lines)) return false;
  if (place.next != nullptr) {
    const std::span<const HeadComment> head = place.next->head();
    const std::vector<YamlNode*> targets = inner_line_targets(*place.previous, head, place.column);
    std::size_t taken = 0;
    for (; taken < targets.size() && targets[taken] != nullptr; ++taken) {
      YamlNode& target = *targets[taken];
      if (!lies_within(*place.previous, *place.node, target)) break;
      if (&target != place.node) move_to_foot(*place.previous, target, head[taken], *place.next);
    }
    // (The entry after the node is not marked: its own lines stay as read,
    // blank lines included, where the text holds them.)
    if (taken > 0) {
      std::vector<HeadComment> rest(head.begin() + static_cast<std::ptrdiff_t>(taken), head.end());
      place.next->head_mut() = std::move(rest);
    }
  }
  replace_foot(*place.node, std::move(lines));
  return true;
}

bool set_head(HeadSource<YamlNode>& place, std::vector<std::string> lines) {
  if (head_text(place) == joined_lines(lines)) return false;
  for (std::size_t r = 0; r < place.records.size(); ++r) {
    const auto& record = place.records[r];
    Comments& c = *record.comments;
    const std::span<const HeadComment> now = c.head();
    const auto kept = [&](std::size_t i) { return i < record.inner || !head_line_selected(now[i], record.part); };
    std::vector<HeadComment> head;
    // The new lines go to the outermost record: below the lines kept there
    // when it reads those below an introducer, else above them (and below
    // the lines that lie inside the content before the entry).
    const bool outermost = r == 0;
    const bool below = record.part == HeadPart::BelowIntroducer;
    for (std::size_t i = 0; i < now.size(); ++i) {
      if (outermost && !below && i == record.inner)
        for (std::string& line : lines) head.push_back(HeadComment{std::move(line), false});
      if (kept(i)) head.push_back(now[i]);
    }
    if (outermost && (below || record.inner >= now.size()))
      for (std::string& line : lines) head.push_back(HeadComment{std::move(line), below});
    if (!outermost && head.size() == now.size()) continue;
    if (!head.empty() || !now.empty()) c.head_mut() = std::move(head);
    c.modified = true;
  }
  return true;
}

void gather_head(HeadSource<YamlNode>& place) {
  if (place.records.size() < 2) return;
  std::optional<std::string> text = head_text(place);
  if (!text) return;
  set_head(place, {});
  set_head(place, split_lines(*text));
}

}  // namespace kestrine
