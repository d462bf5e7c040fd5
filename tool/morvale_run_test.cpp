// The morvale command's whole job as a user runs it: a configuration
// database on the PostgreSQL test server reached through the registry's
// connection settings, a messaging profile built from a description, and
// the server's name typed at the prompt. The output is compared whole, and
// the database column by column afterwards.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/connection_holder.h"
#include "foundation/string_conversion.h"
#include "platform/ado/ado.h"
#include "platform/mapi/profile_fixture_for_tests.h"
#include "platform/win32/codepage.h"
#include "testing/registry_fixture.h"
#include "testing/test_database.h"
#include "tool/command_runner_for_tests.h"

namespace {

constexpr char kBanner[] = "Quorrel Dazadevari Server Utility - Morvale.exe, Version 2.0\n";
constexpr char kLogon[] =
    "Attempting MAPILogon....\n"
    "MAPILogon Success.\n"
    "Opening Default Message Store Mailbox - Quorrel Administrator.\n"
    "Please Enter VEXName: -> Scanning handhelds....this may take a while...\n";
constexpr char kMail1[] = "/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
constexpr char kMail2[] = "/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";

std::string Recipient(const std::string& alias) { return "/o=Quillon/ou=First Site/cn=Recipients/cn=" + alias; }

std::string ChangeBlock(const std::string& name, const std::string& before, const std::string& server,
                        const std::string& serverBefore, const std::string& smtp, const std::string& smtpBefore) {
  return "\nChange detected for: \nCurrent DisplayName: " + name + "\nPrevious DisplayName: " + before +
         "\nCurrent ServerDN: " + server + "\nPrevious ServerDN " + serverBefore + "\nCurrent SMTP address: " + smtp +
         "\nPrevious SMTP address " + smtpBefore + "\n";
}

// One user's dump; no device line without a device.
std::string DumpLines(const std::string& name, const std::string& mailboxDN, const char* server, const char* device,
                      bool redirection, bool external) {
  return "\tUserName: " + name + "\n\tMailboxDN: " + mailboxDN + "\n\tServerDN: " + server + "\n" +
         (device != nullptr ? std::string("\tDevice Type:") + device + "\n" : std::string()) + "\t" +
         (redirection ? "Redirection Enabled" : "Redirection Disabled") + "\n\t" +
         (external ? "External Services Enabled" : "External Services Disabled") + "\n";
}

// The sample organisation after the update: each user's dump.
const std::string kJohn = DumpLines("John Smith", Recipient("jsmith"), kMail1, "GPRS <2A3B4C5D>", true, true);
const std::string kChris = DumpLines("Chris Lee", Recipient("clee"), kMail2, "Mobitex <100200>", true, false);
const std::string kZoe = DumpLines("Zo\u00EB M\u00FCller", Recipient("zmuller"), kMail2, "3G <2F00AB01>", false, false);
const std::string kPat = DumpLines("Pat Jones", Recipient("pjones"), kMail1, "GPRS <2A3B4C60>", true, true);
const std::string kSam = DumpLines("Sam Taylor", Recipient("staylor"), kMail2, "WiFi <300400>", false, false);

// The change reports of the sample organisation's first update.
const std::string kChrisMoved =
    ChangeBlock("Chris Lee", "Chris Lee", kMail2, kMail1, "chris.lee@quillon.example", "chris.lee@quillon.example");
const std::string kZoeRenamed = ChangeBlock("Zo\u00EB M\u00FCller", "Zoe Mueller", kMail2, kMail2,
                                            "zoe.mueller@quillon.example", "zoe.mueller@quillon.example");
const std::string kPatReaddressed = ChangeBlock("Pat Jones", "Pat Jones", kMail1, kMail1,
                                                "pat.jones@quillon.example", "pat.jones@old.quillon.example");
const std::string kSamAddressed =
    ChangeBlock("Sam Taylor", "Sam Taylor", kMail2, kMail2, "sam.taylor@quillon.example", "");

class MorvaleRunTest : public morvale::testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Sql("TRUNCATE UserConfig, ServerConfig, GlobalSettings CASCADE");
    WriteConnectionSettings();
  }

  // The registry's connection settings for the suite's database: server
  // and database name under HKEY_LOCAL_MACHINE, login and password under
  // HKEY_CURRENT_USER, as an administrator sets them.
  void WriteConnectionSettings() {
    const std::wstring& ado = database().ado_connection_string();
    std::string server, name, login, password;
    std::size_t start = 0;
    while (start < ado.size()) {
      std::size_t end = ado.find(L';', start);
      std::wstring pair = ado.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
      if (pair.rfind(L"pwd=", 0) == 0) {
        // The rest is the password, quoted with '"' doubled.
        pair = ado.substr(start + 4);
        std::wstring raw;
        for (std::size_t i = 1; i + 1 < pair.size(); ++i) {
          raw += pair[i];
          if (pair[i] == L'"') ++i;
        }
        password.assign(raw.begin(), raw.end());
        break;
      }
      const std::size_t equals = pair.find(L'=');
      const std::string key(pair.begin(), pair.begin() + static_cast<long>(equals));
      const std::string value(pair.begin() + static_cast<long>(equals) + 1, pair.end());
      if (key == "Server") server = value;
      if (key == "Database") name = value;
      if (key == "uid") login = value;
      start = end == std::wstring::npos ? ado.size() : end + 1;
    }
    registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n"
                                "\"DatabaseServerMachineName\"=\"" + server + "\"\n\"DatabaseName\"=\"" + name +
                                    "\"\n");
    registry_.WriteRoot("HKCU", "[HKEY_CURRENT_USER\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n"
                                "\"Login\"=\"" + login + "\"\n\"Password\"=\"" + password + "\"\n");
  }

  static void Sql(const std::string& sql) {
    std::string error;
    ASSERT_TRUE(database().Execute(sql, &error)) << error << "\n" << sql;
  }

  // The sample organisation of the demo: its database rows and its profile.
  void LoadSample() {
    Sql(morvale::testing::ReadTextFile(MORVALE_TESTDATA "/demo/organisation.sql"));
    profiles_.Build("Demo", morvale::testing::ReadTextFile(MORVALE_TESTDATA "/demo/organisation.txt"), true);
  }

  // One row's columns, '|'-separated.
  static std::string Row(int id) {
    return Query("SELECT concat_ws('|', DisplayName, MailboxDN, ServerDN, coalesce(MailboxSMTPAddr, 'NULL')) "
                 "FROM UserConfig WHERE Id = " +
                 std::to_string(id));
  }

  // The first column of the first row as UTF-8 text, read on a connection
  // of the test's own.
  static std::string Query(const std::string& sql) {
    ComInitializer com(COINIT_MULTITHREADED, false, false);
    ado::_ConnectionPtr connection = ado::MakeConnection();
    connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
    ado::_RecordsetPtr rows = connection->Execute(_bstr_t(sql.c_str()), nullptr, -1);
    std::string text = "no row";
    if (!rows->GetEndOfFile()) {
      const _bstr_t value(rows->GetFields()->GetItem(_variant_t(0))->GetValue());
      text = ConvertToNarrowString(static_cast<const wchar_t*>(value), CP_UTF8);
    }
    connection->Close();
    return text;
  }

  morvale::testing::ScopedRegistryDirectory registry_;
  morvale::testing::ScopedMapiProfileDirectory profiles_;
};

