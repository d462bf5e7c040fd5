#include "configdb/core/pm_database_sql_imp.h"

#include <new>

#include "configdb/core/operation_log.h"
#include "configdb/core/pool_start.h"
#include "db/connection_pool.h"
#include "db/vexdb_command.h"
#include "device/pager.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/atomic.h"
#include "platform/win32/time.h"

namespace {

constexpr unsigned kEventServerNotLoaded = 0xEFFF2818u;    // message 10264
constexpr unsigned kEventPagerListFailed = 0xAFFF4F3Cu;    // message 20284
constexpr unsigned kEventServerStatsFailed = 0xAFFF4F3Eu;  // message 20286

}  // namespace

PMDatabase* CreatePMDatabase() { return new (std::nothrow) PMDatabaseSQLImp(); }

int ReleasePMDatabase(PMDatabase* database) {
  if (database == nullptr) return 0;
  PMDatabaseSQLImp* imp = static_cast<PMDatabaseSQLImp*>(database);
  imp->Close();
  return imp->Release();
}

PMDatabaseSQLImp::PMDatabaseSQLImp()
    : serviceTypes_{{"Dispatcher", -1}, {"CMIME", 0}, {"CICAL", 1}, {"ALP", 2},
                    {"SYNC", 3},        {"IPPP", 4},  {"KwyIM", 5}, {"PyxS", 6}} {
  serverStats_.SetDatabase(this);
}

std::int64_t MonotonicSeconds() { return static_cast<std::int64_t>(GetTickCount64() / 1000); }

PMDatabaseSQLImp::~PMDatabaseSQLImp() = default;

LONG PMDatabaseSQLImp::AddRef() { return AtomicIncrement(&references_); }

LONG PMDatabaseSQLImp::Release() {
  const LONG left = AtomicDecrement(&references_);
  if (left == 0) delete this;
  return left;
}

HRESULT PMDatabaseSQLImp::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown) {
    *object = this;
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

bool PMDatabaseSQLImp::Open(int statsArgument, int agentId, const char* connectionString, int poolSize,
                            ChangeListener* listener, const char* serverName, bool /*unusedFlag*/,
                            bool refreshCounters, int /*unusedValue*/, bool* resultFlag, bool loadUsers,
                            int msdeSizeLimit) {
  refreshCounters_ = refreshCounters;
  agentId_ = agentId;
  if (resultFlag != nullptr) *resultFlag = true;
  ScopedLock users(&userLock_);
  ScopedLock lifeCycle(&lifeCycleLock_);
  try {
    if (connectionString == nullptr) return false;
    if (!InitializePoolFromNarrow(poolSize, connectionString, msdeSizeLimit)) return false;
    opened_ = true;
    VEXDB_ReadCommandSettings();
    if (serverName == nullptr) return false;
    {
      std::unique_lock<std::shared_mutex> writer(serverLock_);
      server_.ServiceName = serverName;
    }
    connectionString_ = connectionString;
    poolSize_ = poolSize;
    if (!LoadServerConfig(0)) {
      LogEvent(1, kEventServerNotLoaded, LoadResString(10264), serverName);
      return false;
    }
    LoadServerCapabilities();
    VEXDB_LoadKwyRList(&serverConfigId_, relayList_);
    defaultPolicyId_ = _GetDefaultPolicyId();
    if (!InitServerStats(statsArgument, serverName, resultFlag)) {
      LogEvent(2, kEventServerStatsFailed, LoadResString(20286), serverName);
      return false;
    }
    VEXDB_GetLastHistoryId(&lastHistoryId_);
    if (loadUsers && !PopulateListOfPagers(nullptr)) {
      LogEvent(2, kEventPagerListFailed, LoadResString(20284));
      return false;
    }
    changeListener_ = listener;
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::Open");
    return false;
  }
}

void PMDatabaseSQLImp::Close() {
  {
    ScopedLock users(&userLock_);
    ScopedLock lifeCycle(&lifeCycleLock_);
    ScopedLock statistics(&statsLock_);
    try {
      RemoveAllPagers();
      stats_.clear();
      ClearServerStatsRow();
    } catch (...) {
      LogOperationException("PMDatabaseSQLImp::Close");
    }
  }
  if (opened_) {
    opened_ = false;
    GetConnectionPool().ReleasePool(false);
  }
}

void PMDatabaseSQLImp::RemoveAllPagers() {
  ScopedLock users(&userLock_);
  while (!pagers_.empty()) {
    const auto first = pagers_.begin();
    PagerRecord* record = first->second;
    RemoveCachedPager(first->first->GetUserId());
    pagers_.erase(first);
    delete record;
  }
}

bool PMDatabaseSQLImp::Destroy(Pager* pager) {
  ScopedLock users(&userLock_);
  try {
    const auto found = pagers_.find(pager);
    if (found == pagers_.end()) return false;
    PagerRecord* record = found->second;
    if (record->GetDBStatus() != 0) {
      if (pager->IsTrashed()) {
        // The record stays cached with a fresh device object, under which
        // it is found from now on.
        Pager* fresh = CreatePagerImp(this);
        if (fresh == nullptr) return false;
        fresh->SetUserId(record->GetUserId());
        record->SetPagerImp(fresh);
        pagers_.erase(found);
        pagers_.emplace(fresh, record);
      }
      return true;
    }
    RemoveCachedPager(pager->GetUserId());
    pagers_.erase(found);
    delete record;
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::Destroy");
    return false;
  }
}

bool PMDatabaseSQLImp::RemoveCachedPager(int userId) {
  ScopedLock users(&userLock_);
  return userRecords_.erase(userId) != 0;
}

PagerRecord* PMDatabaseSQLImp::FindRecord(Pager* pager) const {
  const auto found = pagers_.find(pager);
  return found != pagers_.end() ? found->second : nullptr;
}

bool PMDatabaseSQLImp::SetPollingLookbackDays(int days) {
  pollingLookbackDays_ = days;
  return true;
}

void PMDatabaseSQLImp::SetServiceInstanceId(int id) { serviceInstanceId_ = id; }

bool PMDatabaseSQLImp::Reserved312(KwyRList& relays) {
  if (&relays != &relayList_) relays = relayList_;
  return true;
}
