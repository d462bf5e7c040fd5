// Test support: a LogClock whose local time and tick count the test sets
// and moves on. Advance() moves both (the calendar time by whole
// milliseconds, through FILETIME, so days and months roll over).
//
// Any thread may read it while the test's thread moves it.
#pragma once

#include <mutex>

#include "diagnostics/log_clock.h"
#include "platform/win32/time.h"

class FakeLogClock : public LogClock {
 public:
  // 2024-01-31 09:15:02.517, tick count 1000000.
  FakeLogClock() { Set(2024, 1, 31, 9, 15, 2, 517); }

  void LocalTime(SYSTEMTIME* time) const override {
    std::lock_guard<std::mutex> hold(mutex_);
    *time = now_;
  }
  ULONGLONG Ticks() const override {
    std::lock_guard<std::mutex> hold(mutex_);
    return ticks_;
  }

  void Set(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
           int millisecond = 0) {
    std::lock_guard<std::mutex> hold(mutex_);
    now_ = SYSTEMTIME{static_cast<WORD>(year), static_cast<WORD>(month), 0,
                      static_cast<WORD>(day), static_cast<WORD>(hour), static_cast<WORD>(minute),
                      static_cast<WORD>(second), static_cast<WORD>(millisecond)};
    Normalise();
  }

  void Advance(ULONGLONG milliseconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    ticks_ += milliseconds;
    FILETIME file;
    SystemTimeToFileTime(&now_, &file);
    ULONGLONG value = (ULONGLONG{file.dwHighDateTime} << 32 | file.dwLowDateTime) +
                      milliseconds * 10000;
    file.dwLowDateTime = static_cast<DWORD>(value);
    file.dwHighDateTime = static_cast<DWORD>(value >> 32);
    FileTimeToSystemTime(&file, &now_);
  }

 private:
  // Fills in the day of the week.
  void Normalise() {
    FILETIME file;
    if (SystemTimeToFileTime(&now_, &file)) FileTimeToSystemTime(&file, &now_);
  }

  mutable std::mutex mutex_;
  SYSTEMTIME now_{};
  ULONGLONG ticks_ = 1000000;
};
