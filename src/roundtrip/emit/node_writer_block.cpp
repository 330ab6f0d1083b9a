// The node writer's block mappings and sequences.
#include <algorithm>
#include <cstring>

#include "roundtrip/emit/node_writer_impl.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

inline bool is_block_scalar_style(ScalarStyle s) noexcept {
  return s == ScalarStyle::Literal || s == ScalarStyle::Folded;
}

}  // namespace

void NodeWriter::mapping_entries(const YamlNode& mapping, std::size_t indent, bool compact_first, bool in_order) {
  const std::span<const NodePair> pairs = mapping.pairs();
  stack_guarded([&] {
    bool after_empty = false;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const YamlNode& key = pairs[i].key;
      const YamlNode& value = pairs[i].value;
      const bool mid_line = compact_first && i == 0;
      if (copying() && copy_pair(pairs, i, indent, mid_line, in_order, after_empty)) continue;
      // Where the key was read: the line the entry replaces.
      const bool placed = copying() && read_here(key);
      if (!mid_line && placed) {
        entry_lines(key, key.span.offset, pair_first(pairs[i], indent, false), HeadPart::All, indent,
                    mapping.span.column);
      } else if (!mid_line) {
        head_lines(key, std::nullopt, HeadPart::All, indent, mapping.span.column);
        spaces(indent);
      }
      // Readers take a key with properties right after an empty value for
      // that value's properties; the explicit form keeps them apart.
      if (needs_explicit_key(key, i) || (after_empty && has_properties(key))) {
        after_empty = explicit_entry(key, value, indent);
        continue;
      }
      const std::size_t mark = out_.size();
      const YamlNode* last_inline = e_.last_inline;
      const std::optional<std::size_t> final_break = e_.final_break;
      implicit_key(key, indent);
      if (key_too_long(key, mark)) {
        // A key that does not fit on one line cannot stand before ":";
        // write the entry in the explicit form instead.
        out_.resize(mark);
        e_.last_inline = last_inline;
        e_.final_break = final_break;
        after_empty = explicit_entry(key, value, indent);
        continue;
      }
      out_.push_back(':');
      after_empty = mapping_value(value, indent, placed && !key.explicit_key ? &key : nullptr);
    }
  });
}

void NodeWriter::sequence_items(const YamlNode& sequence, std::size_t indent, bool compact_first, bool in_order) {
  const std::span<const YamlNode> items = sequence.items();
  stack_guarded([&] {
    std::optional<std::size_t> dash;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const YamlNode& item = items[i];
      const bool mid_line = compact_first && i == 0;
      // Where the item was read, or the item it replaced.
      if (copying()) dash = item_line(sequence, i, indent, mid_line, dash);
      if (copying() && copy_item(items, i, dash, indent, in_order)) continue;
      const bool split = item.comments.inline_before_value;
      const bool head_below = !split && !mid_line && head_lead(item, false);
      if (head_below) {
        line_breaks_at(dash);
        copy_blank_lines(dash);
        line_breaks_at(dash);
        spaces(indent);
      } else if (!mid_line) {
        entry_lines(item, dash, dash, item_head_part(item), indent, sequence.span.column);
      }
      sequence_item(item, indent, head_below, dash);
    }
  });
}

bool NodeWriter::needs_explicit_key(const YamlNode& key, std::size_t index) noexcept {
  // (A comment on the key's line needs the line a "?" gives the key.)
  if (key.explicit_key && (key.is_scalar() || key.is_alias() || key.comments.inline_comment())) return true;
  if (key.is_scalar() && is_block_scalar_style(key.scalar_style())) return true;
  if (is_block_collection(key)) return true;
  return index > 0 && key.synthetic && (key.tag() || key.anchor());
}

// The key written since `mark` spans lines or passes the implicit-key
// length limit.  (Scalar keys are always written on one line.)
bool NodeWriter::key_too_long(const YamlNode& key, std::size_t mark) const noexcept {
  const std::size_t n = out_.size() - mark;
  if (n > kMaxImplicitKey) return true;
  return key.is_collection() && std::memchr(out_.data() + mark, '\n', n) != nullptr;
}

void NodeWriter::implicit_key(const YamlNode& key, std::size_t indent) {
  properties(key);
  const bool saved = std::exchange(e_.no_fold, true);
  node(key, indent, static_cast<long>(indent));
  e_.no_fold = saved;
  if (key.is_alias()) out_.push_back(' ');
}

