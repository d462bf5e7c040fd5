#include "platform/win32/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

#include "platform/win32/error.h"
#include "platform/win32/thread.h"
#include "platform/win32/time.h"

namespace {

// Closes a handle at the end of a test.
struct Handle {
  HANDLE value;
  explicit Handle(HANDLE h) : value(h) {}
  ~Handle() {
    if (value != nullptr) CloseHandle(value);
  }
  operator HANDLE() const { return value; }
};

TEST(SemaphoreTest, CountsUpToItsMaximumAndRefusesMore) {
  Handle semaphore(CreateSemaphoreA(nullptr, 1, 3, nullptr));
  ASSERT_NE(semaphore.value, nullptr);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
  EXPECT_EQ(previous, 1);

  // Two more would pass the maximum: refused whole, the count unchanged.
  previous = -1;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 2, &previous));
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
  EXPECT_EQ(previous, -1);
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
  EXPECT_EQ(previous, 2);
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(SemaphoreTest, BadCountsAndNamesAreRefused) {
  struct Case {
    LONG initial;
    LONG maximum;
  };
  for (const Case& c : {Case{0, 0}, Case{-1, 2}, Case{3, 2}, Case{0, -5}}) {
    SCOPED_TRACE(testing::Message() << c.initial << "/" << c.maximum);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateSemaphoreW(nullptr, c.initial, c.maximum, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 1, "Global\\pool"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, L"stop"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "pool"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
}

TEST(SemaphoreTest, ReleaseWakesAWaiter) {
  Handle semaphore(CreateSemaphoreW(nullptr, 0, 1, nullptr));
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitForSingleObject(semaphore, INFINITE); });
  Sleep(20);
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
}

// Starts `count` threads that each wait once on `event` and counts the
// waits that ended.
class Waiters {
 public:
  Waiters(HANDLE event, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, event] {
        if (WaitForSingleObject(event, 5000) == WAIT_OBJECT_0) ++woken;
      });
    }
  }
  ~Waiters() {
    for (auto& t : threads_) t.join();
  }
  // Waits until `expected` waits ended, or a second passed.
  int SettleAt(int expected) {
    for (int i = 0; i < 100 && woken < expected; ++i) Sleep(10);
    Sleep(50);  // room for a wrong extra wake-up to show
    return woken;
  }
  std::atomic<int> woken{0};

 private:
  std::vector<std::thread> threads_;
};

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  Handle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  Waiters waiters(event, 3);
  Sleep(30);
  EXPECT_EQ(waiters.woken.load(), 0);
  for (int expected = 1; expected <= 3; ++expected) {
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(waiters.SettleAt(expected), expected);
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  // Set with nobody waiting: stays set for the next wait only.
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(EventTest, ManualResetReleasesEveryWaiterAndStaysSet) {
  Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  {
    Waiters waiters(event, 3);
    Sleep(30);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(waiters.SettleAt(3), 3);
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  Handle initiallySet(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
}

TEST(WaitTest, TimeOutsAndTheTimeOutHook) {
  Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 40), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));

  EXPECT_EQ(SetWaitTimeoutHookForTesting([](DWORD ms) { return ms > 50 ? 50 : ms; }), nullptr);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 600'000), WAIT_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(SetWaitTimeoutHookForTesting(nullptr), nullptr);
}

TEST(WaitTest, HandlesThatAreNotOpenFail) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  for (HANDLE bad : {event, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x12345)}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(bad));
  }
  EXPECT_TRUE(CloseHandle(semaphore));
}

// Each call of one kind of object fails on a handle of every other kind,
// and leaves that object as it was.
TEST(WaitTest, HandlesOfAnotherKindFail) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  HANDLE thread = reinterpret_cast<HANDLE>(BeginThreadEx(nullptr, 0, [](void*) -> unsigned { return 0; }, nullptr,
                                                         CREATE_SUSPENDED, nullptr));
  ASSERT_NE(thread, nullptr);
  struct Call {
    const char* name;
    HANDLE own;
    bool (*fails)(HANDLE);
  };
  const Call calls[] = {
      {"SetEvent", event, [](HANDLE h) { return !SetEvent(h); }},
      {"ResetEvent", event, [](HANDLE h) { return !ResetEvent(h); }},
      {"ReleaseMutex", mutex, [](HANDLE h) { return !ReleaseMutex(h); }},
      {"ReleaseSemaphore", semaphore, [](HANDLE h) { return !ReleaseSemaphore(h, 1, nullptr); }},
      {"ResumeThread", thread, [](HANDLE h) { return ResumeThread(h) == static_cast<DWORD>(-1); }},
      {"GetThreadPriority", thread, [](HANDLE h) { return GetThreadPriority(h) == THREAD_PRIORITY_ERROR_RETURN; }},
  };
  for (const Call& call : calls) {
    for (HANDLE other : {event, mutex, semaphore, thread}) {
      if (other == call.own) continue;
      SCOPED_TRACE(call.name);
      SetLastError(ERROR_SUCCESS);
      EXPECT_TRUE(call.fails(other));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
  }
  // Nothing was signalled or taken by the calls that failed.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  for (HANDLE h : {event, mutex, semaphore, thread}) EXPECT_TRUE(CloseHandle(h));
}

