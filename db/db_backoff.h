// DBBackoff spaces out repeated database polls after failures.
//
// The owner asks CanRetry before each poll and skips the poll while it is
// false; after the poll it reports the outcome with RecordResult. A first
// failure allows the next poll at once; the n-th consecutive failure (n from
// 2 to 9) defers it by 60 x n seconds, and the tenth and every later one by
// 600 seconds. The first success clears the count (the time already
// scheduled stays, and has passed by then).
//
// Time is time64 (seconds since 1970) from a clock given at construction:
// the C run-time's time() by default, a fake one in tests.
//
// Thread safety: none; one owner polls from one thread.
#pragma once

#include <cstdint>

class DBBackoff {
 public:
  // Returns the current time64.
  using Clock = std::int64_t (*)();

  // Count 0, next allowed time 0 (the first poll is allowed). A null clock
  // means the run-time's clock.
  explicit DBBackoff(Clock clock = nullptr);
  virtual ~DBBackoff();

  // True when the current time has reached the next allowed time.
  bool CanRetry() const;

  // Records a poll: a failure increments the count and schedules the next
  // allowed time; a success resets the count. Returns `failed`.
  bool RecordResult(bool failed);
  // The same with an error code: 0 is a success, anything else a failure.
  bool RecordResult(std::int32_t errorCode) { return RecordResult(errorCode != 0); }

  void IncrementCount();
  void Reset();
  // Next allowed time from now and the current count (see above).
  void ScheduleNext();

  std::int32_t failureCount() const { return failureCount_; }
  std::int64_t nextAllowedTime() const { return nextAllowedTime_; }

 private:
  std::int32_t failureCount_ = 0;
  std::int64_t nextAllowedTime_ = 0;
  Clock clock_;
};
