// The list of pagers: one device object (CreatePagerImp) and one cached
// record per user of the server, built from one batch read of the users'
// rows, single users loaded by id or MailboxDN, users added to the
// database, and the list rebuilt.
#include <cstring>
#include <exception>
#include <future>
#include <memory>
#include <vector>

#include "configdb/core/column_values.h"
#include "configdb/core/core_sql.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/connection_holder.h"
#include "db/vexdb_command.h"
#include "db/vexdb_user.h"
#include "device/pager.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/device_pin.h"

namespace {

constexpr unsigned kEventPagerCreated = 0x6FFF9EEAu;  // message 40682
constexpr unsigned kEventPagerFailed = 0xAFFF4F56u;   // message 20310
constexpr int kFromUserRow = 68;                      // CreatePagerForUser
constexpr int kFromUserArray = 86;                    // a row of the user list
constexpr std::size_t kUserIdColumn = 22;

void LogPagerFailed(int place, const PagerRecord* record, int userId) {
  wchar_t* name = nullptr;
  if (record != nullptr) record->GetDisplayName(&name);
  LogEventW(2, kEventPagerFailed, LoadResStringW(20310), place, name != nullptr ? name : L"Unknown", userId);
}

}  // namespace

bool PMDatabaseSQLImp::CreatePagerForUser(int userId, const char* mailboxDN) {
  Pager* pager = CreatePagerImp(this);
  if (pager == nullptr) return false;
  if (userId != 0) pager->SetUserId(userId);
  auto* record = new PagerRecord(pager, userId);
  if (LoadUserConfig(userId, record, mailboxDN) <= 0) {
    LogPagerFailed(kFromUserRow, record, userId);
    delete record;
    return false;
  }
  return CachePager(pager, record, userId, kFromUserRow, nullptr);
}

bool PMDatabaseSQLImp::CachePager(Pager* pager, PagerRecord* record, int userId, int place, const StatsRows* stats) {
  if (userId == 0) {
    userId = record->GetUserId();
    pager->SetUserId(userId);
  }
  wchar_t* displayName = nullptr;
  record->GetDisplayName(&displayName);
  if (displayName == nullptr) {
    LogPagerFailed(place, record, userId);
    delete record;
    return false;
  }
  // The text is loaded once: a server's users are many.
  static const ResStringW created = LoadResStringW(40682);
  LogEventW(4, kEventPagerCreated, created.c_str(), displayName, userId);
  record->SetDBStatus(1);
  pagers_.emplace(pager, record);
  userRecords_[userId] = record;
  if (changeListener_ != nullptr) changeListener_->OnUserEvent(1, pager);
  if (stats == nullptr) {
    LoadPagerStatRecord(userId);
  } else {
    const auto found = stats->find(userId);
    if (found != stats->end()) StorePagerStatRecord(found->second);
  }
  UpdateCertificateRequest(record->GetServerConfigId(), userId, true, true);
  return true;
}

