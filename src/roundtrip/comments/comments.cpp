#include "roundtrip/comments/comments.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "roundtrip/tree/tree_ops.hpp"
#include "util/stack_guard.hpp"
#include "util/utf8.hpp"

namespace kestrine {

namespace {

using Pos = CommentPlacer::Pos;

// True when `line` holds only Unicode White_Space characters.
bool is_blank_line(std::string_view line) noexcept {
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c < 0x80) {
      if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') return false;
      ++i;
      continue;
    }
    // Decode one multi-byte character (the text is valid UTF-8).
    std::uint32_t cp;
    std::size_t len;
    if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(line[i + k]) & 0x3F);
    bool ws = cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
              cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
    if (!ws) return false;
    i += len;
  }
  return true;
}

// Line breaks in `s` as the scanner counts them: LF, CR LF and a lone CR.
std::uint32_t count_line_breaks(std::string_view s) noexcept {
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n') {
      ++n;
    } else if (s[i] == '\r') {
      ++n;
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    }
  }
  return n;
}

// Where a scalar ends.  A scalar read from text knows its source end (past
// closing quotes, escapes as written); measuring the value instead would
// misplace the end of every quoted or escaped scalar, and the spacing before
// a comment after it would grow on each save.  Nodes without a source extent
// (built from values) are measured by their text.
Pos scalar_end(const YamlNode& node) noexcept {
  if (node.end_offset > node.span.offset) return {node.end_line, node.end_column};
  const std::string& t = node.text();
  std::size_t last_lf = t.rfind('\n');
  if (last_lf == std::string::npos)
    return {node.span.line, node.span.column + static_cast<std::uint32_t>(utf8_char_count(t))};
  auto n = static_cast<std::uint32_t>(std::count(t.begin(), t.end(), '\n'));
  return {node.span.line + n, static_cast<std::uint32_t>(utf8_char_count(std::string_view(t).substr(last_lf + 1)))};
}

Pos node_end_rec(const YamlNode& node) {
  switch (node.kind()) {
    case NodeKind::Scalar:
      return scalar_end(node);
    case NodeKind::Sequence:
    case NodeKind::Mapping:
      return stack_guarded([&]() -> Pos {
        Pos best{node.span.line, node.span.column};
        bool any = false;
        auto take = [&](Pos p) {
          if (!any || p > best) best = p;
          any = true;
        };
        for (const YamlNode& it : node.items()) take(node_end_rec(it));
        for (const NodePair& p : node.pairs()) {
          take(node_end_rec(p.key));
          take(node_end_rec(p.value));
        }
        return best;
      });
    default:
      return {node.span.line, node.span.column};
  }
}

}  // namespace

CommentPlacer::CommentPlacer(std::span<const SourceComment> comments, std::string_view text,
                             const IntroducerSet& introducers)
    : comments_(comments), text_(text), introducers_(introducers) {}

CommentPlacer::Pos CommentPlacer::place(YamlNode& node, bool may_take_trailing, Introducer intro) {
  if (node.is_null()) return place_empty(node, may_take_trailing, intro);
  if (!node.is_collection()) {
    before(node, intro);
    return after(node, may_take_trailing, leaf_end(node));
  }
  return stack_guarded([&] {
    before(node, intro);
    // Entries of a flow collection take only a comment that follows them
    // directly; one after the closing bracket is the collection's.
    const bool outer_in_flow = std::exchange(in_flow_, node.style == CollectionStyle::Flow);
    Pos end{node.span.line, node.span.column};
    bool any = false;
    auto take = [&](Pos p) {
      if (!any || p > end) end = p;
      any = true;
    };
    if (node.is_sequence()) {
      const Introducer in_seq = in_sequence(node);
      for (YamlNode& item : node.items()) take(place(item, true, in_seq));
    } else {
      for (NodePair& p : node.pairs()) {
        Pos key_end = place(p.key, false, Introducer{});
        take(key_end);
        set_value_pad(p.key, key_end, p.value);
        take(place(p.value, true, value_introducer(node, p.key)));
      }
    }
    in_flow_ = outer_in_flow;
    return after(node, may_take_trailing, end);
  });
}

CommentPlacer::Pos CommentPlacer::place_empty(YamlNode& node, bool may_take_trailing, const Introducer& intro) {
  before(node, intro);
  if (may_take_trailing && next_ < comments_.size() && node.is_null() && node.has_no_properties()) {
    // The line of the indicator, when it introduced this node.
    std::optional<std::uint32_t> line;
    if (intro.kind == Introducer::Kind::AfterKey && node.span.offset == 0) {
      line = intro.line;
    } else if (intro.kind == Introducer::Kind::InSequence && node.span.column == intro.column) {
      line = node.span.line;
    }
    const SourceComment& c = comments_[next_];
    if (line && c.span.line == *line && c.span.column > intro.column) {
      Comments& cm = node.comments;
      cm.inline_comment_mut() = c.text;
      cm.inline_spaces = c.span.column - (intro.column + 1);
      note_spacing(cm, c);
      account(c.span.line);
      ++next_;
    }
  }
  return after(node, may_take_trailing, leaf_end(node));
}

