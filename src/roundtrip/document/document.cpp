#include "roundtrip/document/document.hpp"

#include <algorithm>
#include <bit>
#include <utility>

#include "decode/directives.hpp"  // is_custom_tag
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "util/options.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

DocumentFlags document_flags(const LoadSettings& settings, VersionMode mode) noexcept {
  DocumentFlags flags;
  flags.prefer_double_quotes = (settings.option & OPT_SINGLE_QUOTES) == 0;
  flags.upgrade_1_1 = settings.upgrade;
  flags.timestamps = settings.timestamps;
  flags.null_style = null_style_of(settings.option);
  flags.version_mode = settings.upgrade ? VersionMode::Yaml12 : mode;
  return flags;
}

std::vector<std::string_view> document_slices(std::string_view text, std::span<const std::size_t> starts) {
  std::vector<std::string_view> slices;
  slices.reserve(starts.size());
  std::size_t begin = 0;  // the first document always begins the text
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::size_t end = i + 1 < starts.size() ? std::clamp(starts[i + 1], begin, text.size()) : text.size();
    slices.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return slices;
}

// ---- key lookups ------------------------------------------------------------------

namespace {

bool key_has_text(const NodePair& pair, std::string_view text) noexcept {
  if (!pair.key.is_scalar()) return false;
  const std::string& key = pair.key.text();
  return key.size() == text.size() && key == text;
}

// Backwards: among duplicate keys the last one wins.
std::optional<std::size_t> scan_for_key(std::span<const NodePair> pairs, std::string_view text) noexcept {
  for (std::size_t i = pairs.size(); i-- > 0;)
    if (key_has_text(pairs[i], text)) return i;
  return std::nullopt;
}

std::size_t text_hash(std::string_view text) noexcept { return SeededStringHash{}(text); }

}  // namespace

KeyIndexCache::Index& KeyIndexCache::index_of(const YamlNode& mapping) {
  const auto pairs = mapping.pairs();
  Index& index = indexes_[&mapping];
  if (index.pairs == pairs.data() && index.size == pairs.size() && !index.slots.empty()) return index;
  // Built anew: the mapping is new to the cache, or its pair list changed.
  index.pairs = pairs.data();
  index.size = pairs.size();
  index.slots.assign(std::bit_ceil(pairs.size() * 2), Slot{});
  const std::size_t mask = index.slots.size() - 1;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!pairs[i].key.is_scalar()) continue;
    const std::string& text = pairs[i].key.text();
    const std::size_t hash = text_hash(text);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      Slot& slot = index.slots[at];
      // A later pair with the same text takes the slot: the last one wins.
      if (slot.position == 0 || (slot.hash == tag && key_has_text(pairs[slot.position - 1], text))) {
        slot = Slot{static_cast<std::uint32_t>(i + 1), tag};
        break;
      }
    }
  }
  return index;
}

void KeyIndexCache::forget(const YamlNode& subtree) {
  if (indexes_.empty()) return;
  stack_guarded([&] {
    if (subtree.is_mapping() && subtree.size() >= kIndexedMappingSize) indexes_.erase(&subtree);
    for (const YamlNode& item : subtree.items())
      if (item.is_collection()) forget(item);
    for (const NodePair& pair : subtree.pairs()) {
      if (pair.key.is_collection()) forget(pair.key);
      if (pair.value.is_collection()) forget(pair.value);
    }
  });
}

std::optional<std::size_t> KeyIndexCache::last_pair_with_key(const YamlNode& mapping, std::string_view text) {
  const auto pairs = mapping.pairs();
  if (pairs.size() < kIndexedMappingSize || pairs.size() >= UINT32_MAX) return scan_for_key(pairs, text);
  const Index& index = index_of(mapping);
  const std::size_t mask = index.slots.size() - 1;
  const std::size_t hash = text_hash(text);
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot slot = index.slots[at];
    if (slot.position == 0) return std::nullopt;
    if (slot.hash == tag && slot.position <= pairs.size() && key_has_text(pairs[slot.position - 1], text))
      return slot.position - 1;
  }
}

std::optional<std::size_t> last_pair_with_key(const YamlNode& mapping, std::string_view text,
                                              KeyIndexCache* cache) {
  if (cache != nullptr) return cache->last_pair_with_key(mapping, text);
  return scan_for_key(mapping.pairs(), text);
}

