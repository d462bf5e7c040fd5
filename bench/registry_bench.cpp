// The registry store beside SQLite on the same disk, in one run, printing the
// ratios:
//   1. reading one value of a key of 4,000 values whose file has not changed
//      (RegQueryValueExW on an open key) against a SELECT by (path, name) on
//      a table of the same rows, the statement prepared once (goal: at most
//      2 times SQLite's time);
//   2. changing one of those values (RegSetValueExW, which appends a record
//      to the root's journal and syncs it, and rewrites the file whole when
//      the journal has grown to its size) against an UPDATE in its own
//      transaction, WAL mode with synchronous=FULL so that both survive a
//      crash of the machine (goal: at most 3 times);
//   3. two processes each writing 1,000 new values into one key of a new
//      root at once, against two processes each inserting 1,000 rows (goal:
//      seconds).
// Each line gives wall time and this process's CPU time per operation (in
// 3, the two writers' CPU time together), the median of several rounds.
//
// Run by hand on a Release build:
//   build/rel/bench/registry_bench [--pin CPU] [--dir DIR] [--reads N] [--writes N]
// --pin runs the whole benchmark (and its writer processes) on one CPU;
// --dir is where the files go (a new folder below it, removed at the end;
// default $TMPDIR or /tmp): put it on the disk whose durability you measure.
#include <fcntl.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace {

constexpr int kValues = 4000;
constexpr int kPairValues = 1000;
constexpr int kRounds = 7;
constexpr const wchar_t* kKeyPath = L"Software\\Bench";
constexpr const char* kSqlPath = "Software\\Bench";

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall and CPU seconds of a stretch of work.
struct Cost {
  double wall = 0;
  double cpu = 0;
};

double Median(std::vector<double> samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// The median of kRounds runs of `round` (each doing `ops` operations), per
// operation; the two sides' rounds alternate so that both see the same
// machine.
void Measure(int ops, const std::function<bool()>& left, const std::function<bool()>& right, Cost* a,
             Cost* b) {
  std::vector<double> walls[2], cpus[2];
  for (int round = 0; round < kRounds; ++round) {
    for (int side = 0; side < 2; ++side) {
      const double cpu = CpuSeconds();
      const Clock::time_point start = Clock::now();
      if (!(side == 0 ? left : right)()) {
        std::fprintf(stderr, "registry_bench: an operation failed\n");
        std::exit(1);
      }
      walls[side].push_back(std::chrono::duration<double>(Clock::now() - start).count() / ops);
      cpus[side].push_back((CpuSeconds() - cpu) / ops);
    }
  }
  *a = Cost{Median(walls[0]), Median(cpus[0])};
  *b = Cost{Median(walls[1]), Median(cpus[1])};
}

void Report(const char* what, const Cost& registry, const Cost& sqlite, double goal) {
  std::printf("%s\n", what);
  std::printf("  registry %9.1f us wall %9.1f us CPU\n", registry.wall * 1e6, registry.cpu * 1e6);
  std::printf("  SQLite   %9.1f us wall %9.1f us CPU\n", sqlite.wall * 1e6, sqlite.cpu * 1e6);
  std::printf("  ratio    %9.2f wall    %9.2f CPU     (goal <= %.2f)\n", registry.wall / sqlite.wall,
              registry.cpu / sqlite.cpu, goal);
}

// SQLite's side: one table keyed by (path, name), names compared without
// regard to case as the registry's are.
class Table {
 public:
  explicit Table(const std::string& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) Fail("open");
    sqlite3_busy_timeout(db_, 60000);  // first: the statements below wait for a writer in another process too
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=FULL");
    Exec("CREATE TABLE IF NOT EXISTS registry (path TEXT COLLATE NOCASE, name TEXT COLLATE NOCASE, "
         "type INTEGER, data BLOB, PRIMARY KEY (path, name)) WITHOUT ROWID");
    Prepare("SELECT type, data FROM registry WHERE path = ?1 AND name = ?2", &select_);
    Prepare("INSERT INTO registry (path, name, type, data) VALUES (?1, ?2, ?3, ?4) "
            "ON CONFLICT (path, name) DO UPDATE SET type = excluded.type, data = excluded.data",
            &upsert_);
  }
  ~Table() {
    sqlite3_finalize(select_);
    sqlite3_finalize(upsert_);
    sqlite3_close(db_);
  }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }

  bool Read(const char* path, const std::string& name, DWORD* value) {
    sqlite3_bind_text(select_, 1, path, -1, SQLITE_STATIC);
    sqlite3_bind_text(select_, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    bool ok = sqlite3_step(select_) == SQLITE_ROW && sqlite3_column_bytes(select_, 1) == 4;
    if (ok) std::memcpy(value, sqlite3_column_blob(select_, 1), 4);
    sqlite3_reset(select_);
    return ok;
  }

  bool Write(const char* path, const std::string& name, DWORD value) {
    sqlite3_bind_text(upsert_, 1, path, -1, SQLITE_STATIC);
    sqlite3_bind_text(upsert_, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_int(upsert_, 3, static_cast<int>(REG_DWORD));
    sqlite3_bind_blob(upsert_, 4, &value, 4, SQLITE_STATIC);
    const bool ok = sqlite3_step(upsert_) == SQLITE_DONE;
    sqlite3_reset(upsert_);
    return ok;
  }

 private:
  void Prepare(const char* sql, sqlite3_stmt** stmt) {
    if (sqlite3_prepare_v2(db_, sql, -1, stmt, nullptr) != SQLITE_OK) Fail(sql);
  }
  [[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "registry_bench: SQLite: %s: %s\n", what, db_ ? sqlite3_errmsg(db_) : "no memory");
    std::exit(1);
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
};

std::string Name(const char* prefix, int i) { return std::string(prefix) += std::to_string(i); }
std::wstring WideName(const char* prefix, int i) {
  const std::string name = Name(prefix, i);
  return std::wstring(name.begin(), name.end());
}

HKEY CreateKey(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "registry_bench: cannot create the key\n");
    std::exit(1);
  }
  return key;
}

