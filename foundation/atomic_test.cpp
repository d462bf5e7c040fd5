#include "foundation/atomic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace {

TEST(Atomic, WrappersReturnWhatTheInterlockedCallsReturn) {
  LONG value = INT32_MAX;
  EXPECT_EQ(AtomicIncrement(&value), INT32_MIN);  // wraps
  EXPECT_EQ(AtomicDecrement(&value), INT32_MAX);
  EXPECT_EQ(AtomicExchange(&value, 7), INT32_MAX);
  EXPECT_EQ(value, 7);

  LONGLONG stamp = 0x100000000ll;
  EXPECT_EQ(AtomicCompareExchange64(&stamp, 5, 0), 0x100000000ll);  // no match
  EXPECT_EQ(stamp, 0x100000000ll);
  EXPECT_EQ(AtomicCompareExchange64(&stamp, 5, 0x100000000ll), 0x100000000ll);
  EXPECT_EQ(stamp, 5);
}

TEST(Atomic, CompareExchange64LosesNoUpdateAcrossThreads) {
  constexpr int kThreads = 8;
  constexpr int kSteps = 20000;
  // Starts below 2^32 so that the count crosses the halves of the value.
  constexpr LONGLONG kStart = 0xFFFFF000ll;
  LONGLONG counter = kStart;
  LONG increments = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kSteps; ++i) {
        LONGLONG seen = AtomicCompareExchange64(&counter, 0, 0);  // an atomic read
        for (;;) {
          const LONGLONG previous = AtomicCompareExchange64(&counter, seen + 1, seen);
          if (previous == seen) break;
          seen = previous;
        }
        AtomicIncrement(&increments);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, kStart + LONGLONG{kThreads} * kSteps);
  EXPECT_EQ(increments, kThreads * kSteps);
}

}  // namespace
