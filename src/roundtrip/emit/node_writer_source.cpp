// The node writer's copies from the text read: entries of block collections
// that no edit reached are written as the lines they were read from, so an
// edit changes only the lines of what it changed.
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "roundtrip/emit/node_writer_impl.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// The head lines that stand above an item's dash (the others follow the
// comment on the dash line).
std::size_t heads_above_dash(const YamlNode& item) noexcept {
  if (!item.comments.inline_before_value) return item.comments.head().size();
  return static_cast<std::size_t>(std::count_if(item.comments.head().begin(), item.comments.head().end(),
                                                [](const HeadComment& h) { return !h.below_introducer; }));
}

}  // namespace

std::size_t NodeWriter::entries_column(const YamlNode& collection, std::size_t indent,
                                       std::size_t fallback) const noexcept {
  if (copying() && e_.source->holds(collection) && collection.span.column > indent) return collection.span.column;
  return fallback;
}

void NodeWriter::line_breaks_as(std::optional<LineBreak> ending) {
  std::vector<LineBreakMark>& marks = e_.line_breaks;
  if (marks.empty() || !ending || marks.back().ending == *ending) return;
  if (marks.back().at < out_.size()) {
    marks.push_back({out_.size(), *ending});
    return;
  }
  // Nothing was written since the last mark: it is replaced.
  marks.back().ending = *ending;
  if (marks.size() > 1 && marks[marks.size() - 2].ending == *ending) marks.pop_back();
}

std::optional<std::size_t> NodeWriter::pair_first(const NodePair& pair, std::size_t column, bool mid_line) {
  // Each entry's start is asked for again as the end of the one before.
  if (first_asked_.pair != &pair || first_asked_.column != column || first_asked_.mid_line != mid_line)
    first_asked_ = {&pair, column, mid_line, e_.source->pair_first(pair, column, mid_line)};
  return first_asked_.first;
}

bool NodeWriter::read_here(const YamlNode& n) const noexcept {
  return e_.source->read_here(n);
}

std::optional<std::size_t> NodeWriter::item_line(const YamlNode& sequence, std::size_t i, std::size_t indent,
                                                 bool mid_line, std::optional<std::size_t> previous) const {
  const SourceLines& src = *e_.source;
  const std::span<const YamlNode> items = sequence.items();
  if (read_here(items[i])) return src.item_first(items[i], indent, mid_line);
  if (mid_line || !read_here(sequence) || sequence.style != CollectionStyle::Block) return std::nullopt;
  // An item not read where it stands (one that replaced the item read
  // there, a directive whose content came from another file) stands at
  // the dash of the item it took the place of: the next one after the item
  // before it, or the sequence's first.
  if (i == 0) return src.entry_line(src.line_start(sequence.span.offset), indent, '-');
  const YamlNode& before = items[i - 1];
  if (read_here(before)) {
    const std::optional<std::size_t> end = before.is_null() ? before.span.offset + 1 : src.content_end(before);
    if (end && *end > 0) return src.entry_line(src.next_line(*end - 1), indent, '-');
  }
  if (!previous) return std::nullopt;
  return src.entry_line(src.next_line(*previous), indent, '-');
}

void NodeWriter::append_kept(std::string_view text, std::optional<LineBreak> after) {
  if (e_.line_breaks.empty() || text.empty()) {
    out_ += text;
    return;
  }
  const LineBreak written = e_.line_breaks.back().ending;
  line_breaks_as(LineBreak::Kept);
  out_ += text;
  line_breaks_as(after.value_or(written));
}

