#include "diagnostics/debug_logger.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/wait_for_tests.h"

#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/fake_log_clock_for_tests.h"
#include "platform/win32/thread.h"
#include "testing/registry_fixture.h"

namespace {

const std::wstring kExceeded =
    L"[DIAG] EVENT=DebugLog_Max_Event_Queue_Exceeded, EVENTMSG=\"Dropping messages except for "
    L"log file\"";
const std::wstring kWarning =
    L"[DIAG] EVENT=DebugLog_Max_Event_Queue_Threshold_Warning, EVENTMSG=\"Event queue has "
    L"exceeded 75%\"";
const std::wstring kEnabled =
    L"[DIAG] EVENT=DebugLog_Max_Event_Queue_Threshold_Enabled, EVENTMSG=\"Event queue has "
    L"dropped below 50%, re-enabling all logging.\"";

std::vector<int> Levels(const CaptureOutput& output) {
  std::vector<int> levels;
  for (const CapturedLine& line : output.Lines()) levels.push_back(line.level);
  return levels;
}


TEST(DebugLogger, EachSlotGetsTheLevelsItsSwitchAndThresholdLetThrough) {
  DebugLogger logger;
  CaptureSet capture;
  DebugLogSettings settings;  // thresholds 3/2/2/3
  settings.ConsoleLogEnabled = true;
  settings.SysLogEnabled = false;
  ASSERT_TRUE(logger.Configure(settings, capture.Take()));

  for (int level = 0; level <= 6; ++level) {
    int queued = logger.Log(level, 0, 0, L"line", nullptr);
    EXPECT_EQ(queued, level == 4 || level == 6 ? 0 : 1) << level;
  }
  EXPECT_FALSE(logger.IsActive());
  ASSERT_TRUE(logger.Start());
  logger.Stop();

  EXPECT_EQ(Levels(capture[LogSlot::kEventLog]), (std::vector<int>{0, 1, 2, 5}));
  EXPECT_EQ(Levels(capture[LogSlot::kConsole]), (std::vector<int>{0, 1, 2, 3, 5}));
  EXPECT_TRUE(capture[LogSlot::kSyslog].Lines().empty());
  EXPECT_EQ(Levels(capture[LogSlot::kDebugFile]), (std::vector<int>{0, 1, 2, 3, 5}));
  EXPECT_TRUE(logger.IsLevelEnabled(3));
  EXPECT_FALSE(logger.IsLevelEnabled(4));
  EXPECT_TRUE(logger.IsLevelEnabled(5));
}

TEST(DebugLogger, ConfigureIsRefusedWhileRunning) {
  DebugLogger logger;
  CaptureSet capture;
  ASSERT_TRUE(logger.Configure(DebugLogSettings{}, capture.Take()));
  ASSERT_TRUE(logger.Start());
  ASSERT_TRUE(WaitFor([&] { return logger.IsActive(); }));
  CaptureSet other;
  EXPECT_FALSE(logger.Configure(DebugLogSettings{}, other.Take()));
  logger.Stop();
  EXPECT_FALSE(logger.IsActive());
  EXPECT_EQ(capture[LogSlot::kDebugFile].Opens(), 1);
  EXPECT_EQ(capture[LogSlot::kDebugFile].Closes(), 1);
  EXPECT_EQ(capture[LogSlot::kConsole].Opens(), 0);  // switched off by default
}

TEST(DebugLogger, RecordKeepsItsTextWithoutTrailingWhiteSpaceAndItsThread) {
  DebugLogger logger;
  CaptureSet capture;
  ASSERT_TRUE(logger.Configure(DebugLogSettings{}, capture.Take()));
  logger.Log(2, 0xAFFF4E5D, 0, L"  text with blanks \t\r\n \n", nullptr);
  logger.Log(2, 0, 1234, L"other thread", L"user");
  ASSERT_TRUE(logger.Start());
  logger.Stop();

  std::vector<CapturedLine> lines = capture[LogSlot::kDebugFile].Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, L"  text with blanks");
  EXPECT_EQ(lines[0].eventCode, 0xAFFF4E5Du);
  EXPECT_EQ(lines[0].threadId, GetCurrentThreadId());
  EXPECT_EQ(lines[0].user, L"");
  EXPECT_EQ(lines[1].threadId, 1234u);
  EXPECT_EQ(lines[1].user, L"user");
}

