// ODBCRecord: running the statements, the retry rule, fetching rows into
// the outputs, transactions and the failure reports.
#include <algorithm>
#include <charconv>
#include <cwchar>
#include <limits>
#include <stdexcept>

#include "db/ado_error.h"
#include "db/odbc_record.h"
#include "diagnostics/debug_logger.h"
#include "platform/ado/ado.h"
#include "platform/com/safearray.h"
#include "platform/win32/time.h"

namespace {

// Event code of the record layer's unexpected exceptions (message 20660).
constexpr unsigned kEventRecordException = 0xAFFF50B4u;

// Native errors that the provider raises for itself and that say nothing
// about the statement; the SQL error report leaves them out.
bool IsProviderOwnError(LONG nativeError) {
  return nativeError == 70000 || nativeError == 70001 || nativeError == 70010 || nativeError == 70011;
}

// The level-6 trace lines are built only when the logger would keep them.
bool TraceEnabled() {
  const DebugLogger& logger = GetDebugLogger();
  return logger.IsActive() && logger.IsLevelEnabled(6);
}

LONG ToLong(std::size_t value) { return static_cast<LONG>(value); }

// Runs `f` on every way out of a scope: gives the record's auto-mode
// connection back at the end of an operation, lets go of the fetched rows.
template <typename F>
class OnExit {
 public:
  explicit OnExit(F f) : f_(f) {}
  ~OnExit() { f_(); }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

 private:
  F f_;
};

}  // namespace

std::wstring ODBCRecord::DoublePercent(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    out += c;
    if (c == L'%') out += L'%';
  }
  return out;
}

void ODBCRecord::LogSql(const wchar_t* location, const std::wstring& sql) {
  database_->Log(nullptr, &lastMessage_, 2, L"[%s] SQL = \"%s\".", location, DoublePercent(sql).c_str());
}

void ODBCRecord::LogSqlAndData(int level, const wchar_t* location, const std::wstring& sql, bool doubled) {
  const std::wstring shown = doubled ? DoublePercent(sql) : sql;
  database_->Log(nullptr, &lastMessage_, level, L"[%s] SQL = \"%s\".", location, shown.c_str());
  database_->Log(nullptr, &lastMessage_, level, L"[%s] DATA = \"%s\".", location, BuildDataText().c_str());
}

void ODBCRecord::TraceSqlAndData(const wchar_t* location, const std::wstring& sql) {
  if (TraceEnabled()) LogSqlAndData(6, location, sql, true);
}

void ODBCRecord::Trace(const wchar_t* fmt, const wchar_t* location, std::int32_t number) {
  if (TraceEnabled()) database_->Log(nullptr, &lastMessage_, 6, fmt, location, number);
}

void ODBCRecord::FailureReport(const wchar_t* location, const wchar_t* message, const std::wstring& sql) {
  database_->Log(nullptr, &lastMessage_, 2, L"[%s] %s", location, message);
  LogSqlAndData(2, location, sql, true);
}

void ODBCRecord::SqlErrorReport(const wchar_t* location, const _com_error& error, const std::wstring& sql) {
  if (!holdsConnection_ || !lent_.connection) {
    database_->Log(nullptr, &lastMessage_, 2,
                   L"[%s] SQL error encountered but the connection became invalid before we could print the details",
                   location);
  } else {
    try {
      ado::ErrorsPtr errors = lent_.connection->GetErrors();
      for (LONG i = 0; i < errors->GetCount(); ++i) {
        ado::ErrorPtr entry = errors->GetItem(_variant_t(i));
        if (IsProviderOwnError(entry->GetNativeError())) continue;
        database_->Log(nullptr, &lastMessage_, 2, L"[%s] SQL error: [0x%0X  %s] Source: [%s] SQL State: [%s] NativeError: [%d]",
                       location, entry->GetNumber(), static_cast<const wchar_t*>(entry->GetDescription()),
                       static_cast<const wchar_t*>(entry->GetSource()),
                       static_cast<const wchar_t*>(entry->GetSQLState()), entry->GetNativeError());
      }
    } catch (const _com_error& inner) {
      database_->Log(nullptr, &lastMessage_, 2,
                     L"[%s] caught exception when trying to dump sql errors.  COM Error 0x%0X - %s - Source: \"%s\" - "
                     L"Description \"%s\"",
                     location, inner.Error(), inner.ErrorMessage(), static_cast<const wchar_t*>(inner.Source()),
                     static_cast<const wchar_t*>(inner.Description()));
    }
  }
  database_->Log(nullptr, &lastMessage_, 2, L"[%s] COM Error 0x%0X - %s - Source: \"%s\" - Description \"%s\"", location,
                 error.Error(), error.ErrorMessage(), static_cast<const wchar_t*>(error.Source()),
                 static_cast<const wchar_t*>(error.Description()));
  LogSqlAndData(2, location, sql, false);
  GiveBackIfAuto();
  database_->CheckConnection();
}

