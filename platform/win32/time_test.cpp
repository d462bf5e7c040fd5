#include "platform/win32/time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "platform/win32/error.h"

namespace {

SYSTEMTIME Make(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0,
                WORD milliseconds = 0) {
  SYSTEMTIME t{};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  t.wMilliseconds = milliseconds;
  return t;
}

std::string Show(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

FILETIME FromTicks(std::uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::uint64_t Ticks(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(VariantTimeTest, DatesAndBackAcrossTheRange) {
  struct Case {
    DATE date;
    const char* time;
  };
  const Case cases[] = {
      {0.0, "1899-12-30 00:00:00.000"},
      {1.5, "1899-12-31 12:00:00.000"},
      {-1.25, "1899-12-29 06:00:00.000"},
      {-1.0, "1899-12-29 00:00:00.000"},
      {2.0, "1900-01-01 00:00:00.000"},
      {60.0, "1900-02-28 00:00:00.000"},
      {61.0, "1900-03-01 00:00:00.000"},
      {36526.75, "2000-01-01 18:00:00.000"},
      {-657434.0, "0100-01-01 00:00:00.000"},
      {-657434.5, "0100-01-01 12:00:00.000"},
      {2958465.0 + 86399.0 / 86400.0, "9999-12-31 23:59:59.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    SYSTEMTIME t{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &t));
    EXPECT_EQ(Show(t), c.time);
    DATE back = 12345.0;
    ASSERT_TRUE(SystemTimeToVariantTime(&t, &back));
    EXPECT_DOUBLE_EQ(back, c.date);
  }
}

TEST(VariantTimeTest, RoundsToTheNearestSecond) {
  const double second = 1.0 / 86400.0;
  struct Case {
    DATE date;
    const char* time;
  };
  const Case cases[] = {
      {0.5 + 0.4 * second, "1899-12-30 12:00:00.000"},
      {0.5 + 0.6 * second, "1899-12-30 12:00:01.000"},
      {1.0 - 0.1 * second, "1899-12-31 00:00:00.000"},
      // Before day 0 the fraction still counts forward, so rounding up moves
      // to the next calendar day too.
      {-1.0 - (1.0 - 0.1 * second), "1899-12-30 00:00:00.000"},
      {-657434.0 - (1.0 - 0.1 * second), "0100-01-02 00:00:00.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    SYSTEMTIME t{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &t));
    EXPECT_EQ(Show(t), c.time);
  }
  // Milliseconds do not reach a date.
  const SYSTEMTIME withMilliseconds = Make(1899, 12, 30, 12, 0, 0, 999);
  DATE date = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&withMilliseconds, &date));
  EXPECT_DOUBLE_EQ(date, 0.5);
}

TEST(VariantTimeTest, OutOfRangeFailsAndLeavesTheOutputAlone) {
  const double second = 1.0 / 86400.0;
  for (DATE date : {-657435.0, 2958466.0, 2958466.0 - 0.1 * second,
                    std::numeric_limits<double>::quiet_NaN(),
                    std::numeric_limits<double>::infinity()}) {
    SCOPED_TRACE(date);
    SYSTEMTIME t = Make(2001, 2, 3);
    EXPECT_FALSE(VariantTimeToSystemTime(date, &t));
    EXPECT_EQ(Show(t), "2001-02-03 00:00:00.000");
  }
  for (const SYSTEMTIME& t : {Make(99, 12, 31), Make(10000, 1, 1), Make(2000, 13, 1), Make(2000, 0, 1),
                              Make(1900, 2, 29), Make(2001, 4, 31), Make(2000, 1, 1, 24),
                              Make(2000, 1, 1, 0, 60), Make(2000, 1, 1, 0, 0, 60)}) {
    SCOPED_TRACE(Show(t));
    DATE date = 7.0;
    EXPECT_FALSE(SystemTimeToVariantTime(&t, &date));
    EXPECT_EQ(date, 7.0);
  }
  const SYSTEMTIME leapDay = Make(2000, 2, 29);
  DATE date = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&leapDay, &date));
  EXPECT_EQ(date, 36585.0);
}

TEST(FileTimeTest, KnownInstantsAndRoundTrips) {
  struct Case {
    std::uint64_t ticks;
    const char* time;
    WORD dayOfWeek;
  };
  const Case cases[] = {
      {0, "1601-01-01 00:00:00.000", 1},
      {116444736000000000ull, "1970-01-01 00:00:00.000", 4},
      {116444736000000000ull - 10'000, "1969-12-31 23:59:59.999", 3},
      {125911584000000000ull, "2000-01-01 00:00:00.000", 6},
      {126000000000000000ull + 1234'5678, "2000-04-12 08:00:01.234", 3},
      {0x7FFFFFFFFFFFFFFFull, "30828-09-14 02:48:05.477", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    const FILETIME ft = FromTicks(c.ticks);
    SYSTEMTIME t{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &t));
    EXPECT_EQ(Show(t), c.time);
    EXPECT_EQ(t.wDayOfWeek, c.dayOfWeek);
    if (t.wYear <= 30827) {
      FILETIME back{};
      ASSERT_TRUE(SystemTimeToFileTime(&t, &back));
      EXPECT_EQ(Ticks(back), c.ticks - c.ticks % 10'000);
    }
  }
}

TEST(FileTimeTest, InvalidValuesFail) {
  const FILETIME tooLarge = FromTicks(0x8000000000000000ull);
  SYSTEMTIME t = Make(2001, 2, 3);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &t));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Show(t), "2001-02-03 00:00:00.000");

  for (const SYSTEMTIME& bad : {Make(1600, 12, 31), Make(30828, 1, 1), Make(2001, 2, 29),
                                Make(2001, 1, 0), Make(2001, 1, 1, 0, 0, 0, 1000)}) {
    SCOPED_TRACE(Show(bad));
    FILETIME ft{1, 2};
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ft.dwLowDateTime, 1u);
  }
}

TEST(ClockTest, SystemAndLocalTimeAgree) {
  const std::string savedTz = std::getenv("TZ") ? std::getenv("TZ") : "";
  const bool hadTz = std::getenv("TZ") != nullptr;
  setenv("TZ", "XYZ-02", 1);  // two hours east of UTC, no daylight saving
  tzset();

  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  FILETIME utcFt{}, localFt{};
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &utcFt));
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localFt));
  const std::int64_t twoHours = 2LL * 3600 * 10'000'000;
  EXPECT_NEAR(static_cast<double>(static_cast<std::int64_t>(Ticks(utcFt) - Ticks(now))), 0.0, 1e7);
  EXPECT_NEAR(static_cast<double>(static_cast<std::int64_t>(Ticks(localFt) - Ticks(utcFt))), static_cast<double>(twoHours), 1e7);

  const auto unixSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  EXPECT_NEAR(static_cast<double>((Ticks(now) - 116444736000000000ull) / 10'000'000),
              static_cast<double>(unixSeconds), 2.0);

  if (hadTz) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(ClockTest, TickCountIsTheLowHalfOfTheLongCount) {
  const ULONGLONG before = GetTickCount64();
  const DWORD ticks = GetTickCount();
  const ULONGLONG after = GetTickCount64();
  // Unsigned differences stay right across the wrap of the 32-bit count.
  EXPECT_LE(static_cast<DWORD>(ticks - static_cast<DWORD>(before)), static_cast<DWORD>(after - before));
  Sleep(20);
  EXPECT_GE(GetTickCount64() - after, 20u);
}

std::atomic<DWORD> lastSleep{0};

TEST(ClockTest, SleepHookReplacesTheSleep) {
  const SleepHook previous =
      SetSleepHookForTesting([](DWORD milliseconds) { lastSleep = milliseconds; });
  EXPECT_EQ(previous, nullptr);
  const ULONGLONG start = GetTickCount64();
  Sleep(600'000);
  EXPECT_LT(GetTickCount64() - start, 1000u);
  EXPECT_EQ(lastSleep.load(), 600'000u);
  EXPECT_NE(SetSleepHookForTesting(nullptr), nullptr);
}

}  // namespace
