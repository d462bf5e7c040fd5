#include "foundation/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "foundation/log_capture_for_tests.h"
#include "foundation/thread_name_registry.h"
#include "platform/win32/thread.h"

namespace {

using namespace std::chrono_literals;

// What a Worker's body reports; outlives the worker.
struct Probe {
  Probe() {
    entered.Create(false, false);
    release.Create(true, false);
  }
  // Waits until a run is inside Run.
  bool Entered() { return entered.Wait(5000) == 1; }

  SyncEvent entered;   // set by each run once it is inside Run
  SyncEvent release;   // a hanging body waits for this instead of the stop event
  bool hang = false;
  bool fail = false;   // the body throws once inside
  std::atomic<DWORD> id{0};
  std::atomic<int> runs{0};  // bodies that reached their end
};

class Worker : public Thread {
 public:
  Worker(const char* name, Probe* probe) : Thread(name), probe_(probe) {}
  ~Worker() override { Stop(); }
  using Thread::GetThreadHandle;

 protected:
  void Run() override {
    Probe* probe = probe_;
    probe->id = GetCurrentThreadId();
    probe->entered.Set();
    if (probe->fail) throw std::runtime_error("body failed");
    if (probe->hang) {
      probe->release.Wait(-1);
    } else {
      GetStopEvent().Wait(-1);
    }
    GetStopEvent().Wait(0);  // the object is still alive here
    ++probe->runs;
  }

 private:
  Probe* probe_;
};

// A worker whose destructor leaves the stopping to the base class, as an
// object freed after a timed-out Stop does.
class BareWorker : public Thread {
 public:
  explicit BareWorker(Probe* probe) : Thread("bare"), probe_(probe) {}

 protected:
  void Run() override {
    Probe* probe = probe_;  // read while the derived part still exists
    probe->entered.Set();
    probe->release.Wait(-1);
    GetStopEvent().Wait(0);  // touches the object after the release
    ++probe->runs;
  }

 private:
  Probe* probe_;
};

std::string Hex(uint64_t value, bool upper = true) {
  std::ostringstream text;
  if (upper) text << std::uppercase;
  text << std::hex << value;
  return text.str();
}

// Polls `done` for up to five seconds.
template <typename Condition>
bool WaitUntil(Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool NameIsRegistered(DWORD id, const std::string& expected) {
  ThreadNameRegistry& names = ThreadNameRegistry::Instance();
  DWORD walkId;
  std::string name;
  bool found = false;
  for (bool more = names.First(&walkId, &name); more; more = names.Next(&walkId, &name)) {
    if (walkId == id) found = name == expected;
  }
  return found;
}

TEST(Thread, StartRunsTheBodyOnceAndStopEndsIt) {
  Probe probe;
  Worker worker("worker", &probe);
  EXPECT_EQ(worker.GetThreadHandle(), nullptr);
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(probe.Entered());
  EXPECT_NE(probe.id.load(), GetCurrentThreadId());
  EXPECT_FALSE(worker.Start());  // the first thread still runs
  EXPECT_EQ(probe.entered.Wait(100), 0);
  worker.Stop();
  EXPECT_EQ(worker.GetThreadHandle(), nullptr);
  EXPECT_EQ(probe.runs, 1);
  worker.Stop();  // without a thread: nothing
}

TEST(Thread, SignalStopFromAnotherThreadEndsTheBody) {
  Probe probe;
  Worker worker("worker", &probe);
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(probe.Entered());
  std::thread([&worker] { worker.SignalStop(); }).join();
  EXPECT_TRUE(WaitUntil([&] { return probe.runs == 1; }));
}

TEST(Thread, TimedStopOfABlockedThreadLogsItHungAndKeepsItJoinable) {
  LogCapture capture;
  Probe probe;
  probe.hang = true;
  Worker worker("hung", &probe);
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(probe.Entered());
  HANDLE handle = worker.GetThreadHandle();

  worker.Stop(0);

  bool logged = false;
  for (const CapturedLogLine& line : capture.Taken()) {
    if (line.text.rfind("Thread::Stop()", 0) != 0) continue;
    logged = true;
    EXPECT_EQ(line.level, 1);
    EXPECT_EQ(line.text, "Thread::Stop() - hung thread Id=0x" + Hex(probe.id) + ", Handle=0x" +
                             Hex(reinterpret_cast<std::uintptr_t>(handle), false) +
                             ", timeout=0 ms");
  }
  EXPECT_TRUE(logged);
  EXPECT_EQ(worker.GetThreadHandle(), handle);
  EXPECT_FALSE(worker.Start());  // the hung thread is still alive

  probe.release.Set();
  worker.Stop();
  EXPECT_EQ(worker.GetThreadHandle(), nullptr);
  EXPECT_EQ(probe.runs, 1);

  // Once the thread has really ended the object starts afresh.
  probe.hang = false;
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(probe.Entered());
  worker.Stop(5000);
  EXPECT_EQ(worker.GetThreadHandle(), nullptr);
  EXPECT_EQ(probe.runs, 2);
}

TEST(Thread, StartAfterAHungThreadEndedReplacesIt) {
  Probe probe;
  probe.hang = true;
  Worker worker("hung", &probe);
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(probe.Entered());
  worker.Stop(0);
  probe.release.Set();
  // Refused until the ended thread has finished its exit.
  ASSERT_TRUE(WaitUntil([&] { return worker.Start(); }));
  ASSERT_TRUE(probe.Entered());
  probe.release.Set();
  worker.Stop();
  EXPECT_EQ(probe.runs, 2);
}

TEST(Thread, DestructorAfterATimedOutStopWaitsForTheThread) {
  Probe probe;
  auto* worker = new BareWorker(&probe);
  ASSERT_TRUE(worker->Start());
  ASSERT_TRUE(probe.Entered());
  worker->Stop(0);
  std::thread releaser([&probe] {
    std::this_thread::sleep_for(100ms);
    probe.release.Set();
  });
  delete worker;  // must not free the object under its running thread
  EXPECT_EQ(probe.runs, 1);
  releaser.join();
}

TEST(Thread, PrioritiesMapToThePlatformLevels) {
  const struct {
    int requested;
    int applied;
  } cases[] = {
      {-100, THREAD_PRIORITY_IDLE}, {-3, THREAD_PRIORITY_IDLE}, {-2, -2}, {-1, -1}, {0, 0},
      {1, 1}, {2, 2}, {3, THREAD_PRIORITY_TIME_CRITICAL}, {7, THREAD_PRIORITY_TIME_CRITICAL},
  };
  Probe probe;
  Worker worker("prio", &probe);
  ASSERT_TRUE(worker.Start());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.requested);
    worker.SetPriority(c.requested);
    EXPECT_EQ(GetThreadPriority(worker.GetThreadHandle()), c.applied);
  }
  worker.Stop();