// Gives true when the value was written as nothing.
bool NodeWriter::explicit_entry(const YamlNode& key, const YamlNode& value, std::size_t indent) {
  const std::size_t child = indent + step();
  out_.push_back('?');
  if (is_block_collection(key)) {
    trailing_properties(key);
    inline_comment(key);
    out_.push_back('\n');
    if (key.is_mapping()) mapping_entries(key, child, false);
    else sequence_items(key, child, false);
  } else {
    out_.push_back(' ');
    properties(key);
    const bool saved = std::exchange(e_.no_fold, true);
    node(key, child, static_cast<long>(indent));
    e_.no_fold = saved;
    inline_comment(key);
    line_end();
  }
  // A "?" entry without ":" has an empty value: the form it was read in.
  if (value.is_null() && !value.synthetic && !has_properties(value) && !has_comments(value) &&
      value.comments.blank_before == 0)
    return true;
  spaces(indent);
  out_.push_back(':');
  return mapping_value(value, indent, nullptr);
}

// Gives true when the value was written as nothing after the ":".
// `key`: the key read where it stands, on the line of the ":" (else null).
bool NodeWriter::mapping_value(const YamlNode& v, std::size_t indent, const YamlNode* key) {
  const std::size_t child = indent + step();
  const Comments& c = v.comments;
  const auto key_at = [&] { return key != nullptr ? std::optional(key->span.offset) : std::nullopt; };
  if (v.source() != nullptr) {
    out_.push_back(' ');
    source_directive(v);
    inline_comment(v);
    out_.push_back('\n');
  } else if (written_empty(v) && c.head().empty()) {
    // A comment after empty content stands right after the ":" (where it
    // is read back from).
    trailing_properties(v);
    inline_comment(v);
    out_.push_back('\n');
    foot_lines(v, indent);
    return v.comments.foot().empty();
  } else if (is_block_collection(v)) {
    trailing_properties(v);
    inline_comment(v);
    out_.push_back('\n');
    std::size_t column;
    if (!v.is_sequence()) column = entries_column(v, indent, child);
    else if (e_.dump_layout) column = e_.indentless_sequences && !v.tag() ? indent : child;
    else column = v.span.column <= indent && !feet_crowded(v, indent) ? indent : entries_column(v, indent, child);
    const std::optional<std::size_t> first = below_line(v, key_at());
    head_lines(v, first, HeadPart::All, column);
    // Entries written anew take the line break of the first line they
    // replace (one indented into the entry, or an item of a sequence at
    // the key's column), not the key's.
    if (first && !e_.line_breaks.empty() &&
        (e_.source->indentation(*first) > indent || e_.source->entry_line(*first, indent, '-') == first))
      line_breaks_at(first);
    if (v.is_sequence()) sequence_items(v, column, false);
    else mapping_entries(v, column, false);
    own_feet(v, value_foot_column(v, indent, column));
    return false;
  } else if (c.inline_before_value || !c.head().empty()) {
    value_below(v, child, static_cast<long>(indent), HeadPart::All, key_at());
  } else if (const std::optional<std::size_t> column =
                 key != nullptr && !has_properties(v) ? column_below(v, *key, indent) : std::nullopt) {
    // Read on the line below its key: it stays there (one with an anchor
    // or a tag has them after the ":", where the value follows them).
    value_below(v, *column, static_cast<long>(indent), HeadPart::All, key_at());
  } else {
    spaces(std::max<std::uint32_t>(c.value_pad, 1));
    properties(v);
    node(v, child, static_cast<long>(indent));
    inline_comment(v);
    line_end();
  }
  foot_lines(v, indent);
  return false;
}

std::size_t NodeWriter::value_foot_column(const YamlNode& v, std::size_t indent, std::size_t column) {
  if (!v.is_sequence() || column != indent || v.comments.foot().empty()) return column;
  // Lines at the key's own column after it would be the mapping's.  (Its
  // last item leaves the next column free: see feet_crowded.)
  return comment_column(column + 1, column, at_block_end());
}

bool NodeWriter::feet_crowded(const YamlNode& v, std::size_t indent) const noexcept {
  if (!copying() || !v.is_sequence() || v.comments.foot().empty()) return false;
  const YamlNode& last = v.items().back();
  if (last.source() != nullptr || !read_here(last)) return false;
  if (is_block_collection(last)) return last.span.column <= indent + 1;
  if (!last.is_scalar() || !last.comments.raw()) return false;
  const std::optional<KeptIndent> kept = kept_indent(last);
  return kept && kept->column <= static_cast<long>(indent) + 1;
}