// Runs `work` in two processes that start together; the wall time from the
// start to the end of both, and their CPU time together.
Cost TwoProcesses(const std::function<bool(int writer)>& work) {
  int go[2];
  if (pipe(go) != 0) std::exit(1);
  std::fflush(stdout);  // a child that exits must not print what the parent printed again
  pid_t children[2];
  for (int writer = 0; writer < 2; ++writer) {
    children[writer] = fork();
    if (children[writer] < 0) std::exit(1);
    if (children[writer] == 0) {
      close(go[1]);
      char byte;
      if (read(go[0], &byte, 1) != 0) _exit(1);  // released when the pipe closes
      _exit(work(writer) ? 0 : 1);
    }
  }
  close(go[0]);
  const Clock::time_point start = Clock::now();
  close(go[1]);
  Cost cost;
  bool ok = true;
  for (pid_t child : children) {
    int status = 0;
    ok = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
  }
  cost.wall = std::chrono::duration<double>(Clock::now() - start).count();
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  cost.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  if (!ok) {
    std::fprintf(stderr, "registry_bench: a writer process failed\n");
    std::exit(1);
  }
  return cost;
}

}  // namespace

int main(int argc, char** argv) {
  int pin = -1;
  int reads = 100000;
  int writes = 200;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 < argc && arg == "--pin") {
      pin = std::atoi(argv[++i]);
    } else if (i + 1 < argc && arg == "--dir") {
      base = argv[++i];
    } else if (i + 1 < argc && arg == "--reads") {
      reads = std::max(1, std::atoi(argv[++i]));
    } else if (i + 1 < argc && arg == "--writes") {
      writes = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: registry_bench [--pin CPU] [--dir DIR] [--reads N] [--writes N]\n");
      return 2;
    }
  }
  if (pin >= 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(pin, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
      std::perror("registry_bench: sched_setaffinity");
      return 1;
    }
  }
  std::string dir = base + "/registry-bench.XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("registry_bench: mkdtemp");
    return 1;
  }
  const std::string registryDir = dir + "/registry";
  setenv("MORVALE_REGISTRY_DIR", registryDir.c_str(), 1);

  // The key of 4,000 values, written as the file a process that set them
  // one by one would leave, and the same rows in SQLite.
  std::vector<std::wstring> wideNames;
  std::vector<std::string> names;
  {
    std::filesystem::create_directories(registryDir);
    std::ofstream file(registryDir + "/HKLM.reg", std::ios::binary);
    file << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n\n[HKEY_LOCAL_MACHINE\\Software\\Bench]\n";
    char line[64];
    for (int i = 0; i < kValues; ++i) {
      names.push_back(Name("v", i));
      wideNames.push_back(WideName("v", i));
      std::snprintf(line, sizeof line, "\"v%d\"=dword:%08x\n", i, static_cast<unsigned>(i));
      file << line;
    }
    file << "\n";
  }
  Table table(dir + "/registry.db");
  table.Exec("BEGIN");
  for (int i = 0; i < kValues; ++i) table.Write(kSqlPath, names[i], static_cast<DWORD>(i));
  table.Exec("COMMIT");
  HKEY key = CreateKey(kKeyPath);

  std::printf("registry_bench: %d values in one key; files in %s%s\n", kValues, dir.c_str(),
              pin >= 0 ? (", pinned to CPU " + std::to_string(pin)).c_str() : ", unpinned");

  Cost registryRead, sqliteRead;
  Measure(
      reads,
      [&] {
        for (int i = 0; i < reads; ++i) {
          DWORD value = 0, size = sizeof value, type = 0;
          if (RegQueryValueExW(key, wideNames[i % kValues].c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
              value != static_cast<DWORD>(i % kValues)) {
            return false;
          }
        }
        return true;
      },
      [&] {
        for (int i = 0; i < reads; ++i) {
          DWORD value = 0;
          if (!table.Read(kSqlPath, names[i % kValues], &value) || value != static_cast<DWORD>(i % kValues)) {
            return false;
          }
        }
        return true;
      },
      &registryRead, &sqliteRead);
  char what[160];
  std::snprintf(what, sizeof what, "read one value of an unchanged key of %d values, %d reads a round:", kValues,
                reads);
  Report(what, registryRead, sqliteRead, 2.0);

  // Each write stores a new number, so that neither side can skip it.
  Cost registryWrite, sqliteWrite;
  DWORD next = kValues;
  Measure(
      writes,
      [&] {
        for (int i = 0; i < writes; ++i) {
          const DWORD value = ++next;
          if (RegSetValueExW(key, wideNames[i % kValues].c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&value), sizeof value) != ERROR_SUCCESS) {
            return false;
          }
        }
        return true;
      },
      [&] {
        for (int i = 0; i < writes; ++i) {
          if (!table.Write(kSqlPath, names[i % kValues], ++next)) return false;
        }
        return true;
      },
      &registryWrite, &sqliteWrite);
  std::snprintf(what, sizeof what,
                "change one value of a key of %d values, synced to disk, %d writes a round:", kValues, writes);
  Report(what, registryWrite, sqliteWrite, 3.0);
  RegCloseKey(key);

  // Two writers into a new root, each process with its own connection.
  const std::string pairDir = dir + "/pair";
  setenv("MORVALE_REGISTRY_DIR", pairDir.c_str(), 1);
  RegCloseKey(CreateKey(L"Software\\Pair"));
  const Cost registryPair = TwoProcesses([](int writer) {
    HKEY pair = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Pair", 0, KEY_WRITE, &pair) != ERROR_SUCCESS) return false;
    bool ok = true;
    for (int i = 0; i < kPairValues && ok; ++i) {
      const std::wstring name = WideName(writer == 0 ? "a" : "b", i);
      const DWORD value = static_cast<DWORD>(i);
      ok = RegSetValueExW(pair, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
    }
    RegCloseKey(pair);
    return ok;
  });
  {
    HKEY pair = CreateKey(L"Software\\Pair");
    DWORD values = 0;
    RegQueryInfoKeyW(pair, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(pair);
    if (values != 2 * kPairValues) {
      std::fprintf(stderr, "registry_bench: the two writers left %u values, not %d\n", static_cast<unsigned>(values),
                   2 * kPairValues);
      return 1;
    }
  }
  const std::string pairDb = dir + "/pair.db";
  { Table create(pairDb); }
  const double registryChildren = registryPair.cpu;
  Cost sqlitePair = TwoProcesses([&pairDb](int writer) {
    Table pair(pairDb);
    for (int i = 0; i < kPairValues; ++i) {
      if (!pair.Write("Software\\Pair", Name(writer == 0 ? "a" : "b", i), static_cast<DWORD>(i))) return false;
    }
    return true;
  });
  sqlitePair.cpu -= registryChildren;  // the children's times add up over the run
  std::printf("two processes each writing %d values into one key at once (goal: seconds):\n", kPairValues);
  std::printf("  registry %9.2f s wall %9.2f s CPU\n", registryPair.wall, registryPair.cpu);
  std::printf("  SQLite   %9.2f s wall %9.2f s CPU\n", sqlitePair.wall, sqlitePair.cpu);
  std::printf("  ratio    %9.2f wall    %9.2f CPU\n", registryPair.wall / sqlitePair.wall,
              registryPair.cpu / sqlitePair.cpu);

  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
