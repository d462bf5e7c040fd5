#include "diagnostics/event_log_output.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/registry.h"
#include "platform/eventlog/eventlog_directory_for_tests.h"
#include "testing/registry_fixture.h"

namespace {

const SYSTEMTIME kTime{2024, 1, 3, 31, 9, 15, 2, 517};
constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Agent";

// The entry's fields after its time stamp.
std::vector<std::string> Entries(const ScopedEventLogDirectory& directory) {
  std::vector<std::string> entries;
  for (const std::string& line : directory.Lines()) entries.push_back(line.substr(line.find('\t') + 1));
  return entries;
}

class EventLogOutputTest : public morvale::testing::RegistryTest {
 protected:
  EventLogOutputTest() { settings_.applicationName = L"Agent"; }
  ScopedEventLogDirectory events_;
  DebugLogSettings settings_;
};

TEST_F(EventLogOutputTest, RegistersTheSourceWithItsMessageFile) {
  EventLogOutput out;
  ASSERT_TRUE(out.Open(settings_));
  Registry key(kSourceKey, false, false);
  ASSERT_TRUE(key.Open(false));
  DWORD types = 0;
  EXPECT_TRUE(key.GetDWORDW(L"TypesSupported", &types));
  EXPECT_EQ(types, 7u);
  wchar_t file[512];
  ASSERT_TRUE(key.GetStringW(L"EventMessageFile", file, 512));
  char exe[512];
  const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(length, 0);
  EXPECT_EQ(std::wstring(file), std::wstring(exe, exe + length));
  EXPECT_TRUE(out.Close());
}

TEST_F(EventLogOutputTest, EachLevelsTypeAndCode) {
  EventLogOutput out;
  ASSERT_TRUE(out.Open(settings_));
  const struct {
    int level;
    unsigned code;
  } lines[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {4, 0xAFFF4E5D}, {2, 0xAFFF4E5D}, {0, 0x6FFF0001}};
  for (const auto& l : lines) {
    EXPECT_TRUE(out.Write(LogLine{kTime, 1, l.level, l.code, L"text", L""}));
  }
  out.Close();
  EXPECT_FALSE(out.Write(LogLine{kTime, 1, 0, 0, L"after close", L""}));
  const std::vector<std::string> expected = {
      "Agent\tError\t0xEFFF2710\ttext",       "Agent\tError\t0xEFFF2710\ttext",
      "Agent\tWarning\t0xAFFF4E20\ttext",     "Agent\tInformation\t0x6FFF7530\ttext",
      "Agent\tInformation\t0x6FFFC350\ttext", "Agent\tWarning\t0xAFFF4E5D\ttext",
      "Agent\tError\t0x6FFF0001\ttext",
  };
  EXPECT_EQ(Entries(events_), expected);
}

TEST_F(EventLogOutputTest, NoSourceWhileSwitchedOffOrWithoutAName) {
  DebugLogSettings off = settings_;
  off.EventLogEnabled = false;
  DebugLogSettings unnamed;
  for (const DebugLogSettings& s : {off, unnamed}) {
    EventLogOutput out;
    EXPECT_FALSE(out.Open(s));
    EXPECT_FALSE(out.Write(LogLine{kTime, 1, 0, 0, L"text", L""}));
  }
  Registry key(kSourceKey, false, false);
  EXPECT_FALSE(key.Open(false));
  EXPECT_TRUE(Entries(events_).empty());
}

}  // namespace
