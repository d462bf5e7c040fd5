// Translated connection strings in the hands of the real drivers: a hostile
// password stays one value for psqlODBC, and FreeTDS is loaded and reports a
// closed port as a connection-class failure.
#include <netinet/in.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/ado/connection_string.h"
#include "platform/ado/sql_state.h"
#include "testing/test_database.h"

namespace ado {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Attempt {
  bool connected = false;
  std::string state;  // first diagnostic's SQLSTATE
  std::string user;   // current_user when connected
  std::string database;
};

Attempt Connect(const std::wstring& odbc) {
  Attempt attempt;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0);
  const std::string text = Narrow(odbc);
  attempt.connected = SQL_SUCCEEDED(
      SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                       SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
  if (!attempt.connected) {
    SQLCHAR state[6] = {};
    SQLCHAR message[512];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, message, sizeof message, &length);
    attempt.state = reinterpret_cast<char*>(state);
  } else {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLExecDirect(stmt,
                  reinterpret_cast<SQLCHAR*>(const_cast<char*>(
                      "SELECT current_user::text, current_database()::text")),
                  SQL_NTS);
    if (SQL_SUCCEEDED(SQLFetch(stmt))) {
      char buffer[256];
      SQLLEN indicator = 0;
      SQLGetData(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      attempt.user = buffer;
      SQLGetData(stmt, 2, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      attempt.database = buffer;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return attempt;
}

class HostilePasswordTest : public morvale::testing::DatabaseTest {};

TEST_F(HostilePasswordTest, ReachesTheServerAsOneValue) {
  // The role's password tries to end its pair and name another database and
  // driver; quoted in the ADO form as the system's configuration would hold it.
  const std::string password = "x}};Database=postgres;Driver={PostgreSQL ANSI};y='\"";
  std::string sqlPassword;
  for (char c : password) sqlPassword += c == '\'' ? std::string("''") : std::string(1, c);
  std::string error;
  ASSERT_TRUE(database().Execute("DROP ROLE IF EXISTS hostile_" + database().name() +
                                     "; CREATE ROLE hostile_" + database().name() +
                                     " LOGIN PASSWORD '" + sqlPassword + "'",
                                 &error))
      << error;

  std::wstring ado = database().ado_connection_string();
  ado = ado.substr(0, ado.find(L";uid="));
  std::wstring quoted = L"\"";
  for (char c : password) quoted += c == '"' ? std::wstring(L"\"\"") : std::wstring(1, c);
  quoted += L"\"";
  const std::string role = "hostile_" + database().name();
  ado += L";uid=" + std::wstring(role.begin(), role.end()) + L";pwd=" + quoted;

  OdbcTarget target;
  std::wstring translateError;
  ASSERT_TRUE(TranslateConnectionString(ado, &target, &translateError)) << Narrow(translateError);
  EXPECT_EQ(Narrow(target.redacted).find("Database=postgres"), std::string::npos);
  const Attempt attempt = Connect(target.odbc);
  ASSERT_TRUE(attempt.connected) << attempt.state << " " << Narrow(target.redacted);
  EXPECT_EQ(attempt.user, role);
  EXPECT_EQ(attempt.database, database().name());
  database().Execute("DROP OWNED BY " + role + "; DROP ROLE " + role, &error);
}

TEST(FreeTdsDriver, ClosedLocalPortIsAConnectionClassFailure) {
  // A port that was just free: bind, read it back, close.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(probe, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);
  close(probe);

  OdbcTarget target;
  std::wstring error;
  ASSERT_TRUE(TranslateConnectionString(
      L"Provider=SQLOLEDB.1;Server=127.0.0.1," + std::to_wstring(port) +
          L";Database=VEXMgmt;Network=dbmssocn;uid=sa;pwd=secret",
      DefaultProviderMap(), &target, &error))
      << Narrow(error);
  const Attempt attempt = Connect(target.odbc);
  ASSERT_FALSE(attempt.connected);
  // "IM002"/"01000" would mean the driver never loaded.
  EXPECT_EQ(attempt.state.substr(0, 2), "08") << attempt.state;
  EXPECT_TRUE(ClassifySqlState(attempt.state).connectionClass) << attempt.state;
}

}  // namespace
}  // namespace ado
