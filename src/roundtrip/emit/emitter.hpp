// The round-trip emitter: writes `YamlNode` trees back as YAML text.
//
//   std::string text = kestrine::render_document(record);       // a whole document
//   std::string one  = kestrine::emit_to_string(node, NullStyle::Default);
//
// An unedited document that kept its source text is returned as that text,
// byte for byte, without walking the trees beyond the change test.  Anything
// else is rendered node by node (node_writer.hpp): every node in the style it
// was read in, with its comments, blank lines, spacing, anchors and tags,
// include directives in place of included content, and block scalars that
// were not edited copied from their source text where that text still reads
// back the same.  Output goes to one growing buffer (`Emitter::out`).
//
// Nothing here fails; nothing touches Python objects.  Every recursive step
// runs under the stack guard, so trees of any depth are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emit_util/null_style.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip/emit/source_copy.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {

// The writer's state for one output text.
struct Emitter {
  Emitter() { out.reserve(256); }
  explicit Emitter(NullStyle style) : Emitter() { null_style = style; }

  // The node whose inline comment was written last: one node's inline
  // comment is written at most once in a row (a block scalar writes it after
  // its header, before its caller would).
  const YamlNode* last_inline = nullptr;
  // The length of `out` just after a block scalar with "+" chomping: blank
  // lines written or copied right there would become part of its text.
  std::size_t keep_end = std::string::npos;
  // The length of `out` just after a block scalar, and the column from
  // which the lines after it read as its content: comment lines copied
  // there from elsewhere in the text must stand left of it.
  std::size_t block_end = std::string::npos;
  std::size_t block_indent = 0;
  // The last entry copied whole (at `column`, its text ending at `end` in
  // the text read and at `at` in `out`): whether it ends with a block
  // scalar is worked out only when blank or comment lines follow it.
  struct CopiedEntry {
    const YamlNode* node = nullptr;
    std::size_t column = 0;
    std::size_t end = 0;
    std::size_t at = std::string::npos;
  } copied_entry;
  // The length of `out` just after the text copied last: while it still
  // is, the output ends with text as read (its own line break, or none).
  std::size_t copied_end = std::string::npos;
  // Set when a kept block-scalar text that does not end in a line break was
  // copied: the length of `out` just after it.  If the text ends right there
  // plus the one line feed the writer added, that line feed is cut again.
  std::optional<std::size_t> final_break;
  // The output.
  std::string out;
  // Indentation step for nested block content; 0 means 2.
  std::size_t indent = 0;
  // Preferred line width for folding long scalars and wrapping flow
  // collections; 0 means never fold or wrap.
  std::size_t width = 0;
  // Writing a tree built fresh from Python data (the dumps road): block
  // sequences under keys are placed by `indentless_sequences` instead of the
  // column they were read at.
  bool dump_layout = false;
  // Carried for the dumper, which writes "...\n" after the document.
  bool explicit_end = false;
  bool indentless_sequences = false;
  // Prefer single quotes where a scalar has to be quoted and the text allows.
  bool single_quotes = false;
  // Number of flow collections currently open (0: block context).
  std::size_t flow_depth = 0;
  // Set while a mapping key is written: keys are never folded or wrapped.
  bool no_fold = false;
  // How synthetic nulls are spelled.
  NullStyle null_style = NullStyle::Default;
  // Every synthetic plain scalar of the tree was checked, where it stands, at
  // least as strictly as the writer checks (the dumper's represent road):
  // it is written without checking again.
  bool synthetic_plain_checked = false;

  // Kept block-scalar texts copied without a final line break whose value
  // would change if a line break followed them (counted, and where the last
  // one ended).  They are right only at the very end of the output; when one
  // is not, the document is written again with `strict_raw` set, which
  // writes such scalars from their values.
  std::size_t open_raw_copies = 0;
  std::optional<std::size_t> open_raw_at;
  bool strict_raw = false;

  // Copying unedited entries from the text read (both set, or neither): the
  // text of the tree's file, and the nodes edits reached (source_copy.hpp).
  // Block collections read from that text are written at the columns they
  // were read at, so that copied and written entries line up.
  const SourceLines* source = nullptr;
  const EditedNodes* edited = nullptr;
  // The foot comments are copied with the lines that end the text read: the
  // writer leaves them out where it would place them.
  bool feet_copied = false;
  // Copying from a text read with CR line breaks (alone or before LF, on
  // any line): the writer writes LF and notes here, in output order, from
  // where on its line breaks take which bytes: those of the line an entry
  // written anew replaces, else of the line before; copied text keeps its
  // own.  apply_line_breaks writes them.  Empty otherwise.
  std::vector<LineBreakMark> line_breaks;

  std::size_t step() const noexcept { return indent == 0 ? 2 : indent; }
};

// Appends one root to `e.out`: its directive lines, "---" when the root was
// opened by one, its head comments, the node and its foot comments.
void emit_document(Emitter& e, const YamlNode& root);

// One tree as YAML text (a leading byte-order mark when the root carries
// `leading_bom`; the writer's own final line break cut where the kept text
// had none).
std::string emit_to_string(const YamlNode& root, NullStyle null_style);

// An included file's subtree rendered on its own, as the content of that
// file: the node with the file root's comments (`content_comments`), without
// its `source` and without the anchor written on the directive (comments and
// anchor of the directive belong to the including file), nulls spelled
// "null".  With the file's text as read, its unedited entries are copied
// from that text, and a text read with CR LF line breaks is written with
// them.  `kept_after`: what the caller writes after the result, as read
// (the file's text past its first document): foot comments of the tree
// that it holds, when it holds no document, are not written twice.
std::string emit_include_subtree(const YamlNode& node, std::optional<std::string_view> file_text = std::nullopt,
                                 std::optional<std::string_view> kept_after = std::nullopt);

// Cuts the line feed the writer added after a kept block-scalar text that
// had none, when that line feed ends the text (see Emitter::final_break).
void apply_final_break(std::string& out, std::optional<std::size_t> final_break) noexcept;

// Writes each line feed of `out` not preceded by a carriage return as the
// line break the marks give for where it stands (Emitter::line_breaks).
void apply_line_breaks(std::string& out, std::span<const LineBreakMark> marks);

// Applies the final break rule to `e.out`; false when a kept block-scalar
// text that must end the output does not (write again with `strict_raw`).
bool finish_output(Emitter& e) noexcept;

// ---- documents ------------------------------------------------------------------

// The whole document as YAML text: the source text byte for byte while no
// node is modified; otherwise every root rendered ("---" / "..." between
// documents as needed), the entries no edit reached copied from the source
// text as they were read.  With `upgrade_1_1` the head of the result
// declares "%YAML 1.2" (see upgrade_document_header), unless the stream
// holds no document (a header would add one).  The span form
// renders edited trees from their nodes alone.
std::string render_document(const DocumentRecord& doc);
std::string render_document(std::span<const YamlNode> roots,
                            std::optional<std::string_view> source_text, bool upgrade_1_1,
                            NullStyle null_style);

// Rewrites the head of a rendered text for a document upgraded to YAML 1.2:
// passes over a byte-order mark and the prologue (directive, comment and
// blank lines, and "..." lines, which end no document) and declares
// "%YAML 1.2" there: in place of its first "%YAML" line (whose comment
// stays; later "%YAML" lines are removed), else in a line inserted at the
// top (after the last "..." line), followed by "---" when the prologue is
// not followed by a "---" line.  Lines end at LF, CR LF or a CR alone;
// inserted lines take the text's first line break.  Comments and other
// directives are kept in place.
std::string upgrade_document_header(std::string_view text);

}  // namespace kestrine
