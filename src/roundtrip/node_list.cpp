#include "roundtrip/node_list.hpp"

#include <sys/mman.h>

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

// A 2 MiB mapping aligned to 2 MiB (so that it can be one huge page), or
// null when the system gives none.
char* map_huge_chunk() noexcept {
  void* area = mmap(nullptr, 2 * kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  char* const raw = static_cast<char*>(area);
  char* const aligned =
      reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(raw) + kHugePage - 1) & ~(kHugePage - 1));
  if (aligned > raw) munmap(raw, static_cast<std::size_t>(aligned - raw));
  if (char* const tail = aligned + kHugePage; tail < raw + 2 * kHugePage)
    munmap(tail, static_cast<std::size_t>(raw + 2 * kHugePage - tail));
#if defined(MADV_HUGEPAGE)
  madvise(aligned, kHugePage, MADV_HUGEPAGE);
#endif
  return aligned;
}

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

void ListArena::new_chunk() {
  char* raw = nullptr;
  std::size_t size = kHeader + kChunkBytes;
  bool mapped = false;
  if (taken_ >= kHugeFrom && huge_pages_offered()) {
    raw = map_huge_chunk();
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
