#include "db/vexdb_user.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/test_support_for_tests.h"
#include "db/vexdb_command.h"
#include "db/test_support_vexdb_for_tests.h"
#include "platform/com/safearray.h"
#include "testing/postgres.h"

namespace {

TEST(VexdbStripServiceBookTemplate, RemovesDatabaseElementsAndTheFirstRelation) {
  const struct {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"", L""},
      {L"<a>plain</a>", L"<a>plain</a>"},
      {L"<x><database id=1>a</database>k<database>b</database><DBRelation>1</DBRelation><DBRelation>2</DBRelation></x>",
       L"<x>k<DBRelation>2</DBRelation></x>"},
      // An unclosed element keeps everything from it on.
      {L"a<database>b</database>c<database>d", L"ac<database>d"},
      // Exact and case-sensitive.
      {L"<Database>x</Database><dbrelation>y</dbrelation>", L"<Database>x</Database><dbrelation>y</dbrelation>"},
      {L"<DBRelation>no end", L"<DBRelation>no end"},
      {L"</database><database>x</database>", L"</database>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    std::wstring text = c.in;
    VEXDB_StripServiceBookTemplate(text);
    EXPECT_EQ(text, c.out);
  }
}

TEST(VexdbGetUserList, ServerIdZeroFailsWithoutTheDatabase) {
  _variant_t rows(5);
  EXPECT_FALSE(GetUserList(rows, 0, 0));
  EXPECT_FALSE(GetUserList(rows, -3, 1));
  EXPECT_EQ(rows.vt, VT_EMPTY);
}

class VexdbUserTest : public VexdbDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    VexdbDatabaseTest::SetUpTestSuite();
    RegistryValues("\"UserDeleteTableExcludeList\"=\"MbMailSync,UserStats\"\n");
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName) "
        "SELECT g, 'server' || g FROM generate_series(1, 30) g");
  }
  // A user of `server` in delete state `state`.
  static void User(int id, int server, int state, int agent = 0, const char* pending = "NULL") {
    Sql("INSERT INTO UserConfig (Id, DisplayName, ServerConfigId, PendingServerConfigId, UserDeleteStatus, AgentId) "
        "VALUES (" + std::to_string(id) + ", 'user " + std::to_string(id) + "', " + std::to_string(server) + ", " +
        pending + ", " + std::to_string(state) + ", " + std::to_string(agent) + ")");
  }
  static void Children(const std::string& table, int user, int count) {
    Sql("INSERT INTO " + table + " (UserConfigId) SELECT " + std::to_string(user) + " FROM generate_series(1, " +
        std::to_string(count) + ")");
  }
  static LONGLONG Rows(const std::wstring& table, int user) {
    return Scalar(L"SELECT count(*) FROM " + table + L" WHERE UserConfigId = " + std::to_wstring(user));
  }
  static LONGLONG Status(int user) {
    return Scalar(L"SELECT coalesce(min(UserDeleteStatus), -1) FROM UserConfig WHERE Id = " + std::to_wstring(user));
  }
};

TEST_F(VexdbUserTest, InitiateUserDeleteMarksOnlyUsersInStateOneOrTwo) {
  User(101, 1, 1);
  User(102, 1, 0);
  User(103, 1, 1);
  User(104, 1, 2);
  const struct {
    unsigned mode;
    int user;
    bool ok;
    int newStatus;
    int statusAfter;
  } cases[] = {
      {0, 101, false, 0, 1},
      {3, 101, true, 0, 1},
      {4, 101, true, 0, 1},
      {7, 103, false, 0, 1},  // an unknown mode changes nothing
      {1, 102, true, 3, 0},   // state 0: no row changes, still true
      {2, 101, true, 4, 4},
      {1, 104, true, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " user " << c.user);
    int server = 1;
    int user = c.user;
    int newStatus = -1;
    EXPECT_EQ(VEXDB_InitiateUserDelete(&server, &user, c.mode, &newStatus), c.ok);
    EXPECT_EQ(newStatus, c.newStatus);
    EXPECT_EQ(Status(c.user), c.statusAfter);
  }
  // Another server's id matches nothing.
  int server = 2;
  int user = 103;
  int newStatus = 0;
  EXPECT_TRUE(VEXDB_InitiateUserDelete(&server, &user, 1, &newStatus));
  EXPECT_EQ(Status(103), 1);
}

