#include "roundtrip/emit/source_copy.hpp"

#include <algorithm>
#include <cstring>

#include "roundtrip/comments/comments.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {
constexpr std::string_view kBom = "\xEF\xBB\xBF";
}  // namespace

SourceLines::SourceLines(std::string_view text, std::size_t base, std::uint32_t file_id) noexcept
    : SourceLines(text, base, file_id, text_facts(text)) {}

SourceLines::SourceLines(std::string_view text, std::size_t base, std::uint32_t file_id, TextFacts facts) noexcept
    : text_(text),
      base_(base),
      begin_(base),
      file_id_(file_id),
      has_cr_(facts.has_cr),
      inner_bom_(facts.inner_bom) {
  // Line 0 starts past a byte-order mark; the writer puts the mark back.
  if (text.starts_with(kBom)) begin_ += 3;
}

LineBreak first_line_break(std::string_view text) noexcept {
  const std::size_t at = text.find_first_of("\r\n");
  if (at == std::string_view::npos || text[at] == '\n') return LineBreak::Lf;
  return at + 1 < text.size() && text[at + 1] == '\n' ? LineBreak::CrLf : LineBreak::Cr;
}

bool ends_in_document_prefix(std::string_view text) noexcept {
  std::size_t end = text.size();
  for (bool current = true;; current = false) {
    std::size_t start = end;
    while (start > 0 && text[start - 1] != '\n' && text[start - 1] != '\r') --start;
    std::string_view line = text.substr(start, end - start);
    while (line.starts_with(kBom)) line.remove_prefix(kBom.size());
    if (current) {
      if (!line.empty()) return false;
    } else {
      if (line.starts_with("...") && (line.size() == 3 || line[3] == ' ' || line[3] == '\t')) return true;
      const std::size_t content = line.find_first_not_of(" \t");
      if (content != std::string_view::npos && line[content] != '#') return false;
    }
    if (start == 0) return true;
    end = start - 1;
    if (text[end] == '\n' && end > 0 && text[end - 1] == '\r') --end;
  }
}

// ---- lines ---------------------------------------------------------------------------

std::size_t SourceLines::line_start(std::size_t at) const noexcept {
  if (!has_cr_) {
    const std::string_view before = text_.substr(begin_ - base_, at - begin_);
    const std::size_t lf = before.rfind('\n');
    return lf == std::string_view::npos ? begin_ : begin_ + lf + 1;
  }
  while (at > begin_ && !is_break(at - 1)) --at;
  return at;
}

std::size_t SourceLines::next_line(std::size_t at) const noexcept {
  const std::size_t stop = end();
  if (!has_cr_) {
    // Most texts break lines with LF alone: one memchr per line.
    if (at >= stop) return stop;
    const void* lf = std::memchr(text_.data() + (at - base_), '\n', stop - at);
    return lf == nullptr ? stop : static_cast<std::size_t>(static_cast<const char*>(lf) - text_.data()) + base_ + 1;
  }
  for (; at < stop; ++at) {
    const char c = this->at(at);
    if (c == '\n') return at + 1;
    if (c == '\r') return at + 1 < stop && this->at(at + 1) == '\n' ? at + 2 : at + 1;
  }
  return stop;
}

std::optional<LineBreak> SourceLines::line_break(std::size_t at) const noexcept {
  const std::size_t next = next_line(at);
  if (next <= begin_ || next <= at) return std::nullopt;
  if (this->at(next - 1) == '\r') return LineBreak::Cr;
  if (this->at(next - 1) != '\n') return std::nullopt;
  return next - 1 > begin_ && this->at(next - 2) == '\r' ? LineBreak::CrLf : LineBreak::Lf;
}

std::size_t SourceLines::previous_line(std::size_t line) const noexcept {
  std::size_t e = line - 1;  // the break that ends the line before
  if (at(e) == '\n' && e > begin_ && at(e - 1) == '\r') --e;
  return line_start(e);
}

