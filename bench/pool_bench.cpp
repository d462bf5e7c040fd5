// The statement cycle through the connection pool beside raw ODBC, in one
// run, printing the ratios: each thread borrows with a ConnectionHolder,
// runs one parameterised SELECT and gives the connection back, against
// each thread running the same statement on its own already open raw ODBC
// connection, on a statement handle allocated per statement and on one kept
// open (the goal is held against the kept handle). 1, 4 and 8 threads; pool
// sizes 4 and 100. Goals: at most 1.5 times the raw time per statement at 1
// thread, and throughput that grows with the threads up to the pool size. A
// column runs the statement through ADO on each thread's own open
// connection, so the pool's own share (borrow and give back) shows apart
// from the ADO layer's. Times are wall and the process's CPU time per
// statement.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/pool_bench [--pin[=N]]
// Optional argument: statement cycles per thread (2000).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure.h"
#include "bench/raw_odbc.h"
#include "db/connection_holder.h"
#include "db/connection_pool.h"
#include "platform/ado/ado.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

constexpr char kSelect[] = "SELECT Id, DisplayName FROM Small WHERE Id = ?";

// Runs `work(thread, failures)` on `threads` threads at once; returns the
// least wall and the least CPU time of five runs.
template <typename F>
bench::Cost Least(int threads, F work, std::atomic<int>* failures) {
  bench::Cost least{1e30, 1e30};
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
    least = bench::Least(least, bench::Measure([&] {
      go = true;
      for (std::thread& thread : pool) thread.join();
    }));
  }
  return least;
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
  if (!bench::TakePinOption(&argc, argv)) return 1;
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
  bench::Cost rawPerStatement[3], rawKept[3], adoOpen[3];
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
    rawPerStatement[k] = Least(
        threads,
        [&](int t, std::atomic<int>* failed) {
          for (int i = 0; i < cycles; ++i) {
            if (!raw[t]->SelectById(kSelect, (t * cycles + i) % 1000 + 1)) failed->fetch_add(1);
          }
        },
        &failures);
    rawKept[k] = Least(
        threads,
        [&](int t, std::atomic<int>* failed) {
          for (int i = 0; i < cycles; ++i) {
            if (!raw[t]->SelectByIdReused(kSelect, (t * cycles + i) % 1000 + 1)) failed->fetch_add(1);
          }
        },
        &failures);
    adoOpen[k] = Least(
        threads,
        [&](int t, std::atomic<int>* failed) {
          for (int i = 0; i < cycles; ++i) {
            if (!Select(open[t], (t * cycles + i) % 1000 + 1)) failed->fetch_add(1);
          }
        },
        &failures);
    for (ado::_ConnectionPtr& connection : open) connection->Close();
  }

  std::printf("statement cycle, %d per thread; wall / CPU us per statement (the cost one thread pays: wall x "
              "threads / statements), statements per second\n",
              cycles);
  std::printf("%-5s %-7s %-19s %-19s %-19s %-19s %11s %11s %10s\n", "pool", "threads", "raw, handle/stmt",
              "raw, handle kept", "ADO, open conn.", "pool", "pool/kept", "pool/ADO", "pool st/s");
  for (unsigned size : {4u, 100u}) {
    if (!GetConnectionPool().InitializePool(size, ado, 0, false, true)) {
      std::fprintf(stderr, "pool_bench: the pool did not come up\n");
      return 1;
    }
    for (int k = 0; k < 3; ++k) {
      const int threads = threadCounts[k];
      const bench::Cost pooled = Least(
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
      const double perThread = statements / threads;
      auto cost = [&](const bench::Cost& c) {
        // Wall: what one thread waits per statement; CPU: the process's
        // CPU per statement.
        return bench::PerOperation(bench::Cost{c.wall, c.cpu * perThread / statements}, perThread);
      };
      std::printf("%-5u %-7d %-19s %-19s %-19s %-19s %5.2f/%5.2f %5.2f/%5.2f %10.0f\n", size, threads,
                  cost(rawPerStatement[k]).c_str(), cost(rawKept[k]).c_str(), cost(adoOpen[k]).c_str(),
                  cost(pooled).c_str(), pooled.wall / rawKept[k].wall, pooled.cpu / rawKept[k].cpu,
                  pooled.wall / adoOpen[k].wall, pooled.cpu / adoOpen[k].cpu, statements / pooled.wall);
    }
    GetConnectionPool().ReleasePool(true);
  }
  std::printf("goals: pool/kept <= 1.50 at 1 thread; pool st/s growing with threads up to the pool size\n");
  if (failures.load() != 0) {
    std::fprintf(stderr, "pool_bench: %d statements failed or gave a wrong answer\n", failures.load());
    return 1;
  }
  return 0;
}