TEST_F(VexdbUserTest, ChildTableMapComesFromTheCatalogueWithoutExcludedTables) {
  LoggedLines log;
  UserChildTableMap map;
  ASSERT_TRUE(VEXDB_InitUserChildTableMap(map));
  const auto lines = log.Stop();
  EXPECT_EQ(map.count(L"mbpimsync"), 1u);
  EXPECT_EQ(map[L"mbpimsync"], L"userconfigid");
  for (const wchar_t* excluded : {L"mbmailsync", L"userstats", L"itpolicystatus", L"Odd Name", L"odd name"}) {
    SCOPED_TRACE(excluded);
    EXPECT_EQ(map.count(excluded), 0u);
  }
  EXPECT_EQ(LinesWith(lines, L"VEXDB_InitUserChildTableMap: table mbmailsync excluded").size(), 1u);
  EXPECT_EQ(LinesWith(lines, L"VEXDB_InitUserChildTableMap: table userstats excluded").size(), 1u);

  // A blank after the comma is part of the name; an existing key keeps its
  // column.
  RegistryValues("\"UserDeleteTableExcludeList\"=\"MbMailSync, UserStats\"\n");
  UserChildTableMap second = {{L"mbpimsync", L"kept"}};
  ASSERT_TRUE(VEXDB_InitUserChildTableMap(second));
  RegistryValues("\"UserDeleteTableExcludeList\"=\"MbMailSync,UserStats\"\n");
  EXPECT_EQ(second.count(L"userstats"), 1u);
  EXPECT_EQ(second.count(L"mbmailsync"), 0u);
  EXPECT_EQ(second[L"mbpimsync"], L"kept");
}

TEST_F(VexdbUserTest, ChildRowsAreDeletedInChunksOfTheUserOnly) {
  User(301, 3, 3);
  User(302, 3, 3);
  Children("MbPimSync", 301, 12001);
  Sql("INSERT INTO MbPimSync (Id, UserConfigId) VALUES (-5, 301)");  // below the first bound of old
  Children("MbPimSync", 302, 10);
  Children("MbMailSync", 301, 4);
  Sql("CREATE TABLE DeleteStatements (n integer);"
      "CREATE FUNCTION CountDelete() RETURNS trigger LANGUAGE plpgsql AS "
      "$$ BEGIN INSERT INTO DeleteStatements VALUES (1); RETURN NULL; END $$;"
      "CREATE TRIGGER MbPimSyncDeletes AFTER DELETE ON MbPimSync FOR EACH STATEMENT EXECUTE FUNCTION CountDelete()");

  const UserChildTableMap map = {{L"mbpimsync", L"userconfigid"}};
  const std::wstring check = L"SELECT Id FROM UserConfig WHERE Id = ? AND ServerConfigId = ? AND UserDeleteStatus IN (3, 4)";
  EXPECT_TRUE(VEXDB_DeleteUserChildTables(check.c_str(), map, 301, 3));
  EXPECT_EQ(Rows(L"MbPimSync", 301), 0);
  EXPECT_EQ(Rows(L"MbPimSync", 302), 10);
  EXPECT_EQ(Rows(L"MbMailSync", 301), 4);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM DeleteStatements"), 3);
  Sql("DROP TRIGGER MbPimSyncDeletes ON MbPimSync; DROP TABLE DeleteStatements");

  // The check query finds no marked user: nothing is deleted.
  LoggedLines log;
  EXPECT_FALSE(VEXDB_DeleteUserChildTables(check.c_str(), map, 302, 4));
  const auto lines = log.Stop();
  EXPECT_EQ(Rows(L"MbPimSync", 302), 10);
  EXPECT_EQ(LinesWith(lines, L"VEXDB_DeleteUserChildTables: user 302 of server 4 is not marked for deletion").size(), 1u);
}

TEST_F(VexdbUserTest, ChildRowsUpToTheLargestIdAreDeleted) {
  // The last chunk ends at the largest 64-bit Id: there is no next bound.
  User(311, 3, 3);
  Sql("CREATE TABLE BigIdChild (Id bigint PRIMARY KEY, UserConfigId integer NOT NULL REFERENCES UserConfig (Id));"
      "INSERT INTO BigIdChild VALUES (-9223372036854775808, 311), (7, 311), (9223372036854775807, 311)");
  const UserChildTableMap map = {{L"bigidchild", L"userconfigid"}};
  const std::wstring check = L"SELECT Id FROM UserConfig WHERE Id = ? AND ServerConfigId = ? AND UserDeleteStatus IN (3, 4)";
  EXPECT_TRUE(VEXDB_DeleteUserChildTables(check.c_str(), map, 311, 3));
  EXPECT_EQ(Rows(L"BigIdChild", 311), 0);
  Sql("DROP TABLE BigIdChild");
}