bool SourceLines::is_blank_or_comment(std::size_t line) const noexcept {
  std::size_t i = line;
  while (i < end() && (at(i) == ' ' || at(i) == '\t')) ++i;
  return i == end() || is_break(i) || at(i) == '#';
}

std::size_t SourceLines::past_blank_lines(std::size_t line, std::size_t to) const noexcept {
  while (line < to) {
    std::size_t i = line;
    while (i < to && (at(i) == ' ' || at(i) == '\t')) ++i;
    if (i == to || !is_break(i)) break;
    line = next_line(i);
  }
  return std::min(line, to);
}

bool SourceLines::in_prefix(std::size_t line) const noexcept {
  for (std::size_t before = line; before > begin_;) {
    before = previous_line(before);
    if (is_document_marker(before, false) && at(before) == '.') return true;
    std::size_t i = before;
    while (end() - i >= 3 && slice(i, i + 3) == kBom) i += 3;
    if (!is_blank_or_comment(i)) return false;
  }
  return true;
}

std::size_t SourceLines::past_prefix_bom(std::size_t line) const noexcept {
  if (end() - line < 3 || slice(line, line + 3) != kBom) return line;
  // The reader passes over byte-order marks that open a line of a
  // document's prefix (only blank and comment lines since the start or a
  // "..." line): what follows stands at column 0.  Elsewhere they are
  // content.
  if (!in_prefix(line)) return line;
  while (end() - line >= 3 && slice(line, line + 3) == kBom) line += 3;
  return line;
}

std::optional<std::string> SourceLines::without_prefix_boms(std::size_t from, std::size_t to) const {
  if (!inner_bom_ || from >= to || (from > begin_ && !is_break(from - 1)) || !in_prefix(from)) return std::nullopt;
  std::optional<std::string> out;
  std::size_t copied = from;
  for (std::size_t line = from; line < to;) {
    if (is_document_marker(line, false) && at(line) == '.') break;
    const std::size_t past = std::min(past_prefix_bom(line), to);
    if (past != line) {
      if (!out) out.emplace();
      out->append(slice(copied, line));
      copied = past;
    }
    if (!is_blank_or_comment(past)) break;
    line = next_line(past);
  }
  if (out) out->append(slice(copied, to));
  return out;
}

std::size_t SourceLines::boundary(std::size_t from, std::size_t column, bool item) const noexcept {
  for (std::size_t line = from; line < end(); line = next_line(line)) {
    if (is_blank_or_comment(line)) continue;
    const std::size_t indent = indentation(line);
    if (indent > column) continue;
    // One at the same column that starts with "-" belongs to a pair's
    // sequence written at the key's own indentation.
    if (indent == column && !item && is_dash_at(column_offset(line, indent))) continue;
    return line;
  }
  return end();
}

std::optional<std::size_t> SourceLines::entry_line(std::size_t from, std::size_t column,
                                                   char indicator) const noexcept {
  const std::size_t line = boundary(from, column, indicator != 0);
  if (line == end() || indentation(line) != column ||
      (indicator != 0 && !is_indicator_at(column_offset(line, column), indicator)))
    return std::nullopt;
  return line;
}

std::size_t SourceLines::leading_start(std::size_t line, std::size_t floor) const noexcept {
  while (line > begin_ && line > floor) {
    const std::size_t before = previous_line(line);
    if (before < floor || !is_blank_or_comment(before)) break;
    line = before;
  }
  return line;
}

std::size_t SourceLines::comment_lines(std::size_t from, std::size_t to) const noexcept {
  std::size_t n = 0;
  for (std::size_t line = from; line < to; line = next_line(line)) {
    std::size_t i = line;
    while (i < end() && (at(i) == ' ' || at(i) == '\t')) ++i;
    n += i < end() && at(i) == '#';
  }
  return n;
}

std::size_t SourceLines::line_count(std::size_t from, std::size_t to) const noexcept {
  std::size_t n = 0;
  for (std::size_t line = from; line < to; line = next_line(line)) ++n;
  return n;
}

