#include "roundtrip/document/comment_places.hpp"

#include <algorithm>
#include <limits>
#include <string_view>

#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {

HeadPart item_head_part(const YamlNode& item) noexcept {
  return item.comments.inline_before_value ? HeadPart::AboveIntroducer : HeadPart::All;
}

bool head_line_selected(const HeadComment& line, HeadPart part) noexcept {
  switch (part) {
    case HeadPart::All: return true;
    case HeadPart::AboveIntroducer: return !line.below_introducer;
    case HeadPart::BelowIntroducer: return line.below_introducer;
  }
  return true;
}

namespace {

// A node a handle's path leads through, with the step that reached it and
// its place in its parent (the pair's or the item's position).
template <class Node>
struct PathNode {
  Node* node = nullptr;
  PathSegment::Kind step = PathSegment::Kind::Index;
  std::size_t index = 0;
};

// The root and every node the path leads through; empty when it does not
// resolve.  A Key or KeyNode step takes the last pair with the key's text,
// as a handle's step does.
template <class Record, class Node>
std::vector<PathNode<Node>> path_nodes(Record& doc, std::size_t start_root, std::span<const PathSegment> path) {
  std::vector<PathNode<Node>> nodes;
  if (start_root >= doc.roots.size()) return nodes;
  nodes.reserve(path.size() + 1);
  nodes.push_back({&doc.roots[start_root]});
  for (const PathSegment& step : path) {
    Node& at = *nodes.back().node;
    Node* child = nullptr;
    std::size_t index = 0;
    if (at.is_mapping() && step.kind != PathSegment::Kind::Index) {
      if (const std::optional<std::size_t> found = last_pair_with_key(at, step.key, nullptr)) {
        index = *found;
        auto& pair = at.pairs()[index];
        child = step.kind == PathSegment::Kind::Key ? &pair.value : &pair.key;
      }
    } else if (at.is_sequence() && step.kind == PathSegment::Kind::Index && step.index < at.size()) {
      index = step.index;
      child = &at.items()[index];
    }
    if (child == nullptr) return {};
    nodes.push_back({child, step.kind, index});
  }
  return nodes;
}

// The source of a collection that replaced an `!include`: its comments are
// those of the file's root.
template <class Node>
auto* included_file_source(Node& node) noexcept {
  auto* source = [&] {
    if constexpr (std::is_const_v<Node>) return node.source();
    else return node.source_mut();
  }();
  return source != nullptr && source->target_file_id ? source : nullptr;
}

template <class Node>
using HeadRecord = typename HeadSource<Node>::Record;

// The record of the head lines of an entry of a block collection that has
// an entry before it: less those that lie inside that entry's content.
template <class Node>
HeadRecord<Node> later_entry(auto& comments, HeadPart part, const Node& collection, std::uint32_t column) {
  const bool block = collection.style == CollectionStyle::Block;
  return {&comments, part, block ? inner_head_lines(comments.head(), column) : 0};
}

template <class Node>
HeadRecord<Node> entry_record(Node& collection, std::size_t index, bool& outward) {
  if (collection.is_mapping()) {
    auto& key = collection.pairs()[index].key;
    outward = index == 0;
    if (index > 0) return later_entry<Node>(key.comments, HeadPart::All, collection, collection.span.column);
    return {&key.comments, HeadPart::All};
  }
  auto& item = collection.items()[index];
  outward = index == 0 && collection.style == CollectionStyle::Block;
  if (index > 0) return later_entry<Node>(item.comments, item_head_part(item), collection, collection.span.column);
  return {&item.comments, item_head_part(item)};
}

template <class Node>
HeadRecord<Node> collection_record(Node& collection, const YamlNode* sequence, std::size_t index, bool& outward) {
  outward = false;
  // The file's root is no entry within its own file.
  if (auto* source = included_file_source(collection)) return {&source->content_comments, HeadPart::All};
  // A root, a value (whose lines stand below its key) or a key.
  if (sequence == nullptr) return {&collection.comments, HeadPart::All};
  // An item whose dash carries a comment: the lines below that.
  if (collection.comments.inline_before_value) return {&collection.comments, HeadPart::BelowIntroducer};
  if (index > 0) return later_entry<Node>(collection.comments, HeadPart::All, *sequence, sequence->span.column);
  outward = sequence->style == CollectionStyle::Block;
  return {&collection.comments, HeadPart::All};
}

template <class Record, class Node>
std::optional<HeadSource<Node>> head_source(Record& doc, std::size_t start_root, std::span<const PathSegment> path) {
  const std::vector<PathNode<Node>> nodes = path_nodes<Record, Node>(doc, start_root, path);
  if (nodes.empty()) return std::nullopt;
  HeadSource<Node> source;
  std::vector<HeadRecord<Node>>& records = source.records;
  std::size_t k = nodes.size() - 1;
  if (k == 0) {
    records.push_back({&nodes[0].node->comments, HeadPart::All});
    return source;
  }
  // The lines above the entry (a pair's key or value: the pair), then,
  // innermost first, those its collections keep above their first entries.
  bool outward = false;
  records.push_back(entry_record(*nodes[k - 1].node, nodes[k].index, outward));
  // A flow mapping's lines above its entries are those of the pair holding
  // it in a flow mapping (written above that pair's key): its first key
  // keeps its own, inside its braces.
  if (k >= 2 && nodes[k - 1].step == PathSegment::Kind::Key && nodes[k - 1].node->style == CollectionStyle::Flow &&
      nodes[k - 2].node->style == CollectionStyle::Flow && nodes[k - 2].node->is_mapping())
    outward = false;
  for (--k; outward; --k) {
    const bool item = k > 0 && nodes[k].step == PathSegment::Kind::Index;
    records.push_back(collection_record(*nodes[k].node, item ? nodes[k - 1].node : nullptr, nodes[k].index, outward));
    if (k == 0) break;
  }
  std::reverse(records.begin(), records.end());
  return source;
}

// What follows entry `index` of `parent` (its value or item `child`; a key
// when `key`) in its file: the head lines of the entry after it, recorded
// in `source` (Found); else whether what follows `parent` follows it too
// (Outer: it is the last entry) or nothing does (None).
enum class Follows : std::uint8_t { Found, Outer, None };
// `replaced`: the child is about to be written anew, in place of the
// directive it may be now.
template <class Node>
Follows entry_after(Node& parent, std::size_t index, Node& child, bool key, FootSource<Node>& source,
                    bool replaced = false) {
  // Lines in the file after a directive are no lines of the included content.
  if ((child.source() != nullptr && !replaced) || !is_block_collection(parent) || key) return Follows::None;
  const std::size_t next = index + 1;
  if (next < parent.size()) {
    if (parent.is_mapping()) {
      source.next = &parent.pairs()[next].key.comments;
    } else {
      source.next = &parent.items()[next].comments;
    }
    // (The column of a block collection's entries: its first one's.)
    source.column = parent.span.column;
    source.previous = &child;
    return Follows::Found;
  }
  if (parent.source() == nullptr) return Follows::Outer;
  // An included file's root: its file may go on with later documents.
  source.before_document = parent.source()->later_text.has_value();
  return Follows::None;
}

// `replaced`: the sources of the lines after a node about to be replaced,
// whatever its kind (lines_after_replaced_source).
template <class Record, class Node>
std::optional<FootSource<Node>> foot_source(Record& doc, std::size_t start_root, std::span<const PathSegment> path,
                                            bool replaced = false) {
  const std::vector<PathNode<Node>> nodes = path_nodes<Record, Node>(doc, start_root, path);
  if (nodes.empty()) return std::nullopt;
  FootSource<Node> source;
  source.node = nodes.back().node;
  // The root, or the last content of its document root (the documents of
  // a stream are those of one file).
  const bool before_document = start_root + 1 < doc.roots.size();
  if (nodes.size() == 1) source.before_document = before_document;
  if (!replaced && !is_block_collection(*source.node)) return source;
  // Up the last entries to the first collection with an entry after them.
  for (std::size_t k = nodes.size() - 1; k > 0; --k) {
    const Follows follows = entry_after(*nodes[k - 1].node, nodes[k].index, *nodes[k].node,
                                        nodes[k].step == PathSegment::Kind::KeyNode, source,
                                        replaced && k == nodes.size() - 1);
    if (follows != Follows::Outer) return source;
  }
  source.before_document = before_document;
  return source;
}

}  // namespace

