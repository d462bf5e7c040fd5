#include "tool/console.h"

#include <cstdarg>

#include "foundation/string_conversion.h"
#include "foundation/string_util.h"
#include "platform/win32/codepage.h"

void Print(std::FILE* out, const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  const bool formatted = AppendFormatV(text, format, args);
  va_end(args);
  if (formatted) std::fwrite(text.data(), 1, text.size(), out);
}

std::wstring Showable(const wchar_t* text) { return ShowableInCodePage(text != nullptr ? text : L"", CP_ACP); }
