#include "roundtrip/node_writer.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "emit_util/scalar_text.hpp"
#include "encode/plain_check.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// Longest key written in the implicit form ("key: value"); readers refuse
// longer implicit keys.
constexpr std::size_t kMaxImplicitKey = 1024;

inline unsigned char byte_at(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

inline bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

inline bool is_flow_indicator(char c) noexcept {
  return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}

// Length of the multi-byte character at `i` when it is one that no plain,
// single-quoted or block scalar may carry raw: a C1 control (NEL included),
// U+2028, U+2029, U+FFFE or U+FFFF.  0 otherwise.
inline std::size_t escaped_multibyte(std::string_view s, std::size_t i) noexcept {
  const unsigned char b = byte_at(s, i);
  if (b == 0xC2 && i + 1 < s.size()) {
    const unsigned char c = byte_at(s, i + 1);
    if (c >= 0x80 && c <= 0x9F) return 2;
  } else if (b == 0xE2 && i + 2 < s.size()) {
    if (byte_at(s, i + 1) == 0x80 && (byte_at(s, i + 2) == 0xA8 || byte_at(s, i + 2) == 0xA9))
      return 3;
  } else if (b == 0xEF && i + 2 < s.size()) {
    if (byte_at(s, i + 1) == 0xBF && (byte_at(s, i + 2) == 0xBE || byte_at(s, i + 2) == 0xBF))
      return 3;
  }
  return 0;
}

inline bool starts_with_bom(std::string_view t) noexcept {
  return t.size() >= 3 && byte_at(t, 0) == 0xEF && byte_at(t, 1) == 0xBB && byte_at(t, 2) == 0xBF;
}

inline bool is_block_collection(const YamlNode& n) noexcept {
  return n.is_collection() && n.style == CollectionStyle::Block && n.size() > 0;
}

inline bool is_block_scalar_style(ScalarStyle s) noexcept {
  return s == ScalarStyle::Literal || s == ScalarStyle::Folded;
}

inline bool has_comments(const YamlNode& n) noexcept {
  return !n.comments.head().empty() || n.comments.inline_() || !n.comments.foot().empty();
}

inline bool has_properties(const YamlNode& n) noexcept {
  return !n.is_alias() && (n.tag() || n.anchor());
}

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

class Writer {
 public:
  explicit Writer(Emitter& e) : e_(e), out_(e.out) {}

  // `parent`: the indentation of the block structure that holds the node
  // (the key's or the "-"'s column); a kept block-scalar text must indent its
  // body past it.
  void node(const YamlNode& n, std::size_t indent, long parent) {
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

  void mapping_entries(std::span<const NodePair> pairs, std::size_t indent, bool compact_first) {
    stack_guarded([&] {
      bool after_empty = false;
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        const YamlNode& key = pairs[i].key;
        const YamlNode& value = pairs[i].value;
        if (!(compact_first && i == 0)) {
          newlines(key.comments.blank_before);
          for (const HeadComment& h : key.comments.head()) comment_line(h.text, indent);
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
        after_empty = mapping_value(value, indent);
      }
    });
  }

  void sequence_items(std::span<const YamlNode> items, std::size_t indent, bool compact_first) {
    stack_guarded([&] {
      for (std::size_t i = 0; i < items.size(); ++i) {
        const YamlNode& item = items[i];
        if (!(compact_first && i == 0)) {
          newlines(item.comments.blank_before);
          const bool split = item.comments.inline_before_value;
          for (const HeadComment& h : item.comments.head())
            if (!split || !h.below_introducer) comment_line(h.text, indent);
          spaces(indent);
        }
        sequence_item(item, indent);
      }
    });
  }

  // Heads, content and feet of a document root (directives and the start
  // marker are the document writer's).
  void root(const YamlNode& r) {
    for (const HeadComment& h : r.comments.head()) comment_line(h.text, 0);
    if (r.source() != nullptr) {
      source_directive(r);
      inline_comment(r);
      out_.push_back('\n');
    } else if (is_block_collection(r)) {
      if (has_properties(r)) {
        properties_text(r);
        inline_comment(r);
        out_.push_back('\n');
      } else if (r.comments.inline_()) {
        // No line of its own to carry it: keep it as a comment line.
        comment_line(*r.comments.inline_(), 0);
        e_.last_inline = &r;
      }
      const bool indented = r.tag() && r.synthetic;
      if (r.is_mapping()) {
        mapping_entries(r.pairs(), indented ? step() : 0, false);
      } else {
        const bool seq_indented = indented && !e_.indentless_sequences;
        sequence_items(r.items(), seq_indented ? step() : 0, false);
      }
    } else if (r.is_null() && !r.comments.inline_() && !r.anchor() && r.tag() && r.synthetic &&
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
    for (const std::string& f : r.comments.foot()) comment_line(f, 0);
  }

  void quoted(std::string_view text) {
    const bool single = e_.single_quotes && text.find('\'') == std::string_view::npos &&
                        is_printable_single_line(text);
    quoted_scalar(text, single);
  }

  void quoted_scalar(std::string_view text, bool single) {
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

 private:
  Emitter& e_;
  std::string& out_;
  bool at_root_ = false;
  // Where the last block scalar with "+" chomping ended.
  std::size_t keep_end_ = std::string::npos;

  std::size_t step() const noexcept { return e_.step(); }

  // ---- small pieces -------------------------------------------------------------

  void spaces(std::size_t n) { out_.append(n, ' '); }
  // Blank lines; none right after a block scalar with "+" chomping, whose
  // text would take them in.
  void newlines(std::size_t n) {
    if (n == 0 || out_.size() == keep_end_) return;
    out_.append(n, '\n');
  }

  // (A copied block text may end in a lone CR: that ends its line too.)
  void line_end() {
    if (out_.empty() || (out_.back() != '\n' && out_.back() != '\r')) out_.push_back('\n');
  }

  // "#", then one space and the text unless it is empty; one comment line
  // per line of the text.
  void comment_line(std::string_view text, std::size_t indent) {
    std::size_t pos = 0;
    for (;;) {
      std::size_t end = text.find_first_of("\r\n", pos);
      std::string_view line = text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
      spaces(indent);
      out_.push_back('#');
      if (!line.empty()) {
        out_.push_back(' ');
        out_ += line;
      }
      out_.push_back('\n');
      if (end == std::string_view::npos) break;
      pos = end + 1;
      if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
      if (pos >= text.size()) break;
    }
  }

  void foot_lines(const YamlNode& n, std::size_t indent) {
    for (const std::string& f : n.comments.foot()) comment_line(f, indent);
  }

  // Head comments that lie below the introducer line carrying the node's
  // inline comment.
  void below_introducer(const YamlNode& n, std::size_t indent) {
    if (!n.comments.inline_before_value) return;
    for (const HeadComment& h : n.comments.head())
      if (h.below_introducer) comment_line(h.text, indent);
  }

  // `after_comma`: a flow separator was written after the node, inside the
  // spacing measured from the node's end.
  void inline_comment(const YamlNode& n, bool after_comma = false) {
    const Comments& c = n.comments;
    if (!c.inline_() || e_.last_inline == &n) return;
    // At the start of a line (after a kept block scalar) the comment takes
    // a line of its own rather than indentation that could read as content.
    if (!out_.empty() && out_.back() != '\n') {
      std::uint32_t pad = c.inline_spaces;
      if (after_comma && pad > 1) --pad;
      spaces(std::max<std::uint32_t>(pad, 1));
    }
    out_.push_back('#');
    const std::string& t = *c.inline_();
    if (!t.empty()) {
      out_.push_back(' ');
      // An inline comment stays on its line.
      const std::size_t start = out_.size();
      out_ += t;
      for (std::size_t i = start; i < out_.size(); ++i)
        if (out_[i] == '\n' || out_[i] == '\r') out_[i] = ' ';
    }
    e_.last_inline = &n;
  }

  void properties(const YamlNode& n) {
    if (n.is_alias()) return;
    if (const OptText& t = n.tag()) {
      out_ += *t;
      out_.push_back(' ');
    }
    if (const OptText& a = n.anchor()) {
      out_.push_back('&');
      out_ += *a;
      out_.push_back(' ');
    }
  }

  void trailing_properties(const YamlNode& n) {
    if (n.is_alias()) return;
    if (const OptText& t = n.tag()) {
      out_.push_back(' ');
      out_ += *t;
    }
    if (const OptText& a = n.anchor()) {
      out_ += " &";
      out_ += *a;
    }
  }

  // The tag, one space when both are present, "&" and the anchor.
  void properties_text(const YamlNode& n) {
    if (const OptText& t = n.tag()) out_ += *t;
    if (const OptText& a = n.anchor()) {
      if (n.tag()) out_.push_back(' ');
      out_.push_back('&');
      out_ += *a;
    }
  }

  void null_word(const YamlNode& n) {
    out_ += (e_.null_style == NullStyle::Tilde && n.synthetic) ? "~" : "null";
  }

  // May `text` be written plain right here?
  bool plain_here(std::string_view text) const noexcept {
    if (starts_with_bom(text)) return false;
    const bool flow = e_.flow_depth > 0;
    // In flow context readers may take a leading ":" or "?" for an
    // indicator (an empty key before the text).
    if (flow && (text[0] == ':' || text[0] == '?')) return false;
    if (flow && (text.find_first_of(",[]{}") != std::string_view::npos ||
                 text.find(": ") != std::string_view::npos || text.back() == ':'))
      return false;
    return plain_text_safe(text, flow);
  }

  // The include tag and its target in place of the included content.  An
  // anchor on the node was written on the directive: aliases elsewhere in
  // this file refer to it.
  void source_directive(const YamlNode& n) {
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

  // ---- scalars --------------------------------------------------------------------

  void scalar(const YamlNode& n, std::size_t indent, long parent, bool root) {
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

  void plain(const YamlNode& n, std::string_view t, bool root) {
    if (t.empty()) {
      // Nothing at all is an empty entry only after ":" or "-" in block
      // context; elsewhere an untagged empty scalar is spelled as the null it
      // reads as.
      if (!n.tag() && (e_.flow_depth > 0 || e_.no_fold || root)) out_ += "null";
      return;
    }
    bool quote = !plain_here(t);
    if (!quote && e_.width != 0 && !e_.no_fold &&
        current_column(out_) + t.size() > e_.width && has_fold_point(t))
      quote = true;  // quoted so that it can fold
    if (quote) quoted(t);
    else out_ += t;
  }

  // The kept source text of an unedited block scalar reads back as the same
  // text here when it is in block context and its body is indented past the
  // enclosing structure (with an explicit indentation indicator: exactly as
  // far past it as where it was read).
  // The chomping indicator of a kept block-scalar text ('+', '-' or 0 for
  // clip).
  static char raw_chomping(std::string_view raw) noexcept {
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
  static bool raw_is_open(const YamlNode& n) noexcept {
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
  bool raw_fits(const YamlNode& n, long parent) const noexcept {
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

  void copy_raw(const YamlNode& n) {
    const std::string& raw = *n.comments.raw();
    out_ += raw;
    // A comment on the header line travels with the text.
    const std::size_t eol = raw.find_first_of("\r\n");
    if (n.comments.inline_() && std::string_view(raw).substr(0, eol).find('#') != std::string_view::npos)
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

  // ---- flow collections ---------------------------------------------------------

  void flow_separator(std::size_t indent) {
    out_.push_back(',');
    if (e_.width != 0 && !e_.no_fold && current_column(out_) >= e_.width) {
      out_.push_back('\n');
      spaces(std::max<std::size_t>(indent, 1));
    } else {
      out_.push_back(' ');
    }
  }

  void flow_sequence(const YamlNode& n, std::size_t indent) {
    auto items = n.items();
    if (items.empty()) {
      out_ += "[]";
      return;
    }
    const bool multi = std::any_of(items.begin(), items.end(), has_comments);
    if (multi) {
      out_ += "[\n";
      ++e_.flow_depth;
      const std::size_t inner = indent + step();
      for (std::size_t i = 0; i < items.size(); ++i) {
        const YamlNode& item = items[i];
        for (const HeadComment& h : item.comments.head()) comment_line(h.text, inner);
        spaces(inner);
        properties(item);
        node(item, inner, static_cast<long>(inner));
        const bool comma = i + 1 < items.size();
        if (comma) out_.push_back(',');
        inline_comment(item, comma);
        out_.push_back('\n');
        foot_lines(item, inner);
      }
      --e_.flow_depth;
      spaces(indent);
      out_.push_back(']');
      return;
    }
    out_.push_back('[');
    ++e_.flow_depth;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) flow_separator(indent);
      properties(items[i]);
      node(items[i], indent, static_cast<long>(indent));
    }
    --e_.flow_depth;
    out_.push_back(']');
  }

  void flow_key(const YamlNode& key, std::size_t indent) {
    const std::size_t mark = out_.size();
    const YamlNode* last_inline = e_.last_inline;
    implicit_key(key, indent);
    if (key_too_long(key, mark)) {
      out_.resize(mark);
      e_.last_inline = last_inline;
      out_ += "? ";
      implicit_key(key, indent);
    }
  }

  void flow_mapping(const YamlNode& n, std::size_t indent) {
    auto pairs = n.pairs();
    if (pairs.empty()) {
      out_ += "{}";
      return;
    }
    const bool multi = std::any_of(pairs.begin(), pairs.end(), [](const NodePair& p) {
      return has_comments(p.key) || has_comments(p.value);
    });
    if (multi) {
      out_ += "{\n";
      ++e_.flow_depth;
      const std::size_t inner = indent + step();
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        const NodePair& p = pairs[i];
        for (const HeadComment& h : p.key.comments.head()) comment_line(h.text, inner);
        for (const HeadComment& h : p.value.comments.head()) comment_line(h.text, inner);
        spaces(inner);
        flow_key(p.key, inner);
        out_ += ": ";
        properties(p.value);
        node(p.value, inner, static_cast<long>(inner));
        const bool comma = i + 1 < pairs.size();
        if (comma) out_.push_back(',');
        inline_comment(p.value, comma);
        out_.push_back('\n');
        foot_lines(p.key, inner);
        foot_lines(p.value, inner);
      }
      --e_.flow_depth;
      spaces(indent);
      out_.push_back('}');
      return;
    }
    out_.push_back('{');
    ++e_.flow_depth;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      if (i > 0) flow_separator(indent);
      flow_key(pairs[i].key, indent);
      out_ += ": ";
      properties(pairs[i].value);
      node(pairs[i].value, indent, static_cast<long>(indent));
    }
    --e_.flow_depth;
    out_.push_back('}');
  }

  // ---- block mappings -------------------------------------------------------------

  static bool needs_explicit_key(const YamlNode& key, std::size_t index) noexcept {
    if (key.explicit_key && (key.is_scalar() || key.is_alias())) return true;
    if (key.is_scalar() && is_block_scalar_style(key.scalar_style())) return true;
    if (is_block_collection(key)) return true;
    return index > 0 && key.synthetic && (key.tag() || key.anchor());
  }

  // The key written since `mark` spans lines or passes the implicit-key
  // length limit.  (Scalar keys are always written on one line.)
  bool key_too_long(const YamlNode& key, std::size_t mark) const noexcept {
    const std::size_t n = out_.size() - mark;
    if (n > kMaxImplicitKey) return true;
    return key.is_collection() && std::memchr(out_.data() + mark, '\n', n) != nullptr;
  }

  void implicit_key(const YamlNode& key, std::size_t indent) {
    properties(key);
    const bool saved = std::exchange(e_.no_fold, true);
    node(key, indent, static_cast<long>(indent));
    e_.no_fold = saved;
    if (key.is_alias()) out_.push_back(' ');
  }

  // Gives true when the value was written as nothing.
  bool explicit_entry(const YamlNode& key, const YamlNode& value, std::size_t indent) {
    const std::size_t child = indent + step();
    out_.push_back('?');
    if (is_block_collection(key)) {
      trailing_properties(key);
      out_.push_back('\n');
      if (key.is_mapping()) mapping_entries(key.pairs(), child, false);
      else sequence_items(key.items(), child, false);
    } else {
      out_.push_back(' ');
      properties(key);
      const bool saved = std::exchange(e_.no_fold, true);
      node(key, child, static_cast<long>(indent));
      e_.no_fold = saved;
      line_end();
    }
    // A "?" entry without ":" has an empty value: the form it was read in.
    if (value.is_null() && !value.synthetic && !has_properties(value) && !has_comments(value) &&
        value.comments.blank_before == 0)
      return true;
    spaces(indent);
    out_.push_back(':');
    return mapping_value(value, indent);
  }

  // Gives true when the value was written as nothing after the ":".
  bool mapping_value(const YamlNode& v, std::size_t indent) {
    const std::size_t child = indent + step();
    const Comments& c = v.comments;
    if (v.source() != nullptr) {
      out_.push_back(' ');
      source_directive(v);
      inline_comment(v);
      out_.push_back('\n');
    } else if ((v.is_scalar() && v.scalar_style() == ScalarStyle::Plain && v.text().empty() &&
                !c.inline_()) ||
               (v.is_null() && !c.inline_() &&
                !(v.synthetic && e_.null_style != NullStyle::Default))) {
      trailing_properties(v);
      out_.push_back('\n');
      foot_lines(v, indent);
      return v.comments.foot().empty();
    } else if (is_block_collection(v)) {
      trailing_properties(v);
      inline_comment(v);
      out_.push_back('\n');
      newlines(c.blank_before);
      if (v.is_sequence()) {
        std::size_t seq;
        if (e_.dump_layout) seq = e_.indentless_sequences && !v.tag() ? indent : child;
        else seq = v.span.column <= indent ? indent : child;
        for (const HeadComment& h : c.head()) comment_line(h.text, seq);
        sequence_items(v.items(), seq, false);
        foot_lines(v, seq);
      } else {
        for (const HeadComment& h : c.head()) comment_line(h.text, child);
        mapping_entries(v.pairs(), child, false);
        foot_lines(v, child);
      }
      return false;
    } else if (c.inline_before_value || !c.head().empty()) {
      value_below(v, child, static_cast<long>(indent), true);
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

  // A value on the line below its indicator.  For mapping values every head
  // comment lies below the key line; for sequence items only those below the
  // "-" line that carries the inline comment.
  void value_below(const YamlNode& n, std::size_t indent, long parent, bool mapping_value) {
    const bool before = n.comments.inline_before_value;
    trailing_properties(n);
    if (before) inline_comment(n);
    out_.push_back('\n');
    if (mapping_value) {
      newlines(n.comments.blank_before);
      for (const HeadComment& h : n.comments.head()) comment_line(h.text, indent);
    } else {
      below_introducer(n, indent);
    }
    spaces(indent);
    node(n, indent, parent);
    if (!before) inline_comment(n);
    line_end();
  }

  // ---- block sequences ------------------------------------------------------------

  static bool plain_first_entry(const YamlNode& n) noexcept {
    const YamlNode* first = n.is_mapping() ? &n.pairs().front().key : &n.items().front();
    return first->comments.head().empty() && first->comments.blank_before == 0;
  }

  void sequence_item(const YamlNode& item, std::size_t indent) {
    const std::size_t child = indent + 2;
    const Comments& c = item.comments;
    out_.push_back('-');
    if (item.source() != nullptr) {
      out_.push_back(' ');
      source_directive(item);
      inline_comment(item);
      out_.push_back('\n');
    } else if (item.is_scalar() && item.scalar_style() == ScalarStyle::Plain &&
               item.text().empty() && !c.inline_()) {
      trailing_properties(item);
      out_.push_back('\n');
    } else if (item.is_null() && !c.inline_() &&
               !(item.synthetic && e_.null_style != NullStyle::Default)) {
      trailing_properties(item);
      out_.push_back('\n');
    } else if (is_block_collection(item) && item.is_sequence()) {
      if (has_properties(item) || !c.compact || c.inline_() || c.inline_before_value ||
          !plain_first_entry(item)) {
        trailing_properties(item);
        inline_comment(item);
        out_.push_back('\n');
        below_introducer(item, child);
        sequence_items(item.items(), child, false);
      } else {
        out_.push_back(' ');
        sequence_items(item.items(), child, true);
      }
      foot_lines(item, child);
      return;
    } else if (is_block_collection(item)) {
      if (has_properties(item)) {
        trailing_properties(item);
        inline_comment(item);
        out_.push_back('\n');
        below_introducer(item, indent + step());
        mapping_entries(item.pairs(), indent + step(), false);
      } else if (c.inline_() || c.inline_before_value || !plain_first_entry(item)) {
        inline_comment(item);
        out_.push_back('\n');
        below_introducer(item, child);
        mapping_entries(item.pairs(), child, false);
      } else {
        out_.push_back(' ');
        mapping_entries(item.pairs(), child, true);
      }
      foot_lines(item, child);
      return;
    } else if (c.inline_before_value) {
      value_below(item, child, static_cast<long>(indent), false);
    } else {
      spaces(std::max<std::uint32_t>(c.value_pad, 1));
      properties(item);
      node(item, child, static_cast<long>(indent));
      inline_comment(item);
      line_end();
    }
    foot_lines(item, indent);
  }
};

}  // namespace

// ---- text tests -------------------------------------------------------------------

namespace {

// Bytes a plain scalar's inside needs a closer look at: controls, DEL, "#",
// ":", lead bytes of the multi-byte characters it cannot carry (kInBlock);
// flow indicators (kInFlow).
enum : std::uint8_t { kInBlock = 1, kInFlow = 2 };
struct PlainBytes {
  std::uint8_t cls[256] = {};
  constexpr PlainBytes() {
    for (int c = 0; c < 0x20; ++c) cls[c] = c == '\t' ? 0 : kInBlock;
    cls[0x7F] = kInBlock;
    cls[static_cast<unsigned char>('#')] = kInBlock;
    cls[static_cast<unsigned char>(':')] = kInBlock;
    cls[0xC2] = cls[0xE2] = cls[0xEF] = kInBlock;
    for (unsigned char c : {',', '[', ']', '{', '}'}) cls[c] = kInFlow;
  }
};
constexpr PlainBytes kPlainBytes{};

}  // namespace

bool plain_text_safe(std::string_view text, bool in_flow) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return true;
  if (is_blank(text[0]) || is_blank(text[n - 1])) return false;
  if (starts_with_bom(text)) return false;
  switch (text[0]) {
    case '-':
    case '?':
    case ':':
      // An indicator unless a non-blank follows.
      if (n == 1 || is_blank(text[1]) || (in_flow && is_flow_indicator(text[1]))) return false;
      break;
    case ',': case '[': case ']': case '{': case '}': case '#': case '&': case '*':
    case '!': case '|': case '>': case '\'': case '"': case '%': case '@': case '`':
      return false;
    default:
      break;
  }
  // Document markers.
  if (n >= 3 && (text.starts_with("---") || text.starts_with("...")) && (n == 3 || is_blank(text[3])))
    return false;
  const std::uint8_t mask = in_flow ? (kInBlock | kInFlow) : kInBlock;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = byte_at(text, i);
    const std::uint8_t cls = kPlainBytes.cls[b] & mask;
    if (cls == 0) [[likely]] continue;
    if (cls == kInFlow) return false;
    if (b == '#') {
      if (i > 0 && is_blank(text[i - 1])) return false;
    } else if (b == ':') {
      if (i + 1 == n || is_blank(text[i + 1]) || (in_flow && is_flow_indicator(text[i + 1])))
        return false;
    } else if (b >= 0x80) {
      if (escaped_multibyte(text, i) != 0) return false;
    } else {
      return false;  // a control character or DEL
    }
  }
  return true;
}

bool fits_block_scalar(std::string_view text) noexcept {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = byte_at(text, i);
    if (b < 0x80) {
      if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) return false;
    } else if (escaped_multibyte(text, i) != 0) {
      return false;
    }
  }
  std::size_t feeds = 0;
  while (feeds < n && text[n - 1 - feeds] == '\n') ++feeds;
  const std::string_view body = text.substr(0, n - feeds);
  // The first non-empty line sets the block's indentation.
  std::size_t i = 0;
  while (i < body.size() && body[i] == '\n') ++i;
  if (i < body.size() && is_blank(body[i])) return false;
  // A last line of blanks would read as trailing space, not content.
  const std::size_t ls = body.rfind('\n');
  const std::string_view last = body.substr(ls == std::string_view::npos ? 0 : ls + 1);
  if (!last.empty() && last.find_first_not_of(" \t") == std::string_view::npos) return false;
  return true;
}

void write_folded_block_lines(std::string& out, std::string_view text, std::size_t indent) {
  std::size_t feeds = 0;
  while (feeds < text.size() && text[text.size() - 1 - feeds] == '\n') ++feeds;
  const std::string_view body = text.substr(0, text.size() - feeds);
  out.push_back('\n');
  // Between two lines that start with a non-blank, a single line break folds
  // into a space, so each break there is written as one more empty line.
  // Breaks next to more-indented lines are kept as they are.
  bool prev_folds = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = body.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? body.size() : lf;
    if (end > start) {
      const bool folds = !is_blank(body[start]);
      if (folds && prev_folds) out.push_back('\n');
      out.append(indent, ' ');
      out.append(body.data() + start, end - start);
      prev_folds = folds;
    }
    out.push_back('\n');
    if (lf == std::string_view::npos) break;
    start = end + 1;
  }
  if (feeds >= 2) out.append(feeds - 1, '\n');
}

// ---- public operations ------------------------------------------------------------

void emit_node(Emitter& e, const YamlNode& node, std::size_t indent) {
  Writer(e).node(node, indent, static_cast<long>(indent) - 1);
}

void emit_mapping_entries(Emitter& e, std::span<const NodePair> pairs, std::size_t indent) {
  Writer(e).mapping_entries(pairs, indent, false);
}

void emit_sequence_items(Emitter& e, std::span<const YamlNode> items, std::size_t indent) {
  Writer(e).sequence_items(items, indent, false);
}

void write_quoted(Emitter& e, std::string_view text) { Writer(e).quoted(text); }

void write_quoted_scalar(Emitter& e, std::string_view text, bool single) {
  Writer(e).quoted_scalar(text, single);
}

void emit_root_content(Emitter& e, const YamlNode& root) { Writer(e).root(root); }

}  // namespace kestrine