void NodeWriter::copy(std::size_t from, std::size_t to) {
  // Lines copied right after a block scalar they were not read after (the
  // head of an entry a deletion brought up, the end of the text) would read
  // as its content: blank lines after a "+" block are left out, comment
  // lines indented into its body move left of it.  (Text that continues the
  // entry copied last, as read, stays as read.)
  if (out_.size() == e_.copied_entry.at && from != e_.copied_entry.end && from < to &&
      e_.source->is_blank_or_comment(from))
    settle_block_end();
  if (out_.size() == e_.keep_end) from = e_.source->past_blank_lines(from, to);
  if (out_.size() == e_.block_end) from = copy_lines_below_block(from, to);
  std::string_view text = e_.source->slice(from, to);
  // A byte-order mark the reader passed over at the start of a line stays
  // out where what was written before (a root's anchor or tag line) makes
  // it content: it would become part of a key.
  std::optional<std::string> unmarked;
  if (e_.source->has_inner_bom() && !ends_in_document_prefix(out_)) [[unlikely]] {
    unmarked = e_.source->without_prefix_boms(from, to);
    if (unmarked) text = *unmarked;
  }
  // (A line feed right after a copied CR would join it into one line break.)
  if (!text.empty() && text.front() == '\n' && !out_.empty() && out_.back() == '\r') text.remove_prefix(1);
  // What is written next continues the last line copied, or follows it.
  if (e_.line_breaks.empty()) out_ += text;
  else append_kept(text, text.empty() ? std::nullopt : e_.source->line_break(to - 1));
  floor_ = to;
  copied_at_ = out_.size();
  e_.last_inline = nullptr;
  if (!text.empty()) e_.keep_end = std::string::npos;
  if (to == e_.source->end() && !text.empty() && text.back() != '\n' && text.back() != '\r') {
    // The text read ended here without a line break: right only at the end
    // of the output (see Emitter::open_raw_copies).
    e_.final_break = out_.size();
    ++e_.open_raw_copies;
    e_.open_raw_at = out_.size();
    out_.push_back('\n');
  }
  if (!text.empty()) e_.copied_end = out_.size();
}

// The foot lines inside a copied entry (its text stops before them): those
// of the block collections that end it (with `below`; else of `n` alone),
// innermost first, as the writer places them; copied as read (blank lines
// between them too) where the lines that follow the text copied last are
// exactly those.  A text read holds them only where the collections end the
// document, or where a deletion left the lines of a block in place, but an
// entry added after such a collection leaves them inside.  Content that
// replaced a directive keeps its feet in its own file.
void NodeWriter::copied_feet(const YamlNode& n, bool below, std::size_t key_column) {
  if (e_.feet_copied) return;
  const auto next = [&](const YamlNode* c) -> const YamlNode* {
    if (!below || !is_block_collection(*c) || c->source() != nullptr) return nullptr;
    return c->is_mapping() ? &c->pairs().back().value : &c->items().back();
  };
  bool any = false;
  for (const YamlNode* c = &n; c != nullptr && !any; c = next(c))
    any = is_block_collection(*c) && c->source() == nullptr && !c->comments.foot().empty();
  if (!any) return;
  std::vector<const YamlNode*> chain;
  for (const YamlNode* c = &n; c != nullptr && is_block_collection(*c) && c->source() == nullptr; c = next(c))
    chain.push_back(c);
  std::size_t copied = copy_feet_as_read(chain);
  std::size_t skip = copied;
  for (auto c = chain.rbegin(); c != chain.rend(); ++c) {
    const std::span<const std::string> foot = (*c)->comments.foot();
    if (skip < foot.size()) {
      written_feet_breaks(foot[skip]);
      break;
    }
    skip -= foot.size();
  }
  for (std::size_t k = chain.size(); k-- > 0;) {
    const YamlNode& c = *chain[k];
    const std::size_t size = c.comments.foot().size();
    // A sequence at its key's own column: lines there would be the
    // mapping's (value_foot_column).
    const std::size_t key =
        k == 0 ? key_column : chain[k - 1]->is_mapping() ? chain[k - 1]->span.column : kNoKeyColumn;
    const std::size_t column =
        c.is_sequence() && key == c.span.column ? value_foot_column(c, key, key) : c.span.column;
    foot_lines(c, column, std::min(copied, size));
    copied -= std::min(copied, size);
  }
}

void NodeWriter::own_feet_lines(const YamlNode& n, std::size_t column) {
  const YamlNode* const chain[] = {&n};
  const std::size_t copied = copy_feet_as_read(chain);
  if (copied < n.comments.foot().size()) written_feet_breaks(n.comments.foot()[copied]);
  foot_lines(n, column, copied);
}

void NodeWriter::written_feet_breaks(std::string_view first, std::optional<std::size_t> read_at) {
  if (e_.line_breaks.empty()) return;
  const SourceLines& src = *e_.source;
  const std::size_t line = src.past_blank_lines(read_at.value_or(floor_), src.end());
  const std::optional<std::string_view> there = line < src.end() ? src.comment_text(line) : std::nullopt;
  const bool in_place = (read_at || out_.size() == copied_at_) && there;
  foot_read_ = std::string::npos;
  if (in_place && there == first) {
    foot_read_ = line;
    return;
  }
  // The line read with the first of them, past the lines of entries an edit
  // removed (a few lines on at most: the search stays cheap); else the
  // comment line read in their place (they were set anew).
  std::size_t at = line;
  for (int n = 0; n < 64 && at < src.end(); ++n, at = src.next_line(at)) {
    if (src.comment_text(at) == first) {
      foot_read_ = at;
      return;
    }
  }
  if (in_place) line_breaks_at(line);
}

