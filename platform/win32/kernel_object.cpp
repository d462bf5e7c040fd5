#include "platform/win32/kernel_object.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <unordered_map>

#include "platform/win32/sync.h"
#include "platform/win32/thread.h"

namespace win32_internal {
namespace {

struct alignas(64) HandleShard {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
};

// How many handles of a shard were closed, on a line of its own: read by
// every cached look-up, written only by CloseHandle.
struct alignas(64) ShardClosings {
  std::atomic<std::uint64_t> count{0};
};

struct HandleTable {
  static constexpr std::size_t kShards = 16;
  std::array<HandleShard, kShards> shards;
  std::array<ShardClosings, kShards> closings;
  // Handle values are multiples of 4, as on the home platform.
  std::atomic<std::uintptr_t> next{0x1000};

  static std::size_t ShardIndex(std::uintptr_t value) { return (value >> 2) % kShards; }
  HandleShard& ShardOf(std::uintptr_t value) { return shards[ShardIndex(value)]; }
};

HandleTable& Table() {
  static auto* table = new HandleTable;  // outlives every thread at exit
  return *table;
}

// The handles a thread looked up lately, each with its object and the count
// of its shard's closings when it was looked up: while that count stands,
// the handle is still open. An entry keeps its object alive until it is
// replaced or the thread ends (at most kEntries closed objects a thread);
// one pinned by a call in progress is not replaced.
struct ThreadHandleCache {
  static constexpr std::size_t kEntries = 4;
  struct Entry {
    std::uintptr_t value = 0;
    std::uint64_t closings = 0;
    std::shared_ptr<KernelObject> object;
    int pins = 0;
  };
  ~ThreadHandleCache();
  std::array<Entry, kEntries> entries;
  std::size_t next = 0;
};

// Set once the thread's cache is gone (calls made by later destructors of
// the ending thread, or of static objects at exit, look up without it).
thread_local bool threadHandleCacheGone = false;
thread_local ThreadHandleCache threadHandleCache;

ThreadHandleCache::~ThreadHandleCache() { threadHandleCacheGone = true; }

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

  enum State : std::uint32_t { kQueued, kWoken, kSatisfied };

