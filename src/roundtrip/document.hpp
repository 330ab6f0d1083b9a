// A round-trip document: the record a load keeps (one tree per YAML
// document, the source files, the text as read, the load's flags) and path
// resolution over its trees.
//
//   DocumentRecord rec{roots, names, texts, text, std::nullopt, flags};
//   std::vector<PathSegment> path = {PathSegment::of_key("servers"), PathSegment::of_index(0)};
//   const YamlNode* node = resolve_path(rec, 0, path);   // null when nothing is there
//
// Handles onto a document keep only a path of PathSegment steps from a root
// and resolve it anew on every access, so an edit never leaves one pointing
// at freed nodes.  Resolved pointers are valid until the next edit of the
// tree.  Nothing here touches Python objects.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emit_util/null_style.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/tree_ops.hpp"

namespace kestrine {

// The settings a round-trip document keeps from its load.
struct DocumentFlags {
  bool prefer_double_quotes = true;  // not OPT_SINGLE_QUOTES
  bool upgrade_1_1 = false;          // OPT_UPGRADE_1_1
  bool timestamps = false;           // OPT_TIMESTAMPS
  NullStyle null_style = NullStyle::Default;
  VersionMode version_mode = VersionMode::Yaml12;
};

// What a round-trip document holds: one root per YAML document, the
// source-file table (file names and texts as read, indexed by file number;
// empty without include options), the whole text as loaded, where it was
// loaded from, its flags and the include root.
struct DocumentRecord {
  std::vector<YamlNode> roots;
  std::vector<std::string> source_names;
  std::vector<std::optional<std::string>> source_texts;
  std::optional<std::string> source_text;
  std::optional<std::string> origin;
  DocumentFlags flags;
  // The include root of the load in canonical form (empty without include
  // options): write-back never writes outside it.
  std::string include_root;
};

// ---- paths ------------------------------------------------------------------------

// One step down from `node`: in a mapping, Key gives the value and KeyNode the
// key of the last pair whose key is a scalar with exactly that text; in a
// sequence, Index gives the item.  Anything else (aliases included) gives
// null.
const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment) noexcept;
YamlNode* child_by_segment_mut(YamlNode& node, const PathSegment& segment) noexcept;

// The node at `path` from root `start_root`, or null.
const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root,
                             std::span<const PathSegment> path) noexcept;
YamlNode* resolve_path_mut(DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path) noexcept;

}  // namespace kestrine
