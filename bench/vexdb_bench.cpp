// The command runner beside raw ODBC calls on the same driver and server,
// in one run, printing the ratio: a one-row parameterised SELECT through
// VEXDB_RunParameterizedQuery (a connection borrowed from the process-wide
// pool, a Command with one adInteger parameter, a disconnected recordset,
// both columns read) against the same statement on one already open raw
// connection (bench/raw_odbc.h: allocate, bind, execute, fetch, free).
// Goal: at most 1.5 times raw. The two alternate call by call.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/vexdb_bench
// Optional argument: calls (2000).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/raw_odbc.h"
#include "db/connection_pool.h"
#include "db/vexdb_command.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr int kRows = 1000;

// The runner's side of one call: true when the row came back whole.
bool RunnerSelect(int id) {
  ado::_CommandPtr command;
  ado::_RecordsetPtr rows;
  if (!VEXDB_RunParameterizedQuery("vexdb_bench", command, rows, L"SELECT Id, Name FROM BenchRows WHERE Id = ?", 3,
                                   &id, 0)) {
    return false;
  }
  if (rows->GetEndOfFile()) return false;
  const ado::FieldsPtr fields = rows->GetFields();
  const INT got = static_cast<INT>(fields->GetItem(_variant_t(0))->GetValue());
  const _bstr_t name(fields->GetItem(_variant_t(1))->GetValue());
  return got == id && name.length() > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  if (!database || !database->Execute("CREATE TABLE BenchRows (Id integer PRIMARY KEY, Name varchar(64));"
                                      "INSERT INTO BenchRows SELECT g, 'row ' || g FROM generate_series(1, " +
                                          std::to_string(kRows) + ") g",
                                      &error)) {
    std::fprintf(stderr, "vexdb_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<bench::RawOdbc> raw = bench::RawOdbc::Connect(database->odbc_connection_string(), &error);
  if (!raw) {
    std::fprintf(stderr, "vexdb_bench: raw connect: %s\n", error.c_str());
    return 1;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::wstring& ado = database->ado_connection_string();
  ConnectionPool& pool = GetConnectionPool();
  if (!pool.InitializePool(4, ado, 0, false, true)) {
    std::fprintf(stderr, "vexdb_bench: the pool did not come up\n");
    return 1;
  }

  // The first calls warm plans and caches.
  constexpr int kWarmUp = 100;
  const std::string sql = "SELECT Id, Name FROM BenchRows WHERE Id = ?";
  double rawTime = 0;
  double runnerTime = 0;
  bool ok = true;
  for (int i = 0; i < kWarmUp + calls && ok; ++i) {
    const int id = i % kRows + 1;
    Clock::time_point start = Clock::now();
    ok = raw->SelectById(sql, id);
    const double rawCall = Since(start);
    start = Clock::now();
    ok = ok && RunnerSelect(id);
    const double runnerCall = Since(start);
    if (i >= kWarmUp) {
      rawTime += rawCall;
      runnerTime += runnerCall;
    }
  }
  pool.ReleasePool(true);
  if (!ok) {
    std::fprintf(stderr, "vexdb_bench: a call gave a wrong answer\n");
    return 1;
  }
  std::printf("one-row parameterised SELECT, %d calls (goal: ratio <= 1.50)\n", calls);
  std::printf("raw %7.1f us  VEXDB_RunParameterizedQuery %7.1f us  ratio %.2f\n", rawTime / calls * 1e6,
              runnerTime / calls * 1e6, runnerTime / rawTime);
  return 0;
}
