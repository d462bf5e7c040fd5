#include "diagnostics/log_outputs.h"

#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/wait_for_tests.h"

#include "diagnostics/fake_log_clock_for_tests.h"
#include "diagnostics/log_files_for_tests.h"
#include "platform/eventlog/eventlog_directory_for_tests.h"
#include "platform/win32/thread.h"
#include "testing/registry_fixture.h"

namespace {


class StandardOutputs : public morvale::testing::RegistryTest {
 protected:
  StandardOutputs() {
    settings_.applicationName = L"Agent";
    settings_.debugFilePath = Wide(dir_ / "trace.txt");
    settings_.settingsKeyPath = L"Software\\Test\\Logging";
    logger_.SetClock(&clock_);
  }
  void Values(const std::string& values) {
    registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software\\Test\\Logging]\n" + values);
  }

  TempFolder dir_;
  ScopedEventLogDirectory events_;
  FakeLogClock clock_;
  DebugLogSettings settings_;
  DebugLogger logger_;
};

TEST_F(StandardOutputs, ALoggerConfiguredThroughTheRegistryWritesItsOutputs) {
  Values("\"DebugLogEncoding\"=dword:00000001\n\"EventLogLevel\"=dword:00000002\n");
  ASSERT_TRUE(logger_.Configure(settings_, StandardLogOutputs(&clock_)));
  ASSERT_TRUE(logger_.Start());
  logger_.Log(2, 0xAFFF4E5D, 77, L"caf\u00e9 warning", nullptr);
  logger_.Log(3, 0, 77, L"information", nullptr);
  logger_.Stop();

  const std::string file = ReadBytes(dir_ / "trace.txt");
  EXPECT_EQ(file.rfind("\xef\xbb\xbfUTF-8 encoded\r\n[30000] (01/31 09:15:02.517):{0x", 0), 0u);
  EXPECT_NE(file.find("Current Date: 2024/01/31\r\n"), std::string::npos);
  EXPECT_NE(file.find("[20061] (01/31 09:15:02.517):{0x4D} caf\xc3\xa9 warning\r\n"
                      "[30000] (01/31 09:15:02.517):{0x4D} information\r\n"
                      "====== END OF LOG ======\r\n"),
            std::string::npos);

  const std::vector<std::string> entries = events_.Lines();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].substr(entries[0].find('\t')), "\tAgent\tWarning\t0xAFFF4E5D\tcaf\xc3\xa9 warning");
}

// Eight threads log while the main thread changes the registry and moves the
// clock on, so that the logger re-reads its settings again and again.
TEST_F(StandardOutputs, EightThreadsLogWhileTheSettingsAreReRead) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 1500;
  settings_.EventLogEnabled = false;
  Values("\"EventLogEnabled\"=dword:00000000\n");
  ASSERT_TRUE(logger_.Configure(settings_, StandardLogOutputs(&clock_)));
  ASSERT_TRUE(logger_.Start());
  // The logger thread reads the clock when it starts: moving the clock on
  // before that would not count as time passed.
  ASSERT_TRUE(WaitFor([&] { return logger_.IsActive(); }));

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::wstring text = L"t" + std::to_wstring(t) + L" n" + std::to_wstring(i);
        logger_.Log(2, 0, 1000 + t, text.c_str(), nullptr);
      }
    });
  }
  for (int round = 1; round <= 6; ++round) {
    std::ostringstream values;
    values << "\"EventLogEnabled\"=dword:00000000\n"
           << "\"EventLogTimeThreshold\"=dword:" << std::hex << (100 + round) << "\n"
           << "\"DebugLogLevel\"=dword:0000000" << (round % 2 == 0 ? 3 : 4) << "\n"
           << "\"SysLogLevel\"=dword:0000000" << (round % 3) << "\n";
    Values(values.str());
    clock_.Advance(30001);
    ASSERT_TRUE(WaitFor([&] { return logger_.GetEventLogTimeThreshold() == 100 + round; }));
  }
  for (std::thread& t : threads) t.join();
  logger_.Stop();

  std::istringstream file(ReadBytes(dir_ / "trace.txt"));
  std::map<int, int> next;
  int records = 0;
  for (std::string line; std::getline(file, line);) {
    const std::size_t text = line.find("} t");
    if (text == std::string::npos) continue;
    int thread = 0, number = 0;
    ASSERT_EQ(std::sscanf(line.c_str() + text, "} t%d n%d", &thread, &number), 2) << line;
    ASSERT_EQ(number, next[thread]) << line;
    ++next[thread];
    ++records;
  }
  EXPECT_EQ(records, kThreads * kPerThread);
}

}  // namespace
