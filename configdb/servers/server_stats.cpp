// The server's ServerStats row: five message counters kept in a SQLDBObject
// keyed by the server's ServerConfigId. The counters change in memory only
// and are re-read from the row (never written to it) when they are older
// than 15 seconds and the object was opened to refresh them.
#include <mutex>

#include "configdb/core/pm_database_sql_imp.h"

namespace {

constexpr std::int64_t kCounterRefreshSeconds = 15;

}  // namespace

bool PMDatabaseSQLImp::InitServerStats(int /*statsArgument*/, const char* /*serverName*/, bool* resultFlag) {
  const std::vector<SQLDBValue> columns = {
      SQLDBValue("MsgsForwarded", SQLDBValue::kInteger), SQLDBValue("MsgsSent", SQLDBValue::kInteger),
      SQLDBValue("MsgsPending", SQLDBValue::kInteger), SQLDBValue("MsgsExpired", SQLDBValue::kInteger),
      SQLDBValue("MsgsFiltered", SQLDBValue::kInteger)};
  bool ok;
  {
    ScopedLock statsRow(&serverStatsLock_);
    ClearServerStatsRow();
    std::vector<SQLDBValue> keys = {SQLDBValue("ServerConfigId", SQLDBValue::kInteger)};
    keys[0].SetInt(serverConfigId_);
    ok = serverStats_.Initialize("ServerStats", &columns, &keys, connectionString_, poolSize_);
    statsRefreshTime_ = secondsClock_();
    if (!ok) ClearServerStatsRow();
  }
  if (resultFlag != nullptr) *resultFlag = true;
  return ok;
}

void PMDatabaseSQLImp::ClearServerStatsRow() {
  ScopedLock statsRow(&serverStatsLock_);
  serverStats_.Clear();
}

bool PMDatabaseSQLImp::RefreshServerStats() {
  ScopedLock statsRow(&serverStatsLock_);
  const HRESULT hr = serverStats_.Reload();
  statsRefreshTime_ = secondsClock_();
  return hr >= 0;
}

bool PMDatabaseSQLImp::GetServerCounter(const char* column, int* value) {
  if (value == nullptr) return false;
  {
    ScopedLock statsRow(&serverStatsLock_);
    if (refreshCounters_ && secondsClock_() - statsRefreshTime_ > kCounterRefreshSeconds) {
      FlushServerStats(0);
      RefreshServerStats();
    }
  }
  return serverStats_.GetIntColumn(column, value) >= 0;
}

bool PMDatabaseSQLImp::GetServerMsgsPending(int* value) { return GetServerCounter("MsgsPending", value); }
bool PMDatabaseSQLImp::GetServerMsgsForwarded(int* value) { return GetServerCounter("MsgsForwarded", value); }
bool PMDatabaseSQLImp::GetServerMsgsSent(int* value) { return GetServerCounter("MsgsSent", value); }
bool PMDatabaseSQLImp::GetServerMsgsExpired(int* value) { return GetServerCounter("MsgsExpired", value); }
bool PMDatabaseSQLImp::GetServerMsgsFiltered(int* value) { return GetServerCounter("MsgsFiltered", value); }

bool PMDatabaseSQLImp::IncrementServerMsgsPending(int* value) {
  return serverStats_.IncrementIntColumn("MsgsPending", value) >= 0;
}
bool PMDatabaseSQLImp::IncrementServerMsgsForwarded(int* value) {
  return serverStats_.IncrementIntColumn("MsgsForwarded", value) >= 0;
}
bool PMDatabaseSQLImp::IncrementServerMsgsSent(int* value) {
  return serverStats_.IncrementIntColumn("MsgsSent", value) >= 0;
}
bool PMDatabaseSQLImp::IncrementServerMsgsExpired(int* value) {
  return serverStats_.IncrementIntColumn("MsgsExpired", value) >= 0;
}
bool PMDatabaseSQLImp::IncrementServerMsgsFiltered(int* value) {
  return serverStats_.IncrementIntColumn("MsgsFiltered", value) >= 0;
}
bool PMDatabaseSQLImp::DecrementServerMsgsPending(int* value) {
  return serverStats_.DecrementIntColumn("MsgsPending", value) >= 0;
}

bool PMDatabaseSQLImp::SetServerMsgsPending(int value) { return serverStats_.SetIntColumn("MsgsPending", value) >= 0; }
bool PMDatabaseSQLImp::SetServerMsgsForwarded(int value) {
  return serverStats_.SetIntColumn("MsgsForwarded", value) >= 0;
}
bool PMDatabaseSQLImp::SetServerMsgsSent(int value) { return serverStats_.SetIntColumn("MsgsSent", value) >= 0; }
bool PMDatabaseSQLImp::SetServerMsgsExpired(int value) { return serverStats_.SetIntColumn("MsgsExpired", value) >= 0; }
bool PMDatabaseSQLImp::SetServerMsgsFiltered(int value) {
  return serverStats_.SetIntColumn("MsgsFiltered", value) >= 0;
}
