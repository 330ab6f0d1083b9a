// Runs of simple plain scalars: the shapes that data files repeat by the
// thousand, read without the general token steps.
//
//   [a, b, c]            flow sequence items, each followed by "," or "]"
//                        on its line
//   - a                  block sequence entries at the sequence's column
//   k: a                 block mapping pairs at the mapping's column
//
// A simple scalar is one or more words of printable ASCII separated by
// spaces, holding no ":" or "#" (nor, in flow context, a flow indicator),
// and starting with a byte that starts a plain scalar wherever it stands.
// Each run pushes exactly the events, and leaves exactly the state, that
// the general steps would, and hands back to them at the first item or line
// of any other shape: a comment, an empty or continued line, a tab, a lone CR, a
// quote, a property, a nested collection, a document marker, the end of the
// text.  So a run never reports an error: whatever it does not know, the
// general steps read (and judge) as before.
#include <array>

#include "scanner/tokenizer.hpp"

namespace kestrine::scan {

namespace {

// Bytes inside a simple scalar.
constexpr std::array<bool, 256> make_inner(bool flow) {
  std::array<bool, 256> t{};
  for (int c = 0x21; c < 0x7F; ++c) t[c] = true;
  t[':'] = t['#'] = false;
  if (flow) t[','] = t['['] = t[']'] = t['{'] = t['}'] = false;
  return t;
}
constexpr std::array<bool, 256> kInnerBlock = make_inner(false);
constexpr std::array<bool, 256> kInnerFlow = make_inner(true);

// Bytes that start a plain scalar in block and flow context alike, none of
// them an indicator.  "-" does too when an inner byte follows ("-5").
constexpr std::array<bool, 256> make_first() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = true;
  for (unsigned char c : {'.', '~', '_', '+', '/', '$', '(', '<', '='}) t[c] = true;
  return t;
}
constexpr std::array<bool, 256> kFirst = make_first();

[[gnu::always_inline]] inline bool starts_simple(const unsigned char* text, std::size_t len, std::size_t i,
                                                 const std::array<bool, 256>& inner) noexcept {
  if (i >= len) return false;
  const unsigned char c = text[i];
  return kFirst[c] || (c == '-' && i + 1 < len && inner[text[i + 1]]);
}

// Past the last word of the simple scalar whose first byte is at `i`.
[[gnu::always_inline]] inline std::size_t simple_end(const unsigned char* text, std::size_t len, std::size_t i,
                                                     const std::array<bool, 256>& inner) noexcept {
  ++i;
  for (;;) {
    while (i < len && inner[text[i]]) ++i;
    std::size_t k = i;
    while (k < len && text[k] == ' ') ++k;
    if (k == i || k >= len || !inner[text[k]]) return i;
    i = k;
  }
}

inline std::size_t skip_spaces(const unsigned char* text, std::size_t len, std::size_t i) noexcept {
  while (i < len && text[i] == ' ') ++i;
  return i;
}

// "---" or "..." at `i` followed by a blank, a line break or the end.
inline bool document_marker_at(const unsigned char* text, std::size_t len, std::size_t i) noexcept {
  if (len - i < 3 || (text[i] != '-' && text[i] != '.') || text[i + 1] != text[i] || text[i + 2] != text[i])
    return false;
  return i + 3 == len || is_blank_break_or_end(text[i + 3]);
}

// One line of a block run.  `head` is where the line's content starts: a
// "-" or a key.  `value` to `value_end` is the value scalar, `key_end` and
// `colon` are set for a pair.
struct RunLine {
  std::size_t value = 0;
  std::size_t value_end = 0;
  std::size_t key_end = 0;
  std::size_t colon = 0;
  std::size_t next = 0;         // the first content byte of the next line
  std::uint32_t next_column = 0;  // its column
};

// The value part shared by both line shapes: a simple scalar from `i`, then
// spaces and a line feed (or CR LF), then a next line whose content starts at or left
// of the collection's column, so that the scalar ends with its line (and is
// no key: that line does not start with ":").
bool run_value(const unsigned char* text, std::size_t len, std::size_t i, std::int64_t indent, RunLine& out) {
  i = skip_spaces(text, len, i);
  if (!starts_simple(text, len, i, kInnerBlock)) return false;
  out.value = i;
  out.value_end = simple_end(text, len, i, kInnerBlock);
  std::size_t k = skip_spaces(text, len, out.value_end);
  if (k + 1 < len && text[k] == '\r' && text[k + 1] == '\n') ++k;  // CR LF is one line break
  if (k >= len || text[k] != '\n') return false;
  const std::size_t line = k + 1;
  k = skip_spaces(text, len, line);
  if (k >= len || static_cast<std::int64_t>(k - line) > indent) return false;
  const unsigned char c = text[k];
  if (c == '\t' || c == '\n' || c == '\r' || c == ':') return false;
  out.next = k;
  out.next_column = static_cast<std::uint32_t>(k - line);
  return true;
}

}  // namespace