bool SourceLines::ends_after(std::size_t at, char indicator) const noexcept {
  const auto blanks = [&](std::size_t i) {
    while (i < end() && (this->at(i) == ' ' || this->at(i) == '\t')) ++i;
    return i;
  };
  at = blanks(at);
  if (at >= end() || this->at(at) != indicator) return false;
  at = blanks(at + 1);
  return at == end() || is_break(at);
}

bool SourceLines::is_indicator_at(std::size_t offset, char indicator) const noexcept {
  if (offset >= end() || at(offset) != indicator) return false;
  if (offset + 1 == end()) return true;
  const char next = at(offset + 1);
  return next == ' ' || next == '\t' || next == '\n' || next == '\r';
}

// ---- entries ---------------------------------------------------------------------------

std::optional<std::size_t> SourceLines::flow_end(const YamlNode& node) const {
  return flow_collection_end(node, text_, base_);
}

std::optional<std::size_t> SourceLines::content_end(const YamlNode& node, bool at_least) const {
  // A directive stands on its own line; what replaced it came from
  // elsewhere (another file's positions say nothing of this one).
  if (node.source() != nullptr) return holds(node) ? node.span.offset + 1 : 0;
  if (node.is_null()) return 0;
  if (!holds(node)) return at_least ? std::optional<std::size_t>(0) : std::nullopt;
  switch (node.kind()) {
    case NodeKind::Scalar:
      if (const OptText& raw = node.comments.raw()) return node.span.offset + raw->size();
      return std::max(node.end_offset, node.span.offset);
    case NodeKind::Alias: return node.span.offset + 1 + node.alias_name().size();
    case NodeKind::Sequence:
    case NodeKind::Mapping: break;
    case NodeKind::Null: return 0;
  }
  if (node.style == CollectionStyle::Flow) {
    const std::optional<std::size_t> close = flow_end(node);
    return close || !at_least ? close : std::optional<std::size_t>(node.span.offset);
  }
  if (node.size() == 0) return node.span.offset;
  if (at_least) return last_read_end(node);
  return stack_guarded([&]() -> std::optional<std::size_t> {
    if (node.is_sequence()) {
      // An empty item read stands at its dash, which ends the content: the
      // line of the entry before it is not its end.
      const YamlNode& last = node.items().back();
      if (last.is_null() && last.has_no_properties() && read_here(last)) return last.span.offset + 1;
      return content_end(last, at_least);
    }
    const NodePair& last = node.pairs().back();
    const std::optional<std::size_t> key = content_end(last.key, at_least);
    const std::optional<std::size_t> value = content_end(last.value, at_least);
    if (!key || !value) return std::nullopt;
    return std::max(*key, *value);
  });
}

std::optional<std::size_t> SourceLines::last_read_end(const YamlNode& collection) const {
  return stack_guarded([&] { return last_read_end_inner(collection); });
}

std::optional<std::size_t> SourceLines::last_read_end_inner(const YamlNode& collection) const {
  // Entries added after those read end nowhere in the text: the last one
  // read ends the content (a kept block scalar's blank lines included).
  for (std::size_t i = collection.size(); i-- > 0;) {
    std::optional<std::size_t> end;
    bool added;
    if (collection.is_sequence()) {
      const YamlNode& item = collection.items()[i];
      added = item.comments.modified;
      end = content_end(item, true);
    } else {
      const NodePair& pair = collection.pairs()[i];
      added = pair.key.comments.modified;
      const std::optional<std::size_t> key = content_end(pair.key, true);
      const std::optional<std::size_t> value = content_end(pair.value, true);
      if (key && value) end = std::max(*key, *value);
    }
    if (!added || !end || *end > 0) return end;
  }
  return collection.span.offset;
}

