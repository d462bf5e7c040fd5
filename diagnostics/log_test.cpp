#include "diagnostics/log.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/debug_logger.h"
#include "diagnostics/message_table.h"
#include "foundation/log_hook.h"
#include "platform/win32/thread.h"

namespace {

const char* UnreadablePage() {
  static void* page = mmap(nullptr, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), PROT_NONE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return static_cast<const char*>(page);
}

// The process-wide logger with captures in its four slots; started unless
// a test says otherwise, stopped after each test.
class LogEntryPoints : public ::testing::Test {
 protected:
  void Configure(const DebugLogSettings& settings) {
    ASSERT_TRUE(GetDebugLogger().Configure(settings, capture_.Take()));
  }
  void Start(const DebugLogSettings& settings = DebugLogSettings{}) {
    Configure(settings);
    ASSERT_TRUE(GetDebugLogger().Start());
    // The thread sets the active flag once its outputs are open.
    while (!GetDebugLogger().IsActive()) std::this_thread::yield();
  }
  // Stops the logger, so every line logged so far has reached the captures.
  std::vector<CapturedLine> Written() {
    GetDebugLogger().Stop();
    return capture_[LogSlot::kDebugFile].Lines();
  }
  void TearDown() override {
    GetDebugLogger().Stop();
    SetFoundationLogHooks(nullptr, nullptr);
  }

  CaptureSet capture_;
};

TEST_F(LogEntryPoints, CallsAreFormattedInTheWindowsDialect) {
  Start();
  std::int64_t big = -5000000000;
  LogEvent(2, 0xAFFF4E5D, LoadResString(20061), "PMDatabaseSQLImp::IsEmpty");
  LogMessage(3, "64-bit %I64d, 32-bit %ld, null %s", big, -1, static_cast<const char*>(nullptr));
  LogMessageW(3, L"wide %s and narrow %S", L"w\u00e9", "n");
  LogEventW(1, 0xEFFF2710, L"%d%%", 50);
  LogMessage(3, "%s", std::string(2000, 'x').c_str());

  std::vector<CapturedLine> lines = Written();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].text, L"PMDatabaseSQLImp::IsEmpty: unexpected exception caught");
  EXPECT_EQ(lines[0].eventCode, 0xAFFF4E5Du);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[1].text, L"64-bit -5000000000, 32-bit -1, null (null)");
  EXPECT_EQ(lines[1].eventCode, 0u);
  EXPECT_EQ(lines[2].text, L"wide w\u00e9 and narrow n");
  EXPECT_EQ(lines[3].text, L"50%");
  EXPECT_EQ(lines[4].text, std::wstring(1023, L'x'));
  for (const CapturedLine& line : lines) EXPECT_EQ(line.threadId, GetCurrentThreadId());
}

TEST_F(LogEntryPoints, BadArgumentGivesTheInvalidEntryReportInstead) {
  Start();
  const char* bad = UnreadablePage();
  LogEvent(2, 0xAFFF4E5D, "%s", bad);
  LogEventW(2, 0xAFFF4E5D, L"%d %s", 7, reinterpret_cast<const wchar_t*>(bad));
  LogMessage(3, "%d %n", 1, static_cast<int*>(nullptr));
  LogMessage(3, "%Z", 1);
  LogMessage(3, static_cast<const char*>(nullptr));

  std::vector<CapturedLine> lines = Written();
  ASSERT_EQ(lines.size(), 5u);
  for (const CapturedLine& line : lines) {
    EXPECT_EQ(line.level, 5);
    EXPECT_EQ(line.eventCode, 0u);
  }
  const std::wstring first =
      L"Invalid log entry - Level:2, EventId:20061(0xAFFF4E5D), Format:%s, User:<null>, "
      L"ArgCount:1, Args:arg[1](char*)=BAD_PTR(";
  EXPECT_EQ(lines[0].text.rfind(first, 0), 0u) << std::string(lines[0].text.begin(),
                                                              lines[0].text.end());
  EXPECT_NE(lines[1].text.find(L"Format:%d %s, User:<null>, ArgCount:2, Args:arg[1](int)=7 "
                               L"arg[2](wchar_t*)=BAD_PTR("),
            std::wstring::npos);
  EXPECT_EQ(lines[2].text,
            L"Invalid log entry - Level:3, EventId:0(0x00000000), Format:%d %n, User:<null>, "
            L"ArgCount:1, Args:arg[1](int)=1");
  EXPECT_NE(lines[3].text.find(L"Format:%Z, User:<null>, ArgCount:0, Args:"), std::wstring::npos);
  EXPECT_NE(lines[4].text.find(L"Format:<null>,"), std::wstring::npos);
}

TEST_F(LogEntryPoints, LevelTestComesBeforeEverythingAndFiveAlwaysPasses) {
  DebugLogSettings settings;
  settings.DebugLogLevel = settings.EventLogLevel = settings.SysLogLevel =
      settings.ConsoleLogLevel = 2;
  Start(settings);
  LogMessage(3, "dropped %s", UnreadablePage());  // filtered before the argument test
  LogMessage(5, "diagnostic");
  LogMessage(2, "warning");

  std::vector<std::wstring> texts;
  for (const CapturedLine& line : Written()) texts.push_back(line.text);
  EXPECT_EQ(texts, (std::vector<std::wstring>{L"diagnostic", L"warning"}));
}

