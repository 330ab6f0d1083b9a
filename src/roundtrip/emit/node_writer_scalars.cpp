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
  out_ += s.tag;
  if (const OptText& a = n.anchor()) {
    out_ += " &";
    out_ += *a;
  }
  if (s.target.empty()) return;
  out_.push_back(' ');
  if (plain_here(s.target)) out_ += s.target;
  else quoted(s.target);
}

void NodeWriter::scalar(const YamlNode& n, std::size_t indent, long parent, bool root) {
  const Comments& c = n.comments;
  const std::string& t = n.text();
  const ScalarStyle style = n.scalar_style();
  if (c.raw() && !c.modified && raw_fits(n, parent)) {
    copy_raw(n);
    return;
  }
  switch (style) {
    case ScalarStyle::Plain:
      plain(n, t, root);
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
        if (keep) keep_end_ = out_.size();
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

// The kept source text of an unedited block scalar reads back as the same
// text here when it is in block context and its body is indented past the
// enclosing structure (with an explicit indentation indicator: exactly as
// far past it as where it was read).
bool NodeWriter::raw_fits(const YamlNode& n, long parent) const noexcept {
  if (e_.flow_depth > 0) return false;
  std::string_view raw = *n.comments.raw();
  const ScalarStyle style = n.scalar_style();
  if (raw.empty()) return false;
  if (!((style == ScalarStyle::Literal && raw[0] == '|') ||
        (style == ScalarStyle::Folded && raw[0] == '>')))
    return false;
  if (e_.strict_raw && raw_is_open(n)) return false;
  long m = 0;
  std::size_t i = 1;
  while (i < raw.size() && (raw[i] == '+' || raw[i] == '-' || (raw[i] >= '1' && raw[i] <= '9'))) {
    if (raw[i] != '+' && raw[i] != '-') m = raw[i] - '0';
    ++i;
  }
  std::size_t eol = raw.find_first_of("\r\n", i);
  if (eol == std::string_view::npos) return false;
  const long lead = first_content_indent(raw.substr(eol));
  if (lead < 0) return false;
  if (m == 0) return lead > parent;
  const long text_lead = first_content_indent(n.text());
  if (text_lead < 0) return false;
  return lead - text_lead - m == parent;
}

void NodeWriter::copy_raw(const YamlNode& n) {
  const std::string& raw = *n.comments.raw();
  append_kept(raw, std::nullopt);
  // A comment on the header line travels with the text.
  const std::size_t eol = raw.find_first_of("\r\n");
  if (n.comments.inline_comment() && std::string_view(raw).substr(0, eol).find('#') != std::string_view::npos)
    e_.last_inline = &n;
  const char last = raw.back();
  if (last != '\n' && last != '\r') {
    e_.final_break = out_.size();
    if (raw_is_open(n)) {
      ++e_.open_raw_copies;
      e_.open_raw_at = out_.size();
    }
  }
  if (raw_chomping(raw) == '+') keep_end_ = out_.size();
}

}  // namespace kestrine
