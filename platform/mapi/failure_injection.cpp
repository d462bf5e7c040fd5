#include "platform/mapi/failure_injection.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/mapi/mapi_test_hooks.h"

namespace mapi_internal {
namespace {

struct Rule {
  HRESULT result;
  ULONG skip;
  ULONG count;
};

// Set while any rule exists, so that the normal path only loads it.
std::atomic<bool> armed{false};

struct Rules {
  std::mutex lock;
  std::map<std::string, Rule> calls;
  ULONG allocationSkip = 0;
  ULONG allocationCount = 0;
};

Rules& TheRules() {
  static Rules* rules = new Rules();  // never destroyed: used until the process ends
  return *rules;
}

void Rearm(Rules& rules) {
  armed.store(!rules.calls.empty() || rules.allocationCount > 0, std::memory_order_release);
}

}  // namespace

HRESULT InjectedFailure(const char* call) {
  if (!armed.load(std::memory_order_acquire)) return 0;
  Rules& rules = TheRules();
  std::lock_guard<std::mutex> hold(rules.lock);
  auto found = rules.calls.find(call);
  if (found == rules.calls.end()) return 0;
  Rule& rule = found->second;
  if (rule.skip > 0) {
    --rule.skip;
    return 0;
  }
  const HRESULT result = rule.result;
  if (--rule.count == 0) {
    rules.calls.erase(found);
    Rearm(rules);
  }
  return result;
}

bool InjectedAllocationFailure() {
  if (!armed.load(std::memory_order_acquire)) return false;
  Rules& rules = TheRules();
  std::lock_guard<std::mutex> hold(rules.lock);
  if (rules.allocationCount == 0) return false;
  if (rules.allocationSkip > 0) {
    --rules.allocationSkip;
    return false;
  }
  --rules.allocationCount;
  Rearm(rules);
  return true;
}

}  // namespace mapi_internal

using mapi_internal::Rearm;
using mapi_internal::TheRules;

void FailMapiAllocationsForTesting(ULONG skip, ULONG count) {
  auto& rules = TheRules();
  std::lock_guard<std::mutex> hold(rules.lock);
  rules.allocationSkip = skip;
  rules.allocationCount = count;
  Rearm(rules);
}

void FailMapiCallForTesting(const char* call, HRESULT result, ULONG skip, ULONG count) {
  auto& rules = TheRules();
  std::lock_guard<std::mutex> hold(rules.lock);
  if (count == 0 || result == 0) {
    rules.calls.erase(call);
  } else {
    rules.calls[call] = {result, skip, count};
  }
  Rearm(rules);
}

void ClearMapiFailuresForTesting() {
  auto& rules = TheRules();
  std::lock_guard<std::mutex> hold(rules.lock);
  rules.calls.clear();
  rules.allocationSkip = 0;
  rules.allocationCount = 0;
  Rearm(rules);
}
