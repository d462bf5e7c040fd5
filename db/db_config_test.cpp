#include "db/db_config.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "db/provider_map_for_tests.h"
#include "db/tsql.h"
#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/debug_logger.h"
#include "foundation/crypto_engine/test_engine_fixture_for_tests.h"
#include "platform/ado/connection_string.h"
#include "platform/com/apartment.h"
#include "platform/com/hresult.h"

namespace {

constexpr const wchar_t* kDatabaseKey = L"Software\\Quillon\\Quorrel Dazadevari Server\\Database";
constexpr const char* kDatabaseSection =
    "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n";
constexpr const char* kUserDatabaseSection =
    "[HKEY_CURRENT_USER\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n";
constexpr const char* kAuthKey = "Software\\Quillon\\Quorrel Dazadevari Server\\Database\\Auth";
constexpr const char* kAuthSection =
    "[HKEY_CURRENT_USER\\Software\\Quillon\\Quorrel Dazadevari Server\\Database\\Auth]\n";

std::string Narrow(const zev::ZEVString& s) {
  const wchar_t* w = s.GetWide();
  return w != nullptr ? std::string(w, w + s.GetLength()) : std::string("<none>");
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// A .reg text line "name"="value".
std::string StringValue(const char* name, const std::string& value) {
  return "\"" + std::string(name) + "\"=\"" + value + "\"\n";
}

// A fresh registry, COM on the test's thread, the crypto engine unbound and
// the logger capturing at level 4.
class DbConfigTest : public CryptoEngineTest {
 protected:
  void SetUp() override {
    CryptoEngineTest::SetUp();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    StartLogger();
  }
  // Starts the logger with fresh captures (again after Logged()).
  void StartLogger() {
    DebugLogSettings settings;
    settings.DebugLogLevel = 4;
    ASSERT_TRUE(GetDebugLogger().Configure(settings, capture_.Take()));
    ASSERT_TRUE(GetDebugLogger().Start());
    while (!GetDebugLogger().IsActive()) std::this_thread::yield();
  }
  void TearDown() override {
    GetDebugLogger().Stop();
    CoUninitialize();
    CryptoEngineTest::TearDown();
  }

  // The settings' own lines logged so far (the logger stops).
  std::vector<std::string> Logged() {
    GetDebugLogger().Stop();
    std::vector<std::string> lines;
    for (const CapturedLine& line : capture_[LogSlot::kDebugFile].Lines()) {
      if (line.text.find(L"DbConfig") != std::wstring::npos) {
        lines.push_back(std::to_string(line.level) + " " + Narrow(line.text));
      }
    }
    return lines;
  }

  // Stores `clear` enciphered for this machine as the Auth key's `name`.
  void WriteEnciphered(const char* name, const std::string& clear) const {
    ASSERT_EQ(RunRegcrypt({"--key", kAuthKey, "--name", name, "--value", clear}), 0);
  }

  CaptureSet capture_;
};

TEST_F(DbConfigTest, WithoutRegistryKeysTheDefaultsMakeATrustedConnection) {
  ScopedProviderMap providers(kWithNativeClient);
  DbConfig config;
  EXPECT_EQ(Narrow(config.GetConnectionString()),
            "Provider=SQLOLEDB.1;Server=localhost;Database=VEXMgmt;Network=dbmssocn;"
            "Trusted_Connection=Yes");
  EXPECT_EQ(Narrow(config.GetShortDescription()), "localhost;VEXMgmt;SQLServer");
  EXPECT_TRUE(config.IsSQLServer());
  EXPECT_FALSE(config.IsDB2());
  EXPECT_FALSE(config.IsSQLServerExtendedReport());
  EXPECT_EQ(Narrow(config.GetDB2Schema()), "RERIDARI");
  EXPECT_EQ(Logged(), (std::vector<std::string>{
                          "4 {DbConfig::setConfigValues} No Encoded SQL Auth keys found",
                          "4 {DbConfig::setConfigValues} No SQL Auth keys found"}));
}

TEST_F(DbConfigTest, ConnectionStringsFromTheDatabaseKey) {
  const std::string longName(190, 'd');
  struct Case {
    const char* name;
    std::string values;
    const char* providers;
    std::string connectionString;
    std::string description;
    bool sqlServer;
    bool db2;
    std::string schema = "RERIDARI";
  };
  const Case cases[] = {
      {"port and mirror partner with a native-client provider",
       StringValue("DatabaseServerMachineName", "dbhost") + StringValue("DatabaseName", "Mgmt") +
           "\"Port\"=dword:00000599\n" + StringValue("FailoverServerMachineName", "DbMirror"),
       kWithNativeClient,
       "Provider=SQLOLEDB.1;Server=dbhost,1433;Database=Mgmt;Network=dbmssocn;"
       "Trusted_Connection=Yes;Failover Partner=DbMirror",
       "dbhost;Mgmt;SQLServer", true, false},
      {"port 0 leaves the bare name",
       StringValue("DBMS", "SQLServer") + StringValue("DatabaseServerMachineName", "dbhost") +
           "\"Port\"=dword:00000000\n",
       kWithNativeClient,
       "Provider=SQLOLEDB.1;Server=dbhost;Database=VEXMgmt;Network=dbmssocn;"
       "Trusted_Connection=Yes",
       "dbhost;VEXMgmt;SQLServer", true, false},
      {"partner naming the server in another case is no partner",
       StringValue("DatabaseServerMachineName", "dbhost") +
           StringValue("FailoverServerMachineName", "DBHOST"),
       kWithNativeClient,
       "Provider=SQLOLEDB.1;Server=dbhost;Database=VEXMgmt;Network=dbmssocn;"
       "Trusted_Connection=Yes",
       "dbhost;VEXMgmt;SQLServer", true, false},
      {"no partner without a native-client provider",
       StringValue("DatabaseServerMachineName", "dbhost") +
           StringValue("FailoverServerMachineName", "mirror"),
       kWithoutNativeClient,
       "Provider=SQLOLEDB.1;Server=dbhost;Database=VEXMgmt;Network=dbmssocn;"
       "Trusted_Connection=Yes",
       "dbhost;VEXMgmt;SQLServer", true, false},
      {"DBMS text in another case is neither kind; strings keep their defaults",
       StringValue("DBMS", "sqlserver") + StringValue("DatabaseServerMachineName", "dbhost"),
       kWithNativeClient,
       "Provider=SQLOLEDB;Server=(local);Database=VEXMgmt;Trusted_Connection=Yes",
       "localhost;VEXMgmt;SQLServer", false, false},
      {"DB2 without a login: no credentials",
       StringValue("DBMS", "DB2") + StringValue("DatabaseServerMachineName", "dbhost") +
           StringValue("DatabaseName", "MGMTDSN") + StringValue("DB2Schema", "OWNER"),
       kWithNativeClient, "Provider=IBMDADB2;DSN=MGMTDSN;", "dbhost;MGMTDSN;DB2", false, true,
       "OWNER"},
      {"cut at 199 characters, terminated, no partner",
       StringValue("DatabaseServerMachineName", "h") +
           StringValue("DatabaseName", std::string(300, 'd')) +
           StringValue("FailoverServerMachineName", "mirror"),
       kWithNativeClient,
       ("Provider=SQLOLEDB.1;Server=h;Database=" + std::string(199, 'd')).substr(0, 199),
       ("h;" + std::string(199, 'd') + ";SQLServer").substr(0, 199), true, false},
      {"the partner keyword is added whole or not at all",
       StringValue("DatabaseServerMachineName", "h") +
           StringValue("DatabaseName", std::string(120, 'd')) +
           StringValue("FailoverServerMachineName", "mirror"),
       kWithNativeClient,
       "Provider=SQLOLEDB.1;Server=h;Database=" + std::string(120, 'd') +
           ";Network=dbmssocn;Trusted_Connection=Yes",
       "h;" + std::string(120, 'd') + ";SQLServer", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry_.WriteRoot("HKLM", kDatabaseSection + c.values);
    ScopedProviderMap providers(c.providers);
    DbConfig config;
    EXPECT_EQ(Narrow(config.GetConnectionString()), c.connectionString);
    EXPECT_EQ(Narrow(config.GetShortDescription()), c.description);
    EXPECT_EQ(config.IsSQLServer(), c.sqlServer);
    EXPECT_EQ(config.IsDB2(), c.db2);
    EXPECT_EQ(Narrow(config.GetDB2Schema()), c.schema);
  }
}

TEST_F(DbConfigTest, EncipheredLoginGivesSqlAuthenticationWithThePasswordIntact) {
  PointEngineAt(kEngineDir);
  struct Case {
    const char* name;
    std::string dbms;
    std::string login;
    std::string password;
    std::string connectionString;
  };
  const Case cases[] = {
      {"SQL Server", "SQLServer", "sa", "s3cret",
       "Provider=SQLOLEDB.1;Server=dbhost;Database=Mgmt;Network=dbmssocn;uid=sa;pwd=s3cret"},
      {"SQL Server, password with ';', quotes and a blank", "SQLServer", "sa",
       "p;w\"d 'x;Server=evil",
       "Provider=SQLOLEDB.1;Server=dbhost;Database=Mgmt;Network=dbmssocn;uid=sa;"
       "pwd=\"p;w\"\"d 'x;Server=evil\""},
      {"DB2", "DB2", "db2inst", "pw", "Provider=IBMDADB2;DSN=Mgmt;uid=db2inst;pwd=pw;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry_.WriteRoot("HKCU", kUserDatabaseSection + StringValue("DBMS", c.dbms) +
                                    StringValue("DatabaseServerMachineName", "dbhost") +
                                    StringValue("DatabaseName", "Mgmt"));
    WriteEnciphered("Login", c.login);
    WriteEnciphered("Password", c.password);
    DbConfig config;
    config.setConfigValues(kDatabaseKey, true);
    const zev::ZEVString text = config.GetConnectionString();
    EXPECT_EQ(Narrow(text), c.connectionString);

    // The ADO layer reads back the password as it was stored.
    std::vector<ado::ConnectionAttribute> pairs;
    ASSERT_TRUE(ado::ParseConnectionString(text.GetWide(), &pairs, nullptr));
    ASSERT_GE(pairs.size(), 2u);
    EXPECT_EQ(Narrow(pairs.back().value), c.password);
  }
  EXPECT_EQ(Logged(), std::vector<std::string>{});
}

TEST_F(DbConfigTest, APasswordWithASemicolonReachesTheDriverIntact) {
  PointEngineAt(kEngineDir);
  registry_.WriteRoot("HKCU",
                      kUserDatabaseSection + StringValue("DatabaseServerMachineName", "dbhost"));
  WriteEnciphered("Login", "sa");
  WriteEnciphered("Password", "a;uid=admin;pwd=x");
  ScopedProviderMap providers("SQLOLEDB:PostgreSQL Unicode");
  DbConfig config;
  config.setConfigValues(kDatabaseKey, true);
  ado::OdbcTarget target;
  std::wstring error;
  ASSERT_TRUE(ado::TranslateConnectionString(config.GetConnectionString().GetWide(), &target,
                                             &error))
      << Narrow(error);
  std::vector<ado::ConnectionAttribute> odbc;
  ASSERT_TRUE(ado::ParseOdbcConnectionString(target.odbc, &odbc, nullptr));
  std::vector<std::string> logins;
  for (const ado::ConnectionAttribute& pair : odbc) {
    if (pair.keyword == L"UID" || pair.keyword == L"PWD") {
      logins.push_back(Narrow(pair.keyword) + "=" + Narrow(pair.value));
    }
  }
  EXPECT_EQ(logins, (std::vector<std::string>{"UID=sa", "PWD=a;uid=admin;pwd=x"}));
}

TEST_F(DbConfigTest, TheMirrorPartnerFollowsTheCredentialsAndSurvivesTheFailoverSwap) {
  PointEngineAt(kEngineDir);
  registry_.WriteRoot("HKCU", kUserDatabaseSection +
                                  StringValue("DatabaseServerMachineName", "DbHost") +
                                  "\"Port\"=dword:00000599\n" +
                                  StringValue("FailoverServerMachineName", "Mirror"));
  WriteEnciphered("Login", "sa");
  WriteEnciphered("Password", "p;Server=evil");
  ScopedProviderMap providers(kWithNativeClient);
  DbConfig config;
  config.setConfigValues(kDatabaseKey, true);
  const std::string built = Narrow(config.GetConnectionString());
  EXPECT_EQ(built,
            "Provider=SQLOLEDB.1;Server=DbHost,1433;Database=VEXMgmt;Network=dbmssocn;uid=sa;"
            "pwd=\"p;Server=evil\";Failover Partner=Mirror");

  // The pool's failover swap points the string at the partner and keeps the login.
  std::wstring swapped(built.begin(), built.end());
  ASSERT_TRUE(tsql::SwapToFailoverPartner(&swapped, nullptr));
  EXPECT_EQ(std::string(swapped.begin(), swapped.end()),
            "Provider=SQLOLEDB.1;Server=mirror;Database=VEXMgmt;Network=dbmssocn;uid=sa;"
            "pwd=\"p;Server=evil\";Failover Partner=dbhost,1433");
}

TEST_F(DbConfigTest, AuthValuesThatCannotBeReadLeaveTheLoginAndAreLogged) {
  PointEngineAt(kEngineDir);
  struct Case {
    const char* name;
    std::string values;
    const char* encipheredPassword;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {"no values",
       "",
       nullptr,
       {"2 {DbConfig::setConfigValues} SQL Auth Login not found",
        "2 {DbConfig::setConfigValues} SQL Auth Password not found"}},
      {"no bytes",
       "\"Login\"=hex:\n\"Password\"=hex:\n",
       nullptr,
       {"2 {DbConfig::setConfigValues} SQL Auth Login no bytes read",
        "2 {DbConfig::setConfigValues} SQL Auth Password no bytes read"}},
      {"bytes that cannot be cipher text (not a whole block)",
       "\"Login\"=hex:00,01,02,03,04\n",
       "pw",
       {"2 {DbConfig::setConfigValues} Unexpected 4 when decoding login"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry_.WriteRoot("HKCU", kAuthSection + c.values);
    if (c.encipheredPassword != nullptr) WriteEnciphered("Password", c.encipheredPassword);
    if (!GetDebugLogger().IsActive()) StartLogger();
    DbConfig config;
    // A password without a login still makes a trusted connection.
    EXPECT_EQ(Narrow(config.GetConnectionString()),
              "Provider=SQLOLEDB.1;Server=localhost;Database=VEXMgmt;Network=dbmssocn;"
              "Trusted_Connection=Yes");
    EXPECT_EQ(Logged(), c.logged);
  }
}

// The connection string holds at most 199 characters: credentials that it
// cannot hold whole (quotes counted) are refused with a line that says so,
// instead of reaching the server cut off.
TEST_F(DbConfigTest, CredentialsTheConnectionStringCannotHoldAreRefused) {
  PointEngineAt(kEngineDir);
  const std::string sqlServer = "Provider=SQLOLEDB.1;Server=dbhost,1433;Database=Mgmt;Network=dbmssocn;";
  const std::string db2 = "Provider=IBMDADB2;DSN=Mgmt;";
  const size_t sqlRoom = 199 - sqlServer.size() - std::string("uid=sa;pwd=").size();
  const size_t db2Room = 199 - db2.size() - std::string("uid=sa;pwd=;").size();
  struct Case {
    const char* name;
    std::string dbms;
    std::string password;
    std::string connectionString;  // empty: refused
  };
  const Case cases[] = {
      {"SQL Server, just fits", "SQLServer", std::string(sqlRoom, 'p'),
       sqlServer + "uid=sa;pwd=" + std::string(sqlRoom, 'p')},
      {"SQL Server, one more", "SQLServer", std::string(sqlRoom + 1, 'p'), ""},
      {"SQL Server, fits only unquoted", "SQLServer", std::string(sqlRoom - 1, 'p') + ";", ""},
      {"DB2, just fits", "DB2", std::string(db2Room, 'p'), db2 + "uid=sa;pwd=" + std::string(db2Room, 'p') + ";"},
      {"DB2, one more", "DB2", std::string(db2Room + 1, 'p'), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry_.WriteRoot("HKCU", kUserDatabaseSection + StringValue("DBMS", c.dbms) +
                                    StringValue("DatabaseServerMachineName", "dbhost") +
                                    "\"Port\"=dword:00000599\n" + StringValue("DatabaseName", "Mgmt"));
    WriteEnciphered("Login", "sa");
    WriteEnciphered("Password", c.password);
    if (!GetDebugLogger().IsActive()) StartLogger();
    DbConfig config;  // what its own reading of the settings logs is set aside
    Logged();
    StartLogger();
    config.setConfigValues(kDatabaseKey, true);
    const std::vector<std::string> logged = Logged();
    if (!c.connectionString.empty()) {
      EXPECT_EQ(Narrow(config.GetConnectionString()), c.connectionString);
      EXPECT_EQ(logged, std::vector<std::string>{});
      continue;
    }
    const std::string trusted =
        c.dbms == "DB2" ? db2 : sqlServer + "Trusted_Connection=Yes";
    EXPECT_EQ(Narrow(config.GetConnectionString()), trusted);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged.back().rfind("2 {DbConfig::setConfigValues} SQL Auth Login and Password not used: "
                                  "the connection string needs ",
                                  0),
              0u)
        << logged.back();
    EXPECT_NE(logged.back().find("more than its 199"), std::string::npos) << logged.back();
  }
}

int failoverLines = 0;
int CountFailover(int level, const wchar_t* text, const char* location, int) {
  EXPECT_EQ(level, 3);
  EXPECT_STREQ(text, L"Database Failover happened");
  EXPECT_STREQ(location, "DbConfig::LogFailoverState");
  ++failoverLines;
  return 1;
}

TEST_F(DbConfigTest, FailoverStateFollowsTheReportedPair) {
  DbConfig config;
  failoverLines = 0;
  struct Step {
    const char* name;
    const wchar_t* principal;
    const wchar_t* partner;
    int failoverLines;
    const char* recordedPrincipal;
    const char* recordedPartner;
  };
  const Step steps[] = {
      {"one name missing records nothing", L"A", nullptr, 0, "", ""},
      {"an empty name records nothing", L"A", L"", 0, "", ""},
      {"the first pair is recorded", L"A", L"B", 0, "A", "B"},
      {"the same pair again changes nothing", L"A", L"B", 0, "A", "B"},
      {"other names change nothing", L"C", L"D", 0, "A", "B"},
      {"the pair exchanged (any case) is a failover", L"b", L"a", 1, "b", "a"},
      {"and back again", L"A", L"B", 2, "A", "B"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    config.LogFailoverState(s.principal, s.partner, &CountFailover);
    EXPECT_EQ(failoverLines, s.failoverLines);
    EXPECT_EQ(Narrow(std::wstring(config.GetRecordedPrincipal())), s.recordedPrincipal);
    EXPECT_EQ(Narrow(std::wstring(config.GetRecordedPartner())), s.recordedPartner);
  }
  // Without a log function the exchange is still recorded; long names are cut.
  config.LogFailoverState(L"B", L"A", nullptr);
  EXPECT_EQ(std::wstring(config.GetRecordedPrincipal()), L"B");
  const std::wstring longName(300, L'n');
  DbConfig fresh;
  fresh.LogFailoverState(longName.c_str(), L"p", nullptr);
  EXPECT_EQ(std::wstring(fresh.GetRecordedPrincipal()), std::wstring(254, L'n'));
}

}  // namespace
