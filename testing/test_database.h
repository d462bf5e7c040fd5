// A fresh configuration database for each test suite, on the PostgreSQL
// server that scripts/test started (MORVALE_TEST_ODBC).
//
// TestDatabase::Create makes a database with a unique name on that server,
// loads every testing/schema/*.sql file into it in name order, and drops it
// again when the object is destroyed. It gives the database's connection
// string in two forms: the ODBC form, for raw ODBC calls, and the system's
// own ADO form ("Provider=SQLOLEDB;Server=127.0.0.1,<port>;Database=<name>;
// uid=<user>;pwd=<password>"), which platform/ado's provider map sends to
// PostgreSQL. To make that so, Create sets MORVALE_ADO_PROVIDERS to
// kPostgresProviderOverride unless the environment already sets it.
//
// DatabaseTest is the gtest fixture around it: one database per suite,
// created in SetUpTestSuite and dropped in TearDownTestSuite; each test of
// the suite is skipped without a server (failed under CI=true, as
// MORVALE_REQUIRE_POSTGRES does) and fails when the database could not be
// made.
//
// A TestDatabase belongs to one thread at a time; Create must not run while
// another thread reads the environment. Suites run one after another, so the
// fixture's static state is never shared by two suites at once.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace morvale::testing {

// MORVALE_ADO_PROVIDERS value that serves the SQL Server providers with the
// "PostgreSQL Unicode" driver, booleans arriving as SQL bits.
inline constexpr const char kPostgresProviderOverride[] =
    "SQLOLEDB,SQLNCLI,SQLNCLI10:PostgreSQL Unicode:CommLog=0;FetchRefcursors=1;BoolsAsChar=0";

class TestDatabase {
 public:
  // A new database loaded with the test schema, or null with the reason in
  // *error (when MORVALE_TEST_ODBC is unset, the server cannot be reached,
  // or a schema file fails: the message names the file and the server's
  // error).
  static std::unique_ptr<TestDatabase> Create(std::string* error);

  // Drops the database (ending its remaining sessions first).
  ~TestDatabase();

  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& name() const { return name_; }

  // "Driver={PostgreSQL Unicode};Server=...;Port=...;Database=<name>;..."
  const std::string& odbc_connection_string() const { return odbc_; }

  // "Provider=SQLOLEDB;Server=127.0.0.1,<port>;Database=<name>;uid=...;pwd=..."
  const std::wstring& ado_connection_string() const { return ado_; }

  // Runs one or more SQL statements on the database (for test data).
  // False with the server's diagnostics in *error.
  bool Execute(const std::string& sql, std::string* error) const;

 private:
  TestDatabase(std::string server, std::string name, std::string odbc, std::wstring ado);

  std::string server_;  // MORVALE_TEST_ODBC: the maintenance connection
  std::string name_;
  std::string odbc_;
  std::wstring ado_;
};

class DatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  // The suite's database; valid inside a test body once SetUp passed.
  static TestDatabase& database() { return *database_; }

 private:
  static std::unique_ptr<TestDatabase> database_;
  static std::string error_;
};

}  // namespace morvale::testing
