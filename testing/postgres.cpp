#include "testing/postgres.h"

#include <cstdlib>
#include <cstring>

namespace morvale::testing {

std::string PostgresConnectionString() {
  const char* value = std::getenv("MORVALE_TEST_ODBC");
  return value ? value : "";
}

bool InContinuousIntegration() {
  const char* value = std::getenv("CI");
  return value && std::strcmp(value, "true") == 0;
}

}  // namespace morvale::testing
