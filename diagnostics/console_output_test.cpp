#include "diagnostics/console_output.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/codepage.h"

namespace {

const SYSTEMTIME kTime{2024, 1, 3, 31, 9, 15, 2, 517};

std::string Written(std::FILE* stream) {
  std::string text;
  std::rewind(stream);
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) text += static_cast<char>(c);
  return text;
}

TEST(ConsoleOutput, LinesShowCodeTimeThreadAndNarrowText) {
  struct Case {
    UINT codePage;
    LogLine line;
    std::string printed;
  };
  const Case cases[] = {
      {CP_UTF8, {kTime, 0x1F4, 0, 0, L"error", L""}, "[00000] (09:15:02.517):{0x01F4} error\n"},
      {CP_UTF8, {kTime, 0xABCDE, 2, 0xAFFF4E5D, L"caf\u00e9", L"user"},
       "[20061] (09:15:02.517):{0xABCDE} caf\xc3\xa9\n"},
      {20127, {kTime, 7, 3, 0, L"caf\u00e9", L""}, "[30000] (09:15:02.517):{0x0007} caf?\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    SetAnsiCodePageForTesting(c.codePage);
    std::FILE* stream = std::tmpfile();
    ConsoleOutput out(stream);
    EXPECT_TRUE(out.Write(c.line));
    EXPECT_EQ(Written(stream), c.printed);
    std::fclose(stream);
  }
  SetAnsiCodePageForTesting(0);
}

TEST(ConsoleOutput, ALongLineIsCutAndStillEndsTheLine) {
  std::FILE* stream = std::tmpfile();
  ConsoleOutput out(stream);
  const std::wstring text(2000, L'x');
  EXPECT_TRUE(out.Write(LogLine{kTime, 1, 2, 0, text.c_str(), L""}));
  const std::string printed = Written(stream);
  std::fclose(stream);
  EXPECT_EQ(printed.size(), 1024u);
  EXPECT_EQ(printed.back(), '\n');
  EXPECT_EQ(printed.find('\n'), 1023u);
}

}  // namespace
