#include "platform/win32/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <memory>

#include "platform/win32/error.h"
#include "platform/win32/kernel_object.h"
#include "platform/win32/sync.h"

using namespace win32_internal;

namespace {

std::atomic<DWORD> lastThreadId{0};
thread_local DWORD currentThreadId = 0;

DWORD NewThreadId() {
  DWORD id;
  do {
    id = ++lastThreadId;
  } while (id == 0);  // after a wrap of the count
  return id;
}

bool IsPriority(int priority) {
  return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
         (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

// The nice value that stands for a priority; raising it above 0 needs a
// privilege this process may lack, and a refusal is accepted.
void ApplyPriority(pid_t tid, int priority) {
  int nice = 0;
  switch (priority) {
    case THREAD_PRIORITY_IDLE: nice = 19; break;
    case THREAD_PRIORITY_LOWEST: nice = 10; break;
    case THREAD_PRIORITY_BELOW_NORMAL: nice = 5; break;
    case THREAD_PRIORITY_ABOVE_NORMAL: nice = -5; break;
    case THREAD_PRIORITY_HIGHEST: nice = -10; break;
    case THREAD_PRIORITY_TIME_CRITICAL: nice = -20; break;
    default: break;
  }
  const int savedErrno = errno;
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
  errno = savedErrno;
}

class Thread : public KernelObject {
 public:
  Thread(DWORD id, unsigned (*start)(void*), void* argument, bool suspended)
      : id(id), start(start), argument(argument), suspendCount(suspended ? 1 : 0) {}

  bool IsSignaled(DWORD) const override { return finished; }
  DWORD Acquire(DWORD) override { return WAIT_OBJECT_0; }

  const DWORD id;
  unsigned (*const start)(void*);
  void* const argument;
  // Guarded by the kernel lock.
  DWORD suspendCount;
  int priority = THREAD_PRIORITY_NORMAL;
  pid_t tid = 0;
  bool finished = false;
};

void* RunThread(void* context) {
  const std::unique_ptr<std::shared_ptr<Thread>> owner(static_cast<std::shared_ptr<Thread>*>(context));
  Thread& thread = **owner;
  currentThreadId = thread.id;
  int priority;
  {
    std::unique_lock lock(KernelLock());
    thread.tid = gettid();
    thread.changed.wait(lock, [&] { return thread.suspendCount == 0; });
    priority = thread.priority;
  }
  if (priority != THREAD_PRIORITY_NORMAL) ApplyPriority(thread.tid, priority);
  thread.start(thread.argument);
  AbandonMutexesOfCurrentThread();
  std::lock_guard lock(KernelLock());
  thread.finished = true;
  thread.changed.notify_all();
  return nullptr;
}

}  // namespace

DWORD GetCurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = NewThreadId();
  return currentThreadId;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

std::uintptr_t BeginThreadEx(void*, unsigned stackSize, unsigned (*start)(void*), void* argument,
                             unsigned initFlag, unsigned* threadId) {
  if (start == nullptr || (initFlag & ~CREATE_SUSPENDED) != 0) {
    errno = EINVAL;
    return 0;
  }
  auto thread = std::make_shared<Thread>(NewThreadId(), start, argument,
                                         (initFlag & CREATE_SUSPENDED) != 0);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) {
    pthread_attr_setstacksize(&attributes, stackSize < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : stackSize);
  }
  auto context = std::make_unique<std::shared_ptr<Thread>>(thread);
  pthread_t pthread;
  const int error = pthread_create(&pthread, &attributes, RunThread, context.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    errno = error;
    return 0;
  }
  context.release();  // the new thread owns it
  if (threadId != nullptr) *threadId = thread->id;
  return reinterpret_cast<std::uintptr_t>(InsertHandle(thread));
}

DWORD ResumeThread(HANDLE handle) {
  const auto thread = LookUpHandleAs<Thread>(handle);
  if (thread == nullptr) return static_cast<DWORD>(-1);
  std::lock_guard lock(KernelLock());
  const DWORD previous = thread->suspendCount;
  if (previous > 0 && --thread->suspendCount == 0) thread->changed.notify_all();
  return previous;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  const auto thread = LookUpHandleAs<Thread>(handle);
  if (thread == nullptr) return FALSE;
  if (!IsPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pid_t tid;
  bool running;
  {
    std::lock_guard lock(KernelLock());
    thread->priority = priority;
    tid = thread->tid;
    running = thread->suspendCount == 0 && !thread->finished;
  }
  // A thread that has not run yet takes its priority when it starts.
  if (tid != 0 && running) ApplyPriority(tid, priority);
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  const auto thread = LookUpHandleAs<Thread>(handle);
  if (thread == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  std::lock_guard lock(KernelLock());
  return thread->priority;
}
