#include "scanner/event_storage.hpp"

#include <cstdint>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kestrine {
namespace {

constexpr std::size_t kKeepFrom = std::size_t{1} << 20;
constexpr std::size_t kKeepAtMost = std::size_t{64} << 20;

// The block a thread keeps, freed when the thread ends.  `bytes` is the size
// last asked for, which may be less than the block's own.
struct KeptBlock {
  void* data = nullptr;
  std::size_t bytes = 0;
  KeptBlock() noexcept = default;
  KeptBlock(const KeptBlock&) = delete;
  KeptBlock& operator=(const KeptBlock&) = delete;
  ~KeptBlock() { ::operator delete(data); }
};
thread_local KeptBlock t_kept;

// The whole pages inside the block may be dropped by the kernel; written
// again, they are the block's as before (or zeroed pages if it took them).
void offer_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_FREE)
  constexpr std::uintptr_t kPage = 4096;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_FREE);
#endif
}

}  // namespace

void* allocate_event_storage(std::size_t bytes) {
  if (bytes >= kKeepFrom && t_kept.data != nullptr) {
    if (t_kept.bytes >= bytes && t_kept.bytes / 4 <= bytes) {
      t_kept.bytes = 0;
      return std::exchange(t_kept.data, nullptr);
    }
  }
  return ::operator new(bytes);
}

void free_event_storage(void* data, std::size_t bytes) noexcept {
  if (bytes < kKeepFrom || bytes > kKeepAtMost || bytes <= t_kept.bytes) {
    ::operator delete(data);
    return;
  }
  ::operator delete(std::exchange(t_kept.data, data));
  t_kept.bytes = bytes;
  offer_pages(data, bytes);
}

}  // namespace kestrine
