// Per-user statistics records: accessors, the reset and the save.
#include <gtest/gtest.h>

#include "configdb/core/open_database_for_tests.h"
#include "configdb/users/fake_pager_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

class PagerStatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pager_ = new FakePager;
    Access::AddUser(*db_, pager_, 5);
    ServerPagerStats stats(50, 5);
    stats.MsgsSent = 5;
    Access::PutStats(*db_, stats);
  }
  ServerPagerStats& Stats() { return *Access::Stats(*db_, 5); }

  DatabasePtr db_ = NewDatabase();
  FakePager* pager_ = nullptr;
};

TEST_F(PagerStatsTest, SettersMarkWhatChangedAndKeepCountsNonNegative) {
  using Setter = bool (PMDatabaseSQLImp::*)(Pager*, int);
  using Getter = bool (PMDatabaseSQLImp::*)(Pager*, int*);
  const struct {
    const char* name;
    Setter set;
    Getter get;
    bool counter;  // marks the counters changed
    bool count;    // never negative
  } fields[] = {
      {"Expired", &PMDatabaseSQLImp::SetExpiredMsgsCount, &PMDatabaseSQLImp::GetExpiredMsgsCount, true, true},
      {"Failed", &PMDatabaseSQLImp::SetFailedMsgsCount, &PMDatabaseSQLImp::GetFailedMsgsCount, false, true},
      {"Filtered", &PMDatabaseSQLImp::SetFilteredMsgsCount, &PMDatabaseSQLImp::GetFilteredMsgsCount, true, true},
      {"Pending", &PMDatabaseSQLImp::SetPendingMsgsCount, &PMDatabaseSQLImp::GetPendingMsgsCount, true, true},
      {"Sent", &PMDatabaseSQLImp::SetMsgsSent, &PMDatabaseSQLImp::GetMsgsSent, true, true},
      {"Rcvd", &PMDatabaseSQLImp::SetMsgsRcvd, &PMDatabaseSQLImp::GetMsgsRcvd, true, true},
      {"Status", &PMDatabaseSQLImp::SetStatus, &PMDatabaseSQLImp::GetStatus, false, false},
  };
  for (const auto& field : fields) {
    SCOPED_TRACE(field.name);
    Stats().changed = Stats().countersChanged = false;
    ASSERT_TRUE(((*db_).*field.set)(pager_, 5));
    Stats().changed = Stats().countersChanged = false;
    ASSERT_TRUE(((*db_).*field.set)(pager_, 5));
    EXPECT_FALSE(Stats().changed) << "the same value changes nothing";
    ASSERT_TRUE(((*db_).*field.set)(pager_, -1));
    int value = 0;
    ASSERT_TRUE(((*db_).*field.get)(pager_, &value));
    EXPECT_EQ(value, field.count ? 5 : -1);
    EXPECT_TRUE(Stats().changed);
    EXPECT_EQ(Stats().countersChanged, field.counter);
    EXPECT_FALSE(((*db_).*field.get)(pager_, nullptr));
  }
  ASSERT_TRUE(db_->SetLastMsgRcvd(pager_, 1700000000));
  std::int64_t time = 0;
  ASSERT_TRUE(db_->GetLastMsgRcvd(pager_, &time));
  EXPECT_EQ(time, 1700000000);

  FakePager stranger;
  int value = 7;
  EXPECT_FALSE(db_->GetMsgsSent(&stranger, &value));
  EXPECT_EQ(value, 7);
  EXPECT_FALSE(db_->SetMsgsSent(&stranger, 1));
  EXPECT_FALSE(db_->GetMsgsSent(nullptr, &value));
}

