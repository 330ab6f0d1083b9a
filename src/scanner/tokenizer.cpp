// The tokenizer: block indentation, flow nesting, implicit keys, indicators,
// directives and document markers, and the layout rules checked on the way.
#include "scanner/tokenizer.hpp"

#include <string>
#include <utility>

namespace kestrine::scan {

namespace {
// "a: b: c" would otherwise read as nested mappings; a block mapping can
// only start on the line of an explicit key ("? a: b") or of a "-" entry.
constexpr const char* kMappingOnKeyLine =
    "a block mapping cannot start on the same line as its mapping key";
constexpr const char* kPropertyIndent = "a node property must be indented past its mapping key";
}  // namespace

Tokenizer::Tokenizer(Scanner& scanner, ScanResult& result)
    : scanner_(scanner), result_(result), out_(result.events) {
  r_.text = reinterpret_cast<const unsigned char*>(scanner.text.data());
  r_.length = scanner.text.size();
  r_.offset = scanner.start_offset <= r_.length ? scanner.start_offset : r_.length;
  r_.file_id = scanner.file_id;
  indents_.reserve(16);
  sequence_flags_.reserve(16);
}

bool Tokenizer::fail(const char* message, const Span& span) {
  error_.message = message;
  error_.span = span;
  return false;
}

bool Tokenizer::fail(std::string message, const Span& span) {
  error_.message = std::move(message);
  error_.span = span;
  return false;
}

bool Tokenizer::run() {
  if (!check_control_characters(scanner_.text, r_.offset, r_.file_id, error_, &result_.ascii_texts)) return false;
  push(EventKind::StreamStart, r_.span());
  skip_prefix_byte_order_mark();  // a mark after the stream's own
  while (!stream_end_done_) {
    if (!fetch_next_token()) [[unlikely]] return false;
  }
  return true;
}

// ---- white space, comments, dispatch ----------------------------------------

namespace {

// Unicode White_Space characters that can end a comment line (line breaks
// never occur inside one).
bool is_unicode_space(char32_t c) {
  switch (c) {
    case 0x09: case 0x0B: case 0x0C: case 0x20: case 0x85: case 0xA0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string_view trim_trailing_white_space(std::string_view s) {
  while (!s.empty()) {
    std::size_t n = s.size();
    auto last = static_cast<unsigned char>(s[n - 1]);
    if (last < 0x80) {
      if (!is_unicode_space(last)) break;
      s.remove_suffix(1);
      continue;
    }
    // Find the start of the last multi-byte character.
    std::size_t start = n - 1;
    while (start > 0 && n - start < 4 && is_continuation(static_cast<unsigned char>(s[start]))) --start;
    auto lead = static_cast<unsigned char>(s[start]);
    std::size_t len = n - start;
    if (len != utf8_length(lead) || len == 1) break;
    char32_t cp = len == 2 ? (lead & 0x1F) : len == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (std::size_t k = start + 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[k]) & 0x3F);
    if (!is_unicode_space(cp)) break;
    s.remove_suffix(len);
  }
  return s;
}

}  // namespace

void Tokenizer::skip_comment() {
  Span span = r_.span();
  r_.advance_ascii(1);  // "#"
  std::size_t text_start = r_.offset;
  if (r_.at() == ' ') ++text_start;
  r_.skip_to_line_end();
  if (scanner_.keep_comments) {
    std::size_t end = r_.offset < text_start ? text_start : r_.offset;
    std::string_view body(reinterpret_cast<const char*>(r_.text) + text_start, end - text_start);
    scanner_.comments.push_back(SourceComment{trim_trailing_white_space(body), span});
  }
}

// A byte order mark may start any line of a document prefix (the blank and
// comment lines before a document: no token has been read since the stream
// start or the last "..."), as it may start the stream.  It is no content
// and takes no column.
void Tokenizer::skip_prefix_byte_order_mark() {
  const EventKind last = out_.back().kind;
  if (last != EventKind::StreamStart && last != EventKind::DocumentEnd) {
    maybe_prefix_ = false;  // until the next "..."
    return;
  }
  if (r_.at() != 0xEF || r_.at(1) != 0xBB || r_.at(2) != 0xBF) return;
  do {
    r_.offset += 3;
  } while (r_.at() == 0xEF && r_.at(1) == 0xBB && r_.at(2) == 0xBF);
  bom_end_ = r_.offset;
}

bool Tokenizer::skip_whitespace_and_comments() {
  for (;;) {
    unsigned char c = r_.at();
    if (c == ' ') {
      r_.skip_spaces();
    } else if (c == '\t') {
      if (!in_flow()) {
        tab_in_indent_ = true;
      } else if (r_.column == 0) {
        std::size_t i = r_.next_non_blank_offset();
        unsigned char nb = i < r_.length ? r_.text[i] : 0;
        if (!(nb == 0 || is_break(nb) || is_flow_indicator(nb))) {
          error_ = tab_indent_error(r_.span());
          return false;
        }
      }
      r_.advance_ascii(1);
    } else if (is_break(c)) {
      r_.consume_line_break();
      if (maybe_prefix_) [[unlikely]] skip_prefix_byte_order_mark();
      tab_in_indent_ = false;
      if (candidate_.present && candidate_.span.line != r_.line && !drop_key_candidate()) return false;
      if (!in_flow()) simple_key_allowed_ = true;
    } else if (c == '#') {
      std::size_t o = r_.offset;
      bool comment = o == scanner_.start_offset || o == bom_end_;
      if (!comment) {
        unsigned char prev = r_.text[o - 1];
        comment = prev == ' ' || prev == '\t' || prev == '\n' || prev == '\r';
      }
      if (!comment) return true;
      skip_comment();
    } else {
      return true;
    }
  }
}

bool Tokenizer::fetch_next_token() {
  const std::uint32_t start_line = r_.line;
  tab_in_indent_ = pending_tab_in_indent_;
  pending_tab_in_indent_ = false;
  if (!skip_whitespace_and_comments()) return false;
  if (property_indent_pending_ && (!candidate_.present || r_.at_end())) [[unlikely]] {
    return fail(kPropertyIndent, property_indent_span_);
  }

  if (r_.at_end()) {
    if (in_flow()) return fail("unclosed flow collection at end of input", r_.span());
    if (candidate_.present && !drop_key_candidate()) return false;
    unroll_indent(-1);
    stream_end_done_ = true;
    push(EventKind::StreamEnd, r_.span());
    return true;
  }

  if (!in_flow()) {
    indent_unrolled_ = false;
    unroll_indent(r_.column);
    if (in_sequence_ && static_cast<std::int64_t>(r_.column) == indent_ &&
        !(r_.at() == '-' && is_blank_break_or_end(r_.at(1)))) {
      push(EventKind::BlockEnd, r_.span());
      pop_indent();
    }
    return fetch_block();
  }
  if (r_.line > start_line && static_cast<std::int64_t>(r_.column) <= flow_block_indent_) {
    return fail("flow content must be indented more than its block context", r_.span());
  }
  return fetch_flow();
}

namespace {
std::string reserved_indicator_message(unsigned char c) {
  std::string m = "'";
  m += static_cast<char>(c);
  m += "' is a reserved indicator and cannot start a plain scalar";
  return m;
}
}  // namespace

bool Tokenizer::fetch_block() {
  const unsigned char c = r_.at();
  if (c != '!' && c != '&') after_key_ = false;
  const bool was_after_entry = after_entry_;
  after_entry_ = false;

  if (c == '.' && r_.column == 0 && r_.match_marker("...") && is_blank_break_or_end(r_.at(3))) {
    return scan_document_end();
  }
  if (c == '%' && r_.column == 0) {
    if (!directives_allowed_) {
      return fail("a directive must start the stream or follow a document-end marker (...)",
                  r_.span());
    }
    scan_directive();
    return true;
  }
  directives_allowed_ = false;
  if (static_cast<std::int64_t>(r_.column) == indent_ && scan_block_run()) return true;

  switch (c) {
    case '-':
      if (is_blank_break_or_end(r_.at(1))) return scan_block_entry(was_after_entry);
      if (r_.column == 0 && r_.match_marker("---") && is_blank_break_or_end(r_.at(3))) {
        scan_document_start();
        return true;
      }
      return scan_plain_scalar();
    case '?':
      if (is_blank_break_or_end(r_.at(1))) return scan_key_indicator();
      return scan_plain_scalar();
    case ':':
      if (is_blank_break_or_end(r_.at(1))) return scan_value_indicator();
      return scan_plain_scalar();
    case '[':
      return scan_flow_start(false);
    case '{':
      return scan_flow_start(true);
    case ']':
      return scan_flow_end(false);
    case '}':
      return scan_flow_end(true);
    case '|':
      return scan_block_scalar(true);
    case '>':
      return scan_block_scalar(false);
    case '\'':
      return scan_quoted_scalar(true);
    case '"':
      return scan_quoted_scalar(false);
    case '&':
      return scan_anchor_or_alias(false);
    case '*':
      return scan_anchor_or_alias(true);
    case '!':
      return scan_tag();
    case '#':
      return fail("a comment must be preceded by whitespace", r_.span());
    case ',':
      return fail("a plain scalar cannot start with ','", r_.span());
    case '@':
    case '`':
      return fail(reserved_indicator_message(c), r_.span());
    default:
      return scan_plain_scalar();
  }
}

bool Tokenizer::fetch_flow() {
  const unsigned char c = r_.at();
  if (r_.column == 0 && (r_.match_marker("---") || r_.match_marker("...")) && is_blank_break_or_end(r_.at(3))) {
    return fail("a document marker is not allowed inside a flow collection", r_.span());
  }
  const bool json_before = json_like_before_;
  json_like_before_ = false;
  auto ends_indicator = [&](std::size_t k) {
    unsigned char n = r_.at(k);
    return is_blank_break_or_end(n) || is_flow_indicator(n);
  };
  if (entry_complete_ && c != '#' && c != ',' && c != ':' && c != ']' && c != '}' &&
      !(c == '-' && ends_indicator(1))) {
    return fail(kMissingComma, r_.span());
  }
  if (c == ':' && entry_complete_ && !explicit_flow_key_ && in_flow_sequence() &&
      entry_line_ != static_cast<std::int64_t>(r_.line)) {
    return fail("the implicit key of a flow sequence pair must be on one line", r_.span());
  }

  bool ok;
  switch (c) {
    case '!':
      ok = scan_tag();
      break;
    case '"':
      ok = scan_quoted_scalar(false);
      break;
    case '&':
      ok = scan_anchor_or_alias(false);
      break;
    case '\'':
      ok = scan_quoted_scalar(true);
      break;
    case '*':
      ok = scan_anchor_or_alias(true);
      break;
    case '#':
      return fail("a comment must be preceded by whitespace", r_.span());
    case ',':
      return scan_flow_entry();
    case '-':
      if (ends_indicator(1)) return fail("a plain scalar cannot be a bare '-' here", r_.span());
      ok = scan_plain_scalar();
      break;
    case ':':
      if (json_before || ends_indicator(1)) return scan_value_indicator();
      ok = scan_plain_scalar();
      break;
    case '?':
      if (ends_indicator(1)) return scan_key_indicator();
      ok = scan_plain_scalar();
      break;
    case '@':
    case '`':
      return fail(reserved_indicator_message(c), r_.span());
    case '|':
    case '>':
      // Block scalars only exist in block context; as the start of a plain
      // scalar the indicator would silently become text ("[a, |\n b]").
      return fail(std::string("'") + static_cast<char>(c) + "' cannot start a scalar inside a flow collection",
                  r_.span());
    case '[':
      return scan_flow_start(false);
    case '{':
      return scan_flow_start(true);
    case ']':
      return scan_flow_end(false);
    case '}':
      return scan_flow_end(true);
    default:
      if (scan_flow_run()) return true;
      ok = scan_plain_scalar();
      break;
  }
  if (ok) entry_has_content_ = true;
  return ok;
}

// ---- indentation ------------------------------------------------------------

void Tokenizer::pop_indent() {
  if (indents_.empty()) {
    indent_ = -1;
  } else {
    indent_ = indents_.back();
    indents_.pop_back();
  }
  if (sequence_flags_.empty()) {
    in_sequence_ = false;
  } else {
    in_sequence_ = sequence_flags_.back() != 0;
    sequence_flags_.pop_back();
  }
}

void Tokenizer::unroll_indent(std::int64_t column) {
  if (in_flow()) return;
  while (indent_ > column) {
    push(EventKind::BlockEnd, r_.span());
    pop_indent();
    indent_unrolled_ = true;
  }
}

bool Tokenizer::roll_indent(std::uint32_t column, EventKind kind, const Span& span) {
  if (in_flow()) return true;
  if (after_document_start()) {
    return fail("a block collection cannot start on the same line as ---", span);
  }
  if (static_cast<std::int64_t>(column) > indent_) {
    if (kind == EventKind::MappingStart && key_line_ == static_cast<std::int64_t>(r_.line)) {
      return fail(kMappingOnKeyLine, span);
    }
    indents_.push_back(indent_);
    sequence_flags_.push_back(in_sequence_);
    indent_ = column;
    in_sequence_ = kind == EventKind::SequenceStart;
    push(kind, span);
  }
  return true;
}

// ---- document markers and directives ----------------------------------------

void Tokenizer::scan_document_start() {
  unroll_indent(-1);
  indent_ = -1;
  Span span = r_.span();
  r_.advance_three();
  simple_key_allowed_ = false;
  document_start_line_ = r_.line;
  push(EventKind::DocumentStart, span);
}

bool Tokenizer::scan_document_end() {
  unroll_indent(-1);
  indent_ = -1;
  Span span = r_.span();
  r_.advance_three();
  unsigned char nb = r_.next_non_blank();
  if (!(nb == 0 || is_break(nb) || nb == '#')) {
    return fail("unexpected content after document-end marker (...)", span);
  }
  simple_key_allowed_ = false;
  directives_allowed_ = true;
  maybe_prefix_ = true;
  push(EventKind::DocumentEnd, span);
  return true;
}

void Tokenizer::scan_directive() {
  unroll_indent(-1);
  Span span = r_.span();
  r_.advance_ascii(1);  // "%"
  std::size_t start = r_.offset;
  r_.skip_to_line_end();
  simple_key_allowed_ = false;
  push_text(EventKind::Directive, span, span.offset,
            std::string_view(reinterpret_cast<const char*>(r_.text) + start, r_.offset - start));
}

// ---- flow collections -------------------------------------------------------

void Tokenizer::save_key_candidate() {
  if (!in_flow() && simple_key_allowed_ && !candidate_.present) {
    candidate_.present = true;
    candidate_.position = out_.size();
    candidate_.span = r_.span();
    candidate_.tab = tab_in_indent_;
    candidate_.required = static_cast<std::int64_t>(r_.column) == indent_;
  }
}

// The candidate ends without a ":".  Only a key stands at a block mapping's
// key column ("k: v\n[a]" and "k:\n*a" are no pairs), unless a property
// there is refused for its indentation (`property_indent_pending_`).
bool Tokenizer::drop_key_candidate() {
  candidate_.present = false;
  if (candidate_.required && !property_indent_pending_) [[unlikely]] {
    return fail(kExpectedColon, candidate_.span);
  }
  return true;
}

bool Tokenizer::scan_flow_start(bool mapping) {
  Span span = r_.span();
  if (flow_level_ >= kMaxFlowDepth) {
    return fail("maximum nesting depth (" + std::to_string(kMaxFlowDepth) + ") exceeded", span);
  }
  if (flow_level_ == 0) {
    flow_start_line_ = r_.line;
    flow_block_indent_ = indent_;
    save_key_candidate();
  }
  r_.advance_ascii(1);
  ++flow_level_;
  flow_kinds_.push_back((mapping ? kFlowMapping : 0) | (flow_value_seen_ ? kFlowOuterValue : 0));
  flow_value_seen_ = false;
  simple_key_allowed_ = true;
  entry_has_content_ = false;
  entry_complete_ = false;
  explicit_flow_key_ = false;
  // A ":" right after a JSON-like node is its value indicator; the first
  // entry of a new collection follows no node (not one that closed before
  // this collection opened, in block context).
  json_like_before_ = false;
  push(mapping ? EventKind::MappingStart : EventKind::SequenceStart, span).flow = true;
  return true;
}

bool Tokenizer::scan_flow_end(bool mapping) {
  Span span = r_.span();
  const char close = mapping ? '}' : ']';
  if (flow_level_ == 0) {
    return fail(std::string("unexpected '") + close + "' with no open flow collection", span);
  }
  r_.advance_ascii(1);
  --flow_level_;
  const bool opened_mapping = (flow_kinds_.back() & kFlowMapping) != 0;
  flow_value_seen_ = (flow_kinds_.back() & kFlowOuterValue) != 0;
  flow_kinds_.pop_back();
  if (opened_mapping != mapping) {
    return fail(std::string("mismatched flow collection: '") + close + "' cannot close a '" +
                    (opened_mapping ? '{' : '[') + "'",
                span);
  }
  simple_key_allowed_ = false;
  entry_has_content_ = true;
  entry_complete_ = true;
  json_like_before_ = true;
  entry_line_ = r_.line;
  push(mapping ? EventKind::MappingEnd : EventKind::SequenceEnd, span);
  if (flow_level_ == 0) {
    unsigned char nb = r_.next_non_blank();
    if (!(nb == 0 || is_break(nb) || nb == '#' || nb == ':')) {
      return fail("unexpected content after flow collection", r_.span());
    }
    if (nb == ':' && flow_start_line_ != static_cast<std::int64_t>(r_.line)) {
      return fail("a multiline flow collection cannot be an implicit mapping key", span);
    }
  }
  return true;
}

bool Tokenizer::scan_flow_entry() {
  Span span = r_.span();
  if (!entry_has_content_) return fail("empty flow entry (stray ',')", span);
  r_.advance_ascii(1);
  simple_key_allowed_ = true;
  entry_has_content_ = false;
  entry_complete_ = false;
  explicit_flow_key_ = false;
  flow_value_seen_ = false;
  push(EventKind::FlowEntry, span);
  return true;
}

// ---- block indicators -------------------------------------------------------

bool Tokenizer::scan_block_entry(bool was_after_entry) {
  Span span = r_.span();
  const auto line = static_cast<std::int64_t>(r_.line);
  if (tab_in_indent_) {
    error_ = tab_indent_error(span);
    return false;
  }
  if (key_line_ == line) {
    return fail("a block sequence cannot start on the same line as its mapping key", span);
  }
  if (property_line_ == line) {
    return fail("a block sequence entry cannot follow an anchor or tag on the same line", span);
  }
  if (indent_ < static_cast<std::int64_t>(r_.column) && in_sequence_ && !was_after_entry &&
      indent_unrolled_) {
    return fail("a sequence entry is indented past its sequence", span);
  }
  if (!roll_indent(r_.column, EventKind::SequenceStart, span)) return false;
  r_.advance_ascii(1);
  if (r_.at() == ' ') r_.advance_ascii(1);
  simple_key_allowed_ = true;
  after_entry_ = true;
  push(EventKind::SequenceEntry, span);
  return true;
}

bool Tokenizer::scan_key_indicator() {
  Span span = r_.span();
  if (!in_flow() && tab_in_indent_) {
    error_ = tab_indent_error(span);
    return false;
  }
  // Properties of a block mapping end their line.  Read on, "!t ? a" gave a
  // key event with no mapping, which a document read differently at the
  // stream's start than after a "---" line.
  if (!in_flow() && property_line_ == static_cast<std::int64_t>(r_.line)) {
    return fail("an explicit key cannot follow an anchor or tag on the same line", span);
  }
  if (!roll_indent(r_.column, EventKind::MappingStart, span)) return false;
  r_.advance_ascii(1);
  if (!in_flow() && r_.at() == '\t') {
    error_ = tab_indent_error(r_.span());
    return false;
  }
  if (r_.at() == ' ') r_.advance_ascii(1);
  simple_key_allowed_ = true;
  entry_complete_ = false;
  if (in_flow()) explicit_flow_key_ = true;
  push(EventKind::Key, span).explicit_key = true;
  return true;
}

void Tokenizer::queue_value_indicator() {
  Span span = r_.span();
  r_.advance_ascii(1);
  if (r_.at() == ' ') r_.advance_ascii(1);
  // In a flow collection the value cannot be a key in turn: "{a: b: c}".
  simple_key_allowed_ = !in_flow();
  entry_complete_ = false;
  explicit_flow_key_ = false;
  if (in_flow()) {
    flow_value_seen_ = true;
  } else {
    after_key_ = true;
  }
  push(EventKind::Value, span);
}

bool Tokenizer::scan_value_indicator() {
  Span span = r_.span();
  if (in_flow()) {
    if (flow_value_seen_) return fail(kMissingComma, span);
  } else {
    KeyCandidate key = candidate_;
    candidate_.present = false;
    if (key.present && key.span.line == r_.line) {
      if (key.tab) {
        error_ = tab_indent_error(span);
        return false;
      }
      property_indent_pending_ = false;
      // The key began at the candidate (an anchor, tag, alias or flow
      // collection): the mapping start and the key go before it, with its
      // position, so that the span's offset, line and column agree.
      SpannedEvent inserted;
      inserted.set_start(key.span);
      inserted.end_offset = static_cast<std::uint32_t>(key.span.offset);
      std::size_t pos = key.position;
      if (static_cast<std::int64_t>(key.span.column) > indent_) {
        if (key_line_ == static_cast<std::int64_t>(r_.line)) return fail(kMappingOnKeyLine, key.span);
        indents_.push_back(indent_);
        sequence_flags_.push_back(in_sequence_);
        indent_ = key.span.column;
        in_sequence_ = false;
        inserted.kind = EventKind::MappingStart;
        out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(pos), inserted);
        ++pos;
      }
      inserted.kind = EventKind::Key;
      out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(pos), inserted);
    } else if (!roll_indent(r_.column, EventKind::MappingStart, span)) {
      return false;
    }
  }
  queue_value_indicator();
  return true;
}

