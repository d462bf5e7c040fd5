#include "db/vexdb_user.h"

#include <climits>
#include <cwctype>
#include <string_view>

#include "db/ado_error.h"
#include "db/connection_holder.h"
#include "db/db_config.h"
#include "db/vexdb_command.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/critical_section.h"
#include "foundation/registry.h"
#include "foundation/string_util.h"
#include "platform/crt/printf.h"
#include "platform/win32/time.h"

namespace {

constexpr unsigned kEventCreateFailed = 0xAFFF61A9u;     // message 25001
constexpr unsigned kEventOtherException = 0xAFFF61AAu;   // message 25002
constexpr unsigned kEventMapException = 0xAFFF6215u;     // message 25109
constexpr unsigned kEventMapNotBuilt = 0x6FFFB008u;      // message 45064
constexpr unsigned kEventTableExcluded = 0x6FFFB009u;    // message 45065
constexpr unsigned kEventUserNotMarked = 0x6FFFB00Au;    // message 45066
constexpr unsigned kEventDeletingTable = 0x6FFFB00Bu;    // message 45067

constexpr const char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";
constexpr const char kNoConnection[] = "%s - Unable to get a connection from the connection Pool";

// Tables never emptied by a user deletion, whatever the registry says.
constexpr const wchar_t* kFixedExcludes[] = {
    L"ITPolicyStatus", L"TulUsers", L"TulZidivarezaActivationStatus", L"TulZidivarezaActivationMonitor",
    L"MbCalReconcile", L"MbMailReconcile", L"UserSync",
};

// The child-table map, the chunk size and the lock that serialises
// completed deletions with them.
constexpr int kDefaultChunkSize = 5000;
CriticalSection g_childTableLock;
UserChildTableMap g_childTables;
int g_deleteChunkSize = kDefaultChunkSize;

std::wstring Lowered(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

// A name the catalogue gave that may be written into a statement as it
// stands: letters, digits and '_', '@', '#', '$', not starting with a digit
// or '$', at most 128 characters.
bool IsPlainIdentifier(const std::wstring& name) {
  if (name.empty() || name.size() > 128) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const wchar_t c = name[i];
    const bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || c == L'@' || c == L'#';
    const bool later = (c >= L'0' && c <= L'9') || c == L'$';
    if (!letter && !(i > 0 && later)) return false;
  }
  return true;
}

std::wstring Formatted(const wchar_t* format, ...) {
  wchar_t buffer[1024];
  va_list args;
  va_start(args, format);
  const int written = crt::vsnwprintf(buffer, sizeof buffer / sizeof buffer[0] - 1, format, args);
  va_end(args);
  if (written < 0) return std::wstring();
  buffer[written] = L'\0';
  return buffer;
}

// The first field of the current row when it holds a value, else VT_EMPTY.
_variant_t FieldValueIfSet(const ado::FieldsPtr& fields, int index) {
  const ado::FieldPtr field = fields->GetItem(_variant_t(index));
  return field->GetActualSize() > 0 ? field->GetValue() : _variant_t();
}

}  // namespace

bool VEXDB_InitiateUserDelete(int* serverConfigId, int* userId, unsigned mode, int* newStatus) {
  *newStatus = 0;
  switch (mode) {
    case 1: *newStatus = 3; break;
    case 2: *newStatus = 4; break;
    case 3:
    case 4: return true;
    default: return false;  // 0 and unknown modes change nothing
  }
  const std::wstring sql = Formatted(
      L"UPDATE UserConfig SET UserDeleteStatus = ? WHERE Id = ? AND ServerConfigId = ? AND "
      L"(UserDeleteStatus = %d OR UserDeleteStatus = %d)",
      1, 2);
  return VEXDB_RunParameterizedUpdate("VEXDB_InitiateUserDelete", sql.c_str(), ado::adInteger, newStatus,
                                      ado::adInteger, userId, ado::adInteger,
                                      serverConfigId, 0);
}

