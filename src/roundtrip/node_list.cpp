#include "roundtrip/node_list.hpp"

#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace kestrine {

namespace {

// Chunk payloads start at this alignment, and every block is rounded to it.
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kHeader = (sizeof(ListChunk) + kAlign - 1) / kAlign * kAlign;
constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
// Larger blocks are not worth sharing a chunk: they come from the heap.
constexpr std::size_t kLargestShared = std::size_t{16} << 10;
// A stream that has taken this much in heap chunks takes huge pages next.
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
  void* area = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  char* const raw = static_cast<char*>(area);
  char* const aligned =
      reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(raw) + kHugePage - 1) & ~(kHugePage - 1));
  if (aligned > raw) munmap(raw, static_cast<std::size_t>(aligned - raw));
  if (char* const tail = aligned + bytes; tail < raw + bytes + kHugePage)
    munmap(tail, static_cast<std::size_t>(raw + bytes + kHugePage - tail));
#if defined(MADV_HUGEPAGE)
  madvise(aligned, bytes, MADV_HUGEPAGE);
#endif
  return aligned;
}

// Below this many huge chunks an announcement is not worth a thread.
constexpr std::size_t kFewestAhead = 4;
// Huge chunks mapped at a time past what was announced.
constexpr std::size_t kUnannouncedBatch = 4;

}  // namespace

void release_list_chunk(ListChunk* chunk) noexcept {
  if (chunk->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    const bool mapped = chunk->mapped;
    chunk->~ListChunk();
    if (mapped) {
      munmap(chunk, kHugePage);
    } else {
      ::operator delete(static_cast<void*>(chunk));
    }
  }
}

// The huge chunks mapped by expect: taken in order by new_chunk while the
// thread faults them in (MADV_POPULATE_WRITE leaves what the arena already
// wrote there as it is, and fails harmlessly on a chunk gone meanwhile).
struct ListArena::Ahead {
  char* first = nullptr;
  std::size_t count = 0;
  std::size_t next = 0;  // the next chunk new_chunk takes
  std::atomic<bool> stop{false};
  std::thread thread;

  void fault_in(std::size_t from) noexcept {
#if defined(MADV_POPULATE_WRITE)
    for (std::size_t i = from; i < count && !stop.load(std::memory_order_relaxed); ++i) {
      if (madvise(first + i * kHugePage, kHugePage, MADV_POPULATE_WRITE) != 0 && errno == EINVAL) return;
    }
#endif
  }
};

ListArena::ListArena() noexcept = default;

ListArena::~ListArena() {
  if (ahead_) {
    ahead_->stop.store(true, std::memory_order_relaxed);
    if (ahead_->thread.joinable()) ahead_->thread.join();
    if (ahead_->next < ahead_->count)
      munmap(ahead_->first + ahead_->next * kHugePage, (ahead_->count - ahead_->next) * kHugePage);
  }
  if (chunk_ != nullptr) release_list_chunk(chunk_);
}

std::size_t ListArena::chunk_bytes(std::size_t bytes) noexcept {
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  return bytes <= kLargestShared ? bytes : 0;
}

void ListArena::expect(std::size_t bytes) noexcept {
#if defined(MADV_POPULATE_WRITE)
  if (ahead_ || !huge_pages_offered()) return;
  // What the heap chunks will not hold, with room for the ends of chunks
  // that a list did not fit (at most kLargestShared each).
  const std::size_t heap_part = taken_ < kHugeFrom ? kHugeFrom - taken_ : 0;
  if (bytes <= heap_part) return;
  const std::size_t per_chunk = kHugePage - kHeader - kLargestShared;
  const std::size_t count = (bytes - heap_part + per_chunk - 1) / per_chunk + 1;
  if (count < kFewestAhead) return;
  try {
    auto ahead = std::make_unique<Ahead>();
    ahead->first = map_huge_chunks(count);
    if (ahead->first == nullptr) return;
    ahead->count = count;
    ahead_ = std::move(ahead);
    ahead_->thread = std::thread([ahead = ahead_.get()] { ahead->fault_in(0); });
  } catch (const std::bad_alloc&) {
    // No room for the record: chunks are mapped one at a time, as without a hint.
  } catch (const std::system_error&) {
    // No thread: the chunks are faulted in as they are first written.
  }
#else
  (void)bytes;
#endif
}

void ListArena::new_chunk() {
  char* raw = nullptr;
  std::size_t size = kHeader + kChunkBytes;
  bool mapped = false;
  if (taken_ >= kHugeFrom && ahead_ && ahead_->next < ahead_->count) {
    raw = ahead_->first + ahead_->next++ * kHugePage;
    mapped = true;
    size = kHugePage;
  } else if (taken_ >= kHugeFrom && huge_pages_offered()) {
    raw = unannounced_chunks();
    mapped = raw != nullptr;
    if (mapped) size = kHugePage;
  }
  if (raw == nullptr) raw = static_cast<char*>(::operator new(size));
  ListChunk* fresh = ::new (raw) ListChunk();  // the arena's own reference
  fresh->mapped = mapped;
  if (chunk_ != nullptr) release_list_chunk(chunk_);
  chunk_ = fresh;
  next_ = raw + kHeader;
  end_ = raw + size;
  taken_ += size;
}

// Past what was announced (the stream was larger, or came in pieces, as the
// files of one load do), huge chunks are mapped a few at a time: the first
// is taken now, the thread faults in the others meanwhile.  What the kernel
// clears for them would otherwise stall the composing thread at each chunk.
char* ListArena::unannounced_chunks() noexcept {
#if defined(MADV_POPULATE_WRITE)
  try {
    if (!ahead_) ahead_ = std::make_unique<Ahead>();
  } catch (const std::bad_alloc&) {
    return map_huge_chunks(1);
  }
  Ahead& ahead = *ahead_;
  if (ahead.thread.joinable()) ahead.thread.join();  // its chunks are all taken
  char* const first = map_huge_chunks(kUnannouncedBatch);
  if (first == nullptr) return nullptr;
  ahead.first = first;
  ahead.count = kUnannouncedBatch;
  ahead.next = 1;
  try {
    ahead.thread = std::thread([&ahead] { ahead.fault_in(1); });
  } catch (const std::system_error&) {
    // No thread: the chunks are faulted in as they are first written.
  }
  return first;
#else
  return map_huge_chunks(1);
#endif
}

void* ListArena::allocate(std::size_t bytes, ListChunk*& chunk) {
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  if (bytes > kLargestShared) {
    chunk = nullptr;
    return ::operator new(bytes);
  }
  if (static_cast<std::size_t>(end_ - next_) < bytes) new_chunk();
  void* out = next_;
  next_ += bytes;
  chunk_->refs.fetch_add(1, std::memory_order_relaxed);
  chunk = chunk_;
  return out;
}

}  // namespace kestrine