bool ODBCRecord::Borrow(const wchar_t* location, const std::wstring& sql) {
  if (holdsConnection_) return true;
  if (!database_->GetConnections()->Borrow(&lent_)) {
    FailureReport(location, L"Unable to get connection", sql);
    database_->CheckConnection();
    return false;
  }
  holdsConnection_ = true;
  return true;
}

void ODBCRecord::GiveBackIfAuto() {
  if (autoConnection_ && holdsConnection_) {
    database_->GetConnections()->GiveBack(lent_);
    lent_.connection = nullptr;
    lent_.item = nullptr;
    holdsConnection_ = false;
  }
}

void ODBCRecord::BindValue(ado::_Command* command, ado::Parameters* parameters, const Value& value) {
  if (value.type == kTypeInt) {
    parameters->Append(
        command->CreateParameter(_bstr_t(), ado::adInteger, ado::adParamInput, 0, _variant_t(value.number)));
  } else if (value.isNull) {
    _variant_t null;
    null.vt = VT_NULL;
    parameters->Append(command->CreateParameter(_bstr_t(), ado::adVarWChar, ado::adParamInput, 0, null));
  } else {
    parameters->Append(command->CreateParameter(_bstr_t(), ado::adVarWChar, ado::adParamInput,
                                                static_cast<LONG>(std::wcslen(value.text)), _variant_t(value.text)));
  }
}

template <typename Bind>
bool ODBCRecord::Binds(Bind bind) {
  try {
    bind();
    return true;
  } catch (...) {
    return false;
  }
}

bool ODBCRecord::BindParameters(const wchar_t* location, ado::_Command* command, bool values, bool pageKeys,
                                const std::wstring& shown) {
  const ado::ParametersPtr parameters = command->GetParameters();
  if (values && !Binds([&] {
        for (const ColumnValue& value : values_) BindValue(command, parameters, value.value);
      })) {
    FailureReport(location, L"Bind parms call failed", shown);
    return false;
  }
  if (!Binds([&] {
        for (const Term& term : terms_) {
          if (term.column.length != 0 && term.value.type != kTypeIsNull) BindValue(command, parameters, term.value);
        }
      })) {
    FailureReport(location, L"Bind where call failed", shown);
    return false;
  }
  if (pageKeys && !Binds([&] {
        for (std::size_t i = 0; i < pageKeys_.size(); ++i) {
          for (std::size_t j = 0; j <= i; ++j) BindValue(command, parameters, pageKeys_[j].value);
        }
      })) {
    FailureReport(location, L"Bind page call failed", shown);
    return false;
  }
  return true;
}

bool ODBCRecord::CreateCommand(const wchar_t* location, ado::_CommandPtr& command) {
  if (SUCCEEDED(command.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL))) return true;
  database_->Log(nullptr, &lastMessage_, 2, L"[%s] Command create failed", location);
  return false;
}

bool ODBCRecord::CreateRecordset(const wchar_t* location, ado::_RecordsetPtr& recordset) {
  if (SUCCEEDED(recordset.CreateInstance(ado::CLSID_Recordset, nullptr, CLSCTX_ALL))) return true;
  database_->Log(nullptr, &lastMessage_, 2, L"[%s] Recordset create failed", location);
  return false;
}

