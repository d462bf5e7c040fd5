// Text conversions of the messaging library: values are kept as UTF-8; the
// narrow calls speak the ANSI code page and the wide ones wchar_t (one code
// point each). Names are compared through a folded key. Internal to
// platform/mapi; pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace mapi_internal {

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromAnsi(std::string_view text);
std::string AnsiFromUtf8(std::string_view text);

// The key under which two names that differ only in case are the same: the
// text with every letter in its simple lower case (the same for every
// process, whatever its locale), as UTF-8.
std::string FoldedKey(std::string_view utf8);

// `text` without blanks (spaces and tabs) at both ends.
std::string_view TrimBlanks(std::string_view text);

}  // namespace mapi_internal
