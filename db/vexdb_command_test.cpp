#include "db/vexdb_command.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/connection_pool.h"
#include "db/test_support_for_tests.h"
#include "db/test_support_vexdb_for_tests.h"
#include "testing/scripted_backend.h"
#include "platform/com/safearray.h"
#include "testing/postgres.h"

namespace {

TEST(VexdbCountQueryParams, CountsEveryQuestionMark) {
  const struct {
    const wchar_t* sql;
    int count;
  } cases[] = {
      {nullptr, 0},
      {L"", 0},
      {L"SELECT 1", 0},
      {L"SELECT a FROM t WHERE b = ? AND c = ?", 2},
      {L"SELECT '?' FROM t WHERE b = ?", 2},  // inside a literal too
      {L"???", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql ? c.sql : L"(null)");
    EXPECT_EQ(VEXDB_CountQueryParams(c.sql), c.count);
  }
}

TEST(VexdbBuildUserSelect, FixedTextOfSixtyFourColumnsWithOptionalCondition) {
  const std::wstring plain = VEXDB_BuildUserSelect(nullptr);
  EXPECT_EQ(plain.rfind(L" SELECT DisplayName, MailboxDN, ServerDN, ", 0), 0u);
  ASSERT_GE(plain.size(), 17u);
  EXPECT_EQ(plain.substr(plain.size() - 17), L" FROM UserConfig ");
  const std::wstring list = plain.substr(0, plain.find(L" FROM "));
  EXPECT_EQ(std::count(list.begin(), list.end(), L','), 63);
  EXPECT_NE(list.find(L"DeviceUserId,ClientCertificateInfo, OOOReturnDate"), std::wstring::npos);

  EXPECT_EQ(VEXDB_BuildUserSelect(L"Id = ?"), plain + L" WHERE Id = ?");
}

// A 2 x 3 GetRows array ([field][row]): field 0 texts, field 1 numbers, one
// NULL in each.
class CellReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    array_ = SafeArrayCreate(VT_VARIANT, 2, bounds);
    ASSERT_NE(array_, nullptr);
    Put(0, 0, _variant_t(L"Grüße"));
    Put(0, 1, _variant_t(L""));
    Put(1, 0, _variant_t(42));
    Put(1, 1, _variant_t(-7));
    _variant_t null;
    null.vt = VT_NULL;
    Put(0, 2, null);
    Put(1, 2, null);
  }
  void TearDown() override { SafeArrayDestroy(array_); }
  void Put(LONG field, LONG row, const _variant_t& value) {
    const LONG indices[2] = {field, row};
    ASSERT_EQ(SafeArrayPutElement(array_, indices, &value), S_OK);
  }
  SAFEARRAY* array_ = nullptr;
};

TEST_F(CellReaderTest, ReadTextsAndValuesByColumnThenRow) {
  int row = 0;
  int column = 0;
  std::wstring wide;
  EXPECT_TRUE(VEXDB_GetArrayWString(wide, &row, &column, array_));
  EXPECT_EQ(wide, L"Grüße");
  row = 1;
  EXPECT_TRUE(VEXDB_GetArrayWString(wide, &row, &column, array_));
  EXPECT_EQ(wide, L"");

  column = 1;
  _variant_t value;
  EXPECT_TRUE(VEXDB_GetArrayValue(&value, &row, &column, array_));
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(static_cast<INT>(value), -7);
  std::string narrow = "stale";
  row = 0;
  EXPECT_TRUE(VEXDB_GetArrayString(narrow, &row, &column, array_));
  EXPECT_EQ(narrow, "42");
}

TEST_F(CellReaderTest, NullCellsAndBadIndicesGiveFalseAndEmptyOutput) {
  int row = 2;
  for (int column : {0, 1}) {
    SCOPED_TRACE(column);
    std::string narrow = "stale";
    std::wstring wide = L"stale";
    _variant_t value(5);
    EXPECT_FALSE(VEXDB_GetArrayString(narrow, &row, &column, array_));
    EXPECT_FALSE(VEXDB_GetArrayWString(wide, &row, &column, array_));
    EXPECT_FALSE(VEXDB_GetArrayValue(&value, &row, &column, array_));
    EXPECT_TRUE(narrow.empty());
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(value.vt, VT_NULL);
  }

  LoggedLines log;
  int column = 0;
  row = 3;
  std::wstring wide = L"stale";
  EXPECT_FALSE(VEXDB_GetArrayWString(wide, &row, &column, array_));
  EXPECT_TRUE(wide.empty());
  EXPECT_FALSE(VEXDB_GetArrayWString(wide, &row, &column, nullptr));
  const auto lines = log.Stop();
  const auto cells = LinesWith(lines, L"::VEXDB_GetArrayWString: could not read the cell at row 3, column 0");
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0].eventCode, 0xAFFF61B0u);
}

