#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "configdb/core/pm_database_for_tests.h"
#include "configdb/users/user_rows_for_tests.h"
#include "device/pager.h"
#include "platform/win32/codepage.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

class UserCacheTest : public ::testing::Test {
 protected:
  Pager* Add(int id) { return Access::AddUser(*database_, id); }
  PagerRecord* Record(Pager* pager) { return Access::Record(*database_, pager); }

  DatabasePtr database_ = NewDatabase();
};

TEST_F(UserCacheTest, TextGettersCopyWhatFitsAndAlwaysTerminate) {
  Pager* pager = Add(1);
  Record(pager)->SetServerDN("abcdefgh");
  Record(pager)->SetDisplayName(L"abcdefgh");
  struct Case {
    int size;
    const char* expected;
  } cases[] = {{1, ""}, {5, "abcd"}, {8, "abcdefg"}, {9, "abcdefgh"}, {512, "abcdefgh"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<char> narrow(static_cast<std::size_t>(c.size) + 1, 'x');
    ASSERT_TRUE(database_->GetServerDN(pager, narrow.data(), c.size));
    EXPECT_STREQ(narrow.data(), c.expected);
    EXPECT_EQ(narrow[static_cast<std::size_t>(c.size)], 'x') << "written past the size";

    std::vector<wchar_t> wide(static_cast<std::size_t>(c.size) + 1, L'x');
    ASSERT_TRUE(database_->GetDisplayNameW(pager, wide.data(), c.size));
    EXPECT_EQ(std::wstring(wide.data()), std::wstring(c.expected, c.expected + std::strlen(c.expected)));
    EXPECT_EQ(wide[static_cast<std::size_t>(c.size)], L'x');
  }

  char buffer[16] = "kept";
  EXPECT_FALSE(database_->GetServerDN(pager, buffer, 0));
  EXPECT_FALSE(database_->GetServerDN(pager, nullptr, 16));
  EXPECT_TRUE(database_->GetMailboxDN(pager, buffer, 16)) << "no cached text: the buffer stays";
  EXPECT_STREQ(buffer, "kept");
  EXPECT_TRUE(database_->GetServiceName(pager, buffer, 16));
  EXPECT_STREQ(buffer, "kept");

  Pager* stranger = CreatePagerImp(database_.get());
  EXPECT_FALSE(database_->GetServerDN(stranger, buffer, 16));
  EXPECT_EQ(database_->CheckAutoSignature(stranger, L"x"), -1);
  delete stranger;
}

TEST_F(UserCacheTest, BlobGettersKeepTheirOwnSizeRules) {
  Pager* pager = Add(1);
  PagerRecord* record = Record(pager);
  const std::string ten = "0123456789";
  record->SetPolicyBlob(ten.data(), 10);
  record->SetAckData(ten.data(), 10);
  record->SetDeviceCapabilities(ten.data(), 10);
  record->SetDataSourceId(ten.data(), 10);

  char out[16] = {};
  std::uint32_t size = 4;
  ASSERT_TRUE(database_->GetPolicyBlob(pager, out, &size)) << "the policy blob is cut to the buffer";
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(out, 4), "0123");
  size = 4;
  EXPECT_FALSE(database_->GetAckDataBlob(pager, out, &size)) << "acknowledgement data comes whole or not at all";
  EXPECT_FALSE(database_->GetDeviceCapabilitiesBlob(pager, out, &size));
  size = 4;
  ASSERT_TRUE(database_->GetDataSourceId(pager, out, &size)) << "too small: nothing copied, still true";
  EXPECT_EQ(size, 4u);
  size = 16;
  ASSERT_TRUE(database_->GetAckDataBlob(pager, out, &size));
  EXPECT_EQ(size, 10u);
  size = 0;
  EXPECT_FALSE(database_->GetPolicyBlob(pager, out, &size));
  EXPECT_FALSE(database_->GetDataSourceId(pager, out, &size));

  int count = 0;
  ASSERT_TRUE(database_->GetDeviceCapabilitiesSize(pager, &count));
  EXPECT_EQ(count, 10);

  // Empty values: only the acknowledgement size is written as 0.
  Pager* empty = Add(2);
  count = 77;
  ASSERT_TRUE(database_->GetPolicyBlobSize(empty, &count));
  ASSERT_TRUE(database_->GetDataSourceIdSize(empty, &count));
  EXPECT_EQ(count, 77);
  ASSERT_TRUE(database_->GetAckDataBlobSize(empty, &count));
  EXPECT_EQ(count, 0);
  size = 16;
  ASSERT_TRUE(database_->GetPeerToPeerKeyBlob(empty, out, &size));
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(database_->GetDisclaimerTextSize(empty, &count));
  EXPECT_EQ(count, 1);
  record->SetDisclaimerText(L"abc");
  ASSERT_TRUE(database_->GetDisclaimerTextSize(pager, &count));
  EXPECT_EQ(count, 4);

  EXPECT_FALSE(database_->SetPolicyBlob(pager, nullptr, 3));
  EXPECT_FALSE(database_->SetPolicyBlob(pager, ten.data(), 0));
}

