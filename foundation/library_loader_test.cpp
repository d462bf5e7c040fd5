#include "foundation/library_loader.h"

#include <gtest/gtest.h>

#include "platform/win32/error.h"

namespace {

TEST(LibraryLoaderTest, LoadsByEitherNameWidth) {
  HMODULE narrow = LoadLibraryGuardedA("libm.so.6");
  HMODULE wide = LoadLibraryGuardedW(L"libm.so.6");
  ASSERT_NE(narrow, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_NE(GetProcAddress(wide, "cos"), nullptr);
  EXPECT_TRUE(FreeLibrary(narrow));
  EXPECT_TRUE(FreeLibrary(wide));

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(LoadLibraryGuardedW(L"/nonexistent/missing.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