TEST_F(VexdbUserTest, AChunkSizeBelowOneDeletesInChunksOfTheDefault) {
  // Taken as it stands, such a size selects no chunk at all, and the
  // user's rows would stay for good.
  const std::wstring check = L"SELECT Id FROM UserConfig WHERE Id = ? AND ServerConfigId = ? AND UserDeleteStatus IN (3, 4)";
  const struct {
    const char* value;
    int user;
  } cases[] = {{"dword:00000000", 321}, {"dword:ffffffff", 322}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    User(c.user, 3, 3);
    Children("MbPimSync", c.user, 7);
    RegistryValues(std::string("\"UserDeleteTableExcludeList\"=\"MbMailSync,UserStats\"\n\"UserDeleteChunkSize\"=") +
                   c.value + "\n");
    UserChildTableMap map;
    ASSERT_TRUE(VEXDB_InitUserChildTableMap(map));
    EXPECT_TRUE(VEXDB_DeleteUserChildTables(check.c_str(), map, c.user, 3));
    EXPECT_EQ(Rows(L"MbPimSync", c.user), 0);
  }
  // The suite's settings back, the chunk size at its default again.
  RegistryValues("\"UserDeleteTableExcludeList\"=\"MbMailSync,UserStats\"\n");
  UserChildTableMap map;
  ASSERT_TRUE(VEXDB_InitUserChildTableMap(map));
}

TEST_F(VexdbUserTest, CompleteUserDeleteRemovesAMarkedUserAndItsRows) {
  User(201, 4, 1);
  User(202, 4, 3);
  User(203, 4, 3);
  Children("MbPimSync", 201, 2);
  Children("MbPimSync", 202, 3);
  Children("MbPimSync", 203, 5);
  Children("MbMailSync", 203, 1);

  // State 1: nothing is deleted, the DELETE simply matches no row.
  int server = 4;
  int user = 201;
  bool failed = true;
  EXPECT_TRUE(VEXDB_CompleteUserDelete(&server, &user, &failed));
  EXPECT_FALSE(failed);
  EXPECT_EQ(Status(201), 1);
  EXPECT_EQ(Rows(L"MbPimSync", 201), 2);

  user = 202;
  failed = true;
  EXPECT_TRUE(VEXDB_CompleteUserDelete(&server, &user, &failed));
  EXPECT_FALSE(failed);
  EXPECT_EQ(Status(202), -1);
  EXPECT_EQ(Rows(L"MbPimSync", 202), 0);
  EXPECT_EQ(Rows(L"MbPimSync", 203), 5);

  // A row left in an excluded table blocks the user's DELETE: a failure.
  user = 203;
  EXPECT_FALSE(VEXDB_CompleteUserDelete(&server, &user, &failed));
  EXPECT_TRUE(failed);
  EXPECT_EQ(Status(203), 3);
}

TEST_F(VexdbUserTest, GetUserListReadsTheServersUsersAndAgents) {
  User(401, 11, 0, 7);
  User(402, 11, 0, 8);
  User(403, 12, 0, 7, "11");
  User(404, 12, 0, 7);
  const struct {
    int server;
    int agent;
    std::vector<int> ids;
  } cases[] = {
      {11, 0, {401, 402, 403}},
      {11, 7, {401, 403}},
      {12, 8, {}},
      {13, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "server " << c.server << " agent " << c.agent);
    _variant_t rows;
    ASSERT_TRUE(GetUserList(rows, c.server, c.agent));
    if (c.ids.empty()) {
      EXPECT_EQ(rows.vt, VT_EMPTY);
      continue;
    }
    ASSERT_EQ(rows.vt, VT_ARRAY | VT_VARIANT);
    LONG columns = 0;
    LONG count = 0;
    ASSERT_EQ(SafeArrayGetUBound(rows.parray, 1, &columns), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(rows.parray, 2, &count), S_OK);
    EXPECT_EQ(columns + 1, 64);
    ASSERT_EQ(count + 1, static_cast<LONG>(c.ids.size()));
    std::vector<int> ids;
    for (int row = 0; row <= count; ++row) {
      int idColumn = 22;
      int nameColumn = 0;
      _variant_t id;
      std::wstring name;
      ASSERT_TRUE(VEXDB_GetArrayValue(&id, &row, &idColumn, rows.parray));
      ASSERT_TRUE(VEXDB_GetArrayWString(name, &row, &nameColumn, rows.parray));
      ids.push_back(static_cast<INT>(id));
      EXPECT_EQ(name, L"user " + std::to_wstring(ids.back()));
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, c.ids);
  }
}

