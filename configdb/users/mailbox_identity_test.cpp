#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "configdb/core/pm_database_for_tests.h"
#include "configdb/users/user_rows_for_tests.h"
#include "device/pager.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

constexpr char kMailbox[] = "/o=Quillon/ou=Site/cn=Recipients/cn=jsmith";
constexpr char kServer[] = "/o=Quillon/ou=Site/cn=Servers/cn=MAIL1";
constexpr char kMovedServer[] = "/o=Quillon/ou=Site/cn=Servers/cn=MAIL2";
constexpr char kSmtp[] = "john.smith@quillon.example";

TEST(SetDNsCacheTest, AnUnknownUserIsRefusedWithAnEmptyMask) {
  DatabasePtr database = NewDatabase();
  Pager* stranger = CreatePagerImp(database.get());
  std::uint8_t mask = 99;
  HRESULT result = 5;
  bool sanityFailed = true;
  EXPECT_FALSE(database->SetDNs(stranger, kMailbox, kServer, L"John", nullptr, kSmtp, &mask, &result, true,
                                &sanityFailed));
  EXPECT_EQ(mask, 0);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(sanityFailed);
  delete stranger;
}

class SetDNsTest : public UserRowsTest {
 protected:
  // A user as the check finds him: stored mailbox, server, name, address.
  Pager* AddJohn(int id, const char* smtp = kSmtp, const char* override = nullptr) {
    const std::string smtpValue = smtp != nullptr ? "'" + std::string(smtp) + "'" : "NULL";
    const std::string overrideValue = override != nullptr ? "'" + std::string(override) + "'" : "NULL";
    Pager* pager = AddUser(id, "MailboxDN, ServerDN, DisplayName, MailboxSMTPAddr, OverrideSMTPAddr",
                           "'" + std::string(kMailbox) + "', '" + kServer + "', 'John Smith', " + smtpValue + ", " +
                               overrideValue);
    PagerRecord* record = Record(pager);
    record->SetMailboxDN(kMailbox);
    record->SetServerDN(kServer);
    record->SetDisplayName(L"John Smith");
    record->SetMailboxSMTPAddr(smtp);
    record->SetOverrideSMTPAddr(override);
    return pager;
  }
  std::string Column(const char* column, int id) {
    return Text(std::string("SELECT ") + column + " FROM UserConfig WHERE Id = " + std::to_string(id));
  }
};

TEST_F(SetDNsTest, WritesExactlyTheChangedColumnsAndThenTheCache) {
  struct Case {
    const char* what;
    const char* mailbox;
    const char* server;
    const wchar_t* name;
    const char* home;
    const char* smtp;
    const char* storedSmtp;
    const char* storedOverride;
    std::uint8_t mask;
  } cases[] = {
      {"all equal, case and null ignored", "/O=QUILLON/ou=Site/cn=Recipients/cn=JSMITH", kServer, L"john smith",
       nullptr, kSmtp, kSmtp, nullptr, 0},
      {"moved mailbox", kMailbox, kMovedServer, L"John Smith", nullptr, kSmtp, kSmtp, nullptr, 2},
      {"renamed", kMailbox, kServer, L"John Q. Smith", nullptr, kSmtp, kSmtp, nullptr, 4},
      {"new mailbox DN", "/o=Quillon/ou=Site/cn=Recipients/cn=jsmith2", kServer, L"John Smith", nullptr, kSmtp,
       kSmtp, nullptr, 1},
      {"new address", kMailbox, kServer, L"John Smith", nullptr, "js@quillon.example", kSmtp, nullptr, 16},
      {"first address of a user who had none", kMailbox, kServer, L"John Smith", nullptr, kSmtp, nullptr, nullptr,
       16},
      {"override equal to the stored address keeps it", kMailbox, kServer, L"John Smith", nullptr,
       "js@quillon.example", kSmtp, "JOHN.SMITH@quillon.example", 0},
      {"another override does not", kMailbox, kServer, L"John Smith", nullptr, "js@quillon.example", kSmtp,
       "other@quillon.example", 16},
      {"moved and new address", kMailbox, kMovedServer, L"John Smith", nullptr, "js@quillon.example", kSmtp,
       nullptr, 18},
      {"home store alone", kMailbox, kServer, L"John Smith", "/o=Quillon/cn=MDB2", kSmtp, kSmtp, nullptr, 8},
      {"everything", "/o=Quillon/cn=other", kMovedServer, L"Other", "/o=Quillon/cn=MDB2", "o@quillon.example",
       kSmtp, nullptr, 31},
  };
  int id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ++id;
    Pager* pager = AddJohn(id, c.storedSmtp, c.storedOverride);
    std::uint8_t mask = 0xFF;
    HRESULT result = -1;
    ASSERT_TRUE(database_->SetDNs(pager, c.mailbox, c.server, c.name, c.home, c.smtp, &mask, &result, false,
                                  nullptr));
    EXPECT_EQ(mask, c.mask);

    // Columns: the new value where its bit is set, the old one elsewhere.
    const auto expected = [&](std::uint8_t bit, const char* now, const char* before) {
      return (c.mask & bit) != 0 ? std::string(now) : (before != nullptr ? std::string(before) : "NULL");
    };
    EXPECT_EQ(Column("MailboxDN", id), expected(1, c.mailbox, kMailbox));
    EXPECT_EQ(Column("ServerDN", id), expected(2, c.server, kServer));
    EXPECT_EQ(Column("DisplayName", id), (c.mask & 4) != 0 ? std::string(c.name, c.name + wcslen(c.name))
                                                             : std::string("John Smith"));
    EXPECT_EQ(Column("MailboxSMTPAddr", id), expected(16, c.smtp, c.storedSmtp));

    char text[512] = {};
    ASSERT_TRUE(database_->GetServerDN(pager, text, sizeof text));
    EXPECT_STREQ(text, (c.mask & 2) != 0 ? c.server : kServer);
    text[0] = '\0';
    ASSERT_TRUE(database_->GetEmailAddress(pager, text, sizeof text));
    EXPECT_STREQ(text, (c.mask & 16) != 0 ? c.smtp : (c.storedSmtp != nullptr ? c.storedSmtp : ""));
    text[0] = '\0';
    ASSERT_TRUE(database_->GetHomeMDB(pager, text, sizeof text));
    EXPECT_STREQ(text, (c.mask & 8) != 0 ? c.home : "");
  }
}

