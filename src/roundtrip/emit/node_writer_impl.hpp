// The node writer's state and steps, shared by its sources (internal to the
// node writer; callers use node_writer.hpp).  One `NodeWriter` lives for one
// call of a node_writer.hpp entry point and appends to its `Emitter`'s output.
//   node_writer.cpp          dispatch by node kind, document roots, comments
//                            and properties
//   node_writer_scalars.cpp  scalar styles, quoting, kept block-scalar texts
//   node_writer_flow.cpp     flow collections
//   node_writer_block.cpp    block mappings and sequences
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emit_util/plain_scalar.hpp"
#include "roundtrip/document/comment_places.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// Longest key written in the implicit form ("key: value"); readers refuse
// longer implicit keys.
inline constexpr std::size_t kMaxImplicitKey = 1024;

inline bool has_comments(const YamlNode& n) noexcept {
  return !n.comments.head().empty() || n.comments.inline_comment() || !n.comments.foot().empty();
}

// A null, or a plain scalar without text: content written as nothing.
inline bool is_empty_value(const YamlNode& v) noexcept {
  return v.is_null() || (v.is_scalar() && v.scalar_style() == ScalarStyle::Plain && v.text().empty());
}

inline bool has_properties(const YamlNode& n) noexcept {
  return !n.is_alias() && (n.tag() || n.anchor());
}

class NodeWriter {
 public:
  friend bool emit_document_from_source(Emitter&, const YamlNode&, std::optional<std::size_t>,
                                        std::optional<std::size_t>, bool);
  friend void emit_source_text(Emitter&, std::size_t, std::size_t);
  explicit NodeWriter(Emitter& e) : e_(e), out_(e.out) {}

  // `parent`: the indentation of the block structure that holds the node
  // (the key's or the "-"'s column); a kept block-scalar text must indent its
  // body past it.
  void node(const YamlNode& n, std::size_t indent, long parent);
  // `in_order`: the entries are those read, in the order read (their
  // collection was not edited itself), so an entry copied as read ends
  // where the next one's lines begin.
  // The entries' head lines indented deeper than the collection's column
  // as read lie inside the entry before.
  void mapping_entries(const YamlNode& mapping, std::size_t indent, bool compact_first, bool in_order = false);
  void sequence_items(const YamlNode& sequence, std::size_t indent, bool compact_first, bool in_order = false);
  void root(const YamlNode& r, bool marker);
  void root_content(const YamlNode& r);
  void quoted(std::string_view text);
  void quoted_scalar(std::string_view text, bool single);

 private:
  Emitter& e_;
  std::string& out_;
  bool at_root_ = false;

  std::size_t step() const noexcept { return e_.step(); }

  // ---- small pieces (node_writer.cpp) ----------------------------------------
  void spaces(std::size_t n) { out_.append(n, ' '); }
  void newlines(std::size_t n);
  void line_end();
  void comment_line(std::string_view text, std::size_t indent, bool spaced = true);
  // A comment line of `n`'s, written as it was read.
  void comment_line(const YamlNode& n, std::string_view text, std::size_t indent) {
    comment_line(text, indent, !n.comments.is_unspaced(text));
  }
  // (Those from the one at `from` on.)
  void foot_lines(const YamlNode& n, std::size_t indent, std::size_t from = 0) {
    if (e_.feet_copied) return;
    const std::span<const std::string> foot = n.comments.foot();
    for (std::size_t i = from; i < foot.size(); ++i) {
      if (foot_read_ != std::string::npos) [[unlikely]]
        foot_read_break(foot[i]);
      comment_line(n, foot[i], indent);
    }
  }
  // A foot line written where the lines read hold it next takes that
  // line's break (see written_feet_breaks).
  void foot_read_break(std::string_view text);
  // Whether the output ends with a block scalar, after which lines (blank
  // or not) as deep as its text would read as part of it.
  bool at_block_end() {
    settle_block_end();
    return out_.size() == e_.block_end;
  }
  // The column for a comment line meant to stand at `column`: left of the
  // text of a block scalar it follows (`after_block`), but not left of
  // `least`.
  std::size_t comment_column(std::size_t column, std::size_t least, bool after_block) const noexcept {
    if (!after_block || column < e_.block_indent) return column;
    return e_.block_indent > least + 1 ? e_.block_indent - 1 : least;
  }
  void inline_comment(const YamlNode& n, std::uint32_t written_after = 0);
  // The node's properties and one space after them; trailing: one space
  // before them.  Nothing for an alias.
  void properties(const YamlNode& n);
  void trailing_properties(const YamlNode& n);
  // The tag and "&" with the anchor, in the order read (a node built from a
  // value: the tag first), one space between.
  void properties_text(const YamlNode& n) { tag_and_anchor(n.tag().view(), n.anchor(), n.anchor_first()); }
  void tag_and_anchor(std::optional<std::string_view> tag, const OptText& anchor, bool anchor_first);
  void null_word(const YamlNode& n) {
    out_ += (e_.null_style == NullStyle::Tilde && n.synthetic) ? "~" : "null";
  }
  // Whether the value is written as nothing after its ":" or "-" (with its
  // properties and a comment on that line): empty content, unless a null
  // assigned from Python is to be written as a word.  (Head lines below the
  // indicator need a value line of their own: the callers check those.)
  bool written_empty(const YamlNode& v) const noexcept {
    return is_empty_value(v) && !(v.is_null() && v.synthetic && e_.null_style != NullStyle::Default);
  }

