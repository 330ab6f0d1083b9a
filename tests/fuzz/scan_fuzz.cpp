// libFuzzer target: scan_events over arbitrary bytes (valid UTF-8 or not).
// Besides the sanitizers, it checks the invariants every consumer relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <expected>
#include <string_view>

#include "scanner/scanner.hpp"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

// The general steps alone must give the same events, texts and positions as
// the scan with its fast runs of simple plain scalars, or the same error.
void require_same_without_runs(std::string_view text, bool keep_comments,
                               const std::expected<kestrine::ScanResult, kestrine::ScanError>& fast) {
  kestrine::Scanner sc = kestrine::new_scanner(text);
  sc.keep_comments = keep_comments;
  sc.file_id = 3;
  sc.plain_runs = false;
  const auto slow = kestrine::scan_events(sc);
  require(slow.has_value() == fast.has_value());
  if (!slow) {
    require(slow.error().message == fast.error().message);
    require(slow.error().span.offset == fast.error().span.offset && slow.error().span.line == fast.error().span.line &&
            slow.error().span.column == fast.error().span.column);
    return;
  }
  require(slow->events.size() == fast->events.size());
  for (std::size_t i = 0; i < slow->events.size(); ++i) {
    const kestrine::SpannedEvent& a = slow->events[i];
    const kestrine::SpannedEvent& b = fast->events[i];
    require(a.kind == b.kind && a.style == b.style && a.flow == b.flow && a.explicit_key == b.explicit_key);
    require(a.line == b.line && a.column == b.column && a.offset == b.offset && a.end_offset == b.end_offset);
    require(a.text() == b.text());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kestrine::Scanner sc = kestrine::new_scanner(text);
  sc.keep_comments = size % 2 == 1;
  sc.file_id = 3;
  auto result = kestrine::scan_events(sc);
  require_same_without_runs(text, sc.keep_comments, result);
  if (!result) {
    const kestrine::ScanError& e = result.error();
    require(!e.message.empty());
    require(e.span.offset <= size);
    require(e.span.file_id == 3);
    return 0;
  }
  const auto& events = result->events;
  require(events.size() >= 2);
  require(events.front().kind == kestrine::EventKind::StreamStart);
  require(events.back().kind == kestrine::EventKind::StreamEnd);
  std::size_t previous_line = 0;
  int flow_depth = 0;
  require(result->file_id == 3);
  for (const kestrine::SpannedEvent& e : events) {
    const kestrine::Span start = result->start(e);
    require(start.offset <= size);
    require(e.end() >= start.offset && e.end() <= size);
    require(start.file_id == 3);
    if (e.kind != kestrine::EventKind::Scalar) require(e.end() == start.offset);
    // Events come in text order, except the key and mapping start that an
    // anchor, tag, alias or flow collection turned into a key.
    if (e.kind != kestrine::EventKind::Key && e.kind != kestrine::EventKind::MappingStart) {
      require(start.line >= previous_line);
      previous_line = start.line;
    }
    if (e.flow && (e.kind == kestrine::EventKind::MappingStart || e.kind == kestrine::EventKind::SequenceStart)) {
      ++flow_depth;
      require(flow_depth <= static_cast<int>(kestrine::kMaxFlowDepth));
    }
    if (e.kind == kestrine::EventKind::MappingEnd || e.kind == kestrine::EventKind::SequenceEnd) --flow_depth;
    // Touch every byte of the payload so the sanitizer checks the view.
    unsigned sum = 0;
    for (char c : e.text()) sum += static_cast<unsigned char>(c);
    volatile unsigned sink = sum;
    (void)sink;
  }
  require(flow_depth == 0);
  for (const kestrine::SourceComment& c : sc.comments) {
    require(c.span.offset < size);
    require(c.text.data() >= text.data() && c.text.data() + c.text.size() <= text.data() + size);
  }
  return 0;
}