TEST_F(MorvaleRunTest, UpdateReportsEachChangeOnceAndWritesItsColumns) {
  LoadSample();
  CommandOutcome run = RunMorvale({"-u"}, "Quorrel One\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogon + kChrisMoved + kZoeRenamed + kPatReaddressed + kSamAddressed +
                         "Update Handhelds Complete\nmorvale finished\n");

  EXPECT_EQ(Row(1), "John Smith|" + Recipient("jsmith") + "|" + kMail1 + "|john.smith@quillon.example");
  EXPECT_EQ(Row(2), "Chris Lee|" + Recipient("clee") + "|" + kMail2 + "|chris.lee@quillon.example");
  EXPECT_EQ(Row(3), "Zo\u00EB M\u00FCller|" + Recipient("zmuller") + "|" + kMail2 + "|zoe.mueller@quillon.example");
  EXPECT_EQ(Row(4), "Pat Jones|" + Recipient("pjones") + "|" + kMail1 + "|pat.jones@quillon.example");
  EXPECT_EQ(Row(5), "Sam Taylor|" + Recipient("staylor") + "|" + kMail2 + "|sam.taylor@quillon.example");
  EXPECT_EQ(Row(6), "Christine Lee|" + Recipient("clee2") + "|" + kMail1 + "|christine.lee@quillon.example")
      << "a user of another server is left alone";

  // Nothing changed since: nothing is reported.
  run = RunMorvale({"-u"}, "Quorrel One\n");
  EXPECT_EQ(run.out, std::string(kBanner) + kLogon + "Update Handhelds Complete\nmorvale finished\n");
}

