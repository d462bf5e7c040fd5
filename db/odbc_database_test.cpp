#include "db/odbc_database.h"

#include <cstdlib>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "db/db_config.h"
#include "db/odbc_record.h"
#include "testing/registry_fixture.h"

namespace {

constexpr char kKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n";

using ODBCDatabaseTest = morvale::testing::RegistryTest;

TEST_F(ODBCDatabaseTest, SettingsDefaultWhenAbsentAndReadWhenPresent) {
  {
    SCOPED_TRACE("no key");
    ODBCDatabase database(DatabaseKind::SqlServer, nullptr);
    EXPECT_EQ(database.GetMsdeConnectionCountWrapper(), 2);
    EXPECT_EQ(database.GetCommandTimeOut(), 30);
    EXPECT_EQ(database.GetCommandRetryCount(), 5);
  }
  {
    SCOPED_TRACE("key without the values");
    registry_.WriteRoot("HKLM", std::string(kKey) + "\"Other\"=dword:00000001\n");
    ODBCDatabase database(DatabaseKind::SqlServer, nullptr);
    EXPECT_EQ(database.GetMsdeConnectionCountWrapper(), 2);
    EXPECT_EQ(database.GetCommandTimeOut(), 30);
    EXPECT_EQ(database.GetCommandRetryCount(), 5);
  }
  {
    SCOPED_TRACE("values set");
    registry_.WriteRoot("HKLM", std::string(kKey) +
                                    "\"MsdeConnectionCountWrapper\"=dword:00000007\n"
                                    "\"CommandTimeOut\"=dword:0000000a\n"
                                    "\"CommandRetryCount\"=dword:00000001\n");
    ODBCDatabase database(DatabaseKind::DB2, nullptr);
    EXPECT_EQ(database.GetMsdeConnectionCountWrapper(), 7);
    EXPECT_EQ(database.GetCommandTimeOut(), 10);
    EXPECT_EQ(database.GetCommandRetryCount(), 1);
    EXPECT_TRUE(database.IsDB2());
  }
}

TEST_F(ODBCDatabaseTest, KindFollowsTheDatabaseSettings) {
  // DbConfig is read once per process: look at it from a fresh one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  registry_.WriteRoot("HKLM", std::string(kKey) + "\"DBMS\"=\"DB2\"\n");
  EXPECT_EXIT(
      {
        ODBCDatabase database(nullptr);
        std::exit(database.IsDB2() && DbConfig::Instance()->IsDB2() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(ODBCDatabaseTest, ConsoleLineWhenTheLoggerIsInactive) {
  ODBCDatabase database(DatabaseKind::SqlServer, nullptr);
  zev::ZEVString last;
  ::testing::internal::CaptureStdout();
  database.Log(nullptr, &last, 2, L"[%s] value %d", L"Here", 42);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(out, std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d \(TID 0x[0-9A-F]+\) DAZududo '\[Here\] value 42'\n)")))
      << out;
  // The line is kept as the caller's last message.
  const std::wstring line = last.GetWide();
  EXPECT_EQ(std::string(line.begin(), line.end()) + "\n", out);
}

TEST_F(ODBCDatabaseTest, LongConsoleLineIsCutAndEndsInAQuote) {
  ODBCDatabase database(DatabaseKind::SqlServer, nullptr);
  const std::wstring text(3000, L'x');
  ::testing::internal::CaptureStdout();
  database.Log(nullptr, nullptr, 2, L"%s", text.c_str());
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(out.size(), 1024u);  // 1023 characters and the line break
  EXPECT_EQ(out.substr(1021), "x'\n");
}

class FakeConnections : public RecordConnections {
 public:
  bool Borrow(Lent*) override { return false; }
  void GiveBack(Lent&) override {}
  void UpdateStatistics(DWORD, bool, HRESULT) override {}
  bool Validate() override { return validate; }
  bool ReInitialize() override {
    ++reinitialized;
    return reinitialize;
  }
  bool validate = false;
  bool reinitialize = false;
  int reinitialized = 0;
};

TEST_F(ODBCDatabaseTest, CheckConnectionValidatesThenReinitialises) {
  struct Case {
    bool validate, reinitialize, result;
    int reinitialized;
    bool logged;
  };
  for (const Case& c : {Case{true, false, true, 0, false}, Case{false, true, true, 1, false},
                        Case{false, false, false, 1, true}}) {
    SCOPED_TRACE(::testing::Message() << c.validate << c.reinitialize);
    FakeConnections connections;
    connections.validate = c.validate;
    connections.reinitialize = c.reinitialize;
    ODBCDatabase database(DatabaseKind::SqlServer, &connections);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(database.CheckConnection(), c.result);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(connections.reinitialized, c.reinitialized);
    EXPECT_EQ(out.find("[ODBCDatabase::CheckConnection] ReInitializePool failed") != std::string::npos, c.logged)
        << out;
  }
}

}  // namespace
