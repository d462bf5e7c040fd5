#include "db/db_backoff.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace {

std::int64_t fakeNow = 0;
std::int64_t FakeClock() { return fakeNow; }

class DBBackoffTest : public ::testing::Test {
 protected:
  void SetUp() override { fakeNow = 1'700'000'000; }
};

TEST_F(DBBackoffTest, ANewObjectAllowsAPollAtOnce) {
  DBBackoff backoff(&FakeClock);
  EXPECT_TRUE(backoff.CanRetry());
  DBBackoff runTimeClock;
  EXPECT_TRUE(runTimeClock.CanRetry());
}

TEST_F(DBBackoffTest, ConsecutiveFailuresDeferTheNextPoll) {
  // The wait after the n-th consecutive failure.
  const std::int64_t waits[] = {0, 120, 180, 240, 300, 360, 420, 480, 540, 600, 600, 600};
  DBBackoff backoff(&FakeClock);
  for (std::size_t i = 0; i < std::size(waits); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_TRUE(backoff.RecordResult(true));
    EXPECT_EQ(backoff.failureCount(), static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(backoff.nextAllowedTime(), fakeNow + waits[i]);
    if (waits[i] > 0) {
      fakeNow += waits[i] - 1;
      EXPECT_FALSE(backoff.CanRetry());
      fakeNow += 1;
    }
    EXPECT_TRUE(backoff.CanRetry());
  }
}

TEST_F(DBBackoffTest, ASuccessResetsTheCount) {
  DBBackoff backoff(&FakeClock);
  backoff.RecordResult(true);
  backoff.RecordResult(true);
  fakeNow += 120;
  EXPECT_FALSE(backoff.RecordResult(false));
  EXPECT_EQ(backoff.failureCount(), 0);
  EXPECT_TRUE(backoff.CanRetry());
  backoff.RecordResult(true);
  EXPECT_EQ(backoff.nextAllowedTime(), fakeNow);  // a single failure again: no wait
}

TEST_F(DBBackoffTest, ErrorCodesCountAsFailuresUnlessZero) {
  DBBackoff backoff(&FakeClock);
  EXPECT_TRUE(backoff.RecordResult(static_cast<std::int32_t>(0x80004005)));
  EXPECT_TRUE(backoff.RecordResult(1));
  EXPECT_EQ(backoff.failureCount(), 2);
  EXPECT_FALSE(backoff.RecordResult(0));
  EXPECT_EQ(backoff.failureCount(), 0);
}

}  // namespace
