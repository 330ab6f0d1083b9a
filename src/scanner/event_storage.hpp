// Storage of a scan's event vector.
//
//   std::vector<SpannedEvent, EventAllocator<SpannedEvent>> events;
//
// A large text's events take tens of megabytes: past the C library's
// mapping threshold every load would map fresh memory and fault all of it in
// again.  The largest block of up to 64 MiB that a thread frees is kept for
// that thread's next scan, its pages offered back to the kernel meanwhile
// (which takes them only when memory runs short).  Blocks under 1 MiB go to
// the C library, which reuses those well itself.  A kept block serves a
// request of at least a quarter of its size, so what a scan holds stays
// proportional to its text.
#pragma once

#include <cstddef>

namespace kestrine {

void* allocate_event_storage(std::size_t bytes);
void free_event_storage(void* data, std::size_t bytes) noexcept;

template <class T>
struct EventAllocator {
  using value_type = T;
  EventAllocator() noexcept = default;
  template <class U>
  EventAllocator(const EventAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(allocate_event_storage(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { free_event_storage(p, n * sizeof(T)); }
  friend bool operator==(const EventAllocator&, const EventAllocator&) noexcept { return true; }
};

}  // namespace kestrine
