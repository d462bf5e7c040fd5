// Test support: a fresh registry and an unbound crypto engine for each test.
//
// CryptoEngineTest gives each test its own registry directory (see
// testing/registry_fixture.h) and forgets the engine binding before and
// after the test, so that every test starts in a process that never loaded
// the engine. PointEngineAt writes the "CryptoLibraryPath" value; the
// folders of the project's engine builds come from the build
// (MORVALE_TEST_ENGINE_DIR, MORVALE_TEST_ENGINE_WITHOUT_DECODE_DIR).
// Tests run on one thread; the fixture is not for concurrent use.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "foundation/qoru.h"
#include "testing/registry_fixture.h"

class CryptoEngineTest : public morvale::testing::RegistryTest {
 protected:
  static constexpr const char* kEngineDir = MORVALE_TEST_ENGINE_DIR;
  static constexpr const char* kEngineWithoutDecodeDir = MORVALE_TEST_ENGINE_WITHOUT_DECODE_DIR;

  void SetUp() override { Qoru::ReleaseForTesting(); }
  void TearDown() override { Qoru::ReleaseForTesting(); }

  // Sets "CryptoLibraryPath" to `folder` (the HKLM file holds only that).
  void PointEngineAt(const std::string& folder) const {
    registry_.WriteRoot("HKLM",
                        "[HKEY_LOCAL_MACHINE\\software\\quillon\\quorrel enterprise "
                        "server\\dispatcher]\n\"CryptoLibraryPath\"=\"" +
                            folder + "\"\n");
  }

  // A new, empty folder inside the test's registry directory.
  std::string NewFolder(const std::string& name) const {
    const std::string folder = registry_.path() + "/" + name;
    std::filesystem::create_directory(folder);
    return folder;
  }

  // Copies the engine of `fromDir` into `folder`.
  static void InstallEngine(const char* fromDir, const std::string& folder) {
    std::filesystem::copy_file(std::string(fromDir) + "/Qoru.DLL", folder + "/Qoru.DLL",
                               std::filesystem::copy_options::overwrite_existing);
  }
};
