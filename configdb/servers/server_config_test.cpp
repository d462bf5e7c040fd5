// The server configuration row read by name and by id on PostgreSQL.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "configdb/core/open_database_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

std::vector<std::uint8_t> Bytes(const ByteBuffer& buffer) {
  return std::vector<std::uint8_t>(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

class ServerConfigTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO ServerConfig (Id, ServiceName, ServerDN, MachineName, MailServerName, LinkStatus, SRPHostName, "
        "SRPId, SRPKey, ExternalServicesPort, AdminAcctName, ExternalServices, GlobalFilter, RPCEndPoint, HRT, "
        "DisclaimerText, AutoBCCName, AutoBCCAddr, VEXVersion, EnableSMIME, OTAFMSupport, OTAFMEnable, "
        "ServerLTKeyPair, SendHeadersOnly, PrePopulationDays, PrePopulationMessage, MigrationComplete, "
        "InternalQIPPPort, PolicyResendTimeout, EnabledEncryptionAlgs, OTAFMHardDeleteEnabled, MessageStateDbSize, "
        "MaxAttachUploadSize, MaxAttachTotalUploadSize, DisclaimerTextPrepended, DisclaimerTextRule, "
        "MaxAttachDownloadSize, GlobalFilterBin, RichContentEnabled, RichContentInlineEnabled, RemoteSearchEnabled, "
        "FreeBusyEnabled, RemoteSearchMaxNumOfResults) VALUES "
        "(11, 'Relay Nord', '/o=Org/ou=Site/cn=Servers/cn=NORD', 'nord01', 'mail01', 2, 'srp.example.com', "
        "'S12345', '\\x5352504b6579', 3101, 'Admin', 1, '<filter a=\"1\"/>', 'ncacn', 'hrt', "
        "'Vertraulich – ünd', 'Bcc', 'bcc@example.com', '5.0.1', 1, 2, 1, '\\x4c54', 1, 45, 5000, -1, 4101, -1, "
        "259, true, 250, 1024, 4096, 'Vorab', 258, 2048, '\\x4642', false, false, false, false, 25), "
        "(12, 'Bare', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
        "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
        "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  }
};

TEST_F(ServerConfigTest, ReadsEveryColumnOfTheRowFoundByNameWhateverItsCase) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "relay NORD"));
  EXPECT_EQ(Access::ServerConfigId(*db), 11);
  const ServerConfigValues& s = Access::Server(*db);
  EXPECT_EQ(s.ServiceName, "Relay Nord") << "the stored spelling replaces the one looked up";
  EXPECT_EQ(s.ServerDN, "/o=Org/ou=Site/cn=Servers/cn=NORD");
  EXPECT_EQ(s.MachineName, "nord01");
  EXPECT_EQ(s.MailServerName, "mail01");
  EXPECT_EQ(s.LinkStatus, 2);
  EXPECT_EQ(s.SRPHostName, "srp.example.com");
  EXPECT_EQ(s.SRPID, "S12345");
  EXPECT_EQ(Bytes(s.SRPKey), (std::vector<std::uint8_t>{'S', 'R', 'P', 'K', 'e', 'y'}));
  EXPECT_EQ(s.ExternalServicesPort, 3101);
  EXPECT_EQ(s.AdminAcctName, "Admin");
  EXPECT_EQ(s.ExternalServices, 1);
  EXPECT_EQ(zev::ZEVString(s.GlobalFilter).GetWide(), std::wstring(L"<filter a=\"1\"/>"));
  EXPECT_EQ(s.RPCEndPoint, "ncacn");
  EXPECT_EQ(s.HRT, "hrt");
  EXPECT_EQ(s.DisclaimerTextW, L"Vertraulich \u2013 \u00fcnd");
  EXPECT_EQ(s.AutoBCCName, "Bcc");
  EXPECT_EQ(s.AutoBCCAddr, "bcc@example.com");
  EXPECT_EQ(s.VEXVersion, "5.0.1");
  EXPECT_EQ(s.EnableSMIME, 1);
  EXPECT_EQ(Bytes(s.PeerToPeerKeyData), (std::vector<std::uint8_t>{0x0a, 0x0b, 0x0c})) << "from GlobalSettings";
  EXPECT_EQ(s.OTAFMSupport, 2);
  EXPECT_EQ(s.OTAFMEnable, 1);
  EXPECT_EQ(Bytes(s.ServerLTKeyPair), (std::vector<std::uint8_t>{'L', 'T'}));
  EXPECT_EQ(s.SendHeadersOnly, 1);
  EXPECT_EQ(s.PrePopulationDays, 30) << "capped";
  EXPECT_EQ(s.PrePopulationMessage, 3000) << "capped";
  EXPECT_TRUE(s.MigrationComplete) << "-1 is not 0";
  EXPECT_EQ(s.InternalQIPPPort, 4101);
  EXPECT_EQ(s.PolicyResendTimeout, -1);
  EXPECT_EQ(s.EnabledEncryptionAlgs, 3) << "the low 8 bits of 259";
  EXPECT_TRUE(s.OTAFMHardDeleteEnabled);
  EXPECT_EQ(s.MessageStateDbSize, 250);
  EXPECT_EQ(s.MaxAttachUploadSize, 1024);
  EXPECT_EQ(s.MaxAttachTotalUploadSize, 4096);
  EXPECT_EQ(s.DisclaimerTextPrepended, "Vorab");
  EXPECT_EQ(s.DisclaimerTextRuleLow, 2);
  EXPECT_EQ(s.DisclaimerTextRuleHigh, 1);
  EXPECT_EQ(s.MaxAttachDownloadSize, 2048);
  EXPECT_EQ(Bytes(s.GlobalFilterBin), (std::vector<std::uint8_t>{'F', 'B'}));
  EXPECT_FALSE(s.RichContentEnabled);
  EXPECT_FALSE(s.RichContentInlineEnabled);
  EXPECT_FALSE(s.RemoteSearchEnabled);
  EXPECT_FALSE(s.FreeBusyEnabled);
  EXPECT_EQ(s.RemoteSearchMaxNumOfResults, 25);
}