bool PMDatabaseSQLImp::PopulateListOfPagers(LoadProgress* progress) {
  const char* name = "PMDatabaseSQLImp::PopulateListOfPagers";
  ScopedLock users(&userLock_);
  try {
    // The rows of the user list (GetUserList), read row by row from the
    // recordset rather than copied whole into an array first: a server's
    // users are many, and each row is needed only while its record is made.
    if (serverConfigId_ <= 0) return false;
    const std::wstring sql = UserListSql(agentId_ != 0);
    int server = serverConfigId_;
    int agent = agentId_;
    ado::_CommandPtr command;
    ado::_RecordsetPtr rows;
    const bool ran = agentId_ != 0
                         ? VEXDB_RunParameterizedQuery(name, command, rows, sql.c_str(), ado::adInteger, &server,
                                                       ado::adInteger, &server, ado::adInteger, &agent, 0)
                         : VEXDB_RunParameterizedQuery(name, command, rows, sql.c_str(), ado::adInteger, &server,
                                                       ado::adInteger, &server, 0);
    if (!ran) return false;
    if (rows->GetEndOfFile()) {
      closeRecordSet(rows);
      return true;
    }
    // Every user's statistics in one read, made on a thread of its own (on
    // another pooled connection) while the rows become records, which sends
    // nothing to the server; without it each user reads its own row.
    StatsRows stats;
    std::future<bool> statsRead = std::async(std::launch::async | std::launch::deferred, [this, &stats] {
      ComInitializer apartment(COINIT_MULTITHREADED, false, false);
      return LoadServerStatRows(stats);
    });
    const ado::FieldsPtr fields = rows->GetFields();
    std::vector<ado::FieldPtr> columns;
    for (LONG column = 0; column < fields->GetCount(); ++column) {
      columns.push_back(fields->GetItem(_variant_t(static_cast<INT>(column))));
    }
    std::vector<_variant_t> cells(columns.size());
    static_assert(sizeof(_variant_t) == sizeof(VARIANT));
    const LONG rowCount = rows->GetRecordCount();

    // First every row becomes a device object and a record; what is seen
    // of that (log lines, the maps, the listener, statistics, certificate
    // requests, progress) follows in row order once the statistics are in.
    // A failure to read a row ends the reading; the rows before it are
    // cached all the same, then the failure reaches the caller.
    std::vector<RowRecord> made;
    made.reserve(rowCount > 0 ? static_cast<std::size_t>(rowCount) : 0);
    std::exception_ptr readFailure;
    try {
      for (; !rows->GetEndOfFile(); rows->MoveNext()) {
        for (std::size_t column = 0; column < columns.size(); ++column) cells[column] = columns[column]->GetValue();
        made.emplace_back();
        if (cells.size() <= kUserIdColumn || cells[kUserIdColumn].vt == VT_NULL) continue;
        const int userId = VariantInt(cells[kUserIdColumn]);
        if (userId != 0) MakeRowRecord(userId, cells.data(), cells.size(), &made.back());
      }
    } catch (...) {
      readFailure = std::current_exception();
    }
    const bool haveStats = statsRead.get();
    CacheRowRecords(made, haveStats ? &stats : nullptr, progress, static_cast<double>(rowCount));
    if (readFailure) std::rethrow_exception(readFailure);
    closeRecordSet(rows);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, L"");
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}

void PMDatabaseSQLImp::MakeRowRecord(int userId, const VARIANT* cells, std::size_t count, RowRecord* out) {
  std::unique_ptr<Pager> pager(CreatePagerImp(this));
  if (pager == nullptr) return;
  pager->SetUserId(userId);
  out->userId = userId;
  out->record = new PagerRecord(pager.release(), userId);
  if (!FillUserRecord(out->record, cells, count, &out->failedColumn)) {
    out->failedName = UserRowDisplayName(cells, count);
  } else {
    out->failedColumn = -1;
  }
}

void PMDatabaseSQLImp::CacheRowRecords(std::vector<RowRecord>& made, const StatsRows* stats, LoadProgress* progress,
                                       double total) {
  // Records not handed on yet go with their device objects when something
  // below throws.
  std::size_t next = 0;
  struct Leftovers {
    std::vector<RowRecord>& made;
    std::size_t& next;
    ~Leftovers() {
      for (; next < made.size(); ++next) delete made[next].record;
    }
  } leftovers{made, next};
  double done = 0;
  while (next < made.size()) {
    RowRecord& row = made[next++];
    if (row.record != nullptr && row.failedColumn >= 0) {
      LogUserRowFailure(row.userId, row.failedName.c_str(), row.failedColumn);
      LogPagerFailed(kFromUserArray, row.record, row.userId);
      delete row.record;
    } else if (row.record != nullptr) {
      CachePager(row.record->GetPagerImp(), row.record, row.userId, kFromUserArray, stats);
    }
    if (progress != nullptr) progress->OnProgress(++done, total);
  }
}

