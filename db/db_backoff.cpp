#include "db/db_backoff.h"

#include <climits>
#include <ctime>

namespace {

std::int64_t RunTimeClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

DBBackoff::DBBackoff(Clock clock) : clock_(clock != nullptr ? clock : &RunTimeClock) {}

DBBackoff::~DBBackoff() = default;

bool DBBackoff::CanRetry() const { return clock_() >= nextAllowedTime_; }

bool DBBackoff::RecordResult(bool failed) {
  if (failed) {
    IncrementCount();
    ScheduleNext();
  } else {
    Reset();
  }
  return failed;
}

void DBBackoff::IncrementCount() {
  // Stays at the top once there: the wait is the same from ten failures on.
  if (failureCount_ < INT32_MAX) ++failureCount_;
}

void DBBackoff::Reset() { failureCount_ = 0; }

void DBBackoff::ScheduleNext() {
  const std::int64_t now = clock_();
  if (failureCount_ <= 1) {
    nextAllowedTime_ = now;
  } else if (failureCount_ <= 9) {
    nextAllowedTime_ = now + 60 * static_cast<std::int64_t>(failureCount_);
  } else {
    nextAllowedTime_ = now + 600;
  }
}
