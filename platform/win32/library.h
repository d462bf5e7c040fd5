// Loading libraries at run time, over dlopen/dlsym, and the file names of
// loaded modules.
//
// LoadLibraryA/W load the named shared object as dlopen finds it (a path, or
// a bare name searched the loader's way); no suffix is added or changed. The
// wide form converts the name with the ANSI code page. Each successful load
// must be matched by FreeLibrary; a library stays loaded until the last.
// Failures: a load that fails gives null with ERROR_MOD_NOT_FOUND, an export
// that is missing (or asked for by ordinal) null with ERROR_PROC_NOT_FOUND,
// a null name ERROR_INVALID_PARAMETER, a null module ERROR_INVALID_HANDLE.
//
// GetModuleHandleW finds a library that is already loaded (by the name it
// was loaded with, as dlopen matches it) without loading it or adding a
// reference; a null name means the program itself. GetModuleFileNameW gives
// a module's file (the program's: its /proc/self/exe target; a library's:
// the path the loader opened it by). A buffer too small takes size - 1
// characters and a terminator, and the call returns size with
// ERROR_INSUFFICIENT_BUFFER. Names convert with the ANSI code page.
//
// Thread safety: any thread may call these.
#pragma once

#include "platform/win32/types.h"

HMODULE LoadLibraryA(const char* fileName);
HMODULE LoadLibraryW(const wchar_t* fileName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);
HMODULE GetModuleHandleW(const wchar_t* moduleName);
// The length copied without its terminator; 0 on failure
// (ERROR_MOD_NOT_FOUND when the file cannot be found).
DWORD GetModuleFileNameW(HMODULE module, wchar_t* fileName, DWORD size);
