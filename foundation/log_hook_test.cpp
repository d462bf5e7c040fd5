#include "foundation/log_hook.h"

#include <gtest/gtest.h>

#include "foundation/log_capture_for_tests.h"

TEST(FoundationLogHook, CallsWithoutHooksDoNothing) {
  SetFoundationLogHooks(nullptr, nullptr);
  FoundationLogMessage(1, "%s", "dropped");
  FoundationLogMessageW(1, L"%s", L"dropped");
  FoundationLogEvent(2, 0xAFFF4E5Du, "%d", 1);
}

TEST(FoundationLogHook, ForwardsLevelCodeAndArgumentsToTheHooks) {
  LogCapture capture;
  FoundationLogMessage(1, "id=0x%X wide=%I64d", 0x2Au, int64_t{-5});
  FoundationLogEvent(2, 0xAFFF4E5Du, "name=%s", "abc");
  FoundationLogMessageW(3, L"name=\"%s\"", L"w\u00e9");
  std::vector<CapturedLogLine> lines = capture.Taken();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, 1);
  EXPECT_EQ(lines[0].eventCode, 0u);
  EXPECT_EQ(lines[0].text, "id=0x2A wide=-5");
  EXPECT_EQ(lines[1].level, 2);
  EXPECT_EQ(lines[1].eventCode, 0xAFFF4E5Du);
  EXPECT_EQ(lines[1].text, "name=abc");
  EXPECT_TRUE(lines[2].wide);
  EXPECT_EQ(lines[2].level, 3);
  EXPECT_EQ(lines[2].wtext, L"name=\"w\u00e9\"");
}

TEST(FoundationLogHook, RemovedHooksAreNoLongerCalled) {
  {
    LogCapture capture;
  }
  LogCapture capture;
  SetFoundationLogHooks(nullptr, nullptr);
  FoundationLogMessage(1, "gone");
  EXPECT_TRUE(capture.Taken().empty());
}
