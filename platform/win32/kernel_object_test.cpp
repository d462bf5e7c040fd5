// The wait machinery under load: how many threads a release wakes, that a
// signal is never lost, and that an object never lends more than it has.
#include "platform/win32/kernel_object.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/sync.h"
#include "platform/win32/thread.h"
#include "platform/win32/time.h"

namespace {

// Waits that must not time out in a correct run; far beyond any scheduling
// delay, so that a lost wake-up fails the test instead of hanging it.
constexpr DWORD kNeverMs = 30'000;

// What /proc tells of a thread of this process.
struct TaskView {
  static char State(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
  }
  // Times the thread has given up the CPU by blocking.
  static long VoluntarySwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
      if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
    }
    return -1;
  }
  // Until the thread blocks (or has ended: '?').
  static void AwaitAsleep(pid_t tid) {
    for (char state; (state = State(tid)) != 'S' && state != '?';) Sleep(1);
  }
};

// Sets the starvation limit for a scope.
class ScopedStarvationLimit {
 public:
  explicit ScopedStarvationLimit(std::chrono::milliseconds limit)
      : previous_(win32_internal::SetStarvationLimitForTesting(limit)) {}
  ~ScopedStarvationLimit() { win32_internal::SetStarvationLimitForTesting(previous_); }
  ScopedStarvationLimit(const ScopedStarvationLimit&) = delete;
  ScopedStarvationLimit& operator=(const ScopedStarvationLimit&) = delete;

 private:
  std::chrono::milliseconds previous_;
};
constexpr std::chrono::milliseconds kNoStarvation{3'600'000};

// Holds every woken waiter after it wakes and before it looks at the
// object, until opened (the woken-waiter hook of the wait machinery).
class WokenWaiterGate {
 public:
  WokenWaiterGate() {
    {
      std::lock_guard lock(state().lock);
      state().held = 0;
      state().open = false;
    }
    previous_ = win32_internal::SetWokenWaiterHookForTesting(&Hold);
  }
  ~WokenWaiterGate() {
    Open();
    win32_internal::SetWokenWaiterHookForTesting(previous_);
  }
  WokenWaiterGate(const WokenWaiterGate&) = delete;
  WokenWaiterGate& operator=(const WokenWaiterGate&) = delete;

  // Until `count` woken waiters are held.
  void AwaitHeld(int count) {
    std::unique_lock lock(state().lock);
    state().changed.wait(lock, [&] { return state().held >= count; });
  }
  void Open() {
    std::lock_guard lock(state().lock);
    state().open = true;
    state().changed.notify_all();
  }

 private:
  struct State {
    std::mutex lock;
    std::condition_variable changed;
    int held = 0;
    bool open = false;
  };
  static State& state() {
    static State shared;
    return shared;
  }
  static void Hold() {
    std::unique_lock lock(state().lock);
    ++state().held;
    state().changed.notify_all();
    state().changed.wait(lock, [] { return state().open; });
  }

  win32_internal::WokenWaiterHook previous_ = nullptr;
};

// A thread that waits on `object`, asleep in the wait when constructed,
// and records the result; once it got the object it holds it until let go,
// then gives it back with `giveBack` (on its own thread, as a mutex needs).
class WaitingThread {
 public:
  WaitingThread(HANDLE object, DWORD milliseconds, std::function<BOOL(HANDLE)> giveBack)
      : letGo_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    std::atomic<pid_t> id{0};
    thread_ = std::thread([this, object, milliseconds, giveBack, &id] {
      id = gettid();
      const DWORD got = WaitForSingleObject(object, milliseconds);
      result = got;
      done = true;
      if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
        WaitForSingleObject(letGo_, INFINITE);
        giveBack(object);
      }
    });
    while (id.load() == 0) Sleep(1);
    tid = id.load();
    TaskView::AwaitAsleep(tid);
  }
  ~WaitingThread() {
    Join();
    CloseHandle(letGo_);
  }
  WaitingThread(const WaitingThread&) = delete;
  WaitingThread& operator=(const WaitingThread&) = delete;

  // Until the wait has ended.
  void AwaitDone() const {
    while (!done.load()) Sleep(1);
  }
  // Lets go of the object (if it got it) and waits for the thread's end.
  void Join() {
    SetEvent(letGo_);
    if (thread_.joinable()) thread_.join();
  }

  pid_t tid = 0;
  std::atomic<DWORD> result{WAIT_FAILED};
  std::atomic<bool> done{false};

 private:
  const HANDLE letGo_;
  std::thread thread_;
};

