// Loading users' UserConfig rows into their records: one row through a
// recordset (LoadUserConfig), every user of the server through the user-list
// procedure (LoadUserArray), one record from a row of such an array
// (LoadUserConfigVariant). Both record loaders convert every column the same
// way (ApplyUserColumns); they differ only in what counts as a value: a
// field whose actual size is above 0, or an array cell that is not NULL.
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "configdb/core/column_values.h"
#include "configdb/core/core_sql.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/ado_error.h"
#include "db/vexdb_command.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "platform/crt/printf.h"
#include "platform/win32/time.h"

namespace {

constexpr unsigned kEventProcedureFailed = 0xAFFF61A8u;  // message 25000
constexpr int kIdColumn = 22;
// Columns the record loaders read: up to ClientCertificateInfo (62).
constexpr std::size_t kUserColumns = 63;
// The most characters of a DisplayName that the failure of its row names.
constexpr std::size_t kLoggedNameChars = 254;

// The order in which both loaders read the columns of the user SELECT
// (VEXDB_BuildUserSelect), which is also the order a failure names: column
// 10 (OTAFMState) before column 8 (OTAFMUserConfig), which fill one field.
constexpr int kReadingOrder[] = {0,  1,  2,  3,  4,  5,  6,  7,  20, 11, 10, 9,  12, 13, 14, 15, 16, 17, 18, 19,
                                 8,  21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39,
                                 40, 41, 42, 48, 49, 51, 52, 53, 50, 54, 55, 56, 57, 43, 58, 59, 60, 61, 62};

// Puts a carriage return before every line feed that has none.
std::wstring ConvertLineFeedsToCRLF(const std::wstring& text) {
  std::size_t lone = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) ++lone;
  }
  if (lone == 0) return text;
  std::wstring out;
  out.reserve(text.size() + lone);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

// Up to four letters ("A" to "z") packed into one word, the first in the
// highest byte; other characters and missing ones leave a zero byte.
int PackGlobalResourceId(const std::wstring& text) {
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    word <<= 8;
    if (i < text.size() && text[i] >= 65 && text[i] <= 122) word += static_cast<std::uint32_t>(text[i]);
  }
  return static_cast<int>(word);
}

// A zev::ZEVString over the text of a BSTR value without a further copy.
zev::ZEVString TextOf(const VARIANT& value) {
  if (value.vt == VT_BSTR) return zev::ZEVString(value.bstrVal != nullptr ? value.bstrVal : L"");
  return zev::ZEVString(VariantWide(value).c_str());
}

