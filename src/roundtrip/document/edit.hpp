// Editing round-trip trees in place: the tree side of the document API's
// edits (item assignment and deletion, a node's value, its comments),
// without Python; anchors, aliases and detach are in anchor_edit.hpp.
//
//   YamlNode fresh = ...;                                   // a converted value
//   KESTRINE_TRY(replace_node(root, slot, std::move(fresh), lookups));
//   KESTRINE_TRY(remove_pairs(root, mapping, {2, 5}, lookups));
//
// `root` is the document root that holds the edited node: its aliases are
// what the guard keeps bound.  An edit that would leave an alias without
// the anchor it refers to (an anchor removed, renamed or replaced) is
// refused, so every rendered text loads again.  An edit is all or nothing:
// a refused edit leaves the tree as it was.
//
// Every edit sets `modified` on what it changes, and on every node of a
// subtree it puts in place, so that rendering writes those anew and copies
// the rest as read (emitter.hpp).  `lookups` (may be null) is the key-index
// cache of the document's reads: an edit drops the indexes of the mappings
// it frees or replaces, and clears the cache when it moves pairs or changes
// a key's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resolver/kind.hpp"
#include "roundtrip/document/comment_places.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {

// A refused edit: the Python exception class it is raised as, and its text
// (for KeyErrors, the key's text).
struct EditError {
  enum class Kind : std::uint8_t { Value, Type, Key, Index };
  Kind kind = Kind::Value;
  std::string message;
};
template <class T = void>
using EditResult = std::expected<T, EditError>;

// A refusal raised as ValueError.
EditError value_error(std::string message);

// Sets `modified` on `node` and on every node below it in the same file: a
// node that came from a directive (a `source`) is marked, its content not.
void mark_subtree_modified(YamlNode& node);

// Edit marks (DocumentRecord::edit_marks): sets `edited_below` above every
// modified node of the document, once; afterwards each edit marks the
// nodes on its own path with `mark_edited_path` (the root, each node its
// steps lead through, and the node they reach).
void mark_edits(DocumentRecord& doc);
void mark_edited_path(DocumentRecord& doc, std::size_t root, std::span<const PathSegment> path,
                      KeyIndexCache* lookups);

// Whether the document's own file changed: a document was removed, or a node
// read from that file (not from an included one) was edited, a node that
// stands for an included file counting by its own flag only.
bool root_file_edited(const DocumentRecord& doc);

// Refuses, before anything changes, an edit of the node at `path` of `root`
// that no output would keep: one inside a `!secret` value, or inside content
// that no file holds (content_without_file: a directory tag's, or an
// `!include`'s whose file is itself a directive); with `container` (the node
// at `path`, for an edit of its content: an item set or removed in it) also
// when that node is such a directive itself.  Only the directive is written
// there, so such an edit would be lost without a word: ValueError "cannot
// edit part of a !secret value (...)" (inside_secret_message), or "cannot
// edit part of '{tag} {target}', which names no single file to hold it".
// The directive as a whole (replaced, removed, its comments and anchor,
// which stand in the file that names it) may be edited.
EditResult<> check_edit_kept(const YamlNode& root, std::span<const PathSegment> path, KeyIndexCache* lookups,
                             const YamlNode* container = nullptr);

// Where the writer puts a node's inline comment decides how a reader takes
// the comment lines around it: a block collection with entries carries it
// on its introducer's line ("- # c", "key: # c").  Sets the node's marks
// (inline_before_value, below_introducer) so that its handles read what a
// reader of the rendered text will.
void settle_inline_place(YamlNode& node);

// ---- values ----------------------------------------------------------------------

// Puts `fresh` in place of `slot`'s content.  The node keeps its comments
// (head, inline, foot, their spacing, the spacing before it), its anchor and
// its tag where the tag still states what the new value is (tag_fits, read
// under `mode`); everything else comes from `fresh`, which is marked
// modified throughout.  Refused when anchors below the old content are
// still used by aliases elsewhere in `root`.
// Foot lines go with the old content where the new content cannot hold
// them (it is no block collection with entries; the root holds any).
// `after` (lines_after_replaced_source of the slot; may be null): the lines
// read after the slot that lie in it, or that the new content would take in
// the rendered text, become foot lines where they read back as they read
// now, or go with the old content (lines_after_targets).
EditResult<> replace_node(YamlNode& root, YamlNode& slot, YamlNode&& fresh, VersionMode mode,
                          KeyIndexCache* lookups, FootSource<YamlNode>* after = nullptr);

// Marks every collection of `fresh` (content built from a value) as flow
// content: put into a flow collection, it can only be written so, and a
// reader of the rendered text reads it so.
void take_flow_style(YamlNode& fresh);