template <typename Attempt>
void ODBCRecord::RunWithRetry(const wchar_t* location, const std::wstring& sql, Attempt attempt) {
  RecordConnections* connections = database_->GetConnections();
  const int tries = database_->GetCommandRetryCount();
  int left = tries;
  for (;;) {
    const DWORD start = GetTickCount();
    try {
      attempt();
      connections->UpdateStatistics(start, false, S_OK);
      return;
    } catch (const _com_error& error) {
      connections->UpdateStatistics(start, true, error.Error());
      --left;
      bool retryable = false;
      try {
        ado::ErrorsPtr errors = lent_.connection->GetErrors();
        for (LONG i = 0; i < errors->GetCount(); ++i) {
          const _bstr_t sqlState = errors->GetItem(_variant_t(i))->GetSQLState();
          const wchar_t* text = sqlState;
          const std::wstring state = text != nullptr ? text : L"";
          if (state.empty()) continue;
          if (state == L"HYT00") {
            // A server that aborted the transaction at the time-out (as
            // PostgreSQL does) would only refuse the statement again.
            retryable = autoConnection_ || !lent_.connection->GetTransactionAborted();
            break;
          }
          if (state == L"57033" || state == L"40001") {
            // A deadlock victim's transaction is gone: only a statement that
            // stands alone may run again.
            retryable = autoConnection_;
            break;
          }
        }
      } catch (const _com_error& inner) {
        database_->Log(nullptr, &lastMessage_, 2,
                       L"[%s] caught a com error when trying to determine if to retry the sql.  Originating error "
                       L"should be printed next.  COM Error 0x%0X - %s - Source: \"%s\" - Description \"%s\"",
                       location, inner.Error(), inner.ErrorMessage(), static_cast<const wchar_t*>(inner.Source()),
                       static_cast<const wchar_t*>(inner.Description()));
        throw;
      }
      if (!retryable || left < 1) throw;
      database_->Log(nullptr, &lastMessage_, 3, L"[%s] Timeout or deadlock.  %d re-tr%s left.  \"%s\"", location, left,
                     left > 1 ? L"ies" : L"y", sql.c_str());
      const DWORD seconds = static_cast<DWORD>(tries - left);
      Sleep(seconds * seconds * 1000);
    }
  }
}

ado::_RecordsetPtr ODBCRecord::OpenRecordset(const wchar_t* location, ado::_Command* command,
                                             ado::_RecordsetPtr recordset, const std::wstring& sql) {
  RunWithRetry(location, sql, [&] {
    if (recordset->GetState() == ado::adStateOpen) recordset->Close();
    recordset->Open(_variant_t(static_cast<IDispatch*>(command)), vtMissing, ado::adOpenForwardOnly,
                    ado::adLockReadOnly, 0);
  });
  // A statement that returns no rows (SET NOCOUNT ON, an INSERT before its
  // identity) leaves a closed result ahead of the rows.
  while (recordset && recordset->GetState() != ado::adStateOpen) {
    ado::_RecordsetPtr next = recordset->NextRecordset(nullptr);
    recordset = next.GetInterfacePtr();
    database_->Log(nullptr, &lastMessage_, 6, L"[%s] next RecordSet called", location);
  }
  return recordset;
}

std::int32_t ODBCRecord::Execute(const wchar_t* location, ado::_Command* command, const std::wstring& sql) {
  _variant_t affected;
  // The count is all an operation wants: no recordset is made for it.
  RunWithRetry(location, sql, [&] { command->Execute(&affected, nullptr, ado::adExecuteNoRecords); });
  if (affected.vt == VT_I4) return affected.lVal;
  if (affected.vt == VT_EMPTY || affected.vt == VT_NULL) return -1;
  return static_cast<INT>(affected);
}

bool ODBCRecord::PrepareStatement(const wchar_t* location, ado::_Command* command, const std::wstring& text,
                                  ado::CommandTypeEnum type, const std::wstring& shown, bool values, bool pageKeys) {
  command->PutCommandText(_bstr_t(text.c_str()));
  command->PutCommandType(type);
  command->PutCommandTimeout(database_->GetCommandTimeOut());
  if (!BindParameters(location, command, values, pageKeys, shown)) return false;
  TraceSqlAndData(location, shown);
  if (!Borrow(location, shown)) return false;
  command->PutRefActiveConnection(lent_.connection);
  return true;
}

bool ODBCRecord::GetFirstValue(bool* found, const wchar_t* statement) {
  return DoGetFirstValue(L"ODBCRecord::DoGetFirstValue", found, statement, nullptr);
}

bool ODBCRecord::QueryFirstValue(bool* found, const wchar_t* statement) {
  return DoGetFirstValue(L"ODBCRecord::DoGetFirstValue", found, statement, nullptr);
}

