#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>

#include "quillmar/core/stack_guard.hpp"

namespace quillmar::core {
namespace {

// Goes one level deeper until the guard says stop; a buffer per level keeps
// the frames real.
[[gnu::noinline]] std::size_t descend(const StackGuard& guard, std::size_t level) {
  if (guard.exhausted()) return level;
  volatile char frame[512];
  frame[0] = static_cast<char>(level);
  const std::size_t deepest = descend(guard, level + 1);
  return deepest + static_cast<std::size_t>(frame[0] & 0);
}

void* descend_from_the_top(void* levels) {
  *static_cast<std::size_t*>(levels) = descend(StackGuard(), 0);
  return nullptr;
}

// A guard that misread the bounds lets the thread run off its stack, which
// kills the test binary.
TEST(StackGuard, StopsARecursionBeforeASmallThreadStackEnds) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
  std::size_t levels = 0;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, descend_from_the_top, &levels), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  // 64 KiB less the reserve, at a little over 512 bytes a level.
  EXPECT_GT(levels, 20u);
  EXPECT_LT(levels, (64u * 1024 - STACK_RESERVE) / 512);
}

TEST(StackGuard, LeavesAFreshStackUnexhausted) { EXPECT_FALSE(StackGuard().exhausted()); }

}  // namespace
}  // namespace quillmar::core
