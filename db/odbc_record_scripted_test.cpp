// The record layer over a scripted server: what no real server produces on
// demand (deadlocks, time-outs, a NULL identity, an unknown row count).
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/odbc_record.h"
#include "db/record_connections_for_tests.h"
#include "testing/scripted_backend.h"
#include "platform/com/apartment.h"
#include "platform/win32/time.h"
#include "testing/registry_fixture.h"

namespace {

constexpr wchar_t kConnectionString[] =
    L"Provider=SQLOLEDB.1;Server=db,1433;Database=VEXMgmt;uid=sa;pwd=secret";

std::vector<DWORD> g_sleeps;
void RecordSleep(DWORD milliseconds) { g_sleeps.push_back(milliseconds); }

ado::ScriptedDriver::Step Affected(std::int64_t rows) {
  ado::ScriptedDriver::Step step;
  step.response.results.push_back(ado::backend::Result{nullptr, rows});
  return step;
}

// A result of one row of one column of `kind`, its cell written by `put`.
template <typename Put>
std::shared_ptr<ado::backend::RowSet> OneCell(ado::backend::ValueKind kind, Put put) {
  auto rows = std::make_shared<ado::backend::RowSet>(
      std::vector<ado::backend::ColumnInfo>{{L"", 2, 38, 0, true, kind}});
  rows->BeginRow();
  put(*rows);
  rows->Seal();
  return rows;
}

class RecordScripted : public morvale::testing::RegistryTest {
 protected:
  void SetUp() override {
    unsetenv("MORVALE_ADO_PROVIDERS");
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    g_sleeps.clear();
    previousSleep_ = SetSleepHookForTesting(RecordSleep);
  }
  void TearDown() override {
    SetSleepHookForTesting(previousSleep_);
    EXPECT_EQ(connections_.outstanding, 0) << "a connection was not given back";
    CoUninitialize();
  }

