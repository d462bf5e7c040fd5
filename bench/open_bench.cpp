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
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/open_bench [users] [rounds] [--pin CPU]
// Defaults: 100000 users, 3 rounds, not pinned (--pin pins this process
// and psql to one CPU).
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_server.h"
#include "bench/raw_odbc.h"
#include "configdb/core/core_sql.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "platform/com/apartment.h"
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int users = 100000;
  int rounds = 3;
  int pin = -1;
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pin") == 0 && i + 1 < argc) {
      pin = std::atoi(argv[++i]);
    } else {
      plain.emplace_back(argv[i]);
    }
  }
  if (!plain.empty()) users = std::atoi(plain[0].c_str());
  if (plain.size() > 1) rounds = std::atoi(plain[1].c_str());
  if (pin >= 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(pin, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
      std::perror("open_bench: sched_setaffinity");
      return 1;
    }
  }

  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  const Clock::time_point made = Clock::now();
  if (!database || !database->Execute(bench::MakeUsers(users), &error)) {
    std::fprintf(stderr, "open_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  std::printf("made %d users in %.1f s\n", users, Since(made));
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

  double psqlWall = 1e9, psqlCpu = 1e9, openWall = 1e9, openCpu = 1e9, closeWall = 1e9, rawWall = 1e9, rawCpu = 1e9;
  for (int round = 0; round < rounds; ++round) {
    double wall = 0, cpu = 0;
    if (!bench::RunPsql(server, database->name(), {bench::kCopyUsers, bench::kCopyUserStats}, &wall, &cpu)) {
      std::fprintf(stderr, "open_bench: psql failed\n");
      return 1;
    }
    const double psqlRound = wall;
    psqlWall = std::min(psqlWall, wall);
    psqlCpu = std::min(psqlCpu, cpu);

    double cpuStart = CpuSeconds(RUSAGE_SELF);
    Clock::time_point rawStart = Clock::now();
    std::size_t bytes = 0;
    if (raw->ReadAll(rawSql, &bytes) != static_cast<std::size_t>(users)) {
      std::fprintf(stderr, "open_bench: raw ODBC read the wrong number of rows\n");
      return 1;
    }
    rawWall = std::min(rawWall, Since(rawStart));
    rawCpu = std::min(rawCpu, CpuSeconds(RUSAGE_SELF) - cpuStart);

    auto* db = static_cast<PMDatabaseSQLImp*>(CreatePMDatabase());
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    Clock::time_point start = Clock::now();
    const bool opened = db->Open(0, 0, connection.c_str(), 5, nullptr, "Bench", false, true, 0, nullptr, true, 0);
    wall = Since(start);
    cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    if (!opened) {
      std::fprintf(stderr, "open_bench: Open failed\n");
      return 1;
    }
    start = Clock::now();
    ReleasePMDatabase(db);
    closeWall = std::min(closeWall, Since(start));
    openWall = std::min(openWall, wall);
    openCpu = std::min(openCpu, cpu);
    std::printf("round %d: psql %.0f ms, Open %.0f ms (CPU %.0f ms)\n", round + 1, psqlRound * 1e3, wall * 1e3,
                cpu * 1e3);
  }
  std::printf("Open of a server with %d users, best of %d%s (goal: ratio <= 3.00)\n", users, rounds,
              pin >= 0 ? ", pinned" : "");
  std::printf("psql COPY  wall %8.1f ms  client CPU %8.1f ms\n", psqlWall * 1e3, psqlCpu * 1e3);
  std::printf("Open       wall %8.1f ms  client CPU %8.1f ms  (%.2f us per user; Close %.1f ms)\n", openWall * 1e3,
              openCpu * 1e3, openWall / users * 1e6, closeWall * 1e3);
  std::printf("raw ODBC   wall %8.1f ms  client CPU %8.1f ms  (users' rows only)\n", rawWall * 1e3, rawCpu * 1e3);
  std::printf("ratio %.2f (raw ODBC alone %.2f)\n", openWall / psqlWall, rawWall / psqlWall);
  return 0;
}
