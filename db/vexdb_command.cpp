#include "db/vexdb_command.h"

#include <cstring>
#include <memory>
#include <cwchar>
#include <stdexcept>

#include "db/ado_error.h"
#include "db/connection_holder.h"
#include "db/connection_pool.h"
#include "db/odbc_database.h"
#include "db/odbc_record.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/registry.h"
#include "foundation/string_conversion.h"
#include "platform/win32/codepage.h"
#include "platform/win32/time.h"

int g_VEXDB_CommandTimeout = 30;
int g_VEXDB_CommandRetryCount = 5;

namespace {

constexpr unsigned kEventCreateFailed = 0xAFFF61A9u;      // message 25001
constexpr unsigned kEventOtherException = 0xAFFF61AAu;    // message 25002
constexpr unsigned kEventCellError = 0x6FFF88BFu;
constexpr unsigned kEventCellNotRead = 0xAFFF61B0u;       // message 25008
constexpr unsigned kEventArgumentMissing = 0xAFFF61D5u;   // message 25045
constexpr unsigned kEventProcedureFailed = 0xAFFF6219u;   // message 25113
constexpr unsigned kEventRetrying = 0x6FFF88CDu;          // message 35021

constexpr const char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";

std::wstring WideName(const char* name) { return ToWideString(name ? name : "", CP_ACP); }

// Logs the failure to create an ADO object and throws it.
[[noreturn]] void ThrowCreateFailed(const char* name, HRESULT hr) {
  LogEvent(2, kEventCreateFailed, LoadResString(25001), name, static_cast<unsigned>(hr));
  throw std::runtime_error("CreateInstance failed");
}

void RequireName(const char* name, const char* operation) {
  if (name != nullptr) return;
  LogEvent(2, kEventArgumentMissing, LoadResString(25045), operation);
  throw std::invalid_argument("Required arg not set");
}

// Runs `attempt` with the retry rule, counting each try in the pool's
// statistics.
template <typename Attempt>
void WithRetries(const char* name, ado::_CommandPtr& command, Attempt attempt) {
  int remaining = g_VEXDB_CommandRetryCount;
  do {
    const DWORD start = GetTickCount();
    try {
      attempt();
      GetConnectionPool().UpdateStatistics(start, false, 0);
      return;
    } catch (const _com_error& error) {
      GetConnectionPool().UpdateStatistics(start, true, error.Error());
      --remaining;
      VEXDB_HandleCommandError(name, remaining, command, error);
    }
  } while (remaining > 0);
}

// The pair's value as the parameter's value and size; false for a code
// that is not in the table.
bool ParameterValue(int type, const void* value, _variant_t* out, LONG* size) {
  switch (type) {
    case ado::adInteger:
      *out = _variant_t(static_cast<INT>(*static_cast<const std::int32_t*>(value)));
      *size = 0;
      return true;
    case ado::adBigInt:
    case ado::adChar:
    case ado::adVarChar: {
      const char* text = static_cast<const char*>(value);
      *out = _variant_t(_bstr_t(text));
      *size = static_cast<LONG>(std::strlen(text) + 1);
      return true;
    }
    case ado::adDBTimeStamp:
      *out = _variant_t(*static_cast<const double*>(value));
      *size = 0;
      return true;
    case ado::adVarWChar: {
      const wchar_t* text = static_cast<const wchar_t*>(value);
      *out = _variant_t(text);
      *size = static_cast<LONG>(std::wcslen(text) + 1);
      return true;
    }
    default:
      return false;
  }
}

// Reads the cell (column, row) into `out`; a failure is logged under
// `name` with `comEvent`. True when read and not NULL.
bool ReadCell(VARIANT* out, int* row, int* column, SAFEARRAY* array, const char* name, unsigned comEvent) {
  try {
    if (row == nullptr || column == nullptr || array == nullptr) throw _com_error(E_INVALIDARG);
    const LONG indices[2] = {*column, *row};
    const HRESULT hr = SafeArrayGetElement(array, indices, out);
    if (FAILED(hr)) throw _com_error(hr);
    return out->vt != VT_NULL;
  } catch (const _com_error& error) {
    const std::wstring location = WideName(name);
    wLogComError(2, comEvent, error, location.c_str(), nullptr);
    LogEvent(2, kEventCellNotRead, LoadResString(25008), name, row ? *row : -1, column ? *column : -1);
  } catch (...) {
    const std::wstring location = WideName(name);
    wLogDBError(2, kEventOtherException, 0, location.c_str(), nullptr);
  }
  return false;
}

// The text forms: the cell as text in `out` (a non-text value in its text
// form); `out` stays empty for NULL or a failed read.
template <typename Text>
bool ReadCellText(Text& out, int* row, int* column, SAFEARRAY* array, const char* name) {
  out.clear();
  _variant_t cell;
  if (!ReadCell(&cell, row, column, array, name, kEventCellError)) return false;
  _variant_t text;
  if (FAILED(VariantChangeType(&text, &cell, 0, VT_BSTR))) return false;
  const std::wstring wide(text.bstrVal ? text.bstrVal : L"", text.bstrVal ? SysStringLen(text.bstrVal) : 0);
  if constexpr (sizeof(typename Text::value_type) == sizeof(char)) {
    out = ToNarrowString(wide, CP_ACP);
  } else {
    out = wide;
  }
  return true;
}

}  // namespace

