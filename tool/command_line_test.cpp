#include "tool/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/string_conversion.h"
#include "platform/ado/connection_string.h"
#include "platform/win32/codepage.h"
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

TEST(ParseCommandLineTest, AConnectionStringLongerThanItsBufferIsRefusedNotCut) {
  // Cut, the string would name another database or password and still be
  // used.
  std::vector<std::string> args = {"morvale", "-c", std::string(1023, 'c'), "-c", "Driver=x", "-c",
                                   std::string(1024, 'c')};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  RunSettings settings;
  ASSERT_TRUE(ParseCommandLine(3, argv.data(), &settings, stdout));
  EXPECT_TRUE(settings.connectionStringGiven);
  EXPECT_EQ(std::string(settings.connectionString), std::string(1023, 'c'));
  ASSERT_TRUE(ParseCommandLine(5, argv.data(), &settings, stdout));
  EXPECT_STREQ(settings.connectionString, "Driver=x") << "a later -c replaces the earlier";

  RunSettings refused;
  std::FILE* sink = std::tmpfile();
  EXPECT_FALSE(ParseCommandLine(7, argv.data(), &refused, sink));
  std::rewind(sink);
  char first[64] = {};
  ASSERT_NE(std::fgets(first, sizeof first, sink), nullptr);
  ASSERT_NE(std::fgets(first, sizeof first, sink), nullptr);
  EXPECT_STREQ(first, "Usage: morvale -<flag>\n");
  std::fclose(sink);
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
      {"a server name longer than 255 characters is refused, not cut into another name",
       machine + "\"DatabaseServerMachineName\"=\"" + longServer + "\"\n", "", "(none)"},
      {"a password longer than 255 characters is refused", machine,
       user + "\"Login\"=\"sa\"\n\"Password\"=\"" + std::string(256, 'p') + "\"\n", "(none)"},
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

// The four values as the registry holds them; each `std::string` is written
// as a .reg string (quotes and backslashes escaped).
struct Values {
  std::string server;
  std::string database;
  std::string login;
  std::string password;
};

std::string RegString(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return "\"" + escaped + "\"";
}

class ConnectionValuesTest : public ConnectionSettingsTest {
 protected:
  std::string BuiltFrom(const Values& v) {
    registry_.WriteRoot("HKLM", Section("HKEY_LOCAL_MACHINE", kDatabaseKey,
                                        "\"DatabaseServerMachineName\"=" + RegString(v.server) +
                                            "\n\"DatabaseName\"=" + RegString(v.database) + "\n"));
    registry_.WriteRoot("HKCU", Section("HKEY_CURRENT_USER", kDatabaseKey,
                                        "\"Login\"=" + RegString(v.login) + "\n\"Password\"=" +
                                            RegString(v.password) + "\n"));
    return Built();
  }
};

TEST_F(ConnectionValuesTest, TheConnectionStringHoldsEveryValueWhole) {
  const Values cases[] = {
      {"db1,1433", "Mgmt", "sa", "plain"},
      {"db1", "Mgmt", "sa", "=starts with equals"},
      {"db1", "Mgmt", "sa", "a=b"},
      {"db1", "Mgmt", "sa", "{braced}"},
      {"db1", "Mgmt", "sa", "ends;with;semicolons;"},
      {"db1", "Mgmt", "sa", "'single' and \"double\""},
      {"db1", "Mgmt;Trusted_Connection=Yes", "sa", "x"},
      {"db1;Database=other", "Mgmt", "domain user", "x"},
      {"db1", "Mgmt", "=sa", " blank at both ends "},
  };
  for (const Values& c : cases) {
    SCOPED_TRACE(c.server + " | " + c.database + " | " + c.login + " | " + c.password);
    const std::string built = BuiltFrom(c);
    std::vector<ado::ConnectionAttribute> pairs;
    std::wstring error;
    ASSERT_TRUE(ado::ParseConnectionString(ConvertToWideString(built, CP_ACP), &pairs, &error))
        << built << ": " << ConvertToNarrowString(error, CP_ACP);
    std::vector<std::string> read;
    for (const ado::ConnectionAttribute& pair : pairs) {
      read.push_back(ConvertToNarrowString(pair.keyword, CP_ACP) + "=" + ConvertToNarrowString(pair.value, CP_ACP));
    }
    EXPECT_EQ(read, (std::vector<std::string>{"Provider=SQLOLEDB", "Server=" + c.server, "Database=" + c.database,
                                              "uid=" + c.login, "pwd=" + c.password}))
        << built;
  }
}

TEST_F(ConnectionValuesTest, AConnectionStringLongerThanItsBufferIsRefusedNotCut) {
  // 25 + 10 + 5 + 5 characters of keywords: four values of 978 characters
  // together make exactly 1023.
  const Values fits = {std::string(255, 's'), std::string(255, 'd'), std::string(255, 'u'), std::string(213, 'p')};
  const std::string built = BuiltFrom(fits);
  EXPECT_EQ(built.size(), 1023u);
  EXPECT_EQ(built.substr(built.size() - 217), "pwd=" + std::string(213, 'p'));

  for (const Values& tooLong : {Values{std::string(255, 's'), std::string(255, 'd'), std::string(255, 'u'),
                                       std::string(214, 'p')},
                                Values{std::string(255, 'v'), std::string(255, 'v'), std::string(255, 'v'),
                                       std::string(255, 'v')},
                                // Quoting makes the password longer than it is.
                                Values{std::string(255, 's'), std::string(255, 'd'), std::string(200, 'u'),
                                       std::string(250, '"')}}) {
    EXPECT_EQ(BuiltFrom(tooLong), "(none)");
  }
}

}  // namespace
