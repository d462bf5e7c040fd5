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
#include <vector>

#include "configdb/core/pm_database_sql_imp.h"
#include "device/pager.h"

// A change listener that keeps what it was told.
class RecordingListener : public ChangeListener {
 public:
  void OnUserEvent(int event, Pager*) override { userEvents.push_back(event); }
  void OnUserHistoryEvent(int, Pager*, int) override {}
  void OnServerSettingChanged(int event) override { serverEvents.push_back(event); }
  std::vector<int> userEvents;
  std::vector<int> serverEvents;
};

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
  static const std::string& ServiceName(PMDatabaseSQLImp& database) { return database.server_.ServiceName; }
  static const ServerConfigValues& Server(PMDatabaseSQLImp& database) { return database.server_; }
  static ServerConfigValues& MutableServer(PMDatabaseSQLImp& database) { return database.server_; }
  static void SetServerConfigId(PMDatabaseSQLImp& database, int id) { database.serverConfigId_ = id; }
  static int DefaultPolicyId(PMDatabaseSQLImp& database) { return database.defaultPolicyId_; }
  static void SetListener(PMDatabaseSQLImp& database, ChangeListener* listener) {
    database.changeListener_ = listener;
  }
  // The clock of the server counters' refresh (seconds).
  static void SetClock(PMDatabaseSQLImp& database, std::int64_t (*clock)()) { database.secondsClock_ = clock; }
  static void SetRefreshCounters(PMDatabaseSQLImp& database, bool refresh) { database.refreshCounters_ = refresh; }
  static SQLDBObject& ServerStatsRow(PMDatabaseSQLImp& database) { return database.serverStats_; }
  static bool LoadServerCapabilities(PMDatabaseSQLImp& database) { return database.LoadServerCapabilities(); }
  static const std::map<int, CapabilityEntry>& Capabilities(PMDatabaseSQLImp& database) {
    return database.capabilities_;
  }
  static const std::map<std::string, int>& ServiceTypes(PMDatabaseSQLImp& database) { return database.serviceTypes_; }
  static int LastServiceId(PMDatabaseSQLImp& database) { return database.lastServiceId_; }
  static int DefaultPolicy(PMDatabaseSQLImp& database) { return database._GetDefaultPolicyId(); }
  static bool CreatePagerForUser(PMDatabaseSQLImp& database, int userId, const char* mailboxDN) {
    ScopedLock users(&database.userLock_);
    return database.CreatePagerForUser(userId, mailboxDN);
  }
  // The user's statistics record (null when none); read it on the test's
  // thread only.
  static ServerPagerStats* Stats(PMDatabaseSQLImp& database, int userId) {
    const auto found = database.stats_.find(userId);
    return found != database.stats_.end() ? found->second.get() : nullptr;
  }
  static void PutStats(PMDatabaseSQLImp& database, const ServerPagerStats& stats) {
    database.StorePagerStatRecord(stats);
  }
  static void AddPendingUser(PMDatabaseSQLImp& database, int userId) { database.pendingUsers_.insert(userId); }
  static bool IsPendingUser(PMDatabaseSQLImp& database, int userId) { return database.pendingUsers_.count(userId) != 0; }
  static ChangeListener* Listener(PMDatabaseSQLImp& database) { return database.changeListener_; }
  static std::int64_t LastHistoryId(PMDatabaseSQLImp& database) { return database.lastHistoryId_; }
  static int AgentId(PMDatabaseSQLImp& database) { return database.agentId_; }
  static bool RefreshCounters(PMDatabaseSQLImp& database) { return database.refreshCounters_; }
};