// A value on the line below its indicator (read at `introducer`).  For
// mapping values every head comment lies below the key line (`part` All);
// for sequence items only those below the "-" line that carries the inline
// comment (BelowIntroducer).
void NodeWriter::value_below(const YamlNode& n, std::size_t indent, long parent, HeadPart part,
                             std::optional<std::size_t> introducer) {
  const bool before = n.comments.inline_before_value;
  trailing_properties(n);
  if (before) inline_comment(n);
  out_.push_back('\n');
  const std::optional<std::size_t> first = below_line(n, introducer);
  head_lines(n, first, part, indent);
  // (Lines copied there do not undo that: a block scalar's header must not
  // repeat the comment.)
  if (before) e_.last_inline = &n;
  line_breaks_at(first);
  spaces(indent);
  node(n, indent, parent);
  if (!before) inline_comment(n);
  line_end();
}

std::optional<std::size_t> NodeWriter::column_below(const YamlNode& v, const YamlNode& key,
                                                    std::size_t indent) const {
  const SourceLines& src = *e_.source;
  const std::optional<std::size_t> key_end = src.content_end(key);
  if (!key_end || *key_end == 0 || !src.ends_after(*key_end, ':')) return std::nullopt;
  const std::optional<std::size_t> line = below_line(v, key.span.offset);
  if (!line || *line <= *key_end) return std::nullopt;
  const std::size_t column = src.indentation(*line);
  return column > indent ? std::optional(column) : std::nullopt;
}

bool NodeWriter::plain_first_entry(const YamlNode& n) noexcept {
  const YamlNode* first = n.is_mapping() ? &n.pairs().front().key : &n.items().front();
  return first->comments.head().empty() && first->comments.blank_before == 0;
}

void NodeWriter::sequence_item(const YamlNode& item, std::size_t indent, bool head_below,
                               std::optional<std::size_t> dash) {
  // Where the item's entries go, and so the spacing after a dash that
  // carries the first of them.
  const std::size_t child = entries_column(item, indent + 1, indent + 2);
  // Those on lines of their own below the dash stay where they were read,
  // one column in too: there they stay apart from the lines of their own
  // entries (a list's dashes, a mapping's indentless lists).
  const std::size_t below = entries_column(item, indent, indent + 2);
  const Comments& c = item.comments;
  // The head lines below the dash: as read where the text holds them.
  const auto lines_below = [&](std::size_t column) {
    if (head_below) copy_head(item, false);
    else if (c.inline_before_value) head_lines(item, below_line(item, dash), HeadPart::BelowIntroducer, column);
  };
  out_.push_back('-');
  if (item.source() != nullptr) {
    out_.push_back(' ');
    source_directive(item);
    inline_comment(item);
    out_.push_back('\n');
  } else if (written_empty(item) && !(c.inline_before_value && !c.head().empty())) {
    trailing_properties(item);
    inline_comment(item);
    out_.push_back('\n');
  } else if (is_block_collection(item) && item.is_sequence()) {
    if (has_properties(item) || !c.compact || c.inline_comment() || c.inline_before_value || head_below ||
        !plain_first_entry(item)) {
      trailing_properties(item);
      inline_comment(item);
      out_.push_back('\n');
      lines_below(below);
      sequence_items(item, below, false);
      own_feet(item, below);
    } else {
      spaces(child - indent - 1);
      sequence_items(item, child, true);
      own_feet(item, child);
    }
    return;
  } else if (is_block_collection(item)) {
    // Its foot lines stand at its entries' column: one column further in
    // they would be those of its last value, where that is a block
    // sequence at its key's column.
    std::size_t column = below;
    if (has_properties(item)) {
      column = entries_column(item, indent, indent + step());
      trailing_properties(item);
      inline_comment(item);
      out_.push_back('\n');
      lines_below(column);
      mapping_entries(item, column, false);
    } else if (c.inline_comment() || c.inline_before_value || head_below || !plain_first_entry(item) ||
               read_below_dash(item, dash)) {
      inline_comment(item);
      out_.push_back('\n');
      lines_below(below);
      mapping_entries(item, below, false);
    } else {
      column = child;
      spaces(child - indent - 1);
      mapping_entries(item, child, true);
    }
    own_feet(item, column);
    return;
  } else if (c.inline_before_value) {
    value_below(item, child, static_cast<long>(indent), HeadPart::BelowIntroducer, dash);
  } else {
    spaces(std::max<std::uint32_t>(c.value_pad, 1));
    properties(item);
    node(item, child, static_cast<long>(indent));
    inline_comment(item);
    line_end();
  }
  foot_lines(item, indent);
}

}  // namespace kestrine