void VEXDB_LogCaught(const char* name, const wchar_t* sql, ado::_Command* command, const wchar_t* otherLocation,
                     unsigned otherEvent) {
  try {
    throw;
  } catch (const _com_error& error) {
    wLogRecordsetComError(2, kEventDbComError, error, WideName(name).c_str(), sql, command);
  } catch (...) {
    wLogDBError(2, otherEvent, 0, otherLocation, nullptr);
  }
}

void VEXDB_ReadCommandSettings() {
  Registry key(kDatabaseKey, false, false);
  if (!key.Open(false)) return;
  key.GetIntDefault("CommandTimeOut", &g_VEXDB_CommandTimeout, 30);
  key.GetIntDefault("CommandRetryCount", &g_VEXDB_CommandRetryCount, 5);
  if (g_VEXDB_CommandRetryCount < 0) g_VEXDB_CommandRetryCount = 5;
}

int VEXDB_CountQueryParams(const wchar_t* sql) {
  int count = 0;
  for (const wchar_t* p = sql; p != nullptr && *p != L'\0'; ++p) {
    if (*p == L'?') ++count;
  }
  return count;
}

bool ExtractQueryParamsFromArgList(int count, std::vector<ado::_ParameterPtr>* params, ado::_CommandPtr& command,
                                   va_list args) {
  params->clear();
  params->reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
  const ado::ParametersPtr parameters = command->GetParameters();
  for (int i = 0; i < count; ++i) {
    const int type = va_arg(args, int);
    if (type == 0) return false;
    const void* value = va_arg(args, const void*);
    if (value == nullptr) return false;
    _variant_t bound;
    LONG size = 0;
    if (!ParameterValue(type, value, &bound, &size)) {
      LogMessage(1, "Unknown or unsupported parameter type number : %d in %s", type,
                 "::ExtractQueryParamsFromArgList");
      return false;
    }
    params->push_back(command->CreateParameter(_bstr_t(L""), static_cast<ado::DataTypeEnum>(type),
                                               ado::adParamInput, size, bound));
    parameters->Append(params->back());
  }
  return true;
}

