#include "roundtrip/node_list.hpp"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kestrine {

namespace {

// Chunk payloads start at this alignment, and every block is rounded to it.
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kHeader = (sizeof(ListChunk) + kAlign - 1) / kAlign * kAlign;
constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
// Larger blocks are not worth sharing a chunk: they come from the heap.
constexpr std::size_t kLargestShared = std::size_t{16} << 10;
// A large tree's chunks after its first are huge pages of their own: memory
// taken fresh from the system costs a page fault per page touched, which for
// trees of hundreds of megabytes is a good part of building them.
constexpr std::size_t kHugeChunkBytes = std::size_t{2} << 20;

// A chunk of kHugeChunkBytes mapped at a huge-page boundary and advised as a
// huge page; null where that is not available (the heap serves instead).
void* map_huge_chunk() noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const std::size_t span = 2 * kHugeChunkBytes;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugeChunkBytes - 1) & ~(kHugeChunkBytes - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const std::uintptr_t tail = aligned + kHugeChunkBytes;
  if (start + span > tail) munmap(reinterpret_cast<void*>(tail), start + span - tail);
  void* chunk = reinterpret_cast<void*>(aligned);
  madvise(chunk, kHugeChunkBytes, MADV_HUGEPAGE);
  return chunk;
#else
  return nullptr;
#endif
}

}  // namespace

void release_list_chunk(ListChunk* chunk) noexcept {
  if (chunk->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    const std::size_t mapped = chunk->mapped_bytes;
    chunk->~ListChunk();
#if defined(__linux__)
    if (mapped != 0) {
      munmap(static_cast<void*>(chunk), mapped);
      return;
    }
#endif
    ::operator delete(static_cast<void*>(chunk));
  }
}

void* ListArena::allocate(std::size_t bytes, ListChunk*& chunk) {
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  if (bytes > kLargestShared) {
    chunk = nullptr;
    return ::operator new(bytes);
  }
  if (static_cast<std::size_t>(end_ - next_) < bytes) {
    char* raw = chunks_made_ > 0 ? static_cast<char*>(map_huge_chunk()) : nullptr;
    const std::size_t payload = raw != nullptr ? kHugeChunkBytes - kHeader : kChunkBytes;
    if (raw == nullptr) raw = static_cast<char*>(::operator new(kHeader + kChunkBytes));
    ListChunk* fresh = ::new (raw) ListChunk();  // the arena's own reference
    if (payload != kChunkBytes) fresh->mapped_bytes = kHugeChunkBytes;
    ++chunks_made_;
    if (chunk_ != nullptr) release_list_chunk(chunk_);
    chunk_ = fresh;
    next_ = raw + kHeader;
    end_ = next_ + payload;
  }
  void* out = next_;
  next_ += bytes;
  chunk_->refs.fetch_add(1, std::memory_order_relaxed);
  chunk = chunk_;
  return out;
}

}  // namespace kestrine