HeadSource<const YamlNode>::Record entry_head(const YamlNode& collection, std::size_t index, bool& outward) {
  return entry_record(collection, index, outward);
}

HeadSource<const YamlNode>::Record collection_head(const YamlNode& collection, const YamlNode* sequence,
                                                   std::size_t index, bool& outward) {
  return collection_record(collection, sequence, index, outward);
}

std::optional<HeadSource<const YamlNode>> comment_before_source(const DocumentRecord& doc, std::size_t start_root,
                                                                std::span<const PathSegment> path) {
  return head_source<const DocumentRecord, const YamlNode>(doc, start_root, path);
}

std::optional<HeadSource<YamlNode>> comment_before_source_mut(DocumentRecord& doc, std::size_t start_root,
                                                              std::span<const PathSegment> path) {
  return head_source<DocumentRecord, YamlNode>(doc, start_root, path);
}

void append_lines(std::optional<std::string>& out, std::string_view lines) {
  if (out) {
    *out += '\n';
    *out += lines;
  } else {
    out.emplace(lines);
  }
}

std::optional<std::string> head_text(const Comments& comments, HeadPart part, std::size_t inner) {
  std::optional<std::string> out;
  const std::span<const HeadComment> head = comments.head();
  for (std::size_t i = inner; i < head.size(); ++i)
    if (head_line_selected(head[i], part)) append_lines(out, head[i].text);
  return out;
}