void NodeWriter::foot_read_break(std::string_view text) {
  const SourceLines& src = *e_.source;
  const std::size_t line = src.past_blank_lines(foot_read_, src.end());
  if (line >= src.end() || src.comment_text(line) != text) {
    foot_read_ = std::string::npos;
    return;
  }
  line_breaks_at(line);
  foot_read_ = src.next_line(line);
}

std::size_t NodeWriter::copy_feet_as_read(std::span<const YamlNode* const> chain) {
  if (out_.size() != copied_at_) return 0;
  std::vector<std::string_view> texts;
  for (auto c = chain.rbegin(); c != chain.rend(); ++c)
    for (const std::string& f : (*c)->comments.foot()) texts.push_back(f);
  const SourceLines::CommentRun run = e_.source->comment_run(floor_, texts);
  if (run.count > 0) copy(floor_, run.end);
  return run.count;
}

void NodeWriter::settle_block_end() {
  if (out_.size() != e_.copied_entry.at) return;
  e_.copied_entry.at = std::string::npos;
  std::size_t column = e_.copied_entry.column;
  const YamlNode* last = e_.copied_entry.node;
  while (is_block_collection(*last) && last->source() == nullptr) {
    column = last->span.column;
    last = last->is_mapping() ? &last->pairs().back().value : &last->items().back();
  }
  const OptText& raw = last->comments.raw();
  if (!raw || !e_.source->holds(*last) || last->span.offset + raw->size() != e_.copied_entry.end) return;
  if (raw_chomping(*raw) == '+') e_.keep_end = out_.size();
  const std::optional<KeptIndent> kept = kept_indent(*last);
  block_ends(kept ? static_cast<std::size_t>(kept->column) : column + 1);
}

std::size_t NodeWriter::copy_lines_below_block(std::size_t from, std::size_t to) {
  const SourceLines& src = *e_.source;
  // A comment line indented as far as the block's body would read as part
  // of it: it moves left of it.
  const auto inside = [&](std::size_t line) {
    return src.indentation(line) >= e_.block_indent && src.comment_text(line).has_value();
  };
  std::size_t rest = from;
  bool any = false;
  for (; rest < to && src.is_blank_or_comment(rest); rest = src.next_line(rest)) any = any || inside(rest);
  if (!any) return from;
  for (std::size_t line = from; line < rest; line = src.next_line(line)) {
    const std::size_t next = std::min(src.next_line(line), to);
    std::size_t start = line;
    if (inside(line)) {
      spaces(std::max<std::size_t>(e_.block_indent, 1) - 1);
      start += src.indentation(line);
    }
    append_kept(src.slice(start, next), src.line_break(line));
  }
  return rest;
}

std::optional<std::size_t> NodeWriter::below_line(const YamlNode& n, std::optional<std::size_t> introducer) const {
  if (!copying()) return std::nullopt;
  const SourceLines& src = *e_.source;
  if (read_here(n)) {
    const std::size_t line = src.line_start(n.span.offset);
    if (src.column_offset(line, src.indentation(line)) != n.span.offset) return std::nullopt;
    return line;
  }
  // Built from a value: where what it replaced began, below its introducer.
  if (!introducer) return std::nullopt;
  const std::size_t line = src.boundary(src.next_line(*introducer), std::string::npos, true);
  return line < src.end() ? std::optional(line) : std::nullopt;
}

NodeWriter::ReadHead NodeWriter::read_head(std::optional<std::size_t> first) const {
  ReadHead read;
  if (!copying() || !first || *first < floor_ || *first != e_.source->line_start(*first)) return read;
  const SourceLines& src = *e_.source;
  read.first = *first;
  read.lead = src.leading_start(*first, floor_);
  read.texts = src.comment_texts(read.lead, *first);
  read.blank_end = src.past_blank_lines(read.lead, *first);
  return read;
}