TEST_F(UserCacheTest, CheckOperationsAnswerOneZeroOrMinusOne) {
  Pager* pager = Add(1);
  PagerRecord* record = Record(pager);
  EXPECT_EQ(database_->CheckServiceBookName(pager, L""), 1) << "empty against empty";
  EXPECT_EQ(database_->CheckServiceBookName(pager, nullptr), 1);
  EXPECT_EQ(database_->CheckAutoSignature(pager, L""), 0) << "two empty signatures do not match";
  record->SetServiceBookName(L"Desktop");
  record->SetAutoSignature(zev::ZEVString(L"Sent from my handheld"));
  EXPECT_EQ(database_->CheckServiceBookName(pager, L"DESKTOP"), 1);
  EXPECT_EQ(database_->CheckServiceBookName(pager, L""), 0);
  EXPECT_EQ(database_->CheckAutoSignature(pager, L"Sent from my handheld"), 1);
  EXPECT_EQ(database_->CheckAutoSignature(pager, L"sent from my handheld"), 0);

  record->SetRoutingInfo("relay-1");
  record->SetActivationTime(1234);
  EXPECT_EQ(database_->CheckRoutingInfo(pager, "relay-1"), 1);
  EXPECT_EQ(database_->CheckRoutingInfo(pager, "RELAY-1"), 0);
  EXPECT_EQ(database_->CheckRoutingInfo(pager, nullptr), 0);
  EXPECT_EQ(database_->CheckActivationTime(pager, 1234), 1);
  EXPECT_EQ(database_->CheckActivationTime(pager, 1235), 0);
  EXPECT_EQ(database_->CheckActivationTime(nullptr, 1234), -1);

  // A data source id longer than 512 bytes is compared whole.
  std::string big(600, 'a');
  record->SetDataSourceId(big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(database_->CheckDataSourceId(pager, big.data(), static_cast<int>(big.size())), 1);
  big[599] = 'b';
  EXPECT_EQ(database_->CheckDataSourceId(pager, big.data(), static_cast<int>(big.size())), 0);
  EXPECT_EQ(database_->CheckDataSourceId(pager, big.data(), 512), 0);
}

TEST_F(UserCacheTest, TheUserRecordIsCopiedWithItsFlags) {
  Pager* pager = Add(4);
  Record(pager)->SetMailboxDN("/o=x/cn=a");
  ASSERT_TRUE(database_->SetPagerFlag(4));
  PagerRecord copy(nullptr, 0);
  ASSERT_TRUE(database_->GetUserConfigRecord(pager, &copy));
  char* text = nullptr;
  copy.GetMailboxDN(&text);
  EXPECT_STREQ(text, "/o=x/cn=a");
  EXPECT_EQ(copy.GetChangedFlag(), 1);
  ASSERT_TRUE(database_->ClearPagerFlag(4));
  EXPECT_EQ(Record(pager)->GetChangedFlag(), 0);
  EXPECT_FALSE(database_->ClearPagerFlag(5));
  EXPECT_FALSE(database_->GetUserConfigRecord(nullptr, &copy));

  int id = 0;
  Pager* noId = Add(0);
  EXPECT_FALSE(database_->GetUserId(noId, &id));
  ASSERT_TRUE(database_->GetUserId(pager, &id));
  EXPECT_EQ(id, 4);
}

TEST_F(UserCacheTest, SeekWalksTheActiveUsersInTheOrderOfTheirIds) {
  Pager* p30 = Add(30);
  Pager* p10 = Add(10);
  Pager* p25 = Add(25);
  Pager* p20 = Add(20);
  ASSERT_TRUE(database_->SetPagerDBStatus(p25, 0));
  Record(p20)->SetPINNumber(0x2A3B4C5D);
  Record(p25)->SetPINNumber(0x2A3B4C5D);
  Record(p30)->SetMailboxDN("/o=Quillon/cn=Zed");

  std::vector<Pager*> walk;
  Pager* pager = nullptr;
  ASSERT_TRUE(database_->Seek(1, &pager, 0, nullptr));
  while (pager != nullptr) {
    walk.push_back(pager);
    ASSERT_TRUE(database_->Seek(2, &pager, 0, nullptr));
  }
  EXPECT_EQ(walk, (std::vector<Pager*>{p10, p20, p30}));

  struct Case {
    const char* what;
    int mode;
    Pager* from;
    int value;
    const char* text;
    bool result;
    Pager* found;
  } cases[] = {
      {"previous skips the inactive", 3, p30, 0, nullptr, true, p20},
      {"previous of the first", 3, p10, 0, nullptr, true, nullptr},
      {"next of an inactive user", 2, p25, 0, nullptr, true, p30},
      {"by PIN, active only", 4, nullptr, 0x2A3B4C5D, nullptr, true, p20},
      {"by PIN, none", 4, nullptr, 7, nullptr, true, nullptr},
      {"by mailbox, case ignored", 5, nullptr, 0, "/O=QUILLON/CN=ZED", true, p30},
      {"by mailbox without a text", 5, nullptr, 0, nullptr, false, nullptr},
      {"tag 0: the first user, active or not", 6, nullptr, 0, nullptr, true, p10},
      {"another tag", 6, nullptr, 1, nullptr, true, nullptr},
      {"mode 0", 0, nullptr, 0, nullptr, false, nullptr},
      {"mode 7", 7, nullptr, 0, nullptr, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pager* current = c.from;
    EXPECT_EQ(database_->Seek(c.mode, &current, c.value, c.text), c.result);
    if (c.result) {
      EXPECT_EQ(current, c.found);
    }
  }
  EXPECT_FALSE(database_->Seek(1, nullptr, 0, nullptr));
  Pager* stranger = CreatePagerImp(database_.get());
  pager = stranger;
  EXPECT_FALSE(database_->Seek(2, &pager, 0, nullptr)) << "a current user that is not cached";
  delete stranger;
}

TEST_F(UserCacheTest, SeekOverNoActiveUserFindsNone) {
  Pager* pager = reinterpret_cast<Pager*>(1);
  ASSERT_TRUE(database_->Seek(2, &pager, 0, nullptr)) << "no users at all";
  EXPECT_EQ(pager, nullptr);
  database_->SetPagerDBStatus(Add(1), 0);
  database_->SetPagerDBStatus(Add(2), 0);
  pager = reinterpret_cast<Pager*>(1);
  ASSERT_TRUE(database_->Seek(1, &pager, 0, nullptr));
  EXPECT_EQ(pager, nullptr);
}

// The dump text of `pager`, freed as the caller must.
std::string Dump(PMDatabaseSQLImp& database, Pager* pager, bool* result, int start = 0) {
  char* text = nullptr;
  int length = start;
  *result = database.PagerDump(pager, &text, &length);
  std::string dumped = text != nullptr ? std::string(text + start) : "(none)";
  EXPECT_EQ(length, start + static_cast<int>(dumped.size()));
  std::free(text);
  return dumped;
}

TEST_F(UserCacheTest, PagerDumpWritesTheUsersLinesInOrder) {
  Pager* pager = Add(1);
  PagerRecord* record = Record(pager);
  record->SetDisplayName(L"John Smith");
  record->SetMailboxDN("/o=Quillon/cn=jsmith");
  record->SetServerDN("/o=Quillon/cn=MAIL1");
  record->SetDeviceIDCache(3, 0x2A3B4C5D);
  record->SetRedirectionState(1);
  bool result = false;
  EXPECT_EQ(Dump(*database_, pager, &result),
            "\tUserName: John Smith\n"
            "\tMailboxDN: /o=Quillon/cn=jsmith\n"
            "\tServerDN: /o=Quillon/cn=MAIL1\n"
            "\tDevice Type:GPRS <2A3B4C5D>\n"
            "\tRedirection Enabled\n"
            "\tExternal Services Disabled\n");
  EXPECT_TRUE(result);

  struct Case {
    int type;
    unsigned pin;
    const char* line;
  } cases[] = {{1, 100, "\tDevice Type:Mobitex <100>\n"}, {7, 0x1FFFFFFF, "\tDevice Type:3G <536870911>\n"},
               {9, 5, "\tDevice Type:Unknown <5>\n"}, {2, 0, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Pager* other = Add(static_cast<int>(10 + c.type));
    Record(other)->SetDeviceIDCache(c.type, c.pin);
    Record(other)->SetExtServicesState(1);
    EXPECT_EQ(Dump(*database_, other, &result), std::string(c.line) + "\tRedirection Disabled\n"
                                                                      "\tExternal Services Enabled\n");
  }
}

TEST_F(UserCacheTest, PagerDumpGivesLongNamesWhole) {
  Pager* pager = Add(1);
  const std::string longDN = "/o=Quillon/ou=" + std::string(3000, 'r') + "/cn=jsmith";
  Record(pager)->SetMailboxDN(longDN.c_str());
  Record(pager)->SetServerDN(longDN.c_str());
  Record(pager)->SetDisplayName(std::wstring(1500, L'n').c_str());
  bool result = false;
  const std::string text = Dump(*database_, pager, &result, 5);
  ASSERT_TRUE(result);
  EXPECT_EQ(text, "\tUserName: " + std::string(1500, 'n') + "\n\tMailboxDN: " + longDN + "\n\tServerDN: " + longDN +
                      "\n\tRedirection Disabled\n\tExternal Services Disabled\n");
}

TEST_F(UserCacheTest, PagerDumpOfAnUnknownUserHandsOutAnEmptyText) {
  Pager* stranger = CreatePagerImp(database_.get());
  bool result = true;
  EXPECT_EQ(Dump(*database_, stranger, &result), "");
  EXPECT_FALSE(result);
  delete stranger;
}

TEST_F(UserCacheTest, PagerDumpShowsANameTheCodePageCannotHold) {
  SetAnsiCodePageForTesting(20127);
  Pager* pager = Add(1);
  Record(pager)->SetDisplayName(L"Zo\u00EB");
  bool result = false;
  const std::string text = Dump(*database_, pager, &result);
  SetAnsiCodePageForTesting(0);
  EXPECT_EQ(text.substr(0, 16), "\tUserName: Zo?\n\t");
}

class ChangeFlagsTest : public UserRowsTest {
 protected:
  struct Recorder : ChangeListener {
    void OnUserEvent(int event, Pager* pager) override { events.emplace_back(event, pager); }
    void OnUserHistoryEvent(int, Pager*, int) override {}
    void OnServerSettingChanged(int) override {}
    std::vector<std::pair<int, Pager*>> events;
  };
};

TEST_F(ChangeFlagsTest, EachUserIsReportedDeletedOnceAndChangedUntilCleared) {
  Recorder listener;
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S1", false, 0, &listener));
  Pager* pager = Access::AddUser(*db, 8);

  EXPECT_TRUE(db->MarkPagerDeleted(8));
  EXPECT_FALSE(db->MarkPagerDeleted(8));
  EXPECT_FALSE(db->MarkPagerDeleted(9));
  EXPECT_TRUE(db->MarkPagerChanged(8, 3));
  EXPECT_FALSE(db->MarkPagerChanged(8, 4)) << "already flagged";
  EXPECT_EQ(Access::Record(*db, pager)->GetChangeValue(), 3);
  ASSERT_TRUE(db->ClearPagerFlag(8));
  EXPECT_TRUE(db->MarkPagerChanged(8, 5));
  EXPECT_EQ(listener.events, (std::vector<std::pair<int, Pager*>>{{256, pager}, {2, pager}, {2, pager}}));

  // Without a listener the flag is set but nobody is told.
  Pager* other = Access::AddUser(*database_, 9);
  EXPECT_FALSE(database_->MarkPagerChanged(9, 1));
  EXPECT_EQ(Access::Record(*database_, other)->GetChangedFlag(), 1);
}

class UserDeleteTest : public UserRowsTest {};

TEST_F(UserDeleteTest, TheCachedDeleteStatusFollowsWhatTheRowHolds) {
  // A deletion is initiated only from status 1 or 2; any other status, and
  // the modes that change nothing, leave the row and the cached status alone.
  const struct {
    int status;    // of the row and the cached record before
    unsigned mode;
    bool result;
    int reported;  // the new status handed out
    int after;     // of the row and the cached record
  } cases[] = {{1, 1, true, 3, 3}, {2, 2, true, 4, 4}, {0, 1, true, 3, 0}, {3, 2, true, 4, 3},
               {3, 3, true, 0, 3}, {4, 4, true, 0, 4}, {1, 0, false, 0, 1}};
  int id = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " mode " + std::to_string(c.mode));
    Pager* pager = AddUser(id, "UserDeleteStatus", std::to_string(c.status));
    Record(pager)->SetUserDeleteStatus(c.status);
    int reported = -1;
    EXPECT_EQ(database_->InitiateUserDelete(pager, c.mode, &reported), c.result);
    if (c.result) {
      EXPECT_EQ(reported, c.reported);
    }
    EXPECT_EQ(Text("SELECT UserDeleteStatus FROM UserConfig WHERE Id = " + std::to_string(id)),
              std::to_string(c.after));
    PagerRecord copy(nullptr, id);
    ASSERT_TRUE(database_->GetUserConfigRecord(pager, &copy));
    EXPECT_EQ(copy.GetUserDeleteStatus(), c.after);
    ++id;
  }
}

TEST_F(UserDeleteTest, CompletionDeletesAMarkedRowWithOrWithoutAFailureOutput) {
  Pager* reported = AddUser(1, "UserDeleteStatus", "3");
  bool failed = true;
  ASSERT_TRUE(database_->CompleteUserDelete(reported, &failed));
  EXPECT_FALSE(failed);
  EXPECT_EQ(Text("SELECT COUNT(*) FROM UserConfig WHERE Id = 1"), "0");

  Pager* quiet = AddUser(2, "UserDeleteStatus", "4");
  EXPECT_TRUE(database_->CompleteUserDelete(quiet, nullptr));
  EXPECT_EQ(Text("SELECT COUNT(*) FROM UserConfig WHERE Id = 2"), "0");
}

}  // namespace
