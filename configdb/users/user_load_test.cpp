// Users' rows loaded into records, one by one and from the batch array.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "configdb/core/open_database_for_tests.h"
#include "foundation/time_convert.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

std::string Hex(int first, int count) {
  std::string hex;
  char pair[3];
  for (int i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, "%02x", (first + i) & 0xFF);
    hex += pair;
  }
  return hex;
}

std::vector<std::uint8_t> Range(int first, int count) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(first + i));
  return bytes;
}

std::int64_t Time(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{
      static_cast<WORD>(year),   static_cast<WORD>(month),  0, static_cast<WORD>(day), static_cast<WORD>(hour),
      static_cast<WORD>(minute), static_cast<WORD>(second), 0};
  DATE date = 0;
  SystemTimeToVariantTime(&st, &date);
  return VariantDateToTime(date);
}

std::string Text(const char* text) { return text != nullptr ? text : "(null)"; }

// A ClientCertificateInfo value with one request, number 3.
constexpr char kCertificateInfo[] =
    "0118010150050103"
    "0202aabb03000400060007017808000901"
    "00";

class UserLoadTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (51, 'S51'), (52, 'S52')");
    // 501: every column set; 502: as little as a user needs; 503: no
    // display name; 504: another agent; 505: pending on this server.
    Sql(std::string("INSERT INTO UserConfig (Id, DisplayName, MailboxDN, ServerDN, DeviceType, PIN, "
                    "RedirectionState, ExtServicesState, CalendarEnableState, OTAFMUserConfig, "
                    "OTAFMConflictResolution, OTAFMState, OverrideSMTPAddr, OTAPIMState, lurnum, MailboxSMTPAddr, "
                    "ServerConfigId, PendingServerConfigId, PendingKey, CurrentKey, PreviousKey, CreationTime, "
                    "ITPolicy2Id, DeviceCapabilities, KeyDate, DataSourceId, ServiceBookName, AckData, "
                    "ActivationTime, RoutingInfo, UserDeleteStatus, PendingRoutingInfo, KeyGenPassword, "
                    "KeyGenExpiryTime, AutoSignature, RedirectWhenInCradle, DisableSentItems, AutoKeyGenerate, "
                    "DefaultFilterAction, Filters, SMIMEEnabled, GlobalResourceId, RefIdGenerator, "
                    "MailStoreDisplayName, DisclaimerText, DisclaimerTextPrepended, RedirectFromSelectedFolders, "
                    "RichContentEnabled, RichContentInlineEnabled, RichContentTrainingFileId, "
                    "NumberOfSelectedFolders, SelectedFolderTime, UserCertificates, UserPeerToPeerKey, "
                    "SyncingPersonalFolders, DisableRedirectRead, RedirectFromSentItems, DeviceUserId, "
                    "ClientCertificateInfo, AgentId) VALUES "
                    "(501, 'Zoë Ångström 日本', '/o=Org/cn=Recipients/cn=zoe', '/o=Org/cn=Servers/cn=MX1', 7, "
                    "'2000ABCD', 2, 0, 3, 5, 6, 3, 'alias@example.com', 8, '\\x") +
        Hex(1, 9) + "', 'zoe@example.com', 51, 52, '\\x" + Hex(0, 80) + "', '\\x" + Hex(100, 72) + "', '\\x" +
        Hex(200, 75) +
        "', '2021-03-04 05:06:07', 9, '\\x0a0b', '2022-01-01 00:00:00', '\\x0c', 'Bücher', '\\x0d0e', "
        "'2023-06-07 08:09:10', 'route', 1, 'pending route', 'secret', '2024-12-31 23:59:59', "
        "E'Gruß\\nZoë\\r\\nEnde\\n', 1, -1, 1, 1, E'  rule\\n ', 1, 'AB', 77, 'Postfach', 'Disclaimer ü', "
        "'Prepended', 1, 1, -1, -2, 4, 1234, '\\x0f', '\\x10', 1, 0, 1, 99, '\\x" +
        kCertificateInfo +
        "', 0),"
        "(502, 'Minimal', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 3, NULL, NULL, NULL, NULL, 51, "
        "NULL, '\\x" +
        Hex(0, 40) +
        "', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0, "
        "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
        "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0)");
    Sql("INSERT INTO UserConfig (Id, DisplayName, MailboxDN, ServerConfigId, AgentId) VALUES "
        "(503, NULL, '/o=Org/cn=nameless', 51, 0), (504, 'Agent Two', '/o=Org/cn=two', 51, 2)");
    Sql("INSERT INTO UserConfig (Id, DisplayName, ServerConfigId, PendingServerConfigId) VALUES "
        "(505, 'Moving In', 52, 51), (506, 'Elsewhere', 52, NULL)");
  }
};