TEST_F(ServerConfigTest, NullColumnsKeepTheirValueButTheClearedOnesEmpty) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "Relay Nord"));
  // The same object reads the bare row by id, as a reload does.
  Access::SetServerConfigId(*db, 12);
  ASSERT_TRUE(db->LoadServerConfig(12));
  const ServerConfigValues& s = Access::Server(*db);
  EXPECT_EQ(Access::ServerConfigId(*db), 12);
  EXPECT_EQ(s.ServiceName, "Bare");
  EXPECT_EQ(s.ServerDN, "/o=Org/ou=Site/cn=Servers/cn=NORD") << "kept";
  EXPECT_EQ(s.ExternalServicesPort, 3101) << "kept";
  EXPECT_EQ(Bytes(s.SRPKey).size(), 6u) << "kept";
  EXPECT_TRUE(s.MigrationComplete) << "kept";
  EXPECT_EQ(s.MessageStateDbSize, 250) << "kept";
  EXPECT_EQ(s.HRT, "");
  EXPECT_EQ(s.DisclaimerText, "");
  EXPECT_EQ(s.DisclaimerTextW, L"");
  EXPECT_EQ(s.DisclaimerTextPrependedW, L"");
  EXPECT_EQ(s.AutoBCCName, "");
  EXPECT_EQ(s.AutoBCCAddr, "");
  EXPECT_EQ(s.DisclaimerTextRuleLow, 0);
  EXPECT_EQ(s.DisclaimerTextRuleHigh, 0);
  EXPECT_EQ(s.PrePopulationDays, 0);
  EXPECT_EQ(s.PrePopulationMessage, 0);

  Access::MutableServer(*db).ServiceName = "No Such Server";
  EXPECT_FALSE(db->LoadServerConfig(0));
  EXPECT_EQ(Access::ServerConfigId(*db), 12) << "no row: nothing changes";
}

