// Conversions between narrow text in the ANSI code page (CP_ACP) and wide
// text, for the wide calls of platform/win32 that work on narrow system
// data (environment, host names, file names). Invalid input is replaced as
// MultiByteToWideChar and WideCharToMultiByte replace it; an empty input
// gives an empty result. Any thread may call these.
#pragma once

#include <string>
#include <string_view>

namespace win32_internal {

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

}  // namespace win32_internal
