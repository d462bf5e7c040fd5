// Opening a server with its users, adding users, rebuilding the list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configdb/core/open_database_for_tests.h"
#include "device/pager_imp.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

class Progress : public LoadProgress {
 public:
  void OnProgress(double done, double total) override { calls.emplace_back(done, total); }
  std::vector<std::pair<double, double>> calls;
};

std::string Text(const char* text) { return text != nullptr ? text : "(null)"; }

class PagerListTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (61, 'S61'), (62, 'S62'), (63, 'S63');"
        "INSERT INTO ITPolicy2 (Id, PolicyName) VALUES (3, 'Strict'), (4, 'DEFAULT');"
        "INSERT INTO UserConfig (Id, DisplayName, MailboxDN, ServerConfigId, PendingServerConfigId, AgentId, "
        "MailboxSMTPAddr, ClientCertificateInfo) VALUES "
        "(601, 'Anna Ölund', '/o=Org/cn=anna', 61, NULL, 0, 'anna@example.com', '\\x0103050101'),"
        "(602, NULL, '/o=Org/cn=nameless', 61, NULL, 0, NULL, NULL),"
        "(603, 'Bo', '/o=Org/cn=bo', 61, NULL, 2, NULL, NULL),"
        "(604, 'Cem', '/o=Org/cn=cem', 62, 61, 0, NULL, NULL),"
        "(605, 'Elsewhere', '/o=Org/cn=else', 62, NULL, 0, NULL, NULL);"
        "INSERT INTO UserStats (Id, UserConfigId, MsgsSent, MsgsForwarded, MsgsPending, MsgsFailed, MsgsExpired, "
        "MsgsFiltered, Status, LastXPAction, LastSentTime) VALUES "
        "(6010, 601, 1, 2, 3, 4, 5, 6, 7, 8, '2020-02-03 04:05:06'), (6030, 603, 0, 0, 9, 0, 0, 0, 0, NULL, NULL)");
  }
};

TEST_F(PagerListTest, OpenCachesEveryUserOfTheServerWithADeviceObjectAndStatistics) {
  DatabasePtr db = NewDatabase();
  LoggedLines log;
  ASSERT_TRUE(OpenServer(*db, "S61", true));
  const auto lines = log.Stop();
  EXPECT_EQ(Access::CachedUsers(*db), 3u) << "601, 603 and 604 (pending here); 602 has no name";
  EXPECT_EQ(Access::CachedUserIds(*db), 3u);
  EXPECT_EQ(Access::DefaultPolicyId(*db), 4) << "'Default' in any case";
  for (int id : {601, 603, 604}) {
    SCOPED_TRACE(id);
    PagerRecord* record = Access::RecordById(*db, id);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->GetDBStatus(), 1);
    auto* pager = dynamic_cast<PagerImp*>(record->GetPagerImp());
    ASSERT_NE(pager, nullptr);
    EXPECT_EQ(pager->GetUserId(), id);
    EXPECT_EQ(pager->GetOwner(), db.get());
    EXPECT_EQ(Access::Record(*db, pager), record);
  }
  wchar_t* name = nullptr;
  Access::RecordById(*db, 601)->GetDisplayName(&name);
  EXPECT_EQ(std::wstring(name), L"Anna \u00d6lund");
  EXPECT_EQ(Access::RecordById(*db, 601)->GetCertificateInfo()->GetEntries().size(), 1u);

  const auto failed = WithCode(lines, 0xAFFF4F56u);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].text.find(L"(86)"), std::wstring::npos);
  EXPECT_NE(failed[0].text.find(L"Unknown"), std::wstring::npos);
  EXPECT_NE(failed[0].text.find(L"602"), std::wstring::npos);
  EXPECT_EQ(WithCode(lines, 0x6FFF9EEAu).size(), 3u);

  Pager* anna = Access::RecordById(*db, 601)->GetPagerImp();
  int value = 0;
  ASSERT_TRUE(db->GetMsgsSent(anna, &value));
  EXPECT_EQ(value, 1);
  ASSERT_TRUE(db->GetMsgsRcvd(anna, &value));
  EXPECT_EQ(value, 2);
  ASSERT_TRUE(db->GetFailedMsgsCount(anna, &value));
  EXPECT_EQ(value, 4);
  ASSERT_TRUE(db->GetStatus(anna, &value));
  EXPECT_EQ(value, 7);
  std::int64_t time = 0;
  ASSERT_TRUE(db->GetLastXPAction(anna, &time));
  EXPECT_EQ(time, 8);
  ASSERT_TRUE(db->GetLastMsgSent(anna, &time));
  EXPECT_EQ(time, 1580702706);
  EXPECT_EQ(Access::Stats(*db, 601)->RowId, 6010);
  EXPECT_FALSE(Access::Stats(*db, 601)->resetMark);
  EXPECT_TRUE(Access::Stats(*db, 603)->resetMark) << "all five counters 0";
  EXPECT_FALSE(db->GetMsgsSent(Access::RecordById(*db, 604)->GetPagerImp(), &value)) << "no UserStats row";

  // The batch read gives what one user's own read gives.
  const ServerPagerStats batch = *Access::Stats(*db, 601);
  ASSERT_TRUE(db->LoadPagerStatRecord(601));
  const ServerPagerStats& single = *Access::Stats(*db, 601);
  EXPECT_EQ(single.MsgsSent, batch.MsgsSent);
  EXPECT_EQ(single.PendingMsgsCount, batch.PendingMsgsCount);
  EXPECT_EQ(single.LastMsgSent, batch.LastMsgSent);
  EXPECT_EQ(single.RowId, batch.RowId);
}