  // Without the lock: sleeps until the state leaves kQueued or `deadline`
  // (on CLOCK_MONOTONIC, the steady clock's; null: none) passes.
  void Sleep(const timespec* deadline) {
    const int savedErrno = errno;
    while (state.load(std::memory_order_acquire) == kQueued) {
      if (syscall(SYS_futex, &state, FUTEX_WAIT_BITSET_PRIVATE, kQueued, deadline, nullptr,
                  FUTEX_BITSET_MATCH_ANY) != 0 &&
          errno == ETIMEDOUT) {
        break;
      }
    }
    errno = savedErrno;
  }
  // Without the lock, while the waiter is not queued: sleeps until
  // `until` (nobody wakes it).
  void Doze(const timespec* until) {
    const int savedErrno = errno;
    syscall(SYS_futex, &state, FUTEX_WAIT_BITSET_PRIVATE, kWoken, until, nullptr, FUTEX_BITSET_MATCH_ANY);
    errno = savedErrno;
  }
  // With or without the lock, after the state was changed under it. The
  // waiter may have seen the change and left already: see the header.
  static void Wake(std::atomic<std::uint32_t>* state) {
    const int savedErrno = errno;
    syscall(SYS_futex, state, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    errno = savedErrno;
  }

  const DWORD threadId;
  // The futex word the waiter sleeps on; changed only under the lock.
  std::atomic<std::uint32_t> state{kQueued};
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  // When it first queued.
  std::chrono::steady_clock::time_point since;
  // Set by the thread that satisfied the wait.
  DWORD result = WAIT_FAILED;
  Waiter* previous = nullptr;
  Waiter* next = nullptr;
};

bool KernelObject::TryAcquire(DWORD threadId, DWORD* result) {
  if (!IsSignaled(threadId)) return false;
  *result = Acquire(threadId);
  return true;
}

namespace {

// A waiter queued this long is handed the next unit given back, out of the
// reach of threads that come meanwhile (settable for tests, in ms).
std::atomic<long> starvationLimitMs{10};
// How long a waiter whose wake-up was in vain first dozes before it looks
// again; each look that finds nothing doubles the doze, up to the longest.
constexpr std::chrono::microseconds kDoze{100};
constexpr std::chrono::microseconds kLongestDoze{1000};

std::atomic<WokenWaiterHook> wokenWaiterHook{nullptr};

timespec ToTimespec(std::chrono::steady_clock::time_point when) {
  const auto sinceEpoch = when.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  timespec result{};
  result.tv_sec = static_cast<time_t>(seconds.count());
  result.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count());
  return result;
}

}  // namespace

WokenWaiterHook SetWokenWaiterHookForTesting(WokenWaiterHook hook) { return wokenWaiterHook.exchange(hook); }

std::chrono::milliseconds SetStarvationLimitForTesting(std::chrono::milliseconds limit) {
  return std::chrono::milliseconds(starvationLimitMs.exchange(static_cast<long>(limit.count())));
}

DWORD KernelObject::Wait(DWORD threadId, DWORD milliseconds, std::chrono::steady_clock::time_point deadline) {
  using Clock = std::chrono::steady_clock;
  DWORD result = WAIT_FAILED;
  // An object taken without the lock does nothing in TakenByCallingThread.
  if (TryAcquireWithoutLock(threadId, &result)) return result;
  std::unique_lock lock(lock_);
  if (TryAcquire(threadId, &result)) {
    TakenByCallingThread();
    return result;
  }
  if (milliseconds == 0) return WAIT_TIMEOUT;
  // From here on the object has a waiter, so changes go through the lock;
  // one made without it before this point is seen now.
  if (!contended_) {
    contended_ = true;
    SetContended(true);
  }
  // Every way out once contended: under the lock.
  const auto leave = [&](DWORD outcome) {
    UpdateContended();
    return outcome;
  };
  const auto take = [&](DWORD outcome) {
    TakenByCallingThread();
    return leave(outcome);
  };
  if (TryAcquire(threadId, &result)) return take(result);

  const bool finite = milliseconds != INFINITE;
  const timespec until = ToTimespec(deadline);
  Waiter waiter(threadId);
  waiter.since = Clock::now();
  waiter.previous = last_;
  (last_ != nullptr ? last_->next : first_) = &waiter;
  last_ = &waiter;
  // While the waiter dozes (it is not queued and counts as woken), how long
  // its last doze was and the time it looks again.
  bool dozing = false;
  std::chrono::microseconds doze{0};
  timespec dozeUntil{};
  for (;;) {
    lock.unlock();
    if (dozing) {
      waiter.Doze(&dozeUntil);
    } else {
      waiter.Sleep(finite ? &until : nullptr);
      if (const WokenWaiterHook hook = wokenWaiterHook.load()) {
        if (waiter.state.load(std::memory_order_acquire) != Waiter::kQueued) hook();
      }
    }
    lock.lock();
    const std::uint32_t state = waiter.state.load(std::memory_order_relaxed);
    if (state == Waiter::kQueued) {
      // The deadline passed and nobody woke the waiter.
      Unlink(&waiter);
      return leave(WAIT_TIMEOUT);
    }
    if (state == Waiter::kSatisfied) return take(waiter.result);
    --woken_;
    if (TryAcquire(threadId, &result)) return take(result);
    // Another thread took what the wake-up was for.
    const Clock::time_point now = Clock::now();
    if (finite && now >= deadline) return leave(WAIT_TIMEOUT);
    if (now - waiter.since < std::chrono::milliseconds(starvationLimitMs.load(std::memory_order_relaxed))) {
      // Dozes, still on its way: a unit given back meanwhile wakes nobody,
      // and is taken by whoever comes, or by this waiter when it looks
      // again. Each look in vain doubles the doze: while others keep
      // taking the units, it looks seldom.
      ++woken_;
      doze = dozing ? std::min(2 * doze, kLongestDoze) : kDoze;
      dozing = true;
      const Clock::time_point look = now + doze;
      dozeUntil = ToTimespec(finite && deadline < look ? deadline : look);
      continue;
    }
    // Due to be handed the next unit: queues at the head again.
    dozing = false;
    waiter.state.store(Waiter::kQueued, std::memory_order_relaxed);
    waiter.next = first_;
    (first_ != nullptr ? first_->previous : last_) = &waiter;
    first_ = &waiter;
  }
}

void KernelObject::SatisfyWaits(std::unique_lock<std::mutex>& lock) {
  // The waiters to wake once the lock is given up, so that they do not
  // wake into a held lock; past the first few (a crowd released at once),
  // they are woken at once.
  std::array<std::atomic<std::uint32_t>*, 8> later;
  std::size_t count = 0;
  const auto wake = [&](Waiter* waiter, std::uint32_t state) {
    Unlink(waiter);
    waiter->state.store(state, std::memory_order_release);
    if (count < later.size()) {
      later[count++] = &waiter->state;
    } else {
      Waiter::Wake(&waiter->state);
    }
  };
  const std::chrono::milliseconds starvationLimit(starvationLimitMs.load(std::memory_order_relaxed));
  std::chrono::steady_clock::time_point now{};
  while (first_ != nullptr) {
    Waiter* waiter = first_;
    const LONG available = Available();
    if (available == kEveryWaiter) {
      waiter->result = Acquire(waiter->threadId);
      wake(waiter, Waiter::kSatisfied);
      continue;
    }
    if (available <= 0) break;
    if (now == std::chrono::steady_clock::time_point{}) now = std::chrono::steady_clock::now();
    if (now - waiter->since >= starvationLimit) {
      // Waited too long: the unit is handed to it, out of the reach of
      // threads that come meanwhile and of woken ones on their way.
      if (!TryAcquire(waiter->threadId, &waiter->result)) break;
      wake(waiter, Waiter::kSatisfied);
      continue;
    }
    if (available <= woken_) break;
    ++woken_;
    wake(waiter, Waiter::kWoken);
  }
  UpdateContended();
  lock.unlock();
  for (std::size_t i = 0; i < count; ++i) Waiter::Wake(later[i]);
}

void KernelObject::UpdateContended() {
  if (contended_ && first_ == nullptr && woken_ == 0) {
    contended_ = false;
    SetContended(false);
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

ObjectRef::~ObjectRef() {
  if (pins_ != nullptr) --*pins_;
}

KernelObject* LookUpHandleForCall(HANDLE handle, ObjectRef* ref) {
  if (threadHandleCacheGone) {
    ref->owned_ = LookUpHandle(handle);
    return ref->object_ = ref->owned_.get();
  }
  ThreadHandleCache& cache = threadHandleCache;
  const std::uintptr_t value = ValueOf(handle);
  HandleTable& table = Table();
  // Read before the shard is: a close after this read changes the count.
  const std::uint64_t closings = table.closings[HandleTable::ShardIndex(value)].count.load(std::memory_order_acquire);
  ThreadHandleCache::Entry* chosen = nullptr;
  for (ThreadHandleCache::Entry& entry : cache.entries) {
    if (entry.value != value || entry.object == nullptr) continue;
    if (entry.closings == closings) {
      ++entry.pins;
      ref->pins_ = &entry.pins;
      return ref->object_ = entry.object.get();
    }
    if (entry.pins == 0) chosen = &entry;  // out of date: looked up again below
  }
  std::shared_ptr<KernelObject> object = LookUpHandle(handle);
  if (object == nullptr) {
    // Closed: the entry no longer keeps its object alive.
    if (chosen != nullptr) *chosen = ThreadHandleCache::Entry();
    return nullptr;
  }
  for (std::size_t tried = 0; chosen == nullptr && tried < cache.entries.size(); ++tried) {
    ThreadHandleCache::Entry& entry = cache.entries[cache.next];
    cache.next = (cache.next + 1) % cache.entries.size();
    if (entry.pins == 0) chosen = &entry;
  }
  if (chosen == nullptr) {
    // Every entry is in use by calls in progress on this thread.
    ref->owned_ = std::move(object);
    return ref->object_ = ref->owned_.get();
  }
  chosen->value = value;
  chosen->closings = closings;
  chosen->object = std::move(object);
  chosen->pins = 1;
  ref->pins_ = &chosen->pins;
  return ref->object_ = chosen->object.get();
}

}  // namespace win32_internal

using namespace win32_internal;

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> closed;  // released after the shard's lock
  HandleTable& table = Table();
  const std::uintptr_t value = ValueOf(handle);
  HandleShard& shard = table.ShardOf(value);
  std::lock_guard guard(shard.lock);
  const auto found = FindEntry(shard, handle);
  if (found == shard.objects.end()) return FALSE;
  closed = std::move(found->second);
  shard.objects.erase(found);
  // After the erase: the threads' cached look-ups of the shard are out of
  // date from here on.
  table.closings[HandleTable::ShardIndex(value)].count.fetch_add(1, std::memory_order_release);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ObjectRef ref;
  KernelObject* const object = LookUpHandleForCall(handle, &ref);
  if (object == nullptr) return WAIT_FAILED;
  if (milliseconds != INFINITE) {
    if (const WaitTimeoutHook hook = waitTimeoutHook.load()) milliseconds = hook(milliseconds);
  }
  // Only a finite wait that may sleep reads the clock (a borrow's first
  // try, with 0, does not).
  std::chrono::steady_clock::time_point deadline{};
  if (milliseconds != 0 && milliseconds != INFINITE) {
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  }
  return object->Wait(GetCurrentThreadId(), milliseconds, deadline);
}

WaitTimeoutHook SetWaitTimeoutHookForTesting(WaitTimeoutHook hook) {
  return waitTimeoutHook.exchange(hook);
}
