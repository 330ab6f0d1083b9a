// Where the comment lines a node handle reads and writes are kept: the
// head lines of its `comment_before` and the foot lines of its
// `comment_after`.  The reader does not always store them on the node
// itself, so a handle reads them where a reader of the rendered text puts
// them, and a setter writes them there, so that what is set reads back the
// same after a reload.
//
//   auto head = comment_before_source(record, 0, path);   // nothing: stale
//   std::optional<std::string> text = head_text(*head);
//
// Two rules of the reader decide:
// - The comment lines above a collection's first entry are kept on the
//   collection (it is placed before its entries), so the first key of a
//   mapping, or the first item of a block sequence (however deep its own
//   first entry nests: "- - x"), reads them there.
// - The comment lines right above an entry that are indented deeper than
//   it lie inside the content before it (inner_head_lines): they are not
//   the entry's comment_before; they belong to the last block collection of
//   that content they are indented to (find_attach_target), which reads
//   them as its comment_after, as it reads its foot lines when it ends the
//   text.
//
// Pointers into the document's trees are valid until its next edit.
// Nothing here touches Python objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// Which of a node's head lines a reader takes: all of them, those above the
// introducer that carries the node's inline comment ("- # c"), or those
// written below it.
enum class HeadPart : std::uint8_t { All, AboveIntroducer, BelowIntroducer };

// A sequence item's own part: the lines above its dash when its inline
// comment sits on the dash line, else all.
HeadPart item_head_part(const YamlNode& item) noexcept;
// Whether a reader of `part` takes the line.
bool head_line_selected(const HeadComment& line, HeadPart part) noexcept;

// The comment records whose head lines a handle's comment_before reads,
// outermost (first in the text) first, each with the part of its lines the
// handle takes, less the `inner` lines at its front that lie inside the
// content before the entry.
template <class Node>
struct HeadSource {
  using CommentRecord = std::conditional_t<std::is_const_v<Node>, const Comments, Comments>;
  struct Record {
    CommentRecord* comments = nullptr;
    HeadPart part = HeadPart::All;
    std::size_t inner = 0;
  };
  std::vector<Record> records;
};

// The steps that find those records, for readers that walk a tree (a
// snapshot), outermost first.  The record of the lines above entry `index`
// of `collection` (its pair's key's head lines,
// or the item's part), and whether the lines the collection keeps above its
// first entry stand above them too (`outward`: the first entry of a
// mapping, or of a block sequence).
HeadSource<const YamlNode>::Record entry_head(const YamlNode& collection, std::size_t index, bool& outward);
// The record of the lines `collection` keeps above its first entry, where
// it stands as item `index` of `sequence` (null: a root, a value or a key),
// and whether the lines the sequence keeps above its own first entry stand
// above them too.  A collection that replaced an `!include` is its file's
// root: it keeps that file's head (IncludeSource::content_comments), not
// the lines around the directive in the including file.
HeadSource<const YamlNode>::Record collection_head(const YamlNode& collection, const YamlNode* sequence,
                                                   std::size_t index, bool& outward);

// The records the handle at `path` reports as its comment_before; nothing
// when the path does not resolve.  A Key step and a KeyNode step read the
// same lines (those above the pair).
std::optional<HeadSource<const YamlNode>> comment_before_source(const DocumentRecord& doc, std::size_t start_root,
                                                                std::span<const PathSegment> path);
std::optional<HeadSource<YamlNode>> comment_before_source_mut(DocumentRecord& doc, std::size_t start_root,
                                                              std::span<const PathSegment> path);

// The selected head lines joined with "\n", or nothing when none is
// selected.
std::optional<std::string> head_text(const Comments& comments, HeadPart part, std::size_t inner = 0);
std::optional<std::string> head_text(const HeadSource<const YamlNode>& source);
std::optional<std::string> head_text(const HeadSource<YamlNode>& source);
// Appends `lines` (comment lines joined with "\n") to `out`, after a "\n"
// when `out` holds some already.
void append_lines(std::optional<std::string>& out, std::string_view lines);
// Comment lines as a getter reads them: joined with "\n", nothing when
// there are none.
std::optional<std::string> joined_lines(std::span<const std::string> lines);

// ---- foot lines ----------------------------------------------------------------------

// Where a handle's comment_after lines are: the node's foot lines, then the
// lines the reader gave to the entry that follows the node (`next`, that
// entry's head lines; null when none follows it in its file) that lie in
// the node.  `previous` is the content right before that entry, which ends
// with the node (the node itself, or a collection whose last entries lead
// to it); `column` is the entry's own column.
template <class Node>
struct FootSource {
  using CommentRecord = std::conditional_t<std::is_const_v<Node>, const Comments, Comments>;
  Node* node = nullptr;
  CommentRecord* next = nullptr;
  Node* previous = nullptr;
  std::uint32_t column = 0;
  // The node is the root, or nothing follows it in its document, and
  // another document follows that one in its file: lines after the node
  // read as the head of that document, which no node of this tree holds.
  bool before_document = false;
};

// The source of the handle at `path`; nothing when the path does not
// resolve.
std::optional<FootSource<const YamlNode>> comment_after_source(const DocumentRecord& doc, std::size_t start_root,
                                                               std::span<const PathSegment> path);
std::optional<FootSource<YamlNode>> comment_after_source_mut(DocumentRecord& doc, std::size_t start_root,
                                                             std::span<const PathSegment> path);

// The same search for the node at `path` that an edit is about to replace,
// whatever its kind (one that is no block collection has no comment_after,
// but lines indented under it lie after it too); nothing when the path does
// not resolve.
std::optional<FootSource<YamlNode>> lines_after_replaced_source(DocumentRecord& doc, std::size_t start_root,
                                                                std::span<const PathSegment> path);

// The step of that search for readers that walk a tree: the source of
// `child`, entry `index` of `parent` (its value or item; a key when `key`),
// where `outer` is the source of `parent`.
FootSource<const YamlNode> entry_foot_source(const YamlNode& parent, std::size_t index, const YamlNode& child,
                                             bool key, const FootSource<const YamlNode>& outer);

// The node's foot lines joined with "\n", or nothing when it has none; with
// a source, the lines of the entry after it that lie in it follow.
std::optional<std::string> foot_text(const YamlNode& node);
std::optional<std::string> foot_text(const FootSource<const YamlNode>& source);
std::optional<std::string> foot_text(const FootSource<YamlNode>& source);

// Where each line at the front of `head` that lies inside the content
// before its entry (inner_head_lines; the entry's collection has its
// entries at `column`, `previous` is that content) lies, in order: the
// block collection of `previous` whose foot it is (find_attach_target; a
// line is not placed deeper than the one above it), or null where it lies
// outside `previous` (left of it, or after content that is no block
// collection: a scalar, a flow collection, a directive), at the level of
// the entries themselves.  Nulls come last.
std::vector<const YamlNode*> inner_line_targets(const YamlNode& previous, std::span<const HeadComment> head,
                                                std::uint32_t column);
std::vector<YamlNode*> inner_line_targets(YamlNode& previous, std::span<const HeadComment> head,
                                          std::uint32_t column);

}  // namespace kestrine
