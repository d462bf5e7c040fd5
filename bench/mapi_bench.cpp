// The messaging stand-in beside raw SQLite calls on the same profile file,
// at 1,000 and at 100,000 mail users, printing per call the wall time and
// the process's CPU time:
//   1. IAddrBook::ResolveName of one display name (a one-entry address
//      list, as the utility resolves each user), against the indexed SELECT
//      of that user's row through a reused statement;
//   2. a PR_ANR restriction on the global list's contents table (table,
//      columns, restriction, rows), against the indexed SELECT of the
//      container's matching member;
//   3. one save of a message with twenty properties (SetProps and
//      SaveChanges), against one transaction of twenty reused INSERTs and
//      the version update.
// Goal: each call at 100,000 users within 2 times its time at 1,000 (the
// lookups are indexed, not scans). Also prints the profile tool's build
// time (wall, and the tool's CPU) for each size.
//
// Run by hand on a Release build:
//   build/rel/bench/mapi_bench [--cpu N] [--small 1000] [--large 100000] [--calls 20000]
// --cpu pins the process (and the tool it runs) to one CPU, since a shared
// machine's wake-up latency swamps single-call timings.
#include <fcntl.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi.h"

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Cost {
  double wallMicros = 0;
  double cpuMicros = 0;
};

// Runs `call` `calls` times after a tenth as many warm-up calls; the cost
// of one call.
template <typename F>
Cost Measure(int calls, F call) {
  for (int i = 0; i < calls / 10; ++i) call(i);
  const auto start = Clock::now();
  const double cpu = ProcessCpuSeconds();
  for (int i = 0; i < calls; ++i) call(i);
  Cost cost;
  cost.wallMicros = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
  cost.cpuMicros = (ProcessCpuSeconds() - cpu) * 1e6 / calls;
  return cost;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "mapi_bench: %s failed\n", what);
    std::exit(1);
  }
}

std::string Number(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "%06d", i);
  return text;
}
std::string DisplayName(int i) { return "Bench User " + Number(i); }
std::string Smtp(int i) { return "user" + Number(i) + "@bench.example"; }

void WriteDescription(const std::string& file, int users) {
  std::ofstream out(file);
  out << "[container gal]\ndisplay-name = Global Address List\nglobal = yes\n"
      << "[store]\ndn = /o=Bench/ou=Site/cn=Recipients/cn=admin\ndisplay-name = Admin\nrole = default\n";
  for (int i = 0; i < users; ++i) {
    out << "[user]\ndisplay-name = " << DisplayName(i) << "\nalias = u" << Number(i)
        << "\nemail-address = /o=Bench/ou=Site/cn=Recipients/cn=u" << Number(i)
        << "\nsmtp-address = " << Smtp(i)
        << "\nhome-mdb = /o=Bench/ou=Site/cn=Configuration/cn=Servers/cn=MAIL" << i % 4
        << "/cn=Microsoft Private MDB\n";
  }
}

