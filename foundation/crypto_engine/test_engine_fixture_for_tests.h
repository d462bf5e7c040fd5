// Test support: a fresh registry and an unbound crypto engine for each test.
//
// CryptoEngineTest gives each test its own registry directory (see
// testing/registry_fixture.h) and forgets the engine binding before and
// after the test, so that every test starts in a process that never loaded
// the engine. PointEngineAt writes the "CryptoLibraryPath" value; the
// folders of the project's engine builds come from the build
// (MORVALE_TEST_ENGINE_DIR, MORVALE_TEST_ENGINE_WITHOUT_DECODE_DIR), and
// RunRegcrypt runs the tool that writes encrypted values into the test's
// registry (MORVALE_REGCRYPT). Link crypto_engine_for_tests to have them.
// Tests run on one thread; the fixture is not for concurrent use.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

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

  // Runs the encrypt tool with `args`, its standard input reading `input`
  // (its errors go nowhere); its exit status, or -1 when it could not run.
  int RunRegcrypt(std::vector<std::string> args, const std::string& input = "") const {
    registry_.WriteFile("regcrypt-input", input);
    const std::string inputFile = registry_.path() + "/regcrypt-input";
    args.insert(args.begin(), MORVALE_REGCRYPT);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      const int in = open(inputFile.c_str(), O_RDONLY);
      const int devnull = open("/dev/null", O_WRONLY);
      if (in < 0 || devnull < 0 || dup2(in, 0) < 0 || dup2(devnull, 2) < 0) _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  // Copies the engine of `fromDir` into `folder`.
  static void InstallEngine(const char* fromDir, const std::string& folder) {
    std::filesystem::copy_file(std::string(fromDir) + "/Qoru.DLL", folder + "/Qoru.DLL",
                               std::filesystem::copy_options::overwrite_existing);
  }
};
