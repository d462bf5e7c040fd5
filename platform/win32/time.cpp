#include "platform/win32/time.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "platform/win32/error.h"

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;  // FILETIME units
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFF;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The civil date and weekday of a day counted from 1970-01-01.
void CivilFromDays(std::int64_t days, SYSTEMTIME* out) {
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(shifted - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  out->wYear = static_cast<WORD>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  // 1970-01-01 was a Thursday.
  out->wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);
}

bool IsLeapYear(unsigned year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool HasValidFields(const SYSTEMTIME& t, unsigned minYear, unsigned maxYear) {
  return t.wYear >= minYear && t.wYear <= maxYear && t.wMonth >= 1 && t.wMonth <= 12 &&
         t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth) && t.wHour < 24 &&
         t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

// Day 0 of the FILETIME and DATE scales, in days from 1970-01-01.
constexpr std::int64_t kFileTimeEpochDay = DaysFromCivil(1601, 1, 1);
constexpr std::int64_t kDateEpochDay = DaysFromCivil(1899, 12, 30);
static_assert(kFileTimeEpochDay == -134774 && kDateEpochDay == -25569);
// The range of an OLE Automation date, in days from its day 0.
constexpr std::int64_t kMinDateDay = DaysFromCivil(100, 1, 1) - kDateEpochDay;
constexpr std::int64_t kMaxDateDay = DaysFromCivil(9999, 12, 31) - kDateEpochDay;

void SetTimeOfDay(std::int64_t secondOfDay, WORD milliseconds, SYSTEMTIME* out) {
  out->wHour = static_cast<WORD>(secondOfDay / 3600);
  out->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  out->wSecond = static_cast<WORD>(secondOfDay % 60);
  out->wMilliseconds = milliseconds;
}

void FromTimespec(const timespec& now, bool local, SYSTEMTIME* out) {
  std::tm parts{};
  if (local) {
    localtime_r(&now.tv_sec, &parts);
  } else {
    gmtime_r(&now.tv_sec, &parts);
  }
  out->wYear = static_cast<WORD>(parts.tm_year + 1900);
  out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  out->wDay = static_cast<WORD>(parts.tm_mday);
  out->wHour = static_cast<WORD>(parts.tm_hour);
  out->wMinute = static_cast<WORD>(parts.tm_min);
  // A leap second is shown as the last second of its minute.
  out->wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1'000'000);
}

void RealSleep(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<SleepHook> sleepHook{nullptr};

}  // namespace

void GetSystemTime(SYSTEMTIME* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  FromTimespec(now, false, time);
}

void GetLocalTime(SYSTEMTIME* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  FromTimespec(now, true, time);
}

void GetSystemTimeAsFileTime(FILETIME* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const auto ticks = static_cast<std::uint64_t>(
      (static_cast<std::int64_t>(now.tv_sec) - kFileTimeEpochDay * kSecondsPerDay) * kTicksPerSecond +
      now.tv_nsec / 100);
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  if (ticks > static_cast<std::uint64_t>(kMaxFileTime)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto seconds = static_cast<std::int64_t>(ticks / kTicksPerSecond);
  const auto milliseconds = static_cast<WORD>(ticks % kTicksPerSecond / 10'000);
  CivilFromDays(seconds / kSecondsPerDay + kFileTimeEpochDay, systemTime);
  SetTimeOfDay(seconds % kSecondsPerDay, milliseconds, systemTime);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) {
  if (!HasValidFields(*systemTime, 1601, 30827)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::int64_t days =
      DaysFromCivil(systemTime->wYear, systemTime->wMonth, systemTime->wDay) - kFileTimeEpochDay;
  const std::int64_t seconds = days * kSecondsPerDay + systemTime->wHour * 3600 +
                               systemTime->wMinute * 60 + systemTime->wSecond;
  const auto ticks =
      static_cast<std::uint64_t>(seconds * kTicksPerSecond + systemTime->wMilliseconds * 10'000);
  fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* systemTime, DATE* date) {
  SYSTEMTIME wholeSeconds = *systemTime;
  wholeSeconds.wMilliseconds = 0;
  if (!HasValidFields(wholeSeconds, 100, 9999)) return FALSE;
  const std::int64_t day =
      DaysFromCivil(systemTime->wYear, systemTime->wMonth, systemTime->wDay) - kDateEpochDay;
  const double timeOfDay =
      static_cast<double>(systemTime->wHour * 3600 + systemTime->wMinute * 60 + systemTime->wSecond) /
      kSecondsPerDay;
  // Before day 0 the time of day still counts forward from midnight.
  *date = day >= 0 ? static_cast<double>(day) + timeOfDay : static_cast<double>(day) - timeOfDay;
  return TRUE;
}

INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* systemTime) {
  // A negative date's day is its whole part, so the first day's dates run
  // down to (but not to) one below its number.
  if (!std::isfinite(date) || date <= static_cast<double>(kMinDateDay - 1) ||
      date >= static_cast<double>(kMaxDateDay + 1)) {
    return FALSE;
  }
  std::int64_t day = static_cast<std::int64_t>(std::trunc(date));
  std::int64_t second = std::llround(std::fabs(date - static_cast<double>(day)) * kSecondsPerDay);
  if (second >= kSecondsPerDay) {
    ++day;
    second -= kSecondsPerDay;
  }
  if (day > kMaxDateDay) return FALSE;
  CivilFromDays(day + kDateEpochDay, systemTime);
  SetTimeOfDay(second, 0, systemTime);
  return TRUE;
}

ULONGLONG GetTickCount64() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1'000'000;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void Sleep(DWORD milliseconds) {
  const SleepHook hook = sleepHook.load();
  if (hook != nullptr) {
    hook(milliseconds);
  } else {
    RealSleep(milliseconds);
  }
}

SleepHook SetSleepHookForTesting(SleepHook hook) { return sleepHook.exchange(hook); }
