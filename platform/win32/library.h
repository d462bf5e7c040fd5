// Loading libraries at run time, over dlopen/dlsym.
//
// LoadLibraryA/W load the named shared object as dlopen finds it (a path, or
// a bare name searched the loader's way); no suffix is added or changed. The
// wide form converts the name with the ANSI code page. Each successful load
// must be matched by FreeLibrary; a library stays loaded until the last.
// Failures: a load that fails gives null with ERROR_MOD_NOT_FOUND, an export
// that is missing (or asked for by ordinal) null with ERROR_PROC_NOT_FOUND,
// a null name ERROR_INVALID_PARAMETER, a null module ERROR_INVALID_HANDLE.
//
// Thread safety: any thread may call these.
#pragma once

#include "platform/win32/types.h"

HMODULE LoadLibraryA(const char* fileName);
HMODULE LoadLibraryW(const wchar_t* fileName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);