// After the value of `pair`, a pair of a flow mapping, was replaced: the
// head lines it carries are written above its key (a flow mapping written
// anew has no line between the two), where a reader takes them as the
// key's, so they become those.
void value_head_to_key(NodePair& pair);

// After the content of a document root was replaced: a block collection at
// the root has no line of its own for an inline comment (the writer keeps it
// as a comment line above its entries, which a reader takes as the last of
// its head lines), so it becomes that head line.
void root_inline_to_head(YamlNode& root);

// Whether `old`'s tag may stay on `fresh`, the content that replaces it: a
// core tag only when it names the type `fresh` reads as under `mode`, a
// directive tag never (it would make the new value a path or a name), any
// other tag on a scalar only when `fresh` reads as a string (a str value:
// such a tag reads its text as one), on a collection when `fresh` is the
// same kind of node (sequence, mapping).  A tag that stayed otherwise would
// change what the new value reads as.
bool tag_fits(const YamlNode& old, const YamlNode& fresh, VersionMode mode);

// Appends the pair (key, value) to `mapping`; both are marked modified.
// `after` (comment_after_source of the mapping, lines_after_replaced_source
// when it is empty; may be null): the lines read after the mapping that lie
// in its last entry stay above the new pair; those that an empty mapping
// takes when it holds the pair are placed as for new content in its place
// (replace_node).
void append_pair(YamlNode& mapping, YamlNode&& key, YamlNode&& value, KeyIndexCache* lookups,
                 FootSource<YamlNode>* after = nullptr);

// A key of empty content (": v") whose value an assignment replaced
// becomes the word a null is written as (null_word), marked modified: no
// path reaches a key without a text, and the value set is read again
// through its key.  Any other key is left as it is.
void spell_empty_key(YamlNode& key, NullStyle style, KeyIndexCache* lookups);

// Removes the pairs at `indexes` (ascending) from `mapping`, or the item at
// `index` from `sequence`, and marks the collection's content modified
// (set_content_modified: a collection read from an included file is an
// edit of that file, not of the one naming it).  Refused when
// an anchor defined in what is removed is still used by an alias elsewhere
// in `root`.
EditResult<> remove_pairs(YamlNode& root, YamlNode& mapping, std::span<const std::size_t> indexes,
                          KeyIndexCache* lookups);
EditResult<> remove_item(YamlNode& root, YamlNode& sequence, std::size_t index, KeyIndexCache* lookups);

// ---- comments --------------------------------------------------------------------

// Comment lines from a text already checked for NEL, LS and PS, with its
// line breaks as "\n": one line per piece, empty pieces included.
std::vector<std::string> split_lines(std::string_view text);

// The node's trailing comment (a text without line breaks), or none; the
// spacing before its "#" is left to the writer.  Two nodes take none, as
// no line of theirs would read back as theirs: a mapping key (`is_key`; the
// end of its line is its value's) and a block mapping or sequence at the
// document root (`is_root`; a comment above its first entry reads back as
// its comment_before).
// The three comment setters give false, and change nothing, when the text
// is what the node's getter reads there already: such an edit leaves the
// node's lines as they were read (the caller marks nothing either).
EditResult<bool> set_inline_comment(YamlNode& node, bool is_key, bool is_root, std::optional<std::string_view> text);

// Whether the node of `place` may carry foot lines: the root (`is_root`)
// of any kind, or a block mapping or sequence with entries ("comment_after
// is only supported on ..." otherwise) not written as an include
// directive; and neither where it ends a document another document
// follows (lines there read as that document's).
EditResult<> check_foot_place(const FootSource<YamlNode>& place, bool is_root);
// Replaces the node's comment_after lines (comment_after_source): its foot
// lines become `lines`, and the lines of the entry after it that lie in it
// go, those of the node with the old foot lines, those of collections
// inside it to their feet (written before the node's own, as they were
// read).
bool set_foot(FootSource<YamlNode>& place, std::vector<std::string> lines);

// Replaces the lines a handle's comment_before reads (comment_before_source)
// by `lines`: they go to the outermost record, where a reader of the
// rendered text finds them; the other records give up the part the handle
// reads; lines that lie inside the content before the entry stay.  The
// records changed are marked modified.
bool set_head(HeadSource<YamlNode>& place, std::vector<std::string> lines);

// After the lines of a sequence item below its dash became lines above it
// (the comment on the dash was cleared, set_inline_comment): those a
// handle's comment_before reads go to the outermost record, where a reader
// of the rendered text finds lines above an item's dash (the sequence's,
// for its first item).
void gather_head(HeadSource<YamlNode>& place);

}  // namespace kestrine