  // ---- scalars (node_writer_scalars.cpp) -------------------------------------
  // May `text` be written plain right here?
  bool plain_here(std::string_view text) const noexcept {
    return plain_text_safe(text, e_.flow_depth > 0, PlainSafety::Exact);
  }
  void source_directive(const YamlNode& n);
  void scalar(const YamlNode& n, std::size_t indent, long parent, bool root);
  void plain(const YamlNode& n, std::string_view t, bool root);
  // A plain scalar read over several lines whose text is as read: its
  // lines copied as they were (their line breaks too), where they still
  // read the same (`parent`: the column of the block that holds it); false
  // when it is to be written on one line.
  bool plain_lines_kept(const YamlNode& n, long parent);
  static char raw_chomping(std::string_view raw) noexcept;
  struct KeptIndent {
    long column;     // the lines from this column on are content
    long indicator;  // its indentation indicator, 0 when none
  };
  static std::optional<KeptIndent> kept_indent(const YamlNode& n) noexcept;
  // A block scalar, whose lines are those indented from `column` on, ends
  // the output here.
  void block_ends(std::size_t column) {
    e_.block_end = out_.size();
    e_.block_indent = column;
  }
  static bool raw_is_open(const YamlNode& n) noexcept;
  std::optional<KeptIndent> raw_fits(const YamlNode& n, long parent) const noexcept;
  void copy_raw(const YamlNode& n, std::size_t from, KeptIndent kept);

  // ---- flow collections (node_writer_flow.cpp) -------------------------------
  void flow_separator(std::size_t indent);
  void flow_sequence(const YamlNode& n, std::size_t indent);
  void flow_key(const YamlNode& key, std::size_t indent);
  void flow_mapping(const YamlNode& n, std::size_t indent);

