// Conversions between narrow text in the ANSI code page (CP_ACP) and wide
// text, for the wide calls of platform/win32 that work on narrow system
// data (environment, host names, file names). Invalid input is replaced as
// MultiByteToWideChar and WideCharToMultiByte replace it; an empty input
// gives an empty result. Also the case folding of names that every process
// must agree on (registry key and value names, address-book keys). Any
// thread may call these.
#pragma once

#include <string>
#include <string_view>

namespace win32_internal {

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

// Folds the case of every character by the C.UTF-8 locale, whatever the
// process's own locale is, so that two processes never disagree on which
// names are the same; without that locale only ASCII letters fold.
enum class Fold { kUpper, kLower };
std::wstring FoldCase(std::wstring_view text, Fold to);

}  // namespace win32_internal