// ---- paths ------------------------------------------------------------------------

namespace {

template <class Node>
Node* step_from(Node& node, const PathSegment& segment, KeyIndexCache* cache) {
  if (node.is_mapping()) {
    if (segment.kind == PathSegment::Kind::Index) return nullptr;
    const auto found = cache != nullptr ? cache->last_pair_with_key(node, segment.key)
                                        : scan_for_key(node.pairs(), segment.key);
    if (!found) return nullptr;
    auto& pair = node.pairs()[*found];
    return segment.kind == PathSegment::Kind::Key ? &pair.value : &pair.key;
  }
  if (node.is_sequence()) {
    if (segment.kind != PathSegment::Kind::Index) return nullptr;
    auto items = node.items();
    return segment.index < items.size() ? &items[segment.index] : nullptr;
  }
  return nullptr;
}

template <class Record, class Node>
Node* resolve_from(Record& doc, std::size_t start_root, std::span<const PathSegment> path, KeyIndexCache* cache) {
  if (start_root >= doc.roots.size()) return nullptr;
  Node* node = &doc.roots[start_root];
  for (const PathSegment& segment : path) {
    node = step_from(*node, segment, cache);
    if (node == nullptr) return nullptr;
  }
  return node;
}

}  // namespace

const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment) noexcept {
  return step_from(node, segment, nullptr);
}

const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment, KeyIndexCache* cache) {
  return step_from(node, segment, cache);
}

const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root,
                             std::span<const PathSegment> path) noexcept {
  return resolve_from<const DocumentRecord, const YamlNode>(doc, start_root, path, nullptr);
}

const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path,
                             KeyIndexCache* cache) {
  return resolve_from<const DocumentRecord, const YamlNode>(doc, start_root, path, cache);
}

YamlNode* resolve_path_mut(DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path) noexcept {
  return resolve_from<DocumentRecord, YamlNode>(doc, start_root, path, nullptr);
}

namespace {

// Depth first in document order (a scalar-keyed pair's key, then its value;
// sequence items), recording the steps to `target`.
bool find_node(const YamlNode& node, const YamlNode& target, NodePath& path) {
  return stack_guarded([&] {
    if (&node == &target) return true;
    if (node.is_mapping()) {
      for (const NodePair& p : node.pairs()) {
        if (!p.key.is_scalar()) continue;
        path.push_back(PathSegment::of_key_node(p.key.text()));
        if (&p.key == &target) return true;
        path.back().kind = PathSegment::Kind::Key;
        if (find_node(p.value, target, path)) return true;
        path.pop_back();
      }
    } else if (node.is_sequence()) {
      const auto items = node.items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        path.push_back(PathSegment::of_index(i));
        if (find_node(items[i], target, path)) return true;
        path.pop_back();
      }
    }
    return false;
  });
}

}  // namespace

std::optional<NodePath> path_to_node(const YamlNode& root, const YamlNode& target) {
  NodePath path;
  if (!find_node(root, target, path)) return std::nullopt;
  // A Key step reaches the last pair with its text: an earlier pair with a
  // repeated key is not reachable by any path.
  const YamlNode* node = &root;
  for (const PathSegment& segment : path) {
    node = child_by_segment(*node, segment);
    if (node == nullptr) return std::nullopt;
  }
  if (node != &target) return std::nullopt;
  return path;
}

const YamlNode* resolve_rebased(const DocumentRecord& doc, std::size_t start_root, NodePath& path,
                                AliasFollower& aliases, KeyIndexCache* cache) {
  const YamlNode* node = resolve_path(doc, start_root, path, cache);
  if (node == nullptr || !node->is_alias()) return node;
  const YamlNode* target = aliases.target(*node);
  if (target == nullptr) return node;
  std::optional<NodePath> rebased = path_to_node(doc.roots[start_root], *target);
  if (!rebased) return node;
  path = std::move(*rebased);
  return target;
}

const YamlNode* enclosing_secret(const YamlNode& root, std::span<const PathSegment> path, KeyIndexCache* cache) {
  const YamlNode* node = &root;
  for (const PathSegment& segment : path) {
    if (is_secret_node(*node)) return node;
    node = child_by_segment(*node, segment, cache);
    if (node == nullptr) return nullptr;
  }
  return nullptr;
}

