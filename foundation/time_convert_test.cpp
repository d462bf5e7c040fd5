#include "foundation/time_convert.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kFileTimeOf1970 = 116444736000000000ULL;

FILETIME MakeFileTime(std::uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::uint64_t Ticks(const FILETIME& ft) {
  return (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

TEST(TimeConvertTest, FileTimeCountsTicksSince1601) {
  struct Case {
    std::int64_t t;
    std::uint64_t ticks;
  } cases[] = {
      {0, kFileTimeOf1970},
      {1, kFileTimeOf1970 + 10000000},
      {-1, kFileTimeOf1970 - 10000000},
      {-11644473600, 0},
      {1234567890, 128790414900000000ULL},
      {253402300799, 2650467743990000000ULL},  // 9999-12-31 23:59:59
      {-11644473601, static_cast<std::uint64_t>(-10000000)},
      {910692730085, 9223372036854775807ULL - 4775807},  // the last whole second
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    FILETIME ft{};
    TimeToFileTime(c.t, &ft);
    EXPECT_EQ(Ticks(ft), c.ticks);
    std::int64_t back = 42;
    EXPECT_TRUE(FileTimeToTime(&ft, &back));
    EXPECT_EQ(back, c.t);
  }
}

TEST(TimeConvertTest, FileTimeToTimeRoundsTowardZero) {
  struct Case {
    std::uint64_t ticks;
    std::int64_t t;
  } cases[] = {
      {kFileTimeOf1970 + 9999999, 0},
      {kFileTimeOf1970 - 9999999, 0},
      {kFileTimeOf1970 - 10000000, -1},
      {kFileTimeOf1970 - 15000000, -1},
      {kFileTimeOf1970 + 25000000, 2},
      {0, -11644473600},
      // Counts from 2^63 up are negative.
      {0xFFFFFFFFFFFFFFFFULL, -11644473600},
      {0x8000000000000000ULL, -933981677285},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    const FILETIME ft = MakeFileTime(c.ticks);
    std::int64_t t = 42;
    EXPECT_TRUE(FileTimeToTime(&ft, &t));
    EXPECT_EQ(t, c.t);
  }
}

TEST(TimeConvertTest, FileTimesBeyondTheRangeSaturate) {
  struct Case {
    std::int64_t t;
    std::uint64_t ticks;
  } cases[] = {
      {910692730086, 0x7FFFFFFFFFFFFFFFULL},
      {std::numeric_limits<std::int64_t>::max(), 0x7FFFFFFFFFFFFFFFULL},
      {-933981677286, 0x8000000000000000ULL},
      {std::numeric_limits<std::int64_t>::min(), 0x8000000000000000ULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    FILETIME ft{};
    TimeToFileTime(c.t, &ft);
    EXPECT_EQ(Ticks(ft), c.ticks);
  }
}

TEST(TimeConvertTest, VariantDatesCountDaysSince1899December30) {
  struct Case {
    std::int64_t t;
    double date;
  } cases[] = {
      {0, 25569.0},
      {43200, 25569.5},
      {86400, 25570.0},
      {-86400, 25568.0},
      {-2209161600, 0.0},             // 1899-12-30 00:00
      {-2209248000, -1.0},            // 1899-12-29 00:00
      {-2209248000 + 21600, -1.25},   // 1899-12-29 06:00
      {-11644473600, -109205.0},      // 1601-01-01
      {1234567890, 39857.980208333333},
      {253402300799, 2958465.999988426},  // 9999-12-31 23:59:59
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    double date = -7;
    TimeToVariantDate(c.t, &date);
    EXPECT_NEAR(date, c.date, 1e-9);
    EXPECT_EQ(VariantDateToTime(c.date), c.t);
    EXPECT_EQ(VariantDateToTime(date), c.t);
  }
}

TEST(TimeConvertTest, TimesTheDatesCannotHoldGiveFixedValues) {
  // Before 1601 no FILETIME holds the time; after 9999 no OLE date does.
  for (std::int64_t t : {std::int64_t{-11644473601}, std::int64_t{253402300800},
                         std::numeric_limits<std::int64_t>::min(),
                         std::numeric_limits<std::int64_t>::max()}) {
    SCOPED_TRACE(t);
    double date = -7;
    TimeToVariantDate(t, &date);
    EXPECT_EQ(date, 0.0);
  }
  for (double date : {std::nan(""), 1e12, -1e12}) {
    SCOPED_TRACE(date);
    EXPECT_EQ(VariantDateToTime(date), -11644473600);
  }
}

}  // namespace