TEST_F(SetDNsTest, ASecondCallWithTheSameValuesFindsNothingToChange) {
  Pager* pager = AddJohn(1);
  std::uint8_t mask = 0;
  HRESULT result = 0;
  ASSERT_TRUE(database_->SetDNs(pager, kMailbox, kMovedServer, L"John Smith", kMailbox, kSmtp, &mask, &result,
                                false, nullptr));
  EXPECT_EQ(mask, 2 | 8);
  ASSERT_TRUE(database_->SetDNs(pager, kMailbox, kMovedServer, L"John Smith", kMailbox, kSmtp, &mask, &result,
                                false, nullptr));
  EXPECT_EQ(mask, 0);
}

TEST_F(SetDNsTest, TheSanityCheckRefusesExcessiveChangesAndWritesNothing) {
  Pager* pager = AddJohn(1);
  std::uint8_t mask = 0;
  HRESULT result = 0;
  bool sanityFailed = false;
  EXPECT_FALSE(database_->SetDNs(pager, "/o=Quillon/cn=someone", kServer, L"Someone Else", nullptr,
                                 "someone@quillon.example", &mask, &result, true, &sanityFailed));
  EXPECT_EQ(mask, 21);
  EXPECT_TRUE(sanityFailed);
  EXPECT_EQ(Column("MailboxDN", 1), kMailbox);
  EXPECT_EQ(Column("DisplayName", 1), "John Smith");

  // Without the check the same change is written.
  ASSERT_TRUE(database_->SetDNs(pager, "/o=Quillon/cn=someone", kServer, L"Someone Else", nullptr,
                                "someone@quillon.example", &mask, &result, false, nullptr));
  EXPECT_EQ(Column("MailboxDN", 1), "/o=Quillon/cn=someone");
}

TEST_F(SetDNsTest, ANonAsciiNameIsWrittenAsWideText) {
  Pager* pager = AddJohn(1);
  std::uint8_t mask = 0;
  HRESULT result = 0;
  ASSERT_TRUE(database_->SetDNs(pager, kMailbox, kServer, L"Zo\u00EB M\u00FCller \u4E2D", nullptr, kSmtp, &mask,
                                &result, false, nullptr));
  EXPECT_EQ(mask, 4);
  EXPECT_EQ(Text("SELECT (DisplayName = U&'Zo\\00EB M\\00FCller \\4E2D')::int FROM UserConfig WHERE Id = 1"), "1");
}

