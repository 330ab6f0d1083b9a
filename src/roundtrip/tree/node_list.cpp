#include "roundtrip/tree/node_list.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

namespace kestrine {

namespace {

// Chunk payloads start at this alignment, and every block is rounded to it.
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kHeader = (sizeof(ListChunk) + kAlign - 1) / kAlign * kAlign;
constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
// The first chunks are smaller, growing with what the stream took so far:
// a small document, of which a program may hold many, takes a heap block
// instead of a mapping of its own.
constexpr std::size_t kFirstChunkBytes = std::size_t{16} << 10;
// Larger blocks are not worth sharing a chunk: they are the lists' own.
constexpr std::size_t kLargestShared = std::size_t{16} << 10;
// A stream that has taken this much in small chunks takes huge pages next.
constexpr std::size_t kHugeFrom = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whether the kernel hands out transparent huge pages for mappings that ask
// for them ("always" or "madvise"); read once per process.  Without them a
// fresh mapping costs a fault per 4 KiB, more than reusing heap memory.
bool huge_pages_offered() noexcept {
#if !defined(MADV_HUGEPAGE)
  return false;  // a system without them
#else
  static const bool offered = [] {
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    return std::getline(setting, line) &&
           (line.find("[always]") != std::string::npos || line.find("[madvise]") != std::string::npos);
  }();
  return offered;
#endif
}

// `count` mappings of 2 MiB side by side, aligned to 2 MiB (so that each
// can be one huge page and be unmapped on its own), or null when the system
// gives none.
char* map_huge_chunks(std::size_t count) noexcept {
  const std::size_t bytes = count * kHugePage;
  char* const aligned = static_cast<char*>(map_aligned(bytes, kHugePage));
#if defined(MADV_HUGEPAGE)
  if (aligned != nullptr) madvise(aligned, bytes, MADV_HUGEPAGE);
#endif
  return aligned;
}

// Below this many huge chunks an announcement is not worth a mapping of
// its own.
constexpr std::size_t kFewestAhead = 4;
// Huge chunks mapped at a time past what was announced.
constexpr std::size_t kUnannouncedBatch = 4;

// KeepReleasedChunks objects alive on this thread.
thread_local int t_keeping = 0;

}  // namespace

void release_list_chunk(ListChunk* chunk) noexcept {
  if (chunk->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    const bool mapped = chunk->mapped;
    const std::size_t bytes = chunk->bytes;
    chunk->~ListChunk();
    if (!mapped) {
      free_block(chunk, bytes);
    } else if (t_keeping == 0 || !keep_mapping(chunk, kHugePage)) {
      munmap(chunk, kHugePage);
    }
  }
}

KeepReleasedChunks::KeepReleasedChunks() noexcept { ++t_keeping; }
KeepReleasedChunks::~KeepReleasedChunks() { --t_keeping; }

ListArena::ListArena() noexcept = default;

ListArena::~ListArena() {
  if (mapped_next_ < mapped_count_)
    munmap(mapped_ + mapped_next_ * kHugePage, (mapped_count_ - mapped_next_) * kHugePage);
  if (chunk_ != nullptr) release_list_chunk(chunk_);
}

std::size_t ListArena::chunk_bytes(std::size_t bytes) noexcept {
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  return bytes <= kLargestShared ? bytes : 0;
}

void ListArena::expect(std::size_t bytes) noexcept {
  if (mapped_ != nullptr || !huge_pages_offered()) return;
  // What the small chunks will not hold, with room for the ends of chunks
  // that a list did not fit (at most kLargestShared each).
  const std::size_t heap_part = taken_ < kHugeFrom ? kHugeFrom - taken_ : 0;
  if (bytes <= heap_part) return;
  const std::size_t per_chunk = kHugePage - kHeader - kLargestShared;
  const std::size_t count = (bytes - heap_part + per_chunk - 1) / per_chunk + 1;
  if (count < kFewestAhead) return;
  mapped_ = map_huge_chunks(count);
  if (mapped_ != nullptr) mapped_count_ = count;
}

void ListArena::new_chunk() {
  char* raw = nullptr;
  std::size_t size = kHeader + std::clamp(taken_, kFirstChunkBytes, kChunkBytes);
  bool mapped = false;
  if (taken_ >= kHugeFrom && huge_pages_offered()) {
    raw = static_cast<char*>(take_kept_mapping(kHugePage, kHugePage));
    if (raw == nullptr) raw = next_mapped_chunk();
    mapped = raw != nullptr;
    if (mapped) size = kHugePage;
  }
  if (raw == nullptr) raw = static_cast<char*>(allocate_block(size));
  ListChunk* fresh = ::new (raw) ListChunk();  // the arena's own reference
  fresh->mapped = mapped;
  fresh->bytes = static_cast<std::uint32_t>(size);
  if (chunk_ != nullptr) release_list_chunk(chunk_);
  chunk_ = fresh;
  next_ = raw + kHeader;
  end_ = raw + size;
  taken_ += size;
}

// The next of the chunks mapped ahead; once they are all taken (the stream
// was larger than announced, or came in pieces, as the files of one load
// do), the next few are mapped with one call.  Null when the system gives
// none.
char* ListArena::next_mapped_chunk() noexcept {
  if (mapped_next_ == mapped_count_) {
    char* const first = map_huge_chunks(kUnannouncedBatch);
    if (first == nullptr) return nullptr;
    mapped_ = first;
    mapped_count_ = kUnannouncedBatch;
    mapped_next_ = 0;
  }
  return mapped_ + mapped_next_++ * kHugePage;
}

void* ListArena::allocate(std::size_t asked, ListChunk*& chunk) {
  const std::size_t bytes = (asked + kAlign - 1) / kAlign * kAlign;
  if (bytes > kLargestShared) {
    chunk = nullptr;
    return allocate_block(asked);
  }
  if (static_cast<std::size_t>(end_ - next_) < bytes) new_chunk();
  void* out = next_;
  next_ += bytes;
  chunk_->refs.fetch_add(1, std::memory_order_relaxed);
  chunk = chunk_;
  return out;
}

}  // namespace kestrine
