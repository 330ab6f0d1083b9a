#include "scanner/scanner.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "scanner/tokenizer.hpp"

namespace kestrine {

std::string_view event_kind_name(EventKind kind) noexcept {
  switch (kind) {
    case EventKind::StreamStart: return "stream_start";
    case EventKind::StreamEnd: return "stream_end";
    case EventKind::DocumentStart: return "document_start";
    case EventKind::DocumentEnd: return "document_end";
    case EventKind::MappingStart: return "mapping_start";
    case EventKind::MappingEnd: return "mapping_end";
    case EventKind::SequenceStart: return "sequence_start";
    case EventKind::SequenceEnd: return "sequence_end";
    case EventKind::BlockEnd: return "block_end";
    case EventKind::Key: return "key";
    case EventKind::Value: return "value";
    case EventKind::SequenceEntry: return "sequence_entry";
    case EventKind::FlowEntry: return "flow_entry";
    case EventKind::Scalar: return "scalar";
    case EventKind::Anchor: return "anchor";
    case EventKind::Alias: return "alias";
    case EventKind::Tag: return "tag";
    case EventKind::Directive: return "directive";
  }
  return "unknown";
}

std::string_view scalar_style_name(ScalarStyle style) noexcept {
  switch (style) {
    case ScalarStyle::Plain: return "plain";
    case ScalarStyle::SingleQuoted: return "single";
    case ScalarStyle::DoubleQuoted: return "double";
    case ScalarStyle::Literal: return "literal";
    case ScalarStyle::Folded: return "folded";
  }
  return "plain";
}

// ---- arena ------------------------------------------------------------------

namespace {
constexpr std::size_t kFirstChunk = 4096;
constexpr std::size_t kMaxChunk = 1u << 20;
}  // namespace

TextArena::TextArena(TextArena&& other) noexcept
    : chunks_(std::move(other.chunks_)),
      cur_(std::exchange(other.cur_, nullptr)),
      left_(std::exchange(other.left_, 0)),
      used_(std::exchange(other.used_, 0)) {
  other.chunks_.clear();
}

TextArena& TextArena::operator=(TextArena&& other) noexcept {
  if (this != &other) {
    release();
    chunks_ = std::move(other.chunks_);
    other.chunks_.clear();
    cur_ = std::exchange(other.cur_, nullptr);
    left_ = std::exchange(other.left_, 0);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

TextArena::~TextArena() { release(); }

void TextArena::release() noexcept {
  for (const Chunk& c : chunks_) free_block(c.data, c.size);
  chunks_.clear();
}

std::string_view TextArena::store(std::string_view s) {
  if (s.empty()) return {};
  if (s.size() > left_) {
    // Chunks grow with the amount stored, so their count stays logarithmic.
    const std::size_t next = std::clamp(used_, kFirstChunk, kMaxChunk);
    chunks_.reserve(chunks_.size() + 1);  // so that the chunk is never lost
    if (s.size() > next / 2) {
      // Large texts get a block of their own; the current chunk stays open.
      auto* block = static_cast<char*>(allocate_block(s.size()));
      chunks_.push_back({block, s.size()});
      std::memcpy(block, s.data(), s.size());
      used_ += s.size();
      return {block, s.size()};
    }
    cur_ = static_cast<char*>(allocate_block(next));
    chunks_.push_back({cur_, next});
    left_ = next;
  }
  std::memcpy(cur_, s.data(), s.size());
  std::string_view view(cur_, s.size());
  cur_ += s.size();
  left_ -= s.size();
  used_ += s.size();
  return view;
}

// ---- entry points -----------------------------------------------------------

namespace {
// A large event vector is written once, front to back: on Linux, ask for
// transparent huge pages so that first touch costs one fault per 2 MiB
// instead of one per 4 KiB.  Elsewhere (and for small texts) nothing happens.
void advise_huge_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (bytes < 4 * kHuge) return;
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}
}  // namespace

Scanner new_scanner(std::string_view text) noexcept {
  Scanner s;
  s.text = text;
  if (text.size() > 2 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
    s.leading_bom = true;
    s.start_offset = 3;
  }
  return s;
}

std::expected<ScanResult, ScanError> scan_events(Scanner& scanner) {
  ScanResult result;
  result.file_id = scanner.file_id;
  if (scanner.text.size() > kMaxScanBytes) {
    return std::unexpected(
        ScanError{"input too large: 4 GiB or more", Span{scanner.file_id, 0, 0, 0}});
  }
  // Configuration-like text yields about one event per 6-10 bytes, but packed
  // data one per 3 or 4 ("- 12\n", "true, "), and a vector that outgrows its
  // first block is copied into fresh memory, which a large load touches
  // page by page again on every call.  Pages of the reserve that the events
  // do not reach are never touched, so room for one event per 2 bytes costs
  // address space only.
  const std::size_t n = scanner.text.size();
  result.events.reserve(std::clamp<std::size_t>(n / 2, 16, std::size_t{1} << 25));
  advise_huge_pages(result.events.data(), result.events.capacity() * sizeof(SpannedEvent));
  scan::Tokenizer tokenizer(scanner, result);
  if (!tokenizer.run()) return std::unexpected(std::move(tokenizer.error()));
  return result;
}

}  // namespace kestrine
