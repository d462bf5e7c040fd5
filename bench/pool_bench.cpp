// The statement cycle through the connection pool beside raw ODBC, in one
// run, printing the ratios: each thread borrows with a ConnectionHolder,
// runs one parameterised SELECT and gives the connection back, against
// each thread running the same statement on its own already open raw ODBC
// connection. 1, 4 and 8 threads; pool sizes 4 and 100. Goals: at most 1.5
// times the raw time per statement at 1 thread, and throughput that grows
// with the threads up to the pool size. A third column runs the statement
// through ADO on each thread's own open connection, so the pool's own share
// (borrow and give back) shows apart from the ADO layer's.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/pool_bench
// Optional argument: statement cycles per thread (2000).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/raw_odbc.h"
#include "db/connection_holder.h"
#include "db/connection_pool.h"
#include "platform/ado/ado.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSelect[] = "SELECT Id, DisplayName FROM Small WHERE Id = ?";

// Runs `work(thread, failures)` on `threads` threads at once; returns the
// best wall time of three runs.
template <typename F>
double BestWall(int threads, F work, std::atomic<int>* failures) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        ready.fetch_add(1);
        while (!go.load()) std::this_thread::yield();
        work(t, failures);
      });
    }
    while (ready.load() < threads) std::this_thread::yield();
    const Clock::time_point start = Clock::now();
    go = true;
    for (std::thread& thread : pool) thread.join();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

bool Select(ado::_Connection* connection, int id) {
  ado::_CommandPtr command = ado::MakeCommand();
  command->PutRefActiveConnection(connection);
  command->PutCommandText(_bstr_t(kSelect));
  command->PutCommandType(ado::adCmdText);
  command->GetParameters()->Append(
      command->CreateParameter(_bstr_t(L""), ado::adInteger, ado::adParamInput, 4, _variant_t(id)));
  ado::_RecordsetPtr rows = command->Execute(nullptr);
  return !rows->GetEndOfFile() && static_cast<INT>(rows->GetFields()->GetItem(_variant_t(0))->GetValue()) == id;
}

bool PooledCycle(int id) {
  ConnectionHolder holder;
  return holder.get() != nullptr && Select(holder->GetConnection(), id);
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  if (!database) {
    std::fprintf(stderr, "pool_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  if (!database->Execute("CREATE TABLE Small (Id integer PRIMARY KEY, DisplayName varchar(64)); "
                         "INSERT INTO Small SELECT g, 'name ' || g FROM generate_series(1, 1000) g; ANALYZE",
                         &error)) {
    std::fprintf(stderr, "pool_bench: %s\n", error.c_str());
    return 1;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::wstring& ado = database->ado_connection_string();
  const int threadCounts[] = {1, 4, 8};
  std::atomic<int> failures{0};

  // Raw ODBC and ADO: one open connection per thread, made before the
  // clock starts.
  double rawWall[3] = {};
  double adoWall[3] = {};
  for (int k = 0; k < 3; ++k) {
    const int threads = threadCounts[k];
    std::vector<std::unique_ptr<bench::RawOdbc>> raw;
    std::vector<ado::_ConnectionPtr> open;
    for (int t = 0; t < threads; ++t) {
      raw.push_back(bench::RawOdbc::Connect(database->odbc_connection_string(), &error));
      if (!raw.back()) {
        std::fprintf(stderr, "pool_bench: raw connect: %s\n", error.c_str());
        return 1;
      }
      open.push_back(ado::MakeConnection());
      open.back()->Open(_bstr_t(ado.c_str()), _bstr_t(L""), _bstr_t(L""), -1);
    }
    rawWall[k] = BestWall(
        threads,
        [&](int t, std::atomic<int>* failed) {
          for (int i = 0; i < cycles; ++i) {
            if (!raw[t]->SelectById(kSelect, (t * cycles + i) % 1000 + 1)) failed->fetch_add(1);
          }
        },
        &failures);
    adoWall[k] = BestWall(
        threads,
        [&](int t, std::atomic<int>* failed) {
          for (int i = 0; i < cycles; ++i) {
            if (!Select(open[t], (t * cycles + i) % 1000 + 1)) failed->fetch_add(1);
          }
        },
        &failures);
    for (ado::_ConnectionPtr& connection : open) connection->Close();
  }

  std::printf("statement cycle, %d per thread; us per statement and statements per second\n", cycles);
  std::printf("%-10s %-8s %9s %9s %9s %10s %10s %10s %10s\n", "pool size", "threads", "raw us", "ADO us",
              "pool us", "pool/raw", "pool/ADO", "raw st/s", "pool st/s");
  for (unsigned size : {4u, 100u}) {
    if (!GetConnectionPool().InitializePool(size, ado, 0, false, true)) {
      std::fprintf(stderr, "pool_bench: the pool did not come up\n");
      return 1;
    }
    for (int k = 0; k < 3; ++k) {
      const int threads = threadCounts[k];
      const double wall = BestWall(
          threads,
          [&](int t, std::atomic<int>* failed) {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < cycles; ++i) {
              try {
                if (!PooledCycle((t * cycles + i) % 1000 + 1)) failed->fetch_add(1);
              } catch (const _com_error&) {
                failed->fetch_add(1);
              }
            }
            CoUninitialize();
          },
          &failures);
      const double statements = static_cast<double>(threads) * cycles;
      // Per statement: wall time x threads / statements (the cost one
      // thread pays), so 1 thread compares cost and more threads scaling.
      std::printf("%-10u %-8d %9.1f %9.1f %9.1f %10.2f %10.2f %10.0f %10.0f\n", size, threads,
                  rawWall[k] * threads / statements * 1e6, adoWall[k] * threads / statements * 1e6,
                  wall * threads / statements * 1e6, wall / rawWall[k], wall / adoWall[k], statements / rawWall[k],
                  statements / wall);
    }
    GetConnectionPool().ReleasePool(true);
  }
  std::printf("goals: ratio <= 1.50 at 1 thread; pool st/s growing with threads up to the pool size\n");
  if (failures.load() != 0) {
    std::fprintf(stderr, "pool_bench: %d statements failed or gave a wrong answer\n", failures.load());
    return 1;
  }
  return 0;
}
