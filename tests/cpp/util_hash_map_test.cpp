// The seeded hash maps.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "util/hash_map.hpp"

namespace kestrine {
namespace {

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

}  // namespace
}  // namespace kestrine
