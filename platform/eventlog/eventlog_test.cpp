#include "platform/eventlog/eventlog.h"

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/eventlog/eventlog_directory_for_tests.h"
#include "platform/win32/error.h"

namespace {

// Everything after the time stamp, which is checked on its own.
std::string AfterTime(const std::string& line) {
  const std::size_t tab = line.find('\t');
  return tab == std::string::npos ? line : line.substr(tab + 1);
}

TEST(EventLog, EachEntryIsOneLineWithTimeSourceTypeCodeAndText) {
  ScopedEventLogDirectory directory;
  HANDLE source = RegisterEventSourceW(nullptr, L"Agent");
  ASSERT_NE(source, nullptr);
  struct Case {
    WORD type;
    DWORD code;
    std::vector<const wchar_t*> strings;
    std::string fields;
  };
  const Case cases[] = {
      {EVENTLOG_ERROR_TYPE, 0xEFFF2710, {L"disk full"}, "Agent\tError\t0xEFFF2710\tdisk full"},
      {EVENTLOG_WARNING_TYPE, 0xAFFF4E5D, {L"caf\u00e9 \u4e00"},
       "Agent\tWarning\t0xAFFF4E5D\tcaf\xc3\xa9 \xe4\xb8\x80"},
      {EVENTLOG_INFORMATION_TYPE, 0x6FFF7530, {L"a\tb\r\nc\\d"},
       "Agent\tInformation\t0x6FFF7530\ta\\tb\\r\\nc\\\\d"},
      {EVENTLOG_SUCCESS, 1, {}, "Agent\tSuccess\t0x00000001\t"},
      {EVENTLOG_AUDIT_SUCCESS, 2, {L"one", L"two"}, "Agent\tAudit Success\t0x00000002\tone\ttwo"},
      {EVENTLOG_AUDIT_FAILURE, 3, {L""}, "Agent\tAudit Failure\t0x00000003\t"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(ReportEventW(source, c.type, 0, c.code, nullptr,
                             static_cast<WORD>(c.strings.size()), 0,
                             const_cast<const wchar_t**>(c.strings.data()), nullptr));
  }
  EXPECT_TRUE(DeregisterEventSource(source));

  std::vector<std::string> lines = directory.Lines();
  ASSERT_EQ(lines.size(), std::size(cases));
  const std::regex time(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\t)");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(std::regex_search(lines[i], time)) << lines[i];
    EXPECT_EQ(AfterTime(lines[i]), cases[i].fields);
  }
}

TEST(EventLog, RefusesWhatItCannotReport) {
  ScopedEventLogDirectory directory;
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(RegisterEventSourceW(L"\\\\other", L"Agent"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegisterEventSourceW(nullptr, nullptr), nullptr);
  EXPECT_FALSE(DeregisterEventSource(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  const wchar_t* text[] = {L"x"};
  EXPECT_FALSE(ReportEventW(nullptr, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, text, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE source = RegisterEventSourceW(L"", L"Agent");
  ASSERT_NE(source, nullptr);
  EXPECT_FALSE(ReportEventW(source, 3, 0, 1, nullptr, 1, 0, text, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  const wchar_t* missing[] = {nullptr};
  EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, missing, nullptr));
  EXPECT_TRUE(directory.Lines().empty());
  EXPECT_TRUE(DeregisterEventSource(source));
}

TEST(EventLog, CreatesItsDirectoryAndReportsOneItCannotOpen) {
  ScopedEventLogDirectory directory;
  const std::string nested = directory.path() + "/a/b";
  setenv("MORVALE_EVENTLOG_DIR", nested.c_str(), 1);
  HANDLE source = RegisterEventSourceW(nullptr, L"Agent");
  const wchar_t* text[] = {L"x"};
  EXPECT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, text, nullptr));
  EXPECT_EQ(unlink((nested + "/Application.log").c_str()), 0);
  EXPECT_EQ(rmdir(nested.c_str()), 0);
  EXPECT_EQ(rmdir((directory.path() + "/a").c_str()), 0);

  // A directory that is a file cannot hold the log.
  const std::string file = directory.path() + "/Application.log";
  setenv("MORVALE_EVENTLOG_DIR", (file + "/sub").c_str(), 1);
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, text, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(DeregisterEventSource(source));
  setenv("MORVALE_EVENTLOG_DIR", directory.path().c_str(), 1);
}

TEST(EventLog, EntriesOfManyThreadsStayWholeLines) {
  ScopedEventLogDirectory directory;
  HANDLE source = RegisterEventSourceW(nullptr, L"Agent");
  std::vector<std::thread> threads;
  const std::wstring text(300, L'x');
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      const wchar_t* strings[] = {text.c_str()};
      for (int i = 0; i < 50; ++i) {
        ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, 7, nullptr, 1, 0, strings, nullptr);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  DeregisterEventSource(source);
  std::vector<std::string> lines = directory.Lines();
  ASSERT_EQ(lines.size(), 200u);
  for (const std::string& line : lines) {
    EXPECT_EQ(AfterTime(line), "Agent\tWarning\t0x00000007\t" + std::string(300, 'x'));
  }
}

}  // namespace
