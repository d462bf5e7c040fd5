// Kernel objects behind HANDLEs: the table that names them and the wait
// machinery they share. Used by the handle-based calls of platform/win32
// (sync, thread); callers outside this folder use those calls instead.
//
// A HANDLE is a number from a process-wide table that names a shared
// KernelObject; numbers are never reused. CloseHandle removes the entry, and a
// call in progress (a wait) keeps the object alive through its own reference,
// so a closed, stale or made-up handle fails with ERROR_INVALID_HANDLE
// instead of reaching freed memory.
//
// The state of every object is guarded by the one kernel lock; each object
// has its own condition variable, notified (all waiters) whenever its state
// may have become signalled. Thread safety: every function may be called from
// any thread; the members marked so require the kernel lock.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32/error.h"
#include "platform/win32/types.h"

namespace win32_internal {

std::mutex& KernelLock();

class KernelObject {
 public:
  virtual ~KernelObject() = default;

  // With the kernel lock held: whether a wait by `threadId` would end now.
  virtual bool IsSignaled(DWORD threadId) const = 0;
  // With the kernel lock held, after IsSignaled: takes the object for
  // `threadId` (resets an auto-reset event, takes a semaphore count or a
  // mutex) and returns WAIT_OBJECT_0, or WAIT_ABANDONED for a mutex whose
  // owner ended without releasing it.
  virtual DWORD Acquire(DWORD threadId) = 0;

  std::condition_variable changed;
};

// A new handle for `object`; never null.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object named by `handle` when it is of type T; otherwise null with
// ERROR_INVALID_HANDLE as the thread's last error.
std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookUpHandleAs(HANDLE handle);

// Gives up the mutexes the calling thread still owns, marking them abandoned.
// Runs when a thread ends, before its handle becomes signalled.
void AbandonMutexesOfCurrentThread();

}  // namespace win32_internal

template <typename T>
std::shared_ptr<T> win32_internal::LookUpHandleAs(HANDLE handle) {
  auto object = std::dynamic_pointer_cast<T>(LookUpHandle(handle));
  if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}