// Runs the profile tool; its wall time and CPU time in seconds.
std::pair<double, double> BuildProfile(const std::string& name, const std::string& description) {
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    execl(MORVALE_MAPI_PROFILE_TOOL, MORVALE_MAPI_PROFILE_TOOL, name.c_str(), description.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the profile tool");
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return {std::chrono::duration<double>(Clock::now() - start).count(), cpu};
}

struct Results {
  int users = 0;
  std::pair<double, double> build;
  Cost resolve, resolvePeer, anr, anrPeer, save, savePeer;
};

Results Run(const std::string& directory, int users, int calls) {
  Results results;
  results.users = users;
  const std::string name = "bench" + std::to_string(users);
  const std::string description = directory + "/" + name + ".txt";
  WriteDescription(description, users);
  results.build = BuildProfile(name, description);
  const std::string file = directory + "/" + name + ".mapi";

  IMAPISession* rawSession = nullptr;
  Check(MAPILogonEx(0, const_cast<char*>(name.c_str()), nullptr, MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE,
                    &rawSession) == S_OK,
        "MAPILogonEx");
  _com_ptr_t<IMAPISession> session(rawSession, false);
  IAddrBook* rawBook = nullptr;
  Check(session->OpenAddressBook(0, nullptr, 0, &rawBook) == S_OK, "OpenAddressBook");
  _com_ptr_t<IAddrBook> book(rawBook, false);

  sqlite3* peer = nullptr;
  Check(sqlite3_open_v2(file.c_str(), &peer, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK, "sqlite3_open");
  sqlite3_busy_timeout(peer, 30000);
  // The same memory map and cache the stand-in's connection uses.
  sqlite3_exec(peer, "PRAGMA mmap_size = 268435456; PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);

  std::mt19937 random(7);
  std::vector<int> picks(static_cast<std::size_t>(calls));
  for (int& pick : picks) pick = static_cast<int>(random() % static_cast<unsigned>(users));

  // 1. ResolveName.
  results.resolve = Measure(calls, [&](int i) {
    const std::string who = DisplayName(picks[static_cast<std::size_t>(i) % picks.size()]);
    SPropValue value{};
    value.ulPropTag = PR_DISPLAY_NAME;
    value.Value.lpszA = const_cast<char*>(who.c_str());
    void* block = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &block);
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 1;
    list->aEntries[0] = {0, 1, nullptr};
    ScDupPropset(1, &value, MAPIAllocateBuffer, &list->aEntries[0].rgPropVals);
    Check(book->ResolveName(0, 0, nullptr, list) == S_OK, "ResolveName");
    FreePadrlist(list);
  });
  sqlite3_stmt* lookup = nullptr;
  sqlite3_prepare_v2(peer,
                     "SELECT u.display_name, u.email_address, u.address_type FROM name_keys k "
                     "JOIN users u ON u.id = k.user WHERE k.key = ? LIMIT 2",
                     -1, &lookup, nullptr);
  results.resolvePeer = Measure(calls, [&](int i) {
    std::string key = DisplayName(picks[static_cast<std::size_t>(i) % picks.size()]);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    sqlite3_bind_text(lookup, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    int rows = 0;
    while (sqlite3_step(lookup) == SQLITE_ROW) ++rows;
    sqlite3_reset(lookup);
    Check(rows == 1, "the peer's lookup");
  });
  sqlite3_finalize(lookup);

  // 2. A PR_ANR restriction on the global list.
  ULONG type = 0;
  IUnknown* rootObject = nullptr;
  Check(book->OpenEntry(0, nullptr, nullptr, 0, &type, &rootObject) == S_OK, "OpenEntry (root)");
  _com_ptr_t<IABContainer> root(static_cast<IABContainer*>(rootObject), false);
  IMAPITable* rawHierarchy = nullptr;
  Check(root->GetHierarchyTable(0, &rawHierarchy) == S_OK, "GetHierarchyTable");
  _com_ptr_t<IMAPITable> hierarchy(rawHierarchy, false);
  LPSRowSet containers = nullptr;
  SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
  Check(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&idColumn), nullptr, nullptr, 0,
                       &containers) == S_OK,
        "HrQueryAllRows (hierarchy)");
  IUnknown* galObject = nullptr;
  const SBinary& galId = containers->aRow[0].lpProps[0].Value.bin;
  Check(root->OpenEntry(galId.cb, reinterpret_cast<LPENTRYID>(galId.lpb), nullptr, 0, &type, &galObject) == S_OK,
        "OpenEntry (global list)");
  FreeProws(containers);
  _com_ptr_t<IABContainer> gal(static_cast<IABContainer*>(galObject), false);
  SizedSPropTagArray(2, anrColumns) = {2, {PR_ENTRYID, PR_EMS_AB_HOME_MDB}};
  results.anr = Measure(calls, [&](int i) {
    const std::string who = Smtp(picks[static_cast<std::size_t>(i) % picks.size()]);
    IMAPITable* table = nullptr;
    Check(gal->GetContentsTable(0, &table) == S_OK, "GetContentsTable");
    SPropValue value{};
    value.ulPropTag = PR_ANR;
    value.Value.lpszA = const_cast<char*>(who.c_str());
    SRestriction anr{};
    anr.rt = RES_PROPERTY;
    anr.res.resProperty = {RELOP_EQ, PR_ANR, &value};
    LPSRowSet rows = nullptr;
    Check(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&anrColumns), 0) == S_OK &&
              table->Restrict(&anr, 0) == S_OK && table->QueryRows(10, 0, &rows) == S_OK &&
              rows->cRows == 1,
          "the PR_ANR restriction");
    FreeProws(rows);
    table->Release();
  });
  sqlite3_stmt* member = nullptr;
  sqlite3_prepare_v2(peer,
                     "SELECT u.email_address, u.home_mdb FROM name_keys k JOIN members m "
                     "ON m.user = k.user JOIN users u ON u.id = k.user WHERE k.key = ? AND m.container = 1",
                     -1, &member, nullptr);
  results.anrPeer = Measure(calls, [&](int i) {
    const std::string key = Smtp(picks[static_cast<std::size_t>(i) % picks.size()]);
    sqlite3_bind_text(member, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    int rows = 0;
    while (sqlite3_step(member) == SQLITE_ROW) ++rows;
    sqlite3_reset(member);
    Check(rows == 1, "the peer's restriction");
  });
  sqlite3_finalize(member);

  // 3. One save of twenty properties.
  IMAPITable* rawStores = nullptr;
  Check(session->GetMsgStoresTable(0, &rawStores) == S_OK, "GetMsgStoresTable");
  _com_ptr_t<IMAPITable> stores(rawStores, false);
  LPSRowSet storeRows = nullptr;
  Check(HrQueryAllRows(stores, reinterpret_cast<LPSPropTagArray>(&idColumn), nullptr, nullptr, 0, &storeRows) ==
            S_OK,
        "HrQueryAllRows (stores)");
  IMsgStore* rawStore = nullptr;
  const SBinary& storeId = storeRows->aRow[0].lpProps[0].Value.bin;
  Check(session->OpenMsgStore(0, storeId.cb, reinterpret_cast<LPENTRYID>(storeId.lpb), nullptr, MDB_WRITE,
                              &rawStore) == S_OK,
        "OpenMsgStore");
  FreeProws(storeRows);
  _com_ptr_t<IMsgStore> store(rawStore, false);
  IUnknown* rootFolder = nullptr;
  Check(store->OpenEntry(0, nullptr, nullptr, MAPI_BEST_ACCESS, &type, &rootFolder) == S_OK, "OpenEntry");
  _com_ptr_t<IMAPIFolder> folder(static_cast<IMAPIFolder*>(rootFolder), false);
  IMessage* rawMessage = nullptr;
  Check(folder->CreateMessage(nullptr, 0, &rawMessage) == S_OK, "CreateMessage");
  _com_ptr_t<IMessage> message(rawMessage, false);
  Check(message->SaveChanges(KEEP_OPEN_READWRITE) == S_OK, "SaveChanges");
  const std::string text(40, 't');
  results.save = Measure(calls, [&](int i) {
    SPropValue values[20] = {};
    for (int p = 0; p < 20; ++p) {
      if (p % 2 == 0) {
        values[p].ulPropTag = PROP_TAG(PT_LONG, 0x6001 + p);
        values[p].Value.l = i;
      } else {
        values[p].ulPropTag = PROP_TAG(PT_STRING8, 0x6001 + p);
        values[p].Value.lpszA = const_cast<char*>(text.c_str());
      }
    }
    Check(message->SetProps(20, values, nullptr) == S_OK &&
              message->SaveChanges(KEEP_OPEN_READWRITE) == S_OK,
          "the save");
  });
  sqlite3_stmt* newest = nullptr;
  sqlite3_prepare_v2(peer, "SELECT max(id) FROM objects", -1, &newest, nullptr);
  Check(sqlite3_step(newest) == SQLITE_ROW, "finding the message");
  const sqlite3_int64 object = sqlite3_column_int64(newest, 0);  // the message saved above
  sqlite3_finalize(newest);
  sqlite3_stmt* write = nullptr;
  sqlite3_stmt* bump = nullptr;
  sqlite3_prepare_v2(peer, "INSERT OR REPLACE INTO props (object, id, type, value) VALUES (?, ?, ?, ?)", -1,
                     &write, nullptr);
  sqlite3_prepare_v2(peer, "UPDATE objects SET version = version + 1 WHERE id = ?", -1, &bump, nullptr);
  sqlite3_bind_int64(bump, 1, object);
  results.savePeer = Measure(calls, [&](int i) {
    sqlite3_exec(peer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int p = 0; p < 20; ++p) {
      sqlite3_bind_int64(write, 1, object);
      sqlite3_bind_int(write, 2, 0x6001 + p);
      if (p % 2 == 0) {
        sqlite3_bind_int(write, 3, PT_LONG);
        sqlite3_bind_blob(write, 4, &i, sizeof i, SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_int(write, 3, PT_UNICODE);
        sqlite3_bind_blob(write, 4, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      }
      sqlite3_step(write);
      sqlite3_reset(write);
    }
    sqlite3_step(bump);
    sqlite3_reset(bump);
    Check(sqlite3_exec(peer, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "the peer's save");
  });
  sqlite3_finalize(write);
  sqlite3_finalize(bump);
  sqlite3_close(peer);
  return results;
}

void Print(const char* what, const Cost& small, const Cost& large, const Cost& smallPeer,
           const Cost& largePeer) {
  std::printf("%-26s %9.1f %9.1f %9.1f %9.1f %7.2f   %9.1f %9.1f %7.2f\n", what, small.wallMicros,
              small.cpuMicros, large.wallMicros, large.cpuMicros, large.wallMicros / small.wallMicros,
              smallPeer.wallMicros, largePeer.wallMicros, large.wallMicros / largePeer.wallMicros);
}

}  // namespace

int main(int argc, char** argv) {
  int small = 1000;
  int large = 100000;
  int calls = 20000;
  int cpu = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--cpu") {
      cpu = value;
    } else if (option == "--small") {
      small = value;
    } else if (option == "--large") {
      large = value;
    } else if (option == "--calls") {
      calls = value;
    } else {
      std::fprintf(stderr, "usage: mapi_bench [--cpu N] [--small N] [--large N] [--calls N]\n");
      return 2;
    }
  }
  if (cpu >= 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    Check(sched_setaffinity(0, sizeof set, &set) == 0, "pinning to the CPU");
  }
  std::string directory = (std::filesystem::temp_directory_path() / "mapi-bench.XXXXXX").string();
  Check(mkdtemp(directory.data()) != nullptr, "making a temporary directory");
  setenv(kMapiProfileDirVariable, directory.c_str(), 1);
  Check(MAPIInitialize(nullptr) == S_OK, "MAPIInitialize");

  const Results a = Run(directory, small, calls);
  const Results b = Run(directory, large, calls);
  MAPIUninitialize();
  std::filesystem::remove_all(directory);

  std::printf("profile tool build: %d users %.2f s wall (%.2f s CPU); %d users %.2f s wall (%.2f s CPU)\n",
              small, a.build.first, a.build.second, large, b.build.first, b.build.second);
  std::printf("per call, microseconds%s\n", cpu >= 0 ? " (pinned to one CPU)" : "");
  std::printf("%-26s %9s %9s %9s %9s %7s   %9s %9s %7s\n", "", "small", "small", "large", "large",
              "large/", "peer", "peer", "large/");
  std::printf("%-26s %9s %9s %9s %9s %7s   %9s %9s %7s\n", "", "wall", "cpu", "wall", "cpu", "small",
              "small", "large", "peer");
  Print("ResolveName", a.resolve, b.resolve, a.resolvePeer, b.resolvePeer);
  Print("PR_ANR restriction", a.anr, b.anr, a.anrPeer, b.anrPeer);
  Print("save of 20 properties", a.save, b.save, a.savePeer, b.savePeer);
  return 0;
}
