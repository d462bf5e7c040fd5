// The record layer against the PostgreSQL test database, reached with the
// system's SQL Server connection string: the statements it builds, after
// the ADO objects' dialect rewrite, run on the test schema.
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/connection_pool.h"
#include "db/db_config.h"
#include "db/odbc_record.h"
#include "db/record_connections_for_tests.h"
#include "db/test_support_for_tests.h"
#include "platform/ado/idle_cache.h"
#include "platform/com/apartment.h"
#include "platform/win32/time.h"
#include "testing/registry_fixture.h"
#include "testing/test_database.h"

namespace {

using morvale::testing::DatabaseTest;

std::string Narrow(const wchar_t* text) {
  const std::wstring wide = text != nullptr ? text : L"";
  return std::string(wide.begin(), wide.end());
}

class RecordPostgres : public DatabaseTest {
 protected:
  static void SetUpTestSuite() {
    ado::RegisterAdoClasses();
    DatabaseTest::SetUpTestSuite();
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    DatabaseTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    connections_ = std::make_unique<AdoRecordConnections>(database().ado_connection_string());
    sqlServer_ = std::make_unique<ODBCDatabase>(DatabaseKind::SqlServer, connections_.get());
    Run("DELETE FROM RecordTest; DELETE FROM RecordPlain; DELETE FROM ConfigHistory");
  }
  void TearDown() override {
    if (connections_) {
      EXPECT_EQ(connections_->outstanding, 0) << "a connection was not given back";
    }
    sqlServer_.reset();
    ado::IdleCache::Shared().Clear();
    CoUninitialize();
  }

  static void Run(const std::string& sql) {
    std::string error;
    ASSERT_TRUE(database().Execute(sql, &error)) << error;
  }

  // Rows of `table` (of RecordTest named `name`), read through the record
  // layer on a connection of its own.
  std::int32_t CountRows(const wchar_t* table, const wchar_t* name = nullptr) {
    ODBCRecord count(sqlServer_.get());
    std::int32_t rows = -1;
    count.SetTableName(table);
    count.AddOutputInt(L"*", &rows, L"COUNT");
    if (name != nullptr) count.AddWhereString(L"Name", name, ODBCRecord::kAnd, ODBCRecord::kEqual);
    bool found = false;
    EXPECT_TRUE(count.GetFirstValue(&found));
    EXPECT_TRUE(found);
    return rows;
  }
  std::int32_t CountNamed(const wchar_t* name) { return CountRows(L"RecordTest", name); }

