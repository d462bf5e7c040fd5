// The statement cycle through the connection pool beside raw ODBC, in one
// run, printing the ratios: each thread borrows with a ConnectionHolder,
// runs one parameterised SELECT and gives the connection back, against each
// thread running the same statement text on its own already open raw ODBC
// connection, on one statement handle kept for the run (bound once; execute,
// fetch, close the cursor). A third column runs the statement through ADO on
// each thread's own open connection, so the pool's own share (borrow and
// give back) shows apart from the ADO layer's.
//
// 1, 4, 8 and 16 threads; pool sizes 4 and 100. Each cell runs the three
// sides one after another five times (the thread counts taking turns) and
// reports the medians: wall time per
// statement as one thread pays it (wall x threads / statements), client CPU
// time per statement (getrusage of the whole process: every thread, the
// driver included), the pool side's context switches per statement, and
// statements per second. Goals: at most 1.5 times the raw time per
// statement at 1 thread; with a pool of 4, 8 and 16 threads keep at least
// 90% of the 4-thread throughput; with a pool of 100, 8 threads reach at
// least 85% of 8 raw connections.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/pool_bench
// Arguments: [cycles per thread (2000)] [--pin[=CPU]] [--only=SIZE:THREADS]
// [--sides=rap]. --only runs one cell (a pool size and a thread count) and
// --sides some of the three sides (raw, ADO, pool), so that a profiler sees
// one of them alone; the goals are judged only on a full run. --pin runs every
// thread of the benchmark on that one CPU and prints how to put the server
// there too, the least noisy way to compare on a shared machine
// (bench/measure.h).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
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
constexpr int kThreadCounts[] = {1, 4, 8, 16};
constexpr int kMaxThreads = 16;
constexpr int kRuns = 5;

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