  // ---- block mappings and sequences (node_writer_block.cpp) -------------------
  // The blank and comment lines above an entry written anew (its first
  // line read at `first`, in a collection read at `read_column`) and the
  // start of that line.  What is written takes the line break of the line
  // the entry was read on (the one holding `at`).
  [[gnu::always_inline]] void entry_lines(const YamlNode& node, std::optional<std::size_t> at,
                                          std::optional<std::size_t> first, HeadPart part, std::size_t indent,
                                          std::uint32_t read_column) {
    line_breaks_at(at);
    head_lines(node, first, part, indent, read_column);
    line_breaks_at(at);
    // A byte-order mark that the reader passed over there stays, where it
    // still opens a line of the document's prefix: after a line written
    // above it (a root's anchor or tag) it would be read as part of the key.
    if (first) {
      const std::size_t past = e_.source->past_bom(*first);
      if (past != *first && ends_in_document_prefix(out_)) out_.append(e_.source->slice(*first, past));
    }
    spaces(indent);
  }
  static bool needs_explicit_key(const YamlNode& key, std::size_t index) noexcept;
  bool key_too_long(const YamlNode& key, std::size_t mark) const noexcept;
  void implicit_key(const YamlNode& key, std::size_t indent);
  bool explicit_entry(const YamlNode& key, const YamlNode& value, std::size_t indent);
  bool mapping_value(const YamlNode& v, std::size_t indent, const YamlNode* key);
  // The column of the foot lines of a block collection value `v` whose
  // entries stand at `column`, under a key at `indent`.
  std::size_t value_foot_column(const YamlNode& v, std::size_t indent, std::size_t column);
  // Whether the foot lines of a block sequence value `v` would have no
  // column of their own were its items written at its key's column
  // (`indent`): lines at that column are the mapping's, and its last item
  // as read (a block collection, or a block scalar's text, one column in)
  // takes those right of it.  Its items then go one step in.
  bool feet_crowded(const YamlNode& v, std::size_t indent) const noexcept;
  // The column of a value read below its key's line ("key:" alone there),
  // or of the one it replaced; nothing for one read on that line.
  std::optional<std::size_t> column_below(const YamlNode& v, const YamlNode& key, std::size_t indent) const;
  void value_below(const YamlNode& n, std::size_t indent, long parent, HeadPart part,
                   std::optional<std::size_t> introducer);

  static bool plain_first_entry(const YamlNode& n) noexcept;
  // `head_below`: the item's head lines stand between its dash and its
  // entries (head_lead), where they are copied.
  // `dash`: where its dash was read (item_line).
  void sequence_item(const YamlNode& item, std::size_t indent, bool head_below, std::optional<std::size_t> dash);
  // The item (a mapping) was read on a line below its dash: it stays there.
  bool read_below_dash(const YamlNode& item, std::optional<std::size_t> dash) const {
    return dash && copying() && read_here(item) && e_.source->line_start(item.span.offset) > *dash;
  }