// One row: an object that is not signalled, and how the test makes one more
// waiter's worth of it available.
struct ReleaseCase {
  const char* name;
  int waiters;
  // Threads each step should let through.
  int perStep;
  std::function<HANDLE()> create;
  // Step `step` (0-based); `holders` are events the waiters that already
  // got through wait on before they let go (used by the mutex).
  std::function<void(HANDLE object, int step, const std::vector<HANDLE>& holders)> release;
  bool isMutex = false;
};

TEST(WakeUpTest, AReleaseWakesOnlyTheWaitersItServesLongestWaitingFirst) {
  const ReleaseCase cases[] = {
      {"semaphore, one count", 5, 1, [] { return CreateSemaphoreA(nullptr, 0, 8, nullptr); },
       [](HANDLE object, int, const std::vector<HANDLE>&) { ASSERT_TRUE(ReleaseSemaphore(object, 1, nullptr)); }},
      {"semaphore, two counts", 6, 2, [] { return CreateSemaphoreA(nullptr, 0, 8, nullptr); },
       [](HANDLE object, int, const std::vector<HANDLE>&) { ASSERT_TRUE(ReleaseSemaphore(object, 2, nullptr)); }},
      {"auto-reset event", 5, 1, [] { return CreateEventA(nullptr, FALSE, FALSE, nullptr); },
       [](HANDLE object, int, const std::vector<HANDLE>&) { ASSERT_TRUE(SetEvent(object)); }},
      {"mutex", 5, 1, [] { return CreateMutexA(nullptr, TRUE, nullptr); },
       [](HANDLE object, int step, const std::vector<HANDLE>& holders) {
         // First this thread's hold, then each waiter's once it got through.
         if (step == 0) {
           ASSERT_TRUE(ReleaseMutex(object));
         } else {
           ASSERT_TRUE(SetEvent(holders[static_cast<std::size_t>(step - 1)]));
         }
       },
       true},
  };
  // Served by a wake-up and by the hand-off to a waiter queued past the
  // starvation limit alike.
  for (const auto limit : {std::chrono::milliseconds(3'600'000), std::chrono::milliseconds(0)})
  for (const ReleaseCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << ", starvation limit " << limit.count() << " ms");
    const ScopedStarvationLimit scopedLimit(limit);
    const HANDLE object = c.create();
    ASSERT_NE(object, nullptr);
    std::vector<HANDLE> holders;
    for (int i = 0; i < c.waiters; ++i) holders.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::vector<pid_t> tids(static_cast<std::size_t>(c.waiters));
    std::mutex orderLock;
    std::vector<int> order;
    std::atomic<int> through{0};
    std::vector<std::thread> threads;
    // One at a time, each asleep in its wait before the next starts: the
    // queue's order is the threads' order.
    for (int i = 0; i < c.waiters; ++i) {
      std::atomic<pid_t> tid{0};
      threads.emplace_back([&, i] {
        GetCurrentThreadId();
        tid = gettid();
        const DWORD result = WaitForSingleObject(object, kNeverMs);
        EXPECT_EQ(result, WAIT_OBJECT_0);
        {
          std::lock_guard guard(orderLock);
          order.push_back(i);
        }
        ++through;
        if (c.isMutex && result == WAIT_OBJECT_0) {
          WaitForSingleObject(holders[static_cast<std::size_t>(i)], kNeverMs);
          ReleaseMutex(object);
        }
      });
      while (tid.load() == 0) Sleep(1);
      tids[static_cast<std::size_t>(i)] = tid.load();
      TaskView::AwaitAsleep(tid.load());
    }
    std::vector<long> switches;
    for (pid_t tid : tids) switches.push_back(TaskView::VoluntarySwitches(tid));

    for (int step = 0; step * c.perStep < c.waiters; ++step) {
      SCOPED_TRACE(testing::Message() << "step " << step);
      c.release(object, step, holders);
      const int expected = std::min(c.waiters, (step + 1) * c.perStep);
      while (through.load() < expected) Sleep(1);
      // Every thread still waiting slept on untouched: a wake-up in vain
      // would have made it block once more.
      for (int i = expected; i < c.waiters; ++i) {
        const pid_t tid = tids[static_cast<std::size_t>(i)];
        TaskView::AwaitAsleep(tid);
        EXPECT_EQ(TaskView::VoluntarySwitches(tid), switches[static_cast<std::size_t>(i)]) << "waiter " << i;
      }
      EXPECT_EQ(through.load(), expected);
    }
    if (c.isMutex) SetEvent(holders.back());
    for (std::thread& t : threads) t.join();
    std::vector<int> arrival(static_cast<std::size_t>(c.waiters));
    for (int i = 0; i < c.waiters; ++i) arrival[static_cast<std::size_t>(i)] = i;
    if (c.perStep == 1) {
      EXPECT_EQ(order, arrival);
    }
    for (HANDLE h : holders) CloseHandle(h);
    CloseHandle(object);
  }
}

