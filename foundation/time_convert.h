// Conversions between the system's time values and the platform's formats.
//
// In memory every date is a time64: signed 64-bit seconds since
// 1970-01-01 00:00 UTC. FILETIME counts 100-nanosecond intervals since
// 1601-01-01 UTC; an OLE Automation date (DATE, a double) counts days since
// 1899-12-30 and is what the database exchanges as a timestamp. No
// conversion adjusts for the local time zone.
//
// Pure functions; any thread may call them.
#pragma once

#include <cstdint>

#include "platform/win32/time.h"

// (t + 11644473600) x 10000000 as a signed 64-bit tick count (a time
// before 1601 gives a negative count, which the platform's conversions
// refuse); a count beyond the signed 64-bit range saturates.
void TimeToFileTime(std::int64_t t, FILETIME* out);

// (ft - 116444736000000000) / 10000000 with ft taken as a signed 64-bit
// count, rounded toward zero; negative for times before 1970. Always true.
bool FileTimeToTime(const FILETIME* ft, std::int64_t* out);

// The time64 of an OLE date, through SYSTEMTIME and FILETIME. A date the
// platform cannot convert gives the time of the zero FILETIME
// (-11644473600, 1601-01-01).
std::int64_t VariantDateToTime(double date);

// The OLE date of a time64, through FILETIME and SYSTEMTIME. A time the
// platform cannot convert (before 1601 or after 9999) gives 0.
void TimeToVariantDate(std::int64_t t, double* date);
