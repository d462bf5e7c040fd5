// The system's SQL texts, rewritten for PostgreSQL, run against the test
// schema: the rewrite gives valid statements and the schema has what the
// texts name.
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ado/connection_string.h"
#include "platform/ado/dialect.h"
#include "testing/test_database.h"

namespace ado {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

using Param = std::variant<int, std::string>;

struct Outcome {
  bool ok = false;
  std::string diagnostics;
  SQLSMALLINT columns = 0;               // of the last result that had columns
  std::vector<std::vector<std::string>> rows;  // of that result, as text
};

class DialectOnPostgresTest : public morvale::testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    const std::string odbc = database().odbc_connection_string();
    ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(
        dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(odbc.c_str())), SQL_NTS,
        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
    connected_ = true;
  }
  void TearDown() override {
    if (connected_) SQLDisconnect(dbc_);
    if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  // Runs the T-SQL text as the PostgreSQL rewrite of it.
  Outcome Run(const std::wstring& tsql, std::vector<Param> params = {}) {
    Outcome outcome;
    // The tables the system reads identities back from number their rows in Id.
    const std::string sql =
        Narrow(RewriteSql(tsql, Dialect::PostgreSql, [](std::wstring_view) { return std::wstring(L"Id"); }));
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    std::vector<SQLLEN> lengths(params.size(), 0);
    for (size_t i = 0; i < params.size(); ++i) {
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      if (auto* value = std::get_if<int>(&params[i])) {
        SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, value, 0,
                         &lengths[i]);
      } else {
        std::string& text = std::get<std::string>(params[i]);
        lengths[i] = static_cast<SQLLEN>(text.size());
        SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, text.size(), 0,
                         text.data(), 0, &lengths[i]);
      }
    }
    SQLRETURN rc =
        SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    outcome.ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    while (outcome.ok) {
      SQLSMALLINT columns = 0;
      SQLNumResultCols(stmt, &columns);
      if (columns > 0) {
        outcome.columns = columns;
        outcome.rows.clear();
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
          std::vector<std::string> row;
          for (SQLUSMALLINT c = 1; c <= columns; ++c) {
            char buffer[512] = {};
            SQLLEN indicator = 0;
            SQLGetData(stmt, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
            row.push_back(indicator == SQL_NULL_DATA ? "NULL" : buffer);
          }
          outcome.rows.push_back(row);
        }
      }
      rc = SQLMoreResults(stmt);
      if (rc == SQL_NO_DATA) break;
      outcome.ok = SQL_SUCCEEDED(rc);
    }
    if (!outcome.ok) {
      SQLCHAR state[6] = {};
      SQLCHAR message[512] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, &length);
      outcome.diagnostics = sql + " -> " + reinterpret_cast<char*>(state) + " " +
                            reinterpret_cast<char*>(message);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return outcome;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// The user SELECT, word for word as the system builds it.
constexpr wchar_t kUserSelect[] =
    L" SELECT DisplayName, MailboxDN, ServerDN,   DeviceType, PIN, RedirectionState, "
    L"ExtServicesState,   CalendarEnableState,  OTAFMUserConfig, OTAFMConflictResolution,  "
    L"OTAFMState, OverrideSMTPAddr, OTAPIMState,   lurnum, MailboxSMTPAddr, ServerConfigId, "
    L"PendingServerConfigId,   PendingKey, CurrentKey, PreviousKey, CreationTime, ITPolicy2Id,   "
    L"Id, DeviceCapabilities, KeyDate,  DataSourceId, ServiceBookName,  AckData, "
    L"ActivationTime, RoutingInfo, UserDeleteStatus, PendingRoutingInfo, KeyGenPassword, "
    L"KeyGenExpiryTime,   AutoSignature, RedirectWhenInCradle, DisableSentItems, "
    L"AutoKeyGenerate,  DefaultFilterAction, Filters, SMIMEEnabled, GlobalResourceId, "
    L"RefIdGenerator,  MailStoreDisplayName, UnId, NotesAdminServer, RedirectionSuspended, "
    L"UserName,  DisclaimerText, DisclaimerTextPrepended, RedirectFromSelectedFolders,  "
    L"RichContentEnabled, RichContentInlineEnabled, RichContentTrainingFileId,  "
    L"NumberOfSelectedFolders, SelectedFolderTime, UserCertificates, UserPeerToPeerKey,  "
    L"SyncingPersonalFolders, DisableRedirectRead, RedirectFromSentItems, "
    L"DeviceUserId,ClientCertificateInfo, OOOReturnDate FROM UserConfig ";

TEST_F(DialectOnPostgresTest, SystemTextsRunAgainstTheSchema) {
  // The record layer's INSERT with its identity read-back.
  Outcome server = Run(
      L"SET NOCOUNT ON; INSERT INTO ServerConfig (ServiceName) VALUES (?) ; "
      L"SELECT SCOPE_IDENTITY(); SET NOCOUNT OFF",
      {std::string("S1")});
  ASSERT_TRUE(server.ok) << server.diagnostics;
  ASSERT_EQ(server.rows.size(), 1u);
  const int serverId = std::stoi(server.rows[0][0]);

  Outcome user = Run(
      L" insert into UserConfig  (DisplayName, ServerDN, RedirectionState, ExtServicesState,   "
      L"OverrideSMTPAddr, MailboxDN, ServerConfigId, PendingServerConfigId, ITPolicy2Id,  "
      L"DeviceType, PIN, RoutingInfo ) VALUES(?,?,?,?,null,?,?,?,?,null,null,'') ",
      {std::string("User One"), std::string("/o=x/ou=s"), 1, 0, std::string("/o=x/cn=one"),
       serverId, serverId, 0});
  ASSERT_TRUE(user.ok) << user.diagnostics;

  Outcome byMailbox = Run(std::wstring(kUserSelect) + L" WHERE MailboxDN = ?",
                          {std::string("/o=x/cn=one")});
  ASSERT_TRUE(byMailbox.ok) << byMailbox.diagnostics;
  EXPECT_EQ(byMailbox.columns, 64);
  ASSERT_EQ(byMailbox.rows.size(), 1u);
  EXPECT_EQ(byMailbox.rows[0][0], "User One");

  Outcome recent = Run(
      L"SELECT TOP 1 UC.Id, DATEDIFF(Day, UC.CreationTime, GetUTCDate()) FROM dbo.UserConfig UC "
      L"WITH (NOLOCK) WHERE UC.ServerConfigId = ? ORDER BY UC.Id DESC",
      {serverId});
  ASSERT_TRUE(recent.ok) << recent.diagnostics;
  ASSERT_EQ(recent.rows.size(), 1u);
  EXPECT_EQ(recent.rows[0][1], "0");

  Outcome deleting = Run(
      L"UPDATE UserConfig SET UserDeleteStatus = ? WHERE Id = ? AND ServerConfigId = ? AND "
      L"(UserDeleteStatus = 1 OR UserDeleteStatus = 2)",
      {3, std::stoi(recent.rows[0][0]), serverId});
  EXPECT_TRUE(deleting.ok) << deleting.diagnostics;

  Outcome version = Run(
      L"SELECT CurrentVersion, BuildDateTime, DisplayVersion FROM ServerDBVersion ORDER BY "
      L"CreateDateTime DESC");
  EXPECT_TRUE(version.ok) << version.diagnostics;
  EXPECT_EQ(version.columns, 3);
}

}  // namespace
}  // namespace ado