std::atomic<bool> waitBegun{false};

TEST(WaitTest, CloseDuringAWaitLetsTheWaitGoOn) {
  HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  waitBegun = false;
  // The time-out hook runs once the wait holds the object: a sure sign for
  // closing the handle under it.
  SetWaitTimeoutHookForTesting([](DWORD ms) {
    waitBegun = true;
    return ms;
  });
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitForSingleObject(semaphore, 200); });
  while (!waitBegun) Sleep(1);
  EXPECT_TRUE(CloseHandle(semaphore));
  waiter.join();
  SetWaitTimeoutHookForTesting(nullptr);
  EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

TEST(MutexTest, OwnerRecursesOthersWaitAndCannotRelease) {
  Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // twice owned now

  std::atomic<DWORD> otherWait{WAIT_FAILED};
  std::atomic<BOOL> otherRelease{TRUE};
  std::atomic<DWORD> otherError{ERROR_SUCCESS};
  std::atomic<bool> released{false};
  std::thread other([&] {
    otherRelease = ReleaseMutex(mutex);
    otherError = GetLastError();
    released = true;
    otherWait = WaitForSingleObject(mutex, 5000);
    ReleaseMutex(mutex);
  });
  while (!released) Sleep(1);
  EXPECT_FALSE(otherRelease.load());
  EXPECT_EQ(otherError.load(), ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(mutex));
  Sleep(30);
  EXPECT_EQ(otherWait.load(), WAIT_FAILED);  // still owned once
  EXPECT_TRUE(ReleaseMutex(mutex));
  other.join();
  EXPECT_EQ(otherWait.load(), WAIT_OBJECT_0);

  // Released as often as taken: one more release fails.
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
}

TEST(MutexTest, OwnerEndingWithoutReleaseAbandonsIt) {
  Handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
  std::thread owner([&] {
    WaitForSingleObject(mutex, INFINITE);
    WaitForSingleObject(mutex, INFINITE);
  });
  owner.join();
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
  // Now owned here, once, and no longer marked.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
}

TEST(CriticalSectionTest, RecursiveForItsOwnerOnly) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  auto tryFromAnotherThread = [&] {
    BOOL entered = FALSE;
    std::thread([&] {
      entered = TryEnterCriticalSection(&section);
      if (entered) LeaveCriticalSection(&section);
    }).join();
    return entered;
  };
  EXPECT_FALSE(tryFromAnotherThread());
  LeaveCriticalSection(&section);
  EXPECT_FALSE(tryFromAnotherThread());
  LeaveCriticalSection(&section);
  EXPECT_TRUE(tryFromAnotherThread());
  DeleteCriticalSection(&section);
}

TEST(InterlockedTest, ResultsAndWrapAround) {
  LONG value = INT_MAX - 1;
  EXPECT_EQ(InterlockedIncrement(&value), INT_MAX);
  EXPECT_EQ(InterlockedIncrement(&value), INT_MIN);
  EXPECT_EQ(InterlockedDecrement(&value), INT_MAX);
  EXPECT_EQ(InterlockedExchange(&value, 7), INT_MAX);
  EXPECT_EQ(value, 7);

  LONGLONG wide = 1LL << 40;
  EXPECT_EQ(InterlockedCompareExchange64(&wide, 5, 1), 1LL << 40);  // no match: unchanged
  EXPECT_EQ(wide, 1LL << 40);
  EXPECT_EQ(InterlockedCompareExchange64(&wide, 5, 1LL << 40), 1LL << 40);
  EXPECT_EQ(wide, 5);
}

TEST(InterlockedTest, ConcurrentIncrementsAllCount) {
  LONG counter = 0;
  LONGLONG total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10'000; ++i) {
        InterlockedIncrement(&counter);
        // A compare-exchange that changes nothing reads the current value.
        LONGLONG seen = InterlockedCompareExchange64(&total, 0, 0);
        for (LONGLONG now; (now = InterlockedCompareExchange64(&total, seen + 3, seen)) != seen;) {
          seen = now;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40'000);
  EXPECT_EQ(total, 120'000);
}

}  // namespace