  // ---- entries copied from the text read (node_writer_source.cpp) -------------
  bool copying() const noexcept { return e_.source != nullptr; }
  // From here on, written line breaks take `ending` (Emitter::line_breaks;
  // nothing changes without one, or for a text read with LF alone).
  void line_breaks_as(std::optional<LineBreak> ending);
  // What is written from here on takes the line break of the line that
  // holds `at` (an entry written anew: the line it replaces); without one
  // (an entry added), that of the line before goes on.
  void line_breaks_at(std::optional<std::size_t> at) {
    if (at && !e_.line_breaks.empty()) line_breaks_as(e_.source->line_break(*at));
  }
  // SourceLines::pair_first, remembered for the last pair asked about.
  std::optional<std::size_t> pair_first(const NodePair& pair, std::size_t column, bool mid_line);
  // The node stands where it was read (it is not built from a value).
  bool read_here(const YamlNode& n) const noexcept;
  // Where the item at `i` was read, or the item it replaced: its dash's
  // line (`mid_line`: the dash itself).  `previous`: that of the item
  // before it.
  std::optional<std::size_t> item_line(const YamlNode& sequence, std::size_t i, std::size_t indent, bool mid_line,
                                       std::optional<std::size_t> previous) const;
  // Appends text copied as read: its line breaks stay as they are.
  void append_kept(std::string_view text, std::optional<LineBreak> after);
  // The column the entries of `collection` are written at: where they were
  // read, when copying and the collection was read further in than `indent`.
  std::size_t entries_column(const YamlNode& collection, std::size_t indent, std::size_t fallback) const noexcept;
  // Writes the entry at `i` from the text (the whole entry when nothing in
  // it was edited; else, when only its value's entries were, its lines down
  // to the first of them and then those entries); false when it is to be
  // written from its nodes.  `mid_line`: the entry continues a line.
  bool copy_pair(std::span<const NodePair> pairs, std::size_t i, std::size_t indent, bool mid_line, bool in_order,
                 bool& after_empty);
  bool copy_item(std::span<const YamlNode> items, std::size_t i, std::optional<std::size_t> first, std::size_t indent,
                 bool in_order);
  // Where the entry starting at `first`, whose content ends with
  // `last_content`, ends when the next entry of an in-order collection
  // starts at `next_first` with `next_heads` head lines of its own: where
  // those lines begin.
  std::optional<std::size_t> next_entry_lead(std::size_t first, std::optional<std::size_t> next_first,
                                             const YamlNode& next_node, std::size_t next_heads,
                                             const YamlNode& last_content) const;
  // The read column of a node that is no entry of a collection.
  static constexpr std::uint32_t kNoEntryColumn = UINT32_MAX;
  // The blank lines and head comments above a node written from its nodes
  // (the line it was read on, or that of what it replaced: `first`): as
  // read when they are its own, else written at `indent`.  `part`: those
  // above an entry or between a key and its value (All), or an item's
  // above or below its dash (item_head_part, BelowIntroducer).
  // For an entry of a collection read at `read_column`, the lines at the
  // front indented deeper (inner_head_lines) lie inside the content before
  // it: they stay where they stood, copied as read with the blank lines
  // after them, or written as deep as they were read (left of a block
  // scalar they follow).
  void head_lines(const YamlNode& node, std::optional<std::size_t> first, HeadPart part, std::size_t indent,
                  std::uint32_t read_column = kNoEntryColumn) {
    const Comments& c = node.comments;
    if (c.blank_before != 0 || c.inline_before_value || !c.head().empty() || (first && read_column != kNoEntryColumn))
      head_lines_read(node, first, part, indent, read_column);
  }
  void head_lines_read(const YamlNode& node, std::optional<std::size_t> first, HeadPart part, std::size_t indent,
                       std::uint32_t read_column);
  // The lines read above the line at `first`, from `lead` on: their
  // comments' `texts` (nothing when the text does not hold them there), the
  // blank lines at their top ending at `blank_end`.
  struct ReadHead {
    std::size_t first = 0;
    std::size_t lead = 0;
    std::size_t blank_end = 0;
    std::optional<std::vector<std::string_view>> texts;
  };
  ReadHead read_head(std::optional<std::size_t> first) const;
  // Copies the lines read when they are the `part` of `head` (after
  // `blank` blank lines, any number `below` an introducer); false when
  // they are to be written.
  bool copy_own_head(std::span<const HeadComment> head, const ReadHead& read, HeadPart part, std::size_t blank,
                     bool below);
  // Copies the lines `inner` as read (`read` holds texts), with the blank
  // lines around them; where the next line read begins, or nothing when
  // the lines read do not begin with them.
  std::optional<std::size_t> copy_inner_head(const ReadHead& read, std::span<const HeadComment> inner);
  // Copies the lines `inner` as read where they follow the text copied
  // last (a deletion gave them, read above the entry it removed, to the
  // entry after it); false when they do not.
  bool copy_inner_lines(std::span<const HeadComment> inner);
  // How many of the item's head lines stand above its dash (read at
  // `dash`), as read.
  std::size_t read_heads_above_dash(const YamlNode& item, std::size_t dash) const;
  // Where a node below its introducer (the line of its key or dash) was
  // read, or what it replaced: the line it starts.
  std::optional<std::size_t> below_line(const YamlNode& n, std::optional<std::size_t> introducer) const;
  // The blank lines right above the line at `first`, as read.
  void copy_blank_lines(std::optional<std::size_t> first);
  // Where the lines an entry copied as read begins with start (its first
  // line at `first`, `heads` head lines): SourceLines::own_lead, and
  // without head lines, where those are not its own, blank_lead (the
  // comment lines above its blank lines may have been its head lines, until
  // an edit gave them to the content before it).
  std::size_t entry_lead(std::size_t first, std::size_t heads, bool blank_before) const {
    const std::size_t lead =
        heads == 0 && !blank_before ? first : e_.source->own_lead(first, heads, blank_before, floor_);
    return lead == first && heads == 0 ? e_.source->blank_lead(first, floor_) : lead;
  }
  // A root block collection whose own lines are as read: its head lines
  // from the text, its entries copied or written.
  bool copy_root(const YamlNode& r);
  // Where the first entry of a root block collection whose own lines are as
  // read starts; its entries, written or copied.
  std::optional<std::size_t> root_first_entry(const YamlNode& r) const;
  void root_entries(const YamlNode& r);
  // `key_column`: the column of the key whose value the collection is
  // (kNoKeyColumn: it is no mapping value).
  bool copy_collection_lines(const YamlNode& collection, std::size_t from, std::size_t column,
                             std::size_t key_column = kNoKeyColumn);
  bool copy_document(const YamlNode& r, std::optional<std::size_t> prelude, std::optional<std::size_t> end,
                     bool upgrade);
  // An edited root that is not a block collection, on a line of its own:
  // the lines from `prelude` down to it as read, then the root written.
  bool copy_root_line(const YamlNode& r, std::size_t prelude);
  void copy(std::size_t from, std::size_t to);
  // After an entry of `n` (at `column`) copied up to `end`: when its text
  // ends with a block scalar, that ends the output (no blank lines may
  // follow one with "+" chomping), which settle_block_end works out when
  // something may follow it that would read as its content.
  void note_block_end(const YamlNode& n, std::size_t column, std::size_t end) {
    e_.copied_entry = {&n, column, end, out_.size()};
  }
  void settle_block_end();
  // Copies the blank and comment lines that begin [from, to) right after a
  // block scalar they were not read after; gives where the rest begins.
  std::size_t copy_lines_below_block(std::size_t from, std::size_t to);
  // The blank and comment lines above a block collection written from its
  // nodes, copied when the text holds exactly its head lines (with
  // `below_only`, those below its introducer) right above where it was
  // read; false when they are to be written.  head_lead gives where those
  // lines begin.  `root`: the collection is a document root.
  bool copy_head(const YamlNode& collection, bool below_only = false, bool root = false);
  std::optional<std::size_t> head_lead(const YamlNode& collection, bool below_only, bool root = false) const;
  // The line those lines end at: the collection's first line, or the line
  // above it that holds a root's properties as read.
  std::size_t head_end(const YamlNode& collection, bool root) const;
  // A document root's first line as read: that of its content, or the line
  // above it when that holds the root's properties alone; nothing when
  // what stands before its content on its line is no properties (a "---").
  // (Properties read are those an edit may have changed or removed.)
  std::optional<std::size_t> root_first_line(const YamlNode& r) const;
  // `key_column`: as for copy_collection_lines, for `n`.
  static constexpr std::size_t kNoKeyColumn = std::string::npos;
  void copied_feet(const YamlNode& n, bool below = true, std::size_t key_column = kNoKeyColumn);
  // The foot lines of a block collection written from its nodes, at
  // `column`; copied as read where the text holds them right after the text
  // copied last (its last entry).
  void own_feet(const YamlNode& n, std::size_t column) {
    if (!e_.feet_copied && !n.comments.foot().empty()) own_feet_lines(n, column);
  }
  void own_feet_lines(const YamlNode& n, std::size_t column);
  // Foot lines written right after text copied as read stand in the place
  // of the lines read there (an edit set others): they take the line break
  // of the first of those, not of the line copied last; else that of the
  // line read with the `first` of them, when it lies a few lines on.
  // `read_at`: where the lines they replace begin, when not right after
  // the text copied last.
  void written_feet_breaks(std::string_view first, std::optional<std::size_t> read_at = std::nullopt);
  // The foot lines of `chain` (outermost first; written innermost first),
  // copied as read as far as the lines right after the text copied last
  // are those, in order; gives how many it copied (the rest are to be
  // written).  A deletion may have put lines read apart into one foot:
  // those read right after the entry before it keep their columns.
  std::size_t copy_feet_as_read(std::span<const YamlNode* const> chain);
  struct FirstAsked {
    const NodePair* pair = nullptr;
    std::size_t column = 0;
    bool mid_line = false;
    std::optional<std::size_t> first;
  } first_asked_;
  // The end of the last text copied: lines above it are not claimed again.
  std::size_t floor_ = 0;
  // The length of the output just after the last text copied.
  std::size_t copied_at_ = std::string::npos;
  // With CR line breaks: the line read where the next foot line written
  // may stand, after one placed at its own line.
  std::size_t foot_read_ = std::string::npos;
};

}  // namespace kestrine
