#include "foundation/thread_name_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/log_capture_for_tests.h"
#include "platform/win32/thread.h"

namespace {

using Entries = std::vector<std::pair<DWORD, std::string>>;

Entries WalkAll(ThreadNameRegistry& names) {
  Entries entries;
  DWORD id;
  std::string name;
  for (bool more = names.First(&id, &name); more; more = names.Next(&id, &name)) {
    entries.emplace_back(id, name);
  }
  return entries;
}

TEST(ThreadNameRegistry, RegisterReplacesAndUnregisterRemovesTheCallersEntry) {
  LogCapture capture;
  ThreadNameRegistry names;
  const DWORD self = GetCurrentThreadId();
  names.Register("first");
  names.Register("second");
  EXPECT_EQ(WalkAll(names), (Entries{{self, "second"}}));
  names.Unregister();
  EXPECT_TRUE(WalkAll(names).empty());
  names.Unregister();  // no entry: nothing logged

  int unregisterLines = 0;
  for (const CapturedLogLine& line : capture.Taken()) {
    if (line.text.find("EVENT=Unregister_thread") != std::string::npos) ++unregisterLines;
  }
  EXPECT_EQ(unregisterLines, 1);
  EXPECT_EQ(capture.Taken().size(), 3u);  // two registrations, one removal
}

TEST(ThreadNameRegistry, AWalkOverAnEmptyRegistryEndsAtOnce) {
  ThreadNameRegistry names;
  DWORD id = 7;
  std::string name = "kept";
  EXPECT_FALSE(names.First(&id, &name));
  EXPECT_FALSE(names.Next(&id, &name));
  EXPECT_EQ(id, 7u);
  EXPECT_EQ(name, "kept");
}

TEST(ThreadNameRegistry, AWalkReadsTheEntriesAsTheyWereAtFirst) {
  ThreadNameRegistry names;
  names.Register("walker");
  DWORD id;
  std::string name;
  ASSERT_TRUE(names.First(&id, &name));
  EXPECT_EQ(name, "walker");

  DWORD otherId = 0;
  std::thread([&] {
    names.Register("late");
    otherId = GetCurrentThreadId();
  }).join();
  EXPECT_FALSE(names.Next(&id, &name));  // "late" came after the copy

  const Entries now = WalkAll(names);
  ASSERT_EQ(now.size(), 2u);
  EXPECT_LT(now[0].first, now[1].first);  // in thread-id order
  EXPECT_EQ(now[otherId == now[0].first ? 0 : 1].second, "late");
}

TEST(ThreadNameRegistry, AbandonedAndConcurrentWalksBlockNoThread) {
  ThreadNameRegistry names;
  names.Register("walker");
  DWORD id;
  std::string name;
  ASSERT_TRUE(names.First(&id, &name));  // and never finished

  constexpr int kThreads = 6;
  constexpr int kRounds = 200;
  std::atomic<bool> walking{true};
  std::vector<std::thread> walkers;
  for (int w = 0; w < 2; ++w) {
    walkers.emplace_back([&] {
      while (walking) {
        const Entries entries = WalkAll(names);
        for (size_t i = 1; i < entries.size(); ++i) {
          ASSERT_LT(entries[i - 1].first, entries[i].first);
        }
      }
    });
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&names, t] {
      const std::string own = "thread-" + std::to_string(t);
      for (int r = 0; r < kRounds; ++r) {
        names.Register(own.c_str());
        names.Unregister();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  walking = false;
  for (auto& walker : walkers) walker.join();

  EXPECT_EQ(WalkAll(names), (Entries{{GetCurrentThreadId(), "walker"}}));
}

}  // namespace