void NodeWriter::head_lines_read(const YamlNode& node, std::optional<std::size_t> first, HeadPart part,
                                 std::size_t indent, std::uint32_t read_column) {
  const Comments& c = node.comments;
  const std::span<const HeadComment> head = c.head();
  const auto written = [&](const HeadComment& h) { return head_line_selected(h, part); };
  const std::size_t blank = part == HeadPart::BelowIntroducer ? 0 : c.blank_before;
  // Below an introducer that carries its comment, blank lines (which no
  // count records) may stand above the node.
  const bool below = c.inline_before_value && part != HeadPart::AboveIntroducer;
  if (blank == 0 && !below && std::none_of(head.begin(), head.end(), written)) {
    // An entry takes the blank lines above it where one copied as read
    // takes them (entry_lead).
    if (first && read_column != kNoEntryColumn) {
      const std::size_t lead = entry_lead(*first, 0, false);
      if (lead != *first) copy(lead, *first);
    }
    return;
  }
  const ReadHead read = read_head(first);
  if (copy_own_head(head, read, part, blank, below)) return;
  const SourceLines* src = e_.source;
  const std::size_t inner = part == HeadPart::BelowIntroducer ? 0 : inner_head_lines(head, read_column);
  // The line read in the place of the next comment written, whose line
  // break that comment takes.
  std::optional<std::size_t> line;
  if (inner > 0 && read.texts) line = copy_inner_head(read, head.first(inner));
  const std::size_t from = line || copy_inner_lines(head.first(inner)) ? inner : 0;
  // (Taken before the blank lines, which a block scalar would take in too.)
  const bool after_block = from < inner && at_block_end();
  if (!line) {
    // The blank lines above them stay as read (below an introducer that
    // carries its comment, where no count records them, too).
    if (read.texts && (below || src->line_count(read.lead, read.blank_end) == blank)) copy(read.lead, read.blank_end);
    else newlines(blank);
    if (read.texts) line = read.blank_end;
  }
  // Head lines that end as read (those before them came from an entry a
  // deletion removed): the blank lines between them and the node stay.
  std::size_t tail = line ? *first : 0;
  if (line && !head.empty() && !read.texts->empty() && head.back().text == read.texts->back() &&
      written(head.back()))
    tail = src->blank_lines_above(*first, std::max(*line, floor_));
  // Lines in front of those read here came from an entry a deletion
  // removed: each ends as the line it was read on, a few lines up (else as
  // the first line read here).  The lines are few: no list is built.
  const auto nth_written = [&](std::size_t k) {
    for (std::size_t i = from; i < head.size(); ++i)
      if (written(head[i]) && k-- == 0) return i;
    return head.size();
  };
  const std::size_t count = static_cast<std::size_t>(std::count_if(head.begin() + static_cast<std::ptrdiff_t>(from),
                                                                   head.end(), written));
  std::size_t moved = 0;
  constexpr std::size_t kSought = 8;  // (those past these end as the first line read here)
  std::array<std::optional<std::size_t>, kSought> moved_at{};
  if (line && read.texts && from == 0 && count > read.texts->size()) {
    moved = count - read.texts->size();
    bool as_read = true;
    for (std::size_t i = 0, k = 0; as_read && i < head.size(); ++i) {
      if (!written(head[i])) continue;
      if (k + 1 == moved) as_read = i < inner;
      else if (k >= moved) as_read = head[i].text == (*read.texts)[k - moved];
      ++k;
    }
    if (!as_read) moved = 0;
    std::size_t at = read.lead;
    for (std::size_t k = std::min(moved, kSought), budget = 64; k-- > 0 && budget > 0;) {
      const std::optional<std::string_view> text(head[nth_written(k)].text);
      while (at > src->begin() && budget-- > 0) {
        at = src->previous_line(at);
        if (src->comment_text(at) == text) {
          moved_at[k] = at;
          break;
        }
      }
    }
  }
  // Those read here then stay as read, with the blank lines between them,
  // where they keep their columns.
  bool rest_as_read = moved > 0 && count == head.size();
  for (std::size_t i = moved; rest_as_read && i < head.size(); ++i) {
    const HeadComment& h = head[i];
    const std::size_t column = i < inner ? comment_column(indent + (h.column - read_column), indent, after_block) : indent;
    rest_as_read = column == h.column;
  }
  for (std::size_t i = from, k = 0; i < head.size(); ++i) {
    if (!written(head[i])) continue;
    if (k == moved && rest_as_read) {
      copy(*line, *first);
      return;
    }
    if (k < moved) {
      line_breaks_at(k < kSought && moved_at[k] ? moved_at[k] : line);
    } else if (line) {
      *line = src->past_blank_lines(*line, tail);
      line_breaks_at(std::min(*line, tail));
      if (*line < tail) *line = src->next_line(*line);
    }
    ++k;
    std::size_t column = indent;
    if (i < inner) column = comment_column(indent + (head[i].column - read_column), indent, after_block);
    comment_line(node, head[i].text, column);
  }
  if (line && tail != *first) copy(tail, *first);
}

