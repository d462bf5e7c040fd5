// Failures a real profile cannot be made to produce, for tests of the code
// that calls the messaging interface: running out of memory, and a call
// that fails with a chosen result. Not for production code.
//
// A call is named by its interface and method as declared
// ("IMAPITable::Restrict", "IMAPIProp::SaveChanges" for every property
// object, "IAddrBook::ResolveName") or by its function name
// ("MAPIInitialize", "MAPILogonEx", "HrQueryAllRows"). A failed call returns
// at once, doing nothing, and the object's GetLastError describes it.
//
// Thread safety: any thread; a rule is seen by every thread at once. Clear
// the rules before the test ends (ClearMapiFailuresForTesting).
#pragma once

#include "platform/mapi/mapi.h"

// After `skip` more allocations that succeed, the next `count`
// (MAPIAllocateBuffer and MAPIAllocateMore, the library's own included) fail
// with MAPI_E_NOT_ENOUGH_MEMORY.
void FailMapiAllocationsForTesting(ULONG skip, ULONG count);

// After `skip` calls of `call` that run normally, the next `count` return
// `result`. A new rule for the same call replaces the old one.
void FailMapiCallForTesting(const char* call, HRESULT result, ULONG skip = 0,
                            ULONG count = 0xFFFFFFFFu);

// Removes every rule of both kinds.
void ClearMapiFailuresForTesting();
