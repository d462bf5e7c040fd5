// A registry of its own for each test.
//
// ScopedRegistryDirectory makes a fresh temporary directory, points
// MORVALE_REGISTRY_DIR at it for its lifetime and removes it afterwards
// (restoring the variable's previous value), or at the exit of the process
// that made it when it is still alive then (a death test's child). Tests
// fill it with .reg text:
//
//   morvale::testing::ScopedRegistryDirectory registry;
//   registry.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n"
//                              "\"Count\"=dword:00000005\n");
//
// RegistryTest is a GoogleTest fixture holding one as `registry_`.
//
// The environment variable is process-wide: use one directory at a time, and
// create and destroy it on the test's main thread while no other thread reads
// the registry.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace morvale::testing {

class ScopedRegistryDirectory {
 public:
  ScopedRegistryDirectory();
  ~ScopedRegistryDirectory();
  ScopedRegistryDirectory(const ScopedRegistryDirectory&) = delete;
  ScopedRegistryDirectory& operator=(const ScopedRegistryDirectory&) = delete;

  const std::string& path() const { return path_; }

  // Writes the file of a root ("HKLM", "HKCU" or "HKCR"): the format's first
  // line, then `body` (sections and values).
  void WriteRoot(std::string_view root, std::string_view body) const;

  // Writes `bytes` as the file `name` of the directory, as they stand.
  void WriteFile(std::string_view name, std::string_view bytes) const;

  // The bytes of the file `name`, or "" when it does not exist.
  std::string ReadFile(std::string_view name) const;

 private:
  std::string path_;
  bool had_previous_ = false;
  std::string previous_;
};

class RegistryTest : public ::testing::Test {
 protected:
  ScopedRegistryDirectory registry_;
};

}  // namespace morvale::testing
