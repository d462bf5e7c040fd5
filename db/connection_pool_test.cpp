#include "db/connection_pool.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "db/test_support_for_tests.h"
#include "foundation/string_conversion.h"
#include "platform/ado/idle_cache.h"
#include "testing/scripted_backend.h"
#include "platform/win32/codepage.h"
#include "platform/win32/sync.h"
#include "platform/win32/time.h"
#include "testing/postgres.h"
#include "testing/registry_fixture.h"

namespace {

std::atomic<int> sleeps{0};
std::atomic<DWORD> sleptMilliseconds{0};
void CountingSleep(DWORD milliseconds) {
  sleeps.fetch_add(1);
  sleptMilliseconds.store(milliseconds);
}
// A clock that only Sleep moves: the seconds between two connect attempts
// pass at once.
std::atomic<std::uint64_t> fakeMilliseconds{0};
std::uint64_t FakeClock() { return fakeMilliseconds.load(); }
void SleepOnTheFakeClock(DWORD milliseconds) { fakeMilliseconds.fetch_add(milliseconds); }
// The pool's 600-second semaphore wait gives up after 100 ms.
DWORD ShortAbandonWait(DWORD milliseconds) { return milliseconds == 600000 ? 100 : milliseconds; }


// The login as the connection string reads: any case, quoted or not.
TEST(ConnectionPoolGetUserId, TheLoginTheStringNames) {
  EXPECT_EQ(ConnectionPool::GetUserId(L"Server=a;uid=sa;pwd=x"), L"sa");
  EXPECT_EQ(ConnectionPool::GetUserId(L"Server=a;uid=sa"), L"sa");
  EXPECT_EQ(ConnectionPool::GetUserId(L"Server=a;UID=sa"), L"sa");
  EXPECT_EQ(ConnectionPool::GetUserId(L"Server=a;uid=\"do;main\";pwd=x"), L"do;main");
  EXPECT_EQ(ConnectionPool::GetUserId(L"Server=a;pwd=\"uid=no\""), L"");
  EXPECT_EQ(ConnectionPool::GetUserId(L""), L"");
}

// The desktop edition of SQL Server limits the pool when the caller gives a
// limit below the pool size; the scripted driver plays the server.
TEST(ConnectionPoolDesktopEngine, LimitsThePoolSizeOnlyForThatServer) {
  struct Case {
    const wchar_t* dbms;
    const char* version;  // null: the version query must not run
    unsigned limit;
    unsigned expected;
  };
  const Case cases[] = {
      {L"Microsoft SQL Server", "Microsoft SQL Server  2000 - 8.00.2039 Desktop Engine", 8, 8},
      {L"Microsoft SQL Server", "Microsoft SQL Server 2019 (RTM) Standard Edition", 8, 100},
      {L"PostgreSQL", nullptr, 8, 100},
      {L"Microsoft SQL Server", nullptr, 0, 100},
      {L"Microsoft SQL Server", nullptr, 100, 100},
  };
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.limit << " " << (c.version != nullptr ? c.version : "-"));
    ado::ScriptedDriver driver;
    ado::ScopedDriver scoped(&driver);
    driver.SetDbmsName(c.dbms);
    if (c.version != nullptr) {
      std::vector<ado::backend::ColumnInfo> columns(1);
      columns[0].kind = ado::backend::ValueKind::Text;
      columns[0].sqlType = -9;
      auto rows = std::make_shared<ado::backend::RowSet>(columns);
      rows->BeginRow();
      rows->PutText(c.version);
      driver.PushRows(rows);
    }
    ConnectionPool pool;
    ASSERT_TRUE(pool.InitializePool(100, L"Driver={Scripted};Server=x", c.limit, false, true));
    EXPECT_EQ(pool.GetStatistics().poolSize, c.expected);
    const std::vector<std::wstring> executed = driver.Executed();
    EXPECT_EQ(executed.size(), c.version != nullptr ? 1u : 0u);
    if (!executed.empty()) {
      EXPECT_EQ(executed[0], L"select @@version");
    }
    pool.ReleasePool(true);
  }
  CoUninitialize();
}