TEST_F(SetDNsTest, SetDisplayNameWritesTheNameOrNull) {
  Pager* pager = AddJohn(1);
  ASSERT_TRUE(database_->SetDisplayNameW(pager, L"Johnny"));
  EXPECT_EQ(Column("DisplayName", 1), "Johnny");
  wchar_t name[32] = {};
  ASSERT_TRUE(database_->GetDisplayNameW(pager, name, 32));
  EXPECT_STREQ(name, L"Johnny");

  ASSERT_TRUE(database_->SetDisplayNameW(pager, L""));
  EXPECT_EQ(Column("DisplayName", 1), "NULL");
  wchar_t* cached = name;
  Record(pager)->GetDisplayName(&cached);
  EXPECT_STREQ(cached, L"");
}

class DeviceIdTest : public UserRowsTest {
 protected:
  Pager* AddDevice(int id, int type, const char* pin) {
    Pager* pager = AddUser(id, "DeviceType, PIN", std::to_string(type) + ", '" + pin + "'");
    Record(pager)->SetDeviceType(type);
    Record(pager)->SetPIN(zev::ZEVString(pin));
    return pager;
  }
  std::string Pair(int id) {
    return Text("SELECT DeviceType || ' ' || PIN FROM UserConfig WHERE Id = " + std::to_string(id));
  }
};

TEST_F(DeviceIdTest, ANewPairIsWrittenAndCached) {
  Pager* pager = AddDevice(1, 3, "100");
  DeviceIDRecord ids;
  ids.DeviceType = 4;
  ids.PIN = 0x2A3B4C5D;
  bool taken = false;
  ASSERT_TRUE(database_->SetDeviceIDCache(pager, &ids, 0, true, &taken));
  EXPECT_FALSE(taken);
  EXPECT_EQ(Pair(1), "4 2A3B4C5D");

  DeviceIDRecord out;
  std::uint32_t size = 64;
  ASSERT_TRUE(database_->GetDeviceIDCache(pager, &out, &size));
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(out.DeviceType, 4);
  EXPECT_EQ(out.PIN, 0x2A3B4C5Du);
  size = 19;
  EXPECT_FALSE(database_->GetDeviceIDCache(pager, &out, &size));

  bool changed = true;
  char pinText[32] = {};
  ASSERT_TRUE(database_->GetDeviceIDCache(pager, &ids, &changed, pinText, sizeof pinText));
  EXPECT_FALSE(changed);
  EXPECT_STREQ(pinText, "2A3B4C5D");
  ids.DeviceType = 5;
  ASSERT_TRUE(database_->GetDeviceIDCache(pager, &ids, &changed, pinText, sizeof pinText));
  EXPECT_TRUE(changed);
}

TEST_F(DeviceIdTest, TheCachedPairAndTheNoPinValueWriteNothing) {
  Pager* pager = AddDevice(1, 3, "100");
  Sql("UPDATE UserConfig SET DeviceType = 9 WHERE Id = 1");  // shows any write
  DeviceIDRecord ids;
  ids.DeviceType = 3;
  ids.PIN = 100;
  EXPECT_TRUE(database_->SetDeviceIDCache(pager, &ids, 0, false, nullptr));
  ids.DeviceType = 4;
  ids.PIN = 0xFFFFFFFFu;
  EXPECT_TRUE(database_->SetDeviceIDCache(pager, &ids, 0, false, nullptr));
  EXPECT_EQ(Pair(1), "9 100");
}

TEST_F(DeviceIdTest, TheGuardRefusesAPinOfAnotherUserButNotTheUsersOwn) {
  Pager* first = AddDevice(1, 3, "100");
  AddDevice(2, 3, "200");
  DeviceIDRecord ids;
  ids.DeviceType = 3;
  ids.PIN = 200;
  bool taken = false;
  EXPECT_FALSE(database_->SetDeviceIDCache(first, &ids, 0, true, &taken));
  EXPECT_TRUE(taken);
  EXPECT_EQ(Pair(1), "3 100");

  // The user's own PIN with a new device type.
  ids.DeviceType = 7;
  ids.PIN = 100;
  taken = false;
  ASSERT_TRUE(database_->SetDeviceIDCache(first, &ids, 0, true, &taken));
  EXPECT_FALSE(taken);
  EXPECT_EQ(Pair(1), "7 100");
}

TEST_F(DeviceIdTest, AUserWithoutARowIsNotReportedAsHoldingAnotherUsersPin) {
  Pager* ghost = Access::AddUser(*database_, 50);
  DeviceIDRecord ids;
  ids.DeviceType = 3;
  ids.PIN = 300;
  bool taken = false;
  EXPECT_FALSE(database_->SetDeviceIDCache(ghost, &ids, 0, true, &taken));
  EXPECT_FALSE(taken);
}

}  // namespace