bool VEXDB_CompleteUserDelete(int* serverConfigId, int* userId, bool* failed) {
  static constexpr char kName[] = "VEXDB_CompleteUserDelete";
  const std::wstring condition =
      L"FROM UserConfig WHERE Id = ? AND ServerConfigId = ? " + Formatted(L"AND UserDeleteStatus IN (%d, %d)", 3, 4);
  const std::wstring deleteSql = L"DELETE " + condition;
  const std::wstring checkSql = L"SELECT Id " + condition;

  ConnectionHolder holder;
  if (holder.get() == nullptr) {
    LogMessage(2, kNoConnection, kName);
    return false;
  }
  bool succeeded = false;
  ado::_CommandPtr command;
  try {
    ado::RegisterAdoClasses();
    const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, 0x17);
    if (FAILED(hr)) {
      LogEvent(2, kEventCreateFailed, LoadResString(25001), kName, static_cast<unsigned>(hr));
      *failed = true;
      return false;
    }
    command->PutCommandText(_bstr_t(deleteSql.c_str()));
    command->PutCommandType(ado::adCmdText);
    command->PutCommandTimeout(g_VEXDB_CommandTimeout);
    for (int* value : {userId, serverConfigId}) {
      command->GetParameters()->Append(
          command->CreateParameter(_bstr_t(L""), ado::adInteger, ado::adParamInput, 0, _variant_t(*value)));
    }
    ScopedLock lock(&g_childTableLock);
    if (g_childTables.empty() && !VEXDB_InitUserChildTableMap(g_childTables)) {
      LogEvent(4, kEventMapNotBuilt, LoadResString(45064), kName);
    }
    VEXDB_DeleteUserChildTables(checkSql.c_str(), g_childTables, *userId, *serverConfigId);
    command->PutRefActiveConnection(holder->GetConnection());
    _variant_t affected;
    VEXDB_executeUpdate(kName, command, &affected);
    succeeded = true;
  } catch (...) {
    VEXDB_LogCaught(kName, deleteSql.c_str(), command, L"VEXDB_CompleteUserDelete", kEventOtherException);
  }
  *failed = !succeeded;
  return succeeded;
}

bool VEXDB_InitUserChildTableMap(UserChildTableMap& map) {
  static constexpr char kName[] = "VEXDB_InitUserChildTableMap";
  const wchar_t* sql =
      DbConfig::Instance()->IsSQLServer()
          ? L"select object_name(fkeyid) tablename, c.name from sysforeignkeys f join syscolumns c on f.fkeyid = "
            L"c.id and f.fkey = c.colid where object_name(rkeyid)= 'UserConfig'order by tablename"
          : L"select distinct tabname tablename, fk_colnames columnname from syscat.references where reftabname = "
            L"'USERCONFIG' order by tabname";
  ado::_CommandPtr command;
  ado::_RecordsetPtr recordset;
  if (!VEXDB_RunParameterizedQuery(kName, command, recordset, sql, 0)) return false;

  try {
    std::vector<std::wstring> excluded;
    Registry key(kDatabaseKey, false, false);
    if (key.Open(false)) {
      wchar_t list[1001] = {};
      key.GetStringDefaultW(L"UserDeleteTableExcludeList", list, 1001, L"");
      key.GetIntDefault("UserDeleteChunkSize", &g_deleteChunkSize, kDefaultChunkSize);
      // A chunk of no rows would leave every row of the user behind.
      if (g_deleteChunkSize < 1) g_deleteChunkSize = kDefaultChunkSize;
      const std::wstring text = list;
      for (std::size_t start = 0; !text.empty();) {
        const std::size_t comma = text.find(L',', start);
        const std::wstring piece = Lowered(text.substr(start, comma == std::wstring::npos ? comma : comma - start));
        LogEventW(4, kEventTableExcluded, LoadResStringW(45065), L"VEXDB_InitUserChildTableMap", piece.c_str());
        excluded.push_back(piece);
        if (comma == std::wstring::npos) break;
        start = comma + 1;
      }
    }
    for (const wchar_t* name : kFixedExcludes) excluded.push_back(Lowered(name));

    std::wstring table;
    std::wstring column;
    for (; !recordset->GetEndOfFile(); recordset->MoveNext()) {
      const ado::FieldsPtr fields = recordset->GetFields();
      const _variant_t tableValue = FieldValueIfSet(fields, 0);
      const _variant_t columnValue = FieldValueIfSet(fields, 1);
      if (tableValue.vt != VT_EMPTY) table = static_cast<const wchar_t*>(_bstr_t(tableValue));
      if (columnValue.vt != VT_EMPTY) column = static_cast<const wchar_t*>(_bstr_t(columnValue));
      const std::wstring lowered = Lowered(table);
      bool skip = false;
      for (const std::wstring& name : excluded) skip = skip || name == lowered;
      if (skip) continue;
      if (!IsPlainIdentifier(table) || !IsPlainIdentifier(column)) {
        LogMessageW(2, L"%s: table %s with column %s left out: not a plain name", L"VEXDB_InitUserChildTableMap",
                    table.c_str(), column.c_str());
        continue;
      }
      map.emplace(table, column);
    }
    recordset->Close();
  } catch (...) {
    VEXDB_LogCaught(kName, sql, command, L"VEXDB_InitUserChildTableMap", kEventMapException);
    return false;
  }
  return true;
}