bool NodeWriter::copy_own_head(std::span<const HeadComment> head, const ReadHead& read, HeadPart part,
                               std::size_t blank, bool below) {
  if (!read.texts) return false;
  // As read, when they are the node's own (an edit may have set others,
  // or the node replaced one read elsewhere).
  const std::size_t own = static_cast<std::size_t>(
      std::count_if(head.begin(), head.end(), [&](const HeadComment& h) { return head_line_selected(h, part); }));
  if (own > read.texts->size()) return false;
  // Lines read at their front that are no longer the node's (an edit gave
  // them to the content before it, or removed them) are not copied.
  const std::size_t gone = read.texts->size() - own;
  if (gone > 0 && (blank != 0 || below)) return false;
  auto text = read.texts->begin() + static_cast<std::ptrdiff_t>(gone);
  for (const HeadComment& h : head) {
    if (!head_line_selected(h, part)) continue;
    if (*text != h.text) return false;
    ++text;
  }
  if (gone > 0) {
    // The node's own follow them as read, with the blank lines between.
    const SourceLines& src = *e_.source;
    std::size_t line = read.blank_end;
    for (std::size_t n = 0; n < gone && line < read.first; line = src.next_line(line))
      n += src.comment_text(line).has_value();
    copy(line, read.first);
    return true;
  }
  // The blank lines above them are the node's, or stand between them and
  // a comment line the content before it took from its head lines.
  if (!below && e_.source->line_count(read.lead, read.blank_end) != blank &&
      !(blank == 0 && entry_lead(read.blank_end, 0, false) == read.lead))
    return false;
  if (read.lead != read.first) copy(read.lead, read.first);
  return true;
}

std::optional<std::size_t> NodeWriter::copy_inner_head(const ReadHead& read, std::span<const HeadComment> inner) {
  const std::span<const std::string_view> texts(*read.texts);
  if (texts.size() < inner.size() ||
      !std::equal(inner.begin(), inner.end(), texts.begin(),
                  [](const HeadComment& h, std::string_view t) { return h.text == t; }))
    return std::nullopt;
  const SourceLines& src = *e_.source;
  const std::optional<std::size_t> stop = src.comment_run_end(read.lead, texts.first(inner.size()));
  if (!stop) return std::nullopt;
  const std::size_t end = src.past_blank_lines(*stop, read.first);
  copy(read.lead, end);
  return end;
}

bool NodeWriter::copy_inner_lines(std::span<const HeadComment> inner) {
  if (inner.empty() || out_.size() != copied_at_) return false;
  std::vector<std::string_view> texts;
  texts.reserve(inner.size());
  for (const HeadComment& h : inner) texts.push_back(h.text);
  const SourceLines::CommentRun run = e_.source->comment_run(floor_, texts);
  if (run.count != texts.size()) return false;
  copy(floor_, run.end);
  return true;
}

// The lines stay as read, indentation and blank lines included, above
// whatever entry comes first now (they describe the collection, not its
// first entry, which an edit may have removed).
std::optional<std::size_t> NodeWriter::head_lead(const YamlNode& collection, bool below_only, bool root) const {
  const std::span<const HeadComment> head = collection.comments.head();
  // A root's properties go on a line of their own below these lines, where
  // those it was read with stood (head_end).  An item's may stand on its
  // dash's line.
  if (!copying() || head.empty() || !is_block_collection(collection) || (has_properties(collection) && !root) ||
      collection.source() != nullptr || !e_.source->holds(collection))
    return std::nullopt;
  const SourceLines& src = *e_.source;
  const std::size_t first = src.line_start(collection.span.offset);
  if (first < floor_ || src.column_offset(first, src.indentation(first)) != collection.span.offset) return std::nullopt;
  const std::size_t start = head_end(collection, root);
  const std::size_t lead = src.leading_start(start, floor_);
  const std::optional<std::vector<std::string_view>> texts = src.comment_texts(lead, start);
  if (!texts) return std::nullopt;
  auto line = texts->begin();
  for (const HeadComment& h : head) {
    if (below_only && !h.below_introducer) continue;
    if (line == texts->end() || *line != h.text) return std::nullopt;
    ++line;
  }
  if (line != texts->end()) return std::nullopt;
  return lead;
}

