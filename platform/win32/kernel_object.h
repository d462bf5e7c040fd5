// Kernel objects behind HANDLEs: the table that names them and the wait
// machinery they share. Used by the handle-based calls of platform/win32
// (sync, thread); callers outside this folder use those calls instead.
//
// A HANDLE is a number from a process-wide table that names a shared
// KernelObject; numbers are never reused. CloseHandle removes the entry, and a
// call in progress (a wait) keeps the object alive through its own reference,
// so a closed, stale or made-up handle fails with ERROR_INVALID_HANDLE
// instead of reaching freed memory. The table is split into shards with a
// lock each, so that calls on different handles rarely meet; a call on a
// handle the thread used lately takes no lock at all (LookUpHandleForCall).
//
// Every object has its own lock, which guards its state and the queue of
// threads waiting on it; no lock is shared between objects and no call holds
// two object locks at once. A thread that finds the object signalled takes
// it at once; a semaphore's free count is taken, and a count given back
// while no thread waits is added, without the lock. Otherwise it queues a
// waiter on its own stack and sleeps on the waiter's own futex word. Whenever
// the state changes so that waits may end (SatisfyWaits), the changing
// thread wakes waiters from the head of the queue, each on its own:
//   - When taking the object changes nothing (a set manual-reset event, an
//     ended thread), every queued wait is satisfied there and then, so a
//     reset that follows at once strands nobody.
//   - Otherwise (semaphore counts, a free mutex, a set auto-reset event) it
//     wakes one waiter per unit that no woken waiter is already on its way
//     to take: a release of n counts wakes at most n threads. A thread that
//     comes meanwhile and finds a unit free takes it, ahead of the sleepers
//     (as on the home platform, waits are not served in order), so a unit
//     given back is used again at once instead of lying idle while a sleeper
//     wakes up; the woken thread takes the object unless such a thread took
//     it first. A woken thread that found nothing dozes: it stays on its
//     way (so units given back meanwhile wake nobody, which on a busy
//     object spares most wake-ups) and looks again after 100 microseconds,
//     taking a unit that nobody else took; each look in vain doubles the
//     doze, up to a millisecond, so that while threads keep taking the units
//     as they come back it seldom wakes. Once it has waited 10 ms since it
//     first queued, it waits on at the head of the queue. A waiter queued
//     for 10 ms or more is handed the next unit given back (taken for it
//     under the lock, out of the reach of arrivals and of woken threads),
//     so arrivals cannot starve it. A unit is never left unclaimed while
//     threads sleep: a woken or dozing thread takes it even when its
//     time-out has passed, and a dozing one looks again within its doze (a
//     millisecond at most).
// Waiters are woken after the lock is given up, so they do not wake into a
// held lock. The wake may reach a waiter's futex word after the waiter has
// seen its new state and left; a futex wake on such an address is at most a
// spurious wake-up for whoever waits there later, and every futex wait
// (these, and the C library's) allows for spurious wake-ups.
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
  // What a handle names, so that a call on a handle of another kind fails
  // without a cast that searches the types.
  enum class Kind { kEvent, kMutex, kSemaphore, kThread };

  explicit KernelObject(Kind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  Kind kind() const { return kind_; }

  // Waits until the object is signalled for the calling thread `threadId`
  // and takes it: WAIT_OBJECT_0, or WAIT_ABANDONED for a mutex whose owner
  // ended without releasing it. WAIT_TIMEOUT once `deadline` passes, at once
  // when `milliseconds` is 0; INFINITE waits without a deadline (`deadline`
  // is read only for a finite wait of more than 0 ms).
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
  // With the lock held: takes the object for `threadId` when a wait by it
  // would end now, storing the wait's result; false when it would not. By
  // default IsSignaled, then Acquire; an object whose state also changes
  // without the lock (a semaphore's count) decides and takes in one step.
  virtual bool TryAcquire(DWORD threadId, DWORD* result);
  // Without the lock: the same, for an object that can be taken without it
  // (a semaphore's free count). By default false: the wait takes the lock.
  virtual bool TryAcquireWithoutLock(DWORD /*threadId*/, DWORD* /*result*/) { return false; }
  // With the lock held, on the thread whose wait has just taken the object.
  virtual void TakenByCallingThread() {}
  // With the lock held: the object has gained waiters (true: a thread is
  // queued, woken and on its way, or about to queue) or has none left
  // (false). An object that is changed without the lock makes such changes
  // go through the lock while it has waiters. By default nothing.
  virtual void SetContended(bool /*contended*/) {}

  // With the lock held in `lock`, after a change that may have signalled the
  // object: wakes (or satisfies) waiters as the opening paragraph tells.
  // Gives up the lock, and wakes the waiters after that.
  void SatisfyWaits(std::unique_lock<std::mutex>& lock);

  std::mutex lock_;

 private:
  struct Waiter;
  void Unlink(Waiter* waiter);
  // With the lock held: SetContended(false) once no waiter is left.
  void UpdateContended();

  // The queue of sleeping waiters, oldest first, the count of woken ones
  // that have not yet looked at the object, and whether the object was last
  // told it is contended; guarded by the lock.
  const Kind kind_;
  Waiter* first_ = nullptr;
  Waiter* last_ = nullptr;
  LONG woken_ = 0;
  bool contended_ = false;
};

