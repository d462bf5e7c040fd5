// The record layer beside raw ODBC calls on the same driver and server, in
// one run, printing the ratios: one row created (with its identity read
// back), read by id, updated and deleted, through ODBCRecord with its
// connections borrowed from the process-wide pool, against the same
// statements on an already open raw connection, on a statement handle
// allocated per statement and on one kept open (goal: at most 1.3 times the
// kept handle). The three alternate cycle by cycle; each step is timed in
// wall and the process's CPU time, in five rounds reported by their median.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/record_bench [--pin[=N]]
// Optional argument: CRUD cycles (1000).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "bench/measure.h"
#include "bench/record_raw_odbc.h"
#include "db/connection_pool.h"
#include "db/odbc_record.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

struct Times {
  bench::Cost create, read, update, remove;
  bench::Cost Total() const {
    bench::Cost total = create;
    total += read;
    total += update;
    total += remove;
    return total;
  }
};

// One CRUD cycle, each step timed on its own; false when a step gave a
// wrong answer.
template <typename Side>
bool Cycle(Side& side, int i, Times* times) {
  long long id = -1;
  times->create += bench::Measure([&] { id = side.Create(i); });
  if (id <= 0) return false;
  bool readOk = false, updateOk = false, deleteOk = false;
  times->read += bench::Measure([&] { readOk = side.Read(static_cast<int>(id)) == i; });
  times->update += bench::Measure([&] { updateOk = side.Update(static_cast<int>(id), i + 1); });
  times->remove += bench::Measure([&] { deleteOk = side.Delete(static_cast<int>(id)); });
  return readOk && updateOk && deleteOk;
}

struct RawSide {
  bench::RawCrud* raw;
  long long Create(int i) { return raw->Insert("RecordTest", "bench row", i); }
  int Read(int id) { return raw->Select("RecordTest", id); }
  bool Update(int id, int value) { return raw->Update("RecordTest", id, value); }
  bool Delete(int id) { return raw->Delete("RecordTest", id); }
};

struct RecordSide {
  ODBCDatabase* database;
  long long Create(int i) {
    ODBCRecord record(database);
    record.SetTableName(L"RecordTest");
    record.AddValueString(L"Name", L"bench row");
    record.AddValueInt(L"Count", i);
    zev::ZEVString id;
    if (!record.DoCreateRecord() || !record.GetIdentifier(id)) return -1;
    return std::wcstoll(id.GetWide(), nullptr, 10);
  }
  int Read(int id) {
    ODBCRecord record(database);
    std::wstring name;
    std::int32_t count = -1;
    record.SetTableName(L"RecordTest");
    record.AddOutputString(L"Name", &name);
    record.AddOutputInt(L"Count", &count);
    record.AddWhereInt(L"Id", id, ODBCRecord::kAnd, ODBCRecord::kEqual);
    bool found = false;
    return record.GetFirstValue(&found) && found ? count : -1;
  }
  bool Update(int id, int value) {
    ODBCRecord record(database);
    record.SetTableName(L"RecordTest");
    record.AddValueInt(L"Count", value);
    record.AddWhereInt(L"Id", id, ODBCRecord::kAnd, ODBCRecord::kEqual);
    std::int32_t rows = 0;
    return record.DoSetValue(false, &rows) && rows == 1;
  }
  bool Delete(int id) {
    ODBCRecord record(database);
    record.SetTableName(L"RecordTest");
    record.AddWhereInt(L"Id", id, ODBCRecord::kAnd, ODBCRecord::kEqual);
    std::int32_t rows = 0;
    return record.DeleteRecord(false, &rows) && rows == 1;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!bench::TakePinOption(&argc, argv)) return 1;
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  if (!database) {
    std::fprintf(stderr, "record_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<bench::RawCrud> perStatement =
      bench::RawCrud::Connect(database->odbc_connection_string(), false, &error);
  std::unique_ptr<bench::RawCrud> kept = bench::RawCrud::Connect(database->odbc_connection_string(), true, &error);
  if (!perStatement || !kept) {
    std::fprintf(stderr, "record_bench: raw connect: %s\n", error.c_str());
    return 1;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::wstring& ado = database->ado_connection_string();
  ConnectionPool& pool = GetConnectionPool();
  if (!pool.InitializePool(4, ado, 0, false, true)) {
    std::fprintf(stderr, "record_bench: the pool did not come up\n");
    return 1;
  }
  ODBCDatabase records(DatabaseKind::SqlServer, nullptr);

  RawSide perStatementSide{perStatement.get()};
  RawSide keptSide{kept.get()};
  RecordSide recordSide{&records};
  // The three sides alternate cycle by cycle, so that all see the same load
  // on a shared machine; the first cycles warm plans and caches. The cycles
  // run in rounds; each step reports the median round.
  constexpr int kWarmUp = 50;
  constexpr int kRounds = 5;
  const int perRound = std::max(1, cycles / kRounds);
  Times ignored;
  std::vector<Times> perStatementRounds(kRounds), keptRounds(kRounds), recordRounds(kRounds);
  bool ok = true;
  for (int i = 0; i < kWarmUp && ok; ++i) {
    ok = Cycle(perStatementSide, i, &ignored) && Cycle(keptSide, i, &ignored) && Cycle(recordSide, i, &ignored);
  }
  for (int round = 0; round < kRounds && ok; ++round) {
    for (int i = 0; i < perRound && ok; ++i) {
      const int n = kWarmUp + round * perRound + i;
      ok = Cycle(perStatementSide, n, &perStatementRounds[round]) && Cycle(keptSide, n, &keptRounds[round]) &&
           Cycle(recordSide, n, &recordRounds[round]);
    }
  }
  pool.ReleasePool(true);
  if (!ok) {
    std::fprintf(stderr, "record_bench: a step gave a wrong answer\n");
    return 1;
  }
  auto median = [](const std::vector<Times>& rounds, bench::Cost Times::*step) {
    std::vector<bench::Cost> costs;
    for (const Times& times : rounds) costs.push_back(times.*step);
    return bench::MedianOf(costs);
  };
  auto medianTotal = [](const std::vector<Times>& rounds) {
    std::vector<bench::Cost> costs;
    for (const Times& times : rounds) costs.push_back(times.Total());
    return bench::MedianOf(costs);
  };
  auto line = [perRound](const char* step, const bench::Cost& raw, const bench::Cost& rawKept,
                         const bench::Cost& record) {
    std::printf("%-7s %s  %s  %s   %5.2f / %5.2f\n", step, bench::PerOperation(raw, perRound).c_str(),
                bench::PerOperation(rawKept, perRound).c_str(), bench::PerOperation(record, perRound).c_str(),
                record.wall / rawKept.wall, record.cpu / rawKept.cpu);
  };
  std::printf("one row, %d rounds of %d cycles, median round; wall / CPU us per step (goal: ratio to the kept "
              "handle <= 1.30)\n",
              kRounds, perRound);
  std::printf("%-7s %-17s  %-17s  %-17s   %s\n", "step", "raw, handle/stmt", "raw, handle kept", "ODBCRecord",
              "ratio wall / CPU");
  for (auto [name, step] : {std::pair{"create", &Times::create}, std::pair{"read", &Times::read},
                            std::pair{"update", &Times::update}, std::pair{"delete", &Times::remove}}) {
    line(name, median(perStatementRounds, step), median(keptRounds, step), median(recordRounds, step));
  }
  line("CRUD", medianTotal(perStatementRounds), medianTotal(keptRounds), medianTotal(recordRounds));
  return 0;
}
