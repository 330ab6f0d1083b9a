// The seeded hash maps, and what a failed allocation leaves of them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "util/hash_map.hpp"

// Allocations fail on demand: after this many more succeed (-1: never).
// Replaces the global operators (all but the aligned ones) for the whole
// test binary; they behave as the standard ones while no failure is asked
// for.
namespace {
std::atomic<long> g_allocations_left{-1};
}  // namespace

void* operator new(std::size_t bytes) {
  if (long left = g_allocations_left.load(std::memory_order_relaxed); left >= 0) {
    if (left == 0) throw std::bad_alloc();
    g_allocations_left.store(left - 1, std::memory_order_relaxed);
  }
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) { return ::operator new(bytes); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(bytes);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return ::operator new(bytes, std::nothrow); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace kestrine {
namespace {

class FailingAllocations {
 public:
  explicit FailingAllocations(long after) { g_allocations_left.store(after); }
  ~FailingAllocations() { g_allocations_left.store(-1); }
};

TEST(UtilHashMap, SeedIsFixedForTheProcess) {
  const std::uint64_t seed = hash_seed();
  EXPECT_EQ(hash_seed(), seed);
  EXPECT_NE(seed, 0u);  // astronomically unlikely for real random bytes
}

TEST(UtilHashMap, TextKeysAreProbedWithoutCopies) {
  SeededHashMap<std::string, int> map;
  map.emplace("alpha", 1);
  map["beta"] = 2;
  const std::string_view probe = "alpha";
  auto it = map.find(probe);  // heterogeneous lookup
  ASSERT_NE(it, map.end());
  EXPECT_EQ(it->second, 1);
  EXPECT_TRUE(map.contains(std::string_view("beta")));
  EXPECT_FALSE(map.contains("gamma"));
  SeededStringHash hash;
  EXPECT_EQ(hash(std::string("same")), hash(std::string_view("same")));
  EXPECT_EQ(hash("same"), hash(std::string_view("same")));
}

TEST(UtilHashMap, ManyKeysAndOtherKeyTypes) {
  SeededHashMap<std::uint64_t, std::uint64_t> numbers;
  for (std::uint64_t i = 0; i < 10000; ++i) numbers[i * 7919] = i;
  EXPECT_EQ(numbers.size(), 10000u);
  for (std::uint64_t i = 0; i < 10000; ++i) ASSERT_EQ(numbers.at(i * 7919), i);
  SeededHashSet<std::string> set;
  set.insert("a");
  set.insert(std::string("a"));
  EXPECT_EQ(set.size(), 1u);
  EXPECT_TRUE(set.contains(std::string_view("a")));
  // The seed changes the hash (the map is not plain absl::Hash).
  EXPECT_NE(SeededHash<std::uint64_t>{}(42), absl::Hash<std::uint64_t>{}(42));
}

// absl's tables record a new capacity before allocating it, and mark an
// element present before constructing it: a failed allocation at either
// point once left a table that crashed when destroyed.  Every allocation
// of a run of insertions is made to fail in turn; what was inserted before
// stays findable, and the tables grow and go as usual afterwards.
TEST(UtilHashMap, FailedAllocationLeavesTablesIntact) {
  std::vector<std::string> keys;
  for (int i = 0; i < 120; ++i) keys.push_back("a key longer than any inline text " + std::to_string(i));
  const std::string value(40, 'v');
  for (long fail_after = 0; fail_after < 400; fail_after += 1) {
    SeededHashMap<std::string, std::string> map;
    SeededHashSet<std::string> set;
    SeededHashMap<std::uint64_t, std::uint64_t> numbers;
    std::size_t done = 0;
    {
      const FailingAllocations failing(fail_after);
      try {
        for (; done < keys.size(); ++done) {
          map.try_emplace(std::string_view(keys[done]), value);
          set.insert(keys[done]);
          numbers[done] = done;
        }
      } catch (const std::bad_alloc&) {}
    }
    ASSERT_LE(map.size(), done + 1) << fail_after;
    for (std::size_t i = 0; i < done; ++i) {
      ASSERT_TRUE(map.contains(keys[i]) && set.contains(keys[i]) && numbers.contains(i)) << fail_after;
    }
    for (const auto& [key, text] : map) ASSERT_EQ(text, value);
    for (std::size_t i = 0; i < keys.size(); ++i) map.try_emplace(keys[i], value);
    ASSERT_EQ(map.size(), keys.size());
    if (done == keys.size()) break;  // nothing failed any more
  }
}

}  // namespace
}  // namespace kestrine