  morvale::testing::ScopedRegistryDirectory registry_;
  std::unique_ptr<AdoRecordConnections> connections_;
  std::unique_ptr<ODBCDatabase> sqlServer_;
};

TEST_F(RecordPostgres, CreateReadUpdateAndDeleteOneRow) {
  ODBCRecord insert(sqlServer_.get());
  insert.SetTableName(L"RecordTest");
  insert.AddValueString(L"Name", L"alpha");
  insert.AddValueInt(L"Count", 3);
  std::int32_t rows = 99;
  ASSERT_TRUE(insert.DoCreateRecord(&rows));
  EXPECT_EQ(rows, -1);
  zev::ZEVString id;
  zev::ZEVString column;
  ASSERT_TRUE(insert.GetIdentifier(id, &column));
  EXPECT_EQ(Narrow(column.GetWide()), "Id");
  const std::int32_t idValue = static_cast<std::int32_t>(std::wcstol(id.GetWide(), nullptr, 10));
  ASSERT_GT(idValue, 0);

  ODBCRecord read(sqlServer_.get());
  std::wstring name;
  std::int32_t count = 0;
  read.SetTableName(L"RecordTest");
  read.AddOutputString(L"Name", &name);
  read.AddOutputInt(L"Count", &count);
  read.AddWhereInt(L"Id", idValue, ODBCRecord::kAnd, ODBCRecord::kEqual);
  bool found = false;
  ASSERT_TRUE(read.GetFirstValue(&found));
  ASSERT_TRUE(found);
  EXPECT_EQ(name, L"alpha");
  EXPECT_EQ(count, 3);

  ODBCRecord update(sqlServer_.get());
  update.SetTableName(L"RecordTest");
  update.AddValueInt(L"Count", 4);
  update.AddWhereInt(L"Id", idValue, ODBCRecord::kAnd, ODBCRecord::kEqual);
  ASSERT_TRUE(update.DoSetValue(false, &rows));
  EXPECT_EQ(rows, 1);
  ASSERT_TRUE(read.QueryFirstValue(&found));
  EXPECT_EQ(count, 4);

  ODBCRecord remove(sqlServer_.get());
  remove.SetTableName(L"RecordTest");
  remove.AddWhereInt(L"Id", idValue, ODBCRecord::kAnd, ODBCRecord::kEqual);
  ASSERT_TRUE(remove.DeleteRecord(false, &rows));
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(remove.GetStatus(), ODBCRecord::kStatusOk);
  EXPECT_FALSE(remove.DeleteRecord(false, &rows));
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(remove.GetStatus(), ODBCRecord::kStatusNoRows);
  EXPECT_FALSE(update.DoSetValue(false, &rows));
  EXPECT_EQ(update.GetStatus(), ODBCRecord::kStatusNoRows);

  // An empty result leaves the outputs as they were.
  name = L"kept";
  ASSERT_TRUE(read.GetFirstValue(&found));
  EXPECT_FALSE(found);
  EXPECT_EQ(name, L"kept");
}

TEST_F(RecordPostgres, SetValueCreatesAMissingRowOnceAndThenUpdatesIt) {
  for (std::int32_t value : {7, 8}) {
    SCOPED_TRACE(value);
    ODBCRecord record(sqlServer_.get());
    record.SetTableName(L"RecordTest");
    record.AddValueInt(L"Count", value);
    record.AddWhereString(L"Name", L"beta", ODBCRecord::kAnd, ODBCRecord::kEqual);
    std::int32_t rows = 0;
    ASSERT_TRUE(record.DoSetValue(true, &rows));
    zev::ZEVString id;
    // The first run inserts (with the WHERE column as a value), the second
    // updates the row it made.
    EXPECT_EQ(record.GetIdentifier(id), value == 7);
    EXPECT_EQ(rows, value == 7 ? -1 : 1);
  }
  EXPECT_EQ(CountNamed(L"beta"), 1);
}

TEST_F(RecordPostgres, AMissingTextIsWrittenAsNull) {
  ODBCRecord insert(sqlServer_.get());
  insert.SetTableName(L"RecordTest");
  insert.AddValueString(L"Name", nullptr);
  insert.AddValueInt(L"Count", 11);
  ASSERT_TRUE(insert.DoCreateRecord());
  ODBCRecord read(sqlServer_.get());
  std::int32_t count = 0;
  read.SetTableName(L"RecordTest");
  read.AddOutputInt(L"Count", &count);
  read.AddWhereIsNull(L"Name", ODBCRecord::kAnd);
  bool found = false;
  ASSERT_TRUE(read.GetFirstValue(&found));
  ASSERT_TRUE(found);
  EXPECT_EQ(count, 11);
}

TEST_F(RecordPostgres, TransactionsAreSeenFromASecondConnectionOnlyOnceCommitted) {
  ODBCRecord record(sqlServer_.get());
  record.SetTableName(L"RecordTest");
  record.AddValueString(L"Name", L"gamma");
  ASSERT_TRUE(record.BeginTransaction());
  EXPECT_THROW(record.BeginTransaction(), std::runtime_error);
  ASSERT_TRUE(record.DoCreateRecord());
  EXPECT_EQ(connections_->outstanding, 1);
  EXPECT_EQ(CountNamed(L"gamma"), 0);
  ASSERT_TRUE(record.Commit());
  EXPECT_EQ(connections_->outstanding, 0);
  EXPECT_EQ(CountNamed(L"gamma"), 1);

  ODBCRecord remove(sqlServer_.get());
  remove.SetTableName(L"RecordTest");
  remove.AddWhereString(L"Name", L"gamma", ODBCRecord::kAnd, ODBCRecord::kEqual);
  ASSERT_TRUE(remove.BeginTransaction());
  ASSERT_TRUE(remove.DeleteRecord());
  ASSERT_TRUE(remove.Rollback());
  EXPECT_EQ(CountNamed(L"gamma"), 1);

  // A record destroyed inside its transaction gives its connection back,
  // and what it did is not kept.
  {
    ODBCRecord abandoned(sqlServer_.get());
    abandoned.SetTableName(L"RecordTest");
    abandoned.AddWhereString(L"Name", L"gamma", ODBCRecord::kAnd, ODBCRecord::kEqual);
    ASSERT_TRUE(abandoned.BeginTransaction());
    ASSERT_TRUE(abandoned.DeleteRecord());
  }
  EXPECT_EQ(connections_->outstanding, 0);
  EXPECT_EQ(CountNamed(L"gamma"), 1);
}

TEST_F(RecordPostgres, FetchesTypedOutputs) {
  Run("INSERT INTO RecordTest (Name, Count, Big, Amount) VALUES ('n', NULL, 5000000000, -5), "
      "(NULL, 2, -7, 12)");
  struct Row {
    std::wstring name;
    std::int32_t count = 99;
    std::int64_t big = 99;
    std::int64_t amount64 = 99;
    std::int32_t amount = 99;
  } row;
  ODBCRecord record(sqlServer_.get());
  record.SetTableName(L"RecordTest");
  record.AddOutputString(L"Name", &row.name);
  record.AddOutputInt(L"Count", &row.count);
  record.AddOutputInt64("Big", &row.big);
  record.AddOutputInt64("Amount", &row.amount64);
  record.AddOutputInt(L"Amount", &row.amount);
  record.AddOrderBy(L"Big", false);
  bool found = false;
  ASSERT_TRUE(record.GetFirstValue(&found));
  ASSERT_TRUE(found);
  EXPECT_EQ(row.name, L"n");
  EXPECT_EQ(row.count, 0);  // NULL
  EXPECT_EQ(row.big, 5000000000);
  EXPECT_EQ(row.amount64, -5);  // a decimal cell
  EXPECT_EQ(row.amount, -5);
  ASSERT_TRUE(record.GetNextRow(&found));
  ASSERT_TRUE(found);
  EXPECT_EQ(row.name, L"");  // NULL
  EXPECT_EQ(row.count, 2);
  EXPECT_EQ(row.big, -7);
  EXPECT_EQ(row.amount, 12);
  ASSERT_TRUE(record.GetNextRow(&found));
  EXPECT_FALSE(found);

  // A 64-bit COUNT fits an integer output; a 64-bit value that does not
  // fit fails the fetch instead of being cut.
  ODBCRecord count(sqlServer_.get());
  std::int32_t rows = 0;
  count.SetTableName(L"RecordTest");
  count.AddOutputInt(L"*", &rows, L"COUNT");
  ASSERT_TRUE(count.GetFirstValue(&found));
  EXPECT_EQ(rows, 2);
  ODBCRecord tooBig(sqlServer_.get());
  std::int32_t big = 0;
  tooBig.SetTableName(L"RecordTest");
  tooBig.AddOutputInt(L"Big", &big);
  tooBig.AddWhereInt(L"Count", 0, ODBCRecord::kAnd, ODBCRecord::kEqual);
  tooBig.AddWhereIsNull(L"Count", ODBCRecord::kOr);
  EXPECT_FALSE(tooBig.GetFirstValue(&found));
  EXPECT_NE(Narrow(tooBig.GetLastMessage().GetWide())
                .find("[ODBCRecord::FetchData] Unexpected variant type 20.  Column # 1.  Query:  SELECT Big FROM "
                      "RecordTest WHERE"),
            std::string::npos)
      << Narrow(tooBig.GetLastMessage().GetWide());
}

TEST_F(RecordPostgres, EveryClauseKindRunsOnTheServer) {
  Run("INSERT INTO RecordTest (Id, Name, Count, Flags) VALUES (1, 'Ann', 1, 5), (2, 'bob', 2, 4), "
      "(3, 'Cid', 3, 2), (4, NULL, 4, 0)");
  struct Case {
    const char* name;
    std::function<void(ODBCRecord&)> fill;
    std::vector<std::int32_t> ids;
  };
  const std::vector<Case> cases = {
      {"IN list then a term",
       [](ODBCRecord& r) {
         for (int id : {1, 2, 3}) r.AddWhereInt(L"Id", id, ODBCRecord::kAnd, ODBCRecord::kIn);
         r.AddWhereInt(L"Count", 2, ODBCRecord::kAnd, ODBCRecord::kGreaterOrEqual);
       },
       {2, 3}},
      {"bit set and clear",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"Flags", 4, ODBCRecord::kAnd, ODBCRecord::kBitSet);
         r.AddWhereInt(L"Flags", 1, ODBCRecord::kAnd, ODBCRecord::kBitClear);
       },
       {2}},
      {"UPPER, LOWER and LIKE in a group",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"Id", 0, ODBCRecord::kAnd, ODBCRecord::kGreater);
         r.AddWhereOpenGroup();
         r.AddWhereString(L"Name", L"BOB", ODBCRecord::kAnd, ODBCRecord::kEqual, ODBCRecord::kCaseUpper);
         r.AddWhereString(L"Name", L"a%", ODBCRecord::kOr, ODBCRecord::kLike, ODBCRecord::kCaseLower);
         r.AddWhereIsNull(L"Name", ODBCRecord::kOr);
         r.AddWhereCloseGroup();
       },
       {1, 2, 4}},
      {"not equal, NOT LIKE, less",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"Id", 1, ODBCRecord::kAnd, ODBCRecord::kNotEqual);
         r.AddWhereString(L"Name", L"C%", ODBCRecord::kAnd, ODBCRecord::kNotLike);
         r.AddWhereInt(L"Count", 4, ODBCRecord::kAnd, ODBCRecord::kLess);
       },
       {2}},
      {"keyset page after (Count 2, Id 3), Id descending",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"Flags", 0, ODBCRecord::kAnd, ODBCRecord::kGreaterOrEqual);
         r.AddPageKeyInt(L"Count", true, 2);
         r.AddPageKeyInt(L"Id", false, 3);
       },
       {2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ODBCRecord record(sqlServer_.get());
    std::int32_t id = 0;
    record.SetTableName(L"RecordTest");
    record.AddOutputInt(L"Id", &id);
    c.fill(record);
    record.AddOrderBy(L"Id", true);
    std::vector<std::int32_t> ids;
    bool found = false;
    ASSERT_TRUE(record.GetFirstValue(&found)) << Narrow(record.BuildSelect().c_str());
    while (found) {
      ids.push_back(id);
      ASSERT_TRUE(record.GetNextRow(&found));
    }
    EXPECT_EQ(ids, c.ids) << Narrow(record.BuildSelect().c_str());
  }
}

