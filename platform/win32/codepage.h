// Code pages: conversions between narrow text in a code page and wide text,
// and the process's ANSI code page.
//
// Wide text is UTF-32 here (one code point per wchar_t); narrow text is in
// the code page named by the caller. The conversions follow the rules of the
// system's home platform:
//   - an input length of -1 means a NUL-terminated input, and the count then
//     includes the terminator; an explicit length converts exactly that many
//     units and adds no terminator;
//   - an output size of 0 asks for the size and writes nothing;
//   - an output that is too small fails with ERROR_INSUFFICIENT_BUFFER (the
//     output is then left unchanged);
//   - invalid input fails with ERROR_NO_UNICODE_TRANSLATION under
//     MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS, and is otherwise replaced
//     (U+FFFD on the wide side, the default character, '?' unless given, on
//     the narrow side);
//   - an unknown code page, a bad pointer or length fails with
//     ERROR_INVALID_PARAMETER, flags the code page does not take with
//     ERROR_INVALID_FLAGS.
// Every call returns 0 on failure and sets the thread's last error.
//
// Code page 1252 keeps its five undefined bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) as the control characters of the same value, so all 256 bytes go to
// wide text and back unchanged. Other code pages are those iconv knows under
// their usual names (single-byte CP 437..1258, ISO-8859-x as 2859x, KOI8,
// the East-Asian double-byte pages, GB18030, UTF-7, UTF-8).
//
// GetACP() reports the code page of the process's locale (LC_CTYPE): UTF-8 is
// 65001, ANSI_X3.4-1968 (the C locale) 20127, ISO-8859-1 28591, CP1252 1252;
// a code set it cannot name is taken as UTF-8. CP_ACP and CP_THREAD_ACP mean
// that code page.
//
// Thread safety: every function may be called from any thread.
// SetAnsiCodePageForTesting takes effect for all threads at once.
#pragma once

#include "platform/win32/types.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_THREAD_ACP = 3;
inline constexpr UINT CP_UTF7 = 65000;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD MB_PRECOMPOSED = 0x00000001;
inline constexpr DWORD MB_USEGLYPHCHARS = 0x00000004;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;

// The composite-check flags are accepted and change nothing: wide text here
// is converted as it stands.
inline constexpr DWORD WC_DISCARDNS = 0x00000010;
inline constexpr DWORD WC_SEPCHARS = 0x00000020;
inline constexpr DWORD WC_DEFAULTCHAR = 0x00000040;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
inline constexpr DWORD WC_COMPOSITECHECK = 0x00000200;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

// The ANSI code page of the process (see above), or the test override.
UINT GetACP();

// Makes GetACP() report `codePage` (0 returns to the locale's code page).
void SetAnsiCodePageForTesting(UINT codePage);

// Narrow text in `codePage` to wide text. Returns the number of wide
// characters written (or needed, when cchWideChar is 0); 0 on failure.
// Flags: MB_PRECOMPOSED, MB_USEGLYPHCHARS (no effect here) and
// MB_ERR_INVALID_CHARS; UTF-8 and UTF-7 take only MB_ERR_INVALID_CHARS.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte,
                        int cbMultiByte, wchar_t* wideChar, int cchWideChar);

// Wide text to narrow text in `codePage`. Returns the number of bytes
// written (or needed, when cbMultiByte is 0); 0 on failure. `defaultChar`
// (its first byte) replaces what the code page cannot show, and
// *usedDefaultChar tells whether that happened; both must be null for UTF-8
// and UTF-7, which take only the flag WC_ERR_INVALID_CHARS. Other code
// pages take the WC_ flags above except WC_ERR_INVALID_CHARS.
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wideChar,
                        int cchWideChar, char* multiByte, int cbMultiByte,
                        const char* defaultChar, BOOL* usedDefaultChar);