class ConnectionPoolTest : public ComDatabaseTest {
 protected:
  void SetUp() override {
    ComDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sleeps = 0;
    previousSleep_ = SetSleepHookForTesting(CountingSleep);
    previousWait_ = SetWaitTimeoutHookForTesting(ShortAbandonWait);
    Settings("\"ConnectionPoolSize\"=dword:00000003\n");
  }
  void TearDown() override {
    pool_.reset();
    if (ComReady()) {
      SetSleepHookForTesting(previousSleep_);
      SetWaitTimeoutHookForTesting(previousWait_);
    }
    ComDatabaseTest::TearDown();
  }
  // Writes the Database key's values and builds the pool that reads them.
  void Settings(const std::string& values) {
    pool_.reset();
    registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n" +
                                    values);
    pool_ = std::make_unique<ConnectionPool>();
  }
  // No captured line holds the server's password.
  static void ExpectNoPassword(const std::vector<CapturedLine>& lines) {
    const std::wstring& ado = database().ado_connection_string();
    const std::size_t from = ado.find(L"pwd=\"") + 5;
    const std::wstring password = ado.substr(from, ado.rfind(L'"') - from);
    if (password.empty()) return;
    EXPECT_TRUE(LinesWith(lines, password).empty());
  }
  static int ServerPort() {
    const std::wstring ado = AdoString();
    return std::stoi(ado.substr(ado.find(L"127.0.0.1,") + 10));
  }
  // Borrows until the pool gives nothing (at most `limit`), gives all back
  // and returns how many it got.
  int BorrowAll(int limit) {
    std::vector<ConnectionItem*> items;
    while (static_cast<int>(items.size()) < limit) {
      ConnectionItem* item = pool_->GetConnection();
      if (item == nullptr) break;
      items.push_back(item);
    }
    for (ConnectionItem* item : items) pool_->ReleaseConnection(item);
    return static_cast<int>(items.size());
  }

  morvale::testing::ScopedRegistryDirectory registry_;
  std::unique_ptr<ConnectionPool> pool_;
  SleepHook previousSleep_ = nullptr;
  WaitTimeoutHook previousWait_ = nullptr;
};

TEST_F(ConnectionPoolTest, GetConnectionBeforeInitialisationLogsTheUninitialisedLine) {
  LoggedLines log;
  EXPECT_EQ(pool_->GetConnection(), nullptr);
  EXPECT_EQ(pool_->GetConnection(), nullptr);
  const std::vector<CapturedLine> lines = LinesWith(
      log.Stop(),
      L"ConnectionPool::GetConnection(): Unable to get connection, because the Connection pool is uninitialized");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[1].level, 6);
}

TEST_F(ConnectionPoolTest, ABorrowBeyondThePoolSizeWaitsAndGivesUp) {
  ASSERT_TRUE(pool_->InitializePool(2, AdoString(), 0, false, true));
  // Giving back nothing or the primary's kind of item adds no count.
  pool_->ReleaseConnection(nullptr);
  pool_->ReleaseConnection(new ConnectionItem(AdoString(), L""));

  ConnectionItem* first = pool_->GetConnection();
  ConnectionItem* second = pool_->GetConnection();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->GetConnection()->GetState(), ado::adStateOpen);

  LoggedLines log;
  EXPECT_EQ(pool_->GetConnection(), nullptr);
  const std::vector<CapturedLine> lines = log.Stop();
  const std::vector<CapturedLine> gaveUp =
      LinesWith(lines, L"ConnectionPool::GetConnection(): no pooled connection became free within 600 seconds");
  ASSERT_EQ(gaveUp.size(), 1u);
  EXPECT_EQ(gaveUp[0].eventCode, 0xAFFF61CBu);
  EXPECT_EQ(gaveUp[0].level, 2);
  EXPECT_EQ(pool_->GetStatistics().waiting, 0);

  // A connection given back lets the next borrower through.
  pool_->ReleaseConnection(first);
  ConnectionItem* third = pool_->GetConnection();
  ASSERT_NE(third, nullptr);
  pool_->ReleaseConnection(second);
  pool_->ReleaseConnection(third);
  EXPECT_EQ(BorrowAll(5), 2);
  EXPECT_EQ(pool_->GetStatistics().handedOut, 3 + 2);
}

TEST_F(ConnectionPoolTest, SizeZeroTakesConnectionPoolSize) {
  ASSERT_TRUE(pool_->InitializePool(0, AdoString(), 0, false, true));
  EXPECT_EQ(pool_->GetStatistics().poolSize, 3u);
  EXPECT_EQ(BorrowAll(10), 3);
}

