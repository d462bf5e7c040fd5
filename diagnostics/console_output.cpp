#include "diagnostics/console_output.h"

#include <string>

#include "diagnostics/log.h"
#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

constexpr int kLineLimit = 1024;

}  // namespace

bool ConsoleOutput::WriteConsoleLine(const LogLine& line) {
  wchar_t text[kLineLimit + 1];
  const SYSTEMTIME& t = line.time;
  int length = crt::snwprintf(text, kLineLimit - 1, L"[%05lu] (%02d:%02d:%02d.%03d):{0x%04X} %s\n",
                              DisplayedLogCode(line.eventCode, line.level), t.wHour, t.wMinute,
                              t.wSecond, t.wMilliseconds, line.threadId, line.text);
  if (length < 0) {
    if (text[0] == L'\0') return false;
    // Cut: the line still ends with its line feed.
    length = kLineLimit;
    text[kLineLimit - 1] = L'\n';
  }
  const std::string narrow = ConvertToNarrowString(std::wstring(text, length), CP_ACP);
  if (narrow.empty()) return false;
  const bool written = std::fwrite(narrow.data(), 1, narrow.size(), stream_) == narrow.size();
  return std::fflush(stream_) == 0 && written;
}
