#include "platform/ado/sql_state.h"

#include <cctype>

namespace ado {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// States whose meaning another server spells differently, written as the
// retry rules of the system expect them.
struct Alias {
  std::string_view raw;
  std::string_view normalised;
};
constexpr Alias kAliases[] = {
    {"57014", "HYT00"},  // PostgreSQL: statement time-out (query_canceled)
    {"40P01", "40001"},  // PostgreSQL: deadlock detected
};

// First matching row wins; a prefix of a whole state or of its class.
struct HresultRule {
  std::string_view prefix;
  std::int32_t hr;
};
constexpr HresultRule kHresultRules[] = {
    {"42S02", kNoTable},          {"42P01", kNoTable},
    {"S0002", kNoTable},          {"42501", kPermissionDenied},
    {"23", kIntegrityViolation},  {"HYT00", kTimeout},
    {"42", kErrorsInCommand},     {"37000", kErrorsInCommand},
};

bool IsConnectionClass(std::string_view state) {
  return StartsWith(state, "08") || state == "HYT01" || state == "40003" || state == "57P01" ||
         state == "57P02" || state == "57P03";
}

}  // namespace

SqlStateInfo ClassifySqlState(std::string_view rawState) {
  SqlStateInfo info;
  info.state.reserve(rawState.size());
  for (char c : rawState) {
    info.state += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  for (const Alias& alias : kAliases) {
    if (info.state == alias.raw) {
      info.state = alias.normalised;
      break;
    }
  }
  info.hr = kFail;
  for (const HresultRule& rule : kHresultRules) {
    if (StartsWith(info.state, rule.prefix)) {
      info.hr = rule.hr;
      break;
    }
  }
  info.connectionClass = IsConnectionClass(info.state);
  return info;
}

}  // namespace ado