  // A priority stored before Start is applied when the thread starts.
  worker.SetPriority(7);
  ASSERT_TRUE(worker.Start());
  EXPECT_EQ(GetThreadPriority(worker.GetThreadHandle()), THREAD_PRIORITY_TIME_CRITICAL);
  worker.SetPriority(-3);
  EXPECT_EQ(GetThreadPriority(worker.GetThreadHandle()), THREAD_PRIORITY_IDLE);
}

TEST(Thread, NamesAreRegisteredForTheThreadsLifeAndLogged) {
  LogCapture capture;
  const struct {
    const char* name;
    std::string registered;
  } cases[] = {{"Worker-A", "Worker-A"}, {nullptr, "Unnamed"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.registered);
    Probe probe;
    Worker worker(c.name, &probe);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(probe.Entered());
    EXPECT_TRUE(NameIsRegistered(probe.id, c.registered));
    worker.Stop();
    EXPECT_FALSE(NameIsRegistered(probe.id, c.registered));

    const std::string id = Hex(probe.id);
    const std::wstring registerLine = L"[DIAG] EVENT=Register_thread, THREADID=0x" +
                                      std::wstring(id.begin(), id.end()) + L", THREADNAME=\"" +
                                      std::wstring(c.registered.begin(), c.registered.end()) +
                                      L"\"";
    const std::string unregisterLine = "[DIAG] EVENT=Unregister_thread, THREADID=0x" + id +
                                       ", THREADNAME=\"" + c.registered + "\"";
    int registered = 0, unregistered = 0;
    for (const CapturedLogLine& line : capture.Taken()) {
      if (line.wide && line.wtext == registerLine && line.level == 3) ++registered;
      if (!line.wide && line.text == unregisterLine && line.level == 3) ++unregistered;
    }
    EXPECT_EQ(registered, 1);
    EXPECT_EQ(unregistered, 1);
  }
}

TEST(Thread, ABodyThatThrowsStillUnregistersItsThread) {
  Probe probe;
  probe.fail = true;
  Worker worker("thrower", &probe);
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(probe.Entered());
  worker.Stop();
  EXPECT_FALSE(NameIsRegistered(probe.id, "thrower"));
  EXPECT_EQ(probe.runs, 0);
}

}  // namespace
