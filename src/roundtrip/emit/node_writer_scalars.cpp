// The node writer's scalars: styles, quoting, and kept block-scalar texts.
#include <algorithm>
#include <string>

#include "emit_util/plain_scalar.hpp"
#include "emit_util/scalar_text.hpp"
#include "roundtrip/emit/node_writer_impl.hpp"

namespace kestrine {

namespace {

// Leading spaces of the first line of `text` (lines split at CR, LF or CR LF)
// that holds anything but spaces; -1 when there is none.
long first_content_indent(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    for (std::size_t i = pos; i < end; ++i)
      if (text[i] != ' ') return static_cast<long>(i - pos);
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return -1;
}

// The comment on a block scalar's header line as the trees keep it (after
// "#" and one space, trailing blanks cut); nothing when it has none.
std::optional<std::string_view> header_comment(std::string_view header) noexcept {
  const std::size_t hash = header.find('#');
  if (hash == std::string_view::npos) return std::nullopt;
  std::string_view text = header.substr(hash + 1);
  if (text.starts_with(' ')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Whether the lines of a plain scalar as read (from its first character to
// its last) fold to `text`: each line trimmed of its blanks, lines joined by
// one space, or by a line feed for each empty line between them.
bool plain_lines_fold_to(std::string_view lines, std::string_view text) noexcept {
  std::size_t at = 0;
  std::size_t empty = 0;
  bool first = true;
  for (std::size_t pos = 0; pos <= lines.size();) {
    std::size_t end = lines.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = lines.size();
    std::string_view line = lines.substr(pos, end - pos);
    const std::size_t lead = line.find_first_not_of(" \t");
    if (lead == std::string_view::npos) {
      ++empty;
    } else {
      line = line.substr(lead, line.find_last_not_of(" \t") + 1 - lead);
      if (!first) {
        const std::string_view join = empty == 0 ? std::string_view(" ") : std::string_view();
        if (text.compare(at, join.size(), join) != 0) return false;
        at += join.size();
        for (; empty > 0; --empty, ++at)
          if (at >= text.size() || text[at] != '\n') return false;
      }
      if (text.compare(at, line.size(), line) != 0) return false;
      at += line.size();
      first = false;
      empty = 0;
    }
    if (end < lines.size() && lines[end] == '\r' && end + 1 < lines.size() && lines[end + 1] == '\n') ++end;
    pos = end + 1;
  }
  return at == text.size();
}

}  // namespace

void NodeWriter::quoted(std::string_view text) {
  const bool single = e_.single_quotes && text.find('\'') == std::string_view::npos &&
                      is_printable_single_line(text);
  quoted_scalar(text, single);
}

void NodeWriter::quoted_scalar(std::string_view text, bool single) {
  if (e_.width == 0 || e_.no_fold) {
    if (single) write_single_quoted(out_, text);
    else write_double_quoted(out_, text);
    return;
  }
  const std::size_t cont = std::max<std::size_t>(current_column(out_), 1);
  std::string body;
  body.reserve(text.size() + 8);
  if (single) append_single_quoted_body(body, text);
  else append_double_quoted_body(body, text);
  const char q = single ? '\'' : '"';
  out_.push_back(q);
  write_folded(out_, body, cont, e_.width);
  out_.push_back(q);
}

// The include tag and its target in place of the included content.
// The include tag and its target in place of the included content.  An
// anchor on the node was written on the directive: aliases elsewhere in this
// file refer to it.
void NodeWriter::source_directive(const YamlNode& n) {
  const IncludeSource& s = *n.source();
  tag_and_anchor(s.tag, n.anchor(), n.anchor_first());
  if (s.target.empty()) return;
  out_.push_back(' ');
  if (plain_here(s.target)) out_ += s.target;
  else quoted(s.target);
}

void NodeWriter::scalar(const YamlNode& n, std::size_t indent, long parent, bool root) {
  const Comments& c = n.comments;
  const std::string& t = n.text();
  const ScalarStyle style = n.scalar_style();
  // The lines of a block scalar read from the text are its own, blank lines
  // kept by "+" chomping included, whether its text is copied or written
  // anew: entries after it do not claim them as their leading lines.
  if (c.raw() && copying() && e_.source->holds(n)) floor_ = std::max(floor_, n.span.offset + c.raw()->size());
  if (const std::optional<KeptIndent> kept = c.raw() ? raw_fits(n, parent) : std::nullopt) {
    if (!c.modified) {
      copy_raw(n, 0, *kept);
      return;
    }
    // Only its comments or properties changed (new content comes without a
    // kept text): its body is copied as read, and its header line too while
    // it holds the comment the node holds.
    const std::string_view raw = *c.raw();
    const std::size_t eol = raw.find_first_of("\r\n");
    if (header_comment(raw.substr(0, eol)) == c.inline_comment().view()) {
      copy_raw(n, 0, *kept);
      return;
    }
    out_ += raw.substr(0, raw.find_first_not_of("|>+-123456789"));
    inline_comment(n);
    copy_raw(n, eol, *kept);
    return;
  }
  switch (style) {
    case ScalarStyle::Plain:
      // (Most plain scalars were read on one line: the test stays inline.)
      if (n.end_line == n.span.line || !plain_lines_kept(n, parent)) plain(n, t, root);
      return;
    case ScalarStyle::SingleQuoted:
      // Single quotes cannot carry line breaks or control characters.
      quoted_scalar(t, is_printable_single_line(t));
      return;
    case ScalarStyle::DoubleQuoted:
      quoted_scalar(t, false);
      return;
    case ScalarStyle::Literal:
    case ScalarStyle::Folded:
      if (e_.flow_depth > 0) {
        write_double_quoted(out_, t);
        return;
      }
      // At the root a block without a content line would take its
      // indentation from whatever follows it (a comment at column 0).
      if (!fits_block_scalar(t) ||
          (root && t.find_first_not_of('\n') == std::string::npos)) {
        quoted_scalar(t, false);
        return;
      }
      write_block_header(out_, t, style == ScalarStyle::Literal ? '|' : '>');
      {
        const bool keep = out_.back() == '+';
        inline_comment(n);
        if (style == ScalarStyle::Literal) write_literal_lines(out_, t, indent);
        else write_folded_block_lines(out_, t, indent);
        if (keep) e_.keep_end = out_.size();
        // Without a content line, the first line indented past the parent
        // would set its indentation.
        const bool lines = t.find_first_not_of('\n') != std::string::npos;
        block_ends(lines ? indent : static_cast<std::size_t>(std::max(parent, 0L)) + 1);
      }
      return;
  }
}

void NodeWriter::plain(const YamlNode& n, std::string_view t, bool root) {
  if (t.empty()) {
    // Nothing at all is an empty entry only after ":" or "-" in block
    // context; elsewhere an untagged empty scalar is spelled as the null it
    // reads as.
    if (!n.tag() && (e_.flow_depth > 0 || e_.no_fold || root)) out_ += "null";
    return;
  }
  bool quote = !(e_.synthetic_plain_checked && n.synthetic) && !plain_here(t);
  if (!quote && e_.width != 0 && !e_.no_fold &&
      current_column(out_) + t.size() > e_.width && has_fold_point(t))
    quote = true;  // quoted so that it can fold
  if (quote) quoted(t);
  else out_ += t;
}

bool NodeWriter::plain_lines_kept(const YamlNode& n, long parent) {
  // (Keys are written on one line; in a flow collection the lines would
  // have to be indented past its block.)
  if (!copying() || n.end_line == n.span.line || e_.flow_depth > 0 || e_.no_fold || !read_here(n)) return false;
  const SourceLines& src = *e_.source;
  // Each line after the first must stay indented past the block that
  // holds the scalar, or it would end it.
  for (std::size_t line = src.next_line(n.span.offset); line < n.end_offset; line = src.next_line(line))
    if (!src.is_blank_or_comment(line) && static_cast<long>(src.indentation(line)) <= parent) return false;
  const std::string_view lines = src.slice(n.span.offset, n.end_offset);
  if (!plain_lines_fold_to(lines, n.text())) return false;
  append_kept(lines, src.line_break(n.end_offset));
  return true;
}

// The chomping indicator of a kept block-scalar text ('+', '-' or 0 for
// clip).
char NodeWriter::raw_chomping(std::string_view raw) noexcept {
  for (std::size_t i = 1; i < raw.size(); ++i) {
    if (raw[i] == '+' || raw[i] == '-') return raw[i];
    if (raw[i] < '1' || raw[i] > '9') break;
  }
  return 0;
}

// A kept text that ends without a line break (the scalar stood at the very
// end of its input) reads the same when a line break follows it only with
// "-" chomping, or with clip chomping when the text ends in a line break
// anyway.  Otherwise it may only end the whole output.
bool NodeWriter::raw_is_open(const YamlNode& n) noexcept {
  const std::string& raw = *n.comments.raw();
  const char last = raw.back();
  if (last == '\n' || last == '\r') return false;
  const char chomp = raw_chomping(raw);
  if (chomp == '-') return false;
  return !(chomp == 0 && !n.text().empty() && n.text().back() == '\n');
}

// The column from which the lines of a kept block-scalar text are its
// content, as read, with its indentation indicator (0 when it has none);
// nothing when the text is not a kept block of the node's style or has no
// content line.
std::optional<NodeWriter::KeptIndent> NodeWriter::kept_indent(const YamlNode& n) noexcept {
  std::string_view raw = *n.comments.raw();
  const ScalarStyle style = n.scalar_style();
  if (raw.empty()) return std::nullopt;
  if (!((style == ScalarStyle::Literal && raw[0] == '|') || (style == ScalarStyle::Folded && raw[0] == '>')))
    return std::nullopt;
  long m = 0;
  std::size_t i = 1;
  while (i < raw.size() && (raw[i] == '+' || raw[i] == '-' || (raw[i] >= '1' && raw[i] <= '9'))) {
    if (raw[i] != '+' && raw[i] != '-') m = raw[i] - '0';
    ++i;
  }
  std::size_t eol = raw.find_first_of("\r\n", i);
  if (eol == std::string_view::npos) return std::nullopt;
  const long lead = first_content_indent(raw.substr(eol));
  if (lead < 0) return std::nullopt;
  if (m == 0) return KeptIndent{lead, 0};
  const long text_lead = first_content_indent(n.text());
  if (text_lead < 0) return std::nullopt;
  return KeptIndent{lead - text_lead, m};
}

// The kept source text of an unedited block scalar reads back as the same
// text here when it is in block context and its body is indented past the
// enclosing structure (with an explicit indentation indicator: exactly as
// far past it as where it was read): then its indentation, else nothing.
std::optional<NodeWriter::KeptIndent> NodeWriter::raw_fits(const YamlNode& n, long parent) const noexcept {
  if (e_.flow_depth > 0) return std::nullopt;
  if (e_.strict_raw && raw_is_open(n)) return std::nullopt;
  const std::optional<KeptIndent> kept = kept_indent(n);
  if (!kept) return std::nullopt;
  const bool fits = kept->indicator == 0 ? kept->column > parent : kept->column - kept->indicator == parent;
  return fits ? kept : std::nullopt;
}

// Copies the kept text (indented as `kept`) from `from` on: all of it, or
// its body after the header line.
void NodeWriter::copy_raw(const YamlNode& n, std::size_t from, KeptIndent kept) {
  const std::string& raw = *n.comments.raw();
  append_kept(std::string_view(raw).substr(from), std::nullopt);
  // A comment on the header line travels with the text.
  const std::size_t eol = raw.find_first_of("\r\n");
  if (from == 0 && n.comments.inline_comment() &&
      std::string_view(raw).substr(0, eol).find('#') != std::string_view::npos)
    e_.last_inline = &n;
  const char last = raw.back();
  if (last != '\n' && last != '\r') {
    e_.final_break = out_.size();
    if (raw_is_open(n)) {
      ++e_.open_raw_copies;
      e_.open_raw_at = out_.size();
    }
  }
  if (raw_chomping(raw) == '+') e_.keep_end = out_.size();
  block_ends(static_cast<std::size_t>(kept.column));
}

}  // namespace kestrine
