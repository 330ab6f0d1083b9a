// The node writer: appends one `YamlNode` and everything below it to an
// `Emitter` (emitter.hpp).
//
// It prefers what was read (styles, spacing after indicators, the column a
// block sequence was read at, the source text of an unedited block scalar)
// but never writes a text that reads back differently:
//   * a plain text that cannot stand as a plain scalar where it is written
//     (a line break, leading or trailing blanks, an indicator at its start,
//     ": " or " #" inside, a document marker, ...) is quoted;
//   * a single-quoted text with a line break or a control character is
//     written double-quoted;
//   * literal and folded scalars are written as blocks only when the text
//     fits a block (else double-quoted); a folded body is laid out so that it
//     folds back to the text;
//   * the kept source text of a block scalar is copied only in block context
//     and where its body indentation still reads back the same (a text that
//     ended its input without a line break only where it ends the output);
//   * a key that would not fit on one line is written in the explicit form;
//   * an empty node with a tag stays empty (an empty "!!str" is ""); an
//     untagged empty scalar is spelled "null" where nothing cannot stand;
//   * no blank lines follow a block scalar with "+" chomping;
//   * a comment read with no space after its "#" is written back so.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// The node's content (not the properties or comments around it), its block
// content indented by `indent`.
void emit_node(Emitter& e, const YamlNode& node, std::size_t indent);

// Block mapping entries at `indent`, each on its own line.
void emit_mapping_entries(Emitter& e, std::span<const NodePair> pairs, std::size_t indent);

// Block sequence items at `indent`.
void emit_sequence_items(Emitter& e, std::span<const YamlNode> items, std::size_t indent);

// A scalar that has to be quoted: single quotes when preferred and possible,
// else double quotes; folded at `width` where allowed.
void write_quoted(Emitter& e, std::string_view text);
void write_quoted_scalar(Emitter& e, std::string_view text, bool single);

// A document root's head comments, content and foot comments (the document
// writer adds its directives and start marker).
void emit_root_content(Emitter& e, const YamlNode& root);

// With the emitter's `source` set: one document root whose text begins at
// `prelude` (the end of the previous document's content, or the start of
// the text) and whose content ends at `end`, written as read (when no edit
// reached it) or with its lines down to its first entry as read and its
// entries copied or written.  Its separator, directives and start marker
// are then part of the lines copied.  False, having written nothing, when
// the root is to be written from its nodes (`upgrade`: the document's
// "%YAML" lines are to be rewritten).
bool emit_document_from_source(Emitter& e, const YamlNode& root, std::optional<std::size_t> prelude,
                               std::optional<std::size_t> end, bool upgrade);
// Copies [from, to) of the emitter's `source` text.
void emit_source_text(Emitter& e, std::size_t from, std::size_t to);

}  // namespace kestrine
