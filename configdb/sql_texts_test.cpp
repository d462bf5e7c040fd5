// Every SQL text of the configuration database object, as PostgreSQL gets
// it after the dialect rewrite of the ADO layer, runs against the test
// schema with parameters of the types the object binds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configdb/core/core_sql.h"
#include "configdb/servers/server_sql.h"
#include "configdb/servers/sql_db_object.h"
#include "db/test_support_for_tests.h"
#include "db/vexdb_command.h"
#include "db/vexdb_user.h"
#include "platform/ado/ado.h"
#include "platform/crt/printf.h"

namespace {

struct Parameter {
  ado::DataTypeEnum type;
  _variant_t value;
  ado::ParameterDirectionEnum direction = ado::adParamInput;
};

Parameter Int(int value) { return {ado::adInteger, _variant_t(static_cast<INT>(value))}; }
Parameter Text(const char* value) { return {ado::adVarChar, _variant_t(value)}; }
Parameter Wide(const wchar_t* value) { return {ado::adVarWChar, _variant_t(value)}; }
Parameter Date() { return {ado::adDBTimeStamp, _variant_t(45000.5, VT_DATE)}; }

std::wstring Formatted(const wchar_t* format, int userId, const void* second, bool text) {
  wchar_t sql[512];
  if (text) {
    crt::snwprintf(sql, 511, format, userId, static_cast<const wchar_t*>(second));
  } else {
    crt::snwprintf(sql, 511, format, userId, *static_cast<const int*>(second));
  }
  sql[511] = L'\0';
  return sql;
}

class SqlTextsTest : public ComDatabaseTest {};

TEST_F(SqlTextsTest, EveryTextRunsOnTheTestSchema) {
  std::string error;
  ASSERT_TRUE(
      database().Execute("INSERT INTO ServerConfig (Id, ServiceName) VALUES (7, 'S7');"
                         "INSERT INTO GlobalSettings (Container) VALUES ('Site');"
                         "INSERT INTO UserConfig (Id, DisplayName, ServerConfigId) VALUES (70, 'u', 7);"
                         "INSERT INTO UserStats (Id, UserConfigId) VALUES (700, 70)",
                         &error))
      << error;
  ado::_ConnectionPtr connection = ado::MakeConnection();
  connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
  ASSERT_EQ(connection->GetDialect(), ado::Dialect::PostgreSql);

  SQLDBValueMap columns;
  for (const char* name : {"MsgsForwarded", "MsgsSent", "MsgsPending", "MsgsExpired", "MsgsFiltered"}) {
    columns[name] = std::make_unique<SQLDBValue>(name, SQLDBValue::kInteger);
  }
  SQLDBValueMap keys;
  keys["ServerConfigId"] = std::make_unique<SQLDBValue>("ServerConfigId", SQLDBValue::kInteger);
  const std::wstring statsSelect = SQLDBObject::BuildSelect("ServerStats", columns, keys);
  const std::wstring statsInsert = SQLDBObject::BuildInsert("ServerStats", keys);
  ASSERT_EQ(statsSelect,
            L" select MsgsExpired,MsgsFiltered,MsgsForwarded,MsgsPending,MsgsSent from ServerStats where "
            L"ServerConfigId = ?");
  ASSERT_EQ(statsInsert, L"insert into ServerStats (ServerConfigId) VALUES(?)");

  const int vexFolderId = 3;
  const struct {
    std::wstring sql;
    std::vector<Parameter> parameters;
    ado::CommandTypeEnum type = ado::adCmdText;
  } texts[] = {
      {kServerConfigByName, {Wide(L"s7")}},
      {kServerConfigById, {Int(7)}},
      {statsSelect, {Int(7)}},
      {statsInsert, {Int(7)}},
      {kSelectServerCapabilities, {Int(7)}},
      {kServerCapabilitiesSet, {Int(7), Wide(L"SYNC"), Wide(L"<caps service=\"SYNC\"/>")}, ado::adCmdStoredProc},
      {UserListSql(false), {Int(7), Int(7)}},
      {UserListSql(true), {Int(7), Int(7), Int(2)}},
      {UserRowSql(true, false), {Int(70)}},
      {UserRowSql(true, true), {Int(70), Int(2)}},
      {UserRowSql(false, false), {Text("/o=x/cn=u")}},
      {UserRowSql(false, true), {Text("/o=x/cn=u"), Int(2)}},
      {L"GetAgentUserListWithMaxHistId",
       {{ado::adBigInt, _variant_t("0")}, Int(7), Int(0), {ado::adBigInt, _variant_t(), ado::adParamOutput}},
       ado::adCmdStoredProc},
      {kSelectUserStats, {Int(70)}},
      {kUpdateUserStats,
       {Int(1), Int(2), Int(3), Int(4), Int(5), Int(6), Int(7), Date(), Date(), Date(), Int(8), Int(700)}},
      {ServerStatRowsSql(false), {Int(7), Int(7)}},
      {ServerStatRowsSql(true), {Int(7), Int(7), Int(2)}},
      {kUserIdByEmail, {Wide(L"kim@example.com")}},
      {kUserIdByMailboxDN, {Text("/o=x/cn=u")}},
      {kDefaultPolicy, {}},
      {kAgentOfUser, {Int(70)}},
      {Formatted(kFolderSyncByVexFolderId, 70, &vexFolderId, false), {}},
      {Formatted(kFolderSyncByFolderId, 70, L"it''s", true), {}},
      {AddPagerInsertSql(false, false, false),
       {Wide(L"A"), Text("/s"), Int(1), Int(0), Text("/o=x/cn=a"), Int(7), Int(7), Int(0)}},
      {AddPagerInsertSql(true, true, true),
       {Wide(L"B"), Text("/s"), Int(1), Int(0), Text("b@example.com"), Text("/o=x/cn=b"), Int(7), Int(7), Int(0),
        Int(5), Text("2000ABCD"), Text("r")}},
      {AddPagerUpdateSql(false), {Int(7), Int(7), Int(70)}},
      {AddPagerUpdateSql(true), {Int(7), Int(7), Text("r"), Int(70)}},
  };
  for (const auto& text : texts) {
    SCOPED_TRACE(std::string(text.sql.begin(), text.sql.end()));
    ado::_CommandPtr command = ado::MakeCommand();
    command->PutRefActiveConnection(connection);
    command->PutCommandText(_bstr_t(text.sql.c_str()));
    command->PutCommandType(text.type);
    for (const Parameter& parameter : text.parameters) {
      LONG size = 0;
      if (parameter.value.vt == VT_BSTR) size = static_cast<LONG>(SysStringLen(parameter.value.bstrVal) + 1);
      if (parameter.direction == ado::adParamOutput) size = 8;
      command->GetParameters()->Append(
          command->CreateParameter(_bstr_t(L""), parameter.type, parameter.direction, size, parameter.value));
    }
    try {
      command->Execute(nullptr, nullptr, 0);
    } catch (const _com_error& e) {
      const _bstr_t description = e.Description();
      ADD_FAILURE() << static_cast<const char*>(description);
    }
  }
  connection->Close();
}

}  // namespace
