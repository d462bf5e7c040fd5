// Interlocked arithmetic on shared counters and time stamps, as the system
// calls it: each wrapper returns what the platform's interlocked call
// returns (platform/win32/sync.h): the new value for AtomicIncrement and
// AtomicDecrement, the previous value for AtomicExchange and
// AtomicCompareExchange64 (which stores `exchange` only when *target equals
// `comparand`, in one locked 64-bit step).
//
// Thread safety: any thread, on a naturally aligned variable; every other
// access to that variable while threads share it must be atomic as well.
#pragma once

#include "platform/win32/sync.h"
#include "platform/win32/types.h"

inline LONG AtomicIncrement(LONG* target) { return InterlockedIncrement(target); }
inline LONG AtomicDecrement(LONG* target) { return InterlockedDecrement(target); }
inline LONG AtomicExchange(LONG* target, LONG value) { return InterlockedExchange(target, value); }
inline LONGLONG AtomicCompareExchange64(LONGLONG* target, LONGLONG exchange, LONGLONG comparand) {
  return InterlockedCompareExchange64(target, exchange, comparand);
}