// Takes "--only=SIZE:THREADS" and "--sides=LETTERS" out of the arguments.
bool TakeSelection(int* argc, char** argv, unsigned* onlySize, int* onlyThreads, std::string* sides) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--only=", 0) == 0) {
      if (std::sscanf(arg.c_str() + 7, "%u:%d", onlySize, onlyThreads) != 2) {
        std::fprintf(stderr, "pool_bench: --only=SIZE:THREADS\n");
        return false;
      }
    } else if (arg.rfind("--sides=", 0) == 0) {
      *sides = arg.substr(8);
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::TakePinOption(&argc, argv)) return 1;
  unsigned onlySize = 0;
  int onlyThreads = 0;
  std::string sides = "rap";
  if (!TakeSelection(&argc, argv, &onlySize, &onlyThreads, &sides)) return 1;
  const bool selected = onlySize != 0 || sides != "rap";
  auto runs = [&sides](char side) { return sides.find(side) != std::string::npos; };
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

  // Raw ODBC and ADO: one open connection per thread, made before any clock
  // starts.
  std::vector<std::unique_ptr<bench::RawOdbc>> raw;
  std::vector<ado::_ConnectionPtr> open;
  for (int t = 0; t < kMaxThreads; ++t) {
    raw.push_back(bench::RawOdbc::Connect(database->odbc_connection_string(), &error));
    if (!raw.back()) {
      std::fprintf(stderr, "pool_bench: raw connect: %s\n", error.c_str());
      return 1;
    }
    open.push_back(ado::MakeConnection());
    open.back()->Open(_bstr_t(ado.c_str()), _bstr_t(L""), _bstr_t(L""), -1);
  }

  std::atomic<int> failures{0};
  auto id = [cycles](int t, int i) { return (t * cycles + i) % 1000 + 1; };
  auto rawWork = [&](int t) {
    for (int i = 0; i < cycles; ++i) {
      if (!raw[t]->SelectByIdOnKeptStatement(kSelect, id(t, i))) failures.fetch_add(1);
    }
  };
  auto adoWork = [&](int t) {
    for (int i = 0; i < cycles; ++i) {
      if (!Select(open[t], id(t, i))) failures.fetch_add(1);
    }
  };
  auto poolWork = [&](int t) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (int i = 0; i < cycles; ++i) {
      try {
        if (!PooledCycle(id(t, i))) failures.fetch_add(1);
      } catch (const _com_error&) {
        failures.fetch_add(1);
      }
    }
    CoUninitialize();
  };

  std::printf("statement cycle, %d per thread, median of %d runs; us: per statement, wall as one thread pays it,\n"
              "CPU of the whole client; cs: context switches per statement; st/s: statements per second\n",
              cycles, kRuns);
  std::printf("%4s %3s %8s %8s %8s %8s %8s %8s %6s %8s %8s %8s %8s %7s\n", "pool", "thr", "raw us", "raw cpu",
              "ADO us", "ADO cpu", "pool us", "pool cpu", "cs", "pool/raw", "cpu p/r", "raw st/s", "pool st/s",
              "/4 thr");
  bool met = true;
  for (unsigned size : {4u, 100u}) {
    if (onlySize != 0 && size != onlySize) continue;
    if (!GetConnectionPool().InitializePool(size, ado, 0, false, true)) {
      std::fprintf(stderr, "pool_bench: the pool did not come up\n");
      return 1;
    }
    // Run by run through every thread count, so that a busy spell of the
    // machine falls on all of them alike rather than on one row.
    constexpr std::size_t kCounts = std::size(kThreadCounts);
    std::vector<bench::Cost> rawRuns[kCounts], adoRuns[kCounts], poolRuns[kCounts];
    for (int run = 0; run < kRuns; ++run) {
      for (std::size_t k = 0; k < kCounts; ++k) {
        if (onlyThreads != 0 && kThreadCounts[k] != onlyThreads) continue;
        // A side left out is not measured (its columns show "-").
        rawRuns[k].push_back(runs('r') ? bench::MeasureThreads(kThreadCounts[k], rawWork) : bench::Cost{1e-9, 0, 0});
        adoRuns[k].push_back(runs('a') ? bench::MeasureThreads(kThreadCounts[k], adoWork) : bench::Cost{1e-9, 0, 0});
        poolRuns[k].push_back(runs('p') ? bench::MeasureThreads(kThreadCounts[k], poolWork) : bench::Cost{1e-9, 0, 0});
      }
    }
    double fourThreadRate = 0;
    for (std::size_t k = 0; k < kCounts; ++k) {
      const int threads = kThreadCounts[k];
      if (rawRuns[k].empty()) continue;
      const bench::Cost r = bench::MedianOf(rawRuns[k]);
      const bench::Cost a = bench::MedianOf(adoRuns[k]);
      const bench::Cost p = bench::MedianOf(poolRuns[k]);
      const double statements = static_cast<double>(threads) * cycles;
      const double rawRate = statements / r.wall;
      const double poolRate = statements / p.wall;
      if (threads == 4) fourThreadRate = poolRate;
      // A column of a side left out shows "-".
      const auto column = [](bool ran, int width, int decimals, double value) {
        if (ran) {
          std::printf(" %*.*f", width, decimals, value);
        } else {
          std::printf(" %*s", width, "-");
        }
      };
      const bool ranRaw = runs('r'), ranAdo = runs('a'), ranPool = runs('p');
      std::printf("%4u %3d", size, threads);
      column(ranRaw, 8, 1, r.wall * threads / statements * 1e6);
      column(ranRaw, 8, 1, r.cpu / statements * 1e6);
      column(ranAdo, 8, 1, a.wall * threads / statements * 1e6);
      column(ranAdo, 8, 1, a.cpu / statements * 1e6);
      column(ranPool, 8, 1, p.wall * threads / statements * 1e6);
      column(ranPool, 8, 1, p.cpu / statements * 1e6);
      column(ranPool, 6, 2, p.switches / statements);
      column(ranRaw && ranPool, 8, 2, p.wall / r.wall);
      column(ranRaw && ranPool, 8, 2, p.cpu / r.cpu);
      column(ranRaw, 8, 0, rawRate);
      column(ranPool, 8, 0, poolRate);
      if (threads > 4 && fourThreadRate > 0) {
        std::printf(" %7.2f\n", poolRate / fourThreadRate);
      } else {
        std::printf(" %7s\n", "-");
      }
      if (threads == 1 && p.wall / r.wall > 1.5) met = false;
      if (size == 4 && threads > 4 && poolRate < 0.90 * fourThreadRate) met = false;
      if (size == 100 && threads == 8 && poolRate < 0.85 * rawRate) met = false;
    }
    GetConnectionPool().ReleasePool(true);
  }
  for (ado::_ConnectionPtr& connection : open) connection->Close();
  std::printf("goals: pool/raw <= 1.50 at 1 thread; pool 4: 8 and 16 threads >= 0.90 of the 4-thread st/s;\n"
              "pool 100: 8 threads >= 0.85 of raw st/s: %s\n",
              selected ? "not judged (--only or --sides)" : met ? "met" : "NOT met");
  if (failures.load() != 0) {
    std::fprintf(stderr, "pool_bench: %d statements failed or gave a wrong answer\n", failures.load());
    return 1;
  }
  return 0;
}
