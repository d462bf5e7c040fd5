#include "foundation/time_convert.h"

#include <algorithm>
#include <limits>

namespace {

// 100-nanosecond intervals in a second.
constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;

}  // namespace

void TimeToFileTime(std::int64_t t, FILETIME* out) {
  // 128-bit arithmetic, so that a time beyond the range saturates instead of
  // wrapping into an ordinary date.
  const __int128 wanted = (static_cast<__int128>(t) + kEpochDifference) * kTicksPerSecond;
  const auto ticks = static_cast<std::uint64_t>(static_cast<std::int64_t>(
      std::clamp<__int128>(wanted, std::numeric_limits<std::int64_t>::min(),
                           std::numeric_limits<std::int64_t>::max())));
  out->dwLowDateTime = static_cast<DWORD>(ticks);
  out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

bool FileTimeToTime(const FILETIME* ft, std::int64_t* out) {
  const auto ticks = static_cast<std::int64_t>((std::uint64_t{ft->dwHighDateTime} << 32) |
                                               ft->dwLowDateTime);
  // The difference may pass 64 bits; the quotient never does.
  const __int128 since1970 = static_cast<__int128>(ticks) - kEpochDifference * kTicksPerSecond;
  *out = static_cast<std::int64_t>(since1970 / kTicksPerSecond);
  return true;
}

std::int64_t VariantDateToTime(double date) {
  SYSTEMTIME st{};
  FILETIME ft{};
  VariantTimeToSystemTime(date, &st);
  SystemTimeToFileTime(&st, &ft);
  std::int64_t t = 0;
  FileTimeToTime(&ft, &t);
  return t;
}

void TimeToVariantDate(std::int64_t t, double* date) {
  FILETIME ft{};
  SYSTEMTIME st{};
  *date = 0;
  TimeToFileTime(t, &ft);
  FileTimeToSystemTime(&ft, &st);
  SystemTimeToVariantTime(&st, date);
}