TEST(WakeUpTest, ManualResetSetThenResetReleasesEveryoneWaiting) {
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  constexpr int kWaiters = 4;
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    std::atomic<pid_t> tid{0};
    threads.emplace_back([&] {
      tid = gettid();
      if (WaitForSingleObject(event, kNeverMs) == WAIT_OBJECT_0) ++released;
    });
    while (tid.load() == 0) Sleep(1);
    TaskView::AwaitAsleep(tid.load());
  }
  EXPECT_TRUE(SetEvent(event));
  EXPECT_TRUE(ResetEvent(event));
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(released.load(), kWaiters);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

// A count released to a waiter whose time-out runs out as it wakes is not
// lost: that waiter takes it (and gives it back here), or it passes on to
// the next. Each round queues a waiter with a 50 ms time-out, then one
// without, and releases one count a little before the first one's time-out,
// a little earlier each round, so that some wake-ups meet the deadline.
TEST(WakeUpTest, ACountMeetingATimeOutPassesOn) {
  using Clock = std::chrono::steady_clock;
  constexpr int kRounds = 40;
  constexpr DWORD kShortMs = 50;
  const HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 2, nullptr);
  std::atomic<int> round{0};
  std::atomic<int> shortDone{0};
  std::atomic<int> longDone{0};
  std::atomic<int> longQueued{0};
  std::atomic<pid_t> shortTid{0};
  std::atomic<pid_t> longTid{0};
  std::atomic<Clock::rep> shortStart{0};
  std::atomic<int> longFailures{0};
  std::atomic<bool> stop{false};  // after the first failure
  std::thread shortWaiter([&] {
    shortTid = gettid();
    for (int r = 1; r <= kRounds; ++r) {
      while (round.load() < r && !stop) std::this_thread::yield();
      if (stop) return;
      shortStart = Clock::now().time_since_epoch().count();
      if (WaitForSingleObject(semaphore, kShortMs) == WAIT_OBJECT_0) ReleaseSemaphore(semaphore, 1, nullptr);
      shortDone = r;
    }
  });
  std::thread longWaiter([&] {
    longTid = gettid();
    for (int r = 1; r <= kRounds; ++r) {
      while (longQueued.load() < r && !stop) std::this_thread::yield();
      if (stop) return;
      if (WaitForSingleObject(semaphore, kNeverMs) != WAIT_OBJECT_0) ++longFailures;
      longDone = r;
    }
  });
  while (shortTid.load() == 0 || longTid.load() == 0) Sleep(1);
  for (int r = 1; r <= kRounds; ++r) {
    SCOPED_TRACE(testing::Message() << "round " << r);
    const Clock::rep before = shortStart.load();
    round = r;
    while (shortStart.load() == before) std::this_thread::yield();
    TaskView::AwaitAsleep(shortTid.load());
    longQueued = r;
    TaskView::AwaitAsleep(longTid.load());
    const Clock::time_point release = Clock::time_point(Clock::duration(shortStart.load())) +
                                      std::chrono::milliseconds(kShortMs) - std::chrono::microseconds(15 * r);
    while (Clock::now() < release) {
    }
    ASSERT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
    while (shortDone.load() < r || longDone.load() < r) Sleep(1);
    if (longFailures.load() != 0) {
      ADD_FAILURE() << "the count was left while a thread slept";
      stop = true;
      break;
    }
  }
  shortWaiter.join();
  longWaiter.join();
  EXPECT_EQ(longFailures.load(), 0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  CloseHandle(semaphore);
}

