// Internal: the tokenizer state of one scan_events call.  The output vector
// doubles as the token queue: tokens are appended at the back and, for an
// implicit key found late, inserted at the position saved with the key
// candidate (nothing before that position is final until the ":" is seen).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scanner/reader.hpp"
#include "scanner/scanner.hpp"

namespace kestrine::scan {

inline constexpr const char* kMissingComma = "missing ',' between flow collection entries";
inline constexpr const char* kExpectedColon = "expected ':' after mapping key";

class Tokenizer {
 public:
  Tokenizer(Scanner& scanner, ScanResult& result);

  // Runs the whole scan; false with `error()` filled on the first error.
  [[nodiscard]] bool run();
  ScanError& error() noexcept { return error_; }

 private:
  struct KeyCandidate {
    bool present = false;
    std::size_t position = 0;  // index in the output vector
    Span span;
    bool tab = false;
    bool required = false;  // at a block mapping's key column: a key or an error
  };

  // ---- queue ----
  // The event is made whole and then appended: one copy of 32 bytes, not a
  // zeroed slot written field by field (millions of these per large text).
  SpannedEvent& push(EventKind kind, const Span& span) {
    SpannedEvent e;
    e.kind = kind;
    e.set_start(span);
    e.end_offset = static_cast<std::uint32_t>(span.offset);
    return out_.emplace_back(e);
  }
  SpannedEvent& push_text(EventKind kind, const Span& span, std::size_t end, std::string_view text) {
    SpannedEvent e;
    e.kind = kind;
    e.set_start(span);
    e.end_offset = static_cast<std::uint32_t>(end);
    e.set_text(text);
    return out_.emplace_back(e);
  }

  // ---- errors ----
  [[nodiscard]] bool fail(const char* message, const Span& span);
  [[nodiscard]] bool fail(std::string message, const Span& span);

  // ---- tokenizer steps ----
  [[nodiscard]] bool fetch_next_token();
  [[nodiscard]] bool skip_whitespace_and_comments();
  void skip_prefix_byte_order_mark();
  void skip_comment();
  [[nodiscard]] bool fetch_block();
  [[nodiscard]] bool fetch_flow();
  [[nodiscard]] bool roll_indent(std::uint32_t column, EventKind kind, const Span& span);
  void unroll_indent(std::int64_t column);
  void pop_indent();
  void scan_document_start();
  [[nodiscard]] bool scan_document_end();
  void scan_directive();
  [[nodiscard]] bool scan_flow_start(bool mapping);
  [[nodiscard]] bool scan_flow_end(bool mapping);
  [[nodiscard]] bool scan_flow_entry();
  [[nodiscard]] bool scan_block_entry(bool was_after_entry);
  [[nodiscard]] bool scan_key_indicator();
  [[nodiscard]] bool scan_value_indicator();
  void queue_value_indicator();
  [[nodiscard]] bool scan_anchor_or_alias(bool alias);
  [[nodiscard]] bool scan_tag();
  [[nodiscard]] bool check_property_indent(const Span& span);
  void save_key_candidate();
  [[nodiscard]] bool drop_key_candidate();
  // `start` is at the key column of a block mapping (a block sequence at
  // that column has been closed by then): only a key may start there.
  bool at_key_column(const Span& start) const noexcept {
    return !in_flow() && static_cast<std::int64_t>(start.column) == indent_;
  }

  // ---- scalars ----
  // Runs of simple plain scalars (plain_runs.cpp): false when the cursor is
  // not at one, and then nothing has changed.
  [[nodiscard]] bool scan_flow_run();
  [[nodiscard]] bool scan_block_run();
  [[nodiscard]] bool scan_plain_scalar();
  std::size_t skip_to_content_line(bool& tab_in_line);
  [[nodiscard]] bool finish_plain_scalar(const Span& start, std::size_t end, std::string_view value,
                                         bool allowed, bool tab);
  [[nodiscard]] bool scan_quoted_scalar(bool single);
  [[nodiscard]] bool finish_quoted_scalar(const Span& start, std::size_t end, std::string_view value,
                                          ScalarStyle style, bool allowed, bool tab);
  [[nodiscard]] bool scan_block_scalar(bool literal);
  [[nodiscard]] bool block_scalar_header(int& chomp, std::uint32_t& explicit_indent);
  [[nodiscard]] bool detect_block_indent(const Span& indicator, std::int64_t& content_indent);
  [[nodiscard]] bool block_scalar_blank_lines(std::size_t& breaks);
  void block_scalar_lines(std::uint32_t indent, bool literal, std::size_t& breaks, bool& has_content);
  [[nodiscard]] bool fold_quoted_line();
  [[nodiscard]] bool scan_escape(std::size_t& content_end, const Span& quote);
  std::uint64_t combine_surrogates(std::uint64_t high);
  void append_raw(std::size_t from, std::size_t to, std::size_t& content_end);
  std::string_view store(const std::string& buf) { return result_.arena.store(buf); }

  bool in_flow() const noexcept { return flow_level_ > 0; }
  bool after_document_start() const noexcept { return document_start_line_ == r_.line; }

  Scanner& scanner_;
  ScanResult& result_;
  std::vector<SpannedEvent, EventAllocator<SpannedEvent>>& out_;
  Reader r_;
  ScanError error_;

  std::int64_t indent_ = -1;
  std::vector<std::int64_t> indents_;
  bool in_sequence_ = false;
  std::vector<std::uint8_t> sequence_flags_;

  std::uint32_t flow_level_ = 0;
  // One entry per open flow collection: kFlowMapping for "{" (else "["), and
  // kFlowOuterValue when the entry that holds it had read its ":" already.
  static constexpr std::uint8_t kFlowMapping = 1;
  static constexpr std::uint8_t kFlowOuterValue = 2;
  std::vector<std::uint8_t> flow_kinds_;
  bool in_flow_sequence() const noexcept { return !flow_kinds_.empty() && (flow_kinds_.back() & kFlowMapping) == 0; }

  KeyCandidate candidate_;

  std::int64_t flow_start_line_ = -1;
  std::int64_t flow_block_indent_ = -1;
  std::int64_t entry_line_ = -1;
  std::int64_t key_line_ = -1;
  std::int64_t property_line_ = -1;
  // Line on which a "---" was read; "after the document start" while the
  // cursor is still on that line.
  std::int64_t document_start_line_ = -1;
  // Just past the last byte order mark skipped in a document prefix: a "#"
  // there starts a comment.
  std::size_t bom_end_ = 0;
  // No line break was met since the stream start or the last "..." after
  // some other token: the lines may still be a document prefix.
  bool maybe_prefix_ = true;

  bool stream_end_done_ = false;
  bool directives_allowed_ = true;
  bool simple_key_allowed_ = true;
  bool tab_in_indent_ = false;
  bool pending_tab_in_indent_ = false;  // a plain scalar skipped a tab in the next line's indentation
  bool after_key_ = false;
  bool after_entry_ = false;
  bool indent_unrolled_ = false;
  bool entry_has_content_ = false;
  bool entry_complete_ = false;
  bool explicit_flow_key_ = false;
  bool json_like_before_ = false;
  // The current flow entry has read its ":": a second one ("{a: b: c}",
  // "{a: b c: d}") means a ',' is missing.
  bool flow_value_seen_ = false;
  // A property left of the value column after a ":" ("a:\n&x"): an error
  // unless a ":" on its line turns it into the property of the next key.
  bool property_indent_pending_ = false;
  Span property_indent_span_;

  std::string scratch_;  // reused buffer for scalar values that need changes
};

}  // namespace kestrine::scan