TEST_F(RecordPostgres, UpdateAndDeleteBindThePageKeysOfTheirWhereClause) {
  Run("INSERT INTO RecordTest (Name, Count, Flags) VALUES ('p', 1, 0), ('p', 2, 0), ('p', 3, 0)");
  ODBCRecord update(sqlServer_.get());
  update.SetTableName(L"RecordTest");
  update.AddValueInt(L"Flags", 1);
  update.AddWhereString(L"Name", L"p", ODBCRecord::kAnd, ODBCRecord::kEqual);
  update.AddPageKeyInt(L"Count", true, 2);
  std::int32_t rows = 0;
  ASSERT_TRUE(update.DoSetValue(false, &rows));
  EXPECT_EQ(rows, 1);
  ODBCRecord remove(sqlServer_.get());
  remove.SetTableName(L"RecordTest");
  remove.AddWhereString(L"Name", L"p", ODBCRecord::kAnd, ODBCRecord::kEqual);
  remove.AddPageKeyInt(L"Count", true, 1);
  ASSERT_TRUE(remove.DeleteRecord(false, &rows));
  EXPECT_EQ(rows, 2);
}

TEST_F(RecordPostgres, StoredProcedureFillsTheOutputs) {
  Run("INSERT INTO ConfigHistory (ChangeType) VALUES (1), (2)");
  ODBCRecord record(sqlServer_.get());
  std::int64_t maxId = -1;
  record.AddOutputInt64("MaxId", &maxId);
  bool found = false;
  ASSERT_TRUE(record.DoStoredProcQuery(L"HistoryGetMaxId", &found));
  ASSERT_TRUE(found);
  EXPECT_GT(maxId, 1);
  EXPECT_FALSE(record.DoStoredProcQuery(nullptr, &found));
}