TEST_F(ServerConfigTest, ReloadReadsTheColumnsAsTheLoadDoes) {
  Sql("INSERT INTO ServerConfig (Id, ServiceName, PrePopulationDays, PrePopulationMessage, MigrationComplete, "
      "RichContentEnabled, GlobalFilter) VALUES (13, 'Reloaded', 45, 5000, -1, true, 'f1')");
  DatabasePtr db = NewDatabase();
  RecordingListener listener;
  ASSERT_TRUE(OpenServer(*db, "Reloaded", false, 0, &listener));
  EXPECT_TRUE(listener.serverEvents.empty()) << "the listener is stored after the first load";
  const ServerConfigValues& s = Access::Server(*db);

  Sql("UPDATE ServerConfig SET PrePopulationDays = -5, GlobalFilter = 'f2' WHERE Id = 13");
  ASSERT_TRUE(db->ReloadServerConfig());
  EXPECT_EQ(s.PrePopulationDays, -5);
  EXPECT_EQ(s.PrePopulationMessage, 3000) << "capped as the load caps it";
  EXPECT_TRUE(s.MigrationComplete) << "-1 is set, as for the load";
  EXPECT_TRUE(s.RichContentEnabled);
  EXPECT_EQ(std::wstring(zev::ZEVString(s.GlobalFilter).GetWide()), L"f2");
  EXPECT_TRUE(listener.serverEvents.empty()) << "the interface's re-read tells no one";

  Sql("UPDATE ServerConfig SET PrePopulationDays = NULL, GlobalFilter = 'f3' WHERE Id = 13");
  ASSERT_TRUE(db->LoadServerConfig(13));
  EXPECT_EQ(s.PrePopulationDays, 0);
  ASSERT_TRUE(db->LoadServerConfig(13));
  EXPECT_EQ(listener.serverEvents, std::vector<int>{8}) << "a new global filter is told once";

  Sql("DELETE FROM ServerStats WHERE ServerConfigId = 13; DELETE FROM ServerConfig WHERE Id = 13");
  EXPECT_FALSE(db->ReloadServerConfig());
  EXPECT_EQ(std::wstring(zev::ZEVString(s.GlobalFilter).GetWide()), L"f3");
}

TEST_F(ServerConfigTest, ReadersNeverSeeAByteValueWhileAReloadReplacesIt) {
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(OpenServer(*db, "Relay Nord"));
  std::atomic<bool> done{false};
  int reloads = 0;
  std::thread reloader([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (; reloads < 20 && db->ReloadServerConfig(); ++reloads) {
    }
    done = true;
    CoUninitialize();
  });
  int reads = 0;
  while (!done) {
    std::uint8_t key[16] = {};
    std::uint32_t length = sizeof key;
    ASSERT_TRUE(db->GetAuthenticationKey(key, &length));
    ASSERT_EQ(key[0], 'S');
    bool enabled = true;
    ASSERT_TRUE(db->GetServerRichContentEnabled(&enabled));
    EXPECT_FALSE(enabled);
    ++reads;
  }
  reloader.join();
  EXPECT_EQ(reloads, 20);
  EXPECT_GT(reads, 0);
}

TEST_F(ServerConfigTest, AServerWithoutTheSiteRowIsNotFound) {
  Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (14, 'Lonely')");
  Sql("UPDATE GlobalSettings SET Container = 'Elsewhere' WHERE Container = 'Site'");
  DatabasePtr db = NewDatabase();
  LoggedLines log;
  EXPECT_FALSE(OpenServer(*db, "Lonely"));
  Sql("UPDATE GlobalSettings SET Container = 'Site' WHERE Container = 'Elsewhere'");
  const auto lines = WithCode(log.Stop(), 0xEFFF2818u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find(L"Lonely"), std::wstring::npos);
}

}  // namespace
