// The command runner beside raw ODBC calls on the same driver and server,
// in one run, printing the ratio: a one-row parameterised SELECT through
// VEXDB_RunParameterizedQuery (a connection borrowed from the process-wide
// pool, a Command with one adInteger parameter, a disconnected recordset,
// both columns read) against the same statement on an already open raw
// connection (bench/raw_odbc.h: bind, execute, fetch), on a statement
// handle allocated per call and on one kept open. Goal: at most 1.15 times
// the kept handle. The three alternate call by call; each call is timed in
// wall and the process's CPU time.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/vexdb_bench [--pin[=N]]
// Optional argument: calls (2000).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "bench/raw_odbc.h"
#include "db/connection_pool.h"
#include "db/vexdb_command.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

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
  if (!bench::TakePinOption(&argc, argv)) return 1;
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

  // The first calls warm plans and caches. The calls run in rounds; each
  // side reports its median round.
  constexpr int kWarmUp = 100;
  constexpr int kRounds = 5;
  const int perRound = std::max(1, calls / kRounds);
  const std::string sql = "SELECT Id, Name FROM BenchRows WHERE Id = ?";
  std::vector<bench::Cost> perStatement(kRounds), kept(kRounds), runner(kRounds);
  bool ok = true;
  for (int i = 0; i < kWarmUp + kRounds * perRound && ok; ++i) {
    const int id = i % kRows + 1;
    const bench::Cost a = bench::Measure([&] { ok = raw->SelectById(sql, id); });
    const bench::Cost b = bench::Measure([&] { ok = ok && raw->SelectByIdOnKeptStatement(sql, id); });
    const bench::Cost c = bench::Measure([&] { ok = ok && RunnerSelect(id); });
    if (i >= kWarmUp) {
      const int round = (i - kWarmUp) / perRound;
      perStatement[round] += a;
      kept[round] += b;
      runner[round] += c;
    }
  }
  pool.ReleasePool(true);
  if (!ok) {
    std::fprintf(stderr, "vexdb_bench: a call gave a wrong answer\n");
    return 1;
  }
  const bench::Cost perStatementCost = bench::MedianOf(perStatement);
  const bench::Cost keptCost = bench::MedianOf(kept);
  const bench::Cost runnerCost = bench::MedianOf(runner);
  std::printf("one-row parameterised SELECT, %d rounds of %d calls, median round; wall / CPU us per call (goal: "
              "ratio to the kept handle <= 1.15)\n",
              kRounds, perRound);
  std::printf("raw, handle per call %s   raw, handle kept %s   VEXDB_RunParameterizedQuery %s   ratio %.2f / %.2f\n",
              bench::PerOperation(perStatementCost, perRound).c_str(), bench::PerOperation(keptCost, perRound).c_str(),
              bench::PerOperation(runnerCost, perRound).c_str(), runnerCost.wall / keptCost.wall,
              runnerCost.cpu / keptCost.cpu);
  return 0;
}