TEST_F(RecordPostgres, Db2InsertCountsRowsAndHasNoIdentity) {
  ODBCDatabase db2(DatabaseKind::DB2, connections_.get());
  ODBCRecord record(&db2);
  record.SetTableName(L"RecordPlain");
  record.AddValueString(L"Name", L"delta");
  record.AddValueInt(L"Count", 1);
  std::int32_t rows = 0;
  ASSERT_TRUE(record.DoCreateRecord(&rows));
  EXPECT_EQ(rows, 1);
  zev::ZEVString id;
  EXPECT_FALSE(record.GetIdentifier(id));
}

TEST_F(RecordPostgres, ServerErrorsAreReportedAndTheConnectionGivenBack) {
  ODBCRecord record(sqlServer_.get());
  std::int32_t value = 0;
  record.SetTableName(L"NoSuchTable");
  record.AddOutputInt(L"x", &value);
  bool found = true;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(record.GetFirstValue(&found));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("[ODBCRecord::DoGetFirstValue] SQL = \"SELECT x FROM NoSuchTable\"."), std::string::npos)
      << out;
  record.AddValueInt(L"x", 1);
  EXPECT_FALSE(record.DoCreateRecord());
  EXPECT_FALSE(record.DoSetValue(false, nullptr, L"UPDATE NoSuchTable SET x = ?"));
  EXPECT_FALSE(record.DeleteRecord(true));
  // Without WHERE terms neither UPDATE nor DELETE runs.
  ODBCRecord unbounded(sqlServer_.get());
  unbounded.SetTableName(L"RecordTest");
  unbounded.AddValueInt(L"Count", 1);
  EXPECT_FALSE(unbounded.DoSetValue());
  EXPECT_FALSE(unbounded.DeleteRecord());
  EXPECT_EQ(connections_->statements, connections_->failures);
}

