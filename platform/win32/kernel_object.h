// Kernel objects behind HANDLEs: the table that names them and the wait
// machinery they share. Used by the handle-based calls of platform/win32
// (sync, thread); callers outside this folder use those calls instead.
//
// A HANDLE is a number from a process-wide table that names a shared
// KernelObject; numbers are never reused. CloseHandle removes the entry, and a
// call in progress (a wait) keeps the object alive through its own reference,
// so a closed, stale or made-up handle fails with ERROR_INVALID_HANDLE
// instead of reaching freed memory. The table is split into shards with a
// lock each, so that calls on different handles rarely meet.
//
// Every object has its own lock, which guards its state and the queue of
// threads waiting on it; no lock is shared between objects and no call holds
// two object locks at once. A thread that finds the object signalled takes
// it at once. Otherwise it queues a waiter on its own stack and sleeps on
// the waiter's own condition variable. Whenever the state changes so that
// waits may end (SatisfyWaits), the changing thread wakes waiters from the
// head of the queue, each on its own:
//   - When taking the object changes nothing (a set manual-reset event, an
//     ended thread), every queued wait is satisfied there and then, so a
//     reset that follows at once strands nobody.
//   - Otherwise (semaphore counts, a free mutex, a set auto-reset event) it
//     wakes one waiter per unit that no woken waiter is already on its way
//     to take: a release of n counts wakes at most n threads. A woken thread
//     takes the object unless a thread that came meanwhile took it first
//     (so a count given back is used again at once instead of lying idle
//     while a sleeper wakes up), and then waits on at the head of the
//     queue. A unit is never left unclaimed while threads sleep: the woken
//     thread takes it even when its time-out has passed.
// Waiters are notified after the lock is given up, so they do not wake into
// a held lock.
//
// Thread safety: every function may be called from any thread; the members
// marked so require the object's lock.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "platform/win32/error.h"
#include "platform/win32/types.h"

namespace win32_internal {

class KernelObject {
 public:
  virtual ~KernelObject() = default;

  // Waits until the object is signalled for the calling thread `threadId`
  // and takes it: WAIT_OBJECT_0, or WAIT_ABANDONED for a mutex whose owner
  // ended without releasing it. WAIT_TIMEOUT once `deadline` passes, at once
  // when `milliseconds` is 0; INFINITE waits without a deadline.
  DWORD Wait(DWORD threadId, DWORD milliseconds, std::chrono::steady_clock::time_point deadline);

 protected:
  // Available() of an object that any number of waits may take at once.
  static constexpr LONG kEveryWaiter = 0x7FFFFFFF;

  // With the lock held: how many waits the object can satisfy now, 0 when
  // it is not signalled, kEveryWaiter when taking it changes nothing.
  virtual LONG Available() const = 0;
  // With the lock held: whether a wait by `threadId` would end now.
  virtual bool IsSignaled(DWORD /*threadId*/) const { return Available() > 0; }
  // With the lock held, after IsSignaled, on any thread: takes the object
  // for `threadId` (resets an auto-reset event, takes a semaphore count or a
  // mutex) and returns the wait's result.
  virtual DWORD Acquire(DWORD threadId) = 0;
  // With the lock held, on the thread whose wait has just taken the object.
  virtual void TakenByCallingThread() {}

  // With the lock held in `lock`, after a change that may have signalled the
  // object: wakes (or satisfies) waiters as the opening paragraph tells.
  // Gives up the lock, and notifies the waiters after that.
  void SatisfyWaits(std::unique_lock<std::mutex>& lock);

  std::mutex lock_;

 private:
  struct Waiter;
  void Unlink(Waiter* waiter);

  // The queue of sleeping waiters, oldest first, and the count of woken
  // ones that have not yet looked at the object; guarded by the lock.
  Waiter* first_ = nullptr;
  Waiter* last_ = nullptr;
  LONG woken_ = 0;
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
