#include "roundtrip/document.hpp"

namespace kestrine {
namespace {

template <class Node>
Node* step_from(Node& node, const PathSegment& segment) noexcept {
  if (node.is_mapping()) {
    if (segment.kind == PathSegment::Kind::Index) return nullptr;
    auto pairs = node.pairs();
    // Backwards: among duplicate keys the last one wins.
    for (std::size_t i = pairs.size(); i-- > 0;) {
      auto& pair = pairs[i];
      if (!pair.key.is_scalar()) continue;
      const std::string& text = pair.key.text();
      if (text.size() == segment.key.size() && text == segment.key)
        return segment.kind == PathSegment::Kind::Key ? &pair.value : &pair.key;
    }
    return nullptr;
  }
  if (node.is_sequence()) {
    if (segment.kind != PathSegment::Kind::Index) return nullptr;
    auto items = node.items();
    return segment.index < items.size() ? &items[segment.index] : nullptr;
  }
  return nullptr;
}

template <class Record, class Node>
Node* resolve_from(Record& doc, std::size_t start_root, std::span<const PathSegment> path) noexcept {
  if (start_root >= doc.roots.size()) return nullptr;
  Node* node = &doc.roots[start_root];
  for (const PathSegment& segment : path) {
    node = step_from(*node, segment);
    if (node == nullptr) return nullptr;
  }
  return node;
}

}  // namespace

const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment) noexcept {
  return step_from(node, segment);
}

YamlNode* child_by_segment_mut(YamlNode& node, const PathSegment& segment) noexcept {
  return step_from(node, segment);
}

const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root,
                             std::span<const PathSegment> path) noexcept {
  return resolve_from<const DocumentRecord, const YamlNode>(doc, start_root, path);
}

YamlNode* resolve_path_mut(DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path) noexcept {
  return resolve_from<DocumentRecord, YamlNode>(doc, start_root, path);
}

}  // namespace kestrine