// The identity read back after an INSERT is that of the row just inserted
// into that table, or none for a table without one; on a fresh session and
// on one reused after an insert into another table alike.
TEST_F(RecordPostgres, TheIdentityReadBackIsThatOfTheRowJustInserted) {
  Run("CREATE TABLE RecordSerial (Id serial PRIMARY KEY, Name varchar(32)); "
      "SELECT setval(pg_get_serial_sequence('RecordSerial', 'id'), 1000)");
  auto insert = [&](const wchar_t* table, zev::ZEVString* id) {
    ODBCRecord record(sqlServer_.get());
    record.SetTableName(table);
    record.AddValueString(L"Name", L"identity");
    EXPECT_TRUE(record.DoCreateRecord()) << Narrow(table);
    return record.GetIdentifier(*id);
  };
  auto highest = [&](const wchar_t* table) {
    ODBCRecord record(sqlServer_.get());
    std::int32_t id = -1;
    record.SetTableName(table);
    record.AddOutputInt(L"Id", &id, L"MAX");
    bool found = false;
    EXPECT_TRUE(record.GetFirstValue(&found));
    return std::to_string(id);
  };
  for (bool fresh : {true, false}) {
    SCOPED_TRACE(fresh ? "fresh session" : "reused session");
    if (fresh) ado::IdleCache::Shared().Clear();
    zev::ZEVString id;
    EXPECT_FALSE(insert(L"RecordPlain", &id));
    ASSERT_TRUE(insert(L"RecordTest", &id));
    EXPECT_EQ(Narrow(id.GetWide()), highest(L"RecordTest"));
    EXPECT_FALSE(insert(L"RecordPlain", &id));
    ASSERT_TRUE(insert(L"RecordSerial", &id));
    EXPECT_EQ(Narrow(id.GetWide()), highest(L"RecordSerial"));
    EXPECT_GT(std::stoi(Narrow(id.GetWide())), 1000);
  }
  EXPECT_EQ(CountRows(L"RecordPlain"), 4);
}

// A commit the server refuses (a deferred unique constraint) ends the
// transaction: the connection goes back, the caller learns of the failure,
// and a rollback the caller then asks for is harmless.
TEST_F(RecordPostgres, AFailedCommitGivesTheConnectionBack) {
  Run("CREATE TABLE RecordDeferred (Id integer, CONSTRAINT RecordDeferredOnce UNIQUE (Id) "
      "DEFERRABLE INITIALLY DEFERRED)");
  ODBCDatabase db2(DatabaseKind::DB2, connections_.get());  // plain INSERTs
  ODBCRecord record(&db2);
  record.SetTableName(L"RecordDeferred");
  record.AddValueInt(L"Id", 1);
  ASSERT_TRUE(record.BeginTransaction());
  ASSERT_TRUE(record.DoCreateRecord());
  ASSERT_TRUE(record.DoCreateRecord());  // the duplicate shows only at commit
  LoggedLines log;
  EXPECT_FALSE(record.Commit());
  const std::vector<CapturedLine> lines = log.Stop();
  EXPECT_FALSE(LinesWith(lines, L"23505").empty());
  EXPECT_FALSE(record.InTransaction());
  EXPECT_EQ(connections_->outstanding, 0);
  EXPECT_NO_THROW(EXPECT_TRUE(record.Rollback()));
  EXPECT_EQ(connections_->outstanding, 0);

  // The record goes on working, in and out of transactions.
  ASSERT_TRUE(record.BeginTransaction());
  ASSERT_TRUE(record.DoCreateRecord());
  ASSERT_TRUE(record.Commit());
  EXPECT_THROW(record.Rollback(), std::runtime_error);
  EXPECT_EQ(CountRows(L"RecordDeferred"), 1);
}

