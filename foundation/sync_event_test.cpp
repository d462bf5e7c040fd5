#include "foundation/sync_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/win32/sync.h"

namespace {

using namespace std::chrono_literals;

TEST(SyncEvent, WaitReflectsTheKindAndStateOfTheEvent) {
  struct Case {
    bool manualReset;
    bool signalled;
    int firstWait;
    int secondWait;  // an auto-reset event is used up by the first wait
  };
  const Case cases[] = {
      {true, true, 1, 1},
      {false, true, 1, 0},
      {true, false, 0, 0},
      {false, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manualReset=" << c.manualReset
                                    << " signalled=" << c.signalled);
    SyncEvent event;
    ASSERT_TRUE(event.Create(c.manualReset, c.signalled));
    EXPECT_EQ(event.Wait(0), c.firstWait);
    EXPECT_EQ(event.Wait(0), c.secondWait);
  }
}

TEST(SyncEvent, SetAndResetChangeTheState) {
  SyncEvent event;
  ASSERT_TRUE(event.Create(true, false));
  EXPECT_TRUE(event.Set());
  EXPECT_EQ(event.Wait(0), 1);
  EXPECT_TRUE(event.Reset());
  EXPECT_EQ(event.Wait(0), 0);
}

TEST(SyncEvent, AnUnlimitedWaitEndsWhenAnotherThreadSetsTheEvent) {
  SyncEvent event;
  ASSERT_TRUE(event.Create(false, false));
  std::thread setter([&event] {
    std::this_thread::sleep_for(20ms);
    event.Set();
  });
  EXPECT_EQ(event.Wait(-1), 1);
  setter.join();
}

TEST(SyncEvent, ATimedWaitGivesUpAfterItsTime) {
  SyncEvent event;
  ASSERT_TRUE(event.Create(true, false));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(60), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
}

TEST(SyncEvent, AnEventNeverCreatedOrClosedFails) {
  SyncEvent never;
  EXPECT_EQ(never.Wait(0), -1);
  EXPECT_FALSE(never.Set());

  SyncEvent closed;
  ASSERT_TRUE(closed.Create(true, true));
  closed.Close();
  closed.Close();
  EXPECT_EQ(closed.Wait(0), -1);
  EXPECT_FALSE(closed.Reset());
}

TEST(SyncEvent, TimeOutsMapToWaitsWithoutWrapping) {
  const struct {
    int64_t timeoutMs;
    DWORD milliseconds;
  } cases[] = {
      {-1, INFINITE},
      {-2, INFINITE},
      {0, 0},
      {1500, 1500},
      {0xFFFFFFFEll, 0xFFFFFFFEu},
      {0xFFFFFFFFll, 0xFFFFFFFEu},  // would otherwise become INFINITE
      {0x100000000ll, 0xFFFFFFFEu},  // would otherwise become 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeoutMs);
    EXPECT_EQ(ToWaitMilliseconds(c.timeoutMs), c.milliseconds);
  }
}

}  // namespace