// Applies the value of `column` (null: the column holds none) to `record`.
void ApplyUserColumn(PagerRecord* record, int column, const VARIANT* value) {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t count = 0;
  std::wstring converted;
  switch (column) {
    case 0:
      if (value != nullptr) record->SetDisplayName(VariantWideText(*value, &converted));
      break;
    case 1:
      if (value != nullptr) record->SetMailboxDN(VariantNarrow(*value).c_str());
      break;
    case 2:
      if (value != nullptr) record->SetServerDN(VariantNarrow(*value).c_str());
      break;
    case 11:
      if (value != nullptr) record->SetOverrideSMTPAddr(VariantNarrow(*value).c_str());
      break;
    case 14:
      if (value != nullptr) record->SetMailboxSMTPAddr(VariantNarrow(*value).c_str());
      break;
    case 29:
      if (value != nullptr) record->SetRoutingInfo(VariantNarrow(*value).c_str());
      break;
    case 31:
      if (value != nullptr) record->SetPendingRoutingInfo(VariantNarrow(*value).c_str());
      break;
    case 4:
      if (value != nullptr) record->SetPIN(TextOf(*value));
      break;
    case 3:
      if (value != nullptr) record->SetDeviceType(VariantInt(*value));
      break;
    case 7:
      if (value != nullptr) record->SetCalendarEnableState(VariantInt(*value));
      break;
    case 8:   // OTAFMUserConfig
    case 10:  // OTAFMState, read first: OTAFMUserConfig wins when it holds a value
      if (value != nullptr) record->SetOTAFMUserConfig(VariantInt(*value));
      break;
    case 9:
      if (value != nullptr) record->SetOTAFMConflictResolution(VariantInt(*value));
      break;
    case 12:
      if (value != nullptr) record->SetOTAPIMState(VariantInt(*value));
      break;
    case 15:
      if (value != nullptr) record->SetServerConfigId(VariantInt(*value));
      break;
    case 16:
      if (value != nullptr) record->SetPendingServerConfigId(VariantInt(*value));
      break;
    case 21:
      if (value != nullptr) record->SetITPolicy2Id(VariantInt(*value));
      break;
    case 22:
      if (value != nullptr) record->SetUserId(VariantInt(*value));
      break;
    case 30:
      if (value != nullptr) record->SetUserDeleteStatus(VariantInt(*value));
      break;
    case 54:
      if (value != nullptr) record->SetNumberOfSelectedFolders(VariantInt(*value));
      break;
    case 55:
      if (value != nullptr) record->SetSelectedFolderTime(VariantInt(*value));
      break;
    case 61:
      if (value != nullptr) record->SetDeviceUserId(VariantInt(*value));
      break;
    case 5:
      if (value != nullptr) record->SetRedirectionState(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 6:
      if (value != nullptr) record->SetExtServicesState(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 35:
      if (value != nullptr) record->SetRedirectWhenInCradle(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 36:
      if (value != nullptr) record->SetDisableSentItems(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 37:
      if (value != nullptr) record->SetAutoKeyGenerate(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 38:
      if (value != nullptr) record->SetDefaultFilterAction(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 40:
      if (value != nullptr) record->SetSMIMEEnabled(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 50:
      if (value != nullptr) record->SetRedirectFromSelectedFolders(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 58:
      if (value != nullptr) record->SetSyncingPersonalFolders(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 59:
      if (value != nullptr) record->SetDisableRedirectRead(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 60:
      if (value != nullptr) record->SetRedirectFromSentItems(VariantInt(*value) > 0 ? 1 : 0);
      break;
    case 51:
      record->SetRichContentEnabled(value != nullptr && VariantShort(*value) != 0 ? 1 : 0);
      break;
    case 52:
      record->SetRichContentInlineEnabled(value != nullptr && VariantShort(*value) != 0 ? 1 : 0);
      break;
    case 53:
      record->SetRichContentTrainingFileId(value != nullptr ? VariantShort(*value) : -1);
      break;
    case 42:
      record->SetRefIdGenerator(value != nullptr ? VariantInt(*value) : 0);
      break;
    case 20:
      if (value != nullptr) record->SetCreationTime(VariantTime(*value));
      break;
    case 24:
      if (value != nullptr) record->SetKeyDate(VariantTime(*value));
      break;
    case 28:
      if (value != nullptr) record->SetActivationTime(VariantTime(*value));
      break;
    case 33:
      if (value != nullptr) record->SetKeyGenExpiryTime(VariantTime(*value));
      break;
    case 13:
      if (value != nullptr && VariantBytes(*value, &bytes, &count) && count >= 8) record->SetLurnum(bytes, 8);
      break;
    case 17:
    case 18:
    case 19:
      // PendingKey, CurrentKey, PreviousKey: slots 3, 2, 1.
      if (value != nullptr && VariantBytes(*value, &bytes, &count) && count >= PagerRecord::kKeySize) {
        record->SetEncryptionKey(20 - column, bytes, PagerRecord::kKeySize);
      }
      break;
    case 23:
      if (value != nullptr && VariantBytes(*value, &bytes, &count)) {
        record->SetDeviceCapabilities(bytes, static_cast<int>(count));
      }
      break;
    case 25:
      if (value != nullptr && VariantBytes(*value, &bytes, &count)) {
        record->SetDataSourceId(bytes, static_cast<int>(count));
      }
      break;
    case 27:
      if (value != nullptr && VariantBytes(*value, &bytes, &count)) record->SetAckData(bytes, static_cast<int>(count));
      break;
    case 56:
      if (value != nullptr && VariantBytes(*value, &bytes, &count)) {
        record->SetUserCertificates(bytes, static_cast<int>(count));
      }
      break;
    case 57:
      if (value != nullptr && VariantBytes(*value, &bytes, &count)) {
        record->SetUserPeerToPeerKey(bytes, static_cast<int>(count));
      }
      break;
    case 26:
      // A name over 63 characters is not stored.
      if (value != nullptr) record->SetServiceBookName(VariantWideText(*value, &converted));
      break;
    case 43:
      if (value != nullptr) record->SetMailStoreDisplayName(VariantWideText(*value, &converted));
      break;
    case 32:
      record->SetKeyGenPassword(value != nullptr ? TextOf(*value) : zev::ZEVString(L""));
      break;
    case 34:
      record->SetAutoSignature(
          zev::ZEVString(value != nullptr ? ConvertLineFeedsToCRLF(VariantWide(*value)).c_str() : L""));
      break;
    case 39:
      record->SetFilters(zev::ZEVString(value != nullptr ? ConvertLineFeedsToCRLF(VariantWide(*value)).c_str() : L""));
      break;
    case 48:
      record->SetDisclaimerText(value != nullptr ? VariantWideText(*value, &converted) : L"");
      break;
    case 49:
      record->SetDisclaimerTextPrepended(value != nullptr ? VariantWideText(*value, &converted) : L"");
      break;
    case 41:
      if (value != nullptr) record->SetGlobalResourceId(PackGlobalResourceId(VariantWide(*value)));
      break;
    case 62:
      if (value != nullptr && VariantBytes(*value, &bytes, &count)) {
        // MailboxSMTPAddr (column 14) is read by now: it names the user.
        record->LoadCertificates(ByteBuffer(bytes, count));
      }
      break;
    default:
      break;
  }
}

// Applies every column in reading order; `column` follows the one being
// read, for the failure report.
template <typename Cell>
void ApplyUserColumns(PagerRecord* record, Cell cell, int* column) {
  for (int each : kReadingOrder) {
    *column = each;
    ApplyUserColumn(record, each, cell(each));
  }
}

}  // namespace

int PMDatabaseSQLImp::LoadUserConfig(int userId, PagerRecord* record, const char* mailboxDN) {
  const char* name = "PMDatabaseSQLImp::LoadUserConfig";
  if (userId == 0 && mailboxDN == nullptr) {
    LogMessage(2, "MailBox and User Id is empty");
    return 0;
  }
  ado::_CommandPtr command;
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) {
      LogMessage(2, "Connection not established for User %d", userId);
      return -1;
    }
    const std::wstring sql = UserRowSql(userId != 0, agentId_ > 0);
    if (!PrepareCommand(name, holder, sql.c_str(), command)) return -1;
    if (userId != 0) {
      AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(userId)));
    } else {
      AppendParameter(command, ado::adVarChar, static_cast<LONG>(std::strlen(mailboxDN) + 1), _variant_t(mailboxDN));
    }
    if (agentId_ > 0) AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(agentId_)));
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows || rows->GetEndOfFile()) {
      closeRecordSet(rows);
      return 0;
    }
    const ado::FieldsPtr fields = rows->GetFields();
    _variant_t value;
    int column = 0;
    ApplyUserColumns(
        record,
        [&](int each) -> const VARIANT* {
          const ado::FieldPtr field = fields->GetItem(_variant_t(static_cast<INT>(each)));
          if (field->GetActualSize() <= 0) return nullptr;
          value = field->GetValue();
          return &value;
        },
        &column);
    closeRecordSet(rows);
    return 1;
  } catch (const _com_error& error) {
    wLogRecordsetComError(2, kEventOperationComError, error, L"PMDatabaseSQLImp::LoadUserConfig", L"", command);
  } catch (...) {
    wLogDBError(2, kEventUnexpectedException, 0, L"PMDatabaseSQLImp::LoadUserConfig", nullptr);
  }
  return -1;
}

int PMDatabaseSQLImp::LoadUserConfigVariant(int userId, PagerRecord* record, const VARIANT* rows) {
  if (rows == nullptr || (rows->vt & VT_ARRAY) == 0 || rows->parray == nullptr || userId == 0) return 0;
  SAFEARRAY* array = rows->parray;
  LONG upper = -1;
  if (FAILED(SafeArrayGetUBound(array, 2, &upper)) || upper < 0) return 0;
  for (LONG row = 0; row <= upper; ++row) {
    _variant_t id;
    int column = kIdColumn;
    int index = static_cast<int>(row);
    if (!VEXDB_GetArrayValue(&id, &index, &column, array) || VariantInt(id) != userId) continue;
    if (record == nullptr) return 0;
    // The cells of one row follow each other: [column][row], column first.
    if ((array->fFeatures & FADF_VARIANT) == 0 || SafeArrayGetDim(array) != 2) return -1;
    const ULONG columns = array->rgsabound[1].cElements;
    const VARIANT* cells = static_cast<const VARIANT*>(array->pvData) + static_cast<std::size_t>(row) * columns;
    return LoadUserConfigCells(userId, record, cells, columns);
  }
  return 0;
}

int PMDatabaseSQLImp::LoadUserConfigCells(int userId, PagerRecord* record, const VARIANT* cells, std::size_t count) {
  int column = 0;
  if (FillUserRecord(record, cells, count, &column)) return 1;
  LogUserRowFailure(userId, UserRowDisplayName(cells, count).c_str(), column);
  return -1;
}

bool PMDatabaseSQLImp::FillUserRecord(PagerRecord* record, const VARIANT* cells, std::size_t count, int* column) {
  *column = 0;
  try {
    if (cells == nullptr || count < kUserColumns) _com_issue_error(DISP_E_BADINDEX);
    ApplyUserColumns(
        record,
        [cells](int each) -> const VARIANT* {
          const VARIANT* cell = &cells[each];
          return cell->vt == VT_NULL || cell->vt == VT_EMPTY ? nullptr : cell;
        },
        column);
    return true;
  } catch (...) {
    return false;
  }
}

std::wstring PMDatabaseSQLImp::UserRowDisplayName(const VARIANT* cells, std::size_t count) {
  if (cells == nullptr || count < kUserColumns || cells[0].vt != VT_BSTR || cells[0].bstrVal == nullptr) return L"";
  const wchar_t* name = cells[0].bstrVal;
  return std::wstring(name, std::find(name, name + kLoggedNameChars, L'\0'));
}

void PMDatabaseSQLImp::LogUserRowFailure(int userId, const wchar_t* displayName, int column) {
  LogDBError(2, kEventUnexpectedException, 0, "PMDatabaseSQLImp::LoadUserConfigVariant", displayName);
  LogMessage(2, "Failed on server Id: %d, at the field: %d", userId, column);
}

bool PMDatabaseSQLImp::LoadUserArray(VARIANT* rows, ConnectionHolder* connection, std::int64_t* maxHistoryId) {
  const char* name = "PMDatabaseSQLImp::LoadUserArray";
  ado::_CommandPtr command;
  try {
    ado::RegisterAdoClasses();
    const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, 0x17);
    if (FAILED(hr)) {
      LogEvent(2, kEventCommandNotCreated, LoadResString(20656), name, static_cast<unsigned>(hr));
      return false;
    }
    if (connection == nullptr || connection->get() == nullptr) _com_issue_error(E_POINTER);
    command->PutRefActiveConnection((*connection)->GetConnection());
    command->PutCommandText(_bstr_t(L"GetAgentUserListWithMaxHistId"));
    command->PutCommandType(ado::adCmdStoredProc);
    char lastId[32];
    crt::snprintf(lastId, sizeof lastId, "%I64d", lastHistoryId_);
    AppendParameter(command, ado::adBigInt, static_cast<LONG>(std::strlen(lastId) + 1), _variant_t(lastId));
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(agentId_)));
    command->GetParameters()->Append(
        command->CreateParameter(_bstr_t(L"MaxHistoryId"), ado::adBigInt, ado::adParamOutput, 8));
    const DWORD runStart = GetTickCount();
    ado::_RecordsetPtr recordset;
    executeQuery(name, recordset, command);
    if (!recordset) _com_issue_error(E_POINTER);
    if (recordset->GetState() == ado::adStateOpen && !recordset->GetEndOfFile()) {
      const DWORD fetchStart = GetTickCount();
      _variant_t fetched = recordset->GetRows(ado::adGetRowsRest);
      const DWORD fetchEnd = GetTickCount();
      LONG upper = -1;
      if ((fetched.vt & VT_ARRAY) == 0 || FAILED(SafeArrayGetUBound(fetched.parray, 2, &upper))) {
        LogMessage(2, "[%s]: Cannot read recordset into buffer [%d]", name, 4151);
        closeRecordSet(recordset);
        return false;
      }
      LogMessage(6, "[%s] Open recordset for %d ms, get %d records for %ld ms", name,
                 static_cast<int>(fetchStart - runStart), static_cast<int>(upper + 1),
                 static_cast<LONG>(fetchEnd - fetchStart));
      VariantClear(rows);
      *rows = fetched.Detach();
    }
    closeRecordSet(recordset);
    const _variant_t newest = command->GetParameters()->GetItem(_variant_t(L"MaxHistoryId"))->GetValue();
    if (newest.vt != VT_NULL && newest.vt != VT_EMPTY) {
      const LONGLONG id = static_cast<LONGLONG>(newest);
      if (id > 0 && maxHistoryId != nullptr) *maxHistoryId = id;
    }
    return true;
  } catch (const _com_error& error) {
    wLogRecordsetComError(2, kEventProcedureFailed, error, L"PMDatabaseSQLImp::LoadUserArray",
                          L"GetAgentUserListWithMaxHistId", command);
  } catch (...) {
    LogMessage(2, "[%s]: Cannot read recordset into buffer [%d]", name, 4177);
  }
  return false;
}
