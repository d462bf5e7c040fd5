#include "foundation/critical_section.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/win32/thread.h"

namespace {

using namespace std::chrono_literals;

// Another thread that takes the lock as soon as it can and holds it until
// the contender is destroyed.
class Contender {
 public:
  explicit Contender(CriticalSection& lock)
      : thread_([this, &lock] {
          lock.Lock();
          id_ = GetCurrentThreadId();
          entered_ = true;
          while (!release_) std::this_thread::sleep_for(1ms);
          lock.Unlock();
        }) {}
  ~Contender() {
    release_ = true;
    thread_.join();
  }

  bool EnteredWithin(std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!entered_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    return entered_;
  }
  DWORD Id() const { return id_; }

 private:
  std::atomic<bool> entered_{false};
  std::atomic<bool> release_{false};
  std::atomic<DWORD> id_{0};
  std::thread thread_;
};

TEST(CriticalSection, TwoLocksNeedTwoUnlocksBeforeAnotherThreadGetsIn) {
  CriticalSection lock;
  EXPECT_EQ(lock.GetOwnerThreadId(), 0u);
  lock.Lock();
  lock.Lock();
  const DWORD self = GetCurrentThreadId();
  EXPECT_EQ(lock.GetOwnerThreadId(), self);
  {
    Contender other(lock);
    lock.Unlock();
    EXPECT_FALSE(other.EnteredWithin(50ms));
    EXPECT_EQ(lock.GetOwnerThreadId(), self);
    lock.Unlock();
    ASSERT_TRUE(other.EnteredWithin(5s));
    EXPECT_EQ(lock.GetOwnerThreadId(), other.Id());
  }
  EXPECT_EQ(lock.GetOwnerThreadId(), 0u);
}

TEST(CriticalSection, UnlockWhenFreeChangesNothing) {
  CriticalSection lock;
  lock.Unlock();
  lock.Unlock();
  EXPECT_EQ(lock.GetOwnerThreadId(), 0u);
  // One Lock is still undone by one Unlock: the stray calls left no credit.
  lock.Lock();
  lock.Unlock();
  Contender other(lock);
  EXPECT_TRUE(other.EnteredWithin(5s));
}

TEST(CriticalSection, UnlockByAThreadThatDoesNotOwnItChangesNothing) {
  CriticalSection lock;
  lock.Lock();
  const DWORD self = GetCurrentThreadId();
  std::thread([&lock] { lock.Unlock(); }).join();
  EXPECT_EQ(lock.GetOwnerThreadId(), self);
  {
    Contender other(lock);
    EXPECT_FALSE(other.EnteredWithin(50ms));
    lock.Unlock();
    EXPECT_TRUE(other.EnteredWithin(5s));
  }
  EXPECT_EQ(lock.GetOwnerThreadId(), 0u);
}

TEST(ScopedLock, HoldsTheLockForItsScopeAndNests) {
  CriticalSection lock;
  std::optional<Contender> other;
  {
    ScopedLock outer(&lock);
    {
      ScopedLock inner(&lock);
      ScopedLock none(nullptr);
    }
    EXPECT_EQ(lock.GetOwnerThreadId(), GetCurrentThreadId());
    other.emplace(lock);
    EXPECT_FALSE(other->EnteredWithin(50ms));
  }
  EXPECT_TRUE(other->EnteredWithin(5s));
  other.reset();
  EXPECT_EQ(lock.GetOwnerThreadId(), 0u);
}

}  // namespace