class VexdbSettingsTest : public morvale::testing::RegistryTest {
 protected:
  void SetUp() override { Reset(); }
  static void Reset() {
    g_VEXDB_CommandTimeout = 11;
    g_VEXDB_CommandRetryCount = 12;
  }
  void TearDown() override {
    g_VEXDB_CommandTimeout = 30;
    g_VEXDB_CommandRetryCount = 5;
  }
};

TEST_F(VexdbSettingsTest, ReadsTheDatabaseKeyWithDefaults) {
  const struct {
    const char* body;  // "" = no Database key
    int timeout;
    int retries;
  } cases[] = {
      {"", 11, 12},  // the key does not open: unchanged
      {"\"CommandTimeOut\"=dword:00000003\n\"CommandRetryCount\"=dword:00000002\n", 3, 2},
      {"\"Other\"=dword:00000001\n", 30, 5},
      {"\"CommandRetryCount\"=dword:ffffffff\n", 30, 5},  // negative: 5
      {"\"CommandRetryCount\"=dword:00000000\n", 30, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    Reset();
    registry_.WriteRoot("HKLM", *c.body ? std::string(kDatabaseKeySection) + c.body : std::string());
    VEXDB_ReadCommandSettings();
    EXPECT_EQ(g_VEXDB_CommandTimeout, c.timeout);
    EXPECT_EQ(g_VEXDB_CommandRetryCount, c.retries);
  }
}

class VexdbRunnerTest : public VexdbDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    VexdbDatabaseTest::SetUpTestSuite();
    if (PostgresAvailable()) {
      Sql("CREATE TABLE RunnerTypes (i integer PRIMARY KEY, b bigint, c char(5), t timestamp, "
          "v varchar(50), w varchar(50))");
    }
  }
  static bool PostgresAvailable() { return !morvale::testing::PostgresConnectionString().empty(); }
};

TEST_F(VexdbRunnerTest, EveryParameterTypeRoundTrips) {
  const std::int32_t id = 1;
  const char* big = "-9007199254740993";
  const char* fixed = "abc";
  const double when = 45000.5;  // 2023-03-15 12:00
  const char* narrow = "narrow text";
  const wchar_t* wide = L"Grüße, 東京 \U0001F600";
  ASSERT_TRUE(VEXDB_RunParameterizedUpdate("Test::Insert",
                                           L"INSERT INTO RunnerTypes (i, b, c, t, v, w) VALUES (?, ?, ?, ?, ?, ?)",
                                           3, &id, 20, big, 129, fixed, 135, &when, 200, narrow, 202, wide, 0));

  ado::_CommandPtr command;
  ado::_RecordsetPtr rows;
  ASSERT_TRUE(VEXDB_RunParameterizedQuery("Test::Select", command, rows,
                                          L"SELECT i, b, c, t, v, w FROM RunnerTypes WHERE i = ? AND w = ?", 3, &id,
                                          202, wide, 0));
  ASSERT_FALSE(rows->GetEndOfFile());
  // The connection went back to the pool; the rows stay readable.
  EXPECT_EQ(rows->GetActiveConnection(), nullptr);
  const ado::FieldsPtr fields = rows->GetFields();
  auto value = [&](int i) { return fields->GetItem(_variant_t(i))->GetValue(); };
  EXPECT_EQ(static_cast<INT>(value(0)), 1);
  EXPECT_EQ(static_cast<LONGLONG>(value(1)), -9007199254740993LL);
  EXPECT_STREQ(static_cast<const wchar_t*>(_bstr_t(value(2))), L"abc  ");
  EXPECT_DOUBLE_EQ(static_cast<double>(value(3)), when);
  EXPECT_STREQ(static_cast<const wchar_t*>(_bstr_t(value(4))), L"narrow text");
  EXPECT_STREQ(static_cast<const wchar_t*>(_bstr_t(value(5))), wide);
  rows->MoveNext();
  EXPECT_TRUE(rows->GetEndOfFile());
}