// Threads borrow from a semaphore as from a pool, with waits that never
// time out in a correct run and waits that may (0 and 1 ms, ending while a
// count is on its way to them): never more holders than counts, every
// release accepted, and at the end every count back.
TEST(StressTest, ASemaphoreNeverLendsMoreThanItHasNorStrandsAWaiter) {
  constexpr LONG kCounts = 3;
  constexpr int kThreads = 10;
  constexpr int kRounds = 1500;
  const HANDLE semaphore = CreateSemaphoreA(nullptr, kCounts, kCounts, nullptr);
  std::atomic<int> holders{0};
  std::atomic<int> mostHolders{0};
  std::atomic<int> lostWaits{0};
  std::atomic<int> refusedReleases{0};
  std::atomic<int> shortTimeOuts{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const DWORD waits[] = {kNeverMs, 0, 1, kNeverMs, INFINITE};
      for (int i = 0; i < kRounds; ++i) {
        const DWORD ms = waits[(t + i) % 5];
        const DWORD result = WaitForSingleObject(semaphore, ms);
        if (result != WAIT_OBJECT_0) {
          if (ms == kNeverMs || ms == INFINITE) {
            ++lostWaits;
          } else {
            ++shortTimeOuts;
          }
          continue;
        }
        const int now = ++holders;
        for (int seen = mostHolders.load(); now > seen && !mostHolders.compare_exchange_weak(seen, now);) {
        }
        if (i % 3 == 0) std::this_thread::yield();
        --holders;
        if (!ReleaseSemaphore(semaphore, 1, nullptr)) ++refusedReleases;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(lostWaits.load(), 0);
  EXPECT_EQ(refusedReleases.load(), 0);
  EXPECT_LE(mostHolders.load(), kCounts);
  for (LONG i = 0; i < kCounts; ++i) EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  RecordProperty("short time-outs", shortTimeOuts.load());
  CloseHandle(semaphore);
}

// Two threads hand a turn back and forth through two auto-reset events;
// one lost signal stops them both.
TEST(StressTest, AutoResetEventsLoseNoSignal) {
  constexpr int kTurns = 5000;
  const HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> missed{0};
  std::thread other([&] {
    for (int i = 0; i < kTurns; ++i) {
      if (WaitForSingleObject(ping, kNeverMs) != WAIT_OBJECT_0) ++missed;
      SetEvent(pong);
    }
  });
  for (int i = 0; i < kTurns; ++i) {
    SetEvent(ping);
    if (WaitForSingleObject(pong, kNeverMs) != WAIT_OBJECT_0) ++missed;
  }
  other.join();
  EXPECT_EQ(missed.load(), 0);
  CloseHandle(ping);
  CloseHandle(pong);
}

// Holders of one mutex, some taking it twice, add to a plain counter (a
// second holder at once is a data race for ThreadSanitizer and a lost
// count here).
TEST(StressTest, AMutexHasOneOwnerAtATime) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  long counter = 0;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const bool twice = (t + i) % 4 == 0;
        if (WaitForSingleObject(mutex, kNeverMs) != WAIT_OBJECT_0) {
          ++failures;
          continue;
        }
        if (twice && WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) ++failures;
        ++counter;
        if (twice && !ReleaseMutex(mutex)) ++failures;
        if (!ReleaseMutex(mutex)) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  CloseHandle(mutex);
}

// Threads that each take the mutex and end without giving it back, all
// queued at once: each abandonment passes it to exactly one next owner.
TEST(StressTest, AbandonedMutexesPassToOneWaiterEach) {
  constexpr int kThreads = 8;
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  std::atomic<int> clean{0};
  std::atomic<int> abandoned{0};
  std::atomic<int> other{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      switch (WaitForSingleObject(mutex, kNeverMs)) {
        case WAIT_OBJECT_0: ++clean; break;
        case WAIT_ABANDONED: ++abandoned; break;
        default: ++other; break;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(clean.load(), 1);
  EXPECT_EQ(abandoned.load(), kThreads - 1);
  EXPECT_EQ(other.load(), 0);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

// Handles made, used and closed on many threads at once: each stays its
// own, and a closed one is refused.
TEST(StressTest, HandlesOpenedAndClosedOnManyThreads) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 500;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        const HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
        const HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
        if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) ++failures;
        if (WaitForSingleObject(semaphore, 0) != WAIT_TIMEOUT) ++failures;
        if (!CloseHandle(event) || !CloseHandle(semaphore)) ++failures;
        if (SetEvent(event) || GetLastError() != ERROR_INVALID_HANDLE) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// The objects whose units arrivals may take ahead of sleepers, each made
// unsignalled and held by this thread, with how this thread gives one unit
// back and takes one without waiting.
struct UnitCase {
  const char* name;
  std::function<HANDLE()> create;
  std::function<BOOL(HANDLE)> giveBack;
};
const UnitCase kUnitCases[] = {
    {"semaphore", [] { return CreateSemaphoreA(nullptr, 0, 4, nullptr); },
     [](HANDLE object) { return ReleaseSemaphore(object, 1, nullptr); }},
    {"mutex", [] { return CreateMutexA(nullptr, TRUE, nullptr); }, [](HANDLE object) { return ReleaseMutex(object); }},
    {"auto-reset event", [] { return CreateEventA(nullptr, FALSE, FALSE, nullptr); },
     [](HANDLE object) { return SetEvent(object); }},
};

// A unit given back while threads sleep on the object is taken by a thread
// that calls before the woken sleeper gets there: arrivals are not queued
// behind sleepers. The woken thread, finding nothing, stays on its way for
// a while: the next unit given back wakes none of the other sleepers, and
// the woken thread takes it.
TEST(ArrivalTest, AnArrivalTakesAFreeUnitAheadOfSleepersAndTheNextUnitWakesNoOneElse) {
  for (const UnitCase& c : kUnitCases) {
    SCOPED_TRACE(c.name);
    const ScopedStarvationLimit limit(kNoStarvation);
    WokenWaiterGate gate;
    const HANDLE object = c.create();
    ASSERT_NE(object, nullptr);
    WaitingThread first(object, kNeverMs, c.giveBack);
    WaitingThread second(object, kNeverMs, c.giveBack);
    const long secondSwitches = TaskView::VoluntarySwitches(second.tid);

    ASSERT_TRUE(c.giveBack(object));
    gate.AwaitHeld(1);  // woken, not yet at the object
    ASSERT_EQ(WaitForSingleObject(object, 0), WAIT_OBJECT_0);
    gate.Open();
    EXPECT_FALSE(first.done.load());
    ASSERT_TRUE(c.giveBack(object));
    first.AwaitDone();
    EXPECT_EQ(first.result.load(), WAIT_OBJECT_0);
    // The second slept on untouched.
    TaskView::AwaitAsleep(second.tid);
    EXPECT_EQ(TaskView::VoluntarySwitches(second.tid), secondSwitches);
    EXPECT_FALSE(second.done.load());
    first.Join();  // gives the unit back: now the second's
    second.AwaitDone();
    EXPECT_EQ(second.result.load(), WAIT_OBJECT_0);
    second.Join();
    CloseHandle(object);
  }
}

// A waiter queued past the starvation limit is handed the unit given back:
// a thread that calls at once finds nothing.
TEST(StarvationTest, AWaiterQueuedPastTheLimitIsHandedTheNextUnit) {
  for (const UnitCase& c : kUnitCases) {
    SCOPED_TRACE(c.name);
    const ScopedStarvationLimit limit(std::chrono::milliseconds(0));
    const HANDLE object = c.create();
    ASSERT_NE(object, nullptr);
    WaitingThread starved(object, kNeverMs, c.giveBack);
    ASSERT_TRUE(c.giveBack(object));
    EXPECT_EQ(WaitForSingleObject(object, 0), WAIT_TIMEOUT);
    starved.AwaitDone();
    EXPECT_EQ(starved.result.load(), WAIT_OBJECT_0);
    starved.Join();
    CloseHandle(object);
  }
}

// Threads that keep taking and giving back the only count do not keep a
// waiter with a time-out past it, however the wake-ups fall: each such wait
// ends, with the count or with WAIT_TIMEOUT once its time is up.
TEST(TimeOutTest, WaitsEndInTimeWhileOthersKeepTakingTheCount) {
  using Clock = std::chrono::steady_clock;
  const ScopedStarvationLimit limit(kNoStarvation);
  const HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
  std::atomic<bool> stop{false};
  std::vector<std::thread> churners;
  for (int i = 0; i < 3; ++i) {
    churners.emplace_back([&] {
      while (!stop.load()) {
        if (WaitForSingleObject(semaphore, kNeverMs) != WAIT_OBJECT_0) continue;
        std::this_thread::yield();
        ReleaseSemaphore(semaphore, 1, nullptr);
      }
    });
  }
  for (const DWORD ms : {1u, 5u, 20u}) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(testing::Message() << ms << " ms, round " << round);
      const Clock::time_point start = Clock::now();
      const DWORD result = WaitForSingleObject(semaphore, ms);
      const auto elapsed = Clock::now() - start;
      if (result == WAIT_OBJECT_0) {
        ReleaseSemaphore(semaphore, 1, nullptr);
      } else {
        EXPECT_EQ(result, WAIT_TIMEOUT);
        EXPECT_GE(elapsed, std::chrono::milliseconds(ms));
      }
      EXPECT_LT(elapsed, std::chrono::milliseconds(ms) + std::chrono::seconds(5));
    }
  }
  stop = true;
  for (std::thread& t : churners) t.join();
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  CloseHandle(semaphore);
}

// Two threads hand a turn back and forth through two semaphores of one
// count, each wait mostly finding nothing and going to sleep while the
// other gives back without the lock: one lost wake-up stops them both.
TEST(StressTest, SemaphoresWithoutWaitersLoseNoWakeUp) {
  constexpr int kTurns = 20000;
  const HANDLE ping = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  const HANDLE pong = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  std::atomic<int> missed{0};
  std::thread other([&] {
    for (int i = 0; i < kTurns; ++i) {
      if (WaitForSingleObject(ping, kNeverMs) != WAIT_OBJECT_0) ++missed;
      if (!ReleaseSemaphore(pong, 1, nullptr)) ++missed;
    }
  });
  for (int i = 0; i < kTurns; ++i) {
    if (!ReleaseSemaphore(ping, 1, nullptr)) ++missed;
    if (WaitForSingleObject(pong, kNeverMs) != WAIT_OBJECT_0) ++missed;
  }
  other.join();
  EXPECT_EQ(missed.load(), 0);
  EXPECT_EQ(WaitForSingleObject(ping, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(pong, 0), WAIT_TIMEOUT);
  CloseHandle(ping);
  CloseHandle(pong);
}

// A handle a thread has used lately (and so looks up without the table's
// lock) fails once it is closed, on that thread or another, while closing
// other handles leaves it working.
TEST(HandleTest, AHandleUsedLatelyFailsOnceClosed) {
  const HANDLE kept = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  // More handles than the table has shards: some share the kept one's.
  std::vector<HANDLE> others;
  for (int i = 0; i < 40; ++i) others.push_back(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  for (HANDLE h : others) ASSERT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(kept, 0), WAIT_OBJECT_0);
  for (HANDLE h : others) {
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_EQ(WaitForSingleObject(kept, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  std::thread closer([&] { EXPECT_TRUE(CloseHandle(kept)); });
  closer.join();
  EXPECT_EQ(WaitForSingleObject(kept, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(kept));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