bool NodeWriter::copy_head(const YamlNode& collection, bool below_only, bool root) {
  const std::optional<std::size_t> lead = head_lead(collection, below_only, root);
  if (!lead) return false;
  copy(*lead, head_end(collection, root));
  return true;
}

std::size_t NodeWriter::head_end(const YamlNode& collection, bool root) const {
  const std::size_t first = e_.source->line_start(collection.span.offset);
  return root ? root_first_line(collection).value_or(first) : first;
}

std::optional<std::size_t> NodeWriter::root_first_line(const YamlNode& r) const {
  const SourceLines& src = *e_.source;
  const std::size_t line = src.line_start(r.span.offset);
  const std::size_t content = src.column_offset(line, src.indentation(line));
  const auto opens_properties = [&](std::size_t at) {
    const std::string_view c = src.slice(at, std::min(at + 1, src.end()));
    return c == "&" || c == "!";
  };
  if (content != r.span.offset)
    return content < r.span.offset && opens_properties(content) ? std::optional(line) : std::nullopt;
  if (line <= src.begin()) return line;
  const std::size_t above = src.previous_line(line);
  if (above < floor_ || src.is_blank_or_comment(above)) return line;
  return opens_properties(src.column_offset(above, src.indentation(above))) ? above : line;
}

void NodeWriter::copy_blank_lines(std::optional<std::size_t> first) {
  if (!first || *first < floor_) return;
  const std::size_t lead = e_.source->leading_start(*first, floor_);
  if (lead != *first && e_.source->comment_lines(lead, *first) == 0) copy(lead, *first);
}

// The lines of an entry from `from` down to the first entry of
// `collection` (at `column`), then its entries and feet.
bool NodeWriter::copy_collection_lines(const YamlNode& collection, std::size_t from, std::size_t column,
                                       std::size_t key_column) {
  const SourceLines& src = *e_.source;
  bool mid_line = false;
  std::optional<std::size_t> child;
  for (bool mid : {false, true}) {
    child = collection.is_mapping() ? src.pair_first(collection.pairs().front(), column, mid)
                                    : src.item_first(collection.items().front(), column, mid);
    mid_line = mid;
    if (child) break;
  }
  if (!child || *child <= from || from < floor_) return false;
  copy(from, *child);
  if (collection.is_mapping()) {
    mapping_entries(collection, column, mid_line, true);
  } else {
    sequence_items(collection, column, mid_line, true);
  }
  copied_feet(collection, false, key_column);
  return true;
}

std::optional<std::size_t> NodeWriter::next_entry_lead(std::size_t first, std::optional<std::size_t> next_first,
                                                        const YamlNode& next_node, std::size_t next_heads,
                                                        const YamlNode& last_content) const {
  const SourceLines& src = *e_.source;
  // An edited next entry's head lines are not those of the text.
  if (!next_first || *next_first <= first || next_node.comments.modified) return std::nullopt;
  std::size_t floor = first + 1;
  if (next_heads > 0 || next_node.comments.blank_before > 0) {
    // Lines of this entry's content may look like comments (in a block
    // scalar, a quoted one): the next entry's lines begin after it.
    const std::optional<std::size_t> content = src.content_end(last_content);
    if (!content) return std::nullopt;
    if (*content > floor) floor = src.next_line(*content - 1);
  }
  const std::size_t lead = src.own_lead(*next_first, next_heads, next_node.comments.blank_before > 0, floor);
  // Head lines the text does not hold where the next entry's node says: the
  // lines between are not known to be this entry's.
  if (lead == *next_first && next_heads > 0) return std::nullopt;
  return lead;
}