TEST_F(VexdbRunnerTest, TwoStatementsRunAsOneCommand) {
  // Callers send a pair of statements separated by ";" with the parameters
  // of both, in order.
  const std::int32_t first = 11;
  const std::int32_t second = 12;
  const char* v = "first";
  const wchar_t* w = L"second";
  ASSERT_TRUE(VEXDB_RunParameterizedUpdate("Test::Two",
                                           L"INSERT INTO RunnerTypes (i, v) VALUES (?, ?); "
                                           L"INSERT INTO RunnerTypes (i, w) VALUES (?, ?)",
                                           3, &first, 200, v, 3, &second, 202, w, 0));
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM RunnerTypes WHERE (i = 11 AND v = 'first') OR (i = 12 AND w = 'second')"),
            2);
}

TEST_F(VexdbRunnerTest, ATextWithoutParametersReadsNoPairs) {
  ado::_CommandPtr command;
  ado::_RecordsetPtr rows;
  // No pairs and no closing 0: nothing after the text may be read.
  ASSERT_TRUE(VEXDB_RunParameterizedQuery("Test::Plain", command, rows, L"SELECT 7"));
  EXPECT_EQ(static_cast<INT>(rows->GetFields()->GetItem(_variant_t(0))->GetValue()), 7);
}

TEST_F(VexdbRunnerTest, MaxRecordsLimitsTheRows) {
  ado::_CommandPtr command;
  ado::_RecordsetPtr rows;
  const std::int32_t upTo = 10;
  ASSERT_TRUE(VEXDB_RunParameterizedQueryMax("Test::Max", command, rows,
                                             L"SELECT g FROM generate_series(1, ?) g ORDER BY g", 3, 3, &upTo, 0));
  EXPECT_EQ(rows->GetRecordCount(), 3);
}

TEST_F(VexdbRunnerTest, BadArgumentListsFailBeforeAnythingRuns) {
  const std::int32_t id = 99;
  const char* text = "x";
  const LONGLONG before = Scalar(L"SELECT count(*) FROM RunnerTypes");
  LoggedLines log;
  const wchar_t* insert = L"INSERT INTO RunnerTypes (i, v) VALUES (?, ?)";
  // One pair for two "?".
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate("Test::TooFew", insert, 3, &id, 0));
  // A null value pointer.
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate("Test::Null", insert, 3, &id, 200, static_cast<void*>(nullptr), 0));
  // An unlisted type code.
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate("Test::Unknown", insert, 3, &id, 4, text, 0));
  // A null name or text.
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate(nullptr, insert, 3, &id, 200, text, 0));
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate("Test::NoText", nullptr, 0));
  const auto lines = log.Stop();
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM RunnerTypes"), before);

  const auto unknown = LinesWith(lines, L"Unknown or unsupported parameter type number : 4 in ::ExtractQueryParamsFromArgList");
  ASSERT_EQ(unknown.size(), 1u);
  EXPECT_EQ(unknown[0].level, 1);
  EXPECT_TRUE(RecordedSleeps().empty());
}

TEST_F(VexdbRunnerTest, AConstraintViolationFailsAfterOneAttempt) {
  const std::int32_t id = 2;
  const wchar_t* insert = L"INSERT INTO RunnerTypes (i) VALUES (?)";
  ASSERT_TRUE(VEXDB_RunParameterizedUpdate("Test::First", insert, 3, &id, 0));
  const ConnectionPool::Statistics before = GetConnectionPool().GetStatistics();
  LoggedLines log;
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate("Test::Duplicate", insert, 3, &id, 0));
  const auto lines = log.Stop();
  EXPECT_TRUE(RecordedSleeps().empty());
  const ConnectionPool::Statistics after = GetConnectionPool().GetStatistics();
  EXPECT_EQ(after.commandCount - before.commandCount, 1u);
  const auto errors = LinesWith(lines, L"Test::Duplicate");
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back().eventCode & 0xFFFFu, 0x61A8u);
  EXPECT_TRUE(LinesWith(lines, L"transient failure").empty());
}

TEST_F(VexdbRunnerTest, AStatementTimeOutIsRetriedThenFails) {
  g_VEXDB_CommandTimeout = 1;
  g_VEXDB_CommandRetryCount = 2;
  LoggedLines log;
  ado::_CommandPtr command;
  ado::_RecordsetPtr rows;
  EXPECT_FALSE(VEXDB_RunParameterizedQuery("Test::Slow", command, rows, L"SELECT pg_sleep(3)"));
  const auto lines = log.Stop();
  EXPECT_EQ(RecordedSleeps(), std::vector<DWORD>{1000});
  const auto retries = LinesWith(lines, L"Test::Slow: transient failure, 1 tries left: SELECT pg_sleep(3)");
  ASSERT_EQ(retries.size(), 1u);
  EXPECT_EQ(retries[0].eventCode, 0x6FFF88CDu);
}

