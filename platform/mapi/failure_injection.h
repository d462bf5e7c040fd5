// The library's side of the test hooks (platform/mapi/mapi_test_hooks.h):
// each entry point asks whether a rule makes it fail. While no rule is set
// the question costs one relaxed atomic load. Internal to platform/mapi;
// any thread.
#pragma once

#include "platform/win32/types.h"

namespace mapi_internal {

// The result a rule chose for this call of `call`, or 0 to run normally.
HRESULT InjectedFailure(const char* call);

// True when a rule makes this allocation fail.
bool InjectedAllocationFailure();

}  // namespace mapi_internal