TEST_F(ConnectionPoolTest, TwoInitialisationsAndOneReleaseLeaveThePoolUp) {
  ASSERT_TRUE(pool_->InitializePool(2, AdoString(), 0, false, true));
  ASSERT_TRUE(pool_->InitializePool(2, AdoString(), 0, false, true));
  EXPECT_EQ(pool_->GetStatistics().references, 2);
  EXPECT_TRUE(pool_->ReleasePool(false));
  EXPECT_TRUE(pool_->IsUp());
  EXPECT_EQ(BorrowAll(5), 2);
  EXPECT_TRUE(pool_->ReleasePool(false));
  EXPECT_FALSE(pool_->IsUp());
  EXPECT_EQ(pool_->GetConnection(), nullptr);
  // More releases than initialisations do not go below zero.
  EXPECT_TRUE(pool_->ReleasePool(false));
  EXPECT_EQ(pool_->GetStatistics().references, 0);
}

TEST_F(ConnectionPoolTest, AFreshStartAfterADropKeepsOneSemaphoreOfThePoolSize) {
  ASSERT_TRUE(pool_->InitializePool(2, AdoString(), 0, false, true));
  ConnectionItem* a = pool_->GetConnection();
  ConnectionItem* b = pool_->GetConnection();
  ASSERT_NE(b, nullptr);
  pool_->ReleasePool(true);
  ASSERT_TRUE(pool_->InitializePool(2, AdoString(), 0, false, true));
  // The items lent before the drop come back to a full semaphore.
  pool_->ReleaseConnection(a);
  pool_->ReleaseConnection(b);
  EXPECT_EQ(BorrowAll(5), 2);

  // A start with another size resizes it.
  pool_->ReleasePool(true);
  ASSERT_TRUE(pool_->InitializePool(3, AdoString(), 0, false, true));
  EXPECT_EQ(BorrowAll(5), 3);
}

TEST_F(ConnectionPoolTest, FailedStartTriesEveryAttemptThenFails) {
  Settings("\"ConnectionPoolInitializeAttemptCount\"=dword:00000003\n");
  const std::wstring dead = L"Provider=SQLOLEDB;Server=127.0.0.1," + std::to_wstring(ClosedPort()) +
                            L";Database=x;uid=u;pwd=dead-s3cret";
  LoggedLines log;
  EXPECT_FALSE(pool_->InitializePool(2, dead, 0, false, true));
  const std::vector<CapturedLine> lines = log.Stop();
  EXPECT_EQ(LinesWith(lines, L"ConnectionPool::Connect(): connection attempt ").size(), 3u);
  EXPECT_EQ(LinesWith(lines, L"connection attempt 3 of 3 failed").size(), 1u);
  EXPECT_FALSE(LinesWith(lines, L"uid=u;pwd=").empty());
  EXPECT_TRUE(LinesWith(lines, L"s3cret").empty());
  EXPECT_EQ(sleeps.load(), 2);
  EXPECT_EQ(sleptMilliseconds.load(), 10000u);
  EXPECT_FALSE(pool_->IsUp());
  EXPECT_EQ(pool_->GetStatistics().references, 0);

  // Without retry, and when re-initialising, one attempt only.
  sleeps = 0;
  EXPECT_FALSE(pool_->InitializePool(2, dead, 0, false, false));
  EXPECT_FALSE(pool_->InitializePool(2, dead, 0, true, true));
  EXPECT_EQ(sleeps.load(), 0);
}

TEST_F(ConnectionPoolTest, AStartStopsTryingOnceTheInitialiseTimeOutHasPassed) {
  Settings("\"ConnectionPoolInitializeAttemptCount\"=dword:00000005\n"
           "\"ConnectionPoolInitializeTimeOutSecs\"=dword:00000001\n");
  pool_ = std::make_unique<ConnectionPool>(FakeClock);
  SetSleepHookForTesting(SleepOnTheFakeClock);
  const std::wstring dead = L"Provider=SQLOLEDB;Server=127.0.0.1," + std::to_wstring(ClosedPort()) +
                            L";Database=x;uid=u;pwd=p";
  LoggedLines log;
  EXPECT_FALSE(pool_->InitializePool(2, dead, 0, false, true));
  const std::vector<CapturedLine> lines = log.Stop();
  // The first failure comes within the second: one retry, whose failure
  // comes after it.
  EXPECT_EQ(LinesWith(lines, L"ConnectionPool::Connect(): connection attempt ").size(), 1u);
  const std::vector<CapturedLine> timedOut =
      LinesWith(lines, L"ConnectionPool::Connect(): could not connect within 1 seconds");
  ASSERT_EQ(timedOut.size(), 1u);
  EXPECT_EQ(timedOut[0].eventCode, 0x6FFF88D5u);
  EXPECT_EQ(timedOut[0].level, 3);
  EXPECT_FALSE(pool_->IsUp());
}