TEST_F(VexdbRunnerTest, LastHistoryIdComesFromTheStoredProcedure) {
  std::int64_t id = -1;
  ASSERT_TRUE(VEXDB_GetLastHistoryId(&id));
  EXPECT_EQ(id, 0);
  Sql("INSERT INTO ConfigHistory (Id, ChangeType) VALUES (5000000000, 1), (17, 1)");
  ASSERT_TRUE(VEXDB_GetLastHistoryId(&id));
  EXPECT_EQ(id, 5000000000LL);
}

// The pool over the scripted driver, for SQL states PostgreSQL cannot be
// made to give on demand.
class VexdbScriptedTest : public morvale::testing::RegistryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    registry_.WriteRoot("HKLM", kDatabaseKeySection);
    GetConnectionPool().ReleasePool(true);
    ASSERT_TRUE(GetConnectionPool().InitializePool(2, L"Driver={Scripted};Server=x", 0, false, true));
  }
  void TearDown() override {
    GetConnectionPool().ReleasePool(true);
    g_VEXDB_CommandRetryCount = 5;
    CoUninitialize();
  }
  // The statements the script answered with `text`.
  int Runs(const std::wstring& text) const {
    int runs = 0;
    for (const std::wstring& sql : driver_.Executed()) runs += sql == text;
    return runs;
  }

  ado::ScriptedDriver driver_;
  ado::ScopedDriver scoped_{&driver_};
  SleepRecorder sleeps_;
};

TEST_F(VexdbScriptedTest, TransientStatesAreRetriedWithGrowingSleeps) {
  const struct {
    std::vector<std::string> states;  // the failures before success
    int retryCount;
    bool ok;
    std::vector<DWORD> sleeps;
  } cases[] = {
      {{"40001", "40001"}, 5, true, {1000, 4000}},
      {{"57033", "HYT00", "40001"}, 5, true, {1000, 4000, 9000}},
      {{"40001", "40001", "40001", "40001", "40001"}, 5, false, {1000, 4000, 9000, 16000}},
      {{"40001"}, 0, false, {}},
      {{"40001"}, 1, false, {}},
      {{"23505"}, 5, false, {}},
  };
  const std::wstring sql = L"UPDATE T SET A = 1";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.states.size());
    SCOPED_TRACE(c.states.front());
    RecordedSleeps().clear();
    g_VEXDB_CommandRetryCount = c.retryCount;
    const int before = Runs(sql);
    for (const std::string& state : c.states) driver_.PushError(state, L"scripted failure");
    EXPECT_EQ(VEXDB_RunParameterizedUpdate("Test::Scripted", sql.c_str()), c.ok);
    EXPECT_EQ(RecordedSleeps(), c.sleeps);
    const int attempts = c.ok ? static_cast<int>(c.states.size()) + 1 : static_cast<int>(c.sleeps.size()) + 1;
    EXPECT_EQ(Runs(sql) - before, attempts);
  }
}

TEST_F(VexdbScriptedTest, NoPoolMeansNoConnectionAndALoggedFailure) {
  GetConnectionPool().ReleasePool(true);
  LoggedLines log;
  EXPECT_FALSE(VEXDB_RunParameterizedUpdate("Test::NoPool", L"UPDATE T SET A = 1"));
  const auto lines = log.Stop();
  EXPECT_EQ(LinesWith(lines, L"Test::NoPool - Unable to get a connection from the connection Pool").size(), 1u);
  EXPECT_EQ(Runs(L"UPDATE T SET A = 1"), 0);
}

TEST_F(VexdbScriptedTest, LastHistoryIdFailsWithoutARow) {
  LoggedLines log;
  std::int64_t id = 3;
  EXPECT_FALSE(VEXDB_GetLastHistoryId(&id));  // the script answers without rows
  const auto lines = log.Stop();
  const auto failed =
      LinesWith(lines, L"VEXDB_GetLastHistoryId: the stored procedure HistoryGetMaxId failed or returned no row");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].eventCode, 0xAFFF6219u);
}

}  // namespace
