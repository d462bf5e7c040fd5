// Synchronisation objects with the meanings of the system's home platform:
// events, mutexes and semaphores behind HANDLEs, waits with time-outs,
// critical sections and interlocked arithmetic.
//
//   - Events: manual-reset events stay signalled until ResetEvent and release
//     every waiter; auto-reset events release one waiter and reset.
//   - Mutexes are recursive: the owner may wait again and must release as
//     often. ReleaseMutex by another thread fails with ERROR_NOT_OWNER. When
//     the owner thread ends without releasing, the next wait takes the mutex
//     and returns WAIT_ABANDONED.
//   - Semaphores count between 0 and their maximum; a wait takes one count.
//     A release that would pass the maximum fails with ERROR_TOO_MANY_POSTS
//     and changes nothing.
//   - Wake-ups: a semaphore release of n counts, the last ReleaseMutex of
//     the owner, or SetEvent on an auto-reset event wakes at most as many
//     waiting threads as it made available, longest waiting first, and none
//     while a woken thread is still on its way; a thread that calls while
//     the object is free takes it ahead of the sleepers, a woken thread
//     takes the object unless such a thread took it first, and then waits on
//     (no order of success is promised). A thread that has waited 10 ms is
//     handed the next unit, so that threads coming and going cannot starve
//     it. SetEvent on a manual-reset event releases every thread waiting at
//     that moment, even when ResetEvent follows at once.
//   - WaitForSingleObject returns WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT,
//     or WAIT_FAILED with ERROR_INVALID_HANDLE for a handle that is not open
//     (closed before the wait began). Finite time-outs pass through a hook
//     that tests may replace.
//   - Objects are private to the process: a name passed at creation fails
//     with ERROR_CALL_NOT_IMPLEMENTED.
//   - CloseHandle closes a handle of any kind (also a thread's, see thread.h);
//     a wait already in progress on it goes on.
//
// Thread safety: every call may come from any thread, on any handle.
// A CRITICAL_SECTION is initialised and deleted by one thread while no other
// uses it; Enter, TryEnter and Leave may then come from any thread, and Leave
// only from the owner.
#pragma once

#include <mutex>

#include "platform/win32/types.h"

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
// WAIT_TIMEOUT (258) is declared with the error codes.

BOOL CloseHandle(HANDLE handle);

// Events. Null on failure.
HANDLE CreateEventA(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                    const char* name);
HANDLE CreateEventW(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                    const wchar_t* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Mutexes. Null on failure.
HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, const char* name);
HANDLE CreateMutexW(SECURITY_ATTRIBUTES* security, BOOL initialOwner, const wchar_t* name);
BOOL ReleaseMutex(HANDLE mutex);

// Semaphores: null with ERROR_INVALID_PARAMETER unless
// 0 <= initialCount <= maximumCount and maximumCount > 0.
HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES* security, LONG initialCount, LONG maximumCount,
                        const char* name);
HANDLE CreateSemaphoreW(SECURITY_ATTRIBUTES* security, LONG initialCount, LONG maximumCount,
                        const wchar_t* name);
// Adds `releaseCount` (> 0) and stores the count before it in
// *previousCount when that is not null.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// Waits until the object is signalled or `milliseconds` pass (INFINITE: no
// limit; 0: just tests).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Maps a finite time-out to the milliseconds actually waited, so a test can
// make a 600-second wait give up after 50 ms; null restores the identity.
// Returns the hook it replaced.
using WaitTimeoutHook = DWORD (*)(DWORD requestedMilliseconds);
WaitTimeoutHook SetWaitTimeoutHookForTesting(WaitTimeoutHook hook);

// A recursive lock that lives in the caller's memory.
struct CRITICAL_SECTION {
  std::recursive_mutex* lock;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// Atomic operations on a naturally aligned variable; each returns the value
// the home platform's call returns: the new value for Increment and
// Decrement, the previous value for Exchange and CompareExchange64 (which
// stores `exchange` only when the target equals `comparand`). Arithmetic
// wraps.
LONG InterlockedIncrement(LONG* target);
LONG InterlockedDecrement(LONG* target);
LONG InterlockedExchange(LONG* target, LONG value);
LONGLONG InterlockedCompareExchange64(LONGLONG* target, LONGLONG exchange, LONGLONG comparand);