CommentPlacer::Pos CommentPlacer::leaf_end_slow(const YamlNode& node) noexcept {
  if (node.is_scalar()) return scalar_end(node);
  // An empty node read with properties ends after them.
  if (node.is_null() && node.end_offset > node.span.offset) return {node.end_line, node.end_column};
  return {node.span.line, node.span.column};
}

void CommentPlacer::place_feet(std::span<YamlNode> roots) {
  if (roots.empty()) return;
  for (; next_ < comments_.size(); ++next_) {
    const SourceComment& c = comments_[next_];
    Comments& cm = find_attach_target(roots.back(), c.span.column).comments;
    cm.foot_mut().emplace_back(c.text);
    note_spacing(cm, c);
  }
}

void CommentPlacer::note_spacing(Comments& cm, const SourceComment& c) {
  const std::size_t after_hash = c.span.offset + 1;
  if (c.text.empty() || (after_hash < text_.size() && text_[after_hash] == ' ')) return;
  if (!cm.is_unspaced(c.text)) cm.unspaced_mut().emplace_back(c.text);
}

std::uint32_t CommentPlacer::blank_lines_before(std::uint32_t from, std::uint32_t to,
                                                std::size_t at) const noexcept {
  if (to <= from) return 0;
  const char* t = text_.data();
  std::size_t p = std::min(at, text_.size());
  // Back to the start of line `to`.
  while (p > 0 && t[p - 1] != '\n' && t[p - 1] != '\r') --p;
  std::uint32_t blanks = 0;
  for (std::uint32_t line = to; line > from && p > 0; --line) {
    // Over the break (LF, CR LF or CR) that ends the line before.
    std::size_t e = p - 1;
    if (t[e] == '\n' && e > 0 && t[e - 1] == '\r') --e;
    std::size_t s = e;
    while (s > 0 && t[s - 1] != '\n' && t[s - 1] != '\r') --s;
    blanks += is_blank_line(std::string_view(t + s, e - s)) ? 1 : 0;
    p = s;
  }
  return blanks;
}

void CommentPlacer::before_slow(YamlNode& node, const Introducer& intro) {
  Comments& cm = node.comments;
  const std::uint32_t node_line = node.span.line;

  // Blank lines before the node (or before its first head comment).
  std::uint32_t gap_end = node_line;
  std::size_t gap_end_offset = node.span.offset;
  if (next_ < comments_.size() && comments_[next_].span.line < gap_end) {
    gap_end = comments_[next_].span.line;
    gap_end_offset = comments_[next_].span.offset;
  }
  if (has_last_) {
    const std::uint32_t blanks = blank_lines_before(last_line_ + 1, gap_end, gap_end_offset);
    if (blanks != cm.blank_before) cm.blank_before = blanks;
  }

  // Comments on the lines before the node: an inline comment on the
  // introducer line, head comments otherwise.
  while (next_ < comments_.size() && comments_[next_].span.line < node_line) {
    const SourceComment& c = comments_[next_];
    bool candidate = false;
    if (intro.kind == Introducer::Kind::AfterKey) {
      candidate = c.span.line == intro.line && c.span.column >= intro.column + 1;
    } else if (intro.kind == Introducer::Kind::InSequence) {
      candidate = c.span.column >= intro.column + 1 &&
                  introducers_.contains(introducer_key(c.span.line, intro.column));
    }
    if (candidate && !cm.inline_comment()) {
      cm.inline_comment_mut() = c.text;
      cm.inline_before_value = true;
      // The node's properties may stand on that line before the comment:
      // the spacing is that of the blanks right before its "#", which is
      // where the writer puts it, after the indicator or the properties.
      const std::size_t hash = std::min(c.span.offset, text_.size());
      std::size_t from = hash;
      while (from > 0 && (text_[from - 1] == ' ' || text_[from - 1] == '\t')) --from;
      cm.inline_spaces = static_cast<std::uint32_t>(hash - from);
    } else {
      cm.head_mut().push_back(HeadComment{std::string(c.text), cm.inline_before_value, c.span.column});
    }
    note_spacing(cm, c);
    account(c.span.line);
    ++next_;
  }
  account(node_line);
}

CommentPlacer::Pos CommentPlacer::after_slow(YamlNode& node, bool may_take_trailing, Pos end) {
  Comments& cm = node.comments;
  const std::uint32_t node_line = node.span.line;

  // The last source line the node occupies.
  std::uint32_t end_line = end.first;
  if (cm.raw()) end_line = node_line + count_line_breaks(*cm.raw());
  account(end_line);

  // A comment after the node on its first line.
  if (may_take_trailing && next_ < comments_.size()) {
    const SourceComment& c = comments_[next_];
    if (const std::optional<std::uint32_t> spacing = trailing_spacing(node, c, end)) {
      if (cm.inline_comment() && cm.inline_before_value) {
        // The node already holds the comment of its introducer line; keep
        // it (and the lines below it) as ordinary head comments instead of
        // losing it.
        std::vector<HeadComment> head;
        head.reserve(cm.head().size() + 1);
        head.push_back(HeadComment{std::move(*cm.inline_comment_mut()), false});
        for (HeadComment& h : cm.head_mut()) head.push_back(HeadComment{std::move(h.text), false, h.column});
        cm.head_mut() = std::move(head);
        cm.inline_before_value = false;
        cm.inline_spaces = 0;
      }
      if (*spacing != 0) cm.inline_spaces = *spacing;
      cm.inline_comment_mut() = c.text;
      note_spacing(cm, c);
      ++next_;
    }
  }
  return end;
}