  // An UPDATE of one row by id, on its own or inside a transaction.
  bool Update(ODBCDatabase& database, bool inTransaction) {
    ODBCRecord record(&database);
    record.SetTableName(L"T");
    record.AddValueInt(L"a", 1);
    record.AddWhereInt(L"Id", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
    if (inTransaction && !record.BeginTransaction()) return false;
    const bool updated = record.DoSetValue();
    if (inTransaction) record.Rollback();
    return updated;
  }

  std::vector<std::wstring> Executed() const { return driver_.Executed(); }

  ado::ScriptedDriver driver_;
  ado::ScopedDriver scope_{&driver_};
  AdoRecordConnections connections_{kConnectionString};
  SleepHook previousSleep_ = nullptr;
};

TEST_F(RecordScripted, RetryRule) {
  struct Case {
    const char* name;
    const char* retryCount;  // registry value, or null for the default 5
    bool inTransaction;
    std::vector<std::string> failures;  // SQLSTATEs of the failing tries, in order
    bool result;
    std::vector<DWORD> sleeps;
  };
  const std::vector<Case> cases = {
      {"deadlock five times: four sleeps, then reported", nullptr, false,
       {"40001", "40001", "40001", "40001", "40001"}, false, {1000, 4000, 9000, 16000}},
      {"deadlock twice, then through", nullptr, false, {"40001", "40001"}, true, {1000, 4000}},
      {"DB2 lock time-out retried outside a transaction", nullptr, false, {"57033"}, true, {1000}},
      {"deadlock inside a transaction is not retried", nullptr, true, {"40001"}, false, {}},
      {"time-out inside a transaction is retried", nullptr, true, {"HYT00"}, true, {1000}},
      {"other errors are not retried", nullptr, false, {"42000"}, false, {}},
      {"one try only", "00000001", false, {"HYT00"}, false, {}},
      {"no tries configured still tries once", "00000000", false, {"HYT00"}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_sleeps.clear();
    if (c.retryCount != nullptr) {
      registry_.WriteRoot("HKLM", std::string("[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari "
                                              "Server\\Database]\n\"CommandRetryCount\"=dword:") +
                                      c.retryCount + "\n");
    } else {
      registry_.WriteRoot("HKLM", "");
    }
    ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
    const std::size_t before = Executed().size();
    for (const std::string& state : c.failures) driver_.PushError(state, L"scripted failure");
    if (c.result) driver_.Push(Affected(1));
    testing::internal::CaptureStdout();
    EXPECT_EQ(Update(database, c.inTransaction), c.result);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_sleeps, c.sleeps);
    const std::size_t tries = c.failures.size() + (c.result ? 1 : 0);
    EXPECT_EQ(Executed().size() - before, tries);
    EXPECT_EQ(out.find("[ODBCRecord::DoSetValue] Timeout or deadlock.  ") != std::string::npos, !c.sleeps.empty())
        << out;
  }
}

// An ADO object that cannot be made fails the operation with its line;
// nothing escapes and nothing runs.
TEST_F(RecordScripted, ObjectsThatCannotBeMadeFailTheOperationWithTheirLine) {
  ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
  struct Case {
    CLSID clsid;
    const char* line;
  };
  const Case cases[] = {{ado::CLSID_Command, "Command create failed"},
                        {ado::CLSID_Recordset, "Recordset create failed"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ado::ScopedCreationFailure failure(c.clsid, E_OUTOFMEMORY);
    ODBCRecord record(&database);
    std::int32_t value = 0;
    record.SetTableName(L"T");
    record.AddOutputInt(L"a", &value);
    record.AddValueInt(L"a", 1);
    record.AddWhereInt(L"Id", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
    auto lastLine = [&record] {
      const wchar_t* text = record.GetLastMessage().GetWide();
      return std::string(text, text + std::wcslen(text));
    };
    testing::internal::CaptureStdout();
    bool found = true;
    EXPECT_FALSE(record.GetFirstValue(&found));
    EXPECT_NE(lastLine().find(std::string("[ODBCRecord::DoGetFirstValue] ") + c.line), std::string::npos)
        << lastLine();
    EXPECT_FALSE(record.DoCreateRecord());
    EXPECT_NE(lastLine().find(std::string("[ODBCRecord::DoCreateRecord] ") + c.line), std::string::npos);
    if (c.clsid == ado::CLSID_Command) {
      EXPECT_FALSE(record.DoSetValue());
      EXPECT_NE(lastLine().find("[ODBCRecord::DoSetValue] Command create failed"), std::string::npos);
      EXPECT_FALSE(record.DeleteRecord());
      EXPECT_NE(lastLine().find("[ODBCRecord::DeleteRecord] Command create failed"), std::string::npos);
    }
    testing::internal::GetCapturedStdout();
  }
  EXPECT_TRUE(Executed().empty());
}

TEST_F(RecordScripted, InsertWithoutIdentitySucceedsWithoutIdentifier) {
  ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
  driver_.PushRows(OneCell(ado::backend::ValueKind::Decimal, [](ado::backend::RowSet& rows) { rows.PutNull(); }));
  ODBCRecord record(&database);
  record.SetTableName(L"NoIdentity");
  record.AddValueInt(L"a", 1);
  ASSERT_TRUE(record.DoCreateRecord());
  zev::ZEVString id;
  EXPECT_FALSE(record.GetIdentifier(id));
  EXPECT_EQ(record.GetStatus(), ODBCRecord::kStatusOk);
}

// The identity comes back as decimal text under the name "Id" whatever
// the cell's type; a record that has run no INSERT gives no text at all,
// one whose INSERT read none, or that was Reset, gives empty texts.
TEST_F(RecordScripted, TheIdentityIsGivenAsDecimalText) {
  using ado::backend::ValueKind;
  ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
  struct Case {
    ValueKind kind;
    std::int64_t integer;
    ado::backend::Decimal decimal;
    const wchar_t* text;
  };
  const Case cases[] = {
      {ValueKind::Int32, 7, {}, L"7"},
      {ValueKind::Int32, -1, {}, L"-1"},
      {ValueKind::Int64, 0, {}, L"0"},
      {ValueKind::Int64, INT64_MAX, {}, L"9223372036854775807"},
      {ValueKind::Int64, INT64_MIN, {}, L"-9223372036854775808"},
      {ValueKind::Decimal, 0, {12345, 0, 0, false}, L"12345"},
      {ValueKind::Decimal, 0, {4294967296, 0, 0, true}, L"-4294967296"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    const auto identity = OneCell(c.kind, [&c](ado::backend::RowSet& rows) {
      if (c.kind == ValueKind::Decimal) {
        rows.PutDecimal(c.decimal);
      } else {
        rows.PutInteger(c.integer);
      }
    });
    driver_.PushRows(identity);
    driver_.Push(Affected(1));  // no result to read an identity from
    driver_.PushRows(identity);
    ODBCRecord record(&database);
    record.SetTableName(L"T");
    record.AddValueInt(L"a", 1);
    zev::ZEVString id = L"stale";
    zev::ZEVString name = L"stale";
    auto expect = [&](bool read, const wchar_t* value, const wchar_t* column) {
      EXPECT_EQ(record.GetIdentifier(id, &name), read);
      EXPECT_EQ(id.GetWide() == nullptr ? L"(no text)" : std::wstring(id.GetWide()), value);
      EXPECT_EQ(name.GetWide() == nullptr ? L"(no text)" : std::wstring(name.GetWide()), column);
    };
    expect(false, L"(no text)", L"(no text)");
    ASSERT_TRUE(record.DoCreateRecord());
    expect(true, c.text, L"Id");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(record.DoCreateRecord());
    testing::internal::GetCapturedStdout();
    expect(false, L"", L"");
    ASSERT_TRUE(record.DoCreateRecord());
    expect(true, c.text, L"Id");
    record.Reset();
    expect(false, L"", L"");
  }
}

// Outputs are read from the fetched rows by position: a row of fewer
// columns than outputs fails the fetch with the position it lacked, after
// filling the outputs before it.
TEST_F(RecordScripted, FetchReadsEachRowsCellsAndReportsAMissingOne) {
  ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
  auto rows = std::make_shared<ado::backend::RowSet>(std::vector<ado::backend::ColumnInfo>{
      {L"a", 4, 10, 0, true, ado::backend::ValueKind::Int32}, {L"b", -9, 20, 0, true, ado::backend::ValueKind::Text}});
  for (int i = 1; i <= 3; ++i) {
    rows->BeginRow();
    rows->PutInteger(i);
    rows->PutText("row " + std::to_string(i));
  }
  rows->Seal();
  driver_.PushRows(rows);
  std::int32_t a = 0;
  std::wstring b;
  ODBCRecord record(&database);
  record.SetTableName(L"T");
  record.AddOutputInt(L"a", &a);
  record.AddOutputString(L"b", &b);
  bool found = false;
  ASSERT_TRUE(record.GetFirstValue(&found));
  ASSERT_TRUE(found);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, L"row 1");
  for (int i = 2; i <= 3; ++i) {
    ASSERT_TRUE(record.GetNextRow(&found));
    ASSERT_TRUE(found);
    EXPECT_EQ(a, i);
    EXPECT_EQ(b, L"row " + std::to_wstring(i));
  }
  ASSERT_TRUE(record.GetNextRow(&found));
  EXPECT_FALSE(found);

  driver_.PushRows(OneCell(ado::backend::ValueKind::Int32, [](ado::backend::RowSet& rows) { rows.PutInteger(9); }));
  b = L"kept";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(record.GetFirstValue(&found));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ODBCRecord::GetArrayValue: Cannot get value from array position [0][1]'"), std::string::npos)
      << out;
  EXPECT_NE(out.find("[ODBCRecord::FetchData] SQL = \"SELECT a, b FROM T\".'"), std::string::npos) << out;
  EXPECT_EQ(a, 9);
  EXPECT_EQ(b, L"kept");
}

// A decimal cell (NUMERIC) fills an integer output with its value rounded
// half to even; one beyond the output's range fails the fetch, as a 64-bit
// value too large for a 32-bit output does, rather than being cut to a
// wrong number.
TEST_F(RecordScripted, ADecimalFillsAnIntegerOutputWhenItFits) {
  ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
  constexpr std::uint64_t k2To63 = std::uint64_t{1} << 63;
  struct Case {
    const char* name;
    ado::backend::Decimal cell;  // lo, hi, scale, negative
    bool wide;                   // a 64-bit output
    bool fetched;
    std::int64_t value;
  };
  const Case cases[] = {
      {"-5", {5, 0, 0, true}, false, true, -5},
      {"15.00", {1500, 0, 2, false}, false, true, 15},
      {"-0.0", {0, 0, 1, true}, false, true, 0},
      {"12.5", {125, 0, 1, false}, false, true, 12},
      {"13.5", {135, 0, 1, false}, false, true, 14},
      {"-2.7 into 64 bits", {27, 0, 1, true}, true, true, -3},
      {"0.4", {4, 0, 1, false}, false, true, 0},
      {"2^31 - 1", {2147483647, 0, 0, false}, false, true, 2147483647},
      {"-2^31", {2147483648, 0, 0, true}, false, true, -2147483648LL},
      {"2^31", {2147483648, 0, 0, false}, false, false, 0},
      {"-2^31 - 1", {2147483649, 0, 0, true}, false, false, 0},
      {"5000000000", {5000000000, 0, 0, false}, false, false, 0},
      {"5000000000 into 64 bits", {5000000000, 0, 0, false}, true, true, 5000000000},
      {"-2^63 into 64 bits", {k2To63, 0, 0, true}, true, true, INT64_MIN},
      {"2^63 into 64 bits", {k2To63, 0, 0, false}, true, false, 0},
      {"2^64 into 64 bits", {0, 1, 0, false}, true, false, 0},
      {"2^64 * 10 / 10^1 into 64 bits", {0, 10, 1, false}, true, false, 0},
      {"2^64 * 10 / 10^3 into 64 bits", {0, 10, 3, false}, true, true, 184467440737095516},
      {"10^19 / 10^1 into 64 bits", {10000000000000000000ULL, 0, 1, false}, true, true, 1000000000000000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    driver_.PushRows(
        OneCell(ado::backend::ValueKind::Decimal, [&c](ado::backend::RowSet& rows) { rows.PutDecimal(c.cell); }));
    std::int32_t narrow = 99;
    std::int64_t wide = 99;
    ODBCRecord record(&database);
    record.SetTableName(L"T");
    if (c.wide) {
      record.AddOutputInt64("v", &wide);
    } else {
      record.AddOutputInt(L"v", &narrow);
    }
    bool found = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(record.GetFirstValue(&found), c.fetched);
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.fetched) {
      EXPECT_EQ(c.wide ? wide : narrow, c.value);
    } else {
      EXPECT_EQ(c.wide ? wide : narrow, 99);
      EXPECT_NE(out.find("[ODBCRecord::FetchData] Unexpected variant type 14.  Column # 1.  Query:  SELECT v FROM T'"),
                std::string::npos)
          << out;
    }
  }
}

TEST_F(RecordScripted, SetValueInsertsOnlyWhenNoRowCertainlyMatched) {
  struct Case {
    std::int64_t updated;
    bool inserts;
  };
  for (const Case& c : {Case{-1, false}, Case{0, true}, Case{1, false}}) {
    SCOPED_TRACE(c.updated);
    ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
    const std::size_t before = Executed().size();
    driver_.Push(Affected(c.updated));
    ODBCRecord record(&database);
    record.SetTableName(L"T");
    record.AddValueInt(L"a", 1);
    record.AddWhereInt(L"Id", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
    std::int32_t count = 7;
    EXPECT_TRUE(record.DoSetValue(true, &count));
    const std::vector<std::wstring> executed = Executed();
    ASSERT_EQ(executed.size() - before, c.inserts ? 2u : 1u);
    EXPECT_EQ(executed[before].rfind(L"UPDATE T SET a = ?", 0), 0u);
    if (c.inserts) {
      EXPECT_NE(executed[before + 1].find(L"INSERT INTO T (a, Id)"), std::wstring::npos);
    }
  }
}

TEST_F(RecordScripted, InformationalLinesReachTheConsoleWhenNoLoggerRuns) {
  // Unlike the SQL, DATA and row-count traces, these lines are always
  // passed to the log sink, which prints them while the logger is off.
  ODBCDatabase database(DatabaseKind::SqlServer, &connections_);
  ado::ScriptedDriver::Step insert = Affected(1);
  insert.response.results.push_back(ado::backend::Result{
      OneCell(ado::backend::ValueKind::Decimal, [](ado::backend::RowSet& rows) { rows.PutNull(); }), -1});
  driver_.Push(std::move(insert));
  driver_.Push(Affected(-1));
  ODBCRecord record(&database);
  record.SetTableName(L"T");
  record.AddValueInt(L"a", 1);
  record.AddWhereInt(L"Id", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(record.DoCreateRecord());
  EXPECT_TRUE(record.DoSetValue());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("[ODBCRecord::DoCreateRecord] next RecordSet called'"), std::string::npos) << out;
  EXPECT_NE(out.find("[ODBCRecord::DoSetValue] Database provider returned unknown number of rows updated.  "
                     "SQL = \"UPDATE T SET a = ? WHERE Id = ?\".'"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("[ODBCRecord::DoSetValue] DATA = \"a[1] Id[2] \".'"), std::string::npos) << out;
  EXPECT_EQ(out.find("SQL = \"SET NOCOUNT ON"), std::string::npos) << "the SQL trace stays off: " << out;
}

}  // namespace
