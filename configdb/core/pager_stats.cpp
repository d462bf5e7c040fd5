// Per-user statistics: one ServerPagerStats per cached user, loaded from
// the user's UserStats row, changed in memory by the getters and setters and
// written back whole by SaveServerPagerStats.
#include <vector>

#include "configdb/core/column_values.h"
#include "configdb/core/core_sql.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "device/pager.h"
#include "foundation/time_convert.h"

namespace {

constexpr std::size_t kStatsIdColumn = 11;
constexpr std::size_t kStatsUserColumn = 12;

// The columns of a recordset whose columns begin as kSelectUserStats's.
class StatsColumns {
 public:
  explicit StatsColumns(const ado::FieldsPtr& fields) {
    for (LONG column = 0; column < fields->GetCount(); ++column) {
      fields_.push_back(fields->GetItem(_variant_t(static_cast<INT>(column))));
    }
  }
  // The value of `column` in the current row, when it holds one.
  bool Value(std::size_t column, _variant_t* out) const {
    if (fields_[column]->GetActualSize() == 0) return false;
    *out = fields_[column]->GetValue();
    return true;
  }
  bool HasId() const { return fields_.size() > kStatsIdColumn && fields_[kStatsIdColumn]->GetActualSize() != 0; }
  std::size_t Count() const { return fields_.size(); }

  // The statistics record of the current row; each column read only when
  // it holds a value.
  ServerPagerStats Read(int userId) const {
    _variant_t v;
    Value(kStatsIdColumn, &v);
    ServerPagerStats stats(VariantInt(v), userId);
    if (Value(0, &v)) stats.LastMsgSent = VariantTime(v);
    if (Value(1, &v)) stats.LastMsgRcvd = VariantTime(v);
    if (Value(2, &v)) stats.LastXPAction = VariantInt(v);
    if (Value(3, &v)) stats.MsgsSent = VariantInt(v);
    if (Value(4, &v)) stats.MsgsRcvd = VariantInt(v);
    if (Value(5, &v)) stats.PendingMsgsCount = VariantInt(v);
    if (Value(6, &v)) stats.FailedMsgsCount = VariantInt(v);
    if (Value(7, &v)) stats.ExpiredMsgsCount = VariantInt(v);
    if (Value(8, &v)) stats.FilteredMsgsCount = VariantInt(v);
    if (Value(9, &v)) stats.LastMsgExpired = VariantTime(v);
    if (Value(10, &v)) stats.Status = VariantInt(v);
    stats.resetMark = stats.MsgsRcvd == 0 && stats.MsgsSent == 0 && stats.ExpiredMsgsCount == 0 &&
                      stats.FilteredMsgsCount == 0 && stats.FailedMsgsCount == 0;
    return stats;
  }

 private:
  std::vector<ado::FieldPtr> fields_;
};

_variant_t DateOf(std::int64_t time) {
  double date = 0;
  TimeToVariantDate(time, &date);
  return _variant_t(date, VT_DATE);
}

}  // namespace

void PMDatabaseSQLImp::StorePagerStatRecord(const ServerPagerStats& stats) {
  ScopedLock statistics(&statsLock_);
  stats_[stats.UserId] = std::make_unique<ServerPagerStats>(stats);
}

bool PMDatabaseSQLImp::LoadPagerStatRecord(int userId) {
  const char* name = "PMDatabaseSQLImp::LoadPagerStatRecord";
  ScopedLock users(&userLock_);
  ScopedLock statistics(&statsLock_);
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, kSelectUserStats, command)) return false;
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(userId)));
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows) return false;
    if (rows->GetEndOfFile()) {
      closeRecordSet(rows);
      return true;
    }
    const StatsColumns columns(rows->GetFields());
    if (!columns.HasId()) {
      closeRecordSet(rows);
      return false;
    }
    const ServerPagerStats stats = columns.Read(userId);
    closeRecordSet(rows);
    StorePagerStatRecord(stats);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, kSelectUserStats);
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}

