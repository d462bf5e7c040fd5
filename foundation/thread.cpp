#include "foundation/thread.h"

#include <cerrno>
#include <cstdint>

#include "foundation/log_hook.h"
#include "foundation/thread_name_registry.h"
#include "platform/win32/error.h"
#include "platform/win32/sync.h"
#include "platform/win32/thread.h"

Thread::Thread(const char* name) {
  if (name != nullptr) name_.emplace(name);
  stopEvent_.Create(true, false);
}

Thread::~Thread() { Thread::Stop(); }

bool Thread::Start() {
  if (thread_ != nullptr) {
    // A thread given up on by a timed Stop, or one whose Run returned by
    // itself: only a thread that has ended may be replaced.
    if (WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT) return false;
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  stopEvent_.Reset();
  unsigned id = 0;
  const std::uintptr_t handle = BeginThreadEx(nullptr, 0, ThreadStart, this, CREATE_SUSPENDED, &id);
  if (handle == 0) {
    FoundationLogMessage(1, "Thread::Start() - begin thread call failed, errno=%d", errno);
    return false;
  }
  thread_ = reinterpret_cast<HANDLE>(handle);
  threadId_ = id;
  if (priority_ != 0) SetPriority(priority_);
  ResumeThread(thread_);
  return true;
}

void Thread::Stop(int timeoutMs) {
  if (thread_ == nullptr) return;
  SignalStop();
  const DWORD result = WaitForSingleObject(thread_, ToWaitMilliseconds(timeoutMs));
  if (result != WAIT_OBJECT_0) {
    FoundationLogMessage(1, "Thread::Stop() - hung thread Id=0x%X, Handle=0x%I64x, timeout=%I64d ms",
                         threadId_, static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(thread_)),
                         static_cast<int64_t>(timeoutMs));
    // The thread runs on: keep its handle so that it is waited for later.
    if (result == WAIT_TIMEOUT) return;
  }
  CloseHandle(thread_);
  thread_ = nullptr;
}

void Thread::Stop() { Stop(static_cast<int>(INFINITE)); }

void Thread::SignalStop() { stopEvent_.Set(); }

void Thread::SetPriority(int priority) {
  priority_ = priority;
  if (thread_ == nullptr) return;
  int applied = priority;
  if (priority < THREAD_PRIORITY_LOWEST) applied = THREAD_PRIORITY_IDLE;
  if (priority > THREAD_PRIORITY_HIGHEST) applied = THREAD_PRIORITY_TIME_CRITICAL;
  SetThreadPriority(thread_, applied);
}

unsigned ThreadStart(void* argument) {
  Thread* thread = static_cast<Thread*>(argument);
  ThreadNameRegistry& names = ThreadNameRegistry::Instance();
  try {
    names.Register(thread->name_ ? thread->name_->c_str() : nullptr);
    thread->Run();
  } catch (...) {
    // An exception must not end the process from a worker thread.
  }
  names.Unregister();
  return 0;
}
