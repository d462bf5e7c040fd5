// Conversions between narrow text in a named code page and wide text, for
// callers that hold plain buffers or standard strings (registry paths and
// values, provider lists, file names). They go through the platform's
// MultiByteToWideChar / WideCharToMultiByte (platform/win32/codepage.h)
// without a default character; the string class (foundation/zev_string.h)
// has its own conversions with the process-wide code-page flag.
//
// Every temporary buffer that held converted text is wiped before it is
// freed. Pure functions; callable from any thread on buffers the caller
// owns (they set the thread's last error as the platform calls do).
#pragma once

#include <string>

// Converts the NUL-terminated `in` from `codePage` into `out`, which holds
// `outChars` wide characters, terminator included. Returns `out`, or null
// when a pointer is null, `outChars` is not positive or the conversion fails
// (the text does not fit, the code page is unknown); `out` then holds the
// empty text whenever it has room for it.
wchar_t* ConvertToWide(wchar_t* out, const char* in, int outChars,
                       int codePage);

// Converts the NUL-terminated `in` to `codePage` into `out`, which holds
// `outBytes` bytes, terminator included. Results as ConvertToWide.
char* ConvertToNarrow(char* out, const wchar_t* in, int outBytes,
                      int codePage);

// Converts the whole of `in` (embedded NULs included) from `codePage` (-1
// means CP_ACP); the result ends at its first NUL. An empty input or a
// failed conversion gives an empty string.
std::wstring ConvertToWideString(const std::string& in, int codePage);

// The mirror of ConvertToWideString.
std::string ConvertToNarrowString(const std::wstring& in, int codePage);

// `in` as far as `codePage` (-1: CP_ACP) can hold it: every character the
// code page has no byte for becomes '?', so that printing it as narrow text
// of that code page ("%S") cannot fail.
std::wstring ShowableInCodePage(const std::wstring& in, int codePage);

// The same two conversions under the names the registry code uses.
std::wstring ToWideString(const std::string& in, int codePage);
std::string ToNarrowString(const std::wstring& in, int codePage);