// The queue is filled before the thread starts, so every pop sees a known
// number of records left.
TEST(DebugLogger, QueueRulesWithALimitOf100) {
  struct Case {
    int queued;
    std::vector<std::wstring> diagnostics;  // in the order written
    int reachingAllOutputs;                 // records the console gets
  };
  const Case cases[] = {
      {150, {kExceeded, kWarning, kEnabled}, 50},  // full from 149 left to 50 left
      {102, {kExceeded, kWarning, kEnabled}, 50},  // 101 left is over the limit
      {101, {kWarning}, 101},                      // 100 left is not
      {77, {kWarning}, 77},                        // 76 left is over 75 %
      {76, {}, 76},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.queued);
    DebugLogger logger;
    CaptureSet capture;
    DebugLogSettings settings;
    settings.ConsoleLogEnabled = true;
    settings.maxQueueLength = 100;
    ASSERT_TRUE(logger.Configure(settings, capture.Take()));
    for (int i = 1; i <= c.queued; ++i) {
      logger.Log(2, 0, 0, (L"r" + std::to_wstring(i)).c_str(), L"u");
    }
    ASSERT_TRUE(logger.Start());
    logger.Stop();

    std::vector<std::wstring> diagnostics;
    int records = 0;
    for (const CapturedLine& line : capture[LogSlot::kConsole].Lines()) {
      if (line.text[0] == L'r') {
        ++records;
        EXPECT_EQ(line.user, L"u");
      } else {
        diagnostics.push_back(line.text);
        EXPECT_EQ(line.eventCode, 0u);
        EXPECT_NE(line.threadId, GetCurrentThreadId());
        EXPECT_EQ(line.level, line.text == kExceeded ? 0 : 1);
      }
    }
    EXPECT_EQ(diagnostics, c.diagnostics);
    EXPECT_EQ(records, c.reachingAllOutputs);
    // The last records reached every output.
    EXPECT_EQ(capture[LogSlot::kConsole].Texts().back(), L"r" + std::to_wstring(c.queued));

    // The debug file got every record; while full, without the user text.
    std::vector<CapturedLine> file = capture[LogSlot::kDebugFile].Lines();
    ASSERT_EQ(file.size(), c.queued + c.diagnostics.size());
    int fileOnly = c.queued - c.reachingAllOutputs;
    int seen = 0;
    for (const CapturedLine& line : file) {
      if (line.text[0] != L'r') continue;
      ++seen;
      EXPECT_EQ(line.text, L"r" + std::to_wstring(seen));
      EXPECT_EQ(line.user, seen <= fileOnly ? L"" : L"u") << seen;
    }
    EXPECT_EQ(seen, c.queued);
  }
}

TEST(DebugLogger, QueueRulesHoldForTheLargestLimit) {
  DebugLogger logger;
  CaptureSet capture;
  DebugLogSettings settings;
  settings.maxQueueLength = std::numeric_limits<int>::max();
  ASSERT_TRUE(logger.Configure(settings, capture.Take()));
  for (int i = 0; i < 3; ++i) logger.Log(2, 0, 0, L"r", nullptr);
  ASSERT_TRUE(logger.Start());
  logger.Stop();
  EXPECT_EQ(capture[LogSlot::kDebugFile].Texts(), (std::vector<std::wstring>{L"r", L"r", L"r"}));
}

TEST(DebugLogger, StopWritesEveryRecordQueuedBeforeIt) {
  DebugLogger logger;
  CaptureSet capture;
  ASSERT_TRUE(logger.Configure(DebugLogSettings{}, capture.Take()));
  ASSERT_TRUE(logger.Start());
  for (int i = 0; i < 1000; ++i) logger.Log(3, 0, 0, std::to_wstring(i).c_str(), nullptr);
  logger.Stop();

  std::vector<std::wstring> texts = capture[LogSlot::kDebugFile].Texts();
  ASSERT_EQ(texts.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(texts[i], std::to_wstring(i));
  EXPECT_EQ(logger.QueueLength(), 0);

  // A record queued after the stop waits for the next start (or is freed
  // by the destructor).
  EXPECT_EQ(logger.Log(3, 0, 0, L"late", nullptr), 1);
  EXPECT_EQ(logger.QueueLength(), 1);
  ASSERT_TRUE(logger.Start());
  logger.Stop();
  EXPECT_EQ(capture[LogSlot::kDebugFile].Texts().back(), L"late");
  logger.Log(3, 0, 0, L"freed by the destructor", nullptr);
}

TEST(DebugLogger, EightProducersLoseAndCorruptNothing) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 3000;
  DebugLogger logger;
  CaptureSet capture;
  ASSERT_TRUE(logger.Configure(DebugLogSettings{}, capture.Take()));
  ASSERT_TRUE(logger.Start());
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&logger, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::wstring text = L"producer " + std::to_wstring(t) + L" line " + std::to_wstring(i);
        logger.Log(3, 0, 100 + t, text.c_str(), nullptr);
      }
    });
  }
  for (std::thread& producer : producers) producer.join();
  logger.Stop();

  std::vector<int> next(kThreads, 0);
  for (const CapturedLine& line : capture[LogSlot::kDebugFile].Lines()) {
    int t = static_cast<int>(line.threadId) - 100;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    ASSERT_EQ(line.text, L"producer " + std::to_wstring(t) + L" line " + std::to_wstring(next[t]));
    ++next[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kPerThread) << t;
}

