// The YAML scanner: turns a whole UTF-8 text into the vector of positioned
// events of every document in one pass.
//
// Usage:
//   kestrine::Scanner sc = kestrine::new_scanner(text);
//   sc.file_id = 3;              // optional: number of an included file
//   sc.keep_comments = true;     // optional: collect comments into sc.comments
//   auto result = kestrine::scan_events(sc);   // once per scanner
//   if (!result) { /* result.error().message, result.error().span */ }
//   for (const SpannedEvent& ev : result->events) {
//     ev.kind; ev.text(); result->start(ev) /* Span */; ev.end();
//   }
//
// Lifetimes: event texts (`SpannedEvent::text()`) and comment texts
// (`SourceComment::text`) are views.  They point either into the input text
// or into storage owned by the `ScanResult`.  The input text must therefore
// outlive the `ScanResult` and every `SourceComment`; the `ScanResult`'s
// owned storage never moves, so moving the result (or its `events` vector)
// keeps every view valid.  Copy a text into a std::string to keep it longer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/event_storage.hpp"
#include "scanner/span.hpp"

namespace kestrine {

// Scalar presentation style; the numbering is fixed.
enum class ScalarStyle : std::uint8_t {
  Plain = 0,
  SingleQuoted = 1,
  DoubleQuoted = 2,
  Literal = 3,
  Folded = 4,
};

// The kinds of scanner output; the numbering is fixed.
enum class EventKind : std::uint8_t {
  StreamStart = 0,
  StreamEnd = 1,
  DocumentStart = 2,   // "---"
  DocumentEnd = 3,     // "..."
  MappingStart = 4,    // `flow`: "{" (true) or a block mapping (false)
  MappingEnd = 5,      // "}"
  SequenceStart = 6,   // `flow`: "[" (true) or a block sequence (false)
  SequenceEnd = 7,     // "]"
  BlockEnd = 8,        // end of a block collection
  Key = 9,             // `explicit_key`: introduced by "?"
  Value = 10,          // ":"
  SequenceEntry = 11,  // block "-"
  FlowEntry = 12,      // ","
  Scalar = 13,         // `text` (value after escapes, folding, chomping), `style`
  Anchor = 14,         // `text`: the name without "&"
  Alias = 15,          // `text`: the name without "*"
  Tag = 16,            // `text`: the tag as written, starting with "!"
  Directive = 17,      // `text`: the line after "%" up to the line break, unchanged
};

// Lower-case name of a kind ("stream_start", "scalar", ...), for messages
// and test output.
std::string_view event_kind_name(EventKind kind) noexcept;
// "plain", "single", "double", "literal", "folded".
std::string_view scalar_style_name(ScalarStyle style) noexcept;

// One element of the scanner's output.
//
// Block collections close with BlockEnd, flow collections with MappingEnd /
// SequenceEnd.  A pair shows as Key, key node, Value, value node; an empty
// key or value is the absence of a node between the indicators.  Properties
// (Anchor, Tag) come before their node's own event.
//
// Events are kept to 32 bytes, since a large text yields millions of them:
// positions are 32-bit (scan_events refuses texts of 4 GiB or more) and the
// file number, the same for every event of one scan, lives in the ScanResult
// (`ScanResult::file_id`); `start(file_id)` rebuilds the full Span.
struct SpannedEvent {
  // Payload of Scalar, Anchor, Alias, Tag and Directive; empty otherwise.
  // A view into the input text or into the owning ScanResult's storage.
  const char* text_data = nullptr;
  std::uint32_t text_size = 0;
  EventKind kind = EventKind::StreamStart;
  ScalarStyle style = ScalarStyle::Plain;  // Scalar only
  bool flow = false;                       // MappingStart / SequenceStart only
  bool explicit_key = false;               // Key only
  // Position of the first character (see Span).
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t offset = 0;
  // Byte offset.  For a Scalar, just past the scalar as written (past the
  // last non-blank character of a plain scalar, past the closing quote, or
  // where a block scalar's scanning stopped); for every other kind it equals
  // `offset`.
  std::uint32_t end_offset = 0;

