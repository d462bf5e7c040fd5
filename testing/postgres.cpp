#include "testing/postgres.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace morvale::testing {
namespace {

// Repeats why tests were skipped after the run's summary, where gtest lists
// only their names, one line for each reason with the number of tests.
class SkipReasons : public ::testing::EmptyTestEventListener {
 public:
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (result.skipped()) ++reasons_[result.message()];
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    for (const auto& [reason, tests] : reasons_) {
      std::printf("[  SKIPPED ] %d test%s: %s\n", tests, tests == 1 ? "" : "s", reason.c_str());
    }
    std::fflush(stdout);
  }

 private:
  std::map<std::string, int> reasons_;
};

// Every test program that can skip for want of a server links this file.
const bool kSkipReasonsListed = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkipReasons);
  return true;
}();

}  // namespace

std::string PostgresConnectionString() {
  const char* value = std::getenv("MORVALE_TEST_ODBC");
  return value ? value : "";
}

bool InContinuousIntegration() {
  const char* value = std::getenv("CI");
  return value && std::strcmp(value, "true") == 0;
}

}  // namespace morvale::testing
