// Test support for the database layer. LoggedLines runs the process-wide
// DebugLogger with capturing outputs, so a test can read every line the code
// under test logged, with its level and event code; ClosedPort names a TCP
// port of 127.0.0.1 where nothing listens; ComDatabaseTest is the fresh-
// database fixture (testing/test_database.h) with the test's thread in the
// multithreaded apartment, which the ADO objects need. RecordingSink is a
// log sink (db/db_log_sink.h) that keeps every line in SinkLines().
//
//   LoggedLines log;              // logger started, everything up to level 6
//   ... code under test ...
//   std::vector<CapturedLine> lines = log.Stop();
//
// One at a time per process, created and stopped on the test's main thread.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/debug_logger.h"
#include "platform/com/apartment.h"
#include "platform/com/hresult.h"
#include "testing/test_database.h"

struct SinkLine {
  int level;
  unsigned eventCode;
  std::wstring text;
  std::string location;
};

inline std::vector<SinkLine>& SinkLines() {
  static std::vector<SinkLine> lines;
  return lines;
}

inline void RecordingSink(int level, unsigned eventCode, int, int, const wchar_t* text,
                          const char* location, int) {
  SinkLines().push_back(
      {level, eventCode, text == nullptr ? L"" : text, location == nullptr ? "" : location});
}

class LoggedLines {
 public:
  explicit LoggedLines(int level = 6) {
    DebugLogSettings settings;
    settings.defaultDebugLogLevel = level;
    settings.DebugLogLevel = level;
    settings.EventLogEnabled = false;
    settings.SysLogEnabled = false;
    EXPECT_TRUE(GetDebugLogger().Configure(settings, capture_.Take()));
    EXPECT_TRUE(GetDebugLogger().Start());
    while (!GetDebugLogger().IsActive()) std::this_thread::yield();
  }
  ~LoggedLines() { GetDebugLogger().Stop(); }
  LoggedLines(const LoggedLines&) = delete;
  LoggedLines& operator=(const LoggedLines&) = delete;

  // Stops the logger (so every line logged so far is written) and returns
  // the lines.
  std::vector<CapturedLine> Stop() {
    GetDebugLogger().Stop();
    return capture_[LogSlot::kDebugFile].Lines();
  }

 private:
  CaptureSet capture_;
};

// The lines whose text contains `part`.
inline std::vector<CapturedLine> LinesWith(const std::vector<CapturedLine>& lines,
                                           const std::wstring& part) {
  std::vector<CapturedLine> found;
  for (const CapturedLine& line : lines) {
    if (line.text.find(part) != std::wstring::npos) found.push_back(line);
  }
  return found;
}

// A port that was free a moment ago: connecting to it is refused.
inline int ClosedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

class ComDatabaseTest : public morvale::testing::DatabaseTest {
 protected:
  // Derived fixtures call this first and return when the test was skipped
  // or failed (IsSkipped() || HasFatalFailure()).
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    initialized_ = true;
  }
  void TearDown() override {
    if (initialized_) CoUninitialize();
  }
  bool ComReady() const { return initialized_; }

  // The suite database's connection string in the system's ADO form.
  static std::wstring AdoString() { return database().ado_connection_string(); }
  // Ends every other session on the suite's database, as a server restart
  // or an administrator would, and waits until they have ended.
  static void TerminateSessions() {
    std::string error;
    ASSERT_TRUE(database().Execute(
        "SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
        "WHERE datname = current_database() AND pid <> pg_backend_pid()",
        &error))
        << error;
  }

 private:
  bool initialized_ = false;
};