bool ODBCRecord::DoStoredProcQuery(const wchar_t* name, bool* found) {
  if (name == nullptr) {
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] Null pszName", L"ODBCRecord::DoStoredProcQuery");
    return false;
  }
  return DoGetFirstValue(L"ODBCRecord::DoStoredProcQuery", found, nullptr, name);
}

bool ODBCRecord::DoGetFirstValue(const wchar_t* location, bool* found, const wchar_t* statement,
                                 const wchar_t* procedure) {
  bool ignored = false;
  if (found == nullptr) found = &ignored;
  std::wstring sql;
  std::wstring procedureShown;  // "calling proc <name>"
  const std::wstring* shown = &sql;
  OnExit giveBack([this] { GiveBackIfAuto(); });
  ado::_CommandPtr command;
  try {
    ado::_RecordsetPtr recordset;
    if (!CreateCommand(location, command) || !CreateRecordset(location, recordset)) return false;
    rows_.Clear();
    currentRow_ = 0;
    upperRow_ = 0;
    *found = false;
    if (statement != nullptr) {
      sql = statement;
    } else if (procedure != nullptr) {
      sql = procedure;
      procedureShown = L"calling proc " + sql;
      shown = &procedureShown;
    } else {
      sql = BuildSelect();
    }
    const ado::CommandTypeEnum type =
        procedure != nullptr && statement == nullptr ? ado::adCmdStoredProc : ado::adCmdText;
    if (!PrepareStatement(location, command, sql, type, *shown, false, true)) return false;

    recordset = OpenRecordset(location, command, recordset, *shown);
    if (recordset && recordset->GetState() == ado::adStateOpen) {
      if (!recordset->GetEndOfFile()) {
        rows_ = recordset->GetRows(ado::adGetRowsRest);
        *found = true;
        currentRow_ = 0;
      }
      recordset->Close();
    }
    if (*found) {
      LONG upper = 0;
      if (rows_.vt != (VT_ARRAY | VT_VARIANT) || FAILED(SafeArrayGetUBound(rows_.parray, 2, &upper))) {
        database_->Log(nullptr, &lastMessage_, 2, L"%s: Cannot read recordset into buffer [%d]", location, __LINE__);
        rows_.Clear();
        *found = false;
        return false;
      }
      upperRow_ = upper;
    }
    Trace(L"[%s] ADO returned success.  Number of rows returned = %d", location, *found ? upperRow_ + 1 : 0);
    GiveBackIfAuto();
    return *found ? FetchData(L"ODBCRecord::FetchData", shown) : true;
  } catch (const _com_error& error) {
    wLogRecordsetComError(2, kEventDbComError, error, location, nullptr, command);
    LogSql(location, *shown);
  } catch (...) {
    wLogDBError(2, kEventRecordException, 0, location, nullptr);
    LogSql(location, *shown);
  }
  return false;
}

bool ODBCRecord::GetNextRow(bool* found) {
  bool ignored = false;
  if (found == nullptr) found = &ignored;
  ++currentRow_;
  *found = upperRow_ >= currentRow_ && rows_.vt == (VT_ARRAY | VT_VARIANT);
  if (!*found) return true;
  return FetchData(L"ODBCRecord::FetchData", nullptr);
}

