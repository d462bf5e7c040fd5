// The query core against the PostgreSQL test server: real statement
// time-outs and real transient SQL states (raised by the server), with the
// pauses between tries recorded instead of slept.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_for_tests.h"
#include "db/connection_holder.h"
#include "db/connection_pool.h"
#include "db/test_support_for_tests.h"
#include "db/test_support_vexdb_for_tests.h"

namespace {

class QueryCoreTest : public VexdbDatabaseTest {
 protected:
  // Runs `sql` through the chosen runner on a borrowed connection with the
  // given command time-out; true when it ran, false when the runner threw
  // a COM error (kept in error_).
  bool Run(const std::wstring& sql, bool rows, LONG timeout = 30) {
    ConnectionHolder holder;
    EXPECT_NE(holder.get(), nullptr);
    ado::_CommandPtr command;
    EXPECT_TRUE(PrepareCommand("Test::Run", holder, sql.c_str(), command));
    command->PutCommandTimeout(timeout);
    try {
      if (rows) {
        database_->executeQuery("Test::Retry", rows_, command);
      } else {
        _variant_t affected;
        database_->executeStatement("Test::Retry", command, &affected);
      }
      return true;
    } catch (const _com_error& error) {
      error_ = error.Error();
      return false;
    }
  }

  DatabasePtr database_ = NewDatabase();
  ado::_RecordsetPtr rows_;
  HRESULT error_ = S_OK;
};

TEST_F(QueryCoreTest, TransientStatesAreRetriedWithGrowingPauses) {
  Sql("CREATE SEQUENCE flaky");
  const std::wstring timeOut = L"SELECT pg_sleep(2)";
  const std::wstring deadlock = L"DO $$ BEGIN RAISE SQLSTATE '40001'; END $$";
  const std::wstring lockTimeOut = L"DO $$ BEGIN RAISE SQLSTATE '57033'; END $$";
  const std::wstring twiceFailing = L"DO $$ BEGIN IF nextval('flaky') < 3 THEN RAISE SQLSTATE '40001'; END IF; END $$";
  const std::wstring missingTable = L"SELECT * FROM NoSuchTable";
  const struct {
    const std::wstring& sql;
    bool rows;
    LONG timeout;
    int retryCount;
    bool ran;
    DWORD tries;
    std::vector<DWORD> sleeps;
  } cases[] = {
      {timeOut, true, 1, 3, false, 3, {1000, 4000}},
      {timeOut, false, 1, 0, false, 1, {}},
      {deadlock, false, 30, 2, false, 2, {1000}},
      {lockTimeOut, true, 30, 2, false, 2, {1000}},
      {deadlock, false, 30, 1, false, 1, {}},
      {twiceFailing, false, 30, 3, true, 3, {1000, 4000}},
      {missingTable, true, 30, 3, false, 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sql.begin(), c.sql.end()) + " with retry count " + std::to_string(c.retryCount));
    RecordedSleeps().clear();
    database_->SetQueryRetryCount(c.retryCount);
    const ConnectionPool::Statistics before = GetConnectionPool().GetStatistics();
    LoggedLines log;
    EXPECT_EQ(Run(c.sql, c.rows, c.timeout), c.ran);
    const auto lines = log.Stop();
    const ConnectionPool::Statistics after = GetConnectionPool().GetStatistics();

    EXPECT_EQ(after.commandCount - before.commandCount, c.tries);
    EXPECT_EQ(after.failureCount - before.failureCount, c.ran ? c.tries - 1 : c.tries);
    EXPECT_EQ(RecordedSleeps(), c.sleeps);
    std::vector<std::wstring> retries;
    for (const CapturedLine& line : lines) {
      if (line.eventCode == 0x6FFF76EAu) retries.push_back(line.text);
    }
    ASSERT_EQ(retries.size(), c.sleeps.size());
    for (size_t i = 0; i < retries.size(); ++i) {
      const int left = c.retryCount - 1 - static_cast<int>(i);
      const std::wstring expected = L"Test::Retry: retrying, " + std::to_wstring(left) + (left > 1 ? L" tries" : L" try") +
                                    L" left: " + c.sql;
      EXPECT_NE(retries[i].find(expected), std::wstring::npos) << std::string(retries[i].begin(), retries[i].end());
    }
  }
  EXPECT_EQ(error_, static_cast<HRESULT>(0x80040E37u)) << "the missing table's error reaches the caller";
}

TEST_F(QueryCoreTest, ACommandWithoutAConnectionFailsAtOnce) {
  database_->SetQueryRetryCount(3);
  ado::_CommandPtr command = ado::MakeCommand();
  command->PutCommandText(_bstr_t(L"SELECT 1"));
  _variant_t affected;
  EXPECT_THROW(database_->executeStatement("Test::NoConnection", command, &affected), _com_error);
  EXPECT_THROW(database_->executeQuery("Test::NoConnection", rows_, command), _com_error);
  EXPECT_TRUE(RecordedSleeps().empty());
}

TEST_F(QueryCoreTest, FirstColumnReader) {
  const struct {
    const wchar_t* sql;
    bool read;
    bool result;
    std::int64_t value;
  } cases[] = {
      {L"SELECT 42", true, true, 42},
      {L"SELECT CAST(NULL AS integer)", true, true, 0},
      {L"SELECT -1", true, true, 0xFFFFFFFFLL},
      {L"SELECT 1 WHERE 1 = 0", true, false, -7},
      {L"SELECT 42", false, false, -7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sql, c.sql + wcslen(c.sql)));
    ASSERT_TRUE(Run(c.sql, true));
    std::int64_t value = -7;
    EXPECT_EQ(ReadFirstColumnAsInt64(rows_, c.read, &value), c.result);
    EXPECT_EQ(value, c.value);
  }
  std::int64_t value = -7;
  EXPECT_FALSE(ReadFirstColumnAsInt64(nullptr, true, &value));
  EXPECT_EQ(value, -7);
}

TEST_F(QueryCoreTest, CloseRecordSetClosesAnOpenRecordsetAndIgnoresTheRest) {
  ASSERT_TRUE(Run(L"SELECT 1", true));
  LoggedLines log;
  closeRecordSet(rows_);
  EXPECT_EQ(rows_->GetState(), ado::adStateClosed);
  closeRecordSet(rows_);
  closeRecordSet(nullptr);
  for (const CapturedLine& line : log.Stop()) {
    EXPECT_GT(line.level, 2) << std::string(line.text.begin(), line.text.end());
  }
}

}  // namespace