TEST(DebugLogger, OutputThatThrowsGivesTheExceptionLineAndTheThreadGoesOn) {
  DebugLogger logger;
  CaptureSet capture;
  DebugLogSettings settings;
  settings.ConsoleLogEnabled = true;
  DebugLogOutputs outputs = capture.Take();
  capture[LogSlot::kConsole].ThrowOn(L"boom");
  ASSERT_TRUE(logger.Configure(settings, std::move(outputs)));
  logger.Log(2, 0, 0, L"boom", nullptr);
  logger.Log(2, 0, 0, L"after", nullptr);
  ASSERT_TRUE(logger.Start());
  logger.Stop();

  const std::wstring exception =
      L"[DIAG] EVENT=DebugLog_Exception, EVENTMSG=\"DebugLog thread exception handled.\"";
  EXPECT_EQ(capture[LogSlot::kEventLog].Texts(),
            (std::vector<std::wstring>{L"boom", exception, L"after"}));
  EXPECT_EQ(capture[LogSlot::kDebugFile].Texts(),
            (std::vector<std::wstring>{exception, L"after"}));
  EXPECT_EQ(capture[LogSlot::kDebugFile].Lines()[0].level, 1);
}

class DebugLoggerSettings : public morvale::testing::RegistryTest {
 protected:
  // Starts a logger that reads Software\Test\Logging (missing at first),
  // writes `values` there and moves the clock past the re-read interval.
  void Start(DebugLogSettings settings, const char* values = nullptr) {
    settings.settingsKeyPath = L"Software\\Test\\Logging";
    ASSERT_TRUE(logger_.Configure(settings, capture_.Take()));
    logger_.SetClock(&clock_);
    ASSERT_TRUE(logger_.Start());
    ASSERT_TRUE(WaitFor([&] { return logger_.IsActive(); }));
    if (values != nullptr) {
      registry_.WriteRoot("HKLM", std::string("[HKEY_LOCAL_MACHINE\\Software\\Test\\Logging]\n") +
                                      values);
    }
    clock_.Advance(30001);
  }
  DebugLogSettings WaitForRead() {
    CaptureOutput& file = capture_[LogSlot::kDebugFile];
    EXPECT_TRUE(WaitFor([&] { return !file.Applied().empty(); }));
    return file.Applied().empty() ? DebugLogSettings{} : file.Applied().back();
  }

  FakeLogClock clock_;
  DebugLogger logger_;
  CaptureSet capture_;
};

// Each line written queues the next, so the queue is never empty when the
// logger thread looks: the settings are re-read all the same.
TEST_F(DebugLoggerSettings, AreReReadWhileCallersNeverStopLogging) {
  DebugLogSettings settings;
  settings.debugFilePath = L"trace.txt";
  settings.defaultDebugLogLevel = 4;
  Start(settings);
  std::atomic<bool> feeding{true};
  capture_[LogSlot::kDebugFile].OnWrite([&] {
    if (feeding) logger_.Log(2, 0, 1, L"again", nullptr);
  });
  logger_.Log(2, 0, 1, L"first", nullptr);
  // The settings change only once the feeding runs, so the re-read below
  // happens while the queue is busy.
  EXPECT_TRUE(WaitFor([&] { return capture_[LogSlot::kDebugFile].Lines().size() > 1; }));
  registry_.WriteRoot("HKLM",
                      "[HKEY_LOCAL_MACHINE\\Software\\Test\\Logging]\n"
                      "\"EventLogTimeThreshold\"=dword:00000007\n");
  clock_.Advance(30001);
  EXPECT_TRUE(WaitFor([&] { return logger_.GetEventLogTimeThreshold() == 7; }));
  feeding = false;
  logger_.Stop();
}

