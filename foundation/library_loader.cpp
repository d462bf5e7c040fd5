#include "foundation/library_loader.h"

HMODULE LoadLibraryGuardedA(const char* fileName) { return LoadLibraryA(fileName); }

HMODULE LoadLibraryGuardedW(const wchar_t* fileName) { return LoadLibraryW(fileName); }