const YamlNode* enclosing_directive(const YamlNode& root, std::span<const PathSegment> path, KeyIndexCache* cache) {
  const YamlNode* node = &root;
  const YamlNode* nearest = nullptr;
  for (const PathSegment& segment : path) {
    if (node->source() != nullptr) nearest = node;
    node = child_by_segment(*node, segment, cache);
    if (node == nullptr) return nullptr;
  }
  return nearest;
}

std::string inside_secret_message(std::string_view action, const YamlNode& secret) {
  const IncludeSource& source = *secret.source();
  return "cannot " + std::string(action) + " part of a !secret value ('" + source.tag + " " + source.target +
         "'): only the directive is ever written";
}

ItemResult view_or_value(const YamlNode& root, NodePath path, const YamlNode& child, AliasFollower& aliases) {
  if (child.is_collection()) return ItemResult{true, std::move(path)};
  if (!child.is_alias()) return {};
  const YamlNode* target = aliases.target(child);
  if (target == nullptr || !target->is_collection()) return {};
  std::optional<NodePath> rebased = path_to_node(root, *target);
  if (!rebased) return {};
  return ItemResult{true, std::move(*rebased)};
}

// ---- keys as Python sees them -------------------------------------------------------

KeyTextReading key_reads_as_text(const YamlNode& key, const DocumentFlags& flags) noexcept {
  if (!key.is_scalar()) return KeyTextReading::Other;
  const auto tag = key.expanded_tag();
  const bool plain = key.scalar_style() == ScalarStyle::Plain;
  // A date the interpreter refuses would read as the resolver says instead.
  if (flags.timestamps && !tag && plain && parse_timestamp(key.text())) return KeyTextReading::Unknown;
  switch (resolve_scalar_kind(flags.version_mode, key.text(), !plain, tag).type) {
    case ScalarType::Str:
    case ScalarType::Merge: return KeyTextReading::Text;
    case ScalarType::BigInt: return KeyTextReading::Unknown;  // too long for int(): a str
    default: return KeyTextReading::Other;
  }
}

TextKeyMatch match_text_key(const YamlNode& mapping, std::string_view text, const DocumentFlags& flags,
                            KeyIndexCache* cache) {
  using Result = TextKeyMatch::Result;
  const auto last = last_pair_with_key(mapping, text, cache);
  if (!last) return {};
  const auto pairs = mapping.pairs();
  bool undecided = false;
  // Usually the last pair with the text decides; earlier ones only when a
  // plain and a quoted key share it.
  for (std::size_t i = *last + 1; i-- > 0;) {
    if (i != *last && !key_has_text(pairs[i], text)) continue;
    switch (key_reads_as_text(pairs[i].key, flags)) {
      case KeyTextReading::Text: return {Result::Found, *last};
      case KeyTextReading::Unknown: undecided = true; break;
      case KeyTextReading::Other: break;
    }
  }
  return {undecided ? Result::Undecided : Result::Missing, *last};
}

bool contains_text_key(const YamlNode& node, std::string_view text, KeyIndexCache* cache) {
  return node.is_mapping() && last_pair_with_key(node, text, cache).has_value();
}

// ---- head comments ----------------------------------------------------------------

HeadPart item_head_part(const YamlNode& item) noexcept {
  return item.comments.inline_before_value ? HeadPart::AboveIntroducer : HeadPart::All;
}