TEST_F(DebugLoggerSettings, ValuesAreReadWithTheirRangesAndDefaults) {
  const char* values =
      "\"DebugLogLevel\"=dword:00000010\n"
      "\"EventLogLevel\"=dword:00000004\n"
      "\"SysLogLevel\"=dword:00000001\n"
      "\"DebugLogEnabled\"=dword:00000000\n"
      "\"EventLogTimeThreshold\"=dword:00000005\n"
      "\"DebugLogEncoding\"=dword:00000002\n";
  DebugLogSettings settings;
  settings.debugFilePath = L"trace.txt";
  settings.defaultDebugLogLevel = 4;
  settings.ConsoleLogEnabled = true;
  settings.ConsoleLogLevel = 6;
  Start(settings, values);
  DebugLogSettings read = WaitForRead();

  EXPECT_EQ(read.DebugLogLevel, 4);  // 16 is out of range
  EXPECT_EQ(read.EventLogLevel, 4);
  EXPECT_EQ(read.SysLogLevel, 1);
  EXPECT_EQ(read.ConsoleLogLevel, 3);
  EXPECT_FALSE(read.ConsoleLogEnabled);  // no ConsoleLogLevel value
  EXPECT_FALSE(read.DebugLogEnabled);
  EXPECT_FALSE(read.SysLogEnabled);  // no syslog servers
  EXPECT_TRUE(read.EventLogEnabled);
  EXPECT_EQ(read.DebugLogEncoding, 2);
  EXPECT_EQ(logger_.GetEventLogTimeThreshold(), 5);
  EXPECT_TRUE(logger_.IsLevelEnabled(4));
  EXPECT_FALSE(logger_.IsLevelEnabled(6));

  // Switching off closed the debug file and the console.
  EXPECT_EQ(capture_[LogSlot::kDebugFile].Closes(), 1);
  EXPECT_EQ(capture_[LogSlot::kConsole].Closes(), 1);
  logger_.Log(4, 0, 0, L"detail", nullptr);
  logger_.Stop();
  EXPECT_EQ(capture_[LogSlot::kEventLog].Texts(), std::vector<std::wstring>{L"detail"});
  EXPECT_TRUE(capture_[LogSlot::kDebugFile].Lines().empty());
  EXPECT_TRUE(capture_[LogSlot::kConsole].Lines().empty());
}

TEST_F(DebugLoggerSettings, ConsoleSwitchValueKeepsTheConsoleOnWithoutALevel) {
  Start(DebugLogSettings{}, "\"ConsoleLogEnabled\"=dword:00000001\n");
  DebugLogSettings read = WaitForRead();
  EXPECT_TRUE(read.ConsoleLogEnabled);
  EXPECT_EQ(read.ConsoleLogLevel, 3);
  logger_.Stop();
  EXPECT_EQ(capture_[LogSlot::kConsole].Opens(), 1);
}

TEST_F(DebugLoggerSettings, ConsoleSwitchValueTurnsOffTheConsoleAValidLevelTurnedOn) {
  DebugLogSettings settings;
  settings.ConsoleLogEnabled = true;
  Start(settings,
        "\"ConsoleLogLevel\"=dword:00000005\n"
        "\"ConsoleLogEnabled\"=dword:00000000\n");
  DebugLogSettings read = WaitForRead();
  EXPECT_FALSE(read.ConsoleLogEnabled);
  EXPECT_EQ(read.ConsoleLogLevel, 5);
  logger_.Stop();
  EXPECT_EQ(capture_[LogSlot::kConsole].Closes(), 1);
}

TEST_F(DebugLoggerSettings, MissingKeyChangesNothing) {
  DebugLogSettings settings;
  settings.ConsoleLogEnabled = true;
  settings.DebugLogLevel = 7;
  Start(settings);
  // Two more passes: the second begins after a settings check that saw the
  // clock past the interval.
  CaptureOutput& file = capture_[LogSlot::kDebugFile];
  const int polls = file.Polls();
  ASSERT_TRUE(WaitFor([&] { return file.Polls() >= polls + 2; }));
  logger_.Stop();
  EXPECT_TRUE(capture_[LogSlot::kDebugFile].Applied().empty());
  EXPECT_TRUE(logger_.IsLevelEnabled(7));
}

TEST_F(DebugLoggerSettings, ConfigureTakesTheRegistryValuesAtOnce) {
  registry_.WriteRoot("HKLM",
                      "[HKEY_LOCAL_MACHINE\\Software\\Test\\Logging]\n"
                      "\"ConsoleLogLevel\"=dword:00000004\n"
                      "\"DebugLogEncoding\"=dword:00000001\n"
                      "\"EventLogEnabled\"=dword:00000000\n");
  DebugLogSettings settings;
  settings.settingsKeyPath = L"Software\\Test\\Logging";
  settings.rereadSettings = false;
  ASSERT_TRUE(logger_.Configure(settings, capture_.Take()));
  EXPECT_TRUE(logger_.IsLevelEnabled(4));
  ASSERT_TRUE(logger_.Start());
  logger_.Log(4, 0, 0, L"detail", nullptr);
  logger_.Stop();
  EXPECT_EQ(capture_[LogSlot::kConsole].Opens(), 1);
  EXPECT_EQ(capture_[LogSlot::kEventLog].Opens(), 0);
  EXPECT_EQ(capture_[LogSlot::kConsole].Texts(), std::vector<std::wstring>{L"detail"});
  EXPECT_TRUE(capture_[LogSlot::kDebugFile].Applied().empty());  // no re-read
}

}  // namespace
