#include "platform/win32/thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/win32/error.h"
#include "platform/win32/sync.h"
#include "platform/win32/time.h"

namespace {

struct Shared {
  std::atomic<bool> ran{false};
  std::atomic<DWORD> idInside{0};
  std::atomic<int> niceInside{0};
  HANDLE release = nullptr;  // the routine waits for it when set
  HANDLE done = nullptr;     // the routine sets it when set
  HANDLE mutexToKeep = nullptr;
};

unsigned Routine(void* context) {
  auto* shared = static_cast<Shared*>(context);
  shared->idInside = GetCurrentThreadId();
  errno = 0;
  shared->niceInside = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (shared->mutexToKeep != nullptr) WaitForSingleObject(shared->mutexToKeep, INFINITE);
  if (shared->release != nullptr) WaitForSingleObject(shared->release, INFINITE);
  shared->ran = true;
  if (shared->done != nullptr) SetEvent(shared->done);
  return 0;
}

TEST(ThreadTest, StartsSuspendedRunsOnResumeAndSignalsItsEnd) {
  Shared shared;
  unsigned id = 0;
  const auto handle = reinterpret_cast<HANDLE>(
      BeginThreadEx(nullptr, 0, Routine, &shared, CREATE_SUSPENDED, &id));
  ASSERT_NE(handle, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());

  EXPECT_EQ(WaitForSingleObject(handle, 50), WAIT_TIMEOUT);
  EXPECT_FALSE(shared.ran.load());
  EXPECT_EQ(ResumeThread(handle), 1u);
  EXPECT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(shared.ran.load());
  EXPECT_EQ(shared.idInside.load(), id);
  // The end stays signalled.
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
  EXPECT_EQ(ResumeThread(handle), 0u);
  EXPECT_TRUE(CloseHandle(handle));

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(ResumeThread(handle), static_cast<DWORD>(-1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ThreadTest, ClosingTheHandleOfARunningThreadLetsItFinish) {
  Shared shared;
  shared.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  shared.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const auto handle = reinterpret_cast<HANDLE>(BeginThreadEx(nullptr, 64 * 1024, Routine, &shared, 0, nullptr));
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
  SetEvent(shared.release);
  EXPECT_EQ(WaitForSingleObject(shared.done, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(shared.ran.load());
  CloseHandle(shared.release);
  CloseHandle(shared.done);
}

TEST(ThreadTest, EveryThreadWaitingOnTheHandleIsReleasedAtTheEnd) {
  Shared shared;
  shared.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const auto handle = reinterpret_cast<HANDLE>(BeginThreadEx(nullptr, 0, Routine, &shared, 0, nullptr));
  ASSERT_NE(handle, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(handle, 30'000) == WAIT_OBJECT_0) ++released;
    });
  }
  SetEvent(shared.release);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 4);
  EXPECT_TRUE(shared.ran.load());
  CloseHandle(handle);
  CloseHandle(shared.release);
}

TEST(ThreadTest, AMutexLeftOwnedIsAbandonedBeforeTheHandleIsSignalled) {
  Shared shared;
  shared.mutexToKeep = CreateMutexA(nullptr, FALSE, nullptr);
  const auto handle = reinterpret_cast<HANDLE>(BeginThreadEx(nullptr, 0, Routine, &shared, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(shared.mutexToKeep, 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(shared.mutexToKeep));
  CloseHandle(handle);
  CloseHandle(shared.mutexToKeep);
}

TEST(ThreadTest, PriorityIsStoredCheckedAndAppliedWhenTheThreadRuns) {
  Shared shared;
  const auto handle = reinterpret_cast<HANDLE>(
      BeginThreadEx(nullptr, 0, Routine, &shared, CREATE_SUSPENDED, nullptr));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(GetThreadPriority(handle), THREAD_PRIORITY_NORMAL);
  for (int priority : {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST, 1, 0, -1,
                       THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_IDLE}) {
    SCOPED_TRACE(priority);
    EXPECT_TRUE(SetThreadPriority(handle, priority));
    EXPECT_EQ(GetThreadPriority(handle), priority);
  }
  for (int priority : {3, 7, -3, 16, -16}) {
    SCOPED_TRACE(priority);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SetThreadPriority(handle, priority));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetThreadPriority(handle), THREAD_PRIORITY_IDLE);
  }
  ResumeThread(handle);
  ASSERT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
  // Lowering needs no privilege, so the idle priority always takes effect.
  EXPECT_EQ(shared.niceInside.load(), 19);
  CloseHandle(handle);

  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetThreadPriority(handle, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetThreadPriority(handle), THREAD_PRIORITY_ERROR_RETURN);
}

TEST(ThreadTest, BadStartArgumentsSetErrno) {
  errno = 0;
  EXPECT_EQ(BeginThreadEx(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(errno, EINVAL);
  Shared shared;
  errno = 0;
  EXPECT_EQ(BeginThreadEx(nullptr, 0, Routine, &shared, 0x10, nullptr), 0u);
  EXPECT_EQ(errno, EINVAL);
}

TEST(ThreadTest, EveryThreadHasItsOwnStableId) {
  std::mutex lock;
  std::set<DWORD> ids;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      const DWORD first = GetCurrentThreadId();
      EXPECT_EQ(GetCurrentThreadId(), first);
      std::lock_guard guard(lock);
      ids.insert(first);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ids.size(), 8u);
  EXPECT_EQ(ids.count(0), 0u);
  EXPECT_EQ(ids.count(GetCurrentThreadId()), 0u);
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

}  // namespace