bool VEXDB_DeleteUserChildTables(const wchar_t* checkSql, const UserChildTableMap& map, int userId,
                                 int serverConfigId) {
  static constexpr char kName[] = "VEXDB_DeleteUserChildTables";
  ado::_CommandPtr command;
  ado::_RecordsetPtr recordset;
  if (!VEXDB_RunParameterizedQuery(kName, command, recordset, checkSql, ado::adInteger, &userId, ado::adInteger,
                                   &serverConfigId, 0)) {
    return false;
  }
  try {
    const bool found = !recordset->GetEndOfFile();
    recordset->Close();
    if (!found) {
      LogEvent(4, kEventUserNotMarked, LoadResString(45066), kName, userId, serverConfigId);
      return false;
    }
  } catch (...) {
    VEXDB_LogCaught(kName, checkSql, command, L"VEXDB_DeleteUserChildTables", kEventOtherException);
    return false;
  }

  const bool sqlServer = DbConfig::Instance()->IsSQLServer();
  for (const auto& [table, column] : map) {
    LogEventW(4, kEventDeletingTable, LoadResStringW(45067), L"VEXDB_DeleteUserChildTables", table.c_str(), userId);
    const std::wstring chunkSql =
        sqlServer ? Formatted(L"select max(Id) from (select top %d Id from %s where %s = ? and Id > ? order by Id)T",
                              g_deleteChunkSize, table.c_str(), column.c_str())
                  : Formatted(L"select max(Id) from (select Id from %s where %s = ? and Id > ? order by Id fetch "
                              L"first %d rows only)T",
                              table.c_str(), column.c_str(), g_deleteChunkSize);
    const std::wstring deleteSql = Formatted(L"delete from %s where %s = ? and Id between ? and ?", table.c_str(),
                                             column.c_str());
    // The bounds travel as 64-bit decimal texts and start below every Id,
    // so rows with negative or 64-bit Ids are deleted too.
    std::string last = Int64ToString(LLONG_MIN);
    std::string low = last;
    for (;;) {
      ado::_CommandPtr chunkCommand;
      ado::_RecordsetPtr chunk;
      if (!VEXDB_RunParameterizedQuery(kName, chunkCommand, chunk, chunkSql.c_str(), ado::adInteger, &userId,
                                       ado::adBigInt, last.c_str(), 0)) {
        break;
      }
      std::string high;
      LONGLONG highId = 0;
      try {
        if (!chunk->GetEndOfFile()) {
          const _variant_t value = FieldValueIfSet(chunk->GetFields(), 0);
          if (value.vt != VT_EMPTY) {
            highId = static_cast<LONGLONG>(value);
            high = Int64ToString(highId);
          }
        }
        chunk->Close();
      } catch (...) {
        VEXDB_LogCaught(kName, chunkSql.c_str(), chunkCommand, L"VEXDB_DeleteUserChildTables", kEventOtherException);
        break;
      }
      if (high.empty()) break;
      VEXDB_RunParameterizedUpdate(kName, deleteSql.c_str(), ado::adInteger, &userId, ado::adBigInt, low.c_str(),
                                   ado::adBigInt, high.c_str(), 0);
      if (highId == LLONG_MAX) break;  // no Id above it is left
      last = high;
      low = Int64ToString(highId + 1);
    }
  }
  return true;
}

std::wstring UserListSql(bool agent) {
  std::wstring sql = VEXDB_BuildUserSelect(L" (ServerConfigId = ? OR PendingServerConfigId = ?) ");
  if (agent) sql += L" AND AgentId = ? ";
  return sql;
}

bool GetUserList(_variant_t& rows, int serverConfigId, int agentId) {
  static constexpr char kName[] = "::GetUserList";
  rows.Clear();
  if (serverConfigId <= 0) return false;
  const std::wstring sql = UserListSql(agentId != 0);

  const DWORD openStart = GetTickCount();
  ado::_CommandPtr command;
  ado::_RecordsetPtr recordset;
  const bool ran = agentId != 0 ? VEXDB_RunParameterizedQuery(kName, command, recordset, sql.c_str(), ado::adInteger,
                                                             &serverConfigId, ado::adInteger, &serverConfigId,
                                                             ado::adInteger, &agentId, 0)
                                : VEXDB_RunParameterizedQuery(kName, command, recordset, sql.c_str(), ado::adInteger,
                                                             &serverConfigId, ado::adInteger, &serverConfigId, 0);
  if (!ran) return false;
  try {
    if (recordset->GetEndOfFile()) {
      recordset->Close();
      return true;
    }
    const DWORD openMs = GetTickCount() - openStart;
    const DWORD readStart = GetTickCount();
    rows = recordset->GetRows(ado::adGetRowsRest);
    recordset->Close();
    LONG upper = -1;
    if ((rows.vt & VT_ARRAY) != 0 && SUCCEEDED(SafeArrayGetUBound(rows.parray, 2, &upper))) {
      LogMessage(6, "[%s] Open recordset for %d ms, get %d records for %ld ms", kName, static_cast<int>(openMs),
                 static_cast<int>(upper + 1), static_cast<LONG>(GetTickCount() - readStart));
      return true;
    }
  } catch (...) {
    VEXDB_LogCaught(kName, sql.c_str(), command, L"GetUserList", kEventOtherException);
  }
  rows.Clear();
  LogMessage(4, "[%s]: Cannot read recordset into buffer", kName);
  return false;
}

