// Large blocks of memory taken straight from the kernel, and a small store
// of freed ones shared by the whole process.
//
//   void* p = allocate_large(bytes);       // throws std::bad_alloc
//   std::size_t room = large_block_size(p); // at least `bytes`
//   free_large(p);                         // kept, or back to the kernel
//
// Why not the C library's heap: once a freed block of a few megabytes came
// from its own mapping, glibc serves every later block up to that size (up
// to 32 MiB) from the heap, and trims the heap only past twice that: the
// tens of megabytes a large load frees would stay with the process, and
// with each thread's heap of its own, once per thread.  A block mapped here
// goes back to the kernel the moment it is unmapped.
//
// Why the store: fresh memory costs a page fault per 4 KiB the first time
// it is written, a good part of a large load's time.  A freed block is kept
// while the blocks kept over the whole process stay within 64 MiB (a larger
// freed block displaces smaller kept ones); the rest are unmapped at once.
// The pages of kept blocks from 1 MiB up are offered back to the kernel,
// which takes them when memory runs short (smaller ones stay: offering them
// costs more than a small load).  A request takes a kept block of at most
// four times its size, so what a call holds stays proportional to its
// input.  Nothing is kept per thread: a thread that ends leaves nothing
// behind.
//
// The store takes and fills its slots with single atomic operations (no
// lock that a fork could leave held); any thread may free any block.
#pragma once

#include <cstddef>
#include <new>
#include <string>

namespace kestrine {

// Under AddressSanitizer large blocks come from the heap and nothing is
// kept, so that the sanitizer sees every byte past a block's end.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kLargeBlocksChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kLargeBlocksChecked = true;
#else
inline constexpr bool kLargeBlocksChecked = false;
#endif
#else
inline constexpr bool kLargeBlocksChecked = false;
#endif

// Blocks from this size up are worth a mapping of their own; smaller ones
// belong to the C library, which reuses those well.  It is glibc's own
// first threshold: a block it would have mapped is mapped here instead,
// so that freeing it does not raise that threshold.
inline constexpr std::size_t kLargeBlockFrom = std::size_t{128} << 10;

void* allocate_large(std::size_t bytes);
void free_large(void* data) noexcept;
// The usable bytes of a block from allocate_large (at least those asked).
std::size_t large_block_size(const void* data) noexcept;

// The store for callers that map blocks of their own (aligned ones, say):
// a kept mapping of exactly `size` bytes aligned to `align`, or null; and
// keeping one, within the budget (false: not kept, the caller unmaps it).
void* take_kept_mapping(std::size_t size, std::size_t align) noexcept;
bool keep_mapping(void* mapping, std::size_t size) noexcept;
// A fresh mapping of `bytes` aligned to `align` (a power of two), or null
// when the system gives none: one `align` larger, trimmed at both ends.
// Freed with munmap, whole or in parts of whole pages.
void* map_aligned(std::size_t bytes, std::size_t align) noexcept;

// While one lives, the large blocks this thread frees go back to the
// kernel at once instead of to the store.  For a step that frees blocks
// while it fills a larger one with what they held (lists merged into one):
// kept, the freed blocks would stay in memory beside their replacement, and
// the step would peak at twice what it holds.
//
//   { const ReturnFreedBlocks returned; move the items over, drop each old list; }
class ReturnFreedBlocks {
 public:
  ReturnFreedBlocks() noexcept;
  ~ReturnFreedBlocks();
  ReturnFreedBlocks(const ReturnFreedBlocks&) = delete;
  ReturnFreedBlocks& operator=(const ReturnFreedBlocks&) = delete;
};

// Either kind by size: blocks from kLargeBlockFrom up are large blocks,
// smaller ones come from the C library; freed with the same `bytes`.
void* allocate_block(std::size_t bytes);
void free_block(void* data, std::size_t bytes) noexcept;

// A standard allocator over allocate_block, for the vectors that may grow
// large (event vectors, value stacks).
template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() noexcept = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / 2 / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_block(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { free_block(p, n * sizeof(T)); }
  friend bool operator==(const BlockAllocator&, const BlockAllocator&) noexcept { return true; }
};

// Text that may be large (a whole document kept as read, the text a dump
// returns).
using LargeText = std::basic_string<char, std::char_traits<char>, BlockAllocator<char>>;

// Bytes held by the store (for tests and diagnostics).
std::size_t large_blocks_kept() noexcept;
// Unmaps every kept block.
void drop_kept_large_blocks() noexcept;

}  // namespace kestrine
