#include "platform/win32/kernel_object.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <unordered_map>

#include "platform/win32/sync.h"
#include "platform/win32/thread.h"

namespace win32_internal {
namespace {

struct alignas(64) HandleShard {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
};

struct HandleTable {
  std::array<HandleShard, 16> shards;
  // Handle values are multiples of 4, as on the home platform.
  std::atomic<std::uintptr_t> next{0x1000};

  HandleShard& ShardOf(std::uintptr_t value) { return shards[(value >> 2) % shards.size()]; }
};

HandleTable& Table() {
  static auto* table = new HandleTable;  // outlives every thread at exit
  return *table;
}

std::atomic<WaitTimeoutHook> waitTimeoutHook{nullptr};

std::uintptr_t ValueOf(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

// With the shard's lock held: the entry of `handle`, or end() with
// ERROR_INVALID_HANDLE as the last error.
auto FindEntry(HandleShard& shard, HANDLE handle) {
  const auto found = shard.objects.find(ValueOf(handle));
  if (found == shard.objects.end()) SetLastError(ERROR_INVALID_HANDLE);
  return found;
}

}  // namespace

// One thread's wait, on that thread's stack.
struct KernelObject::Waiter {
  explicit Waiter(DWORD threadId) : threadId(threadId) {}

  enum State { kQueued, kWoken, kSatisfied };

  const DWORD threadId;
  std::condition_variable wake;
  // Wakers that changed the state and have yet to notify `wake` outside the
  // lock (a waiter woken in vain and queued again may be woken by another
  // before the first has notified); the waiter leaves only when none is
  // left.
  std::atomic<int> notifying{0};
  State state = kQueued;
  // Set by the thread that satisfied the wait.
  DWORD result = WAIT_FAILED;
  Waiter* previous = nullptr;
  Waiter* next = nullptr;
};

DWORD KernelObject::Wait(DWORD threadId, DWORD milliseconds, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(lock_);
  if (!IsSignaled(threadId)) {
    if (milliseconds == 0) return WAIT_TIMEOUT;
    Waiter waiter(threadId);
    waiter.previous = last_;
    (last_ != nullptr ? last_->next : first_) = &waiter;
    last_ = &waiter;
    const auto woken = [&] { return waiter.state != Waiter::kQueued; };
    // Every way out once queued: gives up the lock and lets the wakers
    // still on their way finish with the waiter.
    const auto leave = [&](DWORD result) {
      lock.unlock();
      while (waiter.notifying.load(std::memory_order_acquire) != 0) std::this_thread::yield();
      return result;
    };
    for (;;) {
      if (milliseconds == INFINITE) {
        waiter.wake.wait(lock, woken);
      } else if (!waiter.wake.wait_until(lock, deadline, woken)) {
        Unlink(&waiter);
        return leave(WAIT_TIMEOUT);
      }
      if (waiter.state == Waiter::kSatisfied) {
        TakenByCallingThread();
        return leave(waiter.result);
      }
      --woken_;
      if (IsSignaled(threadId)) {
        const DWORD result = Acquire(threadId);
        TakenByCallingThread();
        return leave(result);
      }
      // Another thread took what the wake-up was for.
      if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) return leave(WAIT_TIMEOUT);
      waiter.state = Waiter::kQueued;
      waiter.next = first_;
      (first_ != nullptr ? first_->previous : last_) = &waiter;
      first_ = &waiter;
    }
  }
  const DWORD result = Acquire(threadId);
  TakenByCallingThread();
  return result;
}

void KernelObject::SatisfyWaits(std::unique_lock<std::mutex>& lock) {
  // The waiters to notify once the lock is given up, so that they do not
  // wake into a held lock; past the first few (a crowd released at once),
  // they are notified at once.
  std::array<Waiter*, 8> later;
  std::size_t count = 0;
  const LONG available = Available();
  while (first_ != nullptr && available > woken_) {
    Waiter* waiter = first_;
    Unlink(waiter);
    if (available == kEveryWaiter) {
      waiter->result = Acquire(waiter->threadId);
      waiter->state = Waiter::kSatisfied;
    } else {
      waiter->state = Waiter::kWoken;
      ++woken_;
    }
    if (count < later.size()) {
      waiter->notifying.fetch_add(1, std::memory_order_relaxed);
      later[count++] = waiter;
    } else {
      waiter->wake.notify_one();
    }
  }
  lock.unlock();
  for (std::size_t i = 0; i < count; ++i) {
    later[i]->wake.notify_one();
    // The last touch: the waiter may leave from here on.
    later[i]->notifying.fetch_sub(1, std::memory_order_release);
  }
}

void KernelObject::Unlink(Waiter* waiter) {
  (waiter->previous != nullptr ? waiter->previous->next : first_) = waiter->next;
  (waiter->next != nullptr ? waiter->next->previous : last_) = waiter->previous;
  waiter->previous = waiter->next = nullptr;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  const std::uintptr_t value = table.next.fetch_add(4);
  HandleShard& shard = table.ShardOf(value);
  std::lock_guard guard(shard.lock);
  shard.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle) {
  HandleShard& shard = Table().ShardOf(ValueOf(handle));
  std::lock_guard guard(shard.lock);
  const auto found = FindEntry(shard, handle);
  return found == shard.objects.end() ? nullptr : found->second;
}

}  // namespace win32_internal

using namespace win32_internal;

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> closed;  // released after the shard's lock
  HandleShard& shard = Table().ShardOf(ValueOf(handle));
  std::lock_guard guard(shard.lock);
  const auto found = FindEntry(shard, handle);
  if (found == shard.objects.end()) return FALSE;
  closed = std::move(found->second);
  shard.objects.erase(found);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::shared_ptr<KernelObject> object = LookUpHandle(handle);
  if (object == nullptr) return WAIT_FAILED;
  if (milliseconds != INFINITE) {
    if (const WaitTimeoutHook hook = waitTimeoutHook.load()) milliseconds = hook(milliseconds);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  return object->Wait(GetCurrentThreadId(), milliseconds, deadline);
}

WaitTimeoutHook SetWaitTimeoutHookForTesting(WaitTimeoutHook hook) {
  return waitTimeoutHook.exchange(hook);
}