bool PMDatabaseSQLImp::ReloadPagerList(LoadProgress* progress) {
  ScopedLock users(&userLock_);
  ScopedLock lifeCycle(&lifeCycleLock_);
  try {
    RemoveAllPagers();
    return PopulateListOfPagers(progress);
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::ReloadPagerList");
  }
  return false;
}

bool PMDatabaseSQLImp::LoadPendingPager(int userId) {
  ScopedLock users(&userLock_);
  try {
    if (pendingUsers_.count(userId) == 0 || userRecords_.count(userId) != 0) return false;
    const bool loaded = CreatePagerForUser(userId, nullptr);
    pendingUsers_.erase(userId);
    return loaded;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::LoadPendingPager");
  }
  return false;
}

bool PMDatabaseSQLImp::AddPager(const wchar_t* displayName, const char* mailboxDN, const char* serverDN,
                                const DeviceIDRecord* deviceIds, int deviceIdsSize, bool redirectionState,
                                bool extServicesState, int, int, const ITPolicyDescriptor* policy,
                                const char* overrideSMTPAddr, int, const char* routingInfo) {
  const char* name = "PMDatabaseSQLImp::AddPager";
  const int policyId = policy != nullptr && policy->ITPolicyId != 0 ? policy->ITPolicyId : defaultPolicyId_;
  const int existing = CheckUserExists(mailboxDN);
  const bool override = overrideSMTPAddr != nullptr && *overrideSMTPAddr != '\0';
  const bool device = deviceIds != nullptr && deviceIdsSize > 0;
  std::wstring sql;
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    sql = existing == 0 ? AddPagerInsertSql(override, device, routingInfo != nullptr)
                        : AddPagerUpdateSql(routingInfo != nullptr);
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, sql.c_str(), command)) return false;
    auto text = [&command](const char* value) {
      const char* bound = value != nullptr ? value : "";
      AppendParameter(command, ado::adVarChar, static_cast<LONG>(std::strlen(bound) + 1), _variant_t(bound));
    };
    auto integer = [&command](int value) {
      AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(value)));
    };
    if (existing == 0) {
      const wchar_t* displayed = displayName != nullptr ? displayName : L"";
      AppendParameter(command, ado::adVarWChar, static_cast<LONG>(std::wcslen(displayed) + 1), _variant_t(displayed));
      text(serverDN);
      integer(redirectionState ? 1 : 0);
      integer(extServicesState ? 1 : 0);
      if (override) AppendParameter(command, ado::adVarChar, 255, _variant_t(overrideSMTPAddr));
      text(mailboxDN);
      integer(serverConfigId_);
      integer(serverConfigId_);
      integer(policyId);
      if (device) {
        integer(deviceIds->DeviceType);
        char pin[16];
        text(FormatPIN(deviceIds->PIN, pin, sizeof pin));
      }
      if (routingInfo != nullptr) text(routingInfo);
    } else {
      integer(serverConfigId_);
      integer(serverConfigId_);
      if (routingInfo != nullptr) text(routingInfo);
      integer(existing);
    }
    _variant_t affected;
    executeStatement(name, command, &affected);
  } catch (const _com_error& error) {
    LogOperationComError(name, error, sql.c_str());
    return false;
  } catch (...) {
    LogOperationException(name);
    return false;
  }

  ScopedLock users(&userLock_);
  try {
    const auto cached = existing != 0 ? userRecords_.find(existing) : userRecords_.end();
    if (cached == userRecords_.end()) {
      CreatePagerForUser(0, mailboxDN);
      return true;
    }
    // The user is cached already: its record takes the row as it is now,
    // under the device object it has.
    PagerRecord fresh(nullptr, existing);
    if (LoadUserConfig(existing, &fresh, nullptr) > 0) cached->second->CopyFrom(&fresh);
    return true;
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}