TEST_F(PagerListTest, AnAgentLoadsOnlyItsUsers) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S61", true, 2));
  EXPECT_EQ(Access::CachedUsers(*db), 1u);
  ASSERT_NE(Access::RecordById(*db, 603), nullptr);
  int value = 0;
  ASSERT_TRUE(db->GetPendingMsgsCount(Access::RecordById(*db, 603)->GetPagerImp(), &value));
  EXPECT_EQ(value, 9);
}

TEST_F(PagerListTest, ReloadRebuildsTheListWithProgress) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S61", true));
  Pager* before = Access::RecordById(*db, 601)->GetPagerImp();
  // The old object is known by its mark: a new one may get its address.
  before->SetAuxValue(0x601);
  Sql("UPDATE UserConfig SET DisplayName = 'Anna B' WHERE Id = 601");
  Progress progress;
  ASSERT_TRUE(db->ReloadPagerList(&progress));
  EXPECT_EQ(Access::CachedUsers(*db), 3u);
  wchar_t* name = nullptr;
  Access::RecordById(*db, 601)->GetDisplayName(&name);
  EXPECT_EQ(std::wstring(name), L"Anna B");
  for (const auto& [id, record] : std::vector<std::pair<int, PagerRecord*>>{
           {601, Access::RecordById(*db, 601)}, {603, Access::RecordById(*db, 603)}, {604, Access::RecordById(*db, 604)}}) {
    SCOPED_TRACE(id);
    ASSERT_NE(record, nullptr);
    EXPECT_NE(record->GetPagerImp()->GetAuxValue(), 0x601) << "the old device object went with its record";
  }
  EXPECT_EQ(progress.calls, (std::vector<std::pair<double, double>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
  Sql("UPDATE UserConfig SET DisplayName = 'Anna \u00d6lund' WHERE Id = 601");

  DatabasePtr none = NewDatabase();
  ASSERT_TRUE(OpenServer(*none, "S63", true));
  EXPECT_EQ(Access::CachedUsers(*none), 0u);
}

TEST_F(PagerListTest, ReloadReportsEachRowInRowOrder) {
  // Each row is logged, handed to the listener, given its statistics and
  // counted in the progress before the next row's turn.
  class OrderListener : public ChangeListener {
   public:
    OrderListener(PMDatabaseSQLImp& db, const Progress& progress) : db_(db), progress_(progress) {}
    void OnUserEvent(int, Pager* pager) override {
      users.push_back(pager->GetUserId());
      rowsBefore.push_back(progress_.calls.size());
      int value = -1;
      statsOfEarlierUser.push_back(users.size() < 2 || db_.GetPendingMsgsCount(earlier_, &value) ||
                                   users[users.size() - 2] == 604);
      earlier_ = pager;
    }
    void OnUserHistoryEvent(int, Pager*, int) override {}
    void OnServerSettingChanged(int) override {}
    std::vector<int> users;
    std::vector<std::size_t> rowsBefore;
    std::vector<bool> statsOfEarlierUser;

   private:
    PMDatabaseSQLImp& db_;
    const Progress& progress_;
    Pager* earlier_ = nullptr;
  };
  DatabasePtr db = NewDatabase();
  Progress progress;
  OrderListener listener(*db, progress);
  ASSERT_TRUE(OpenServer(*db, "S61", false, 0, &listener));
  LoggedLines log;
  ASSERT_TRUE(db->ReloadPagerList(&progress));
  const auto lines = log.Stop();

  ASSERT_EQ(listener.users.size(), 3u);
  ASSERT_EQ(progress.calls.size(), 4u);
  for (std::size_t i = 0; i < listener.users.size(); ++i) {
    SCOPED_TRACE(listener.users[i]);
    EXPECT_LT(listener.rowsBefore[i], 4u);
    if (i > 0) {
      EXPECT_GT(listener.rowsBefore[i], listener.rowsBefore[i - 1]) << "one progress call per row between";
    }
    EXPECT_TRUE(listener.statsOfEarlierUser[i]) << "the earlier user's statistics are in before this one's turn";
  }
  // The log names the rows in the same order: the cached ones as the
  // listener saw them, the failed one (602) where the progress skipped it.
  std::vector<int> logged;
  for (const auto& line : lines) {
    if (line.eventCode != 0x6FFF9EEAu && line.eventCode != 0xAFFF4F56u) continue;
    for (int id : {601, 602, 603, 604}) {
      if (line.text.find(std::to_wstring(id)) != std::wstring::npos) logged.push_back(id);
    }
  }
  std::vector<int> expected;
  std::size_t row = 0;
  for (std::size_t i = 0; i < listener.users.size(); ++i) {
    for (; row < listener.rowsBefore[i]; ++row) expected.push_back(602);
    expected.push_back(listener.users[i]);
    ++row;
  }
  if (row < 4) expected.push_back(602);
  EXPECT_EQ(logged, expected);
}

TEST_F(PagerListTest, AddPagerInsertsANewUserAndCachesIt) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S62"));
  RecordingListener listener;
  Access::SetListener(*db, &listener);
  DeviceIDRecord ids;
  ids.DeviceType = 5;
  ids.PIN = 0x20000000;
  ASSERT_TRUE(db->AddPager(L"Dana \u00c9", "/o=Org/cn=dana", "/o=Org/cn=MX2", &ids, sizeof ids, true, false, 0, 0,
                           nullptr, "dana@example.com", 0, "rt"));
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM UserConfig WHERE MailboxDN = '/o=Org/cn=dana' AND DeviceType = 5 AND "
                   L"PIN = '20000000' AND OverrideSMTPAddr = 'dana@example.com' AND RoutingInfo = 'rt' AND "
                   L"ServerConfigId = 62 AND PendingServerConfigId = 62 AND ITPolicy2Id = 4 AND "
                   L"RedirectionState = 1 AND ExtServicesState = 0 AND DisplayName = 'Dana \u00c9'"),
            1);
  const int id = static_cast<int>(Scalar(L"SELECT Id FROM UserConfig WHERE MailboxDN = '/o=Org/cn=dana'"));
  PagerRecord* record = Access::RecordById(*db, id);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->GetPagerImp()->GetUserId(), id);
  EXPECT_EQ(record->GetPINNumber(), 0x20000000u);
  EXPECT_EQ(listener.userEvents, std::vector<int>{1});

  ITPolicyDescriptor strict;
  strict.ITPolicyId = 3;
  ids.PIN = 12345;
  ASSERT_TRUE(db->AddPager(nullptr, "/o=Org/cn=eve", "/s", nullptr, 0, false, true, 0, 0, &strict, "", 0, nullptr));
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM UserConfig WHERE MailboxDN = '/o=Org/cn=eve' AND DeviceType IS NULL AND "
                   L"PIN IS NULL AND OverrideSMTPAddr IS NULL AND RoutingInfo = '' AND ITPolicy2Id = 3 AND "
                   L"DisplayName = ''"),
            1);
  EXPECT_EQ(listener.userEvents.size(), 1u) << "a row without a display name is not cached";
  Access::SetListener(*db, nullptr);
}