namespace {

template <class Node>
std::optional<std::string> joined_head(const HeadSource<Node>& source) {
  std::optional<std::string> out;
  for (const auto& record : source.records) {
    if (std::optional<std::string> text = head_text(*record.comments, record.part, record.inner))
      append_lines(out, *text);
  }
  return out;
}

}  // namespace

std::optional<std::string> head_text(const HeadSource<const YamlNode>& source) { return joined_head(source); }
std::optional<std::string> head_text(const HeadSource<YamlNode>& source) { return joined_head(source); }

// ---- foot lines ----------------------------------------------------------------------

namespace {

template <class Node>
std::vector<Node*> line_targets(Node& previous, std::span<const HeadComment> head, std::uint32_t column) {
  std::vector<Node*> targets(inner_head_lines(head, column), nullptr);
  if (previous.source() != nullptr || !is_block_collection(previous)) return targets;
  std::uint32_t reach = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    reach = std::min(reach, head[i].column);
    if (previous.span.column > reach) break;
    targets[i] = &find_attach_target(previous, reach);
  }
  return targets;
}

}  // namespace

std::vector<const YamlNode*> inner_line_targets(const YamlNode& previous, std::span<const HeadComment> head,
                                                std::uint32_t column) {
  return line_targets(previous, head, column);
}
std::vector<YamlNode*> inner_line_targets(YamlNode& previous, std::span<const HeadComment> head,
                                          std::uint32_t column) {
  return line_targets(previous, head, column);
}

FootSource<const YamlNode> entry_foot_source(const YamlNode& parent, std::size_t index, const YamlNode& child,
                                             bool key, const FootSource<const YamlNode>& outer) {
  FootSource<const YamlNode> source;
  source.node = &child;
  if (entry_after(parent, index, child, key, source) == Follows::Outer) {
    source.next = outer.next;
    source.previous = outer.previous;
    source.column = outer.column;
  }
  return source;
}

std::optional<FootSource<const YamlNode>> comment_after_source(const DocumentRecord& doc, std::size_t start_root,
                                                               std::span<const PathSegment> path) {
  return foot_source<const DocumentRecord, const YamlNode>(doc, start_root, path);
}

std::optional<FootSource<YamlNode>> comment_after_source_mut(DocumentRecord& doc, std::size_t start_root,
                                                             std::span<const PathSegment> path) {
  return foot_source<DocumentRecord, YamlNode>(doc, start_root, path);
}

std::optional<FootSource<YamlNode>> lines_after_replaced_source(DocumentRecord& doc, std::size_t start_root,
                                                                std::span<const PathSegment> path) {
  return foot_source<DocumentRecord, YamlNode>(doc, start_root, path, true);
}

std::optional<std::string> joined_lines(std::span<const std::string> lines) {
  std::optional<std::string> out;
  for (const std::string& line : lines) append_lines(out, line);
  return out;
}

std::optional<std::string> foot_text(const YamlNode& node) { return joined_lines(node.comments.foot()); }

std::optional<std::string> foot_text(const FootSource<const YamlNode>& source) {
  std::optional<std::string> out = foot_text(*source.node);
  if (source.next == nullptr) return out;
  const std::span<const HeadComment> head = source.next->head();
  const std::vector<const YamlNode*> targets = inner_line_targets(*source.previous, head, source.column);
  for (std::size_t i = 0; i < targets.size(); ++i)
    if (targets[i] == source.node) append_lines(out, head[i].text);
  return out;
}

std::optional<std::string> foot_text(const FootSource<YamlNode>& source) {
  return foot_text(FootSource<const YamlNode>{source.node, source.next, source.previous, source.column});
}

}  // namespace kestrine