TEST_F(ConnectionPoolTest, AFailedStartMovesToTheFailoverPartner) {
  Settings("\"ConnectionPoolInitializeAttemptCount\"=dword:00000002\n");
  std::wstring target = AdoString();
  const std::wstring live = L"127.0.0.1," + std::to_wstring(ServerPort());
  const std::wstring deadServer = L"127.0.0.1," + std::to_wstring(ClosedPort());
  target.replace(target.find(live), live.size(), deadServer);
  target += L";Failover Partner=" + live;

  LoggedLines log;
  ASSERT_TRUE(pool_->InitializePool(2, target, 0, false, true));
  const std::vector<CapturedLine> lines = log.Stop();
  EXPECT_EQ(LinesWith(lines, L"ConnectionPool::Connect(): connection attempt 2 of 2 failed").size(), 1u);
  EXPECT_FALSE(LinesWith(lines, L"ConnectionItem::ConnectToDB: could not connect with").empty());
  ExpectNoPassword(lines);
  const std::wstring now = pool_->GetConnectionString();
  EXPECT_NE(now.find(L"Server=" + live), std::wstring::npos);
  EXPECT_NE(now.find(L"Failover Partner=" + deadServer), std::wstring::npos);
  // Lent connections use the swapped string.
  EXPECT_EQ(BorrowAll(5), 2);
}

TEST_F(ConnectionPoolTest, SessionsEndedByTheServerAreNoticedAndTheSemaphoreIsRefilled) {
  ASSERT_TRUE(pool_->InitializePool(3, AdoString(), 0, false, true));
  EXPECT_TRUE(pool_->ValidatePool());
  ConnectionItem* lent = pool_->GetConnection();
  ASSERT_NE(lent, nullptr);
  TerminateSessions();

  EXPECT_FALSE(pool_->ValidatePool());
  EXPECT_FALSE(pool_->IsUp());
  // The lent item's session died with the others; giving it back still works.
  pool_->ReleaseConnection(lent);

  LoggedLines log;
  EXPECT_FALSE(pool_->ValidatePool());
  EXPECT_TRUE(pool_->ReInitializePool());
  const std::vector<CapturedLine> lines = log.Stop();
  const std::vector<CapturedLine> down = LinesWith(lines, L"ConnectionPool::ValidatePool: the connection pool is down");
  ASSERT_EQ(down.size(), 1u);
  EXPECT_EQ(down[0].eventCode, 0x6FFFB004u);
  EXPECT_EQ(LinesWith(lines, L"ConnectionPool::ReInitializePool:  Connection Pool is being reinitialized").size(), 1u);
  EXPECT_TRUE(pool_->IsUp());
  EXPECT_TRUE(pool_->ValidatePool());
  EXPECT_EQ(BorrowAll(5), 3);
  // Up and valid: re-initialising only says so.
  EXPECT_TRUE(pool_->ReInitializePool());
}

// The server ends every session, the idle ones the ADO layer keeps for
// reuse among them; the pool, re-initialised at once, is up only with a
// connection that works, and every borrow gets one that works.
TEST_F(ConnectionPoolTest, AfterTheServerEndedEverySessionReInitialisingGivesWorkingConnections) {
  ASSERT_TRUE(pool_->InitializePool(3, AdoString(), 0, false, true));
  ASSERT_TRUE(pool_->ValidatePool());
  EXPECT_EQ(BorrowAll(3), 3);
  TerminateSessions();
  EXPECT_FALSE(pool_->ValidatePool());
  EXPECT_TRUE(pool_->ReInitializePool());
  EXPECT_TRUE(pool_->ValidatePool());
  std::vector<ConnectionItem*> items;
  for (int i = 0; i < 3; ++i) {
    items.push_back(pool_->GetConnection());
    ASSERT_NE(items.back(), nullptr);
    EXPECT_TRUE(items.back()->ValidateConnection(nullptr)) << i;
  }
  for (ConnectionItem* item : items) pool_->ReleaseConnection(item);
}