TEST_F(PagerStatsTest, ARecordLoadedAtZeroIsResetAtItsFirstSave) {
  Stats().resetMark = true;
  Stats().MsgsRcvd = 4;
  Stats().PendingMsgsCount = 2;
  Stats().changed = Stats().countersChanged = true;
  bool countersChanged = false;
  bool hasPending = false;
  ASSERT_TRUE(db_->SaveServerPagerStats(5, &countersChanged, &hasPending));
  EXPECT_TRUE(countersChanged);
  EXPECT_TRUE(hasPending);
  EXPECT_EQ(Stats().MsgsRcvd, 0);
  EXPECT_EQ(Stats().MsgsSent, 0);
  EXPECT_EQ(Stats().PendingMsgsCount, 2) << "pending is not a counter of the reset";
  EXPECT_FALSE(Stats().changed);
  EXPECT_FALSE(Stats().resetMark);
  EXPECT_EQ(pager_->stats, (std::vector<std::pair<int, std::int32_t>>{
                               {0x6005, 0}, {0x6006, 0}, {0x6008, 0}, {0x6009, 0}, {0x600A, 0}}));
  EXPECT_EQ(pager_->saves, 1);

  ASSERT_TRUE(db_->SaveServerPagerStats(5, nullptr, nullptr)) << "nothing changed: nothing to write";
  EXPECT_FALSE(db_->SaveServerPagerStats(6, nullptr, nullptr));
}

class PagerStatsDatabaseTest : public OpenDatabaseTest {};

TEST_F(PagerStatsDatabaseTest, SaveWritesTheWholeRecordAndRetriesWhatItCouldNotWrite) {
  Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (71, 'S71');"
      "INSERT INTO UserConfig (Id, DisplayName, ServerConfigId) VALUES (701, 'U', 71), (702, 'V', 71);"
      "INSERT INTO UserStats (Id, UserConfigId, MsgsSent) VALUES (7010, 701, 1)");
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S71", true));
  Pager* pager = Access::RecordById(*db, 701)->GetPagerImp();
  ASSERT_TRUE(db->SetMsgsSent(pager, 10));
  ASSERT_TRUE(db->SetMsgsRcvd(pager, 11));
  ASSERT_TRUE(db->SetPendingMsgsCount(pager, 12));
  ASSERT_TRUE(db->SetExpiredMsgsCount(pager, 13));
  ASSERT_TRUE(db->SetFilteredMsgsCount(pager, 14));
  ASSERT_TRUE(db->SetFailedMsgsCount(pager, 15));
  ASSERT_TRUE(db->SetStatus(pager, 16));
  ASSERT_TRUE(db->SetLastMsgSent(pager, 1600000000));
  ASSERT_TRUE(db->SetLastMsgRcvd(pager, 1600000060));
  ASSERT_TRUE(db->SetLastMsgExpired(pager, 1600000120));
  ASSERT_TRUE(db->SetLastXPAction(pager, 0x100000011LL));
  bool countersChanged = false;
  ASSERT_TRUE(db->SaveServerPagerStats(701, &countersChanged, nullptr));
  EXPECT_TRUE(countersChanged);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM UserStats WHERE Id = 7010 AND MsgsSent = 10 AND MsgsForwarded = 11 AND "
                   L"MsgsPending = 12 AND MsgsExpired = 13 AND MsgsFiltered = 14 AND MsgsFailed = 15 AND "
                   L"Status = 16 AND LastXPAction = 17 AND LastSentTime = '2020-09-13 12:26:40' AND "
                   L"LastFwdTime = '2020-09-13 12:27:40' AND LastMsgExpired = '2020-09-13 12:28:40'"),
            1);
  EXPECT_FALSE(Access::Stats(*db, 701)->changed);

  ASSERT_TRUE(db->SetMsgsSent(pager, 20));
  Sql("ALTER TABLE UserStats RENAME TO UserStatsAway");
  EXPECT_FALSE(db->SaveServerPagerStats(701, nullptr, nullptr));
  Sql("ALTER TABLE UserStatsAway RENAME TO UserStats");
  EXPECT_TRUE(Access::Stats(*db, 701)->changed) << "marked again for the next save";
  EXPECT_TRUE(Access::Stats(*db, 701)->countersChanged) << "the counters still wait to be written";
  countersChanged = false;
  ASSERT_TRUE(db->SaveServerPagerStats(701, &countersChanged, nullptr));
  EXPECT_TRUE(countersChanged);
  EXPECT_EQ(Scalar(L"SELECT MsgsSent FROM UserStats WHERE Id = 7010"), 20);

  EXPECT_TRUE(db->LoadPagerStatRecord(702)) << "no row: nothing to load";
  EXPECT_EQ(Access::Stats(*db, 702), nullptr);
}

}  // namespace
