// The system's recursive lock and its scope guard.
//
// CriticalSection is the lock of nearly every shared structure (connection
// pool, user cache, statistics, caches, log queue). It is recursive for the
// thread that holds it: each Lock must be matched by one Unlock before
// another thread gets in. It remembers its owner thread id (0 when free) and
// how many Locks are not yet matched.
//
// Unlock is harmless where it cannot be right: when the lock is free, or
// when the calling thread is not the owner, it changes nothing (it neither
// releases another thread's hold nor miscounts it).
//
// Thread safety: Lock and Unlock may be called from any thread.
// GetOwnerThreadId may be read from any thread; the owner sees its own id,
// other threads see a value that may already be out of date. Construction
// and destruction happen while no other thread uses the lock.
#pragma once

#include <atomic>

#include "platform/win32/sync.h"
#include "platform/win32/types.h"

class CriticalSection {
 public:
  CriticalSection();
  // Frees the section; the lock must not be held.
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Lock();
  void Unlock();

  // The thread that holds the lock, 0 when it is free.
  DWORD GetOwnerThreadId() const { return ownerThreadId_.load(std::memory_order_relaxed); }

 private:
  CRITICAL_SECTION section_;
  // Written only by the thread that holds the section; read by any thread
  // (Unlock compares it with the caller without holding the section).
  std::atomic<DWORD> ownerThreadId_{0};
  // Read and written only by the thread that holds the section.
  int recursionCount_ = 0;
};

// Locks a CriticalSection for the life of the guard; a null pointer guards
// nothing. Belongs to the thread that built it.
class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection* lock) : lock_(lock) {
    if (lock_ != nullptr) lock_->Lock();
  }
  ~ScopedLock() {
    if (lock_ != nullptr) lock_->Unlock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection* lock_;
};
