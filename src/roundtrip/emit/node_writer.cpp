#include "roundtrip/emit/node_writer.hpp"

#include <algorithm>
#include <utility>

#include "roundtrip/emit/node_writer_impl.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

// `parent`: the indentation of the block structure that holds the node
// (the key's or the "-"'s column); a kept block-scalar text must indent its
// body past it.
void NodeWriter::node(const YamlNode& n, std::size_t indent, long parent) {
  const bool root = std::exchange(at_root_, false);
  if (n.source() != nullptr) {
    source_directive(n);
    return;
  }
  switch (n.kind()) {
    case NodeKind::Scalar:
      scalar(n, indent, parent, root);
      return;
    case NodeKind::Sequence:
      stack_guarded([&] { flow_sequence(n, indent); });
      return;
    case NodeKind::Mapping:
      stack_guarded([&] { flow_mapping(n, indent); });
      return;
    case NodeKind::Alias:
      out_.push_back('*');
      out_ += n.alias_name();
      return;
    case NodeKind::Null:
      // A tag on empty content decides what it reads as (an empty "!!str"
      // is ""): such a node stays empty.
      if (!(n.tag() && !n.synthetic)) null_word(n);
      return;
  }
}

// Start marker, heads, content and feet of a document root (directives are
// the document writer's).
void NodeWriter::root(const YamlNode& r, bool marker) {
  if (marker && r.is_null() && r.explicit_start && !r.synthetic && !has_properties(r)) {
    // An empty document read as such stays empty.  Its "---" line is its
    // only line: it carries its comment, and its head lines stand above it.
    for (const HeadComment& h : r.comments.head()) comment_line(r, h.text, 0);
    out_ += "---";
    inline_comment(r, 3);
    out_.push_back('\n');
    foot_lines(r, 0);
    return;
  }
  if (marker) out_ += "---\n";
  if (copying() && copy_root(r)) {
    own_feet(r, 0);
    return;
  }
  if (!copy_head(r, false, true))
    for (const HeadComment& h : r.comments.head()) comment_line(r, h.text, 0);
  root_content(r);
  if (is_block_collection(r) && r.source() == nullptr) own_feet(r, 0);
  else foot_lines(r, 0);
}

// A document root after its head comments, up to its foot comments.
void NodeWriter::root_content(const YamlNode& r) {
  // Its line takes the line break it was read with.
  if (copying() && !is_block_collection(r) && read_here(r)) line_breaks_at(r.span.offset);
  if (r.source() != nullptr) {
    source_directive(r);
    inline_comment(r);
    out_.push_back('\n');
  } else if (is_block_collection(r)) {
    if (has_properties(r)) {
      properties_text(r);
      inline_comment(r);
      out_.push_back('\n');
    } else if (r.comments.inline_comment()) {
      // No line of its own to carry it: keep it as a comment line.
      comment_line(r, *r.comments.inline_comment(), 0);
      e_.last_inline = &r;
    }
    const bool indented = r.tag() && r.synthetic;
    if (r.is_mapping()) {
      mapping_entries(r, entries_column(r, 0, indented ? step() : 0), false);
    } else {
      const bool seq_indented = indented && !e_.indentless_sequences;
      sequence_items(r, entries_column(r, 0, seq_indented ? step() : 0), false);
    }
  } else if (r.is_null() && !r.comments.inline_comment() && !r.anchor() && r.tag() && r.synthetic &&
             e_.null_style == NullStyle::Default) {
    properties_text(r);
    out_.push_back('\n');
  } else if (r.is_null() && r.tag() && !r.synthetic) {
    properties_text(r);
    inline_comment(r);
    out_.push_back('\n');
  } else {
    properties(r);
    at_root_ = true;
    // A kept block-scalar text at the root must indent its body, so that
    // comment lines at column 0 after it stay comments.
    node(r, step(), 0);
    at_root_ = false;
    inline_comment(r);
    line_end();
  }
}

// Blank lines; none right after a block scalar with "+" chomping, whose
// text would take them in.
void NodeWriter::newlines(std::size_t n) {
  if (n == 0) return;
  settle_block_end();
  if (out_.size() == e_.keep_end) return;
  out_.append(n, '\n');
}

// (A copied block text may end in a lone CR: that ends its line too.)
void NodeWriter::line_end() {
  if (out_.empty() || (out_.back() != '\n' && out_.back() != '\r')) out_.push_back('\n');
}

// "#", then (when `spaced`) one space and the text unless it is empty; one
// comment line per line of the text.
void NodeWriter::comment_line(std::string_view text, std::size_t indent, bool spaced) {
  std::size_t pos = 0;
  for (;;) {
    std::size_t end = text.find_first_of("\r\n", pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
    spaces(indent);
    out_.push_back('#');
    if (!line.empty()) {
      if (spaced) out_.push_back(' ');
      out_ += line;
    }
    out_.push_back('\n');
    if (end == std::string_view::npos) break;
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    if (pos >= text.size()) break;
  }
}

// `written_after`: columns written after the node's end (a flow separator;
// the "---" an empty document stands at), inside the spacing measured from
// it.
void NodeWriter::inline_comment(const YamlNode& n, std::uint32_t written_after) {
  const Comments& c = n.comments;
  if (!c.inline_comment() || e_.last_inline == &n) return;
  // At the start of a line (after a kept block scalar) the comment takes
  // a line of its own rather than indentation that could read as content.
  if (!out_.empty() && out_.back() != '\n') {
    const std::uint32_t pad = c.inline_spaces > written_after ? c.inline_spaces - written_after : 0;
    spaces(std::max<std::uint32_t>(pad, 1));
  }
  out_.push_back('#');
  const std::string& t = *c.inline_comment();
  if (!t.empty()) {
    if (!c.is_unspaced(t)) out_.push_back(' ');
    // An inline comment stays on its line.
    const std::size_t start = out_.size();
    out_ += t;
    for (std::size_t i = start; i < out_.size(); ++i)
      if (out_[i] == '\n' || out_[i] == '\r') out_[i] = ' ';
  }
  e_.last_inline = &n;
}

void NodeWriter::properties(const YamlNode& n) {
  if (n.is_alias() || n.has_no_properties()) return;
  properties_text(n);
  out_.push_back(' ');
}

void NodeWriter::trailing_properties(const YamlNode& n) {
  if (n.is_alias() || n.has_no_properties()) return;
  out_.push_back(' ');
  properties_text(n);
}

void NodeWriter::tag_and_anchor(std::optional<std::string_view> tag, const OptText& anchor, bool anchor_first) {
  if (anchor && anchor_first) {
    out_.push_back('&');
    out_ += *anchor;
    if (tag) out_.push_back(' ');
  }
  if (tag) out_ += *tag;
  if (anchor && !anchor_first) {
    if (tag) out_.push_back(' ');
    out_.push_back('&');
    out_ += *anchor;
  }
}

// ---- public operations ------------------------------------------------------------

void emit_root_content(Emitter& e, const YamlNode& root, bool marker) { NodeWriter(e).root(root, marker); }

}  // namespace kestrine
