// What the emitter needs to copy the unedited parts of a document from the
// text they were read from: the lines of that text, where each entry of a
// block collection lies in it, and which nodes an edit reached.
//
//   SourceLines lines(text, 0, 0);          // the text of file 0, offsets from 0
//   EditedNodes edited;
//   edited.add(root);                        // once per root, before writing
//   if (!edited.contains(pair.value)) ... copy the entry's lines ...
//
// An entry ("key: value" with everything below it, "? key" with its ":"
// line, or "- item") takes whole lines: from its first line (its key's, its
// "?"'s or its dash's) to the line before the next line that is indented
// no deeper, less the blank and comment lines at its end, which belong to
// what follows; the blank and comment lines
// above it are its own when its node holds them as head comments.  An
// entry nested in a compact collection ("- key: v") starts at its key.
// Geometry that cannot be worked out with certainty (a flow collection
// whose closing bracket cannot be found, a key that is not where its node
// says) gives nothing, and the writer then writes the entry from its nodes.
//
// Offsets are those the nodes carry: a text that is a part of what was read
// (a document of a stream) gives its start as `base`.  Nothing here fails or
// allocates per line; the text must outlive the object.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/tree/ast.hpp"
#include "util/hash_map.hpp"
#include "util/text_facts.hpp"

namespace kestrine {

// How a line ends: the bytes a line break is written as.  `Kept`: copied
// text, whose line breaks stay the bytes they were read as.
enum class LineBreak : std::uint8_t { Lf, CrLf, Cr, Kept };

// From output offset `at` on, the line breaks the writer wrote (as LF) are
// written as `ending` (emitter.hpp, Emitter::line_breaks).
struct LineBreakMark {
  std::size_t at;
  LineBreak ending;
};

// The line break that ends the first line of `text` (LF when it has none).
LineBreak first_line_break(std::string_view text) noexcept;

// Whether a line begun at the end of `text` (written output) lies in a
// document's prefix, where a reader passes over a byte-order mark that
// opens it: the line holds nothing yet but such marks, and every line
// before it back to the start or to a "..." line is blank or a comment.
bool ends_in_document_prefix(std::string_view text) noexcept;

// The bytes of a line break (LF for `Kept`).
constexpr std::string_view line_break_bytes(LineBreak b) noexcept {
  return b == LineBreak::CrLf ? "\r\n" : b == LineBreak::Cr ? "\r" : "\n";
}

class SourceLines {
 public:
  SourceLines(std::string_view text, std::size_t base, std::uint32_t file_id) noexcept;
  // With the text's facts taken before (text_facts of `text`).
  SourceLines(std::string_view text, std::size_t base, std::uint32_t file_id, TextFacts facts) noexcept;

  // [begin(), end()): the text's offsets, past a leading byte-order mark.
  std::size_t begin() const noexcept { return begin_; }
  std::size_t end() const noexcept { return base_ + text_.size(); }
  std::string_view slice(std::size_t from, std::size_t to) const noexcept {
    return text_.substr(from - base_, to - from);
  }
  // A node read from this text (its file, its start inside it).
  bool holds(const YamlNode& node) const noexcept {
    return node.span.file_id == file_id_ && node.span.offset >= begin_ && node.span.offset < end();
  }
  // ... and not built from a value since: such content has no place in the
  // text (no length, the zero position, and the edit mark; an empty item
  // read stands at its "-").
  bool read_here(const YamlNode& n) const noexcept {
    return holds(n) && (n.end_offset > n.span.offset || (!n.comments.modified && n.span.offset > 0));
  }

