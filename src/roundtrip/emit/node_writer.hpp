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
//   * a comment read with no space after its "#" is written back so;
//   * a node's anchor and tag are written in the order they were read.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// A document root's start marker ("---", with `marker`), head comments,
// content and foot comments (the document writer adds its directives).
void emit_root_content(Emitter& e, const YamlNode& root, bool marker);

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
