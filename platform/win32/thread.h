// Threads with the meanings of the system's home platform, over pthreads.
//
// GetCurrentThreadId gives each thread a small 32-bit id, never 0, that
// stays the same for the thread's life and is not given to another thread.
//
// BeginThreadEx is shaped like the run-time's thread creation: the start
// routine is `unsigned (*)(void*)`, the result is the thread's handle as an
// integer (0 on failure, with errno set), and CREATE_SUSPENDED keeps the
// thread from running its routine until ResumeThread. The handle is
// signalled (WaitForSingleObject) once the routine has returned and the
// mutexes it left owned are abandoned. CloseHandle on the handle of a
// running thread only lets the thread go on unobserved; nothing here ever
// kills a thread.
//
// Priorities are the home platform's: THREAD_PRIORITY_IDLE (-15), -2 .. 2,
// THREAD_PRIORITY_TIME_CRITICAL (15). The value is stored and reported back
// by GetThreadPriority; the thread's nice value follows it as far as Linux
// lets this process (a refusal does not fail the call).
//
// Thread safety: every call may come from any thread.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

inline constexpr unsigned CREATE_SUSPENDED = 0x00000004;

inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
inline constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Starts `start(argument)` on a new thread with `stackSize` bytes of stack
// (0: the default). `security` is ignored. Returns the thread's HANDLE as an
// integer and stores the new thread's id in *threadId (when not null); 0 on
// failure with errno EINVAL (no start routine, unknown flags) or the reason
// pthreads gave.
std::uintptr_t BeginThreadEx(void* security, unsigned stackSize, unsigned (*start)(void*),
                             void* argument, unsigned initFlag, unsigned* threadId);

// Lowers the suspend count of a thread started with CREATE_SUSPENDED and lets
// it run at 0. Returns the count before the call; (DWORD)-1 with
// ERROR_INVALID_HANDLE for a handle that is no open thread.
DWORD ResumeThread(HANDLE thread);

// FALSE with ERROR_INVALID_PARAMETER for another priority value, with
// ERROR_INVALID_HANDLE for a handle that is no open thread.
BOOL SetThreadPriority(HANDLE thread, int priority);
// THREAD_PRIORITY_ERROR_RETURN with ERROR_INVALID_HANDLE for a bad handle.
int GetThreadPriority(HANDLE thread);
