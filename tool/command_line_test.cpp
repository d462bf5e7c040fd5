#include "tool/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool/connection_settings.h"
#include "testing/registry_fixture.h"

namespace {

// What the arguments ask for; `accepted` says whether they were taken.
struct Parsed {
  bool accepted = false;
  bool dump = false;
  std::string dumpFileName = "(none)";
  bool update = false;
  std::string profileName = "(none)";
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "morvale");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  RunSettings settings;
  std::FILE* sink = std::tmpfile();
  Parsed parsed;
  parsed.accepted = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &settings, sink);
  std::fclose(sink);
  parsed.dump = settings.dump;
  if (settings.dumpFileName != nullptr) parsed.dumpFileName = settings.dumpFileName;
  parsed.update = settings.update;
  if (settings.profileName != nullptr) parsed.profileName = settings.profileName;
  EXPECT_FALSE(settings.connectionStringGiven);
  return parsed;
}

TEST(ParseCommandLineTest, AcceptedArgumentsGiveTheirSettings) {
  struct Case {
    std::vector<std::string> args;
    bool dump;
    const char* dumpFileName;
    bool update;
    const char* profileName;
  } cases[] = {
      {{"-u", "-d"}, true, "(none)", true, "(none)"},
      {{"-d", "-u"}, true, "(none)", true, "(none)"},
      {{"-d", "out.txt"}, true, "out.txt", false, "(none)"},
      {{"-d", "/tmp/out.txt"}, true, "/tmp/out.txt", false, "(none)"},
      {{"-d", "/u"}, true, "(none)", true, "(none)"},
      {{"-D", "/"}, true, "/", false, "(none)"},
      {{"-p", "-u"}, false, "(none)", false, "-u"},
      {{"/U"}, false, "(none)", true, "(none)"},
      {{"-Update"}, false, "(none)", true, "(none)"},
      {{"-dump", "-p", "Admin"}, true, "(none)", false, "Admin"},
      {{"-p", "First", "-p", "Second"}, false, "(none)", false, "Second"},
      {{"-d", "a.txt", "-d"}, true, "a.txt", false, "(none)"},
      {{"-d", "a.txt", "-d", "b.txt"}, true, "b.txt", false, "(none)"},
      {{"-p", "Admin"}, false, "(none)", false, "Admin"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    const Parsed parsed = Parse(c.args);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.dump, c.dump);
    EXPECT_EQ(parsed.dumpFileName, c.dumpFileName);
    EXPECT_EQ(parsed.update, c.update);
    EXPECT_EQ(parsed.profileName, c.profileName);
  }
}

TEST(ParseCommandLineTest, TheConnectionStringIsCutAt1023Characters) {
  std::vector<std::string> args = {"morvale", "-c", std::string(1500, 'c'), "-c", "Driver=x"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  RunSettings settings;
  ASSERT_TRUE(ParseCommandLine(3, argv.data(), &settings, stdout));
  EXPECT_TRUE(settings.connectionStringGiven);
  EXPECT_EQ(std::string(settings.connectionString), std::string(1023, 'c'));
  ASSERT_TRUE(ParseCommandLine(5, argv.data(), &settings, stdout));
  EXPECT_STREQ(settings.connectionString, "Driver=x") << "a later -c replaces the earlier";
}

constexpr char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";

class ConnectionSettingsTest : public morvale::testing::RegistryTest {
 protected:
  // The connection string of the registry as written; "(none)" when the
  // settings are missing.
  std::string Built() {
    RunSettings settings;
    return ReadConnectionSettings(&settings) ? std::string(settings.connectionString) : "(none)";
  }
  static std::string Section(const char* root, const char* key, const std::string& values) {
    return std::string("[") + root + "\\" + key + "]\n" + values;
  }
};

TEST_F(ConnectionSettingsTest, TheRegistryGivesTheConnectionString) {
  const std::string machine = Section("HKEY_LOCAL_MACHINE", kDatabaseKey, "");
  const std::string user = Section("HKEY_CURRENT_USER", kDatabaseKey, "");
  const std::string longServer(300, 's');
  struct Case {
    const char* what;
    std::string hklm;
    std::string hkcu;
    std::string expected;
  } cases[] = {
      {"no keys", "", "", "(none)"},
      {"the Database key without values: the defaults, trusted", machine, "",
       "Provider=SQLOLEDB;Server=(local);Database=VEXMgmt;Trusted_Connection=Yes"},
      {"a login", machine + "\"DatabaseServerMachineName\"=\"db1,1433\"\n\"DatabaseName\"=\"Mgmt\"\n",
       user + "\"Login\"=\"sa\"\n\"Password\"=\"s;e\\\"cret\"\n",
       "Provider=SQLOLEDB;Server=db1,1433;Database=Mgmt;uid=sa;pwd=\"s;e\"\"cret\""},
      {"an empty login: trusted", machine, user + "\"Login\"=\"\"\n\"Password\"=\"x\"\n",
       "Provider=SQLOLEDB;Server=(local);Database=VEXMgmt;Trusted_Connection=Yes"},
      {"a long server name is cut to 255 characters",
       machine + "\"DatabaseServerMachineName\"=\"" + longServer + "\"\n", "",
       "Provider=SQLOLEDB;Server=" + std::string(255, 's') + ";Database=VEXMgmt;Trusted_Connection=Yes"},
      {"no Database key: the application's data source",
       Section("HKEY_LOCAL_MACHINE", "Software\\Quillon\\Quorrel Dazadevari Server\\Management",
               "\"AppDSN\"=\"VEXDSN\"\n"),
       "", "DSN=VEXDSN"},
      {"a Management key without AppDSN",
       Section("HKEY_LOCAL_MACHINE", "Software\\Quillon\\Quorrel Dazadevari Server\\Management", ""), "",
       "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    registry_.WriteRoot("HKLM", c.hklm);
    registry_.WriteRoot("HKCU", c.hkcu);
    EXPECT_EQ(Built(), c.expected);
  }
}

TEST_F(ConnectionSettingsTest, FourLongValuesStillFitTheBuffer) {
  const std::string value(255, 'v');
  registry_.WriteRoot("HKLM", Section("HKEY_LOCAL_MACHINE", kDatabaseKey,
                                      "\"DatabaseServerMachineName\"=\"" + value + "\"\n\"DatabaseName\"=\"" +
                                          value + "\"\n"));
  registry_.WriteRoot("HKCU",
                      Section("HKEY_CURRENT_USER", kDatabaseKey,
                              "\"Login\"=\"" + value + "\"\n\"Password\"=\"" + value + "\"\n"));
  const std::string built = Built();
  EXPECT_EQ(built.size(), 1023u);
  EXPECT_EQ(built.substr(0, 30), "Provider=SQLOLEDB;Server=vvvvv");
}

}  // namespace
