#include "foundation/critical_section.h"

#include "platform/win32/thread.h"

CriticalSection::CriticalSection() { InitializeCriticalSection(&section_); }

CriticalSection::~CriticalSection() {
  DeleteCriticalSection(&section_);
  ownerThreadId_.store(0, std::memory_order_relaxed);
}

void CriticalSection::Lock() {
  EnterCriticalSection(&section_);
  ownerThreadId_.store(GetCurrentThreadId(), std::memory_order_relaxed);
  ++recursionCount_;
}

void CriticalSection::Unlock() {
  // Only the owner ever stores its own id here, and it clears it when its
  // last Lock is matched: a thread that reads another value (0 when the lock
  // is free) does not hold the section and must leave it alone.
  if (ownerThreadId_.load(std::memory_order_relaxed) != GetCurrentThreadId()) return;
  if (--recursionCount_ == 0) ownerThreadId_.store(0, std::memory_order_relaxed);
  LeaveCriticalSection(&section_);
}
