// The record layer beside raw ODBC calls on the same driver and server, in
// one run, printing the ratios: one row created (with its identity read
// back), read by id, updated and deleted, through ODBCRecord with its
// connections borrowed from the process-wide pool, against the same
// statements on one already open raw connection (goal: at most 1.5 times).
// The two alternate cycle by cycle.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/record_bench
// Optional argument: CRUD cycles (1000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "bench/record_raw_odbc.h"
#include "db/connection_pool.h"
#include "db/odbc_record.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Times {
  double create = 0, read = 0, update = 0, remove = 0;
  double Total() const { return create + read + update + remove; }
};

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One CRUD cycle, each step timed on its own; false when a step gave a
// wrong answer.
template <typename Side>
bool Cycle(Side& side, int i, Times* times) {
  Clock::time_point start = Clock::now();
  const long long id = side.Create(i);
  times->create += Since(start);
  if (id <= 0) return false;
  start = Clock::now();
  const bool readOk = side.Read(static_cast<int>(id)) == i;
  times->read += Since(start);
  start = Clock::now();
  const bool updateOk = side.Update(static_cast<int>(id), i + 1);
  times->update += Since(start);
  start = Clock::now();
  const bool deleteOk = side.Delete(static_cast<int>(id));
  times->remove += Since(start);
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
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  if (!database) {
    std::fprintf(stderr, "record_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<bench::RawCrud> raw = bench::RawCrud::Connect(database->odbc_connection_string(), &error);
  if (!raw) {
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

  RawSide rawSide{raw.get()};
  RecordSide recordSide{&records};
  // The two sides alternate cycle by cycle, so that both see the same load
  // on a shared machine; the first cycles warm plans and caches.
  constexpr int kWarmUp = 50;
  Times ignored;
  Times rawTimes;
  Times recordTimes;
  bool ok = true;
  for (int i = 0; i < kWarmUp + cycles && ok; ++i) {
    const bool counted = i >= kWarmUp;
    ok = Cycle(rawSide, i, counted ? &rawTimes : &ignored) && Cycle(recordSide, i, counted ? &recordTimes : &ignored);
  }
  pool.ReleasePool(true);
  if (!ok) {
    std::fprintf(stderr, "record_bench: a step gave a wrong answer\n");
    return 1;
  }
  auto line = [cycles](const char* step, double rawTime, double recordTime) {
    std::printf("%-7s raw %7.1f us  ODBCRecord %7.1f us  ratio %.2f\n", step, rawTime / cycles * 1e6,
                recordTime / cycles * 1e6, recordTime / rawTime);
  };
  std::printf("one row, %d cycles (goal: ratio <= 1.50)\n", cycles);
  line("create", rawTimes.create, recordTimes.create);
  line("read", rawTimes.read, recordTimes.read);
  line("update", rawTimes.update, recordTimes.update);
  line("delete", rawTimes.remove, recordTimes.remove);
  line("CRUD", rawTimes.Total(), recordTimes.Total());
  return 0;
}
