#include "db/connection_item.h"

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/db_config.h"
#include "db/test_support_for_tests.h"
#include "platform/com/apartment.h"
#include "testing/registry_fixture.h"
#include "testing/scripted_backend.h"

namespace {

TEST(SuppressPassword, MasksEveryPasswordValueAndKeepsTheRest) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  };
  const Case cases[] = {
      {L"Provider=SQLOLEDB;Server=db;uid=sa;pwd=secret;Database=x",
       L"Provider=SQLOLEDB;Server=db;uid=sa;pwd=;Database=x"},
      {L"Server=db;uid=sa;PWD=secret", L"Server=db;uid=sa;PWD="},
      {L"Server=db;Password=secret;Database=x", L"Server=db;Password=;Database=x"},
      // First key, blanks around the keyword and '='.
      {L"pwd=secret;Server=db", L"pwd=;Server=db"},
      {L"Server=db; Pwd = secret ;Database=x", L"Server=db; Pwd =;Database=x"},
      // Quoted values may hold ';' and doubled quotes.
      {L"Server=db;pwd=\"se;cr\"\"et\";Database=x", L"Server=db;pwd=;Database=x"},
      {L"Server=db;pwd='a;b';Database=x", L"Server=db;pwd=;Database=x"},
      {L"Server=db;pwd=\"never closed;Database=x", L"Server=db;pwd="},
      {L"Server=db;app='never closed;pwd=secret;Database=x", L"Server=db;app='never closed;pwd=;Database=x"},
      // The ODBC form braces a value; line breaks count as blanks.
      {L"Driver={Pg};Server=db;PWD={se;cr}}et};Database=x", L"Driver={Pg};Server=db;PWD=;Database=x"},
      {L"Server=db;pwd={never closed;Database=x", L"Server=db;pwd="},
      {L"Server=db;\r\npwd=secret;Database=x", L"Server=db;\r\npwd=;Database=x"},
      {L"Server=db;pwd=\n'a;b';Database=x", L"Server=db;pwd=;Database=x"},
      // Every occurrence.
      {L"pwd=one;Server=db;Password=two;PWD=three", L"pwd=;Server=db;Password=;PWD="},
      // Not a password keyword.
      {L"Server=db;pwdx=keep;xpwd=keep;Database=pwd=", L"Server=db;pwdx=keep;xpwd=keep;Database=pwd="},
      {L"Server=db;uid=sa", L"Server=db;uid=sa"},
      {L"", L""},
      {L"odd;;pieces;pwd=s;", L"odd;;pieces;pwd=;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.in, c.in + std::wcslen(c.in)));
    EXPECT_EQ(ConnectionItem::SuppressPassword(c.in), c.out);
  }
}


// On DB2 an item validates with "values 0" and, once connected, points the
// session's schema and path at the configured schema, unless that schema is
// the login's own (compared with the login upper-cased).
TEST(ConnectionItemDb2, ValidatesWithValuesAndSetsTheSchemaUnlessItIsTheLogins) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  const zev::ZEVString configured = DbConfig::Instance()->GetDB2Schema();
  const std::wstring schema = configured.GetWide() != nullptr ? configured.GetWide() : L"";
  ASSERT_FALSE(schema.empty());
  std::wstring lowered = schema;
  for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  struct Case {
    std::wstring user;
    bool setsSchema;
  };
  const Case cases[] = {{L"someone", true}, {lowered, false}, {schema, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user.begin(), c.user.end()));
    ado::ScriptedDriver driver;
    ado::ScopedDriver scoped(&driver);
    driver.SetDbmsName(L"DB2/LINUXX8664");
    ConnectionItem item(L"Provider=IBMDADB2;DSN=VEXDB;uid=" + c.user + L";pwd=p", c.user, DatabaseKind::DB2);
    ASSERT_TRUE(item.ConnectToDB(5, nullptr));
    EXPECT_TRUE(item.ValidateConnection(nullptr));
    std::vector<std::wstring> expected;
    if (c.setsSchema) {
      expected.push_back(L"SET CURRENT SCHEMA '" + schema + L"'");
      expected.push_back(L"SET CURRENT PATH 'SYSIBM','SYSFUN','SYSPROC','" + schema + L"'");
    }
    expected.push_back(L"values 0");
    EXPECT_EQ(driver.Executed(), expected);
  }
  CoUninitialize();
}

