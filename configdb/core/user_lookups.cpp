// Small look-ups of user and policy ids: a user by SMTP address or by
// MailboxDN, the default IT policy, a user's agent and server.
#include <cstring>

#include "configdb/core/column_values.h"
#include "configdb/core/core_sql.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/ado_error.h"
#include "db/vexdb_command.h"

namespace {

// The first field of the current row when it holds a value, else 0.
int FirstId(const ado::_RecordsetPtr& rows) {
  if (!rows || rows->GetEndOfFile()) return 0;
  const ado::FieldPtr field = rows->GetFields()->GetItem(_variant_t(0));
  return field->GetActualSize() > 0 ? VariantInt(field->GetValue()) : 0;
}

}  // namespace

bool PMDatabaseSQLImp::GetUserIdByEmail(const wchar_t* smtpAddress, int* userId) {
  const char* name = "PMDatabaseSQLImp::GetUserIdByEmail";
  if (smtpAddress == nullptr || userId == nullptr) return false;
  try {
    ado::_CommandPtr command;
    ado::_RecordsetPtr rows;
    // The address is a parameter, never part of the text.
    if (!VEXDB_RunParameterizedQuery(name, command, rows, kUserIdByEmail, ado::adVarWChar, smtpAddress, 0)) {
      return false;
    }
    if (!rows || rows->GetEndOfFile()) {
      closeRecordSet(rows);
      return false;
    }
    *userId = VariantInt(rows->GetFields()->GetItem(_variant_t(0))->GetValue());
    closeRecordSet(rows);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, kUserIdByEmail);
  } catch (...) {
    wLogDBError(2, kEventUnexpectedException, 0, L"PMDatabaseSQLImp::GetUserIdByEmail", nullptr);
  }
  return false;
}

int PMDatabaseSQLImp::SelectId(const char* name, const wchar_t* sql, const char* text) {
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return 0;
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, sql, command)) return 0;
    if (text != nullptr) {
      AppendParameter(command, ado::adVarChar, static_cast<LONG>(std::strlen(text) + 1), _variant_t(text));
    }
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    const int id = FirstId(rows);
    closeRecordSet(rows);
    return id;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, sql);
  } catch (...) {
    LogOperationException(name);
  }
  return 0;
}

int PMDatabaseSQLImp::CheckUserExists(const char* mailboxDN) {
  // No MailboxDN matches no row; a "?" left unbound would only fail.
  if (mailboxDN == nullptr) return 0;
  return SelectId("PMDatabaseSQLImp::CheckUserExists", kUserIdByMailboxDN, mailboxDN);
}

int PMDatabaseSQLImp::_GetDefaultPolicyId() {
  return SelectId("PMDatabaseSQLImp::_GetDefaultPolicyId", kDefaultPolicy, nullptr);
}

bool PMDatabaseSQLImp::GetAgentIdforUserId(int userId, int* agentId, int* serverConfigId, bool* found) {
  const char* name = "PMDatabaseSQLImp::GetAgentIdforUserId";
  if (found != nullptr) *found = false;
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand(name, holder, kAgentOfUser, command)) return false;
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(userId)));
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows) return false;
    if (!rows->GetEndOfFile()) {
      const ado::FieldsPtr fields = rows->GetFields();
      const ado::FieldPtr agent = fields->GetItem(_variant_t(0));
      if (agent->GetActualSize() > 0) {
        if (agentId != nullptr) *agentId = VariantInt(agent->GetValue());
        const ado::FieldPtr server = fields->GetItem(_variant_t(1));
        if (serverConfigId != nullptr && server->GetActualSize() > 0) *serverConfigId = VariantInt(server->GetValue());
        if (found != nullptr) *found = true;
      }
    }
    closeRecordSet(rows);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, kAgentOfUser);
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}
