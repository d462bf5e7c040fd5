// What Open reads of the server itself: the id of its ServerConfig row and
// its ServerStats row, which Open creates when the server has none.
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "configdb/servers/server_open_sql.h"
#include "db/connection_holder.h"

bool PMDatabaseSQLImp::LoadServerConfig(int serverConfigId) {
  const char* name = "PMDatabaseSQLImp::LoadServerConfig";
  const wchar_t* sql = serverConfigId == 0 ? kServerConfigByName : kServerConfigById;
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, sql, command)) return false;
    if (serverConfigId == 0) {
      AppendParameter(command, ado::adVarChar, static_cast<LONG>(serviceName_.size() + 1),
                      _variant_t(_bstr_t(serviceName_.c_str())));
    } else {
      AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    }
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    std::int64_t id = 0;
    const bool found = ReadFirstColumnAsInt64(rows, true, &id) && id != 0;
    closeRecordSet(rows);
    if (found) serverConfigId_ = static_cast<int>(id);
    return found;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, sql);
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}

bool PMDatabaseSQLImp::InitServerStats(int /*statsArgument*/, const char* /*serverName*/, bool* resultFlag) {
  const char* name = "PMDatabaseSQLImp::InitServerStats";
  const wchar_t* sql = kSelectServerStats;
  bool ok = false;
  try {
    ConnectionHolder holder;
    if (holder.get() != nullptr) {
      ado::_CommandPtr select;
      if (PrepareCommand(name, holder, sql, select)) {
        AppendParameter(select, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
        ado::_RecordsetPtr rows;
        executeQuery(name, rows, select);
        const bool present = rows && !rows->GetEndOfFile();
        closeRecordSet(rows);
        ok = present;
        if (!present) {
          sql = kInsertServerStats;
          ado::_CommandPtr insert;
          if (PrepareCommand(name, holder, sql, insert)) {
            AppendParameter(insert, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
            _variant_t affected;
            executeStatement(name, insert, &affected);
            ok = true;
          }
        }
      }
    }
  } catch (const _com_error& error) {
    LogOperationComError(name, error, sql);
  } catch (...) {
    LogOperationException(name);
  }
  if (resultFlag != nullptr) *resultFlag = true;
  return ok;
}