bool ODBCRecord::FetchData(const wchar_t* location, const std::wstring* query) {
  // Made only for a log line.
  std::wstring earlier;
  auto queryText = [&]() -> const std::wstring& {
    if (query != nullptr) return *query;
    earlier = L"query not available but table is ";
    earlier += Table();
    return earlier;
  };
  try {
    // The cells are read where they lie: [field][row], dimension 1 the fields.
    LONG firstColumn = 0, lastColumn = -1, firstRow = 0, lastRow = -1;
    void* data = nullptr;
    const bool readable = SUCCEEDED(SafeArrayGetLBound(rows_.parray, 1, &firstColumn)) &&
                          SUCCEEDED(SafeArrayGetUBound(rows_.parray, 1, &lastColumn)) &&
                          SUCCEEDED(SafeArrayGetLBound(rows_.parray, 2, &firstRow)) &&
                          SUCCEEDED(SafeArrayGetUBound(rows_.parray, 2, &lastRow)) &&
                          SUCCEEDED(SafeArrayAccessData(rows_.parray, &data));
    OnExit unaccess([&] {
      if (data != nullptr) SafeArrayUnaccessData(rows_.parray);
    });
    for (std::size_t column = 0; column < outputs_.size(); ++column) {
      const Output& output = outputs_[column];
      const LONG index = ToLong(column);
      if (!readable || index < firstColumn || index > lastColumn || currentRow_ < firstRow || currentRow_ > lastRow) {
        database_->Log(nullptr, &lastMessage_, 2, L"%s: Cannot get value from array position [%d][%d]",
                       L"ODBCRecord::GetArrayValue", currentRow_, index);
        LogSqlAndData(2, location, queryText(), true);
        return false;
      }
      const std::size_t width = static_cast<std::size_t>(lastColumn - firstColumn) + 1;
      const VARIANT& cell = static_cast<const VARIANT*>(data)[static_cast<std::size_t>(index - firstColumn) +
                                                              static_cast<std::size_t>(currentRow_ - firstRow) * width];
      const bool absent = cell.vt == VT_NULL || cell.vt == VT_EMPTY;
      bool accepted = true;
      std::int64_t number = 0;
      switch (cell.vt) {
        case VT_NULL:
        case VT_EMPTY:
          break;
        case VT_I2:
          number = cell.iVal;
          accepted = output.type == kTypeInt;
          break;
        case VT_BOOL:
          number = cell.boolVal;
          accepted = output.type == kTypeInt;
          break;
        case VT_I4:
          number = cell.lVal;
          accepted = output.type == kTypeInt || output.type == kTypeInt64;
          break;
        case VT_I8:
          number = cell.llVal;
          accepted = output.type == kTypeInt64 ||
                     (output.type == kTypeInt && number >= std::numeric_limits<std::int32_t>::min() &&
                      number <= std::numeric_limits<std::int32_t>::max());
          break;
        case VT_DECIMAL: {
          // Rounded to a whole number (half to even); one beyond the
          // output's range fails the copy instead of being cut.
          _variant_t whole;
          accepted = (output.type == kTypeInt && SUCCEEDED(VariantChangeType(&whole, &cell, 0, VT_I4))) ||
                     (output.type == kTypeInt64 && SUCCEEDED(VariantChangeType(&whole, &cell, 0, VT_I8)));
          if (accepted) number = whole.vt == VT_I4 ? whole.lVal : whole.llVal;
          break;
        }
        case VT_BSTR:
          accepted = output.type == kTypeWideString;
          break;
        default:
          accepted = false;
          break;
      }
      if (!accepted) {
        database_->Log(nullptr, &lastMessage_, 2, L"[%s] Unexpected variant type %d.  Column # %d.  Query:  %s", location,
                       static_cast<int>(cell.vt), ToLong(column + 1), queryText().c_str());
        return false;
      }
      switch (output.type) {
        case kTypeInt:
          *static_cast<std::int32_t*>(output.destination) = absent ? 0 : static_cast<std::int32_t>(number);
          break;
        case kTypeInt64:
          *static_cast<std::int64_t*>(output.destination) = absent ? 0 : number;
          break;
        case kTypeWideString: {
          const wchar_t* text = absent ? nullptr : static_cast<const wchar_t*>(cell.bstrVal);
          static_cast<std::wstring*>(output.destination)->assign(text != nullptr ? text : L"");
          break;
        }
        default:
          break;
      }
    }
    return true;
  } catch (const _com_error& error) {
    wLogRecordsetComError(2, kEventDbComError, error, location, queryText().c_str(), nullptr);
  } catch (...) {
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] Unhandled Exception caught", location);
  }
  return false;
}

void ODBCRecord::KeepIdentity(std::int64_t value) {
  char digits[sizeof identityText_ / sizeof identityText_[0]];
  const char* const end = std::to_chars(digits, digits + sizeof digits - 1, value).ptr;
  std::copy(static_cast<const char*>(digits), end, identityText_);
  identityText_[end - digits] = L'\0';
  identity_ = Identity::kRead;
}