// ---- node properties and aliases --------------------------------------------

bool Tokenizer::check_property_indent(const Span& span) {
  if (!in_flow() && after_key_ && static_cast<std::int64_t>(span.column) <= indent_) [[unlikely]] {
    // Not indented enough for the value of the previous key, but it may be
    // the first property of the next key ("a:\n&x b: 1").  That is known
    // once the key candidate it starts is taken by a ":" or dropped.
    if (candidate_.present ? property_indent_pending_ : simple_key_allowed_) {
      if (!property_indent_pending_) {
        property_indent_pending_ = true;
        property_indent_span_ = span;
      }
      return true;
    }
    return fail(kPropertyIndent, span);
  }
  return true;
}

bool Tokenizer::scan_anchor_or_alias(bool alias) {
  Span span = r_.span();
  if (!alias && !check_property_indent(span)) return false;
  save_key_candidate();
  r_.advance_ascii(1);
  const std::size_t start = r_.offset;
  std::size_t i = start;
  while (i < r_.length) {
    unsigned char c = r_.text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || is_flow_indicator(c)) break;
    ++i;
  }
  if (i == start) return fail(alias ? "expected alias name" : "expected anchor name", span);
  r_.advance_run(i - start);
  simple_key_allowed_ = false;
  if (!alias && !in_flow()) property_line_ = r_.line;
  if (alias && in_flow()) {
    entry_complete_ = true;
    entry_line_ = r_.line;
  }
  push_text(alias ? EventKind::Alias : EventKind::Anchor, span, span.offset,
            std::string_view(reinterpret_cast<const char*>(r_.text) + start, i - start));
  return true;
}

bool Tokenizer::scan_tag() {
  Span span = r_.span();
  if (!check_property_indent(span)) return false;
  save_key_candidate();
  std::size_t i = r_.offset + 1;
  if (r_.at(1) == '<') {
    i = r_.offset + 2;
    while (i < r_.length && r_.text[i] != '>' && !is_blank_break_or_end(r_.text[i])) ++i;
    if (i >= r_.length || r_.text[i] != '>') {
      return fail("unterminated verbatim tag: expected '>'", span);
    }
    if (i == r_.offset + 2) return fail("a verbatim tag must not be empty", span);
    ++i;  // ">"
  } else {
    while (i < r_.length) {
      unsigned char c = r_.text[i];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ']' || c == '}') break;
      ++i;
    }
  }
  r_.advance_run(i - r_.offset);
  simple_key_allowed_ = false;
  if (!in_flow()) property_line_ = r_.line;
  push_text(EventKind::Tag, span, span.offset,
            std::string_view(reinterpret_cast<const char*>(r_.text) + span.offset, i - span.offset));
  return true;
}

}  // namespace kestrine::scan
