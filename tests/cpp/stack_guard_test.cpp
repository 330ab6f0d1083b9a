#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "util/stack_guard.hpp"

namespace kestrine {
namespace {

// Roughly 2 KiB of stack per level: 200000 levels need ~400 MiB, far past any
// thread stack, so this only completes if the guard moves to new segments.
int deep(int n) {
  volatile char pad[2048];
  pad[0] = static_cast<char>(n);
  if (n == 0) return pad[0];
  return stack_guarded([&] { return deep(n - 1); }) + 1;
}

TEST(StackGuard, DeepRecursionCompletes) {
  EXPECT_EQ(deep(200000), 200000);
}

TEST(StackGuard, DeepRecursionOnSmallThreadStack) {
  int result = -1;
  std::thread t([&] { result = deep(20000); });
  t.join();
  EXPECT_EQ(result, 20000);
}

int throw_at_depth(int n) {
  volatile char pad[2048];
  pad[0] = 1;
  if (n == 0) throw std::runtime_error("bottom");
  return stack_guarded([&] { return throw_at_depth(n - 1); }) + pad[0];
}

TEST(StackGuard, ExceptionsCrossSegments) {
  EXPECT_THROW(throw_at_depth(100000), std::runtime_error);
  // The guard still works after an exception unwound through segments.
  EXPECT_EQ(deep(50000), 50000);
}

TEST(StackGuard, ReturnsMoveOnlyAndVoid) {
  auto s = stack_guarded([] { return std::string(100, 'x'); });
  EXPECT_EQ(s.size(), 100u);
  int hits = 0;
  stack_guarded([&] { ++hits; });
  EXPECT_EQ(hits, 1);
}

}  // namespace
}  // namespace kestrine
