// Machine words read from byte positions of any alignment, for the loops
// that look at text several bytes at a time (memcpy: the compiler emits one
// load).
#pragma once

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

}  // namespace kestrine