// A new handle for `object`; never null.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object named by `handle` when it is of type T (of kind T::kKind);
// otherwise null with ERROR_INVALID_HANDLE as the thread's last error.
std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookUpHandleAs(HANDLE handle);

// The object of a handle for one call on the calling thread, kept alive
// while the ObjectRef lives. A handle the thread looked up lately, not closed
// since, is found in the thread's own small cache, without a lock or a write
// to memory that other threads share; otherwise as LookUpHandle. Belongs to
// the thread that made it.
class ObjectRef {
 public:
  ObjectRef() = default;
  ~ObjectRef();
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;

  KernelObject* get() const { return object_; }

 private:
  friend KernelObject* LookUpHandleForCall(HANDLE handle, ObjectRef* ref);
  KernelObject* object_ = nullptr;
  // The pin count of the cache entry that keeps the object alive (an entry
  // is not replaced while pinned), or the reference of a look-up that the
  // cache could not keep.
  int* pins_ = nullptr;
  std::shared_ptr<KernelObject> owned_;
};

// Fills the empty `ref` with the object of `handle` and returns it; null
// (with ERROR_INVALID_HANDLE as the last error) when the handle is not open.
KernelObject* LookUpHandleForCall(HANDLE handle, ObjectRef* ref);
// The same, for an object of type T (T::kKind; null otherwise).
template <typename T>
T* LookUpHandleForCallAs(HANDLE handle, ObjectRef* ref);

// For tests: a function a woken waiter calls, on its own thread, after it
// wakes and before it looks at the object (so a test can hold it there);
// null for none. Returns the hook it replaced.
using WokenWaiterHook = void (*)();
WokenWaiterHook SetWokenWaiterHookForTesting(WokenWaiterHook hook);
// For tests: how long a waiter may stay queued before it is handed the next
// unit (10 ms by default; 0: every queued waiter is). Returns the limit it
// replaced.
std::chrono::milliseconds SetStarvationLimitForTesting(std::chrono::milliseconds limit);

// Gives up the mutexes the calling thread still owns, marking them abandoned.
// Runs when a thread ends, before its handle becomes signalled.
void AbandonMutexesOfCurrentThread();

}  // namespace win32_internal

template <typename T>
std::shared_ptr<T> win32_internal::LookUpHandleAs(HANDLE handle) {
  std::shared_ptr<KernelObject> object = LookUpHandle(handle);
  if (object != nullptr && object->kind() == T::kKind) return std::static_pointer_cast<T>(std::move(object));
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

template <typename T>
T* win32_internal::LookUpHandleForCallAs(HANDLE handle, ObjectRef* ref) {
  KernelObject* object = LookUpHandleForCall(handle, ref);
  if (object != nullptr && object->kind() == T::kKind) return static_cast<T*>(object);
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}