bool ODBCRecord::DoCreateRecord(std::int32_t* rowCount) {
  const wchar_t* const location = L"ODBCRecord::DoCreateRecord";
  status_ = kStatusRunning;
  identity_ = Identity::kEmpty;
  const std::wstring sql = BuildInsert();
  OnExit giveBack([this] { GiveBackIfAuto(); });
  ado::_CommandPtr command;
  try {
    ado::_RecordsetPtr recordset;
    if (!CreateCommand(location, command) || !CreateRecordset(location, recordset)) return false;
    if (!PrepareStatement(location, command, sql, ado::adCmdText, sql, true, false)) return false;

    std::int32_t inserted = -1;
    if (!database_->IsDB2()) {
      recordset = OpenRecordset(location, command, recordset, sql);
      if (!recordset || recordset->GetState() != ado::adStateOpen) {
        database_->Log(nullptr, &lastMessage_, 4, L"[%s] Unable to retrieve identity value as RecordSet wasn't open",
                       location);
      } else {
        ado::FieldsPtr fields = recordset->GetEndOfFile() ? nullptr : recordset->GetFields();
        if (fields && fields->GetCount() > 0) {
          _variant_t identity = fields->GetItem(_variant_t(0))->GetValue();
          // A table without an identity gives NULL: the row is in, it just
          // has no number to report.
          if (identity.vt != VT_NULL && identity.vt != VT_EMPTY) {
            std::int64_t value = 0;
            if (identity.vt == VT_DECIMAL) {
              value = static_cast<std::int64_t>(identity.decVal.sign != 0 ? 0 - identity.decVal.Lo64
                                                                           : identity.decVal.Lo64);
            } else {
              value = static_cast<LONGLONG>(identity);
            }
            KeepIdentity(value);
          }
        }
        recordset->Close();
      }
    } else {
      inserted = Execute(location, command, sql);
    }
    Trace(L"[%s] Number of rows inserted = %d", location, inserted);
    if (rowCount != nullptr) *rowCount = inserted;
    status_ = kStatusOk;
    return true;
  } catch (const _com_error& error) {
    SqlErrorReport(location, error, sql);
  } catch (...) {
    wLogDBError(2, kEventRecordException, 0, location, nullptr);
    LogSqlAndData(2, location, sql, true);
  }
  return false;
}

bool ODBCRecord::DoSetValue(bool createIfMissing, std::int32_t* rowCount, const wchar_t* statement) {
  const wchar_t* const location = L"ODBCRecord::DoSetValue";
  status_ = kStatusRunning;
  if (terms_.empty() && statement == nullptr) {
    database_->Log(nullptr, &lastMessage_, 2,
                   L"[%s] Update failed as no AddIdentifier was called.  Alternatively, DoCreateRecord() can be "
                   L"called",
                   location);
    return false;
  }
  const std::wstring sql = statement != nullptr ? std::wstring(statement) : BuildUpdate();
  OnExit giveBack([this] { GiveBackIfAuto(); });
  ado::_CommandPtr command;
  try {
    if (!CreateCommand(location, command)) return false;
    if (!PrepareStatement(location, command, sql, ado::adCmdText, sql, true, true)) return false;
    const std::int32_t updated = Execute(location, command, sql);
    Trace(L"[%s] Number of rows updated = %d", location, updated);
    if (rowCount != nullptr) *rowCount = updated;
    if (updated >= 1) {
      status_ = kStatusOk;
      return true;
    }
    if (updated < 0) {
      const std::wstring shown = DoublePercent(sql);
      database_->Log(nullptr, &lastMessage_, 6,
                     L"[%s] Database provider returned unknown number of rows updated.  SQL = \"%s\".", location,
                     shown.c_str());
      database_->Log(nullptr, &lastMessage_, 6, L"[%s] DATA = \"%s\".", location, BuildDataText().c_str());
      // The row may well exist: inserting it again could duplicate it.
      status_ = kStatusOk;
      return true;
    }
    if (createIfMissing) {
      GiveBackIfAuto();
      return DoCreateRecord(rowCount);
    }
    status_ = kStatusNoRows;
    const std::wstring shown = DoublePercent(sql);
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] No rows found to update.  SQL = \"%s\".", location, shown.c_str());
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] DATA = \"%s\".", location, BuildDataText().c_str());
    return false;
  } catch (const _com_error& error) {
    wLogRecordsetComError(2, kEventDbComError, error, location, sql.c_str(), command);
    LogSqlAndData(2, location, sql, true);
  } catch (...) {
    wLogDBError(2, kEventRecordException, 0, location, nullptr);
    LogSqlAndData(2, location, sql, true);
  }
  return false;
}

