// The store of large blocks behind event vectors, arenas and list chunks:
// which requests a kept block serves, and the bound on what is kept.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "util/large_block.hpp"

namespace kestrine {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Writes every byte asked for, so a block smaller than the request shows up
// under the sanitizers.
void* take(std::size_t bytes) {
  void* p = allocate_large(bytes);
  EXPECT_GE(large_block_size(p), bytes);
  std::memset(p, 0xAB, bytes);
  return p;
}

TEST(UtilLargeBlock, KeptBlockServesRequestsOfItsOrder) {
  if (kLargeBlocksChecked) GTEST_SKIP() << "nothing is kept under the sanitizer";
  drop_kept_large_blocks();
  void* four = take(4 * kMiB);
  free_large(four);
  EXPECT_GE(large_blocks_kept(), 4 * kMiB);
  void* small = take(kMiB / 2);  // over four times smaller: not served by it
  EXPECT_NE(small, four);
  void* two = take(2 * kMiB);  // at least a quarter of it: served
  EXPECT_EQ(two, four);
  EXPECT_GE(large_block_size(two), 4 * kMiB);  // the whole block is usable
  void* again = take(2 * kMiB);                // nothing kept now
  EXPECT_NE(again, four);
  // Another thread takes what this one freed: nothing is kept per thread.
  free_large(two);
  void* elsewhere = nullptr;
  std::thread([&] { elsewhere = take(3 * kMiB); }).join();
  EXPECT_EQ(elsewhere, two);
  for (void* p : {small, again, elsewhere}) free_large(p);
  drop_kept_large_blocks();
  EXPECT_EQ(large_blocks_kept(), 0u);
  {
    const ReturnFreedBlocks returned;  // blocks freed while a larger one fills: not kept
    free_large(take(4 * kMiB));
    EXPECT_EQ(large_blocks_kept(), 0u);
  }
  free_large(take(4 * kMiB));
  EXPECT_GE(large_blocks_kept(), 4 * kMiB);
  drop_kept_large_blocks();
}

// Whatever is freed, at most 64 MiB stay kept over the whole process; a
// larger freed block displaces smaller kept ones, and a block over the
// whole budget is never kept.
TEST(UtilLargeBlock, WhatIsKeptStaysWithinTheBudget) {
  if (kLargeBlocksChecked) GTEST_SKIP() << "nothing is kept under the sanitizer";
  drop_kept_large_blocks();
  std::vector<void*> blocks;
  for (int i = 0; i < 40; ++i) blocks.push_back(take(3 * kMiB));
  for (void* p : blocks) free_large(p);
  EXPECT_LE(large_blocks_kept(), 64 * kMiB);
  EXPECT_GE(large_blocks_kept(), 48 * kMiB);
  void* big = take(40 * kMiB);
  free_large(big);  // displaces smaller ones to fit
  EXPECT_LE(large_blocks_kept(), 64 * kMiB);
  void* again = take(40 * kMiB);
  EXPECT_EQ(again, big);
  free_large(again);
  void* huge = take(65 * kMiB);
  free_large(huge);
  EXPECT_LE(large_blocks_kept(), 64 * kMiB);
  drop_kept_large_blocks();
  // Every place taken by small blocks, far within the budget: a larger
  // block still finds one.
  blocks.clear();
  for (int i = 0; i < 80; ++i) blocks.push_back(take(kLargeBlockFrom));
  for (void* p : blocks) free_large(p);
  const std::size_t small_kept = large_blocks_kept();
  free_large(take(8 * kMiB));
  EXPECT_GE(large_blocks_kept(), small_kept + 7 * kMiB);
  drop_kept_large_blocks();
}

// Mappings of callers that align their own: served only when the size and
// the alignment match.
TEST(UtilLargeBlock, KeptMappingsMatchSizeAndAlignment) {
  if (kLargeBlocksChecked) GTEST_SKIP() << "nothing is kept under the sanitizer";
  drop_kept_large_blocks();
  void* mapping = mmap(nullptr, 2 * kMiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  ASSERT_TRUE(keep_mapping(mapping, 2 * kMiB));
  EXPECT_EQ(take_kept_mapping(4 * kMiB, 4096), nullptr);
  if (reinterpret_cast<std::uintptr_t>(mapping) % (2 * kMiB) != 0) {
    EXPECT_EQ(take_kept_mapping(2 * kMiB, 2 * kMiB), nullptr);
  }
  EXPECT_EQ(take_kept_mapping(2 * kMiB, 4096), mapping);
  EXPECT_EQ(large_blocks_kept(), 0u);
  munmap(mapping, 2 * kMiB);
}

TEST(UtilLargeBlock, BlockAllocatorPicksTheKindBySize) {
  std::vector<int, BlockAllocator<int>> small(10, 7);
  std::vector<int, BlockAllocator<int>> large(kLargeBlockFrom / sizeof(int) * 3, 9);
  large.push_back(1);  // grows into a new large block
  EXPECT_EQ(small[9], 7);
  EXPECT_EQ(large[kLargeBlockFrom / sizeof(int)], 9);
  EXPECT_EQ(large.back(), 1);
  drop_kept_large_blocks();
}

}  // namespace
}  // namespace kestrine
