#include "db/ado_error.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/connection_pool.h"
#include "db/test_support_for_tests.h"
#include "testing/scripted_backend.h"
#include "platform/com/apartment.h"

namespace {


class AdoErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SinkLines().clear();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    GetConnectionPool();  // made at start-up; from then on it keeps the last error
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(AdoErrorTest, PlainErrorsBecomeOneLineAndThePoolsLastError) {
  struct Case {
    const char* name;
    HRESULT hr;
    const wchar_t* text;
    std::wstring expected;
  };
  const Case cases[] = {
      {"no text, HRESULT", static_cast<HRESULT>(0x80004005u), L"",
       L"[PMDatabaseSQLImp::executeQuery] Unknown database error with HRESULT=0x80004005"},
      {"no text, null text, small HRESULT", 0x1F, nullptr,
       L"[PMDatabaseSQLImp::executeQuery] Unknown database error with HRESULT=0x1F"},
      {"neither", 0, nullptr, L"Exception caught for PMDatabaseSQLImp::executeQuery"},
      {"controls become blanks", 0, L"a\tb\nc\rd\x01" L"e", L"a b c d e"},
      {"percent kept verbatim", 0, L"100% of %s", L"100% of %s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoggedLines log;
    EXPECT_EQ(wLogDBError(2, 0xAFFF4E5D, c.hr, L"PMDatabaseSQLImp::executeQuery", c.text), kDbErrorGeneral);
    const std::vector<CapturedLine> lines = log.Stop();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, c.expected);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].eventCode, 0xAFFF4E5Du);
    const ConnectionPool::Statistics stats = GetConnectionPool().GetStatistics();
    EXPECT_EQ(stats.lastErrorText, c.expected.substr(0, 254));
    EXPECT_EQ(stats.lastErrorCode, c.hr);
  }
}

// The last error goes to whatever recorder is in place, and to none when
// there is none.
TEST_F(AdoErrorTest, TheLastErrorGoesToTheRecorderInPlace) {
  struct Kept : DbErrorRecorder {
    void SetLastError(LONG code, const wchar_t* text) override {
      last = text;
      lastCode = code;
    }
    std::wstring last;
    LONG lastCode = 0;
  } kept;
  DbErrorRecorder* const previous = SetDbErrorRecorder(&kept);
  LogDBErrorImpl(2, 0, 5, "Here", L"kept here", nullptr);
  EXPECT_EQ(kept.last, L"kept here");
  EXPECT_EQ(kept.lastCode, 5);
  ClearDbErrorRecorder(&kept);
  LogDBErrorImpl(2, 0, 6, "Here", L"kept nowhere", nullptr);
  EXPECT_EQ(kept.last, L"kept here");
  SetDbErrorRecorder(previous);
}

TEST_F(AdoErrorTest, LongTextIsCutAtTheBufferAndThePoolKeeps254Characters) {
  const std::wstring text(20000, L'x');
  EXPECT_EQ(LogDBErrorImpl(2, 0, 0, "Here", text.c_str(), RecordingSink), kDbErrorGeneral);
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_EQ(SinkLines()[0].text.size(), 16383u);
  EXPECT_EQ(SinkLines()[0].location, "Here");
  EXPECT_EQ(GetConnectionPool().GetStatistics().lastErrorText, std::wstring(254, L'x'));
}

TEST_F(AdoErrorTest, ComErrorsAreClassifiedAndLogged) {
  struct Case {
    std::uint32_t hr;
    int result;
    unsigned specialEvent;  // 0: no special line
    std::wstring specialText;
  };
  const Case cases[] = {
      {0x80040E09u, kDbErrorPermissionDenied, 0xAFFF6213u,
       L"Op::Name: permission denied in the configuration database"},
      {0x80040E37u, kDbErrorTableNotFound, 0xAFFF6216u,
       L"Op::Name: a table of the configuration database was not found"},
      {0x80040E2Fu, kDbErrorIntegrityViolation, 0xAFFF6217u,
       L"Op::Name: an integrity constraint of the configuration database was violated"},
      {0x80004005u, kDbErrorGeneral, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hr);
    SinkLines().clear();
    const _com_error error(static_cast<HRESULT>(c.hr), _bstr_t(L"Provider"), _bstr_t(L"it\tfailed"));
    EXPECT_EQ(LogComError(2, 0xAFFF50A0u, "Op::Name", L"SELECT 1", error, RecordingSink), c.result);
    const std::size_t expected = c.specialEvent != 0 ? 2u : 1u;
    ASSERT_EQ(SinkLines().size(), expected);
    if (c.specialEvent != 0) {
      EXPECT_EQ(SinkLines()[0].eventCode, c.specialEvent);
      EXPECT_EQ(SinkLines()[0].text, c.specialText);
    }
    const SinkLine& line = SinkLines().back();
    EXPECT_EQ(line.eventCode, 0xAFFF50A0u);
    EXPECT_EQ(line.level, 2);
    wchar_t hex[16];
    swprintf(hex, 16, L"0x%X", c.hr);
    EXPECT_EQ(line.text, std::wstring(L"Op::Name: COM Error ") + hex + L" - " + error.ErrorMessage() +
                             L" - Source: Provider - Description: it failed - Command: SELECT 1");
    EXPECT_EQ(GetConnectionPool().GetStatistics().lastErrorText, line.text.substr(0, 254));
  }
}