  // ---- lines (a line is given by the offset it starts at) ----
  std::size_t line_start(std::size_t at) const noexcept;
  // The start of the line after the one holding `at` (end() after the last).
  std::size_t next_line(std::size_t at) const noexcept;
  // The start of the line before `line` (line > begin()).
  std::size_t previous_line(std::size_t line) const noexcept;
  // Only blanks, or blanks and a comment.
  bool is_blank_or_comment(std::size_t line) const noexcept;
  // The text of the comment that starts at or after `at` on its line, past
  // blanks, as the scanner records it; nothing when something else is there.
  std::optional<std::string_view> comment_text(std::size_t at) const noexcept;
  // From `line` on, past the lines of only blanks, not past `to`.
  std::size_t past_blank_lines(std::size_t line, std::size_t to) const noexcept;
  // Past the byte-order marks that open the line, where the reader passes
  // over them.
  std::size_t past_bom(std::size_t line) const noexcept {
    if (line < end() && at(line) == '\xEF') [[unlikely]]
      return past_prefix_bom(line);
    return line;
  }
  // The text's last line has no line break.
  bool ends_unbroken() const noexcept { return end() > begin_ && !is_break(end() - 1); }
  // Some line after the first opens with a byte-order mark (rare: the
  // copies below then look for marks that would read otherwise).
  bool has_inner_bom() const noexcept { return inner_bom_; }
  // The line opens with a byte-order mark that is content there (the
  // start of a key): one written where a reader passes over marks would
  // drop it.
  bool content_bom_at(std::size_t line) const noexcept {
    return inner_bom_ && line < end() && at(line) == '\xEF' && past_prefix_bom(line) == line &&
           slice(line, std::min(line + 3, end())) == "\xEF\xBB\xBF";
  }
  // [from, to) without the byte-order marks a reader passed over at the
  // starts of its first lines (up to the first that holds content): the
  // text to copy where the output before it is no longer a document's
  // prefix (ends_in_document_prefix), which would make them content.
  // Nothing when no such mark is there.
  std::optional<std::string> without_prefix_boms(std::size_t from, std::size_t to) const;
  // Spaces at the start of the line (past such a mark).
  std::size_t indentation(std::size_t line) const noexcept {
    const std::size_t from = past_bom(line);
    std::size_t i = from;
    while (i < end() && at(i) == ' ') ++i;
    return i - from;
  }
  // The offset of `column` on the line (past such a mark).
  std::size_t column_offset(std::size_t line, std::size_t column) const noexcept {
    return past_bom(line) + column;
  }
  // From the line `from` on, the first line that is not blank or a comment
  // and is indented by `column` or less: where an entry at `column` that
  // began before `from` ends (`item`: a sequence item; else a pair, whose
  // sequence may stand at its own column).  end() when there is none.
  std::size_t boundary(std::size_t from, std::size_t column, bool item) const noexcept;
  // That line (`indicator` 0: for a pair), when an entry at `column` starts
  // there with `indicator` ("-" for an item, ":" for the value of a "?"
  // entry); nothing otherwise.
  std::optional<std::size_t> entry_line(std::size_t from, std::size_t column, char indicator) const noexcept;
  // Back from `line` over blank and comment lines, not before `floor`.
  std::size_t leading_start(std::size_t line, std::size_t floor) const noexcept;
  // Comment lines among the lines [from, to); all lines there.
  std::size_t comment_lines(std::size_t from, std::size_t to) const noexcept;
  std::size_t line_count(std::size_t from, std::size_t to) const noexcept;
  // Only blanks lie around `indicator` from `at` to the end of its line.
  bool ends_after(std::size_t at, char indicator) const noexcept;
  // Some line ends with CR (alone or before LF).
  bool has_cr() const noexcept { return has_cr_; }
  // The line break that ends the line holding `at`; nothing for the last
  // line when it has none.
  std::optional<LineBreak> line_break(std::size_t at) const noexcept;

  // ---- entries ----
  // Just past the last character of the node's content (a flow collection's
  // closing bracket, a block scalar's last line), or nothing when that is
  // not known.  0 for content of no length (an empty value).  `at_least`:
  // a bound it does not pass is enough (an edited node, not read from the
  // text, counts for nothing; a flow collection whose bracket cannot be
  // found, for its start).
  std::optional<std::size_t> content_end(const YamlNode& node, bool at_least = false) const;
  // Where the entry whose first line starts at `first` (an entry at column
  // `column`; `item`: a sequence item) ends: just past its last line that is
  // not a trailing blank or comment line, which must come at or after the
  // end of its content `content`.  Nothing when its lines cannot be told.
  std::optional<std::size_t> entry_end(std::size_t first, std::size_t column, bool item, std::size_t content) const;
  // Where the pair's entry starts: its key's line, which must be indented
  // by `column` (`mid_line`: the key itself, for the first entry of a
  // compact mapping).  Nothing for keys the writer cannot place so.
  std::optional<std::size_t> pair_first(const NodePair& pair, std::size_t column, bool mid_line) const;
  // Where the item's entry starts: the line of its dash at `column`
  // (`mid_line`: the dash itself).
  std::optional<std::size_t> item_first(const YamlNode& item, std::size_t column, bool mid_line) const;
  // The start of the blank and comment lines above an entry whose first
  // line starts at `first`, when they are the node's own: it holds
  // `head_lines` head comments (or blank lines before it) and exactly so
  // many comment lines lie there.  Else `first`.
  std::size_t own_lead(std::size_t first, std::size_t head_lines, bool blank_before, std::size_t floor) const;
  // For an entry with neither: where the blank lines right above it begin,
  // when they lie from `floor` on and a comment line stands right above
  // them; else `first`.  They stand above such an entry only where an edit
  // gave that comment line, read as the entry's, to the content before it
  // (copied up to `floor`, or written as its foot line), or removed it:
  // they stay between the two.
  std::size_t blank_lead(std::size_t first, std::size_t floor) const;
  // Where the blank lines right above the line at `first` begin, from
  // `floor` on (`first` when none).
  std::size_t blank_lines_above(std::size_t first, std::size_t floor) const;

