#include "diagnostics/log_clock.h"

namespace {

class SystemClock final : public LogClock {
 public:
  void LocalTime(SYSTEMTIME* time) const override { GetLocalTime(time); }
  ULONGLONG Ticks() const override { return GetTickCount64(); }
};

}  // namespace

LogClock& SystemLogClock() {
  static SystemClock clock;
  return clock;
}
