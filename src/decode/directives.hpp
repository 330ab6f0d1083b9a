// Directives and tags for every reader of YAML text (the plain decoder and
// the round-trip composer alike, so that both accept and refuse the same
// streams): the words of a directive line, the %YAML version test, the
// custom-tag test, the %TAG handle table of one document that expands a
// node's tag, the check of a run of directives before a document, the
// message for an alias to an unknown anchor, and the message for content
// that a block sequence cannot hold.
//
// `TagHandles` refers to the handle and prefix texts it is given (views into
// the scanned text), so they must outlive it.  `resolve` allocates expanded
// tags in the caller's arena; `expand` gives the two parts for callers that
// keep their own text.  Cleared by the caller at each document end.
//
//   TagHandles handles;
//   auto next = read_directive_run(events, i, handles);  // at a Directive event
//   if (!next) fail(next.error().message, events[next.error().event]);
//   auto tag = handles.expand(tag_text);                // per Tag event
//   if (!tag) fail(undefined_tag_handle_message(tag.error()), ...);
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// Splits a directive line into words at Unicode White_Space characters.
std::vector<std::string_view> split_directive_words(std::string_view line);

// "MAJOR.MINOR", both all ASCII digits.
bool valid_yaml_version(std::string_view version) noexcept;

// False for tags beginning with "!!" or the core prefix, also written
// verbatim ("!<tag:yaml.org,2002:int>").
bool is_custom_tag(std::string_view tag) noexcept;

// A tag as the handles read it: the declared prefix that replaces the
// handle, then the rest of the tag as written.  `expanded` is false when no
// handle applies and the tag stands as written.
struct TagExpansion {
  std::string_view prefix;
  std::string_view suffix;
  bool expanded = false;

  std::string text() const { return std::string(prefix) + std::string(suffix); }
};

class TagHandles {
 public:
  void clear() noexcept { handles_.clear(); }

  // The prefix declared for `handle`, or null.
  const std::string_view* find(std::string_view handle) const noexcept;

  // Declares a handle; false when it is declared already.
  bool add(std::string_view handle, std::string_view prefix);

  // The tag as written, or expanded through the declared handles (a fresh
  // text in `arena`).  "!!x" without a declared "!!" is kept as written: the
  // resolvers read "!!x" and the core-prefixed spelling alike, and neither
  // is a custom tag, so the expanded text would never be stored.  The error
  // is the undeclared handle of a "!h!x" tag.
  std::expected<std::string_view, std::string_view> resolve(std::string_view tag,
                                                            ValueArena& arena) const;

  // As resolve, without building the text.
  std::expected<TagExpansion, std::string_view> expand(std::string_view tag) const;

 private:
  // Usually a handful, but a document may declare any number.
  SeededHashMap<std::string_view, std::string_view> handles_;
};

// "undefined tag handle: {handle}", for the error of `expand` and `resolve`.
std::string undefined_tag_handle_message(std::string_view handle);

// The error for the alias `events[alias]` whose anchor no complete node of
// its document carries: "unknown alias: *{name}", followed by " (the alias
// refers to the node that contains it)" when an anchor of that name opens a
// node that is still open there (anchors count once their node is
// complete, so such an alias can never be read).  Scans back to the start
// of the document: for the error path only.
std::string unknown_alias_message(std::span<const SpannedEvent> events, std::size_t alias);

// The error for an event that stands in a block sequence where only its
// next "- " entry or its end may: every item of a block sequence is
// introduced by its own "- ", so anything else there is left over after
// an item ("- a\n  # c\n  b", "- [a]\n  - b").
const char* block_sequence_content_message(const SpannedEvent& event) noexcept;

// A directive error: the message and the index of the event it names.
struct DirectiveError {
  std::string message;
  std::size_t event = 0;
};

// Reads the run of Directive events that starts at `events[first]`: checks
// each %YAML line (well formed, once per run), declares each %TAG handle in
// `handles` (a handle declared twice fails), ignores other directives, and
// checks that a document start ("---") follows the run.  Gives the index of
// that DocumentStart event.
std::expected<std::size_t, DirectiveError> read_directive_run(std::span<const SpannedEvent> events,
                                                              std::size_t first, TagHandles& handles);

}  // namespace kestrine