bool ODBCRecord::DeleteRecord(bool deleteAll, std::int32_t* rowCount) {
  const wchar_t* const location = L"ODBCRecord::DeleteRecord";
  status_ = kStatusRunning;
  const std::wstring sql = BuildDelete();
  if (terms_.empty() && !deleteAll) {
    FailureReport(location, L"Can't delete all rows without setting bDeleteAll", sql);
    return false;
  }
  OnExit giveBack([this] { GiveBackIfAuto(); });
  ado::_CommandPtr command;
  try {
    if (!CreateCommand(location, command)) return false;
    // The page keys are part of the WHERE clause when there is one.
    if (!PrepareStatement(location, command, sql, ado::adCmdText, sql, false, !terms_.empty())) return false;
    const std::int32_t deleted = Execute(location, command, sql);
    if (deleted < 0) {
      if (TraceEnabled()) {
        database_->Log(nullptr, &lastMessage_, 6, L"[%s] Number of rows deleted = database provider returned unknown",
                       location);
      }
    } else {
      Trace(L"[%s] Number of rows deleted = %d", location, deleted);
    }
    if (rowCount != nullptr) *rowCount = deleted;
    if (deleted != 0) {
      status_ = kStatusOk;
      return true;
    }
    status_ = kStatusNoRows;
    const std::wstring shown = DoublePercent(sql);
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] No rows found to delete.  SQL = \"%s\".", location, shown.c_str());
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] DATA = \"%s\".", location, BuildDataText().c_str());
    return false;
  } catch (const _com_error& error) {
    SqlErrorReport(location, error, sql);
  } catch (...) {
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] Unhandled Exception caught", location);
    LogSqlAndData(2, location, sql, true);
  }
  return false;
}

bool ODBCRecord::BeginTransaction() {
  const wchar_t* const location = L"ODBCRecord::BeginTransaction";
  if (!autoConnection_) throw std::runtime_error("Exception:  Trying to begin a transaction when one is already actve");
  commitFailed_ = false;
  try {
    if (!Borrow(location, L"BEGIN TRANSACTION")) return false;
    lent_.connection->BeginTrans();
    autoConnection_ = false;
    if (TraceEnabled()) database_->Log(nullptr, &lastMessage_, 6, L"[%s] BEGIN TRANSACTION", location);
    return true;
  } catch (const _com_error& error) {
    // The connection goes back: no transaction holds it.
    SqlErrorReport(location, error, L"begin transaction");
  } catch (...) {
    wLogDBError(2, kEventRecordException, 0, location, nullptr);
    GiveBackIfAuto();
  }
  return false;
}

bool ODBCRecord::Commit() {
  if (autoConnection_) throw std::runtime_error("Exception:  Trying to commit a transaction before a begin transaction");
  return EndTransaction(true);
}

bool ODBCRecord::Rollback() {
  if (autoConnection_ && commitFailed_) {
    // The failed commit has ended the transaction already.
    commitFailed_ = false;
    if (TraceEnabled()) database_->Log(nullptr, &lastMessage_, 6, L"[%s] ROLLBACK TRANSACTION", L"ODBCRecord::Rollback");
    return true;
  }
  if (autoConnection_) {
    throw std::runtime_error("Exception:  Trying to rollback a transaction before a begin transaction");
  }
  return EndTransaction(false);
}

bool ODBCRecord::EndTransaction(bool commit) {
  const wchar_t* const location = commit ? L"ODBCRecord::Commit" : L"ODBCRecord::Rollback";
  if (!holdsConnection_) {
    database_->Log(nullptr, &lastMessage_, 2, L"[%s] m_pConnectionItem was NULL", location);
    return false;
  }
  try {
    if (commit) {
      lent_.connection->CommitTrans();
    } else {
      lent_.connection->RollbackTrans();
    }
    autoConnection_ = true;
    GiveBackIfAuto();
    if (TraceEnabled()) {
      database_->Log(nullptr, &lastMessage_, 6, commit ? L"[%s] COMMIT TRANSACTION" : L"[%s] ROLLBACK TRANSACTION", location);
    }
    return true;
  } catch (const _com_error& error) {
    // The transaction has ended with the failure (the connection rolled it
    // back, or lost it): the connection goes back to the pool.
    autoConnection_ = true;
    commitFailed_ = commit;
    SqlErrorReport(location, error, commit ? L"commit transaction" : L"rollback transaction");
  }
  return false;
}