TEST_F(LogEntryPoints, InactiveLoggerQueuesOnlyTheDirectCalls) {
  Configure(DebugLogSettings{});
  LogMessage(2, "not queued");
  LogMessageW(2, L"not queued");
  LogMessage(2, "%s", UnreadablePage());  // no report either
  EXPECT_EQ(GetDebugLogger().QueueLength(), 0);
  LogMessageDirectW(3, L"queued %d", 1);
  EXPECT_EQ(ReportEnvironmentLine(3, L"[ENV] 100% sure %s", "ReportEnvironment::Test", 1), 1);
  EXPECT_EQ(ReportEnvironmentLine(3, nullptr, "ReportEnvironment::Test", 2), 0);
  EXPECT_EQ(GetDebugLogger().QueueLength(), 2);

  ASSERT_TRUE(GetDebugLogger().Start());
  std::vector<std::wstring> texts;
  for (const CapturedLine& line : Written()) texts.push_back(line.text);
  EXPECT_EQ(texts, (std::vector<std::wstring>{L"queued 1", L"[ENV] 100% sure %s"}));
}

TEST_F(LogEntryPoints, LogTextLogsItsTextAsItStands) {
  Start();
  const wchar_t* text = L"50% done: %s %n %d";
  EXPECT_EQ(LogTextW(2, 0xAFFF4E5D, nullptr, nullptr, text), text);
  EXPECT_EQ(LogTextW(2, 0, nullptr, nullptr, L""), nullptr);
  EXPECT_EQ(LogTextW(2, 0, nullptr, nullptr, nullptr), nullptr);

  std::vector<CapturedLine> lines = Written();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, text);
  EXPECT_EQ(lines[0].eventCode, 0xAFFF4E5Du);
}

TEST_F(LogEntryPoints, FormatCheckedAlwaysLeavesATerminatedBuffer) {
  Start();
  wchar_t buffer[8];
  EXPECT_EQ(FormatCheckedW(buffer, 8, L"%d-%s", 12, L"ab"), 5);
  EXPECT_STREQ(buffer, L"12-ab");

  EXPECT_EQ(FormatCheckedW(buffer, 8, L"%s", L"0123456789"), -1);
  EXPECT_STREQ(buffer, L"0123456");

  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(FormatCheckedW(buffer, 8, L"%s", reinterpret_cast<const wchar_t*>(UnreadablePage())),
            -1);
  EXPECT_STREQ(buffer, L"");

  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(FormatCheckedW(buffer, 1, L"abc"), -1);
  EXPECT_EQ(buffer[0], L'\0');
  EXPECT_EQ(FormatCheckedW(nullptr, 8, L"abc"), -1);
  EXPECT_EQ(FormatCheckedW(buffer, 0, L"abc"), -1);

  std::vector<CapturedLine> lines = Written();
  ASSERT_EQ(lines.size(), 1u);  // the report of the unreadable text
  EXPECT_EQ(lines[0].text.rfind(L"Invalid log entry - Level:3,", 0), 0u);
}

TEST_F(LogEntryPoints, FoundationLinesGoThroughTheEntryPoints) {
  Start();
  FoundationLogMessage(3, "before the hooks");
  InstallFoundationLogHooks();
  FoundationLogMessage(3, "narrow %d", 1);
  FoundationLogMessageW(3, L"wide %s", L"two");
  FoundationLogEvent(2, 0xAFFF4E5D, "event %s", "three");
  FoundationLogMessage(3, "%s", UnreadablePage());

  std::vector<CapturedLine> lines = Written();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, L"narrow 1");
  EXPECT_EQ(lines[1].text, L"wide two");
  EXPECT_EQ(lines[2].text, L"event three");
  EXPECT_EQ(lines[2].eventCode, 0xAFFF4E5Du);
  EXPECT_EQ(lines[3].level, 5);
}

TEST(EventCodes, LinesShowTheMessageNumberOrTheLevel) {
  EXPECT_EQ(MessageNumber(0xAFFF4E5D), 20061u);
  EXPECT_EQ(DisplayedLogCode(0xAFFF4E5D, 2), 20061u);
  EXPECT_EQ(DisplayedLogCode(0, 2), 20000u);
  EXPECT_EQ(DisplayedLogCode(0, 0), 0u);
  EXPECT_EQ(kEventWarning + 20061, 0xAFFF4E5Du);
}

TEST(ThrottleLogLevel, DueOncePerInterval) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_EQ(ThrottleLogLevel(nullptr, 2, 6, 0), 2);

  std::int64_t last = 0;
  EXPECT_EQ(ThrottleLogLevel(&last, 2, 6, 0), 2);
  EXPECT_GE(last, now);
  EXPECT_EQ(ThrottleLogLevel(&last, 2, 6, 0), 6);

  last = now - 30;  // within the logger's 60 seconds, not within 10
  EXPECT_EQ(ThrottleLogLevel(&last, 2, 6, 0), 6);
  EXPECT_EQ(ThrottleLogLevel(&last, 2, 6, 10), 2);
}

TEST(ThrottleLogLevel, OneWinnerAmongEightRacingThreads) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    std::int64_t last = 0;
    std::atomic<int> ready{0};
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) {
        }
        if (ThrottleLogLevel(&last, 2, 6, 60) == 2) winners.fetch_add(1);
      });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(winners.load(), 1) << "round " << round;
  }
}

}  // namespace
