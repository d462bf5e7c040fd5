#include "platform/win32/library.h"

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

}  // namespace
