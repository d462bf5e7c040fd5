// The morvale command on a server of many users, beside psql reading the
// same rows in the same run, printing the ratios:
//   1. morvale -d (logon, Open with every user, the walk and the dump of
//      each user to /dev/null) against one run of psql copying the
//      server's UserConfig rows (the user SELECT's 64 columns) to /dev/null,
//      the fastest honest way to read what is dumped. Goal: at most 2 times
//      psql's wall time.
//   2. morvale -u with a share of the mailboxes moved (1% by default): its
//      time, the rows it updated and the statements and sessions it took,
//      from the server's statistics. Goal: one UPDATE per changed user, and
//      no server connect per user.
// The users are those of bench/bench_server.h, made in SQL, and the
// matching address book is built with the profile tool; each measurement is
// the best of its rounds. Wall time and client CPU time (the morvale or psql
// child) are printed. Opening the server with its users, the larger part of
// -d, is measured on its own, beside raw ODBC, by open_bench.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/morvale_bench [users] [rounds]
//       [--changed PERCENT] [--pin[=CPU]]
// Defaults: 100000 users, 3 rounds, 1% changed, not pinned (--pin runs
// psql and morvale on one CPU, as their parent is).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_server.h"
#include "bench/measure.h"
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

void Fail(const std::string& what) {
  std::fprintf(stderr, "morvale_bench: %s\n", what.c_str());
  std::exit(1);
}

// The home store of server `n`, as bench::MakeUsers names it.
std::string Mdb(int n) { return "/o=Org/ou=Site/cn=Configuration/cn=Servers/cn=MX" + std::to_string(n); }

// The address book of the users of bench::MakeUsers; every `moveEvery`-th
// user's mailbox is on the next server (0: none moved).
void WriteDescription(const std::string& file, int users, int moveEvery) {
  std::ofstream out(file);
  out << "[container gal]\ndisplay-name = Global Address List\nglobal = yes\n"
      << "[store]\ndn = /o=Org/ou=Site/cn=Recipients/cn=admin\ndisplay-name = Admin\nrole = default\n";
  for (int g = 1; g <= users; ++g) {
    const bool moved = moveEvery > 0 && g % moveEvery == 0;
    out << "[user]\ndisplay-name = User " << g << " M\u00FCller\nemail-address = /o=Org/ou=Site/cn=Recipients/cn=user"
        << g << "\nsmtp-address = user" << g << "@example.com\nhome-mdb = " << Mdb((g % 8 + (moved ? 1 : 0)) % 8)
        << "\n";
  }
}

// Runs `args` through bench::RunChild; ends the benchmark when it fails.
bench::Cost Run(const std::vector<std::string>& args, const std::string& input,
                const std::vector<std::string>& environment, const std::string& output = "/dev/null") {
  bench::Cost cost;
  if (!bench::RunChild(args, input, environment, output, &cost)) Fail(args[0] + " failed");
  return cost;
}

// What the server counted for the database: rows of UserConfig updated,
// transactions committed, sessions established.
struct Counts {
  long long updated = 0;
  long long committed = 0;
  long long sessions = 0;
};

// Transactions that ReadCounts' own session commits.
constexpr int kReaderTransactions = 2;

