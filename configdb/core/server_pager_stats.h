// ServerPagerStats: one user's message counters, last-activity times and
// status, loaded from the user's UserStats row, changed in memory by the
// per-user statistics operations of the configuration database object and
// written back whole by PMDatabaseSQLImp::SaveServerPagerStats.
//
// The object owns one per cached user in its statistics map, guarded by its
// statistics lock; PMDatabaseSQLImp::GetAndLockServerPagerStats is the only
// way to a record from outside, and the record may be used only while the
// statistics lock it returned with is held.
#pragma once

#include <cstdint>

struct ServerPagerStats {
  // Everything but the ids 0, every flag clear.
  ServerPagerStats(std::int32_t rowId, std::int32_t userId) : RowId(rowId), UserId(userId) {}

  // The UserStats row (Id) and the user (UserConfigId, the map key).
  std::int32_t RowId;
  std::int32_t UserId;
  // Counts never become negative: a negative value is not stored.
  std::int32_t ExpiredMsgsCount = 0;   // MsgsExpired
  std::int32_t FailedMsgsCount = 0;    // MsgsFailed
  std::int32_t PendingMsgsCount = 0;   // MsgsPending
  std::int32_t FilteredMsgsCount = 0;  // MsgsFiltered
  std::int32_t MsgsRcvd = 0;           // MsgsForwarded
  std::int32_t MsgsSent = 0;           // MsgsSent
  // time64 values (LastMsgExpired, LastSentTime, LastFwdTime) and
  // LastXPAction, which the row holds as a 32-bit integer.
  std::int64_t LastMsgExpired = 0;
  std::int64_t LastMsgSent = 0;
  std::int64_t LastMsgRcvd = 0;
  std::int64_t LastXPAction = 0;
  std::int32_t Status = 0;
  // Set by every setter that changes a value; clearing it clears
  // countersChanged too.
  bool changed = false;
  // Set by the setters of ExpiredMsgsCount, PendingMsgsCount,
  // FilteredMsgsCount, MsgsRcvd and MsgsSent when they change a value.
  bool countersChanged = false;
  // The counters are to be zeroed at the next save (loaded all 0, or reset
  // by the change history).
  bool resetMark = false;
};