std::optional<std::size_t> SourceLines::entry_end(std::size_t first, std::size_t column, bool item,
                                                  std::size_t content) const {
  std::size_t lower = next_line(first);
  if (content > first) lower = std::max(lower, next_line(content - 1));
  // The next line indented no deeper ends the entry.
  const std::size_t stop = boundary(next_line(first), column, item);
  if (stop < lower) return std::nullopt;
  std::size_t last = stop;
  while (last > lower) {
    const std::size_t before = previous_line(last);
    if (before < lower || !is_blank_or_comment(before)) break;
    last = before;
  }
  return last;
}

std::optional<std::size_t> SourceLines::pair_first(const NodePair& pair, std::size_t column, bool mid_line) const {
  const YamlNode& key = pair.key;
  if (!holds(key)) return std::nullopt;
  // A "?" entry starts at its "?".
  if (key.explicit_key) [[unlikely]]
    return key.is_null() ? std::nullopt : indicator_first(key.span.offset, '?', column, mid_line, false);
  // The key must stand where its node says: a text read from here.
  const std::size_t o = key.span.offset;
  if (key.is_alias()) {
    if (at(o) != '*') return std::nullopt;
  } else if (!key.is_scalar()) {
    return std::nullopt;
  } else {
    switch (key.scalar_style()) {
      case ScalarStyle::Plain:
        if (key.text().empty() || end() - o < key.text().size() || slice(o, o + key.text().size()) != key.text())
          return std::nullopt;
        break;
      case ScalarStyle::SingleQuoted:
        if (at(o) != '\'') return std::nullopt;
        break;
      case ScalarStyle::DoubleQuoted:
        if (at(o) != '"') return std::nullopt;
        break;
      default: return std::nullopt;
    }
  }
  if (mid_line) return key.has_no_properties() ? std::optional<std::size_t>(o) : std::nullopt;
  const std::size_t line = line_start(o);
  const std::size_t indent = indentation(line);
  if (indent != column) return std::nullopt;
  if (key.has_no_properties() && line + indent != o && column_offset(line, indent) != o) return std::nullopt;
  return line;
}

std::optional<std::size_t> SourceLines::item_first(const YamlNode& item, std::size_t column, bool mid_line) const {
  // An empty item with a tag or an anchor is placed where what follows it
  // starts: its own place is not known.
  if (!holds(item) || (item.is_null() && !item.has_no_properties())) return std::nullopt;
  return indicator_first(item.span.offset, '-', column, mid_line, item.is_null());
}

std::optional<std::size_t> SourceLines::indicator_first(std::size_t at, char indicator, std::size_t column,
                                                        bool mid_line, bool empty) const noexcept {
  // The indicator is on the line of `at`, or on a line above it (what it
  // introduces then starts below it, after comments or its properties).
  std::size_t line = line_start(at);
  for (int hops = 0; hops < 64; ++hops) {
    const std::size_t mark = column_offset(line, column);
    std::size_t reach = past_bom(line);
    while (reach < mark && reach < end() && !is_break(reach)) ++reach;
    if (reach == mark && is_indicator_at(reach, indicator) && (reach < at || (empty && reach == at))) {
      if (mid_line) return reach;
      return indentation(line) == column ? std::optional<std::size_t>(line) : std::nullopt;
    }
    if (!is_blank_or_comment(line) && indentation(line) <= column) return std::nullopt;
    if (line <= begin_) return std::nullopt;
    line = previous_line(line);
  }
  return std::nullopt;
}

std::size_t SourceLines::own_lead(std::size_t first, std::size_t head_lines, bool blank_before,
                                  std::size_t floor) const {
  if ((head_lines == 0 && !blank_before) || first != line_start(first)) return first;
  const std::size_t lead = leading_start(first, floor);
  return comment_lines(lead, first) == head_lines ? lead : first;
}

std::size_t SourceLines::blank_lines_above(std::size_t first, std::size_t floor) const {
  std::size_t lead = first;
  while (lead > floor && lead > begin_) {
    const std::size_t before = previous_line(lead);
    if (before < floor || past_blank_lines(before, lead) != lead) break;
    lead = before;
  }
  return lead;
}