bool VEXDB_RunSelectImpl(const wchar_t* sql, VARIANT* out) {
  static constexpr char kName[] = "VEXDB_RunSelectImpl";
  ado::_CommandPtr command;
  ado::_RecordsetPtr recordset;
  if (!VEXDB_RunParameterizedQuery(kName, command, recordset, sql, 0)) return false;
  try {
    const bool found = !recordset->GetEndOfFile();
    if (found) {
      const _variant_t value = FieldValueIfSet(recordset->GetFields(), 0);
      if (value.vt != VT_EMPTY) VariantCopy(out, &value);
    }
    recordset->Close();
    return found;
  } catch (...) {
    VEXDB_LogCaught(kName, sql, command, L"VEXDB_RunSelectImpl", kEventOtherException);
  }
  return false;
}

bool VEXDB_SelectString(const wchar_t* sql, std::wstring& out) {
  _variant_t value;
  if (!VEXDB_RunSelectImpl(sql, &value)) return false;
  if (value.vt == VT_BSTR) {
    out.assign(value.bstrVal ? value.bstrVal : L"", value.bstrVal ? SysStringLen(value.bstrVal) : 0);
    return true;
  }
  if (value.vt == VT_EMPTY) {
    out.clear();
    return true;
  }
  return false;
}

bool VEXDB_LoadKwyRList(int* serverConfigId, KwyRList& list) {
  static constexpr char kName[] = "VEXDB_LoadKwyRList";
  static constexpr wchar_t kSql[] = L"SELECT Host, Port FROM ServerKwyRMap WHERE ServerConfigId = ? ORDER BY Sequence";
  list.clear();
  ado::_CommandPtr command;
  ado::_RecordsetPtr recordset;
  if (!VEXDB_RunParameterizedQuery(kName, command, recordset, kSql, ado::adInteger, serverConfigId,
                                   0)) {
    return false;
  }
  try {
    for (; !recordset->GetEndOfFile(); recordset->MoveNext()) {
      const ado::FieldsPtr fields = recordset->GetFields();
      const _variant_t host = FieldValueIfSet(fields, 0);
      const _variant_t port = FieldValueIfSet(fields, 1);
      KwyREndpoint endpoint;
      if (host.vt != VT_EMPTY) endpoint.host = static_cast<const char*>(_bstr_t(host));
      if (port.vt != VT_EMPTY) endpoint.port = IntToString(static_cast<int>(static_cast<LONG>(port)));
      list.push_back(std::move(endpoint));
    }
    recordset->Close();
  } catch (...) {
    VEXDB_LogCaught(kName, kSql, command, L"VEXDB_LoadKwyRList", kEventOtherException);
    return false;
  }
  return true;
}

bool VEXDB_GetServiceBookDataTemplate(std::wstring& out) {
  out.clear();
  if (!VEXDB_SelectString(L"SELECT ServiceBookDataTemplate FROM GlobalSettings WHERE Container = 'Site'", out)) {
    LogMessage(1, "%s: Failed to get dataTemplate\n", "VEXDB_GetServiceBookDataTemplate");
    return false;
  }
  if (out.empty()) {
    LogMessage(4, "%s: empty DataTemplate\n", "VEXDB_GetServiceBookDataTemplate");
    return true;
  }
  VEXDB_StripServiceBookTemplate(out);
  return true;
}

void VEXDB_StripServiceBookTemplate(std::wstring& text) {
  static constexpr std::wstring_view kOpen = L"<database";
  static constexpr std::wstring_view kClose = L"</database>";
  std::wstring kept;
  for (std::size_t position = 0;;) {
    const std::size_t open = text.find(kOpen, position);
    const std::size_t close = open == std::wstring::npos ? open : text.find(kClose, open);
    if (close == std::wstring::npos) {
      kept.append(text, position, std::wstring::npos);
      break;
    }
    kept.append(text, position, open - position);
    position = close + kClose.size();
  }
  text = std::move(kept);

  static constexpr std::wstring_view kRelationOpen = L"<DBRelation";
  static constexpr std::wstring_view kRelationClose = L"</DBRelation>";
  const std::size_t open = text.find(kRelationOpen);
  if (open == std::wstring::npos) return;
  const std::size_t close = text.find(kRelationClose, open);
  if (close == std::wstring::npos) return;
  text.erase(open, close + kRelationClose.size() - open);
}