TEST_F(MorvaleRunTest, DumpWritesEveryUserToTheScreenOrToAFile) {
  LoadSample();
  Sql("UPDATE UserConfig SET PIN = NULL WHERE Id = 5");
  const std::string before =
      kJohn + DumpLines("Chris Lee", "chris.lee@quillon.example", kMail1, "Mobitex <100200>", true, false) +
      DumpLines("Zoe Mueller", Recipient("zmuller"), kMail2, "3G <2F00AB01>", false, false) + kPat +
      DumpLines("Sam Taylor", Recipient("staylor"), kMail2, nullptr, false, false);
  CommandOutcome run = RunMorvale({"-d"}, "Quorrel One\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogon + before + "morvale finished\n");

  const std::string file = profiles_.path() + "/dump.txt";
  run = RunMorvale({"-d", file, "-p", "Demo"}, "Quorrel One\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogon + "morvale finished\n");
  EXPECT_EQ(morvale::testing::ReadTextFile(file), before);
  EXPECT_EQ(Row(2), "Chris Lee|chris.lee@quillon.example|" + std::string(kMail1) + "|chris.lee@quillon.example")
      << "a dump changes nothing";

  // Where the locale cannot show a name, '?' stands for what it lacks.
  run = RunMorvale({"-d"}, "Quorrel One\n", "C");
  EXPECT_NE(run.out.find("\tUserName: Zoe Mueller\n"), std::string::npos);
  Sql("UPDATE UserConfig SET DisplayName = 'Zo\u00EB M\u00FCller' WHERE Id = 3");
  run = RunMorvale({"-d"}, "Quorrel One\n", "C");
  EXPECT_NE(run.out.find("\tUserName: Zo? M?ller\n"), std::string::npos) << run.out;
}

TEST_F(MorvaleRunTest, UpdateAndDumpTogetherDumpTheUpdatedValues) {
  LoadSample();
  const CommandOutcome run = RunMorvale({"-d", "-u"}, "Quorrel One\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogon + kJohn + kChrisMoved + kChris + kZoeRenamed + kZoe +
                         kPatReaddressed + kPat + kSamAddressed + kSam +
                         "Update Handhelds Complete\nmorvale finished\n");
}

TEST_F(MorvaleRunTest, AConnectionStringOnTheCommandLineReplacesTheRegistry) {
  LoadSample();
  registry_.WriteRoot("HKLM", "");
  registry_.WriteRoot("HKCU", "");
  const std::wstring& ado = database().ado_connection_string();
  const CommandOutcome run = RunMorvale({"-c", std::string(ado.begin(), ado.end()), "-d"}, "quorrel one\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.substr(0, std::string(kBanner).size() + std::string(kLogon).size()),
            std::string(kBanner) + kLogon)
      << "server names compare without regard to case";
  EXPECT_NE(run.out.find(kJohn), std::string::npos);
}

TEST_F(MorvaleRunTest, AnUnknownServerAndAnEmptyOneAreToldApart) {
  LoadSample();
  CommandOutcome run = RunMorvale({"-u"}, "Quorrel Three\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         "Attempting MAPILogon....\nMAPILogon Success.\nOpening Default Message Store Mailbox - "
                         "Quorrel Administrator.\nPlease Enter VEXName: -> Open() failed for Quorrel Three\n"
                         "OpenDB failed to open Database\n");

  Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (3, 'Quorrel Three')");
  run = RunMorvale({"-u", "-d"}, "Quorrel Three\n");
  EXPECT_EQ(run.out, std::string(kBanner) + kLogon + "Update Handhelds Complete\nmorvale finished\n");
}

TEST_F(MorvaleRunTest, AServerNameLongerThanThePromptTakesOpensNoOtherServer) {
  LoadSample();
  // Cut to the 199 characters the prompt takes, the answer would name this
  // server.
  const std::string kept(199, 'Q');
  Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (3, '" + kept + "');"
      "INSERT INTO UserConfig (Id, ServerConfigId, DisplayName, MailboxDN, ServerDN) VALUES "
      "(90, 3, 'Kept Server User', '/o=Q/cn=kept', '/o=Q/cn=MAIL1')");
  const std::string answer = kept + "Q";
  const CommandOutcome run = RunMorvale({"-d"}, answer + "\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         "Attempting MAPILogon....\nMAPILogon Success.\nOpening Default Message Store Mailbox - "
                         "Quorrel Administrator.\nPlease Enter VEXName: -> Open() failed for " + answer +
                         "\nOpenDB failed to open Database\n");
}

// Users whose check fails, each with the line that says why; the walk goes
// on with the next user, and every user is dumped.
TEST_F(MorvaleRunTest, EachFailedUserIsReportedAndTheWalkGoesOn) {
  Sql("INSERT INTO GlobalSettings (Container) VALUES ('Site');"
      "INSERT INTO ServerConfig (Id, ServiceName) VALUES (1, 'S1');"
      "INSERT INTO UserConfig (Id, ServerConfigId, DisplayName, MailboxDN, ServerDN, MailboxSMTPAddr) VALUES "
      "(1, 1, 'No Server', '/o=Q/cn=noserver', NULL, NULL),"
      "(2, 1, 'Gone Away', '/o=Q/cn=gone', '/o=Q/cn=MAIL1', NULL),"
      "(3, 1, 'Twin', 'twin@q.example', '/o=Q/cn=MAIL1', NULL),"
      "(4, 1, 'Conference Room', '/o=Q/cn=room', '/o=Q/cn=MAIL1', NULL),"
      "(5, 1, 'Homeless', '/o=Q/cn=homeless', '/o=Q/cn=MAIL1', NULL),"
      "(6, 1, 'Locked', '/o=Q/cn=locked', '/o=Q/cn=MAIL1', NULL),"
      "(7, 1, 'Fine', '/o=Q/cn=fine', '/o=Q/cn=MAIL1', 'fine@q.example'),"
      "(8, 1, 'Far Away', '/o=Q/cn=far', '/o=Q/cn=MAIL1', 'far@q.example');"
      "CREATE OR REPLACE FUNCTION RefuseUpdate() RETURNS trigger LANGUAGE plpgsql AS "
      "$$ BEGIN RAISE EXCEPTION 'row is locked'; END $$;"
      "CREATE TRIGGER Locked BEFORE UPDATE ON UserConfig FOR EACH ROW WHEN (OLD.Id = 6) "
      "EXECUTE FUNCTION RefuseUpdate();");
  profiles_.Build("Failures",
                  "[container gal]\ndisplay-name = GAL\nglobal = yes\n"
                  "[user]\ndisplay-name = Twin\nemail-address = /o=Q/cn=twin1\nhome-mdb = /o=Q/cn=MAIL1\n"
                  "[user]\ndisplay-name = Twin\nemail-address = /o=Q/cn=twin2\nhome-mdb = /o=Q/cn=MAIL1\n"
                  "[user]\ndisplay-name = Conference Room\nemail-address = /o=Q/cn=room\nhome-mdb = /o=Q/cn=MAIL1\n"
                  "[user]\ndisplay-name = Homeless\nemail-address = /o=Q/cn=homeless\nsmtp-address = h@q.example\n"
                  "[user]\ndisplay-name = Locked\nemail-address = /o=Q/cn=locked\nsmtp-address = l@q.example\n"
                  "home-mdb = /o=Q/cn=MAIL2\n"
                  "[user]\ndisplay-name = Fine\nemail-address = /o=Q/cn=fine\nsmtp-address = fine@q.example\n"
                  "home-mdb = /o=Q/cn=MAIL2\n"
                  // Longer than the 511 characters a user's text takes: not
                  // written cut.
                  "[user]\ndisplay-name = Far Away\nemail-address = /o=Q/cn=far\nsmtp-address = far@q.example\n"
                  "home-mdb = /o=Q/cn=Servers/cn=" + std::string(600, 'M') + "\n"
                  "[store]\ndn = /o=Q/cn=admin\ndisplay-name = Admin\nrole = default\n");
  const CommandOutcome run = RunMorvale({"-u", "-p", "Failures"}, "S1\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         "Attempting MAPILogon....\nMAPILogon Success.\nOpening Default Message Store Admin.\n"
                         "Please Enter VEXName: -> Scanning handhelds....this may take a while...\n"
                         "Failed to retrieve display name or server dn for current pager object.\n"
                         "Failed to Resolve Name in Morvale. User:Gone Away hResult: <8004010f>\n"
                         "Failed to Resolve Name in Morvale. User:Twin hResult: <00000000>\n"
                         "Could not get SMTP email address for this mailbox. User:Conference Room\n"
                         "Morvale():Could not find server distinguished name. User:Homeless\n"
                         "Morvale():Failed to set Server Name. User:Locked, hResult: <0>\n" +
                         ChangeBlock("Fine", "Fine", "/o=Q/cn=MAIL2", "/o=Q/cn=MAIL1", "fine@q.example",
                                     "fine@q.example") +
                         "Morvale():Could not find server distinguished name. User:Far Away\n"
                         "Error(s) encountered while dealing with Handheld Info\nmorvale finished\n");
  EXPECT_EQ(Query("SELECT ServerDN FROM UserConfig WHERE Id = 6"), "/o=Q/cn=MAIL1");
  EXPECT_EQ(Query("SELECT ServerDN FROM UserConfig WHERE Id = 7"), "/o=Q/cn=MAIL2");
  EXPECT_EQ(Query("SELECT ServerDN FROM UserConfig WHERE Id = 8"), "/o=Q/cn=MAIL1");
  Sql("DROP TRIGGER Locked ON UserConfig");
}

}  // namespace
