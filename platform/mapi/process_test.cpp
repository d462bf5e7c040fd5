// The profile tool and other processes: a profile the tool wrote is read by
// a second process, and two processes saving one message lose nothing.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/mapi/session_fixture_for_tests.h"

namespace morvale::testing {
namespace {

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

// Runs the profile tool with `arguments` (in the test's environment).
ToolRun RunTool(const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 2);
    close(pipeEnds[0]);
    std::vector<char*> argv{const_cast<char*>(MORVALE_MAPI_PROFILE_TOOL)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  ToolRun run;
  char buffer[512];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, got);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Runs `work` in a forked process; its exit code (0 when it returned true).
pid_t Spawn(const std::function<bool()>& work) {
  const pid_t child = fork();
  if (child == 0) _exit(work() ? 0 : 1);
  return child;
}

int Wait(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kSample = std::string(MORVALE_MAPI_TESTDATA) + "/organisation.txt";

class ProcessTest : public MapiSessionTest {};

TEST_F(ProcessTest, AProfileTheToolWroteIsReadByAnotherProcess) {
  const ToolRun built = RunTool({"--default", "Demo", kSample});
  ASSERT_EQ(built.exitCode, 0) << built.output;
  EXPECT_NE(built.output.find("profile Demo: 3 containers, 5 users, 4 stores in "), std::string::npos)
      << built.output;

  const pid_t reader = Spawn([&] {
    // A logon without a name takes the default profile.
    IMAPISession* session = nullptr;
    if (MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_LOGON_UI, &session) != S_OK) return false;
    _com_ptr_t<IMAPISession> owner(session, false);
    IAddrBook* book = nullptr;
    if (session->OpenAddressBook(0, nullptr, 0, &book) != S_OK) return false;
    _com_ptr_t<IAddrBook> bookOwner(book, false);
    SPropValue name = TextProp(PR_DISPLAY_NAME, "jsmith");
    LPSPropValue values = nullptr;
    if (ScDupPropset(1, &name, MAPIAllocateBuffer, &values) != S_OK) return false;
    void* block = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &block);
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 1;
    list->aEntries[0] = {0, 1, values};
    const HRESULT hr = book->ResolveName(0, 0, nullptr, list);
    bool found = false;
    for (ULONG i = 0; i < list->aEntries[0].cValues; ++i) {
      const SPropValue& v = list->aEntries[0].rgPropVals[i];
      found |= v.ulPropTag == PR_EMAIL_ADDRESS &&
               std::string(v.Value.lpszA) == "/o=Quillon/ou=First Site/cn=Recipients/cn=jsmith";
    }
    FreePadrlist(list);
    return hr == S_OK && found;
  });
  EXPECT_EQ(Wait(reader), 0);
}

TEST_F(ProcessTest, TheToolRefusesBadInputAndLeavesOtherFilesAlone) {
  const std::string bad = profiles_.path() + "/bad.txt";
  std::ofstream(bad) << "[user]\ndisplay-name = A\n";
  // Another application's database where a profile would go.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((profiles_.path() + "/Other.mapi").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE t (x); INSERT INTO t VALUES (42)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  } cases[] = {
      {{}, 2, "usage: morvale-mapi-profile [--default] PROFILE DESCRIPTION"},
      {{"--force", "P", kSample}, 2, "usage:"},
      {{"P"}, 2, "usage:"},
      {{"P", bad}, 1, "bad.txt: line 1: the section needs \"email-address\""},
      {{"P", profiles_.path() + "/missing.txt"}, 1, "missing.txt: No such file"},
      {{"../P", kSample}, 1, "\"../P\" cannot name a profile"},
      {{"Other", kSample}, 1, "the file holds something other than a profile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const ToolRun run = RunTool(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
  sqlite3_stmt* read = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(other, "SELECT x FROM t", -1, &read, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(read), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(read, 0), 42);
  sqlite3_finalize(read);
  sqlite3_close(other);
  EXPECT_FALSE(std::ifstream(profiles_.path() + "/P.mapi").good());
}

// Each process writes its own properties into one message, many times; the
// first retries after MAPI_E_OBJECT_CHANGED, the second forces its saves.
TEST_F(ProcessTest, TwoProcessesSavingOneMessageLoseNoCommittedProperty) {
  const ToolRun built = RunTool({"Demo", kSample});
  ASSERT_EQ(built.exitCode, 0) << built.output;
  constexpr char kMailbox[] = "/o=Quillon/ou=First Site/cn=Recipients/cn=jsmith";
  std::string entryId;
  {
    auto session = LogOn("Demo");
    auto store = OpenStoreByName(session, kMailbox);
    IMessage* message = nullptr;
    ASSERT_EQ(Root(store)->CreateMessage(nullptr, 0, &message), S_OK);
    _com_ptr_t<IMessage> owner(message, false);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    entryId = Bytes(Get(message, PR_ENTRYID)->Value.bin);
  }
  constexpr int kSaves = 25;
  auto writer = [&](int process, bool force) {
    return Spawn([&, process, force] {
      auto session = LogOn("Demo");
      auto store = OpenStoreByName(session, kMailbox);
      for (int i = 0; i < kSaves; ++i) {
        for (int attempt = 0;; ++attempt) {
          if (attempt == 1000) return false;
          ULONG type = 0;
          IUnknown* object = nullptr;
          if (store->OpenEntry(static_cast<ULONG>(entryId.size()),
                               reinterpret_cast<LPENTRYID>(entryId.data()), nullptr, MAPI_MODIFY, &type,
                               &object) != S_OK) {
            return false;
          }
          _com_ptr_t<IMessage> message(static_cast<IMessage*>(object), false);
          SPropValue value = LongProp(PROP_TAG(PT_LONG, 0x6100 + process * 0x100 + i), i);
          if (message->SetProps(1, &value, nullptr) != S_OK) return false;
          const HRESULT hr = message->SaveChanges(force ? FORCE_SAVE : 0);
          if (hr == S_OK) break;
          if (hr != MAPI_E_OBJECT_CHANGED) return false;
        }
      }
      return true;
    });
  };
  const pid_t first = writer(0, false);
  const pid_t second = writer(1, true);
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(Wait(second), 0);

  auto session = LogOn("Demo");
  auto store = OpenStoreByName(session, kMailbox);
  ULONG type = 0;
  IUnknown* object = nullptr;
  ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(entryId.size()), reinterpret_cast<LPENTRYID>(entryId.data()),
                             nullptr, 0, &type, &object),
            S_OK);
  _com_ptr_t<IMessage> message(static_cast<IMessage*>(object), false);
  for (int process = 0; process < 2; ++process) {
    for (int i = 0; i < kSaves; ++i) {
      auto value = Get(message, PROP_TAG(PT_LONG, 0x6100 + process * 0x100 + i));
      ASSERT_NE(value, nullptr) << process << " " << i;
      EXPECT_EQ(value->Value.l, i);
    }
  }
}

}  // namespace
}  // namespace morvale::testing