TEST_F(PagerListTest, AddPagerOfAnExistingUserMovesItHereAndRefreshesItsCachedRecord) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S62", true));
  // 605 is cached on S62; 601 (on S61) is not.
  PagerRecord* cached = Access::RecordById(*db, 605);
  ASSERT_NE(cached, nullptr);
  Pager* pager = cached->GetPagerImp();
  const std::size_t users = Access::CachedUsers(*db);
  Sql("UPDATE UserConfig SET DisplayName = 'Elsewhere 2' WHERE Id = 605");
  ASSERT_TRUE(db->AddPager(L"ignored", "/O=ORG/CN=ELSE", "/s", nullptr, 0, false, false, 0, 0, nullptr, nullptr, 0,
                           "new route"));
  EXPECT_EQ(Access::CachedUsers(*db), users) << "no second device object for the same user";
  EXPECT_EQ(Access::RecordById(*db, 605), cached);
  EXPECT_EQ(cached->GetPagerImp(), pager);
  char* routing = nullptr;
  cached->GetRoutingInfo(&routing);
  EXPECT_EQ(Text(routing), "new route");
  wchar_t* name = nullptr;
  cached->GetDisplayName(&name);
  EXPECT_EQ(std::wstring(name), L"Elsewhere 2") << "the row as it is now";

  ASSERT_TRUE(
      db->AddPager(L"ignored", "/o=Org/cn=anna", "/s", nullptr, 0, false, false, 0, 0, nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(Scalar(L"SELECT ServerConfigId FROM UserConfig WHERE Id = 601"), 62);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM UserConfig WHERE Id = 601 AND RoutingInfo = ''"), 1);
  ASSERT_NE(Access::RecordById(*db, 601), nullptr) << "moved here and cached";
  EXPECT_EQ(Access::CachedUsers(*db), users + 1);
  Sql("UPDATE UserConfig SET ServerConfigId = 61, PendingServerConfigId = NULL WHERE Id = 601");
}

TEST_F(PagerListTest, PendingUsersLoadOnce) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S62"));
  EXPECT_FALSE(db->LoadPendingPager(605)) << "not pending";
  Access::AddPendingUser(*db, 605);
  ASSERT_TRUE(db->LoadPendingPager(605));
  EXPECT_FALSE(Access::IsPendingUser(*db, 605));
  ASSERT_NE(Access::RecordById(*db, 605), nullptr);
  Access::AddPendingUser(*db, 605);
  EXPECT_FALSE(db->LoadPendingPager(605)) << "already cached";
  EXPECT_TRUE(Access::IsPendingUser(*db, 605));
  EXPECT_TRUE(db->RemoveCachedPager(605));
  EXPECT_FALSE(db->RemoveCachedPager(605));

  LoggedLines log;
  EXPECT_FALSE(Access::CreatePagerForUser(*db, 602, nullptr));
  EXPECT_FALSE(Access::CreatePagerForUser(*db, 999, nullptr));
  const auto failed = WithCode(log.Stop(), 0xAFFF4F56u);
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_NE(failed[0].text.find(L"(68)"), std::wstring::npos);
}

}  // namespace
