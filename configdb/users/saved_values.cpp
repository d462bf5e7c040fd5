// Two writes of UserConfig rows that leave the cache alone: several cached
// values of one user in one UPDATE (SaveCachedValues), and a user's row
// removed (RemovePager). Callers that want the cache to follow apply the
// values with SetCachedValue themselves.
#include <cstring>
#include <string>

#include "configdb/core/column_values.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "device/pager.h"
#include "diagnostics/log.h"
#include "foundation/string_conversion.h"
#include "foundation/time_convert.h"
#include "platform/win32/codepage.h"

namespace {

// The value types a save writes.
constexpr int kInteger = 3;
constexpr int kBoolean = 11;
constexpr int kWideTextRead = 130;
constexpr int kNarrowText = 200;
constexpr int kWideText = 202;
constexpr int kBytes = 204;
constexpr int kTime = 205;

bool IsText(int type) { return type == kNarrowText || type == kWideText || type == kWideTextRead; }

bool IsWritable(int type) {
  return type == kInteger || type == kBoolean || IsText(type) || type == kBytes || type == kTime;
}

// What stands for the value in the statement: "?" when a parameter carries
// it, else the literal NULL or ''.
const wchar_t* Placeholder(const CachedValue& value) {
  if (value.type == kBytes) return value.length() != 0 ? L"?" : L"NULL";
  if (IsText(value.type) && value.text.GetLength() == 0) return value.emptyIsNull ? L"NULL" : L"''";
  return L"?";
}

void AppendValue(ado::_CommandPtr& command, const CachedValue& value) {
  if (std::wcscmp(Placeholder(value), L"?") != 0) return;
  switch (value.type) {
    case kInteger:
      AppendParameter(command, ado::adInteger, 4, _variant_t(static_cast<INT>(value.AsInt())));
      break;
    case kBoolean:
      AppendParameter(command, ado::adInteger, 4, _variant_t(static_cast<INT>(value.AsByte() != 0 ? 1 : 0)));
      break;
    case kNarrowText: {
      zev::ZEVString text = value.text;
      const char* narrow = text.GetNarrow();
      AppendParameter(command, ado::adVarChar, static_cast<LONG>(std::strlen(narrow) + 1), _variant_t(narrow));
      break;
    }
    case kWideText:
    case kWideTextRead:
      AppendParameter(command, ado::adVarWChar, value.text.GetLength() + 1, _variant_t(value.text.GetWide()));
      break;
    case kBytes:
      AppendParameter(command, ado::adVarBinary, static_cast<LONG>(value.length()),
                      BytesVariant(value.bytes(), value.length()));
      break;
    default: {  // kTime
      double date = 0;
      TimeToVariantDate(value.value, &date);
      AppendParameter(command, ado::adDBTimeStamp, 8, _variant_t(date));
      break;
    }
  }
}

}  // namespace

bool PMDatabaseSQLImp::SaveCachedValues(const CachedValueItemVector* items, int userId) {
  if (items == nullptr || items->empty()) return false;
  std::wstring sql = L"UPDATE UserConfig SET ";
  try {
    for (std::size_t i = 0; i < items->size(); ++i) {
      const CachedValue& value = (*items)[i].value;
      // A value of a type this save cannot write would shift every later
      // parameter: nothing is written.
      if (!IsWritable(value.type)) return false;
      if (i != 0) sql += L", ";
      sql += L" " + ToWideString(value.column, CP_ACP) + L" = " + Placeholder(value);
    }
    sql += L" WHERE Id = ? AND ServerConfigId = ? ";
    const std::string narrowSql = ConvertToNarrowString(sql, CP_ACP);
    LogMessage(6, "[%s] %s; Id= %d", "PMDatabaseSQLImp::SaveCachedValues", narrowSql.c_str(), userId);

    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand("PMDatabaseSQLImp::SaveCachedValues", holder, sql.c_str(), command)) return false;
    for (const CachedValueItem& item : *items) AppendValue(command, item.value);
    AppendParameter(command, ado::adInteger, 4, _variant_t(static_cast<INT>(userId)));
    AppendParameter(command, ado::adInteger, 4, _variant_t(static_cast<INT>(serverConfigId_)));
    executeStatement("PMDatabaseSQLImp::SaveCachedValues", command, nullptr);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError("PMDatabaseSQLImp::SaveCachedValues", error, sql.c_str());
    return false;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::SaveCachedValues");
    return false;
  }
}

bool PMDatabaseSQLImp::RemovePager(Pager* pager) {
  const wchar_t* sql = L"DELETE FROM UserConfig WHERE Id = ?";
  try {
    if (pager == nullptr) return false;
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand("PMDatabaseSQLImp::RemovePager", holder, sql, command)) return false;
    AppendParameter(command, ado::adInteger, 4, _variant_t(static_cast<INT>(pager->GetUserId())));
    executeStatement("PMDatabaseSQLImp::RemovePager", command, nullptr);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError("PMDatabaseSQLImp::RemovePager", error, sql);
    return false;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::RemovePager");
    return false;
  }
}