std::size_t SourceLines::blank_lead(std::size_t first, std::size_t floor) const {
  if (first <= floor || first <= begin_ || !is_break(first - 1)) return first;
  // Most entries follow a line of content: the character before its line
  // break is no blank.
  std::size_t e = first - 1;
  if (at(e) == '\n' && e > begin_ && at(e - 1) == '\r') --e;
  if (e > begin_ && at(e - 1) != ' ' && at(e - 1) != '\t' && !is_break(e - 1)) return first;
  const std::size_t lead = blank_lines_above(first, floor);
  return lead != first && lead > begin_ && comment_text(previous_line(lead)) ? lead : first;
}

// ---- documents ---------------------------------------------------------------------------

bool SourceLines::is_document_marker(std::size_t line, bool directives) const noexcept {
  if (line >= end()) return false;
  if (at(line) == '%') return directives;
  if (end() - line < 3) return false;
  const std::string_view head = slice(line, line + 3);
  if (head != "---" && head != "...") return false;
  if (line + 3 == end()) return true;
  const char next = at(line + 3);
  return next == ' ' || next == '\t' || next == '\n' || next == '\r';
}

std::optional<std::size_t> SourceLines::document_end(const YamlNode& root, std::size_t limit,
                                                     bool directives) const {
  if (!holds(root)) return std::nullopt;
  // Edited parts of the root lie before its text's end, or nowhere in it.
  const std::optional<std::size_t> content = content_end(root, true);
  if (!content) return std::nullopt;
  const std::size_t first = line_start(root.span.offset);
  std::size_t lower = next_line(first);
  if (*content > first) lower = std::max(lower, next_line(*content - 1));
  // The lines of content removed from its end (the blank lines a block
  // scalar with "+" chomping kept among them) went with it: they do not
  // follow the document.  Its end as read bounds them; a comment line
  // before that end is no content (the next document's head, a foot).
  if (!root.synthetic && root.end_offset > first && root.end_offset <= limit) {
    const std::size_t bound = next_line(root.end_offset - 1);
    lower = std::max(lower, past_blank_lines(leading_start(bound, lower), bound));
  }
  if (limit < lower) return std::nullopt;
  // Back from where the next document's lines start, over what lies
  // between two documents: blank and comment lines, markers, directives.
  std::size_t last = limit;
  while (last > lower) {
    const std::size_t before = previous_line(last);
    if (before < lower || !(is_blank_or_comment(before) || is_document_marker(before, directives))) break;
    last = before;
  }
  return last;
}

std::size_t SourceLines::previous_document_marker(std::size_t line) const noexcept {
  for (;; line = previous_line(line)) {
    if (is_document_marker(line, false)) return line;
    if (line <= begin_) return begin_;
  }
}

std::optional<std::string_view> SourceLines::comment_text(std::size_t at) const noexcept {
  while (at < end() && (this->at(at) == ' ' || this->at(at) == '\t')) ++at;
  if (at == end() || this->at(at) != '#') return std::nullopt;
  // As the scanner keeps it: after "#" and one space, trailing blanks cut.
  std::size_t start = at + 1;
  if (start < end() && this->at(start) == ' ') ++start;
  std::size_t stop = start;
  while (stop < end() && !is_break(stop)) ++stop;
  while (stop > start && (this->at(stop - 1) == ' ' || this->at(stop - 1) == '\t')) --stop;
  return slice(start, stop);
}

std::optional<std::vector<std::string_view>> SourceLines::comment_texts(std::size_t from, std::size_t to,
                                                                        bool any_marker) const {
  std::vector<std::string_view> texts;
  for (std::size_t line = from; line < to; line = next_line(line)) {
    // A document end marker after the last document ends nothing else; a
    // comment after it on its line is one of the lines there.
    if (is_document_marker(line, false) && (any_marker || at(line) == '.')) {
      // (Content after a "---", a root's properties above all, is no line
      // of these.)
      if (const std::optional<std::string_view> text = comment_text(line + 3)) texts.push_back(*text);
      else if (!is_blank_or_comment(line + 3)) return std::nullopt;
      continue;
    }
    if (!is_blank_or_comment(line)) return std::nullopt;
    if (const std::optional<std::string_view> text = comment_text(line)) texts.push_back(*text);
  }
  return texts;
}

