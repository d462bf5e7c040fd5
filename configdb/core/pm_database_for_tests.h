// Test access to a PMDatabaseSQLImp: users put straight into its cache
// without a database, and the members a test checks after Open or Close.
//
//   DatabasePtr db = NewDatabase();
//   Pager* pager = PMDatabaseSQLImpTestAccess::AddUser(*db, 7);
//   PMDatabaseSQLImpTestAccess::Record(*db, pager)->SetServerDN("/o=x");
//
// A cached user is keyed by its device object in the pager map and by its
// id in the user-id map; its record owns the device object and has database
// status 1, as a user loaded from the database has.
//
// One test thread at a time, as the object's own locks require nothing
// more of a single thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "configdb/core/pm_database_sql_imp.h"
#include "device/pager.h"

struct DatabaseReleaser {
  void operator()(PMDatabaseSQLImp* database) const { ReleasePMDatabase(database); }
};
using DatabasePtr = std::unique_ptr<PMDatabaseSQLImp, DatabaseReleaser>;

inline DatabasePtr NewDatabase() { return DatabasePtr(static_cast<PMDatabaseSQLImp*>(CreatePMDatabase())); }

class PMDatabaseSQLImpTestAccess {
 public:
  // Caches user `userId` under `pager` (taken over by the record).
  static PagerRecord* AddUser(PMDatabaseSQLImp& database, Pager* pager, int userId) {
    pager->SetUserId(userId);
    PagerRecord* record = new PagerRecord(pager, userId);
    record->SetDBStatus(1);
    ScopedLock users(&database.userLock_);
    database.pagers_.emplace(pager, record);
    database.userRecords_.emplace(userId, record);
    return record;
  }
  // The same with a new device object of the database's own making.
  static Pager* AddUser(PMDatabaseSQLImp& database, int userId) {
    Pager* pager = CreatePagerImp(&database);
    AddUser(database, pager, userId);
    return pager;
  }

  static PagerRecord* Record(PMDatabaseSQLImp& database, Pager* pager) { return database.FindRecord(pager); }
  static PagerRecord* RecordById(PMDatabaseSQLImp& database, int userId) {
    const auto found = database.userRecords_.find(userId);
    return found != database.userRecords_.end() ? found->second : nullptr;
  }
  static std::size_t CachedUsers(PMDatabaseSQLImp& database) { return database.pagers_.size(); }
  static std::size_t CachedUserIds(PMDatabaseSQLImp& database) { return database.userRecords_.size(); }

  static bool IsOpened(PMDatabaseSQLImp& database) { return database.opened_; }
  static int ServerConfigId(PMDatabaseSQLImp& database) { return database.serverConfigId_; }
  static const std::string& ServiceName(PMDatabaseSQLImp& database) { return database.serviceName_; }
  static ChangeListener* Listener(PMDatabaseSQLImp& database) { return database.changeListener_; }
  static std::int64_t LastHistoryId(PMDatabaseSQLImp& database) { return database.lastHistoryId_; }
  static int AgentId(PMDatabaseSQLImp& database) { return database.agentId_; }
  static bool RefreshCounters(PMDatabaseSQLImp& database) { return database.refreshCounters_; }
};
