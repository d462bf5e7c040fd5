#include "foundation/qoru.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/crypto_engine/test_engine_fixture_for_tests.h"
#include "foundation/log_capture_for_tests.h"

namespace {

using QoruBinding = CryptoEngineTest;

constexpr const char* kNotInitialized = "Qoru.dll is not initialized. Please call Qoru::Initialize.";

int CallForwarder() {
  static const std::uint8_t key[32] = {1};
  static const std::uint8_t iv[16] = {};
  return Qoru::AES_CBC_Decode(key, 32, 16, iv, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(QoruBinding, WithoutALoadableLibraryInitializeFailsAndTheForwarderRefuses) {
  struct Case {
    const char* name;
    bool setValue;        // write "CryptoLibraryPath"
    const char* content;  // Qoru.DLL's bytes in the folder; null: no file
  };
  const Case cases[] = {
      {"no value: the bare name is not on the search path", false, nullptr},
      {"folder without the library", true, nullptr},
      {"a file that is no library", true, "not a shared object"},
      {"an empty file", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Qoru::ReleaseForTesting();
    const std::string folder = NewFolder("engine");
    if (c.setValue) {
      PointEngineAt(folder);
    } else {
      registry_.WriteRoot("HKLM", "");
    }
    if (c.content != nullptr) registry_.WriteFile("engine/Qoru.DLL", c.content);
    LogCapture capture;
    EXPECT_FALSE(Qoru::Initialize());
    EXPECT_FALSE(Qoru::Initialize());  // tried again, fails again
    EXPECT_EQ(CallForwarder(), Qoru::kNotCallable);
    const auto lines = capture.Taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1);
    EXPECT_EQ(lines[0].text, kNotInitialized);
    std::filesystem::remove_all(folder);
  }
}

// Without a configured folder the bare name goes to the loader's search
// path: in a process started with the engine's folder on it, the engine is
// found there.
TEST_F(QoruBinding, WithoutAFolderTheBareNameIsFoundOnTheLoadersSearchPath) {
  registry_.WriteRoot("HKLM", "");
  const char* saved = std::getenv("LD_LIBRARY_PATH");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("LD_LIBRARY_PATH", kEngineDir, 1);
  // The loader reads its search path when a process starts: the check runs
  // in a fresh process of this program.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(Qoru::Initialize() ? 0 : 1), ::testing::ExitedWithCode(0), "");
  if (saved != nullptr) {
    setenv("LD_LIBRARY_PATH", restore.c_str(), 1);
  } else {
    unsetenv("LD_LIBRARY_PATH");
  }
  // This process, started without it, does not find the bare name.
  EXPECT_FALSE(Qoru::Initialize());
}

TEST_F(QoruBinding, AFolderTooLongToBeTakenWholeLoadsNothing) {
  // 259 characters is the most a folder may have; an existing library under
  // a longer one is not loaded from a cut path.
  const std::string longest = NewFolder(std::string(259 - registry_.path().size() - 1, 'd'));
  InstallEngine(kEngineDir, longest);
  struct Case {
    std::string folder;
    bool loads;
  };
  const Case cases[] = {
      {longest, true},
      {longest + "x", false},                        // cut, it would name `longest`
      {longest + "/" + std::string(300, 'x'), false},  // beyond the registry's read buffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.size());
    Qoru::ReleaseForTesting();
    PointEngineAt(c.folder);
    LogCapture capture;
    EXPECT_EQ(Qoru::Initialize(), c.loads);
    const auto lines = capture.Taken();
    if (c.loads) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].level, 2);
      EXPECT_EQ(lines[0].text,
                "{Qoru::Initialize} CryptoLibraryPath is longer than 259 characters");
    }
  }
}

TEST_F(QoruBinding, ALibraryThatAppearsLaterIsBoundByTheNextCall) {
  const std::string folder = NewFolder("engine");
  PointEngineAt(folder);
  EXPECT_FALSE(Qoru::Initialize());
  InstallEngine(kEngineDir, folder);
  EXPECT_TRUE(Qoru::Initialize());
  EXPECT_TRUE(Qoru::Initialize());
}

TEST_F(QoruBinding, AFolderWithATrailingSlashGetsNoSecondOne) {
  PointEngineAt(std::string(kEngineDir) + "/");
  EXPECT_TRUE(Qoru::Initialize());
}

TEST_F(QoruBinding, ALibraryWithoutTheExportLoadsButTheForwarderRefuses) {
  PointEngineAt(kEngineWithoutDecodeDir);
  LogCapture capture;
  ASSERT_TRUE(Qoru::Initialize());
  EXPECT_EQ(CallForwarder(), Qoru::kNotCallable);
  const auto lines = capture.Taken();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 1);
  EXPECT_EQ(lines[0].text, "Function AES_CBC_Decode not found in Qoru.dll.");
}

TEST_F(QoruBinding, ConcurrentFirstCallsLoadTheLibraryOnce) {
  PointEngineAt(kEngineDir);
  std::vector<std::thread> threads;
  std::vector<char> results(8, 0);
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] {
      results[i] = Qoru::Initialize();
      results[i] = results[i] && CallForwarder() != Qoru::kNotCallable;
    });
  }
  for (std::thread& t : threads) t.join();
  for (char ok : results) EXPECT_TRUE(ok);

  // One load holds one reference: once the binding lets it go, the library
  // is no longer mapped.
  const std::string file = std::string(kEngineDir) + "/Qoru.DLL";
  Qoru::ReleaseForTesting();
  void* still = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr) << "the library was loaded more than once";
  if (still != nullptr) dlclose(still);
}

}  // namespace
