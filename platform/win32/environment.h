// The process environment seen through the calls of the system's home
// platform: reading a variable and expanding %NAME% references in a text.
//
// Names are matched as written first and then without regard to ASCII case,
// as the home platform's names are case-insensitive. The narrow calls work on
// the environment's bytes; the wide ones convert names and values with the
// ANSI code page (CP_ACP). Expansion replaces each %NAME% whose variable is
// set; a reference to an unset variable, an empty name ("%%") and a lone '%'
// stay as written, and the scan goes on after the reference's closing '%'.
//
// Thread safety: any thread may call these, as long as no thread changes the
// environment (setenv, putenv) at the same time.
#pragma once

#include "platform/win32/types.h"

// Expands `source` into `destination` (`size` characters). Returns the size
// of the expansion in characters including its terminator. When that is more
// than `size`, the expansion is cut to size - 1 characters and terminated
// (nothing is written when size is 0) and the full size is returned, so a
// caller can grow its buffer and try again. 0 with ERROR_INVALID_PARAMETER
// for a null source, or a null destination with a non-zero size.
DWORD ExpandEnvironmentStringsA(const char* source, char* destination, DWORD size);
DWORD ExpandEnvironmentStringsW(const wchar_t* source, wchar_t* destination, DWORD size);

// Copies the value of variable `name` into `buffer` (`size` characters) and
// returns its length without the terminator. When the value does not fit,
// returns the size it needs including the terminator and leaves the buffer
// unchanged. 0 with ERROR_ENVVAR_NOT_FOUND when the variable is not set;
// 0 with ERROR_SUCCESS for a set but empty variable; 0 with
// ERROR_INVALID_PARAMETER for a null name, or a null buffer with a non-zero
// size.
DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size);
DWORD GetEnvironmentVariableW(const wchar_t* name, wchar_t* buffer, DWORD size);
