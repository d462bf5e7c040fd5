// Test fixtures of the command runner and the operations built on it.
//
// VexdbDatabaseTest: one PostgreSQL test database per suite with the
// process-wide connection pool up on it and a registry of the suite's own
// (its Database key written by RegistryValues before the pool reads it);
// every test runs in the multithreaded apartment with Sleep recorded
// instead of slept (RecordedSleeps) and the runner's settings at their
// defaults.
//
// Suites run one after another on the main thread; nothing here is shared
// by two threads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/connection_pool.h"
#include "db/vexdb_command.h"
#include "platform/com/apartment.h"
#include "platform/win32/time.h"
#include "testing/registry_fixture.h"
#include "testing/test_database.h"

// The milliseconds each Sleep was asked for since the test began.
inline std::vector<DWORD>& RecordedSleeps() {
  static std::vector<DWORD> sleeps;
  return sleeps;
}

// Starts recording sleeps for a test and puts the previous hook back after.
class SleepRecorder {
 public:
  SleepRecorder() : previous_(SetSleepHookForTesting([](DWORD ms) { RecordedSleeps().push_back(ms); })) {
    RecordedSleeps().clear();
  }
  ~SleepRecorder() { SetSleepHookForTesting(previous_); }
  SleepRecorder(const SleepRecorder&) = delete;
  SleepRecorder& operator=(const SleepRecorder&) = delete;

 private:
  SleepHook previous_;
};

inline constexpr const char kDatabaseKeySection[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Quorrel Dazadevari Server\\Database]\n";

class VexdbDatabaseTest : public morvale::testing::DatabaseTest {
 protected:
  static void SetUpTestSuite() {
    DatabaseTest::SetUpTestSuite();
    registry_ = std::make_unique<morvale::testing::ScopedRegistryDirectory>();
    RegistryValues("");
  }
  static void TearDownTestSuite() {
    GetConnectionPool().ReleasePool(true);
    registry_.reset();
    DatabaseTest::TearDownTestSuite();
  }
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    initialized_ = true;
    g_VEXDB_CommandTimeout = 30;
    g_VEXDB_CommandRetryCount = 5;
    if (!GetConnectionPool().IsUp()) {
      const std::wstring& ado = database().ado_connection_string();
      ASSERT_TRUE(GetConnectionPool().InitializePool(4, ado, 0, false, true));
    }
  }
  void TearDown() override {
    if (initialized_) CoUninitialize();
  }

  // Replaces the values of the Database key.
  static void RegistryValues(const std::string& values) {
    registry_->WriteRoot("HKLM", std::string(kDatabaseKeySection) + values);
  }

  // Runs SQL on the test database, failing the test when it fails.
  static void Sql(const std::string& sql) {
    std::string error;
    ASSERT_TRUE(database().Execute(sql, &error)) << error << "\n" << sql;
  }

  // The first column of the first row of `sql`, read on a connection of
  // the test's own, as a 64-bit integer.
  static LONGLONG Scalar(const std::wstring& sql) {
    ado::_ConnectionPtr connection = ado::MakeConnection();
    connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
    ado::_RecordsetPtr rows = connection->Execute(_bstr_t(sql.c_str()), nullptr, -1);
    const LONGLONG value = static_cast<LONGLONG>(rows->GetFields()->GetItem(_variant_t(0))->GetValue());
    connection->Close();
    return value;
  }

  SleepRecorder sleeps_;

 private:
  static inline std::unique_ptr<morvale::testing::ScopedRegistryDirectory> registry_;
  bool initialized_ = false;
};
