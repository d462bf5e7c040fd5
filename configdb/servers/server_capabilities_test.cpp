// The server's capabilities: read at Open, stored through the procedure.
#include <gtest/gtest.h>

#include "configdb/core/open_database_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

class ServerCapabilitiesTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (31, 'S31'), (32, 'S32'), (33, 'S33');"
        "INSERT INTO ServerCapabilities (ServerConfigId, ServiceType, Capabilities) VALUES "
        "(31, 'CICAL', '<cical/>'), (31, 'Zeta', '<zeta/>'), (31, 'Alpha', '<alpha/>'), (31, 'Dispatcher', NULL),"
        "(32, 'SYNC', '<other server/>')");
  }
};

TEST_F(ServerCapabilitiesTest, OpenReadsTheServersRowsUnderTheirServiceIds) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S31"));
  std::wstring text;
  ASSERT_TRUE(db->HasServerCapability(1, text));
  EXPECT_EQ(text, L"<cical/>");
  ASSERT_TRUE(db->HasServerCapability(-1, text));
  EXPECT_EQ(text, L"") << "a NULL text is empty";
  EXPECT_FALSE(db->HasServerCapability(3, text)) << "SYNC belongs to another server";
  // New service types get the next ids in the order the rows come; the
  // order of the procedure's rows is the table's, so only the set is fixed.
  const auto& types = Access::ServiceTypes(*db);
  ASSERT_EQ(types.count("Alpha"), 1u);
  ASSERT_EQ(types.count("Zeta"), 1u);
  EXPECT_EQ(std::set<int>({types.at("Alpha"), types.at("Zeta")}), std::set<int>({7, 8}));
  EXPECT_EQ(Access::LastServiceId(*db), 8);
  std::list<std::wstring> all;
  ASSERT_TRUE(db->GetServerCapabilities(all));
  EXPECT_EQ(all.size(), 4u);
  EXPECT_EQ(all.front(), L"") << "in id order: Dispatcher (-1) first";

  DatabasePtr empty = NewDatabase();
  ASSERT_TRUE(OpenServer(*empty, "S33"));
  all.clear();
  EXPECT_TRUE(empty->GetServerCapabilities(all));
  EXPECT_TRUE(all.empty());
}

TEST_F(ServerCapabilitiesTest, AFailedLoadKeepsWhatWasThere) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S31"));
  Sql("ALTER TABLE ServerCapabilities RENAME TO ServerCapabilitiesAway");
  EXPECT_FALSE(Access::LoadServerCapabilities(*db));
  Sql("ALTER TABLE ServerCapabilitiesAway RENAME TO ServerCapabilities");
  std::wstring text;
  EXPECT_TRUE(db->HasServerCapability(1, text));
  EXPECT_EQ(Access::Capabilities(*db).size(), 4u);
}

TEST_F(ServerCapabilitiesTest, StoresThroughTheProcedureAndFollowsItsAnswer) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S32"));
  std::wstring text;

  // New (procedure answers 1), then updated (0).
  ASSERT_TRUE(db->SetServerCapabilities(4, L"<ippp v=\"1\"/>"));
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerCapabilities WHERE ServerConfigId = 32 AND ServiceType = 'IPPP'"), 1);
  ASSERT_TRUE(db->HasServerCapability(4, text));
  EXPECT_EQ(text, L"<ippp v=\"1\"/>");
  ASSERT_TRUE(db->SetServerCapabilities(4, L"<ippp v=\"2\"/>"));
  ASSERT_TRUE(db->HasServerCapability(4, text));
  EXPECT_EQ(text, L"<ippp v=\"2\"/>");

  // The row exists in the database but the procedure says "new": the entry
  // already held stays as it was.
  Sql("DELETE FROM ServerCapabilities WHERE ServerConfigId = 32 AND ServiceType = 'SYNC'");
  ASSERT_TRUE(db->SetServerCapabilities(3, L"<sync new/>"));
  ASSERT_TRUE(db->HasServerCapability(3, text));
  EXPECT_EQ(text, L"<other server/>");

  // An id without a service type names its type in its text.
  ASSERT_TRUE(db->SetServerCapabilities(42, L"<caps service=\"Fresh\" v=\"1\"/>"));
  EXPECT_EQ(Access::ServiceTypes(*db).at("Fresh"), 42);
  EXPECT_EQ(Access::LastServiceId(*db), 42);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerCapabilities WHERE ServiceType = 'fresh'"), 1);

  const LONGLONG rows = Scalar(L"SELECT count(*) FROM ServerCapabilities");
  EXPECT_FALSE(db->SetServerCapabilities(43, L"<caps no mark/>"));
  EXPECT_FALSE(db->SetServerCapabilities(44, L"<caps service=\"Unclosed/>"));
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerCapabilities"), rows) << "nothing sent";

  // Refused by the procedure (a server without a row).
  Access::SetServerConfigId(*db, 999);
  LoggedLines log;
  EXPECT_FALSE(db->SetServerCapabilities(4, L"<ippp v=\"3\"/>"));
  const auto lines = WithCode(log.Stop(), 0xAFFF50C5u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find(L"4"), std::wstring::npos);
  ASSERT_TRUE(db->HasServerCapability(4, text));
  EXPECT_EQ(text, L"<ippp v=\"2\"/>");
}

}  // namespace
