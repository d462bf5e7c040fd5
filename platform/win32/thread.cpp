#include "platform/win32/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>

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
  static constexpr Kind kKind = Kind::kThread;
  Thread(DWORD id, unsigned (*start)(void*), void* argument, bool suspended)
      : KernelObject(kKind), id(id), start(start), argument(argument), suspendCount_(suspended ? 1 : 0) {}

  const DWORD id;
  unsigned (*const start)(void*);
  void* const argument;

  // On the new thread: records its Linux id, waits until it is resumed and
  // returns the priority it is to run with.
  int AwaitStart(pid_t tid) {
    std::unique_lock lock(lock_);
    tid_ = tid;
    resumed_.wait(lock, [&] { return suspendCount_ == 0; });
    return priority_;
  }

  // On the new thread, its routine returned: the handle becomes signalled.
  void Finish() {
    std::unique_lock lock(lock_);
    finished_ = true;
    SatisfyWaits(lock);
  }

  DWORD Resume() {
    std::lock_guard lock(lock_);
    const DWORD previous = suspendCount_;
    if (previous > 0 && --suspendCount_ == 0) resumed_.notify_one();
    return previous;
  }

  void SetPriority(int priority) {
    pid_t tid;
    bool running;
    {
      std::lock_guard lock(lock_);
      priority_ = priority;
      tid = tid_;
      running = suspendCount_ == 0 && !finished_;
    }
    // A thread that has not run yet takes its priority when it starts.
    if (tid != 0 && running) ApplyPriority(tid, priority);
  }

  int Priority() {
    std::lock_guard lock(lock_);
    return priority_;
  }

 private:
  LONG Available() const override { return finished_ ? kEveryWaiter : 0; }
  DWORD Acquire(DWORD) override { return WAIT_OBJECT_0; }

  std::condition_variable resumed_;
  // Guarded by the lock.
  DWORD suspendCount_;
  int priority_ = THREAD_PRIORITY_NORMAL;
  pid_t tid_ = 0;
  bool finished_ = false;
};

void* RunThread(void* context) {
  const std::unique_ptr<std::shared_ptr<Thread>> owner(static_cast<std::shared_ptr<Thread>*>(context));
  Thread& thread = **owner;
  currentThreadId = thread.id;
  const pid_t tid = gettid();
  const int priority = thread.AwaitStart(tid);
  if (priority != THREAD_PRIORITY_NORMAL) ApplyPriority(tid, priority);
  thread.start(thread.argument);
  AbandonMutexesOfCurrentThread();
  thread.Finish();
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
  return thread->Resume();
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  const auto thread = LookUpHandleAs<Thread>(handle);
  if (thread == nullptr) return FALSE;
  if (!IsPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  thread->SetPriority(priority);
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  const auto thread = LookUpHandleAs<Thread>(handle);
  if (thread == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  return thread->Priority();
}