// Flattened: the event appends inline into the loop.
[[gnu::flatten]] bool Tokenizer::scan_flow_run() {
  if (!scanner_.plain_runs || !in_flow_sequence() || explicit_flow_key_) return false;
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  std::size_t i = r_.offset;
  std::uint32_t column = r_.column;
  bool any = false;
  bool after_item = false;  // the run ended at a "]" right after an item
  while (starts_simple(text, len, i, kInnerFlow)) {
    const std::size_t end = simple_end(text, len, i, kInnerFlow);
    const std::size_t k = skip_spaces(text, len, end);
    if (k >= len || (text[k] != ',' && text[k] != ']')) break;
    const Span start{r_.file_id, r_.line, column, i};
    push_text(EventKind::Scalar, start, end,
              std::string_view(reinterpret_cast<const char*>(text) + i, end - i));
    any = true;
    column += static_cast<std::uint32_t>(k - i);
    i = k;
    if (text[k] == ']') {
      after_item = true;
      break;
    }
    push(EventKind::FlowEntry, Span{r_.file_id, r_.line, column, k});
    const std::size_t next = skip_spaces(text, len, k + 1);
    column += static_cast<std::uint32_t>(next - k);
    i = next;
  }
  if (!any) return false;
  r_.offset = i;
  r_.column = column;
  json_like_before_ = false;
  if (after_item) {  // as after a plain scalar in flow context
    entry_has_content_ = true;
    entry_complete_ = true;
    entry_line_ = r_.line;
  } else {  // as after a ","
    simple_key_allowed_ = true;
    entry_has_content_ = false;
    entry_complete_ = false;
    flow_value_seen_ = false;
  }
  return true;
}

[[gnu::flatten]] bool Tokenizer::scan_block_run() {
  if (!scanner_.plain_runs || in_flow() || static_cast<std::int64_t>(r_.column) != indent_ ||
      property_indent_pending_ || candidate_.present || tab_in_indent_ || !simple_key_allowed_ ||
      after_document_start()) {
    return false;
  }
  const unsigned char* text = r_.text;
  const std::size_t len = r_.length;
  // Only at the first content of a line: nothing of this line is queued yet.
  const std::size_t line_start = r_.offset - r_.column;
  if (skip_spaces(text, len, line_start) != r_.offset) return false;

  const bool sequence = in_sequence_;
  std::size_t p = r_.offset;
  std::uint32_t line = r_.line;
  bool any = false;
  RunLine l;
  for (;;) {
    if (indent_ == 0 && document_marker_at(text, len, p)) break;  // "---" and "..." end the document
    if (sequence) {
      if (p + 1 >= len || text[p] != '-' || text[p + 1] != ' ' || !run_value(text, len, p + 2, indent_, l)) break;
    } else {
      if (!starts_simple(text, len, p, kInnerBlock)) break;
      l.key_end = simple_end(text, len, p, kInnerBlock);
      l.colon = l.key_end;
      if (l.colon + 1 >= len || text[l.colon] != ':' || text[l.colon + 1] != ' ' ||
          !run_value(text, len, l.colon + 2, indent_, l))
        break;
    }
    const auto column = static_cast<std::uint32_t>(indent_);
    const auto at = [&](std::size_t offset) {
      return Span{r_.file_id, line, column + static_cast<std::uint32_t>(offset - p), offset};
    };
    if (sequence) {
      push(EventKind::SequenceEntry, at(p));
    } else {
      push(EventKind::Key, at(p));
      push_text(EventKind::Scalar, at(p), l.key_end,
                std::string_view(reinterpret_cast<const char*>(text) + p, l.key_end - p));
      push(EventKind::Value, at(l.colon));
      key_line_ = line;
    }
    push_text(EventKind::Scalar, at(l.value), l.value_end,
              std::string_view(reinterpret_cast<const char*>(text) + l.value, l.value_end - l.value));
    any = true;
    ++line;
    p = l.next;
    if (static_cast<std::int64_t>(l.next_column) != indent_) break;
  }
  if (!any) return false;
  // As after a plain scalar that ended with its line.
  r_.offset = p;
  r_.line = line;
  r_.column = l.next_column;
  simple_key_allowed_ = true;
  after_key_ = false;
  after_entry_ = false;
  entry_complete_ = false;
  explicit_flow_key_ = false;
  pending_tab_in_indent_ = false;
  return true;
}

}  // namespace kestrine::scan
