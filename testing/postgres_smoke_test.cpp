// The test server is reachable through unixODBC and the "PostgreSQL Unicode"
// driver: the ground every database test stands on.
#include <sql.h>
#include <sqlext.h>

#include <string>

#include <gtest/gtest.h>

#include "testing/postgres.h"

namespace {

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  SQLCHAR state[6];
  SQLCHAR message[512];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length) ==
       SQL_SUCCESS;
       ++i) {
    text += std::string(reinterpret_cast<char*>(state)) + ": " +
            reinterpret_cast<char*>(message) + "\n";
  }
  return text;
}

TEST(PostgresSmoke, SelectOneThroughUnicodeDriver) {
  MORVALE_REQUIRE_POSTGRES(connect);
  ASSERT_NE(connect.find("{PostgreSQL Unicode}"), std::string::npos);

  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));

  SQLRETURN rc = SQLDriverConnect(
      dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connect.c_str())), SQL_NTS,
      nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diagnostics(SQL_HANDLE_DBC, dbc);

  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
  rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT 1")), SQL_NTS);
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diagnostics(SQL_HANDLE_STMT, stmt);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt)));
  SQLINTEGER value = 0;
  SQLLEN indicator = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SLONG, &value, 0, &indicator)));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);

  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

}  // namespace