// A quote in the configured schema stays inside its literal: the session is
// set to that schema and nothing else runs.
TEST(ConnectionItemDb2, AQuoteInTheSchemaStaysInsideItsLiteral) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  constexpr wchar_t kKey[] = L"Software\\Quillon\\Quorrel Dazadevari Server\\Database";
  const std::string section = "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n";
  DbConfig* config = DbConfig::Instance();
  const zev::ZEVString configured = config->GetDB2Schema();
  const std::wstring original = configured.GetWide() != nullptr ? configured.GetWide() : L"";
  {
    morvale::testing::ScopedRegistryDirectory registry;
    registry.WriteRoot("HKLM", section + "\"DB2Schema\"=\"O'NEIL'; DROP TABLE USERCONFIG; --\"\n");
    config->setConfigValues(kKey, false);
    {
      ado::ScriptedDriver driver;
      ado::ScopedDriver scoped(&driver);
      driver.SetDbmsName(L"DB2/LINUXX8664");
      ConnectionItem item(L"Provider=IBMDADB2;DSN=VEXDB;uid=someone;pwd=p", L"someone", DatabaseKind::DB2);
      ASSERT_TRUE(item.ConnectToDB(5, nullptr));
      EXPECT_EQ(driver.Executed(),
                (std::vector<std::wstring>{L"SET CURRENT SCHEMA 'O''NEIL''; DROP TABLE USERCONFIG; --'",
                                           L"SET CURRENT PATH 'SYSIBM','SYSFUN','SYSPROC','O''NEIL''; DROP TABLE "
                                           L"USERCONFIG; --'"}));
    }
    registry.WriteRoot("HKLM", section + "\"DB2Schema\"=\"" + std::string(original.begin(), original.end()) +
                                   "\"\n");
    config->setConfigValues(kKey, false);
  }
  const zev::ZEVString restored = config->GetDB2Schema();
  EXPECT_EQ(std::wstring(restored.GetWide() != nullptr ? restored.GetWide() : L""), original);
  CoUninitialize();
}

using ConnectionItemTest = ComDatabaseTest;

TEST_F(ConnectionItemTest, ConnectsValidatesAndDisconnects) {
  ConnectionItem item(AdoString(), L"ignored");
  EXPECT_EQ(item.GetConnection(), nullptr);
  std::int64_t lastLogged = 0;
  ASSERT_TRUE(item.ConnectToDB(5, &lastLogged));
  ASSERT_NE(item.GetConnection(), nullptr);
  EXPECT_EQ(item.GetConnection()->GetState(), ado::adStateOpen);
  EXPECT_EQ(item.GetCommand()->GetActiveConnection(), item.GetConnection());
  EXPECT_TRUE(item.ValidateConnection(nullptr));
  // Connecting again closes first.
  ASSERT_TRUE(item.ConnectToDB(5, &lastLogged));
  EXPECT_TRUE(item.DisconnectFromDB());
  EXPECT_EQ(item.GetConnection(), nullptr);
  EXPECT_TRUE(item.DisconnectFromDB());
}

TEST_F(ConnectionItemTest, FailedConnectLogsTheStringWithoutItsPassword) {
  const std::wstring target = L"Provider=SQLOLEDB;Server=127.0.0.1," + std::to_wstring(ClosedPort()) +
                              L";Database=x;uid=someone;pwd=\"Sh;h-s3cret\"";
  LoggedLines log;
  ConnectionItem item(target, L"someone");
  std::int64_t lastLogged = 0;
  EXPECT_FALSE(item.ConnectToDB(2, &lastLogged));
  EXPECT_FALSE(item.ConnectToDB(2, &lastLogged));
  const std::vector<CapturedLine> lines = log.Stop();

  const std::vector<CapturedLine> connect = LinesWith(lines, L"ConnectionItem::ConnectToDB: could not connect with");
  ASSERT_EQ(connect.size(), 2u);
  EXPECT_EQ(connect[0].eventCode, 0xAFFF6231u);
  EXPECT_EQ(connect[0].level, 2);
  EXPECT_NE(connect[0].text.find(L";uid=someone;pwd="), std::wstring::npos) << connect[0].text;

  // The COM error lines: level 2 the first time in the interval, 6 after.
  const std::vector<CapturedLine> com = LinesWith(lines, L"ConnectionItem::ConnectToDB: COM Error");
  ASSERT_GE(com.size(), 2u);
  EXPECT_EQ(com.front().level, 2);
  EXPECT_EQ(com.back().level, 6);
  EXPECT_EQ(com.front().eventCode, 0xAFFF61A8u);

  for (const CapturedLine& line : lines) {
    EXPECT_EQ(line.text.find(L"s3cret"), std::wstring::npos) << line.text;
    EXPECT_EQ(line.text.find(L"Sh;h"), std::wstring::npos) << line.text;
  }
  // The item is left closed; it may be connected again.
  EXPECT_EQ(item.GetConnection()->GetState(), ado::adStateClosed);
}

TEST_F(ConnectionItemTest, ValidationFailsOnceTheServerEndsTheSession) {
  ConnectionItem item(AdoString(), L"");
  ASSERT_TRUE(item.ConnectToDB(5, nullptr));
  EXPECT_TRUE(item.ValidateConnection(nullptr));
  TerminateSessions();

  LoggedLines log;
  std::int64_t lastLogged = 0;
  EXPECT_FALSE(item.ValidateConnection(&lastLogged));
  EXPECT_FALSE(item.ValidateConnection(&lastLogged));
  EXPECT_FALSE(item.ValidateConnection(nullptr));
  const std::vector<CapturedLine> lines =
      LinesWith(log.Stop(), L"in ConnectionItem::ValidateConnection - ");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[1].level, 6);
  EXPECT_EQ(lines[2].level, 2);
  EXPECT_EQ(lines[0].text.rfind(L"COM Error 0x", 0), 0u) << lines[0].text;

  // Connecting again brings it back.
  EXPECT_TRUE(item.ConnectToDB(5, nullptr));
  EXPECT_TRUE(item.ValidateConnection(nullptr));
}

}  // namespace
