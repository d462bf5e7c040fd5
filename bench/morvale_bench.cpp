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
// matching address book is built with the profile tool; each measurement is the best of its rounds. Wall
// time and client CPU time (the morvale or psql child) are printed.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/morvale_bench [users] [rounds]
//       [--changed PERCENT] [--pin CPU]
// Defaults: 100000 users, 3 rounds, 1% changed, not pinned (--pin runs
// psql and morvale on one CPU).
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Cost {
  double wall = 1e9;
  double cpu = 1e9;
  void Keep(const Cost& other) {
    wall = std::min(wall, other.wall);
    cpu = std::min(cpu, other.cpu);
  }
};

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

// Runs `program` with `args` (stdin from `input`, stdout to `output`);
// its wall and CPU time. `extra` is added to the environment.
Cost Run(const char* program, std::vector<std::string> args, const std::string& input,
         const std::vector<std::string>& extra = {}, const std::string& output = "/dev/null") {
  const std::string inputFile = "/tmp/morvale-bench-input-" + std::to_string(getpid());
  std::ofstream(inputFile) << input;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    for (const std::string& variable : extra) putenv(const_cast<char*>(variable.c_str()));
    const int in = open(inputFile.c_str(), O_RDONLY);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    execvp(program, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Cost cost;
  cost.wall = std::chrono::duration<double>(Clock::now() - start).count();
  cost.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::remove(inputFile.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(std::string(program) + " failed");
  return cost;
}

// What the server counted for the database: rows of UserConfig updated,
// transactions committed, sessions established.
struct Counts {
  long long updated = 0;
  long long committed = 0;
  long long sessions = 0;
};

// Reads the counts in one psql session (which itself counts as one session
// and one transaction).
Counts ReadCounts(const std::vector<std::string>& psql, const std::vector<std::string>& environment) {
  std::vector<std::string> args = psql;
  args.insert(args.end(), {"-t", "-A", "-F", " ", "-c",
                           "SELECT t.n_tup_upd, d.xact_commit, d.sessions FROM pg_stat_user_tables t, "
                           "pg_stat_database d WHERE t.relname = 'userconfig' AND d.datname = current_database()"});
  const std::string file = "/tmp/morvale-bench-counts-" + std::to_string(getpid());
  Run("psql", args, "", environment, file);
  Counts counts;
  std::ifstream in(file);
  in >> counts.updated >> counts.committed >> counts.sessions;
  std::remove(file.c_str());
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  int users = 100000;
  int rounds = 3;
  double changedPercent = 1;
  int pin = -1;
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pin") == 0 && i + 1 < argc) {
      pin = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--changed") == 0 && i + 1 < argc) {
      changedPercent = std::atof(argv[++i]);
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
    if (sched_setaffinity(0, sizeof set, &set) != 0) Fail("sched_setaffinity");
  }
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
  const Cost profile = Run(MORVALE_MAPI_PROFILE_TOOL, {"morvale-mapi-profile", "Bench", description}, "", environment);
  std::printf("built the address book in %.1f s\n", profile.wall);

  const std::map<std::string, std::string> server = bench::OdbcPairs(std::getenv("MORVALE_TEST_ODBC"));
  const std::wstring& ado = database->ado_connection_string();
  const std::string connection(ado.begin(), ado.end());
  const std::vector<std::string> psqlSession = {"psql", "-X", "-q", "-h", server.at("Server"), "-p",
                                                server.at("Port"), "-U", server.at("Uid"), "-d", database->name(),
                                                "-v", "ON_ERROR_STOP=1"};
  const std::vector<std::string> psqlEnvironment = {"PGPASSWORD=" + server.at("Pwd")};
  const std::vector<std::string> dump = {"morvale", "-d", "-p", "Bench", "-c", connection};

  Cost psqlCost, dumpCost;
  for (int round = 0; round < rounds; ++round) {
    Cost p;
    if (!bench::RunPsql(server, database->name(), {bench::kCopyUsers}, &p.wall, &p.cpu)) Fail("psql failed");
    const Cost d = Run(MORVALE_COMMAND, dump, "Bench\n", environment);
    std::printf("round %d: psql %.0f ms, morvale -d %.0f ms (CPU %.0f ms)\n", round + 1, p.wall * 1e3, d.wall * 1e3,
                d.cpu * 1e3);
    psqlCost.Keep(p);
    dumpCost.Keep(d);
  }

  // The update, once: the first run writes the moved mailboxes, the second
  // finds nothing to change. The server's statistics arrive within a second
  // of a session's end.
  const std::vector<std::string> update = {"morvale", "-u", "-p", "Bench", "-c", connection};
  const Counts before = ReadCounts(psqlSession, psqlEnvironment);
  const Cost updateCost = Run(MORVALE_COMMAND, update, "Bench\n", environment);
  sleep(1);
  const Counts after = ReadCounts(psqlSession, psqlEnvironment);
  const Cost unchanged = Run(MORVALE_COMMAND, update, "Bench\n", environment);
  sleep(1);
  const Counts again = ReadCounts(psqlSession, psqlEnvironment);
  // Less the reading session's own transaction and session.
  const long long updated = after.updated - before.updated;
  const long long committed = after.committed - before.committed - 1;
  const long long connected = after.sessions - before.sessions - 1;
  const long long updatedAgain = again.updated - after.updated;

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);

  const int changed = moveEvery > 0 ? users / moveEvery : 0;
  std::printf("\nmorvale on a server with %d users, best of %d%s\n", users, rounds, pin >= 0 ? ", pinned" : "");
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
