// What the utility prints: printf-style output in the Windows dialect
// (platform/crt) to the console or the dump file, of any length, narrow
// text in the locale's code page.
//
// A wide text printed with "%S" goes through Showable first, so that a
// character the locale cannot show prints as '?' rather than losing the
// line.
//
// One thread.
#pragma once

#include <cstdio>
#include <string>

// Formats and writes to `out`; writes nothing when the formatter refuses
// the format or an argument.
void Print(std::FILE* out, const char* format, ...);

// `text` (null counts as empty) with every character the locale's code
// page cannot show replaced by '?'.
std::wstring Showable(const wchar_t* text);
