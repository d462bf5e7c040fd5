// Opening a server of many users (PMDatabaseSQLImp::Open with its users)
// beside psql reading the same rows in the same run, printing the ratio.
// The server's users are made in SQL (generate_series) with every column
// that a user row carries in practice filled; psql's side is the fastest
// honest way to read the same rows: one run of psql copying the UserConfig
// rows of the server (the user SELECT's 64 columns) and their UserStats rows
// to /dev/null. Goal: Open at most 3 times psql's wall time.
//
// For the record of where the time goes, each round also reads the same
// user rows with raw ODBC calls on the same driver (bench/raw_odbc.h:
// SQLFetch and SQLGetData of every cell), the floor of any reader over
// ODBC.
//
// Each round runs psql, raw ODBC, then Open and Close on a new object; the
// best round of each counts. Wall time and CPU time of the client (this
// process for Open and raw ODBC, the psql child for psql) are printed.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/open_bench [users] [rounds] [--pin[=CPU]]
// Defaults: 100000 users, 3 rounds, not pinned (--pin pins this process
// and psql to one CPU).
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_server.h"
#include "bench/measure.h"
#include "bench/raw_odbc.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/vexdb_user.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

// Minor page faults of the process so far: first touches of memory the
// process had not used before (or had given back to the system).
long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::TakePinOption(&argc, argv)) return 1;
  const int users = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  bool made = false;
  const bench::Cost making = bench::Measure([&] { made = database && database->Execute(bench::MakeUsers(users), &error); });
  if (!made) {
    std::fprintf(stderr, "open_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  std::printf("made %d users in %.1f s\n", users, making.wall);
  const std::map<std::string, std::string> server = bench::OdbcPairs(std::getenv("MORVALE_TEST_ODBC"));
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::wstring& ado = database->ado_connection_string();
  const std::string connection(ado.begin(), ado.end());

  std::unique_ptr<bench::RawOdbc> raw = bench::RawOdbc::Connect(database->odbc_connection_string(), &error);
  if (!raw) {
    std::fprintf(stderr, "open_bench: raw connect: %s\n", error.c_str());
    return 1;
  }
  const std::wstring wideList = UserListSql(false);
  std::string rawSql(wideList.begin(), wideList.end());
  rawSql.replace(rawSql.find("= ?"), 3, "= 1");
  rawSql.replace(rawSql.find("= ?"), 3, "= 1");

  const bench::Cost none{1e9, 1e9};
  bench::Cost psqlBest = none, openBest = none, rawBest = none, closeBest = none;
  for (int round = 0; round < rounds; ++round) {
    bench::Cost psql;
    if (!bench::RunPsql(server, database->name(), {bench::kCopyUsers, bench::kCopyUserStats}, &psql)) {
      std::fprintf(stderr, "open_bench: psql failed\n");
      return 1;
    }
    psqlBest = bench::Least(psqlBest, psql);

    std::size_t bytes = 0, rows = 0;
    rawBest = bench::Least(rawBest, bench::Measure([&] { rows = raw->ReadAll(rawSql, &bytes); }));
    if (rows != static_cast<std::size_t>(users)) {
      std::fprintf(stderr, "open_bench: raw ODBC read the wrong number of rows\n");
      return 1;
    }

    auto* db = static_cast<PMDatabaseSQLImp*>(CreatePMDatabase());
    bool opened = false;
    const long faultsBefore = MinorFaults();
    const bench::Cost open = bench::Measure(
        [&] { opened = db->Open(0, 0, connection.c_str(), 5, nullptr, "Bench", false, true, 0, nullptr, true, 0); });
    if (!opened) {
      std::fprintf(stderr, "open_bench: Open failed\n");
      return 1;
    }
    const long faults = MinorFaults() - faultsBefore;
    closeBest = bench::Least(closeBest, bench::Measure([&] { ReleasePMDatabase(db); }));
    openBest = bench::Least(openBest, open);
    std::printf("round %d: psql %.0f ms, Open %.0f ms (CPU %.0f ms, %ld page faults)\n", round + 1, psql.wall * 1e3,
                open.wall * 1e3, open.cpu * 1e3, faults);
  }
  std::printf("Open of a server with %d users, best of %d (goal: ratio <= 3.00)\n", users, rounds);
  std::printf("psql COPY  wall %8.1f ms  client CPU %8.1f ms\n", psqlBest.wall * 1e3, psqlBest.cpu * 1e3);
  std::printf("Open       wall %8.1f ms  client CPU %8.1f ms  (%.2f us per user; Close %.1f ms)\n",
              openBest.wall * 1e3, openBest.cpu * 1e3, openBest.wall / users * 1e6, closeBest.wall * 1e3);
  std::printf("raw ODBC   wall %8.1f ms  client CPU %8.1f ms  (users' rows only)\n", rawBest.wall * 1e3,
              rawBest.cpu * 1e3);
  std::printf("ratio %.2f (raw ODBC alone %.2f)\n", openBest.wall / psqlBest.wall, rawBest.wall / psqlBest.wall);
  return 0;
}
