// The fresh-database fixture: the schema is loaded, the system's ADO form of
// the connection string reaches the database, its procedures answer through
// the ODBC call escape, and the database is gone afterwards.
#include "testing/test_database.h"

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ado/connection_string.h"
#include "testing/postgres.h"

namespace morvale::testing {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A raw ODBC connection for looking at the database from outside.
class Raw {
 public:
  explicit Raw(const std::string& odbc) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    connected_ = SQL_SUCCEEDED(SQLDriverConnect(
        dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(odbc.c_str())), SQL_NTS,
        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
  }
  ~Raw() {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  bool connected() const { return connected_; }
  SQLHDBC dbc() const { return dbc_; }
  SQLHSTMT stmt() const { return stmt_; }

  bool Run(const char* sql) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return SQL_SUCCEEDED(
        SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS));
  }
  // The first column of every remaining row of the current result, as text.
  std::vector<std::string> Column() {
    std::vector<std::string> values;
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
      char buffer[256] = {};
      SQLLEN indicator = 0;
      SQLGetData(stmt_, 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      values.push_back(indicator == SQL_NULL_DATA ? "NULL" : buffer);
    }
    return values;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool connected_ = false;
};

class TestDatabaseTest : public DatabaseTest {};

TEST_F(TestDatabaseTest, AdoFormReachesTheFreshSchema) {
  ado::OdbcTarget target;
  std::wstring error;
  ASSERT_TRUE(ado::TranslateConnectionString(database().ado_connection_string(), &target, &error))
      << Narrow(error);
  Raw raw(Narrow(target.odbc));
  ASSERT_TRUE(raw.connected()) << Narrow(target.redacted);
  ASSERT_TRUE(raw.Run("SELECT current_database()"));
  EXPECT_EQ(raw.Column(), std::vector<std::string>{database().name()});
  ASSERT_TRUE(raw.Run("SELECT count(*) FROM UserConfig"));
  EXPECT_EQ(raw.Column(), std::vector<std::string>{"0"});
  ASSERT_TRUE(raw.Run("SELECT count(*) FROM ServerDBVersion"));
  EXPECT_EQ(raw.Column(), std::vector<std::string>{"0"});
}

TEST_F(TestDatabaseTest, ProceduresAnswerThroughTheCallEscape) {
  std::string error;
  ASSERT_TRUE(database().Execute(
      "INSERT INTO ServerConfig (Id, ServiceName) VALUES (1, 'S1'), (2, 'S2');"
      "INSERT INTO UserConfig (Id, DisplayName, ServerConfigId, AgentId) VALUES"
      " (10, 'a', 1, 0), (11, 'b', 1, 7), (12, 'c', 2, 0);"
      "INSERT INTO UserConfig (Id, DisplayName, ServerConfigId, PendingServerConfigId) VALUES"
      " (13, 'moving', 2, 1);"
      "INSERT INTO ConfigHistory (Id, ChangeType, ObjectId) VALUES (41, 200, 10), (42, 200, 11)",
      &error))
      << error;

  // The provider map's PostgreSQL attributes (FetchRefcursors=1) are needed.
  ado::OdbcTarget target;
  ASSERT_TRUE(ado::TranslateConnectionString(database().ado_connection_string(), &target, nullptr));
  Raw raw(Narrow(target.odbc));
  ASSERT_TRUE(raw.connected());
  ASSERT_TRUE(raw.Run("{call HistoryGetMaxId}"));
  EXPECT_EQ(raw.Column(), std::vector<std::string>{"42"});

  // Rows and an output parameter from one call, inside a transaction.
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(
      raw.dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
  struct Case {
    SQLINTEGER agent;
    std::vector<std::string> names;
  };
  for (const Case& c : {Case{0, {"a", "b", "moving"}}, Case{7, {"b"}}}) {
    SCOPED_TRACE(c.agent);
    SQLFreeStmt(raw.stmt(), SQL_CLOSE);
    SQLFreeStmt(raw.stmt(), SQL_RESET_PARAMS);
    SQLBIGINT last = 0;
    SQLINTEGER server = 1;
    SQLINTEGER agent = c.agent;
    SQLBIGINT maxHistoryId = 0;
    SQLLEN lengths[4] = {0, 0, 0, 0};
    SQLBindParameter(raw.stmt(), 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &last, 0,
                     &lengths[0]);
    SQLBindParameter(raw.stmt(), 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &server, 0,
                     &lengths[1]);
    SQLBindParameter(raw.stmt(), 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &agent, 0,
                     &lengths[2]);
    SQLBindParameter(raw.stmt(), 4, SQL_PARAM_OUTPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                     &maxHistoryId, 0, &lengths[3]);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(
        raw.stmt(),
        reinterpret_cast<SQLCHAR*>(const_cast<char*>("{call GetAgentUserListWithMaxHistId(?,?,?,?)}")),
        SQL_NTS)));
    SQLSMALLINT columns = 0;
    SQLNumResultCols(raw.stmt(), &columns);
    EXPECT_EQ(columns, 64);
    EXPECT_EQ(raw.Column(), c.names);
    EXPECT_EQ(maxHistoryId, 42);
  }
  SQLEndTran(SQL_HANDLE_DBC, raw.dbc(), SQL_COMMIT);
}

TEST(TestDatabase, IsDroppedWithItsObject) {
  MORVALE_REQUIRE_POSTGRES(server);
  std::string error;
  std::unique_ptr<TestDatabase> database = TestDatabase::Create(&error);
  ASSERT_NE(database, nullptr) << error;
  const std::string name = database->name();
  Raw holder(database->odbc_connection_string());  // a session left open must not stop the drop
  ASSERT_TRUE(holder.connected());
  database.reset();

  Raw raw(server);
  ASSERT_TRUE(raw.Run(("SELECT count(*) FROM pg_database WHERE datname = '" + name + "'").c_str()));
  EXPECT_EQ(raw.Column(), std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace morvale::testing