bool NodeWriter::copy_pair(std::span<const NodePair> pairs, std::size_t i, std::size_t indent, bool mid_line,
                           bool in_order, bool& after_empty) {
  const SourceLines& src = *e_.source;
  const YamlNode& key = pairs[i].key;
  const YamlNode& value = pairs[i].value;
  const std::optional<std::size_t> first = pair_first(pairs[i], indent, mid_line);
  if (!first) return false;
  // A key read with a byte-order mark of its own, now the first content of
  // its document (what stood before it went), is written anew: copied, its
  // mark would read as one and leave the key.
  if (src.content_bom_at(*first) && ends_in_document_prefix(out_)) [[unlikely]]
    return false;
  const std::size_t heads = key.comments.head().size();
  // What was copied already is not copied again.
  if (*first < floor_) return false;
  if (!e_.edited->contains(key) && !e_.edited->contains(value)) {
    const std::size_t lead = entry_lead(*first, heads, key.comments.blank_before > 0);
    if (lead == *first && heads > 0) return false;
    std::optional<std::size_t> end;
    if (in_order && i + 1 < pairs.size()) {
      const NodePair& next = pairs[i + 1];
      end = next_entry_lead(*first, pair_first(next, indent, false), next.key, next.key.comments.head().size(),
                            value.is_null() ? key : value);
    }
    // Copied up to the next entry read, the lines copied hold its feet.
    const bool to_next = end.has_value();
    if (!end) {
      const std::optional<std::size_t> key_end = src.content_end(key);
      const std::optional<std::size_t> value_end = src.content_end(value);
      if (!key_end || !value_end) return false;
      // A "?" entry's lines run on past its ":" line, at the "?"'s column.
      std::size_t body = *first;
      if (key.explicit_key && *key_end > 0)
        body = src.entry_line(src.next_line(*key_end - 1), indent, ':').value_or(body);
      end = src.entry_end(body, indent, false, std::max(*key_end, *value_end));
    }
    if (!end || (e_.strict_raw && *end == src.end())) return false;
    copy(lead, *end);
    note_block_end(value, indent, *end);
    if (!to_next) copied_feet(value, true, indent);
    after_empty = is_empty_value(value);
    return true;
  }
  // Edits only inside its value's entries: the lines down to them are as read.
  if (key.comments.modified || value.comments.modified || !is_block_collection(value) || value.source() != nullptr ||
      !src.holds(value))
    return false;
  const std::size_t column = value.span.column;
  if (column < indent || (column == indent && !value.is_sequence())) return false;
  const std::size_t lead = entry_lead(*first, heads, key.comments.blank_before > 0);
  if (lead == *first && heads > 0) return false;
  after_empty = false;
  return copy_collection_lines(value, lead, column, indent);
}

std::size_t NodeWriter::read_heads_above_dash(const YamlNode& item, std::size_t dash) const {
  const std::size_t heads = heads_above_dash(item);
  if (item.comments.inline_before_value || heads == 0 || !read_here(item)) return heads;
  // Without a comment on the dash line the item holds the lines below its
  // dash, above its first entry, too.
  const SourceLines& src = *e_.source;
  const std::size_t content = src.line_start(item.span.offset);
  if (content <= dash) return heads;
  return heads - std::min(heads, src.comment_lines(src.next_line(dash), content));
}

bool NodeWriter::copy_item(std::span<const YamlNode> items, std::size_t i, std::optional<std::size_t> first,
                           std::size_t indent, bool in_order) {
  const SourceLines& src = *e_.source;
  const YamlNode& item = items[i];
  if (!first) return false;
  const std::size_t heads = read_heads_above_dash(item, *first);
  if (*first < floor_) return false;
  const std::size_t lead = entry_lead(*first, heads, item.comments.blank_before > 0);
  if (lead == *first && heads > 0) return false;
  // Comment lines read below a bare dash that the item no longer holds (an
  // edit gave them to the content before it) are not copied with it.
  if (!item.comments.inline_before_value && read_here(item)) {
    const std::size_t content = src.line_start(item.span.offset);
    if (content > *first && src.comment_lines(src.next_line(*first), content) > heads_above_dash(item)) return false;
  }
  if (!e_.edited->contains(item)) {
    std::optional<std::size_t> end;
    if (in_order && i + 1 < items.size()) {
      const YamlNode& next = items[i + 1];
      const std::optional<std::size_t> next_first = src.item_first(next, indent, false);
      end = next_entry_lead(*first, next_first, next, next_first ? read_heads_above_dash(next, *next_first) : 0, item);
    }
    const bool to_next = end.has_value();
    if (!end) {
      const std::optional<std::size_t> content = src.content_end(item);
      if (!content) return false;
      end = src.entry_end(*first, indent, true, *content);
    }
    if (!end || (e_.strict_raw && *end == src.end())) return false;
    copy(lead, *end);
    note_block_end(item, indent, *end);
    if (!to_next) copied_feet(item);
    return true;
  }
  if (item.comments.modified || !is_block_collection(item) || item.source() != nullptr || !src.holds(item) ||
      item.span.column <= indent)
    return false;
  return copy_collection_lines(item, lead, item.span.column);
}

