// Small ASCII text helpers shared by this layer's parsers: keyword matching
// that ignores case, blank trimming and narrow/wide conversion of the
// environment's and the driver manager's UTF-8 text. Pure functions; any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace ado::text {

// ASCII letters folded to lower case; everything else unchanged.
std::wstring ToLower(std::wstring_view text);

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

// `text` without blanks, tabs, carriage returns and line feeds at both ends.
std::wstring_view Trim(std::wstring_view text);

// UTF-8 to one code point per wchar_t; a malformed sequence becomes U+FFFD.
std::wstring FromUtf8(std::string_view text);

}  // namespace ado::text
