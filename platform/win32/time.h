// Clocks and the time formats of the system's home platform.
//
// SYSTEMTIME is a broken-down calendar time with milliseconds. FILETIME is a
// count of 100-nanosecond intervals since 1601-01-01 00:00 UTC, split into
// two 32-bit halves (low first). An OLE Automation date (DATE) counts days
// from 1899-12-30 00:00; its fraction is the time of day, taken as a positive
// part even for negative dates (-1.25 is 1899-12-29 06:00). Dates run from
// 0100-01-01 to 9999-12-31 and carry whole seconds: SystemTimeToVariantTime
// ignores the milliseconds, VariantTimeToSystemTime rounds to the nearest
// second and gives 0 milliseconds.
//
// GetTickCount64 counts milliseconds on the monotonic clock; GetTickCount is
// its low 32 bits, so it wraps to 0 after about 49.7 days and elapsed times
// are taken by unsigned subtraction.
//
// Sleep goes through a hook that tests may replace. Thread safety: every
// function may be called from any thread; replacing the hook while another
// thread sleeps affects only later calls.
#pragma once

#include "platform/win32/types.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;  // 1..12
  WORD wDayOfWeek;  // 0 = Sunday; ignored on input
  WORD wDay;  // 1..31
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// The current time, in UTC and in the local time zone.
void GetSystemTime(SYSTEMTIME* time);
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTimeAsFileTime(FILETIME* time);

// FALSE with ERROR_INVALID_PARAMETER for a FILETIME above 0x7FFFFFFFFFFFFFFF
// (a year beyond 30827), or for a SYSTEMTIME with a field out of range or a
// year outside 1601..30827.
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);

// OLE Automation date conversions: TRUE on success; FALSE for a date outside
// 0100-01-01 .. 9999-12-31 23:59:59 (also after rounding), a field out of
// range, or a date that is not a number. The output is left unchanged on
// failure.
INT SystemTimeToVariantTime(const SYSTEMTIME* systemTime, DATE* date);
INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* systemTime);

DWORD GetTickCount();
ULONGLONG GetTickCount64();

// Suspends the calling thread for `milliseconds` (INFINITE: for ever; 0:
// yields), or does what the installed hook does instead.
void Sleep(DWORD milliseconds);

// Replaces what Sleep does; null restores the real sleep. Returns the hook it
// replaced (null for the real sleep).
using SleepHook = void (*)(DWORD milliseconds);
SleepHook SetSleepHookForTesting(SleepHook hook);