  // ---- documents ----
  // Just past the last line of a document root's content, which ends
  // before `limit` (where the next document's lines begin, or end()): its
  // trailing blank and comment lines, and the markers (and, with
  // `directives`, the directives) of the next document lie after it.
  // Nothing when that is not known.
  std::optional<std::size_t> document_end(const YamlNode& root, std::size_t limit, bool directives = false) const;
  // The last line at or before `line` that is a "---" or "..." marker, or
  // begin(): where the document whose content begins on `line` begins, its
  // properties and comments included.
  std::size_t previous_document_marker(std::size_t line) const noexcept;
  // The texts of the comment lines in [from, to) as the scanner records
  // them, when only blank and comment lines (and "..." markers, or with
  // `any_marker` "---" markers too) lie there.
  std::optional<std::vector<std::string_view>> comment_texts(std::size_t from, std::size_t to,
                                                             bool any_marker = false) const;
  // Where the lines after the last comment in [from, end()) begin, when a
  // "..." marker stands among them (they then hold only blank lines and
  // markers): what ends the text read past the comments there.
  std::optional<std::size_t> closing_marker_lines(std::size_t from) const;
  // Just past the line of the last of `texts` when the comment lines from
  // `from` on are those texts, in order, with only blank lines between
  // them (the foot lines of an entry that ends at `from`, as read).
  std::optional<std::size_t> comment_run_end(std::size_t from, std::span<const std::string_view> texts) const;
  // How many of `texts`, from the first, the comment lines from `from` on
  // are, in order, with only blank lines between them, and just past the
  // line of the last of those (`from` when none).
  struct CommentRun {
    std::size_t count = 0;
    std::size_t end = 0;
  };
  CommentRun comment_run(std::size_t from, std::span<const std::string_view> texts) const;

 private:
  char at(std::size_t offset) const noexcept { return text_[offset - base_]; }
  [[gnu::noinline]] std::size_t past_prefix_bom(std::size_t line) const noexcept;
  // Only blank and comment lines (each maybe opened by byte-order marks)
  // stand before `line` since begin() or a "..." line.
  bool in_prefix(std::size_t line) const noexcept;
  bool is_break(std::size_t offset) const noexcept {
    const char c = at(offset);
    return c == '\n' || c == '\r';
  }
  // An indicator ("-", "?", ":") at `offset`: followed by a blank or a
  // line break.
  bool is_indicator_at(std::size_t offset, char indicator) const noexcept;
  bool is_dash_at(std::size_t offset) const noexcept { return is_indicator_at(offset, '-'); }
  // Where the `indicator` at `column` that introduces what starts at `at`
  // stands: its line, or (`mid_line`) the indicator itself.  `empty`: no
  // content stands there, only the indicator (else the indicator comes
  // before `at`: one at `at` opens the content's own first entry).
  [[gnu::noinline]] std::optional<std::size_t> indicator_first(std::size_t at, char indicator, std::size_t column,
                                                               bool mid_line, bool empty) const noexcept;
  // A line that ends a document: "---", "...", or with `directives` (the
  // next document has some) a line that starts with "%" (which is a
  // directive only there).
  bool is_document_marker(std::size_t line, bool directives) const noexcept;

  std::optional<std::size_t> flow_end(const YamlNode& node) const;
  // content_end(collection, true) of a block collection with entries.
  [[gnu::noinline]] std::optional<std::size_t> last_read_end(const YamlNode& collection) const;
  std::optional<std::size_t> last_read_end_inner(const YamlNode& collection) const;

  std::string_view text_;
  std::size_t base_;
  std::size_t begin_;
  std::uint32_t file_id_;
  bool has_cr_;  // some line ends with CR (alone or before LF)
  bool inner_bom_;  // has_inner_bom()
};

// The nodes an edit reached: every node that is modified or has a modified
// node below it, within the file it was read from (a node that stands for
// an included file counts by its own flag).  `marked`: the trees carry edit
// marks (DocumentRecord::edit_marks), which answer at once; else the trees
// are walked whole when added.
class EditedNodes {
 public:
  explicit EditedNodes(bool marked) noexcept : marked_(marked) {}

  // Records the nodes of `root`; gives whether any was edited.
  bool add(const YamlNode& root);
  bool contains(const YamlNode& node) const noexcept {
    if (marked_) return node.comments.modified || (node.comments.edited_below && node.source() == nullptr);
    return edited_.contains(&node);
  }
  // The foot lines of the nodes recorded, in no particular order: of the
  // edited ones and of those that end the document (the only ones a
  // document read holds).
  const std::vector<std::string_view>& feet() const noexcept { return feet_; }

 private:
  bool visit(const YamlNode& node);
  void visit_marked(const YamlNode& node);
  void take_feet(const YamlNode& node);
  bool marked_;
  FlatHashSet<const YamlNode*> edited_;
  std::vector<std::string_view> feet_;
};

}  // namespace kestrine
