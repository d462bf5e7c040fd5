// The query core of the configuration database object: the two runners,
// their retry decision, the recordset closer and the first-column reader.
#include <cwchar>
#include <string>

#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/ado_error.h"
#include "db/connection_pool.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/string_util.h"
#include "platform/win32/time.h"

namespace {

constexpr unsigned kEventRetrying = 0x6FFF76EAu;  // message 30442

bool IsTransientState(const wchar_t* state) {
  return state != nullptr && *state != L'\0' &&
         (std::wcscmp(state, L"HYT00") == 0 || std::wcscmp(state, L"40001") == 0 || std::wcscmp(state, L"57033") == 0);
}

}  // namespace

bool PMDatabaseSQLImp::SetQueryRetryCount(int count) {
  queryRetryCount_ = count;
  return true;
}

void PMDatabaseSQLImp::executeQuery(const char* name, ado::_RecordsetPtr& recordset, ado::_CommandPtr& command) {
  int triesLeft = queryRetryCount_;
  do {
    const DWORD start = GetTickCount();
    try {
      recordset = command->Execute(nullptr, nullptr, 0);
      GetConnectionPool().UpdateStatistics(start, false, 0);
      return;
    } catch (const _com_error& error) {
      GetConnectionPool().UpdateStatistics(start, true, error.Error());
      --triesLeft;
      HandleCommandError(name, triesLeft, command);
    } catch (...) {
      const std::wstring tries = IntToWString(triesLeft);
      LogDBError(2, kEventDbComError, 0, "PMDatabaseSQLImp::executeQuery", tries.c_str());
      --triesLeft;
      HandleCommandError(name, triesLeft, command);
    }
  } while (triesLeft > 0);
}

bool PMDatabaseSQLImp::executeStatement(const char* name, ado::_CommandPtr& command, VARIANT* recordsAffected) {
  int triesLeft = queryRetryCount_;
  do {
    const DWORD start = GetTickCount();
    try {
      const bool returned = command->Execute(recordsAffected, nullptr, 0) != nullptr;
      GetConnectionPool().UpdateStatistics(start, false, 0);
      return returned;
    } catch (const _com_error& error) {
      GetConnectionPool().UpdateStatistics(start, true, error.Error());
      --triesLeft;
      HandleCommandError(name, triesLeft, command);
    }
  } while (triesLeft > 0);
  return false;
}

void PMDatabaseSQLImp::HandleCommandError(const char* name, int triesLeft, ado::_CommandPtr& command) {
  // Without a connection there is nothing to classify and no retry can
  // help: the error goes back to the operation.
  const ado::_ConnectionPtr connection = command ? command->GetActiveConnection() : nullptr;
  if (!connection) throw;
  const ado::ErrorsPtr errors = connection->GetErrors();
  const LONG count = errors ? errors->GetCount() : 0;
  bool transient = false;
  for (LONG i = 0; i < count && !transient; ++i) {
    const _bstr_t state = errors->GetItem(_variant_t(static_cast<INT>(i)))->GetSQLState();
    transient = IsTransientState(state);
  }
  if (!transient || triesLeft < 1) throw;
  const std::string text = static_cast<const char*>(command->GetCommandText());
  LogEvent(3, kEventRetrying, LoadResString(30442), name, triesLeft, triesLeft > 1 ? "ies" : "y", text.c_str());
  const DWORD done = static_cast<DWORD>(queryRetryCount_ - triesLeft);
  Sleep(done * done * 1000);
}

void closeRecordSet(ado::_RecordsetPtr recordset) {
  try {
    if (recordset && (recordset->GetState() & ado::adStateOpen) != 0) recordset->Close();
  } catch (const _com_error& error) {
    LogOperationComError("closeRecordSet", error, L"");
  } catch (...) {
    wLogDBError(2, kEventUnexpectedException, 0, L"closeRecordSet", nullptr);
  }
}

bool ReadFirstColumnAsInt64(ado::_RecordsetPtr recordset, bool read, std::int64_t* out) {
  if (!recordset || !read || out == nullptr || recordset->GetEndOfFile()) return false;
  const ado::FieldsPtr fields = recordset->GetFields();
  if (fields->GetCount() < 1) return false;
  const ado::FieldPtr first = fields->GetItem(_variant_t(0));
  const _variant_t value = first->GetValue();
  if (first->GetActualSize() != 0) {
    *out = static_cast<std::uint32_t>(static_cast<INT>(value));
    return true;
  }
  if (value.vt == VT_NULL) {
    *out = 0;
    return true;
  }
  return false;
}