std::optional<std::size_t> SourceLines::closing_marker_lines(std::size_t from) const {
  std::size_t start = from;
  bool marker = false;
  for (std::size_t line = from; line < end(); line = next_line(line)) {
    const bool is_marker = is_document_marker(line, false) && at(line) == '.';
    if (!is_marker && !is_blank_or_comment(line)) return std::nullopt;
    if (comment_text(is_marker ? line + 3 : line)) {
      start = next_line(line);
      marker = false;
    } else {
      marker = marker || is_marker;
    }
  }
  return marker ? std::optional<std::size_t>(start) : std::nullopt;
}

std::optional<std::size_t> SourceLines::comment_run_end(std::size_t from,
                                                        std::span<const std::string_view> texts) const {
  const CommentRun run = comment_run(from, texts);
  return run.count == texts.size() ? std::optional(run.end) : std::nullopt;
}

SourceLines::CommentRun SourceLines::comment_run(std::size_t from, std::span<const std::string_view> texts) const {
  CommentRun run{0, from};
  for (const std::string_view text : texts) {
    const std::size_t line = past_blank_lines(run.end, end());
    if (line >= end() || comment_text(line) != text) break;
    run = {run.count + 1, next_line(line)};
  }
  return run;
}

// ---- edited nodes ----------------------------------------------------------------------

bool EditedNodes::add(const YamlNode& root) {
  bool edited;
  if (marked_) {
    visit_marked(root);
    edited = contains(root);
  } else {
    edited = visit(root);
    if (!edited) take_feet(root);
  }
  // The collections that end the document, where a document read keeps
  // its foot lines (not inside content that replaced a directive: those
  // are its own file's).
  for (const YamlNode* n = &root; n->is_collection() && n->size() > 0 && n->source() == nullptr;) {
    n = n->is_mapping() ? &n->pairs().back().value : &n->items().back();
    if (!contains(*n)) take_feet(*n);
  }
  return edited;
}

void EditedNodes::take_feet(const YamlNode& node) {
  if (node.comments.has_texts())
    for (const std::string& line : node.comments.foot()) feet_.push_back(line);
}

void EditedNodes::visit_marked(const YamlNode& node) {
  take_feet(node);
  if (!contains(node) || !node.is_collection()) return;
  stack_guarded([&] {
    for (const YamlNode& item : node.items())
      if (contains(item)) visit_marked(item);
    for (const NodePair& pair : node.pairs()) {
      if (contains(pair.key)) visit_marked(pair.key);
      if (contains(pair.value)) visit_marked(pair.value);
    }
  });
}

bool EditedNodes::visit(const YamlNode& node) {
  // A collection whose foot lines an edit moved carries only the mark of
  // an edit below (as the marked walk finds it): its feet are not the tail.
  bool edited = node.comments.modified || (node.comments.edited_below && node.source() == nullptr);
  // An included file's content answers for its own file.
  if (node.is_collection() && node.source() == nullptr) {
    stack_guarded([&] {
      // Leaves, most of a tree, are looked at here rather than in a call.
      const auto child = [&](const YamlNode& n) {
        if (n.is_collection()) return visit(n);
        if (!n.comments.modified) return false;
        edited_.insert(&n);
        take_feet(n);
        return true;
      };
      for (const YamlNode& item : node.items()) edited = child(item) || edited;
      for (const NodePair& pair : node.pairs()) {
        edited = child(pair.key) || edited;
        edited = child(pair.value) || edited;
      }
    });
  }
  if (edited) {
    edited_.insert(&node);
    take_feet(node);
  }
  return edited;
}

}  // namespace kestrine
