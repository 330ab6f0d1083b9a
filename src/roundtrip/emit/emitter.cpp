#include "roundtrip/emit/emitter.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "decode/directives.hpp"
#include "roundtrip/emit/node_writer.hpp"
#include "roundtrip/emit/source_copy.hpp"

namespace kestrine {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Directive words are split where the reader splits them (at any Unicode
// white space), so that "%YAML\u0085 1.1" is the version directive here as
// it is to the reader.
bool is_version_directive(std::string_view d) {
  const std::vector<std::string_view> words = split_directive_words(d);
  return !words.empty() && words[0] == "YAML";
}

// The comment that ends a version directive line, with the blanks before it
// ("" when there is none): what follows the version word, which the reader
// only accepts as a comment.
std::string_view directive_comment(std::string_view line) {
  const std::vector<std::string_view> words = split_directive_words(line);
  if (words.size() < 3) return {};
  return line.substr(static_cast<std::size_t>(words[1].data() + words[1].size() - line.data()));
}

// One root with its directive lines and start marker.  `upgrade`: a later
// document of an upgraded stream declares YAML 1.2 in place of the version it
// was read with.
void emit_document_impl(Emitter& e, const YamlNode& root, bool upgrade) {
  for (const std::string& d : root.directives()) {
    e.out.push_back('%');
    if (upgrade && is_version_directive(d)) {
      e.out += "YAML 1.2";
      e.out += directive_comment(d);
    } else {
      e.out += d;
    }
    e.out.push_back('\n');
  }
  // Directives are only allowed before a "---".
  emit_root_content(e, root, root.explicit_start || !root.directives().empty());
}

// Where unedited entries are copied from (both null: nothing is copied).
// `documents_kept`: the roots are the documents read, none removed, so the
// lines between two of them are theirs.
struct CopySource {
  const SourceLines* lines = nullptr;
  const EditedNodes* edited = nullptr;
  bool documents_kept = true;
  // Lines the caller writes after the result as read (the rest of an
  // included file past its first document).
  const SourceLines* kept_after = nullptr;
};

std::string emit_single(const YamlNode& root, NullStyle null_style, std::size_t reserve) {
  for (bool strict : {false, true}) {
    Emitter e(null_style);
    e.strict_raw = strict;
    if (reserve > e.out.capacity()) e.out.reserve(reserve);
    if (root.leading_bom) e.out += kBom;
    emit_document_impl(e, root, false);
    if (finish_output(e) || strict) return std::move(e.out);
  }
  return {};
}

std::string emit_stream(std::span<const YamlNode> roots, NullStyle null_style, bool upgrade,
                        std::size_t reserve) {
  for (bool strict : {false, true}) {
    Emitter e(null_style);
    e.strict_raw = strict;
    e.out.reserve(std::max(e.out.capacity(), reserve));
    if (roots.front().leading_bom) e.out += kBom;
    emit_document_impl(e, roots.front(), false);
    for (std::size_t i = 1; i < roots.size(); ++i) {
      const YamlNode& r = roots[i];
      if (!r.directives().empty()) e.out += "...\n";
      else if (!r.explicit_start) e.out += "---\n";
      emit_document_impl(e, r, upgrade);
    }
    if (finish_output(e) || strict) return std::move(e.out);
  }
  return {};
}

// Whether the foot comments of the trees are exactly the comment lines that
// end the text read (after the last document's content, and in the lines
// kept after it, which hold no document then): then those lines are copied
// as read instead.
bool feet_are_the_tail(const SourceLines& lines, const EditedNodes& edited, std::optional<std::size_t> tail,
                       const SourceLines* kept_after) {
  if (!tail) return false;
  std::optional<std::vector<std::string_view>> texts = lines.comment_texts(*tail, lines.end());
  if (!texts) return false;
  if (kept_after != nullptr) {
    const auto kept = kept_after->comment_texts(kept_after->begin(), kept_after->end(), true);
    if (!kept) return false;
    texts->insert(texts->end(), kept->begin(), kept->end());
  }
  std::vector<std::string_view> feet = edited.feet();
  if (feet.size() != texts->size()) return false;
  std::sort(feet.begin(), feet.end());
  std::sort(texts->begin(), texts->end());
  return feet == *texts;
}

// Whether the indented lines of the tail, copied as read, read back as the
// feet of the collections that own them now.  A line belongs to the
// deepest collection ending the document that stands at or left of it: an
// edit may have brought another one to the end (one a deletion uncovered,
// or one built from a value, whose column the text does not show).  Else
// the writer places those lines at their owners' columns.
bool tail_reads_back(const SourceLines& lines, const YamlNode& root, std::size_t from) {
  std::vector<const YamlNode*> chain;
  for (std::size_t line = from; line < lines.end(); line = lines.next_line(line)) {
    const std::size_t column = lines.indentation(line);
    const std::optional<std::string_view> text =
        column > 0 ? lines.comment_text(lines.column_offset(line, column)) : std::nullopt;
    if (!text) continue;
    if (chain.empty()) {
      for (const YamlNode* n = &root; is_block_collection(*n) && n->size() > 0 && n->source() == nullptr;
           n = n->is_mapping() ? &n->pairs().back().value : &n->items().back()) {
        if (!lines.read_here(*n)) return false;
        chain.push_back(n);
      }
      if (chain.empty()) return true;
    }
    std::size_t deepest = 0;
    for (const YamlNode* n : chain)
      if (n->span.column <= column) deepest = std::max<std::size_t>(deepest, n->span.column);
    const bool owned = std::any_of(chain.begin(), chain.end(), [&](const YamlNode* n) {
      const std::span<const std::string> foot = n->comments.foot();
      return n->span.column == deepest && std::find(foot.begin(), foot.end(), *text) != foot.end();
    });
    if (!owned) return false;
  }
  return true;
}

// A text read without a final line break is written without one: an
// edited last line ends as the line it replaced, and one added after it as
// the line before.  The break stays where the output ends with text copied
// as read (a line the edit did not reach keeps its own), or with a block
// scalar written anew (its last line break may be part of its value).
void keep_unbroken_end(Emitter& e, const SourceLines& lines) noexcept {
  if (!lines.ends_unbroken() || e.out.empty() || e.out.back() != '\n') return;
  if (e.out.size() == e.copied_end || e.out.size() == e.block_end) return;
  e.out.pop_back();
}

// The roots with the parts no edit reached copied from the text read: each
// document, or its lines down to its first entry, as read where its own
// facts are; written from its nodes (with the separators of emit_stream)
// where not.
std::string emit_copying(std::span<const YamlNode> roots, NullStyle null_style, bool upgrade, std::size_t reserve,
                         CopySource copy) {
  const SourceLines& lines = *copy.lines;
  std::vector<std::optional<std::size_t>> ends;
  ends.reserve(roots.size());
  for (std::size_t i = 0; i < roots.size(); ++i) {
    // The next document's lines begin at its marker, before its content.
    std::size_t limit = lines.end();
    bool directives = false;
    if (i + 1 < roots.size()) {
      const YamlNode& next = roots[i + 1];
      limit = lines.holds(next) ? lines.previous_document_marker(lines.line_start(next.span.offset)) : lines.begin();
      directives = !next.directives().empty();
    }
    ends.push_back(lines.document_end(roots[i], limit, directives));
  }
  const bool tail = feet_are_the_tail(lines, *copy.edited, ends.back(), copy.kept_after) &&
                    tail_reads_back(lines, roots.back(), *ends.back());
  for (bool strict : {false, true}) {
    Emitter e(null_style);
    e.strict_raw = strict;
    e.source = copy.lines;
    e.edited = copy.edited;
    // None there: the foot lines of collections inside copied entries (a
    // block scalar's document end may take them in) are written where they
    // belong.
    e.feet_copied = tail && !copy.edited->feet().empty();
    if (lines.has_cr()) e.line_breaks.push_back({0, lines.line_break(lines.begin()).value_or(LineBreak::Lf)});
    e.out.reserve(std::max(e.out.capacity(), reserve));
    if (roots.front().leading_bom) e.out += kBom;
    std::optional<std::size_t> prelude;
    if (copy.documents_kept) prelude = lines.begin();
    for (std::size_t i = 0; i < roots.size(); ++i) {
      const YamlNode& r = roots[i];
      if (!emit_document_from_source(e, r, prelude, ends[i], upgrade)) {
        if (i > 0) {
          if (!r.directives().empty()) e.out += "...\n";
          else if (!r.explicit_start) e.out += "---\n";
        }
        emit_document_impl(e, r, upgrade && i > 0);
      }
      if (copy.documents_kept) prelude = ends[i];
    }
    if (tail) {
      emit_source_text(e, *ends.back(), lines.end());
    } else if (ends.back()) {
      // The comments there are written where they belong; a "..." that
      // closed the text stays.
      if (const std::optional<std::size_t> rest = lines.closing_marker_lines(*ends.back()))
        emit_source_text(e, *rest, lines.end());
    }
    if (finish_output(e) || strict) {
      // (Lines the caller writes after the result need the break.)
      if (copy.kept_after == nullptr) keep_unbroken_end(e, lines);
      apply_line_breaks(e.out, e.line_breaks);
      return std::move(e.out);
    }
  }
  return {};
}

// Room for a re-rendered text: about the size it was read at.
std::size_t reserve_for(std::optional<std::string_view> source_text) noexcept {
  return source_text ? source_text->size() + source_text->size() / 8 + 64 : 0;
}

}  // namespace

void apply_line_breaks(std::string& out, std::span<const LineBreakMark> marks) {
  if (marks.empty()) return;
  if (std::all_of(marks.begin(), marks.end(),
                  [](const LineBreakMark& m) { return m.ending == LineBreak::Lf || m.ending == LineBreak::Kept; }) &&
      out.find('\r') == std::string::npos)
    return;
  std::string result;
  result.reserve(out.size() + out.size() / 16 + 16);
  for (std::size_t i = 0; i < marks.size(); ++i) {
    std::size_t from = std::min(marks[i].at, out.size());
    const std::size_t to = i + 1 < marks.size() ? std::min(marks[i + 1].at, out.size()) : out.size();
    const LineBreak ending = marks[i].ending;
    if (from < to && out[from] == '\n' && !result.empty() && result.back() == '\r') {
      // A line feed right after a CR from before the mark: copied, it is the
      // second half of that CR LF; written, it is a line break of its own
      // (a blank line), which as a line feed would join the CR: it is then
      // written as the CR before it.
      if (ending != LineBreak::Kept) result += ending == LineBreak::Lf ? "\r" : line_break_bytes(ending);
      ++from;
    }
    if (ending == LineBreak::Lf || ending == LineBreak::Kept) {
      result.append(out, from, to - from);
      continue;
    }
    // Line breaks inside scalars read the same either way; escaped ones are
    // not line feeds in the text.  A CR LF copied inside written text (a
    // kept block scalar's) stays.
    for (std::size_t at = from; at < to; ++at) {
      const char c = out[at];
      if (c != '\n' || (at > 0 && out[at - 1] == '\r')) {
        result.push_back(c);
        continue;
      }
      result += line_break_bytes(ending);
    }
  }
  out = std::move(result);
}

void apply_final_break(std::string& out, std::optional<std::size_t> final_break) noexcept {
  if (final_break && out.size() == *final_break + 1 && out[*final_break] == '\n')
    out.resize(*final_break);
}

bool finish_output(Emitter& e) noexcept {
  const std::size_t before = e.out.size();
  apply_final_break(e.out, e.final_break);
  if (e.open_raw_copies == 0) return true;
  // The one open text must be the one whose line break was just cut.
  return e.open_raw_copies == 1 && e.open_raw_at == e.final_break && e.out.size() + 1 == before;
}

void emit_document(Emitter& e, const YamlNode& root) { emit_document_impl(e, root, false); }

std::string emit_to_string(const YamlNode& root, NullStyle null_style) {
  return emit_single(root, null_style, 0);
}

std::string emit_include_subtree(const YamlNode& node, std::optional<std::string_view> file_text,
                                 std::optional<std::string_view> kept_after) {
  YamlNode copy = node;
  std::optional<std::uint32_t> file;
  if (const IncludeSource* source = node.source()) {
    // With the edits of the content itself (the node's own flag marks the
    // directive, in the including file).
    copy.comments = source->content_comments;
    file = source->target_file_id;
  }
  copy.set_source(std::nullopt);
  copy.set_anchor(std::nullopt);
  if (!file_text || !file) return emit_to_string(copy, NullStyle::Keyword);
  const SourceLines lines(*file_text, 0, *file);
  std::optional<SourceLines> after;
  if (kept_after) after.emplace(*kept_after, 0, *file);
  EditedNodes edited(false);
  edited.add(copy);
  return emit_copying(std::span<const YamlNode>(&copy, 1), NullStyle::Keyword, false, reserve_for(file_text),
                      CopySource{&lines, &edited, true, after ? &*after : nullptr});
}

namespace {

std::string render_roots(std::span<const YamlNode> roots, std::optional<std::string_view> source_text,
                         bool upgrade_1_1, NullStyle null_style, CopySource copy) {
  std::string result;
  if (copy.lines != nullptr && !roots.empty()) {
    result = emit_copying(roots, null_style, upgrade_1_1, reserve_for(source_text), copy);
  } else if (roots.size() == 1) {
    result = emit_single(roots.front(), null_style, reserve_for(source_text));
  } else if (!roots.empty()) {
    result = emit_stream(roots, null_style, upgrade_1_1, reserve_for(source_text));
  }
  // A text read with CR line breaks is written back with them (the copying
  // writer keeps each line's own).
  if (copy.lines == nullptr && source_text) {
    const LineBreak ending = first_line_break(*source_text);
    if (ending != LineBreak::Lf) apply_line_breaks(result, std::array{LineBreakMark{0, ending}});
  }
  if (upgrade_1_1) return upgrade_document_header(result);
  return result;
}

}  // namespace

namespace {

// Whether a rendering declares YAML 1.2: a stream without a document has
// nothing to declare a version for (a header would add an empty document).
bool upgrades(bool upgrade_1_1, std::span<const YamlNode> roots) noexcept { return upgrade_1_1 && !roots.empty(); }

// An unedited text as rendered: as read, or with the upgrade's header.
std::string unedited_text(std::string_view source, bool upgrade) {
  return upgrade ? upgrade_document_header(source) : std::string(source);
}

}  // namespace

std::string render_document(std::span<const YamlNode> roots,
                            std::optional<std::string_view> source_text, bool upgrade_1_1,
                            NullStyle null_style) {
  const bool edited =
      std::any_of(roots.begin(), roots.end(), [](const YamlNode& r) { return subtree_modified(r); });
  upgrade_1_1 = upgrades(upgrade_1_1, roots);
  if (source_text && !edited) return unedited_text(*source_text, upgrade_1_1);
  return render_roots(roots, source_text, upgrade_1_1, null_style, {});
}

std::string render_document(const DocumentRecord& doc) {
  std::optional<std::string_view> source;
  if (doc.source_text) source = std::string_view(*doc.source_text);
  EditedNodes edited(doc.edit_marks);
  bool any = doc.documents_replaced;
  for (const YamlNode& root : doc.roots) any = edited.add(root) || any;
  const bool upgrade = upgrades(doc.flags.upgrade_1_1, doc.roots);
  if (source && !any) return unedited_text(*source, upgrade);
  if (!source) return render_roots(doc.roots, source, upgrade, doc.flags.null_style, {});
  const SourceLines lines(*source, doc.source_offset, 0, doc.source_facts ? *doc.source_facts : text_facts(*source));
  return render_roots(doc.roots, source, upgrade, doc.flags.null_style,
                      CopySource{&lines, &edited, !doc.documents_replaced});
}

namespace {

// The end of the line that starts at `pos`, past its line break: LF, CR LF
// or a CR alone (a break of its own to every reader).
std::size_t line_end(std::string_view text, std::size_t pos) noexcept {
  const std::size_t at = text.find_first_of("\r\n", pos);
  if (at == std::string_view::npos) return text.size();
  return at + (text.compare(at, 2, "\r\n") == 0 ? 2 : 1);
}

// A line that is the marker `marker` ("---", "..."), alone or followed by
// a blank and more.
bool is_marker_line(std::string_view line, std::string_view marker) noexcept {
  return line.starts_with(marker) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '\t' || line[3] == '\n' || line[3] == '\r');
}

}  // namespace