// A commit whose connection dies cannot tell whether the server committed:
// the caller is told the outcome is unknown, and the connection goes back.
TEST_F(RecordPostgres, ACommitOnADeadConnectionReportsAnUnknownOutcome) {
  ODBCRecord record(sqlServer_.get());
  record.SetTableName(L"RecordTest");
  record.AddValueString(L"Name", L"in doubt");
  ASSERT_TRUE(record.BeginTransaction());
  ASSERT_TRUE(record.DoCreateRecord());
  std::string error;
  ASSERT_TRUE(database().Execute("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                                 "WHERE datname = current_database() AND pid <> pg_backend_pid()",
                                 &error))
      << error;
  LoggedLines log;
  EXPECT_FALSE(record.Commit());
  const std::vector<CapturedLine> lines = log.Stop();
  EXPECT_FALSE(LinesWith(lines, L"0x8004D016").empty());  // XACT_E_INDOUBT
  EXPECT_FALSE(LinesWith(lines, L"outcome of the transaction is unknown").empty());
  EXPECT_EQ(connections_->outstanding, 0);
  EXPECT_FALSE(record.InTransaction());
}

// PostgreSQL aborts a transaction whose statement timed out: trying the
// statement again could only fail with 25P02, so the time-out is reported
// at once. Outside a transaction the time-out is still tried again.
TEST_F(RecordPostgres, ATimeOutInsideATransactionIsReportedAtOnce) {
  static std::vector<DWORD> slept;
  slept.clear();
  const SleepHook previous = SetSleepHookForTesting([](DWORD ms) { slept.push_back(ms); });
  ODBCRecord record(sqlServer_.get());
  ASSERT_TRUE(record.BeginTransaction());
  bool found = false;
  ASSERT_TRUE(record.GetFirstValue(&found, L"SET LOCAL statement_timeout = 50"));
  LoggedLines log;
  EXPECT_FALSE(record.GetFirstValue(&found, L"SELECT pg_sleep(2)"));
  const std::vector<CapturedLine> lines = log.Stop();
  EXPECT_TRUE(slept.empty());
  EXPECT_FALSE(LinesWith(lines, L"0x80040E31").empty());  // DB_E_ABORTLIMITREACHED, HYT00
  EXPECT_TRUE(LinesWith(lines, L"25P02").empty());
  EXPECT_TRUE(record.Rollback());
  EXPECT_EQ(connections_->outstanding, 0);
  SetSleepHookForTesting(previous);
}

// DbConfig's kind for DB2 selects the DB2 statement forms.
TEST_F(RecordPostgres, DbConfigsDb2KindSelectsTheDb2Forms) {
  ODBCDatabase db2(DatabaseKind::DB2, connections_.get());
  EXPECT_TRUE(db2.IsDB2());
  ODBCRecord record(&db2);
  record.SetTableName(L"RecordPlain");
  record.AddValueString(L"Name", L"kind");
  std::int32_t rows = 0;
  ASSERT_TRUE(record.DoCreateRecord(&rows));
  EXPECT_EQ(rows, 1);
}

TEST_F(RecordPostgres, ByDefaultRecordsBorrowFromTheProcessWidePool) {
  ConnectionPool& pool = GetConnectionPool();
  const std::wstring& ado = database().ado_connection_string();
  ASSERT_TRUE(pool.InitializePool(2, ado, 0, false, true));
  {
    ODBCDatabase pooled(DatabaseKind::SqlServer, nullptr);
    ODBCRecord record(&pooled);
    record.SetTableName(L"RecordTest");
    record.AddValueString(L"Name", L"pooled");
    ASSERT_TRUE(record.BeginTransaction());
    ASSERT_TRUE(record.DoCreateRecord());
    ASSERT_TRUE(record.Commit());
    std::int32_t count = 0;
    ODBCRecord read(&pooled);
    read.SetTableName(L"RecordTest");
    read.AddOutputInt(L"*", &count, L"COUNT");
    read.AddWhereString(L"Name", L"pooled", ODBCRecord::kAnd, ODBCRecord::kEqual);
    // More operations than the pool has slots: each gives its slot back.
    for (int i = 0; i < 4; ++i) {
      bool found = false;
      ASSERT_TRUE(read.GetFirstValue(&found));
      EXPECT_EQ(count, 1);
    }
    EXPECT_GE(pool.GetStatistics().commandCount, 5u);
  }
  pool.ReleasePool(true);
}

}  // namespace
