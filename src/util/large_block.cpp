#include "util/large_block.hpp"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <new>

namespace kestrine {
namespace {

constexpr std::size_t kPage = 4096;
// The mapping's size, stored in front of the block (which stays aligned
// for any type).
constexpr std::size_t kHeader = 64;
constexpr std::size_t kBudget = std::size_t{64} << 20;
constexpr std::size_t kSlots = 64;
// Kept blocks from this size up have their pages offered back to the kernel.
constexpr std::size_t kAdviseFrom = std::size_t{1} << 20;

// A kept mapping in one word: its page number above, its size in pages in
// the low kSizeBits (user addresses take at most 48 bits, 36 of them above
// the page offset).
constexpr unsigned kSizeBits = 28;
constexpr std::uintptr_t kSizeMask = (std::uintptr_t{1} << kSizeBits) - 1;
static_assert(kBudget / kPage <= kSizeMask);

std::atomic<std::uintptr_t> g_slots[kSlots];
std::atomic<std::size_t> g_kept{0};
// ReturnFreedBlocks objects alive on this thread.
thread_local int t_returning = 0;

inline std::uintptr_t pack(char* mapping, std::size_t size) noexcept {
  return (reinterpret_cast<std::uintptr_t>(mapping) / kPage) << kSizeBits | size / kPage;
}
constexpr std::size_t size_of(std::uintptr_t slot) noexcept { return (slot & kSizeMask) * kPage; }
inline char* mapping_of(std::uintptr_t slot) noexcept { return reinterpret_cast<char*>((slot >> kSizeBits) * kPage); }

// The kept mapping that fits best between `least` and `most` bytes and is
// aligned to `align`, taken out of the store, or null; `size` becomes its
// size.
char* take_kept(std::size_t least, std::size_t most, std::size_t align, std::size_t& size) noexcept {
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::atomic<std::uintptr_t>* best = nullptr;
    std::uintptr_t best_value = 0;
    for (std::atomic<std::uintptr_t>& slot : g_slots) {
      const std::uintptr_t v = slot.load(std::memory_order_relaxed);
      const std::size_t kept = size_of(v);
      if (v == 0 || kept < least || kept > most) continue;
      if (reinterpret_cast<std::uintptr_t>(mapping_of(v)) % align != 0) continue;
      if (best == nullptr || kept < size_of(best_value)) {
        best = &slot;
        best_value = v;
      }
    }
    if (best == nullptr) return nullptr;
    if (best->compare_exchange_strong(best_value, 0, std::memory_order_acquire, std::memory_order_relaxed)) {
      size = size_of(best_value);
      g_kept.fetch_sub(size, std::memory_order_relaxed);
      return mapping_of(best_value);
    }
  }
  return nullptr;
}

// Unmaps the smallest kept mapping smaller than `size`; false when there
// is none.
bool displace_smaller(std::size_t size) noexcept {
  std::atomic<std::uintptr_t>* smallest = nullptr;
  std::uintptr_t value = 0;
  for (std::atomic<std::uintptr_t>& slot : g_slots) {
    const std::uintptr_t v = slot.load(std::memory_order_relaxed);
    if (v != 0 && size_of(v) < size && (smallest == nullptr || size_of(v) < size_of(value))) {
      smallest = &slot;
      value = v;
    }
  }
  if (smallest == nullptr) return false;
  if (smallest->compare_exchange_strong(value, 0, std::memory_order_acquire, std::memory_order_relaxed)) {
    g_kept.fetch_sub(size_of(value), std::memory_order_relaxed);
    munmap(mapping_of(value), size_of(value));
  }
  return true;
}

// Counts `size` into the budget, displacing smaller kept mappings if need
// be; false when it does not fit.
bool claim_budget(std::size_t size) noexcept {
  if (size > kBudget) return false;
  for (;;) {
    std::size_t kept = g_kept.load(std::memory_order_relaxed);
    while (kept + size <= kBudget) {
      if (g_kept.compare_exchange_weak(kept, kept + size, std::memory_order_relaxed)) return true;
    }
    if (!displace_smaller(size)) return false;
  }
}

}  // namespace

