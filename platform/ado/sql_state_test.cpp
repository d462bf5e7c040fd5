#include "platform/ado/sql_state.h"

#include <gtest/gtest.h>

namespace ado {
namespace {

TEST(ClassifySqlState, NormalisesMapsAndMarksConnectionErrors) {
  struct Case {
    const char* raw;
    const char* state;
    std::int32_t hr;
    bool connectionClass;
  };
  const Case cases[] = {
      {"57014", "HYT00", kTimeout, false},  // PostgreSQL statement time-out
      {"HYT00", "HYT00", kTimeout, false},
      {"40P01", "40001", kFail, false},  // PostgreSQL deadlock
      {"40001", "40001", kFail, false},
      {"57033", "57033", kFail, false},  // DB2 lock time-out: retried, not remapped
      {"42P01", "42P01", kNoTable, false},
      {"42S02", "42S02", kNoTable, false},
      {"S0002", "S0002", kNoTable, false},
      {"42501", "42501", kPermissionDenied, false},
      {"23505", "23505", kIntegrityViolation, false},
      {"23000", "23000", kIntegrityViolation, false},
      {"42601", "42601", kErrorsInCommand, false},
      {"42000", "42000", kErrorsInCommand, false},
      {"42703", "42703", kErrorsInCommand, false},  // missing column
      {"37000", "37000", kErrorsInCommand, false},
      {"08S01", "08S01", kFail, true},
      {"08001", "08001", kFail, true},
      {"57P01", "57P01", kFail, true},  // session terminated by the server
      {"HYT01", "HYT01", kFail, true},
      {"40003", "40003", kFail, true},
      {"HY000", "HY000", kFail, false},
      {"40p01", "40001", kFail, false},  // drivers' case does not matter
      {"", "", kFail, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    const SqlStateInfo info = ClassifySqlState(c.raw);
    EXPECT_EQ(info.state, c.state);
    EXPECT_EQ(info.hr, c.hr);
    EXPECT_EQ(info.connectionClass, c.connectionClass);
  }
}

}  // namespace
}  // namespace ado
