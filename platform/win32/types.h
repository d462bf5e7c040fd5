// The Windows integer and handle types the system's code is written with.
//
// Widths are those of the system's home platform: DWORD, ULONG and LONG are
// 32 bits here too (never C `long`), so values stored in files, registries
// and databases keep their meaning. A HANDLE is an object's address and is
// pointer-sized. Plain types; usable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using INT64 = std::int64_t;
using UINT64 = std::uint64_t;
using DWORD_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using HRESULT = std::int32_t;
using WCHAR = wchar_t;
using HANDLE = void*;
// A loaded library: the loader's own handle.
using HMODULE = void*;
// An export found in a library; callers cast it to the export's type (a
// cast from void(*)() draws no function-type warning).
using FARPROC = void (*)();
// An OLE Automation date: days since 1899-12-30, the fraction the time of day.
using DATE = double;

// A signed and an unsigned 64-bit value that can also be taken as two 32-bit
// halves, low half first (stream positions, for one).
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

// Accepted where the system passes it (always null here): objects are
// private to the process and carry no security descriptor.
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