std::optional<std::size_t> NodeWriter::root_first_entry(const YamlNode& r) const {
  const SourceLines& src = *e_.source;
  if (!is_block_collection(r) || r.comments.modified || has_properties(r) || r.comments.inline_comment() ||
      r.source() != nullptr || !src.holds(r))
    return std::nullopt;
  return r.is_mapping() ? src.pair_first(r.pairs().front(), r.span.column, false)
                        : src.item_first(r.items().front(), r.span.column, false);
}

void NodeWriter::root_entries(const YamlNode& r) {
  if (r.is_mapping()) {
    mapping_entries(r, r.span.column, false, true);
  } else {
    sequence_items(r, r.span.column, false, true);
  }
}

bool NodeWriter::copy_root(const YamlNode& r) {
  const std::optional<std::size_t> first = root_first_entry(r);
  if (!first) return false;
  const std::size_t lead = e_.source->own_lead(*first, r.comments.head().size(), false, e_.source->begin());
  if (lead == *first) {
    for (const HeadComment& h : r.comments.head()) comment_line(r, h.text, 0);
  } else {
    copy(lead, *first);
  }
  root_entries(r);
  return true;
}

bool NodeWriter::copy_document(const YamlNode& r, std::optional<std::size_t> prelude, std::optional<std::size_t> end,
                               bool upgrade) {
  if (!prelude || (upgrade && !r.directives().empty())) return false;
  if (!e_.edited->contains(r)) {
    if (!end) return false;
    copy(*prelude, *end);
    // Its foot lines (those of the last document read) lie after `end`: in
    // the tail when that is copied, else written here.
    if (is_block_collection(r)) copied_feet(r);
    else foot_lines(r, 0);
    return true;
  }
  const std::optional<std::size_t> first = root_first_entry(r);
  if (!first) return copy_root_line(r, *prelude);
  // The lines before the first entry hold the root's head comments, and the
  // separator, directives and start marker of its document.
  if (*first < *prelude || e_.source->comment_lines(*prelude, *first) != r.comments.head().size()) return false;
  copy(*prelude, *first);
  root_entries(r);
  own_feet(r, 0);
  return true;
}

bool NodeWriter::copy_root_line(const YamlNode& r, std::size_t prelude) {
  const SourceLines& src = *e_.source;
  if (is_block_collection(r) || r.is_null() || r.source() != nullptr || !read_here(r)) return false;
  const std::size_t line = src.line_start(r.span.offset);
  // (Its properties as read are written anew, on its line.)
  const std::optional<std::size_t> first = root_first_line(r);
  if (!first || *first < prelude) return false;
  // The lines before it: its head comments (an edit may have set others),
  // the separator and start marker of its document.
  const std::optional<std::vector<std::string_view>> texts = src.comment_texts(prelude, *first, true);
  if (!texts || texts->size() != r.comments.head().size() ||
      !std::equal(texts->begin(), texts->end(), r.comments.head().begin(),
                  [](std::string_view t, const HeadComment& h) { return t == h.text; }))
    return false;
  copy(prelude, src.past_bom(*first));
  root_content(r);
  // Its foot lines stand in the place of those read after its last line
  // (a flow collection's may be a later one).
  if (!r.comments.foot().empty()) {
    const std::optional<std::size_t> content = src.content_end(r);
    written_feet_breaks(r.comments.foot().front(), src.next_line(content && *content > line ? *content - 1 : line));
  }
  foot_lines(r, 0);
  return true;
}

bool emit_document_from_source(Emitter& e, const YamlNode& root, std::optional<std::size_t> prelude,
                               std::optional<std::size_t> end, bool upgrade) {
  return NodeWriter(e).copy_document(root, prelude, end, upgrade);
}

void emit_source_text(Emitter& e, std::size_t from, std::size_t to) { NodeWriter(e).copy(from, to); }

}  // namespace kestrine