// Reads the counts in one psql session, once every other session of the
// database has ended: a server backend hands in its counts before it leaves
// pg_stat_activity. The session itself counts as one session and
// kReaderTransactions transactions in the next reading.
Counts ReadCounts(const std::map<std::string, std::string>& server, const std::string& database) {
  std::vector<std::string> args = bench::PsqlSession(server, database);
  args.insert(args.end(), {"-t", "-A", "-F", " ", "-c",
                           "DO $$BEGIN FOR i IN 1..3000 LOOP PERFORM pg_stat_clear_snapshot(); EXIT WHEN NOT EXISTS "
                           "(SELECT 1 FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
                           "pg_backend_pid()); PERFORM pg_sleep(0.01); END LOOP; END$$",
                           "-c",
                           "SELECT t.n_tup_upd, d.xact_commit, d.sessions FROM pg_stat_user_tables t, "
                           "pg_stat_database d WHERE t.relname = 'userconfig' AND d.datname = current_database()"});
  const std::string file = "/tmp/morvale-bench-counts-" + std::to_string(getpid());
  Run(args, "", {bench::PsqlPassword(server)}, file);
  Counts counts;
  std::ifstream in(file);
  in >> counts.updated >> counts.committed >> counts.sessions;
  std::remove(file.c_str());
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::TakePinOption(&argc, argv)) return 1;
  int users = 100000;
  int rounds = 3;
  double changedPercent = 1;
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--changed") == 0 && i + 1 < argc) {
      changedPercent = std::atof(argv[++i]);
    } else {
      plain.emplace_back(argv[i]);
    }
  }
  if (!plain.empty()) users = std::atoi(plain[0].c_str());
  if (plain.size() > 1) rounds = std::atoi(plain[1].c_str());
  const int moveEvery = changedPercent > 0 ? static_cast<int>(100 / changedPercent) : 0;

  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  auto start = Clock::now();
  if (!database || !database->Execute(bench::MakeUsers(users), &error)) Fail("no test database: " + error);
  std::printf("made %d users in %.1f s\n", users, std::chrono::duration<double>(Clock::now() - start).count());

  char folderPattern[] = "/tmp/morvale-bench.XXXXXX";
  if (mkdtemp(folderPattern) == nullptr) Fail("mkdtemp");
  const std::string folder = folderPattern;
  const std::string description = folder + "/bench.txt";
  WriteDescription(description, users, moveEvery);
  const std::vector<std::string> environment = {"MORVALE_MAPI_PROFILE_DIR=" + folder,
                                                "MORVALE_REGISTRY_DIR=" + folder, "LC_ALL=C.UTF-8"};
  const bench::Cost profile = Run({MORVALE_MAPI_PROFILE_TOOL, "Bench", description}, "", environment);
  std::printf("built the address book in %.1f s\n", profile.wall);

  const std::map<std::string, std::string> server = bench::OdbcPairs(std::getenv("MORVALE_TEST_ODBC"));
  const std::wstring& ado = database->ado_connection_string();
  const std::string connection(ado.begin(), ado.end());
  const std::vector<std::string> dump = {MORVALE_COMMAND, "-d", "-p", "Bench", "-c", connection};

  bench::Cost psqlCost{1e9, 1e9}, dumpCost{1e9, 1e9};
  for (int round = 0; round < rounds; ++round) {
    bench::Cost p;
    if (!bench::RunPsql(server, database->name(), {bench::kCopyUsers}, &p)) Fail("psql failed");
    const bench::Cost d = Run(dump, "Bench\n", environment);
    std::printf("round %d: psql %.0f ms, morvale -d %.0f ms (CPU %.0f ms)\n", round + 1, p.wall * 1e3, d.wall * 1e3,
                d.cpu * 1e3);
    psqlCost = bench::Least(psqlCost, p);
    dumpCost = bench::Least(dumpCost, d);
  }

  // The update, once: the first run writes the moved mailboxes, the second
  // finds nothing to change.
  const std::vector<std::string> update = {MORVALE_COMMAND, "-u", "-p", "Bench", "-c", connection};
  const Counts before = ReadCounts(server, database->name());
  const bench::Cost updateCost = Run(update, "Bench\n", environment);
  const Counts after = ReadCounts(server, database->name());
  const bench::Cost unchanged = Run(update, "Bench\n", environment);
  const Counts again = ReadCounts(server, database->name());
  // Less the reading session's own transactions and session.
  const long long updated = after.updated - before.updated;
  const long long committed = after.committed - before.committed - kReaderTransactions;
  const long long connected = after.sessions - before.sessions - 1;
  const long long updatedAgain = again.updated - after.updated;

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);

  const int changed = moveEvery > 0 ? users / moveEvery : 0;
  std::printf("\nmorvale on a server with %d users, best of %d\n", users, rounds);
  std::printf("psql COPY     wall %9.1f ms  client CPU %9.1f ms\n", psqlCost.wall * 1e3, psqlCost.cpu * 1e3);
  std::printf("morvale -d    wall %9.1f ms  client CPU %9.1f ms  (%.2f us per user)\n", dumpCost.wall * 1e3,
              dumpCost.cpu * 1e3, dumpCost.wall * 1e6 / users);
  std::printf("ratio -d / psql: %.2f (goal: <= 2.00)\n", dumpCost.wall / psqlCost.wall);
  std::printf("morvale -u    wall %9.1f ms  client CPU %9.1f ms  %d mailboxes moved: %lld rows updated, %lld "
              "transactions, %lld server sessions\n",
              updateCost.wall * 1e3, updateCost.cpu * 1e3, changed, updated, committed, connected);
  std::printf("morvale -u    wall %9.1f ms  client CPU %9.1f ms  nothing moved: %lld rows updated\n",
              unchanged.wall * 1e3, unchanged.cpu * 1e3, updatedAgain);
  std::printf("ratio -u / psql: %.2f\n", updateCost.wall / psqlCost.wall);
  return 0;
}
