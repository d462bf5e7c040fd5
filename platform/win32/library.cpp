#include "platform/win32/library.h"

#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "platform/win32/error.h"
#include "platform/win32/text.h"

HMODULE LoadLibraryA(const char* fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HMODULE module = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}

HMODULE LoadLibraryW(const wchar_t* fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryA(win32_internal::WideToAnsi(fileName).c_str());
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Names below 0x10000 are ordinals, which shared objects do not have.
  if (reinterpret_cast<std::uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(module, procName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