void VEXDB_HandleCommandError(const char* name, int remaining, ado::_CommandPtr& command, const _com_error& error) {
  bool transient = false;
  const ado::_ConnectionPtr connection = command ? command->GetActiveConnection() : nullptr;
  const ado::ErrorsPtr errors = connection ? connection->GetErrors() : nullptr;
  const LONG count = errors ? errors->GetCount() : 0;
  for (LONG i = 0; i < count && !transient; ++i) {
    const _bstr_t state = errors->GetItem(_variant_t(static_cast<INT>(i)))->GetSQLState();
    const wchar_t* text = state;
    transient = text != nullptr && (std::wcscmp(text, L"HYT00") == 0 || std::wcscmp(text, L"40001") == 0 ||
                                    std::wcscmp(text, L"57033") == 0);
  }
  if (!transient || remaining < 1) throw error;
  const std::string commandText = command ? static_cast<const char*>(command->GetCommandText()) : "";
  LogEvent(3, kEventRetrying, LoadResString(35021), name, remaining, commandText.c_str());
  const DWORD step = static_cast<DWORD>(g_VEXDB_CommandRetryCount - remaining);
  Sleep(step * step * 1000);
}

void VEXDB_executeQuery(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr& recordset) {
  RequireName(name, "VEXDB_executeQuery");
  if (!recordset) {
    ado::RegisterAdoClasses();
    const HRESULT hr = recordset.CreateInstance(ado::CLSID_Recordset, nullptr, 0x17);
    if (FAILED(hr)) ThrowCreateFailed("VEXDB_executeQuery", hr);
  }
  const _variant_t source(static_cast<IDispatch*>(command.GetInterfacePtr()));
  WithRetries(name, command, [&] {
    recordset->Open(source, vtMissing, ado::adOpenForwardOnly, ado::adLockReadOnly, 0);
  });
}

bool VEXDB_executeUpdate(const char* name, ado::_CommandPtr& command, VARIANT* recordsAffected) {
  RequireName(name, "VEXDB_executeUpdate");
  bool returned = false;
  WithRetries(name, command, [&] { returned = command->Execute(recordsAffected, nullptr, 0) != nullptr; });
  return returned;
}

bool RunParameterizedSQLQuery(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr* recordset,
                              const wchar_t* sql, LONG maxRecords, va_list args) {
  if (name == nullptr || sql == nullptr) return false;
  ConnectionHolder holder;
  if (holder.get() == nullptr) {
    LogMessage(2, "%s - Unable to get a connection from the connection Pool", name);
    return false;
  }
  const int count = VEXDB_CountQueryParams(sql);
  std::vector<ado::_ParameterPtr> params;
  bool ok = false;
  try {
    ado::RegisterAdoClasses();
    HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, 0x17);
    if (SUCCEEDED(hr) && recordset != nullptr) hr = recordset->CreateInstance(ado::CLSID_Recordset, nullptr, 0x17);
    if (FAILED(hr)) {
      LogEvent(2, kEventCreateFailed, LoadResString(25001), name, static_cast<unsigned>(hr));
      return false;
    }
    if (recordset != nullptr) {
      (*recordset)->PutCursorLocation(ado::adUseClient);
      if (maxRecords > 0) (*recordset)->PutMaxRecords(maxRecords);
    }
    command->PutRefActiveConnection(holder->GetConnection());
    command->PutCommandText(_bstr_t(sql));
    command->PutCommandType(ado::adCmdText);
    command->PutCommandTimeout(g_VEXDB_CommandTimeout);
    if (count >= 1 && !ExtractQueryParamsFromArgList(count, &params, command, args)) return false;
    if (recordset != nullptr) {
      VEXDB_executeQuery(name, command, *recordset);
      if (*recordset) {
        (*recordset)->PutRefActiveConnection(nullptr);
        ok = true;
      }
    } else {
      _variant_t affected;
      VEXDB_executeUpdate(name, command, &affected);
      ok = true;
    }
  } catch (...) {
    VEXDB_LogCaught(name, sql, command, L"RunParameterizedSQLQuery", kEventOtherException);
  }
  return ok;
}

