// The PostgreSQL server the tests run against.
//
// scripts/test starts a throwaway cluster and exports its ODBC connection
// string as MORVALE_TEST_ODBC. A test that needs the server opens with
// MORVALE_REQUIRE_POSTGRES: without a server it is skipped on a developer's
// machine and fails under CI (CI=true), so a broken cluster set-up can never
// pass as a green run. A test program that links this file repeats the
// reasons of its skipped tests after gtest's summary. Safe to call from any
// thread.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace morvale::testing {

// The connection string from MORVALE_TEST_ODBC, or "" when none was given.
std::string PostgresConnectionString();

// True when the environment says this is a CI run (CI=true).
bool InContinuousIntegration();

}  // namespace morvale::testing

// Declares `std::string var` holding the server's connection string, or ends
// the test: skipped locally, failed under CI.
#define MORVALE_REQUIRE_POSTGRES(var)                                           \
  const std::string var = ::morvale::testing::PostgresConnectionString();       \
  if (var.empty()) {                                                            \
    if (::morvale::testing::InContinuousIntegration())                          \
      FAIL() << "CI=true but MORVALE_TEST_ODBC names no PostgreSQL server";     \
    GTEST_SKIP() << "MORVALE_TEST_ODBC names no PostgreSQL server (README: "    \
                    "the tests against PostgreSQL)";                            \
  }