std::string upgrade_document_header(std::string_view text) {
  const std::size_t b = text.starts_with(kBom) ? kBom.size() : 0;
  // Walk the prologue: directive lines, comment lines and blank lines, up to
  // the first line of anything else.  The first "%YAML" line is rewritten
  // in place (its comment kept), later ones are dropped.  A "..." line
  // there ends no document, and byte-order marks may open a line (one or
  // several): the prologue of the first document starts after the last of
  // either, and so does a header put in (a mark inside a document is
  // content).  No directive stands before either in a text that loads.
  std::vector<std::pair<std::size_t, std::size_t>> versions;  // [start, end) of %YAML lines
  bool has_start = false;
  std::size_t header_at = b;
  std::size_t pos = b;
  while (pos < text.size()) {
    const std::size_t end = line_end(text, pos);
    if (text.compare(pos, kBom.size(), kBom) == 0) {
      while (text.compare(pos, kBom.size(), kBom) == 0) pos += kBom.size();
      header_at = pos;
      versions.clear();
    }
    const std::string_view line = text.substr(pos, end - pos);
    if (line.starts_with("%") && is_version_directive(line.substr(1))) {
      versions.emplace_back(pos, end);
    } else if (line.starts_with("%")) {
      // another directive: kept
    } else if (is_marker_line(line, "...")) {
      header_at = end;
      versions.clear();
    } else {
      const std::size_t first = line.find_first_not_of(" \t\r\n");
      if (first != std::string_view::npos && line[first] != '#') {
        has_start = is_marker_line(line, "---");
        break;
      }
    }
    pos = end;
  }
  // The lines put in are written with the text's first line break.
  const std::string_view nl = line_break_bytes(first_line_break(text));
  std::string out;
  out.reserve(text.size() + 16);
  out.append(text.substr(0, header_at));
  std::size_t copied = header_at;
  if (versions.empty() || !has_start) {
    out += "%YAML 1.2";
    out += nl;
    if (!has_start) {
      out += "---";
      out += nl;
    }
  }
  for (std::size_t i = 0; i < versions.size(); ++i) {
    const auto [start, end] = versions[i];
    out.append(text.substr(copied, start - copied));
    copied = end;
    if (i > 0 || !has_start) continue;
    std::string_view line = text.substr(start, end - start);
    std::size_t content = line.size();
    while (content > 0 && (line[content - 1] == '\n' || line[content - 1] == '\r')) --content;
    out += "%YAML 1.2";
    out += directive_comment(line.substr(1, content - 1));  // the words after the "%"
    out.append(line.substr(content));
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace kestrine
