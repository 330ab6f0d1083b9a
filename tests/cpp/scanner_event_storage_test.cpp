// The kept block behind scan event vectors: which requests it serves.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "scanner/event_storage.hpp"

namespace kestrine {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Writes every byte asked for, so a block smaller than the request shows up
// under the sanitizers.
void* take(std::size_t bytes) {
  void* p = allocate_event_storage(bytes);
  std::memset(p, 0xAB, bytes);
  return p;
}

// Each thread keeps its own block: a fresh thread starts with none, whatever
// earlier tests scanned.
void kept_block_cycle() {
  void* four = take(4 * kMiB);
  free_event_storage(four, 4 * kMiB);
  void* small = take(kMiB / 2);  // small requests never take it
  EXPECT_NE(small, four);
  void* two = take(2 * kMiB);  // at least a quarter of it: served
  EXPECT_EQ(two, four);
  void* again = take(2 * kMiB);  // nothing kept now
  EXPECT_NE(again, four);
  free_event_storage(two, 2 * kMiB);  // kept, known as 2 MiB from now on
  void* three = take(3 * kMiB);       // larger than that: fresh memory
  EXPECT_NE(three, two);
  free_event_storage(three, 3 * kMiB);  // the larger block replaces it
  void* big = take(3 * kMiB);
  EXPECT_EQ(big, three);
  free_event_storage(big, 3 * kMiB);
  void* huge = take(65 * kMiB);  // over four times the kept block: fresh memory
  EXPECT_NE(huge, big);
  free_event_storage(huge, 65 * kMiB);  // past the limit: not kept, the kept block stays
  void* after = take(3 * kMiB);
  EXPECT_EQ(after, big);
  for (auto [p, n] : {std::pair{small, kMiB / 2}, {again, 2 * kMiB}, {after, 3 * kMiB}}) free_event_storage(p, n);
}

TEST(ScannerEventStorage, KeptBlockServesRequestsOfItsOrder) { std::thread(kept_block_cycle).join(); }

}  // namespace
}  // namespace kestrine
