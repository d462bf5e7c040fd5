// The system's entry points for loading a library at run time (the
// crypto-engine binding loads its library through them).
//
// Each returns the module handle, or null with the loader's error code
// (platform/win32/library.h). Any thread may call them.
#pragma once

#include "platform/win32/library.h"

HMODULE LoadLibraryGuardedA(const char* fileName);
HMODULE LoadLibraryGuardedW(const wchar_t* fileName);
