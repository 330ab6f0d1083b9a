#include "roundtrip/node_list.hpp"

#include <cstdlib>
#include <new>

namespace kestrine {

namespace {

// Chunk payloads start at this alignment, and every block is rounded to it.
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kHeader = (sizeof(ListChunk) + kAlign - 1) / kAlign * kAlign;
constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
// Larger blocks are not worth sharing a chunk: they come from the heap.
constexpr std::size_t kLargestShared = std::size_t{16} << 10;

}  // namespace

void release_list_chunk(ListChunk* chunk) noexcept {
  if (chunk->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    chunk->~ListChunk();
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
    char* raw = static_cast<char*>(::operator new(kHeader + kChunkBytes));
    ListChunk* fresh = ::new (raw) ListChunk();  // the arena's own reference
    if (chunk_ != nullptr) release_list_chunk(chunk_);
    chunk_ = fresh;
    next_ = raw + kHeader;
    end_ = next_ + kChunkBytes;
  }
  void* out = next_;
  next_ += bytes;
  chunk_->refs.fetch_add(1, std::memory_order_relaxed);
  chunk = chunk_;
  return out;
}

}  // namespace kestrine
