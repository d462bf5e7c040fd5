#include "platform/win32/library.h"

#include <unistd.h>

#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/error.h"

namespace {

TEST(LibraryTest, LoadsFindsAnExportAndFrees) {
  HMODULE math = LoadLibraryW(L"libm.so.6");
  ASSERT_NE(math, nullptr);
  const auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(math, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetProcAddress(math, "no_such_export"), nullptr);
  EXPECT_EQ(GetProcAddress(math, reinterpret_cast<const char*>(12)), nullptr);  // an ordinal
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(math));
}

TEST(LibraryTest, FailuresGiveTheirErrors) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(LoadLibraryA("/nonexistent/Qoru.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetProcAddress(nullptr, "cos"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(LibraryTest, ModuleFileNamesOfTheProgramAndALoadedLibrary) {
  wchar_t name[4096];
  const DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), name, 4096);
  ASSERT_GT(length, 0u);
  char exe[4096];
  const ssize_t exeLength = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(exeLength, 0);
  EXPECT_EQ(std::wstring(name, length), std::wstring(exe, exe + exeLength));
  EXPECT_EQ(GetModuleFileNameW(nullptr, name, 4096), length);

  // Not loaded: no handle, and none is made.
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetModuleHandleW(L"libnotloaded-anywhere.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  HMODULE math = LoadLibraryW(L"libm.so.6");
  ASSERT_NE(math, nullptr);
  EXPECT_EQ(GetModuleHandleW(L"libm.so.6"), math);
  const DWORD mathLength = GetModuleFileNameW(math, name, 4096);
  ASSERT_GT(mathLength, 0u);
  EXPECT_NE(std::wstring(name, mathLength).find(L"libm.so.6"), std::wstring::npos);

  // A buffer too small keeps size - 1 characters and is terminated.
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetModuleFileNameW(math, name, 4), 4u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::wcslen(name), 3u);
  EXPECT_TRUE(FreeLibrary(math));
}

}  // namespace