namespace {

// The part of a mapping's head lines its first key reads.
HeadPart first_key_part(const YamlNode& mapping, bool mapping_is_item) noexcept {
  return mapping_is_item && mapping.comments.inline_before_value ? HeadPart::BelowIntroducer : HeadPart::All;
}

// The source of a mapping that replaced an `!include`: its comments are
// those of the file's root.
template <class Node>
auto* included_file_source(Node& mapping) noexcept {
  auto* source = [&] {
    if constexpr (std::is_const_v<Node>) return mapping.source();
    else return mapping.source_mut();
  }();
  return source != nullptr && source->target_file_id ? source : nullptr;
}

template <class Node>
HeadSource<Node> first_key_head_of(Node& mapping, bool mapping_is_item) noexcept {
  // The file's root is no item within its own file.
  if (auto* source = included_file_source(mapping)) return {&source->content_comments, HeadPart::All};
  return {&mapping.comments, first_key_part(mapping, mapping_is_item)};
}

template <class Record, class Node>
std::optional<HeadSource<Node>> head_source(Record& doc, std::size_t start_root, std::span<const PathSegment> path) {
  using Kind = PathSegment::Kind;
  if (path.empty()) {
    Node* root = resolve_from<Record, Node>(doc, start_root, path, nullptr);
    if (root == nullptr) return std::nullopt;
    return HeadSource<Node>{&root->comments, HeadPart::All};
  }
  const PathSegment& last = path.back();
  if (last.kind != Kind::Key) {
    Node* node = resolve_from<Record, Node>(doc, start_root, path, nullptr);
    if (node == nullptr) return std::nullopt;
    return HeadSource<Node>{&node->comments, last.kind == Kind::Index ? item_head_part(*node) : HeadPart::All};
  }
  const auto parent_path = path.first(path.size() - 1);
  Node* parent = resolve_from<Record, Node>(doc, start_root, parent_path, nullptr);
  if (parent == nullptr || !parent->is_mapping()) return std::nullopt;
  const auto found = scan_for_key(parent->pairs(), last.key);
  if (!found) return std::nullopt;
  if (*found > 0) return HeadSource<Node>{&parent->pairs()[*found].key.comments, HeadPart::All};
  const bool parent_is_item = !parent_path.empty() && parent_path.back().kind == Kind::Index;
  return first_key_head_of(*parent, parent_is_item);
}

}  // namespace

bool head_line_selected(const HeadComment& line, HeadPart part) noexcept {
  switch (part) {
    case HeadPart::All: return true;
    case HeadPart::AboveIntroducer: return !line.below_introducer;
    case HeadPart::BelowIntroducer: return line.below_introducer;
  }
  return true;
}

HeadSource<const YamlNode> first_key_head(const YamlNode& mapping, bool mapping_is_item) noexcept {
  return first_key_head_of(mapping, mapping_is_item);
}

std::optional<HeadSource<const YamlNode>> comment_before_source(const DocumentRecord& doc, std::size_t start_root,
                                                                std::span<const PathSegment> path) {
  return head_source<const DocumentRecord, const YamlNode>(doc, start_root, path);
}

std::optional<HeadSource<YamlNode>> comment_before_source_mut(DocumentRecord& doc, std::size_t start_root,
                                                              std::span<const PathSegment> path) {
  return head_source<DocumentRecord, YamlNode>(doc, start_root, path);
}

std::optional<std::string> head_text(const Comments& comments, HeadPart part) {
  std::optional<std::string> out;
  for (const HeadComment& line : comments.head()) {
    if (!head_line_selected(line, part)) continue;
    if (out) {
      *out += '\n';
      *out += line.text;
    } else {
      out.emplace(line.text);
    }
  }
  return out;
}

std::optional<std::string> foot_text(const YamlNode& node) {
  std::optional<std::string> out;
  for (const std::string& line : node.comments.foot()) {
    if (out) {
      *out += '\n';
      *out += line;
    } else {
      out.emplace(line);
    }
  }
  return out;
}

// ---- node facts -----------------------------------------------------------------------

std::string_view node_style_name(const YamlNode& node) noexcept {
  switch (node.kind()) {
    case NodeKind::Scalar: return scalar_style_name(node.scalar_style());
    case NodeKind::Sequence:
    case NodeKind::Mapping: return node.style == CollectionStyle::Flow ? "flow" : "block";
    case NodeKind::Alias: return "alias";
    case NodeKind::Null: return "null";
  }
  return "null";
}

std::optional<std::string_view> source_tag_of(const YamlNode& node) noexcept {
  if (const IncludeSource* src = node.source()) return std::string_view(src->tag);
  if (const auto tag = node.expanded_tag(); tag && is_custom_tag(*tag)) return tag;
  return std::nullopt;
}

std::optional<std::string_view> source_target_of(const YamlNode& node) noexcept {
  if (const IncludeSource* src = node.source()) return std::string_view(src->target);
  return std::nullopt;
}

}  // namespace kestrine