bool PMDatabaseSQLImp::LoadServerStatRows(StatsRows& out) {
  const char* name = "PMDatabaseSQLImp::LoadServerStatRows";
  // The rows LoadPagerStatRecord would read, for every user of the server
  // (those the user list selects) in one query.
  const std::wstring sql = ServerStatRowsSql(agentId_ != 0);
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, sql.c_str(), command)) return false;
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    if (agentId_ != 0) AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(agentId_)));
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows) return false;
    if (rows->GetEndOfFile()) {
      closeRecordSet(rows);
      return true;
    }
    const StatsColumns columns(rows->GetFields());
    if (columns.Count() <= kStatsUserColumn) _com_issue_error(DISP_E_BADINDEX);
    _variant_t user;
    for (; !rows->GetEndOfFile(); rows->MoveNext()) {
      if (!columns.HasId() || !columns.Value(kStatsUserColumn, &user)) continue;
      const int userId = VariantInt(user);
      // The first row of a user is the one a single load would take.
      if (out.count(userId) == 0) out.emplace(userId, columns.Read(userId));
    }
    closeRecordSet(rows);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, sql.c_str());
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}

bool PMDatabaseSQLImp::GetAndLockServerPagerStats(Pager* pager, ServerPagerStats** out) {
  if (pager == nullptr || out == nullptr) return false;
  statsLock_.Lock();
  try {
    const auto found = stats_.find(pager->GetUserId());
    if (found != stats_.end() && found->second != nullptr) {
      *out = found->second.get();
      return true;
    }
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::GetAndLockServerPagerStats(1)");
  }
  statsLock_.Unlock();
  return false;
}

template <typename Value>
bool PMDatabaseSQLImp::GetStat(Pager* pager, Value* out, Value ServerPagerStats::*field) {
  if (out == nullptr) return false;
  ServerPagerStats* stats = nullptr;
  if (!GetAndLockServerPagerStats(pager, &stats)) return false;
  *out = stats->*field;
  statsLock_.Unlock();
  return true;
}

template <typename Value>
bool PMDatabaseSQLImp::SetStat(Pager* pager, Value value, Value ServerPagerStats::*field, bool count, bool counter) {
  ServerPagerStats* stats = nullptr;
  if (!GetAndLockServerPagerStats(pager, &stats)) return false;
  if (stats->*field != value) {
    // A count never becomes negative; the change is marked all the same.
    if (!count || value >= 0) stats->*field = value;
    stats->changed = true;
    if (counter) stats->countersChanged = true;
  }
  statsLock_.Unlock();
  return true;
}

using Stats = ServerPagerStats;

bool PMDatabaseSQLImp::GetExpiredMsgsCount(Pager* p, int* v) { return GetStat(p, v, &Stats::ExpiredMsgsCount); }
bool PMDatabaseSQLImp::SetExpiredMsgsCount(Pager* p, int v) {
  return SetStat(p, v, &Stats::ExpiredMsgsCount, true, true);
}
bool PMDatabaseSQLImp::GetFailedMsgsCount(Pager* p, int* v) { return GetStat(p, v, &Stats::FailedMsgsCount); }
bool PMDatabaseSQLImp::SetFailedMsgsCount(Pager* p, int v) {
  return SetStat(p, v, &Stats::FailedMsgsCount, true, false);
}
bool PMDatabaseSQLImp::GetFilteredMsgsCount(Pager* p, int* v) { return GetStat(p, v, &Stats::FilteredMsgsCount); }
bool PMDatabaseSQLImp::SetFilteredMsgsCount(Pager* p, int v) {
  return SetStat(p, v, &Stats::FilteredMsgsCount, true, true);
}
bool PMDatabaseSQLImp::GetPendingMsgsCount(Pager* p, int* v) { return GetStat(p, v, &Stats::PendingMsgsCount); }
bool PMDatabaseSQLImp::SetPendingMsgsCount(Pager* p, int v) {
  return SetStat(p, v, &Stats::PendingMsgsCount, true, true);
}
bool PMDatabaseSQLImp::GetMsgsSent(Pager* p, int* v) { return GetStat(p, v, &Stats::MsgsSent); }
bool PMDatabaseSQLImp::SetMsgsSent(Pager* p, int v) { return SetStat(p, v, &Stats::MsgsSent, true, true); }
bool PMDatabaseSQLImp::GetMsgsRcvd(Pager* p, int* v) { return GetStat(p, v, &Stats::MsgsRcvd); }
bool PMDatabaseSQLImp::SetMsgsRcvd(Pager* p, int v) { return SetStat(p, v, &Stats::MsgsRcvd, true, true); }
bool PMDatabaseSQLImp::GetLastXPAction(Pager* p, std::int64_t* v) { return GetStat(p, v, &Stats::LastXPAction); }
bool PMDatabaseSQLImp::SetLastXPAction(Pager* p, std::int64_t v) {
  return SetStat(p, v, &Stats::LastXPAction, false, false);
}
bool PMDatabaseSQLImp::GetLastMsgExpired(Pager* p, std::int64_t* v) { return GetStat(p, v, &Stats::LastMsgExpired); }
bool PMDatabaseSQLImp::SetLastMsgExpired(Pager* p, std::int64_t v) {
  return SetStat(p, v, &Stats::LastMsgExpired, false, false);
}
bool PMDatabaseSQLImp::GetLastMsgSent(Pager* p, std::int64_t* v) { return GetStat(p, v, &Stats::LastMsgSent); }
bool PMDatabaseSQLImp::SetLastMsgSent(Pager* p, std::int64_t v) {
  return SetStat(p, v, &Stats::LastMsgSent, false, false);
}
bool PMDatabaseSQLImp::GetLastMsgRcvd(Pager* p, std::int64_t* v) { return GetStat(p, v, &Stats::LastMsgRcvd); }
bool PMDatabaseSQLImp::SetLastMsgRcvd(Pager* p, std::int64_t v) {
  return SetStat(p, v, &Stats::LastMsgRcvd, false, false);
}
bool PMDatabaseSQLImp::GetStatus(Pager* p, int* v) { return GetStat(p, v, &Stats::Status); }
bool PMDatabaseSQLImp::SetStatus(Pager* p, int v) { return SetStat(p, v, &Stats::Status, false, false); }