TEST_F(AdoErrorTest, ComErrorWithoutHresult) {
  // Nothing to report: nothing happens.
  EXPECT_EQ(LogComError(2, 1, "Op", nullptr, _com_error(0), RecordingSink), 0);
  EXPECT_EQ(LogComError(2, 1, "Op", L"", _com_error(0), RecordingSink), 0);
  EXPECT_TRUE(SinkLines().empty());
  // A text but no HRESULT forms no line; the standard sink logs nothing.
  LoggedLines log;
  EXPECT_EQ(wLogComError(2, 1, _com_error(0), L"Op", L"SELECT 1"), kDbErrorGeneral);
  EXPECT_TRUE(log.Stop().empty());
  EXPECT_EQ(GetConnectionPool().GetStatistics().lastErrorText, L"");
}

TEST(CountFormatSpecifiers, CountsConversionsOnly) {
  EXPECT_EQ(CountFormatSpecifiers(L"%s: %d%%"), 2);
  EXPECT_EQ(CountFormatSpecifiers(L"100%"), 0);
  EXPECT_EQ(CountFormatSpecifiers(L"% s %1 %x"), 2);
  EXPECT_EQ(CountFormatSpecifiers(nullptr), 0);
}

// The Errors of a connection, from a scripted driver that fails one
// statement with several diagnostic records.
class ConnectionErrorsTest : public AdoErrorTest {
 protected:
  void SetUp() override {
    AdoErrorTest::SetUp();
    connection_->Open(_bstr_t(L"Driver={Scripted};Server=x"), _bstr_t(L""), _bstr_t(L""), -1);
  }
  // Runs a statement that fails with these records; returns the error.
  _com_error Fail(const std::vector<std::string>& states) {
    ado::ScriptedDriver::Step step;
    step.ok = false;
    for (const std::string& state : states) step.diagnostics.push_back({state, 7, L"record " + Wide(state)});
    driver_.Push(step);
    try {
      connection_->Execute(_bstr_t(L"SELECT x FROM t"), nullptr, -1);
    } catch (const _com_error& e) {
      return e;
    }
    ADD_FAILURE() << "the statement did not fail";
    return _com_error(0);
  }
  static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

  ado::ScriptedDriver driver_;
  ado::ScopedDriver scoped_{&driver_};
  ado::_ConnectionPtr connection_ = ado::MakeConnection();
};

TEST_F(ConnectionErrorsTest, EachDistinctNewErrorNumberGetsOneLine) {
  // 42S02 repeats the HRESULT of the error itself; 23000 appears twice.
  const _com_error error = Fail({"42S02", "23000", "23000", "42000", "42S02"});
  ASSERT_EQ(error.Error(), static_cast<HRESULT>(0x80040E37u));
  EXPECT_EQ(LogConnectionErrors(connection_, 2, 0xAFFF61A8u, error, "Op", L"SELECT x FROM t", RecordingSink),
            kDbErrorTableNotFound);
  std::vector<std::wstring> texts;
  for (const SinkLine& line : SinkLines()) texts.push_back(line.text);
  // The special line, the COM error line, then 23000 and 42000 once each.
  ASSERT_EQ(texts.size(), 4u) << ::testing::PrintToString(texts);
  EXPECT_NE(texts[2].find(L"Op: COM Error 0x80040E2F - 23000"), std::wstring::npos) << texts[2];
  EXPECT_NE(texts[2].find(L"record 23000"), std::wstring::npos);
  EXPECT_NE(texts[3].find(L"42000"), std::wstring::npos) << texts[3];
}

TEST_F(ConnectionErrorsTest, EveryLineOfTheErrorsIsOneLine) {
  // A server's message may run over several lines (a detail, a hint); each
  // error still makes one log line.
  ado::ScriptedDriver::Step step;
  step.ok = false;
  step.diagnostics.push_back({"42S02", 7, L"no such table\nDETAIL: t"});
  step.diagnostics.push_back({"23000", 7, L"duplicate key\r\nDETAIL: Key (id)=(1)\tis taken"});
  driver_.Push(step);
  _com_error error(0);
  try {
    connection_->Execute(_bstr_t(L"SELECT x FROM t"), nullptr, -1);
    ADD_FAILURE() << "the statement did not fail";
  } catch (const _com_error& e) {
    error = e;
  }
  LogConnectionErrors(connection_, 2, 0xAFFF61A8u, error, "Op", L"SELECT x\nFROM t", RecordingSink);
  ASSERT_EQ(SinkLines().size(), 3u);
  for (const SinkLine& line : SinkLines()) {
    SCOPED_TRACE(::testing::PrintToString(line.text));
    EXPECT_EQ(std::count_if(line.text.begin(), line.text.end(), [](wchar_t c) { return c < L' '; }), 0);
  }
  EXPECT_NE(SinkLines()[2].text.find(L"duplicate key  DETAIL: Key (id)=(1) is taken"), std::wstring::npos);
}

