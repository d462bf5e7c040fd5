#include "testing/registry_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

using morvale::testing::ScopedRegistryDirectory;

TEST(ScopedRegistryDirectory, NoDirectoryOutlivesTheProcessThatMadeIt) {
  // A death test's child runs this test again from the start and leaves
  // through exit(), past the destructor of the directory it made. It
  // writes that directory's path into a file named by this process (the
  // variable is set here, so the child finds it already set).
  constexpr const char* kNote = "MORVALE_TEST_REGISTRY_NOTE";
  if (std::getenv(kNote) == nullptr) {
    const std::string note = (std::filesystem::temp_directory_path() /
                              ("morvale-registry-note." + std::to_string(getpid()))).string();
    setenv(kNote, note.c_str(), 1);
  }
  const std::string note = std::getenv(kNote);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ScopedRegistryDirectory registry;
        registry.WriteRoot("HKLM", "");
        std::ofstream(note) << registry.path();
        std::exit(std::filesystem::exists(registry.path()) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  std::ifstream in(note);
  const std::string made((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(note);
  unsetenv(kNote);
  ASSERT_FALSE(made.empty());
  EXPECT_FALSE(std::filesystem::exists(made)) << made << " was left behind";
}

}  // namespace