TEST_F(VexdbUserTest, SingleValueSelects) {
  Sql("CREATE TABLE SelectValues (k integer, t varchar(20), n integer)");
  Sql("INSERT INTO SelectValues VALUES (1, 'text', 5), (2, '', NULL), (3, NULL, 0)");
  const struct {
    const wchar_t* sql;
    bool ok;
    VARTYPE vt;
    bool stringOk;
    const wchar_t* text;
  } cases[] = {
      {L"SELECT t FROM SelectValues WHERE k = 1", true, VT_BSTR, true, L"text"},
      {L"SELECT t FROM SelectValues WHERE k = 2", true, VT_EMPTY, true, L""},  // empty: nothing copied
      {L"SELECT t FROM SelectValues WHERE k = 3", true, VT_EMPTY, true, L""},  // NULL: nothing copied
      {L"SELECT n FROM SelectValues WHERE k = 1", true, VT_I4, false, L""},
      {L"SELECT t FROM SelectValues WHERE k = 9", false, VT_EMPTY, false, L""},
      {L"SELECT t FROM NoSuchTable", false, VT_EMPTY, false, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    _variant_t value;
    EXPECT_EQ(VEXDB_RunSelectImpl(c.sql, &value), c.ok);
    EXPECT_EQ(value.vt, c.vt);
    std::wstring text = L"stale";
    EXPECT_EQ(VEXDB_SelectString(c.sql, text), c.stringOk);
    if (c.stringOk) {
      EXPECT_EQ(text, c.text);
    }
  }
}

TEST_F(VexdbUserTest, RouterEndpointsInSequenceOrder) {
  Sql("INSERT INTO ServerKwyRMap (ServerConfigId, Host, Port, Sequence) VALUES "
      "(21, 'b.example', 3102, 2), (21, 'a.example', 3101, 1), (21, NULL, NULL, 3), (22, 'c.example', 1, 1)");
  int server = 21;
  KwyRList list = {{"stale", "1"}};
  ASSERT_TRUE(VEXDB_LoadKwyRList(&server, list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].host, "a.example");
  EXPECT_EQ(list[0].port, "3101");
  EXPECT_EQ(list[1].host, "b.example");
  EXPECT_EQ(list[1].port, "3102");
  EXPECT_EQ(list[2].host, "");
  EXPECT_EQ(list[2].port, "");
  server = 23;
  ASSERT_TRUE(VEXDB_LoadKwyRList(&server, list));
  EXPECT_TRUE(list.empty());
}

TEST_F(VexdbUserTest, ServiceBookTemplateIsReadAndStripped) {
  std::wstring text = L"stale";
  LoggedLines log;
  EXPECT_FALSE(VEXDB_GetServiceBookDataTemplate(text));  // no Site row
  Sql("INSERT INTO GlobalSettings (Container, ServiceBookDataTemplate) VALUES ('Other', 'x'), ('Site', "
      "'<t><database>secret</database><DBRelation>1</DBRelation><DBRelation>2</DBRelation></t>')");
  EXPECT_TRUE(VEXDB_GetServiceBookDataTemplate(text));
  EXPECT_EQ(text, L"<t><DBRelation>2</DBRelation></t>");
  Sql("UPDATE GlobalSettings SET ServiceBookDataTemplate = '' WHERE Container = 'Site'");
  EXPECT_TRUE(VEXDB_GetServiceBookDataTemplate(text));
  EXPECT_EQ(text, L"");
  Sql("DELETE FROM GlobalSettings");
  const auto lines = log.Stop();
  EXPECT_EQ(LinesWith(lines, L"VEXDB_GetServiceBookDataTemplate: Failed to get dataTemplate").size(), 1u);
  EXPECT_EQ(LinesWith(lines, L"VEXDB_GetServiceBookDataTemplate: empty DataTemplate").size(), 1u);
}

}  // namespace