TEST_F(ConnectionPoolTest, AFailedBorrowTakesThePoolDown) {
  ASSERT_TRUE(pool_->InitializePool(2, AdoString(), 0, false, true));
  // New sessions to the database are refused from now on.
  ado::_ConnectionPtr maintenance = ado::MakeConnection();
  const std::wstring server = ConvertToWideString(morvale::testing::PostgresConnectionString(), CP_UTF8);
  maintenance->Open(_bstr_t(server.c_str()), _bstr_t(L""), _bstr_t(L""), -1);
  const std::wstring name = ConvertToWideString(database().name(), CP_UTF8);
  maintenance->Execute(_bstr_t((L"ALTER DATABASE " + name + L" ALLOW_CONNECTIONS false").c_str()), nullptr,
                       ado::adExecuteNoRecords);
  ado::IdleCache::Shared().Clear();

  LoggedLines log;
  EXPECT_EQ(pool_->GetConnection(), nullptr);
  EXPECT_FALSE(pool_->IsUp());
  EXPECT_EQ(pool_->GetConnection(), nullptr);
  const std::vector<CapturedLine> lines = log.Stop();
  ExpectNoPassword(lines);
  const std::vector<CapturedLine> uninitialized = LinesWith(
      lines,
      L"ConnectionPool::GetConnection(): Unable to get connection, because the Connection pool is uninitialized");
  ASSERT_EQ(uninitialized.size(), 2u);
  EXPECT_EQ(uninitialized[0].level, 2);
  EXPECT_EQ(uninitialized[1].level, 6);
  EXPECT_FALSE(LinesWith(lines, L"ConnectionItem::ConnectToDB: could not connect with").empty());
  // The dropped primary's session is idle in the ADO layer's cache, which
  // would serve it again.
  ado::IdleCache::Shared().Clear();
  EXPECT_FALSE(pool_->ReInitializePool());
  EXPECT_FALSE(pool_->IsUp());

  maintenance->Execute(_bstr_t((L"ALTER DATABASE " + name + L" ALLOW_CONNECTIONS true").c_str()), nullptr,
                       ado::adExecuteNoRecords);
  maintenance->Close();
  EXPECT_TRUE(pool_->ReInitializePool());
  EXPECT_EQ(BorrowAll(5), 2);
}

TEST_F(ConnectionPoolTest, StatisticsAndLastError) {
  const DWORD start = GetTickCount() - 25;
  pool_->UpdateStatistics(start, false, 0);
  pool_->UpdateStatistics(GetTickCount() + 1000, true, 0x80040E31);  // the tick count wraps
  pool_->SetLastError(5, std::wstring(300, L'e').c_str());
  const ConnectionPool::Statistics stats = pool_->GetStatistics();
  EXPECT_EQ(stats.commandCount, 2u);
  EXPECT_GE(stats.commandMilliseconds, 25u);
  EXPECT_EQ(stats.failureCount, 2u);
  EXPECT_EQ(stats.lastErrorCode, 5);
  EXPECT_EQ(stats.lastErrorText, std::wstring(254, L'e'));
  EXPECT_GT(stats.lastErrorTime, 0);
}

// A start makes a new target; an item lent with the one before keeps its
// own (the thread's hold on it included) after the thread has moved on to
// the new one, and reconnects with it.
TEST_F(ConnectionPoolTest, AnItemLentBeforeARestartKeepsItsTargetAfterItsThreadMovesOn) {
  ASSERT_TRUE(pool_->InitializePool(3, AdoString(), 0, false, true));
  ConnectionItem* before = pool_->GetConnection();
  ASSERT_NE(before, nullptr);
  ASSERT_TRUE(pool_->ReleasePool(true));
  ASSERT_TRUE(pool_->InitializePool(3, AdoString(), 0, false, true));
  EXPECT_EQ(BorrowAll(1), 1);
  std::int64_t logged = 0;
  EXPECT_TRUE(before->ConnectToDB(5, &logged));
  EXPECT_TRUE(before->ValidateConnection(&logged));
  pool_->ReleaseConnection(before);
}

// Statements counted on many threads (each counts in a slot of its own)
// all show in the totals.
TEST_F(ConnectionPoolTest, StatisticsSumTheStatementsOfEveryThread) {
  constexpr int kThreads = 20;
  constexpr int kEach = 50;
  const ConnectionPool::Statistics before = pool_->GetStatistics();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < kEach; ++i) pool_->UpdateStatistics(GetTickCount() - 2, false, 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const ConnectionPool::Statistics after = pool_->GetStatistics();
  EXPECT_EQ(after.commandCount - before.commandCount, static_cast<DWORD>(kThreads * kEach));
  EXPECT_GE(after.commandMilliseconds - before.commandMilliseconds, 2u * kThreads * kEach);
  EXPECT_EQ(after.failureCount, before.failureCount);
}

}  // namespace