bool PMDatabaseSQLImp::SaveServerPagerStats(int userId, bool* countersChanged, bool* hasPending) {
  try {
    ServerPagerStats copy(0, userId);
    bool reset = false;
    {
      ScopedLock statistics(&statsLock_);
      const auto found = stats_.find(userId);
      if (found == stats_.end() || found->second == nullptr) return false;
      ServerPagerStats& stats = *found->second;
      if (countersChanged != nullptr) *countersChanged = stats.countersChanged;
      if (hasPending != nullptr) *hasPending = stats.PendingMsgsCount != 0;
      if (stats.resetMark) {
        reset = true;
        stats.resetMark = false;
        stats.MsgsSent = stats.MsgsRcvd = stats.FailedMsgsCount = 0;
        stats.ExpiredMsgsCount = stats.FilteredMsgsCount = 0;
        stats.changed = stats.countersChanged = false;
      } else if (!stats.changed) {
        return true;
      } else {
        copy = stats;
        stats.changed = stats.countersChanged = false;
      }
    }
    if (reset) {
      // The counters start again at 0, on the device object too; nothing is
      // written to UserStats.
      ScopedLock users(&userLock_);
      const auto user = userRecords_.find(userId);
      Pager* pager = user != userRecords_.end() ? user->second->GetPagerImp() : nullptr;
      if (pager != nullptr) {
        pager->SetHandheldStat6005(0);
        pager->SetHandheldStat6006(0);
        pager->SetHandheldStat6008(0);
        pager->SetHandheldStat6009(0);
        pager->SetHandheldStat600A(0);
        pager->SaveStats();
      }
      return true;
    }
    if (SetAllStatProps(copy)) return true;
    // Not written: the next save tries again, and tells of the counters it
    // then writes.
    ScopedLock statistics(&statsLock_);
    const auto found = stats_.find(userId);
    if (found != stats_.end() && found->second != nullptr) {
      found->second->changed = true;
      if (copy.countersChanged) found->second->countersChanged = true;
    }
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::SaveServerPagerStats");
  }
  return false;
}

bool PMDatabaseSQLImp::SetAllStatProps(const ServerPagerStats& stats) {
  const char* name = "PMDatabaseSQLImp::SetAllStatProps";
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, kUpdateUserStats, command)) return false;
    for (int value : {stats.MsgsRcvd, stats.MsgsSent, stats.PendingMsgsCount, stats.ExpiredMsgsCount,
                      stats.FilteredMsgsCount, stats.FailedMsgsCount, stats.Status}) {
      AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(value)));
    }
    for (std::int64_t time : {stats.LastMsgRcvd, stats.LastMsgSent, stats.LastMsgExpired}) {
      AppendParameter(command, ado::adDBTimeStamp, 0, DateOf(time));
    }
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(stats.LastXPAction)));
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(stats.RowId)));
    _variant_t affected;
    executeStatement(name, command, &affected);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, kUpdateUserStats);
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}
