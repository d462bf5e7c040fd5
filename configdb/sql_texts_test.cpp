// Every SQL text of the configuration database object, as PostgreSQL gets
// it after the dialect rewrite of the ADO layer, runs against the test
// schema with parameters of the types the object binds.
#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "configdb/servers/server_open_sql.h"
#include "db/test_support_for_tests.h"
#include "platform/ado/ado.h"

namespace {

class SqlTextsTest : public ComDatabaseTest {};

TEST_F(SqlTextsTest, EveryTextRunsOnTheTestSchema) {
  std::string error;
  ASSERT_TRUE(database().Execute("INSERT INTO ServerConfig (Id, ServiceName) VALUES (7, 'S7')", &error)) << error;
  ado::_ConnectionPtr connection = ado::MakeConnection();
  connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
  ASSERT_EQ(connection->GetDialect(), ado::Dialect::PostgreSql);

  const struct {
    const wchar_t* sql;
    std::variant<int, const char*> parameter;
  } texts[] = {
      {kServerConfigByName, "S7"},
      {kServerConfigById, 7},
      {kInsertServerStats, 7},
      {kSelectServerStats, 7},
  };
  for (const auto& text : texts) {
    SCOPED_TRACE(std::string(text.sql, text.sql + wcslen(text.sql)));
    ado::_CommandPtr command = ado::MakeCommand();
    command->PutRefActiveConnection(connection);
    command->PutCommandText(_bstr_t(text.sql));
    command->PutCommandType(ado::adCmdText);
    if (const int* id = std::get_if<int>(&text.parameter)) {
      command->GetParameters()->Append(
          command->CreateParameter(_bstr_t(L""), ado::adInteger, ado::adParamInput, 0, _variant_t(*id)));
    } else {
      const char* name = std::get<const char*>(text.parameter);
      command->GetParameters()->Append(command->CreateParameter(
          _bstr_t(L""), ado::adVarChar, ado::adParamInput, static_cast<LONG>(strlen(name) + 1), _variant_t(name)));
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