// The fields of the full user as both loaders must leave them.
void ExpectFullUser(PagerRecord& r) {
  wchar_t* name = nullptr;
  r.GetDisplayName(&name);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::wstring(name), L"Zo\u00eb \u00c5ngstr\u00f6m \u65e5\u672c");
  char* text = nullptr;
  r.GetMailboxDN(&text);
  EXPECT_EQ(Text(text), "/o=Org/cn=Recipients/cn=zoe");
  r.GetServerDN(&text);
  EXPECT_EQ(Text(text), "/o=Org/cn=Servers/cn=MX1");
  r.GetOverrideSMTPAddr(&text);
  EXPECT_EQ(Text(text), "alias@example.com");
  r.GetMailboxSMTPAddr(&text);
  EXPECT_EQ(Text(text), "zoe@example.com");
  r.GetRoutingInfo(&text);
  EXPECT_EQ(Text(text), "route");
  r.GetPendingRoutingInfo(&text);
  EXPECT_EQ(Text(text), "pending route");
  EXPECT_EQ(r.GetUserId(), 501);
  EXPECT_EQ(r.GetDeviceType(), 7);
  EXPECT_EQ(r.GetPINNumber(), 0x2000ABCDu);
  EXPECT_EQ(r.GetRedirectionState(), 1);
  EXPECT_EQ(r.GetExtServicesState(), 0);
  EXPECT_EQ(r.GetCalendarEnableState(), 3);
  EXPECT_EQ(r.GetOTAFMUserConfig(), 5) << "OTAFMUserConfig wins over OTAFMState";
  EXPECT_EQ(r.GetOTAFMConflictResolution(), 6);
  EXPECT_EQ(r.GetOTAPIMState(), 8);
  EXPECT_FALSE(r.LurnumDiffers(Range(1, 8).data(), 8)) << "the first 8 of 9 bytes";
  EXPECT_EQ(r.GetServerConfigId(), 51);
  EXPECT_EQ(r.GetPendingServerConfigId(), 52);
  const std::uint8_t* key = nullptr;
  r.GetEncryptionKey(3, &key);
  EXPECT_EQ(std::vector<std::uint8_t>(key, key + 72), Range(0, 72)) << "PendingKey, first 72 of 80";
  r.GetEncryptionKey(2, &key);
  EXPECT_EQ(std::vector<std::uint8_t>(key, key + 72), Range(100, 72));
  r.GetEncryptionKey(1, &key);
  EXPECT_EQ(std::vector<std::uint8_t>(key, key + 72), Range(200, 72));
  EXPECT_EQ(r.GetCreationTime(), Time(2021, 3, 4, 5, 6, 7));
  EXPECT_EQ(r.GetITPolicy2Id(), 9);
  EXPECT_TRUE(r.IsEqualDeviceCapabilities("\x0a\x0b", 2));
  std::int64_t time = 0;
  r.GetKeyDate(&time);
  EXPECT_EQ(time, Time(2022, 1, 1, 0, 0, 0));
  EXPECT_TRUE(r.IsEqualDataSourceId("\x0c", 1));
  EXPECT_EQ(std::wstring(r.GetServiceBookName()), L"B\u00fccher");
  EXPECT_TRUE(r.IsEqualAckData("\x0d\x0e", 2));
  r.GetActivationTime(&time);
  EXPECT_EQ(time, Time(2023, 6, 7, 8, 9, 10));
  EXPECT_EQ(r.GetUserDeleteStatus(), 1);
  EXPECT_EQ(std::wstring(r.GetKeyGenPassword().GetWide()), L"secret");
  r.GetKeyGenExpiryTime(&time);
  EXPECT_EQ(time, Time(2024, 12, 31, 23, 59, 59));
  EXPECT_EQ(std::wstring(r.GetAutoSignature().GetWide()), L"Gru\u00df\r\nZo\u00eb\r\nEnde\r\n");
  EXPECT_EQ(r.GetRedirectWhenInCradle(), 1);
  EXPECT_EQ(r.GetDisableSentItems(), 0) << "-1 is not above 0";
  EXPECT_EQ(r.GetAutoKeyGenerate(), 1);
  EXPECT_EQ(r.GetDefaultFilterAction(), 1);
  EXPECT_EQ(std::wstring(r.GetFilters().GetWide()), L"rule") << "with CR LF, then trimmed";
  EXPECT_EQ(r.GetSMIMEEnabled(), 1);
  EXPECT_EQ(r.GetGlobalResourceId(), 0x41420000) << "two letters in the two high bytes";
  EXPECT_EQ(r.GetRefIdGenerator(), 77);
  EXPECT_EQ(std::wstring(r.GetMailStoreDisplayName()), L"Postfach");
  EXPECT_EQ(std::wstring(r.GetDisclaimerText().GetWide()), L"Disclaimer \u00fc");
  EXPECT_EQ(std::wstring(r.GetDisclaimerTextPrepended().GetWide()), L"Prepended");
  EXPECT_EQ(r.GetRedirectFromSelectedFolders(), 1);
  EXPECT_EQ(r.GetRichContentEnabled(), 1);
  EXPECT_EQ(r.GetRichContentInlineEnabled(), 1) << "-1, a boolean's true, counts as set";
  EXPECT_EQ(r.GetRichContentTrainingFileId(), -2);
  EXPECT_EQ(r.GetNumberOfSelectedFolders(), 4);
  EXPECT_EQ(r.GetSelectedFolderTime(), 1234);
  EXPECT_TRUE(r.IsEqualUserCertificates("\x0f", 1));
  EXPECT_TRUE(r.IsEqualUserPeerToPeerKey("\x10", 1));
  EXPECT_EQ(r.GetSyncingPersonalFolders(), 1);
  EXPECT_EQ(r.GetDisableRedirectRead(), 0);
  EXPECT_EQ(r.GetRedirectFromSentItems(), 1);
  EXPECT_EQ(r.GetDeviceUserId(), 99);
  const CertificateInfo* certificates = r.GetCertificateInfo();
  ASSERT_EQ(certificates->GetEntries().size(), 1u);
  EXPECT_EQ(certificates->GetEntries().count(3), 1u);
  EXPECT_EQ(certificates->GetUserName(), L"zoe@example.com") << "named after MailboxSMTPAddr";
}

