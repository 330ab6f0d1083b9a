// Machine words read from byte positions of any alignment, for the loops
// that look at text several bytes at a time (memcpy: the compiler emits one
// load), and a copy of short texts built on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrine {

inline std::uint64_t load_u64(const void* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint32_t load_u32(const void* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Copies n bytes without a call for the short texts that make most of a
// document (keys, words, short lines): two overlapping moves of 16, 8 or 4
// bytes, or three of one; longer texts through memcpy.
[[gnu::always_inline]] inline void copy_bytes(char* to, const char* from, std::size_t n) noexcept {
  if (n > 16 && n <= 32) {
    char head[16], tail[16];
    std::memcpy(head, from, 16);
    std::memcpy(tail, from + n - 16, 16);
    std::memcpy(to, head, 16);
    std::memcpy(to + n - 16, tail, 16);
  } else if (n >= 8 && n <= 16) {
    const std::uint64_t head = load_u64(from);
    const std::uint64_t tail = load_u64(from + n - 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4 && n < 8) {
    const std::uint32_t head = load_u32(from);
    const std::uint32_t tail = load_u32(from + n - 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n < 4) {
    if (n != 0) {  // bytes 0, n / 2 and n - 1 cover one to three
      const char first = from[0], middle = from[n / 2], last = from[n - 1];
      to[0] = first;
      to[n / 2] = middle;
      to[n - 1] = last;
    }
  } else {
    std::memcpy(to, from, n);
  }
}

}  // namespace kestrine