bool VEXDB_RunParameterizedUpdate(const char* name, const wchar_t* sql, ...) {
  va_list args;
  va_start(args, sql);
  ado::_CommandPtr command;
  const bool ok = RunParameterizedSQLQuery(name, command, nullptr, sql, 0, args);
  va_end(args);
  return ok;
}

bool VEXDB_RunParameterizedQuery(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr& recordset,
                                 const wchar_t* sql, ...) {
  va_list args;
  va_start(args, sql);
  const bool ok = RunParameterizedSQLQuery(name, command, std::addressof(recordset), sql, 0, args);
  va_end(args);
  return ok;
}

bool VEXDB_RunParameterizedQueryMax(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr& recordset,
                                    const wchar_t* sql, LONG maxRecords, ...) {
  va_list args;
  va_start(args, maxRecords);
  const bool ok = RunParameterizedSQLQuery(name, command, std::addressof(recordset), sql, maxRecords, args);
  va_end(args);
  return ok;
}

bool VEXDB_GetArrayValue(VARIANT* out, int* row, int* column, SAFEARRAY* array) {
  if (out == nullptr) return false;
  VariantClear(out);
  return ReadCell(out, row, column, array, "::VEXDB_GetArrayValue", kEventDbComError);
}

bool VEXDB_GetArrayString(std::string& out, int* row, int* column, SAFEARRAY* array) {
  return ReadCellText(out, row, column, array, "::VEXDB_GetArrayString");
}

bool VEXDB_GetArrayWString(std::wstring& out, int* row, int* column, SAFEARRAY* array) {
  return ReadCellText(out, row, column, array, "::VEXDB_GetArrayWString");
}

std::wstring VEXDB_BuildUserSelect(const wchar_t* condition) {
  std::wstring sql =
      L" SELECT DisplayName, MailboxDN, ServerDN,   DeviceType, PIN, RedirectionState, ExtServicesState,   CalendarEnableState,  OTAFMUserConfig, OTAFMConflictResolution,  OTAFMState, OverrideSMTPAddr, OTAPIMState,   lurnum, MailboxSMTPAddr, ServerConfigId, PendingServerConfigId,   PendingKey, CurrentKey, PreviousKey, CreationTime, ITPolicy2Id,   Id, DeviceCapabilities, KeyDate,  DataSourceId, ServiceBookName,  AckData, ActivationTime, RoutingInfo, UserDeleteStatus, PendingRoutingInfo, KeyGenPassword, KeyGenExpiryTime,   AutoSignature, RedirectWhenInCradle, DisableSentItems, AutoKeyGenerate,  DefaultFilterAction, Filters, SMIMEEnabled, GlobalResourceId, RefIdGenerator,  MailStoreDisplayName, UnId, NotesAdminServer, RedirectionSuspended, UserName,  DisclaimerText, DisclaimerTextPrepended, RedirectFromSelectedFolders,  RichContentEnabled, RichContentInlineEnabled, RichContentTrainingFileId,  NumberOfSelectedFolders, SelectedFolderTime, UserCertificates, UserPeerToPeerKey,  SyncingPersonalFolders, DisableRedirectRead, RedirectFromSentItems, DeviceUserId,ClientCertificateInfo, OOOReturnDate FROM UserConfig ";
  if (condition != nullptr) {
    sql += L" WHERE ";
    sql += condition;
  }
  return sql;
}

bool VEXDB_GetLastHistoryId(std::int64_t* out) {
  // The record layer's database object of the process, over the pool.
  static ODBCDatabase database;
  ODBCRecord record(&database);
  record.AddOutputInt64("MaxId", out);
  bool found = false;
  if (!record.DoStoredProcQuery(L"HistoryGetMaxId", &found) || !found) {
    LogEvent(2, kEventProcedureFailed, LoadResString(25113), "VEXDB_GetLastHistoryId", "HistoryGetMaxId");
    return false;
  }
  return true;
}