bool keep_mapping(void* mapping, std::size_t size) noexcept {
  if (kLargeBlocksChecked || !claim_budget(size)) return false;
#if defined(MADV_FREE)
  // Offering pages back costs a system call and a TLB flush, more than a
  // small load's whole composition: blocks under kAdviseFrom stay as they
  // are (the budget bounds them all the same).
  if (size >= kAdviseFrom) madvise(mapping, size, MADV_FREE);
#endif
  const std::uintptr_t value = pack(static_cast<char*>(mapping), size);
  // Every slot taken by smaller blocks: the smallest gives way, as it would
  // to the budget.
  for (int round = 0; round < 2; ++round) {
    for (std::atomic<std::uintptr_t>& slot : g_slots) {
      std::uintptr_t empty = 0;
      if (slot.load(std::memory_order_relaxed) == 0 &&
          slot.compare_exchange_strong(empty, value, std::memory_order_release, std::memory_order_relaxed))
        return true;
    }
    if (round == 0 && !displace_smaller(size)) break;
  }
  g_kept.fetch_sub(size, std::memory_order_relaxed);
  return false;
}

void* map_aligned(std::size_t bytes, std::size_t align) noexcept {
  void* area = mmap(nullptr, bytes + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  char* const raw = static_cast<char*>(area);
  char* const aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(raw) + align - 1) & ~(align - 1));
  if (aligned > raw) munmap(raw, static_cast<std::size_t>(aligned - raw));
  if (char* const tail = aligned + bytes; tail < raw + bytes + align)
    munmap(tail, static_cast<std::size_t>(raw + bytes + align - tail));
  return aligned;
}

void* take_kept_mapping(std::size_t size, std::size_t align) noexcept {
  std::size_t got = 0;
  return take_kept(size, size, align, got);
}

void* allocate_large(std::size_t bytes) {
  if (bytes > (std::size_t{1} << 47)) throw std::bad_alloc();
  if constexpr (kLargeBlocksChecked) {
    auto* block = static_cast<char*>(::operator new(kHeader + bytes));
    *reinterpret_cast<std::size_t*>(block) = kHeader + bytes;
    return block + kHeader;
  }
  std::size_t size = (bytes + kHeader + kPage - 1) / kPage * kPage;
  char* mapping = take_kept(size, 4 * size, kPage, size);
  if (mapping == nullptr) {
    void* fresh = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh == MAP_FAILED) throw std::bad_alloc();
    mapping = static_cast<char*>(fresh);
  }
  *reinterpret_cast<std::size_t*>(mapping) = size;
  return mapping + kHeader;
}

void free_large(void* data) noexcept {
  if (data == nullptr) return;
  char* mapping = static_cast<char*>(data) - kHeader;
  const std::size_t size = *reinterpret_cast<const std::size_t*>(mapping);
  if constexpr (kLargeBlocksChecked) {
    ::operator delete(mapping);
  } else if (t_returning != 0 || !keep_mapping(mapping, size)) {
    munmap(mapping, size);
  }
}

std::size_t large_block_size(const void* data) noexcept {
  return *reinterpret_cast<const std::size_t*>(static_cast<const char*>(data) - kHeader) - kHeader;
}

ReturnFreedBlocks::ReturnFreedBlocks() noexcept { ++t_returning; }
ReturnFreedBlocks::~ReturnFreedBlocks() { --t_returning; }

void* allocate_block(std::size_t bytes) {
  return bytes >= kLargeBlockFrom ? allocate_large(bytes) : ::operator new(bytes);
}

void free_block(void* data, std::size_t bytes) noexcept {
  if (bytes >= kLargeBlockFrom) {
    free_large(data);
  } else {
    ::operator delete(data);
  }
}

std::size_t large_blocks_kept() noexcept { return g_kept.load(std::memory_order_relaxed); }

void drop_kept_large_blocks() noexcept {
  for (std::atomic<std::uintptr_t>& slot : g_slots) {
    if (const std::uintptr_t v = slot.exchange(0, std::memory_order_acquire); v != 0) {
      g_kept.fetch_sub(size_of(v), std::memory_order_relaxed);
      munmap(mapping_of(v), size_of(v));
    }
  }
}

}  // namespace kestrine