TEST_F(UserLoadTest, BothLoadersFillEveryColumnAlike) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S51"));
  {
    SCOPED_TRACE("by id");
    PagerRecord record(nullptr, 0);
    ASSERT_EQ(db->LoadUserConfig(501, &record, nullptr), 1);
    ExpectFullUser(record);
  }
  {
    SCOPED_TRACE("by MailboxDN, in another case");
    PagerRecord record(nullptr, 0);
    ASSERT_EQ(db->LoadUserConfig(0, &record, "/O=ORG/cn=recipients/CN=Zoe"), 1);
    ExpectFullUser(record);
  }
  {
    SCOPED_TRACE("from the user array");
    _variant_t rows;
    ASSERT_TRUE(GetUserList(rows, 51, 0));
    PagerRecord record(nullptr, 0);
    ASSERT_EQ(db->LoadUserConfigVariant(501, &record, &rows), 1);
    ExpectFullUser(record);
    EXPECT_EQ(db->LoadUserConfigVariant(501, nullptr, &rows), 0);
    EXPECT_EQ(db->LoadUserConfigVariant(0, &record, &rows), 0);
    const _variant_t none;
    EXPECT_EQ(db->LoadUserConfigVariant(501, &record, &none), 0);
    PagerRecord untouched(nullptr, 0);
    untouched.SetServerDN("/kept");
    EXPECT_EQ(db->LoadUserConfigVariant(999, &untouched, &rows), 0);
    char* text = nullptr;
    untouched.GetServerDN(&text);
    EXPECT_EQ(Text(text), "/kept");
  }
}

