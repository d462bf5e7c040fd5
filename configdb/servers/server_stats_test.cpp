// The server's ServerStats row: set up by Open, counters changed in memory,
// re-read from the row when older than 15 seconds.
#include <gtest/gtest.h>

#include "configdb/core/open_database_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

std::int64_t now = 1000;
std::int64_t Now() { return now; }

class ServerStatsTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (21, 'S21'), (22, 'S22')");
  }
  // Opens S21 with the counters' refresh as asked, on the test's clock.
  DatabasePtr Open(bool refresh) {
    now = 1000;
    DatabasePtr db = NewDatabase();
    Access::SetClock(*db, &Now);
    EXPECT_TRUE(db->Open(0, 0, connectionString_.c_str(), 5, nullptr, "S21", false, refresh, 0, nullptr, false, 0));
    return db;
  }
};

TEST_F(ServerStatsTest, OpenCreatesTheRowAndCountersStartFromIt) {
  DatabasePtr db = Open(true);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerStats WHERE ServerConfigId = 21"), 1);
  int value = -1;
  ASSERT_TRUE(db->GetServerMsgsPending(&value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(db->GetServerMsgsPending(nullptr));

  Sql("UPDATE ServerStats SET MsgsPending = 4, MsgsForwarded = 5, MsgsSent = 6, MsgsExpired = 7, MsgsFiltered = 8 "
      "WHERE ServerConfigId = 21");
  DatabasePtr again = Open(true);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerStats WHERE ServerConfigId = 21"), 1) << "found, not made again";
  const struct {
    bool (PMDatabaseSQLImp::*get)(int*);
    bool (PMDatabaseSQLImp::*increment)(int*);
    int stored;
  } counters[] = {
      {&PMDatabaseSQLImp::GetServerMsgsPending, &PMDatabaseSQLImp::IncrementServerMsgsPending, 4},
      {&PMDatabaseSQLImp::GetServerMsgsForwarded, &PMDatabaseSQLImp::IncrementServerMsgsForwarded, 5},
      {&PMDatabaseSQLImp::GetServerMsgsSent, &PMDatabaseSQLImp::IncrementServerMsgsSent, 6},
      {&PMDatabaseSQLImp::GetServerMsgsExpired, &PMDatabaseSQLImp::IncrementServerMsgsExpired, 7},
      {&PMDatabaseSQLImp::GetServerMsgsFiltered, &PMDatabaseSQLImp::IncrementServerMsgsFiltered, 8},
  };
  for (const auto& counter : counters) {
    SCOPED_TRACE(counter.stored);
    ASSERT_TRUE(((*again).*counter.get)(&value));
    EXPECT_EQ(value, counter.stored);
    ASSERT_TRUE(((*again).*counter.increment)(&value));
    EXPECT_EQ(value, counter.stored + 1);
    ASSERT_TRUE(((*again).*counter.get)(&value));
    EXPECT_EQ(value, counter.stored + 1);
  }
  EXPECT_EQ(Scalar(L"SELECT MsgsPending FROM ServerStats WHERE ServerConfigId = 21"), 4) << "memory only";

  ASSERT_TRUE(again->SetServerMsgsPending(0));
  ASSERT_TRUE(again->DecrementServerMsgsPending(&value));
  EXPECT_EQ(value, 0);
  for (auto set : {&PMDatabaseSQLImp::SetServerMsgsForwarded, &PMDatabaseSQLImp::SetServerMsgsSent,
                   &PMDatabaseSQLImp::SetServerMsgsExpired, &PMDatabaseSQLImp::SetServerMsgsFiltered}) {
    EXPECT_TRUE(((*again).*set)(42));
  }
  ASSERT_TRUE(again->GetServerMsgsFiltered(&value));
  EXPECT_EQ(value, 42);
}

TEST_F(ServerStatsTest, CountersAreReReadWhenOlderThanFifteenSeconds) {
  Sql("INSERT INTO ServerStats (ServerConfigId, MsgsSent) VALUES (21, 10) "
      "ON CONFLICT (ServerConfigId) DO UPDATE SET MsgsSent = 10");
  DatabasePtr db = Open(true);
  int value = 0;
  ASSERT_TRUE(db->IncrementServerMsgsSent(&value));
  EXPECT_EQ(value, 11);
  Sql("UPDATE ServerStats SET MsgsSent = 20 WHERE ServerConfigId = 21");

  now += 10;
  ASSERT_TRUE(db->GetServerMsgsSent(&value));
  EXPECT_EQ(value, 11) << "10 seconds: the values in memory";
  now += 5;
  ASSERT_TRUE(db->GetServerMsgsSent(&value));
  EXPECT_EQ(value, 11) << "15 seconds exactly: still in memory";
  now += 1;
  ASSERT_TRUE(db->GetServerMsgsSent(&value));
  EXPECT_EQ(value, 20) << "16 seconds: the row's value, not the increment";
  Sql("UPDATE ServerStats SET MsgsSent = 30 WHERE ServerConfigId = 21");
  now += 15;
  ASSERT_TRUE(db->GetServerMsgsSent(&value));
  EXPECT_EQ(value, 20) << "the refresh started the 15 seconds again";

  DatabasePtr still = Open(false);
  Sql("UPDATE ServerStats SET MsgsSent = 40 WHERE ServerConfigId = 21");
  now += 1000;
  ASSERT_TRUE(still->GetServerMsgsSent(&value));
  EXPECT_EQ(value, 30) << "opened without the refresh: never re-read";
  ASSERT_TRUE(still->RefreshServerStats());
  ASSERT_TRUE(still->GetServerMsgsSent(&value));
  EXPECT_EQ(value, 40);
}

TEST_F(ServerStatsTest, CloseClearsTheRowObjectAndGivesItsPoolUseBack) {
  const LONG uses = PoolUses();
  DatabasePtr db = Open(false);
  EXPECT_EQ(PoolUses(), uses + 2);
  db->Close();
  EXPECT_EQ(PoolUses(), uses);
  int value = 5;
  EXPECT_FALSE(db->GetServerMsgsPending(&value));
  EXPECT_FALSE(db->IncrementServerMsgsPending(&value));
  EXPECT_FALSE(db->RefreshServerStats());
}

TEST_F(ServerStatsTest, ASetUpThatCannotReadTheRowFailsOpen) {
  Sql("ALTER TABLE ServerStats RENAME TO ServerStatsAway");
  DatabasePtr db = NewDatabase();
  LoggedLines log;
  bool flag = false;
  const LONG uses = PoolUses();
  EXPECT_FALSE(db->Open(0, 0, connectionString_.c_str(), 5, nullptr, "S22", false, false, 0, &flag, false, 0));
  Sql("ALTER TABLE ServerStatsAway RENAME TO ServerStats");
  EXPECT_TRUE(flag);
  const auto lines = WithCode(log.Stop(), 0xAFFF4F3Eu);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find(L"S22"), std::wstring::npos);
  EXPECT_EQ(PoolUses(), uses + 1) << "the row object gave its use back at once";
  db->Close();
  EXPECT_EQ(PoolUses(), uses);
}

}  // namespace
