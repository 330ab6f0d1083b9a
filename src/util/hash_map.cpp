#include "util/hash_map.hpp"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include <unistd.h>

namespace kestrine {
namespace {

std::uint64_t draw_seed() noexcept {
  std::uint64_t seed = 0;
  auto* out = reinterpret_cast<unsigned char*>(&seed);
  std::size_t got = 0;
  while (got < sizeof seed) {
    const ssize_t n = ::getrandom(out + got, sizeof seed - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (got < sizeof seed) {
    // No kernel entropy source (very old kernel or a seccomp filter): fall
    // back to values that at least differ between processes and runs.
    int local = 0;
    const auto now = static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= now * 0x9E3779B97F4A7C15ULL;
    seed ^= static_cast<std::uint64_t>(::getpid()) << 32;
    seed ^= reinterpret_cast<std::uintptr_t>(&local);
  }
  return seed;
}

// The block set aside for the table a map is about to grow into.
struct ReservedTable {
  void* block;
  std::size_t bytes;
};
constinit thread_local ReservedTable t_reserved{nullptr, 0};

}  // namespace

detail::GrowthReserve::GrowthReserve(std::size_t bytes)
    : previous_(t_reserved.block), previous_bytes_(t_reserved.bytes) {
  t_reserved = {::operator new(bytes), bytes};
}

detail::GrowthReserve::~GrowthReserve() {
  ::operator delete(t_reserved.block);
  t_reserved = {previous_, previous_bytes_};
}

void* detail::allocate_table(std::size_t bytes) {
  if (t_reserved.block != nullptr && bytes <= t_reserved.bytes) return std::exchange(t_reserved.block, nullptr);
  return ::operator new(bytes);
}

std::uint64_t hash_seed() noexcept {
  static const std::uint64_t seed = draw_seed();
  return seed;
}

}  // namespace kestrine
