// Look-ups of user and policy ids.
#include <gtest/gtest.h>

#include "configdb/core/open_database_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

class UserLookupsTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (81, 'S81');"
        "INSERT INTO UserConfig (Id, DisplayName, MailboxDN, MailboxSMTPAddr, ServerConfigId, AgentId) VALUES "
        "(801, 'A', '/o=Org/cn=a', 'a@example.com', 81, 0),"
        "(802, 'B', '/o=Org/cn=b', 'o''brien@example.com', 81, 4)");
  }
};

TEST_F(UserLookupsTest, FindsUsersBySmtpAddressAndMailboxDN) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S81"));
  const struct {
    const wchar_t* address;
    bool found;
    int id;
  } addresses[] = {
      {L"a@example.com", true, 801}, {L"A@Example.COM", true, 801},     {L"o'brien@example.com", true, 802},
      {L"x' OR '1'='1", false, 0},   {L"nobody@example.com", false, 0},
  };
  for (const auto& a : addresses) {
    SCOPED_TRACE(std::wstring(a.address).size());
    int id = -1;
    EXPECT_EQ(db->GetUserIdByEmail(a.address, &id), a.found);
    EXPECT_EQ(id, a.found ? a.id : -1);
  }
  EXPECT_FALSE(db->GetUserIdByEmail(nullptr, nullptr));

  EXPECT_EQ(db->CheckUserExists("/o=Org/cn=a"), 801);
  EXPECT_EQ(db->CheckUserExists("/O=ORG/CN=B"), 802);
  EXPECT_EQ(db->CheckUserExists("/o=Org/cn=z"), 0);
  EXPECT_EQ(db->CheckUserExists(nullptr), 0);
}

TEST_F(UserLookupsTest, DefaultPolicyAndAgentOfAUser) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S81"));
  EXPECT_EQ(Access::DefaultPolicyId(*db), 0) << "no 'Default' policy: Open goes on with 0";
  Sql("INSERT INTO ITPolicy2 (Id, PolicyName) VALUES (12, 'Default')");
  EXPECT_EQ(Access::DefaultPolicy(*db), 12);
  Sql("DELETE FROM ITPolicy2");

  int agent = -1;
  int server = -1;
  bool found = true;
  ASSERT_TRUE(db->GetAgentIdforUserId(802, &agent, &server, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(agent, 4);
  EXPECT_EQ(server, 81);
  ASSERT_TRUE(db->GetAgentIdforUserId(801, &agent, &server, &found));
  EXPECT_TRUE(found) << "agent 0 is a value";
  EXPECT_EQ(agent, 0);
  agent = server = -1;
  ASSERT_TRUE(db->GetAgentIdforUserId(999, &agent, &server, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(agent, -1);
  EXPECT_EQ(server, -1);
}

}  // namespace