TEST_F(UserLoadTest, MissingValuesKeepOrResetFieldsAsEachColumnSays) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S51"));
  _variant_t rows;
  ASSERT_TRUE(GetUserList(rows, 51, 0));
  for (bool fromArray : {false, true}) {
    SCOPED_TRACE(fromArray ? "array" : "recordset");
    PagerRecord record(nullptr, 0);
    record.SetServerDN("/previous");
    record.SetEncryptionKey(3, Range(9, 72).data(), 72);
    record.SetRichContentTrainingFileId(5);
    record.SetRefIdGenerator(5);
    record.SetAutoSignature(zev::ZEVString(L"old"));
    record.SetKeyGenPassword(zev::ZEVString(L"old"));
    record.SetDisclaimerText(L"old");
    record.SetRichContentEnabled(1);
    ASSERT_EQ(fromArray ? db->LoadUserConfigVariant(502, &record, &rows) : db->LoadUserConfig(502, &record, nullptr),
              1);
    char* text = nullptr;
    record.GetServerDN(&text);
    EXPECT_EQ(Text(text), "/previous");
    EXPECT_EQ(record.GetOTAFMUserConfig(), 3) << "OTAFMState when OTAFMUserConfig is NULL";
    const std::uint8_t* key = nullptr;
    record.GetEncryptionKey(3, &key);
    EXPECT_EQ(std::vector<std::uint8_t>(key, key + 72), Range(9, 72)) << "40 bytes are not a key";
    EXPECT_EQ(record.GetRichContentTrainingFileId(), -1);
    EXPECT_EQ(record.GetRefIdGenerator(), 0);
    EXPECT_EQ(record.GetRichContentEnabled(), 0);
    EXPECT_EQ(std::wstring(record.GetAutoSignature().GetWide()), L"");
    EXPECT_EQ(std::wstring(record.GetKeyGenPassword().GetWide()), L"");
    EXPECT_EQ(std::wstring(record.GetDisclaimerText().GetWide()), L"");
  }
}

TEST_F(UserLoadTest, SingleLoadsFindNothingOrFail) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S51"));
  PagerRecord record(nullptr, 0);
  LoggedLines log;
  EXPECT_EQ(db->LoadUserConfig(0, &record, nullptr), 0);
  EXPECT_EQ(db->LoadUserConfig(999, &record, nullptr), 0);
  EXPECT_EQ(db->LoadUserConfig(0, &record, "/o=none"), 0);
  const auto lines = log.Stop();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].text.find(L"MailBox and User Id is empty"), std::wstring::npos);

  DatabasePtr agent = NewDatabase();
  ASSERT_TRUE(OpenServer(*agent, "S51", false, 2));
  EXPECT_EQ(agent->LoadUserConfig(501, &record, nullptr), 0) << "another agent's user";
  EXPECT_EQ(agent->LoadUserConfig(504, &record, nullptr), 1);
}

TEST_F(UserLoadTest, TheUserListProcedureGivesTheRowsAndTheNewestHistoryId) {
  Sql("INSERT INTO ConfigHistory (Id, ChangeType) VALUES (5000000001, 1)");
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "S51"));
  ConnectionHolder holder;
  ASSERT_NE(holder.get(), nullptr);
  _variant_t rows;
  std::int64_t newest = 0;
  ASSERT_TRUE(db->LoadUserArray(&rows, &holder, &newest));
  EXPECT_EQ(newest, 5000000001) << "all 64 bits";
  LONG upper = -1;
  ASSERT_EQ(SafeArrayGetUBound(rows.parray, 2, &upper), S_OK);
  EXPECT_EQ(upper + 1, 5) << "501 to 505: 505 is moving in";
  PagerRecord record(nullptr, 0);
  ASSERT_EQ(db->LoadUserConfigVariant(501, &record, &rows), 1);
  ExpectFullUser(record);
  Sql("DELETE FROM ConfigHistory");
}

}  // namespace