TEST_F(ConnectionErrorsTest, RecordsetStateIsAddedWhenTheConnectionIsNotOpen) {
  const _com_error error = Fail({"42000"});
  ado::_CommandPtr command = ado::MakeCommand();
  command->PutRefActiveConnection(connection_);
  EXPECT_EQ(LogRecordsetComError(2, 1, error, "Op", L"SQL", command, RecordingSink), kDbErrorGeneral);
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_NE(SinkLines()[0].text.find(L"Command: SQL"), std::wstring::npos);
  EXPECT_EQ(SinkLines()[0].text.find(L"Recordset state"), std::wstring::npos);

  SinkLines().clear();
  connection_->Close();
  LogRecordsetComError(2, 1, error, "Op", L"SQL", command, RecordingSink);
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_NE(SinkLines()[0].text.find(L"Command: SQL Recordset state: Closed"), std::wstring::npos)
      << SinkLines()[0].text;

  SinkLines().clear();
  LogRecordsetComError(2, 1, error, "Op", nullptr, nullptr, RecordingSink);
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_NE(SinkLines()[0].text.find(L"Command: "), std::wstring::npos);
}

TEST_F(ConnectionErrorsTest, ServerNameFromTheConnection) {
  std::wstring server;
  int port = 0;
  EXPECT_FALSE(wGetServerNameFromConn(nullptr, &server, &port, RecordingSink));
  EXPECT_EQ(port, -1);
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_EQ(SinkLines()[0].text, L"Connection not established\n");
  EXPECT_EQ(SinkLines()[0].level, 1);
}

// Real failures of PostgreSQL, each with the result code callers act on.
class AdoErrorPostgresTest : public ComDatabaseTest {
 protected:
  void SetUp() override {
    ComDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    ASSERT_TRUE(database().Execute(
        "CREATE TABLE IF NOT EXISTS ErrTest (Id integer PRIMARY KEY);"
        "DO $$ BEGIN CREATE ROLE morvale_no_rights NOLOGIN; EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $$;",
        &error))
        << error;
  }
};

TEST_F(AdoErrorPostgresTest, ServerErrorsGiveTheirResultCodes) {
  ado::_ConnectionPtr connection = ado::MakeConnection();
  connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
  struct Case {
    const wchar_t* name;
    const wchar_t* setup;  // run first, in the same transaction
    const wchar_t* sql;
    int result;
  };
  const Case cases[] = {
      {L"missing table", nullptr, L"SELECT * FROM NoSuchTable", kDbErrorTableNotFound},
      {L"permission", L"SET LOCAL ROLE morvale_no_rights", L"SELECT * FROM ErrTest", kDbErrorPermissionDenied},
      {L"duplicate key", L"INSERT INTO ErrTest VALUES (1)", L"INSERT INTO ErrTest VALUES (1)",
       kDbErrorIntegrityViolation},
      {L"syntax", nullptr, L"SELEC 1", kDbErrorGeneral},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SinkLines().clear();
    connection->BeginTrans();
    if (c.setup != nullptr) connection->Execute(_bstr_t(c.setup), nullptr, ado::adExecuteNoRecords);
    ado::_CommandPtr command = ado::MakeCommand();
    command->PutRefActiveConnection(connection);
    command->PutCommandText(_bstr_t(c.sql));
    command->PutCommandType(ado::adCmdText);
    int result = 0;
    try {
      command->Execute(nullptr, nullptr, -1);
      ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
      result = LogRecordsetComError(2, 0xAFFF61A8u, e, "Test::Run", c.sql, command, RecordingSink);
    }
    connection->RollbackTrans();
    EXPECT_EQ(result, c.result);
    ASSERT_FALSE(SinkLines().empty());
    const std::wstring& line = SinkLines()[c.result == kDbErrorGeneral ? 0 : 1].text;
    EXPECT_EQ(line.rfind(L"Test::Run: COM Error 0x", 0), 0u) << line;
    EXPECT_NE(line.find(std::wstring(L"Command: ") + c.sql), std::wstring::npos) << line;
  }
  connection->Close();
}

TEST_F(AdoErrorPostgresTest, ServerNameAndPortOfAnOpenConnection) {
  ado::_ConnectionPtr connection = ado::MakeConnection();
  connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
  std::wstring server;
  int port = 0;
  EXPECT_TRUE(wGetServerNameFromConn(connection, &server, &port, RecordingSink));
  EXPECT_EQ(server, L"127.0.0.1");
  const std::wstring& ado = database().ado_connection_string();
  const std::size_t at = ado.find(L"127.0.0.1,") + 10;
  EXPECT_EQ(port, std::stoi(ado.substr(at)));
  connection->Close();
}

}  // namespace
