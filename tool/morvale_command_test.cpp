// The morvale command as a user runs it, up to the database: its command
// line, its connection settings, its dump file and its MAPI session.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/profile_fixture_for_tests.h"
#include "testing/registry_fixture.h"
#include "tool/command_runner_for_tests.h"

namespace {

constexpr char kBanner[] = "Quorrel Dazadevari Server Utility - Morvale.exe, Version 2.0\n";

constexpr char kUsage[] =
    "\nUsage: morvale -<flag>\n"
    "      -d  [<filename>] [-p <MAPI profilename>]:Dumps the Handheld info for\n"
    "          each pager on a specified VEX (the prompt for a Quorrel Server\n"
    "          name will appear).  The optional arguments: <filename> and \n"
    "          [-p <MAPI profilename>] are defined as followed:\n"
    "          <filename> is a filename to dump Handheld info to. If it is not\n"
    "          specified the info will be dumped to the screen.\n"
    "          -p is a flag to signify profile and <MAPI profilename> is an\n"
    "          existing MAPI profile name.\n\n"
    "      -u  [-p <MAPI profilename>]:Perform Handheld Mailbox check and update.\n"
    "          Checks for any mailboxes that have been moved or key information has\n"
    "          changed. If the mailbox is moved, then the ServerDN is set to the\n"
    "          Global Address Lists ServerDN. Any Pagers with ServerDN or SMTP\n"
    "          address changed will be printed. Otherwise no output given.\n"
    "          NOTE: Global Address List does not contain hidden mailboxes\n"
    "          The optional arguments: -p is a flag to signify profile command\n"
    "          and <MAPI profilename> is an existing MAPI profile name.\n\n"
    "      -c \"DB Connect String\"\n"
    "          The ODBC connect string for the Database, should be surrounded by\n"
    "          double-quotes. If not provided, the connect string will be retrieved\n"
    "          from the registry.\n\n"
    "      -h\n"
    "      -? :This help screen\n\n"
    "\nOptions now obsolete are listed below:\n"
    "      -a  [<filename>] [-p <MAPI profilename>]:Dump the information of all\n"
    "          existing Quorrel Servers.\n"
    "          The optional arguments: <filename> and [-p <MAPI profilename>] are\n"
    "          defined as followed: \n"
    "          <filename> is a filename to dump Handheld info to. If it is not\n"
    "          specified the info will be dumped to the screen.\n"
    "          -p is a flag to signify profile and <MAPI profilename> is an\n"
    "          existing MAPI profile name.\n\n"
    "      -m  [-p <MAPI profilename>]:Detects an Admin Mailbox move for any of the\n"
    "          existing Quorrel Servers and updates the corresponding information\n"
    "          when necessary. \n"
    "          The optional arguments: -p is a flag to signify profile command and \n"
    "          <MAPI profilename> is an existing MAPI profile name.\n\n"
    "      -i <filename> [-p <MAPI profilename>]:Imports the Quorrel Servers\n"
    "          listed in the specified import file\n"
    "          NOTE: The format of the import file should be a tab-delimited list\n"
    "          of the following fields: <VEX name>, <Admin mailbox display name>,\n"
    "          <ServerDN>, and <Admin MailboxDN>\n"
    "          The optional arguments: <filename> and [-p <MAPI profilename>] are\n"
    "          defined as followed: <filename> is a filename to dump Handheld info\n"
    "          to. If it is not specified the info will be dumped to the screen.\n"
    "          -p is a flag to signify profile and <MAPI profilename> is an existing\n"
    "          MAPI profile name.\n\n"
    "      -r  revert back to a SUBTREE search for Exch 5.5 sites.\n\n"
    "      -f  force to Exchange 5.5 directory search\n\n"
    "      -l port : LDAP port - default is 389\n\n";

// A profile whose default store offers administration, and one without a
// default store.
constexpr char kAdminProfile[] =
    "[container gal]\ndisplay-name = Global Address List\nglobal = yes\n"
    "[store]\ndn = /o=Quillon/cn=admin\ndisplay-name = Mailbox - Administrator\nrole = default\n";
constexpr char kNoDefaultStore[] =
    "[store]\ndn = /o=Quillon/cn=public\ndisplay-name = Public Folders\nrole = public\n";

constexpr char kLogonLines[] =
    "Attempting MAPILogon....\n"
    "MAPILogon Success.\n"
    "Opening Default Message Store Mailbox - Administrator.\n";

class MorvaleCommandTest : public ::testing::Test {
 protected:
  morvale::testing::ScopedRegistryDirectory registry_;
  morvale::testing::ScopedMapiProfileDirectory profiles_;
};

TEST_F(MorvaleCommandTest, ARefusedCommandLineShowsTheUsageAndEndsWithOne) {
  const std::vector<std::vector<std::string>> refused = {
      {},           {"x"},           {"-"},   {"/"},         {"-h"},        {"-?"},   {"/?"},
      {"-a"},       {"-m"},          {"-i", "import.txt"},   {"-r"},        {"-f"},   {"-l", "389"},
      {"-x"},       {"-p"},          {"-u", "-c"},           {"-d", "out.txt", "stray"},
      {"-u", "-z"},
  };
  for (const auto& args : refused) {
    std::string trace;
    for (const std::string& a : args) trace += a + " ";
    SCOPED_TRACE(trace);
    const CommandOutcome run = RunMorvale(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, std::string(kBanner) + kUsage);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(MorvaleCommandTest, WithoutConnectionSettingsTheRunEndsAtOnce) {
  const CommandOutcome run = RunMorvale({"-u", "-d", "/nonexistent/dump.txt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + "Unable to open VEX Management database. Exiting.\n");
}

TEST_F(MorvaleCommandTest, ADumpFileThatCannotBeOpenedEndsWithOneBeforeAnyLogon) {
  profiles_.Build("Admin", kAdminProfile, true);
  const CommandOutcome run =
      RunMorvale({"-d", "/nonexistent/folder/dump.txt", "-c", "Provider=SQLOLEDB;Server=db;Database=x"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, std::string(kBanner) + "/nonexistent/folder/dump.txt could not be opened\n");
}

TEST_F(MorvaleCommandTest, ARegistryDatabaseKeyIsEnoughToGoOn) {
  registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n");
  profiles_.Build("Admin", kAdminProfile, true);
  const CommandOutcome run = RunMorvale({"-p", "Admin"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogonLines + "morvale finished\n");
}

TEST_F(MorvaleCommandTest, MapiSessionFailuresAreReportedAndEndTheRun) {
  profiles_.Build("Admin", kAdminProfile);
  profiles_.Build("Public", kNoDefaultStore);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"a profile that does not exist",
       {"-u", "-p", "Nobody"},
       "Attempting MAPILogon....\nMAPILogonEx() failed (80040111)\n"},
      {"profile names are case-sensitive",
       {"-u", "-p", "admin"},
       "Attempting MAPILogon....\nMAPILogonEx() failed (80040111)\n"},
      {"no default profile and none named", {"-d"}, "Attempting MAPILogon....\nMAPILogonEx() failed (80040111)\n"},
      {"-p takes the next argument whatever it is",
       {"-p", "-u"},
       "Attempting MAPILogon....\nMAPILogonEx() failed (80040111)\n"},
      {"a profile without a default store",
       {"-d", "-p", "Public"},
       "Attempting MAPILogon....\nMAPILogon Success.\nCould not find default message store for profile chosen.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-c", "Provider=SQLOLEDB;Server=db;Database=x"});
    const CommandOutcome run = RunMorvale(args, "S1\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string(kBanner) + c.out);
  }
}

TEST_F(MorvaleCommandTest, AProfileAloneLogsOnAndEnds) {
  profiles_.Build("Admin", kAdminProfile);
  const CommandOutcome run = RunMorvale({"/P", "Admin", "-c", "Provider=SQLOLEDB;Server=db;Database=x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogonLines + "morvale finished\n");
}

TEST_F(MorvaleCommandTest, ADatabaseThatCannotBeOpenedIsReportedWithTheServerName) {
  profiles_.Build("Admin", kAdminProfile, true);
  // One connect attempt rather than five, ten seconds apart.
  registry_.WriteRoot("HKLM",
                      "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n"
                      "\"ConnectionPoolInitializeAttemptCount\"=dword:00000001\n");
  const std::string unreachable = "Provider=SQLOLEDB;Server=127.0.0.1,1;Database=VEXMgmt;uid=sa;pwd=x";
  const CommandOutcome run = RunMorvale({"-d", "-c", unreachable}, "Quorrel One\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, std::string(kBanner) + kLogonLines +
                         "Please Enter VEXName: -> Open() failed for Quorrel One\n"
                         "OpenDB failed to open Database\n");
}

}  // namespace
