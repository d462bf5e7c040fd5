#include "platform/win32/library.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

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

namespace {

// The handle that stands for the program itself.
HMODULE ProgramHandle() {
  static HMODULE program = dlopen(nullptr, RTLD_NOW);
  return program;
}

}  // namespace

HMODULE GetModuleHandleW(const wchar_t* moduleName) {
  if (moduleName == nullptr) return ProgramHandle();
  HMODULE module =
      dlopen(win32_internal::WideToAnsi(moduleName).c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // RTLD_NOLOAD still counts a reference; the caller does not own one.
  dlclose(module);
  return module;
}

DWORD GetModuleFileNameW(HMODULE module, wchar_t* fileName, DWORD size) {
  std::string path;
  if (module == nullptr || module == ProgramHandle()) {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof buffer) path.assign(buffer, length);
  } else {
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
      path = map->l_name;
    }
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const std::wstring wide = win32_internal::AnsiToWide(path);
  if (wide.size() >= size) {
    wide.copy(fileName, size - 1);
    fileName[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  wide.copy(fileName, wide.size());
  fileName[wide.size()] = L'\0';
  return static_cast<DWORD>(wide.size());
}
