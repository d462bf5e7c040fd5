#include "foundation/qoru.h"

#include <dlfcn.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/crypto_engine/engine_fixture_for_tests.h"
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