  std::string_view text() const noexcept { return {text_data, text_size}; }
  std::size_t end() const noexcept { return end_offset; }
  Span start(std::uint32_t file_id) const noexcept { return Span{file_id, line, column, offset}; }

  // Callers guarantee the sizes fit (texts under 4 GiB).
  void set_text(std::string_view s) noexcept {
    text_data = s.data();
    text_size = static_cast<std::uint32_t>(s.size());
  }
  void set_start(const Span& s) noexcept {
    line = s.line;
    column = s.column;
    offset = static_cast<std::uint32_t>(s.offset);
  }
};
static_assert(sizeof(SpannedEvent) <= 32);

// A syntax error: one of the scanner's fixed messages and the place it names.
struct ScanError {
  std::string message;
  Span span;
};

// One comment the scanner skipped (collected only with keep_comments): the
// text after "#", less one directly following space, with trailing white
// space removed (possibly empty), and the span of the "#".  `text` is a view
// into the input text.
struct SourceComment {
  std::string_view text;
  Span span;
};

// Append-only storage for scalar values that differ from their source text
// (escapes, folding, chomping).  Stored strings never move.
class TextArena {
 public:
  TextArena() = default;
  TextArena(TextArena&& other) noexcept;
  TextArena& operator=(TextArena&& other) noexcept;
  ~TextArena();
  TextArena(const TextArena&) = delete;
  TextArena& operator=(const TextArena&) = delete;

  // Copies `s` into the arena and returns a view of the copy.
  std::string_view store(std::string_view s);
  // Total bytes held (for tests and memory accounting).
  std::size_t bytes_used() const noexcept { return used_; }

 private:
  struct Chunk {
    char* data;
    std::size_t size;  // large chunks are mapped on their own (util/large_block.hpp)
  };
  void release() noexcept;
  std::vector<Chunk> chunks_;
  char* cur_ = nullptr;
  std::size_t left_ = 0;
  std::size_t used_ = 0;
};

// What a successful scan returns: every event of every document, starting
// with StreamStart and ending with the first StreamEnd, and the storage that
// owned event texts point into.
struct ScanResult {
  std::vector<SpannedEvent, EventAllocator<SpannedEvent>> events;
  TextArena arena;
  std::uint32_t file_id = 0;  // the scanner's file_id, shared by every event
  // Every event text is ASCII (the input is, and no escape made a non-ASCII
  // character), so readers may skip checking each text.
  bool ascii_texts = false;

  // The full position of an event's first character.
  Span start(const SpannedEvent& e) const noexcept { return e.start(file_id); }
};

// The largest text scan_events accepts is one byte under 4 GiB: event
// positions and text lengths are 32-bit.
inline constexpr std::size_t kMaxScanBytes = 0xFFFFFFFFu;

// The maximum number of flow collections open at once.
inline constexpr std::uint32_t kMaxFlowDepth = 1000;

// Scanner configuration and the facts a scan leaves behind.  Create with
// new_scanner, optionally set file_id / keep_comments, call scan_events once,
// then read comments and leading_bom.
struct Scanner {
  std::string_view text;       // borrowed, not copied
  std::uint32_t file_id = 0;   // copied into every Span (and ScanResult::file_id)
  bool keep_comments = false;  // collect skipped comments into `comments`
  // Read runs of simple plain scalars ("[1, 2, 3]", "- a" and "k: v" lines)
  // by the fast road.  The events are the same either way; tests turn it
  // off to compare the two roads.
  bool plain_runs = true;
  bool leading_bom = false;    // text starts with EF BB BF (and is longer than 2 bytes)
  std::size_t start_offset = 0;           // 3 after a byte-order mark, else 0
  std::vector<SourceComment, BlockAllocator<SourceComment>> comments;  // in text order; filled by scan_events
};

// Starts a scanner over `text` (UTF-8, validated by the caller).  A leading
// byte-order mark is skipped when the text is longer than 2 bytes.
Scanner new_scanner(std::string_view text) noexcept;

// Scans the whole text.  On the first syntax error returns it and nothing
// else; a text longer than kMaxScanBytes is refused with an error.  Never
// reads outside `text`, whatever the bytes.
std::expected<ScanResult, ScanError> scan_events(Scanner& scanner);

}  // namespace kestrine