std::optional<std::uint32_t> CommentPlacer::trailing_spacing(const YamlNode& node, const SourceComment& c,
                                                             Pos end) const {
  if (is_flow_collection(node)) {
    if (const std::optional<std::size_t> close = flow_close_offset(node)) return direct_gap(*close, c);
  } else if (in_flow_) {
    if (c.span.line != node.span.line) return std::nullopt;
    // (An empty node read with properties ends after them.)
    if ((node.is_scalar() || node.is_null()) && node.end_offset > node.span.offset)
      return direct_gap(node.end_offset, c);
    if (node.is_alias()) return direct_gap(node.span.offset + 1 + node.alias_name().size(), c);
    return std::nullopt;
  }
  // A comment after a quoted or plain scalar that ends on a later line than
  // it starts is its own as well: the line it stands on is the scalar's, so
  // it is written (and copied) with the scalar, never above what follows.
  if (node.is_scalar() && c.span.line != node.span.line && node.end_offset > node.span.offset &&
      c.span.line == node.end_line && !node.comments.raw())
    return direct_gap(node.end_offset, c);
  if (c.span.line != node.span.line || c.span.column <= node.span.column) return std::nullopt;
  // An alias is recorded with no length: its text ends after "*" and the name.
  if (node.is_alias() && end == Pos{node.span.line, node.span.column})
    end.second += 1 + static_cast<std::uint32_t>(utf8_char_count(node.alias_name()));
  if (end.first == c.span.line && c.span.column > end.second) return c.span.column - end.second;
  return 0;  // on the node's line, but the node's end is not: no spacing known
}

std::optional<std::uint32_t> CommentPlacer::direct_gap(std::size_t from, const SourceComment& c) const noexcept {
  if (c.span.offset <= from || c.span.offset > text_.size()) return std::nullopt;
  for (std::size_t i = from; i < c.span.offset; ++i)
    if (text_[i] != ' ' && text_[i] != '\t' && text_[i] != ',') return std::nullopt;
  return static_cast<std::uint32_t>(c.span.offset - from);
}

namespace {

// The entry of a flow collection that ends last: the last item, or of the
// last pair the key or the value, whichever starts later (a value left
// empty may sit at the start of the text).  Null for an empty collection.
const YamlNode* last_entry(const YamlNode& collection) noexcept {
  if (collection.size() == 0) return nullptr;
  if (collection.is_sequence()) return &collection.items().back();
  const NodePair& p = collection.pairs().back();
  return p.value.span.offset >= p.key.span.offset ? &p.value : &p.key;
}

// Where an entry's own text ends (an alias is recorded with no length).
std::size_t entry_end(const YamlNode& n) noexcept {
  if (n.is_alias()) return n.span.offset + 1 + n.alias_name().size();
  return std::max(n.end_offset, n.span.offset);
}

}  // namespace

std::optional<std::size_t> CommentPlacer::flow_close_offset(const YamlNode& node) const {
  return flow_collection_end(node, text_, 0);
}

std::optional<std::size_t> flow_collection_end(const YamlNode& node, std::string_view text, std::size_t base) {
  // The collections that close together: each one's last entry is the next.
  // Their brackets are the next ones after the innermost's last entry.
  std::size_t closing = 1;
  const YamlNode* n = &node;
  const YamlNode* last = last_entry(*n);
  while (last != nullptr && CommentPlacer::is_flow_collection(*last)) {
    n = last;
    last = last_entry(*n);
    ++closing;
  }
  std::size_t pos = last == nullptr ? n->span.offset + 1 : std::max(n->span.offset + 1, entry_end(*last));
  if (pos < base) return std::nullopt;
  pos -= base;
  // Past what may stand before each closing bracket: blanks, line breaks,
  // separators, indicators of an empty entry, comments.
  for (; closing > 0; --closing) {
    for (;;) {
      if (pos >= text.size()) return std::nullopt;
      const char ch = text[pos];
      if (ch == ']' || ch == '}') break;
      if (ch == '#') {
        while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r') ++pos;
      } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == ',' || ch == ':' || ch == '?') {
        ++pos;
      } else {
        return std::nullopt;
      }
    }
    ++pos;
  }
  return pos + base;
}

std::pair<std::uint32_t, std::uint32_t> node_end_position(const YamlNode& node) {
  return node_end_rec(node);
}

}  // namespace kestrine
