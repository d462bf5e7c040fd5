// The clocks the debug logger and its outputs read: the local calendar time
// (record stamps, file dates, the purge's midnight) and a monotonic
// millisecond count (the settings re-read and the file retry intervals).
//
// SystemLogClock() reads the machine's clocks (GetLocalTime,
// GetTickCount64). Tests give the logger and its outputs a clock of their
// own (fake_log_clock_for_tests.h) to fix the date or to move time on
// without waiting.
//
// Thread safety: a clock is read from any thread at once (the logging
// threads stamp records with it); an implementation must allow that.
#pragma once

#include "platform/win32/time.h"
#include "platform/win32/types.h"

class LogClock {
 public:
  virtual ~LogClock() = default;
  virtual void LocalTime(SYSTEMTIME* time) const = 0;
  virtual ULONGLONG Ticks() const = 0;
};

// The machine's clocks; lives for the whole process.
LogClock& SystemLogClock();
