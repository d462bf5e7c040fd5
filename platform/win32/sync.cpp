#include "platform/win32/sync.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/win32/error.h"
#include "platform/win32/kernel_object.h"
#include "platform/win32/thread.h"

using namespace win32_internal;

namespace {

class Event : public KernelObject {
 public:
  static constexpr Kind kKind = Kind::kEvent;
  Event(bool manualReset, bool signaled) : KernelObject(kKind), manualReset_(manualReset), signaled_(signaled) {}

  void Set(bool signaled) {
    std::unique_lock lock(lock_);
    signaled_ = signaled;
    if (signaled) SatisfyWaits(lock);
  }

 private:
  LONG Available() const override {
    if (!signaled_) return 0;
    return manualReset_ ? kEveryWaiter : 1;
  }
  DWORD Acquire(DWORD) override {
    if (!manualReset_) signaled_ = false;
    return WAIT_OBJECT_0;
  }

  const bool manualReset_;
  bool signaled_;
};

class Mutex;

// The mutexes a thread owns, given up as abandoned when the thread ends.
// Only the owning thread touches its list.
struct OwnedMutexes {
  std::vector<std::shared_ptr<Mutex>> mutexes;
  ~OwnedMutexes() { AbandonMutexesOfCurrentThread(); }
};

thread_local OwnedMutexes ownedMutexes;

class Mutex : public KernelObject, public std::enable_shared_from_this<Mutex> {
 public:
  static constexpr Kind kKind = Kind::kMutex;
  Mutex() : KernelObject(kKind) {}
  // For CreateMutex with initial ownership.
  void TakeForCallingThread() {
    std::lock_guard lock(lock_);
    Acquire(GetCurrentThreadId());
    TakenByCallingThread();
  }

  bool Release(DWORD threadId) {
    std::unique_lock lock(lock_);
    if (owner_ != threadId || count_ == 0) return false;
    if (--count_ == 0) {
      owner_ = 0;
      auto& owned = ownedMutexes.mutexes;
      for (auto it = owned.begin(); it != owned.end(); ++it) {
        if (it->get() == this) {
          owned.erase(it);
          break;
        }
      }
      SatisfyWaits(lock);
    }
    return true;
  }

  void Abandon() {
    std::unique_lock lock(lock_);
    owner_ = 0;
    count_ = 0;
    abandoned_ = true;
    SatisfyWaits(lock);
  }

 private:
  LONG Available() const override { return owner_ == 0 ? 1 : 0; }
  // The owner takes it again.
  bool IsSignaled(DWORD threadId) const override { return owner_ == 0 || owner_ == threadId; }

  DWORD Acquire(DWORD threadId) override {
    owner_ = threadId;
    ++count_;
    const bool abandoned = abandoned_;
    abandoned_ = false;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }

  // The first hold joins the owner's list (a recursive one is there already).
  void TakenByCallingThread() override {
    if (count_ == 1) ownedMutexes.mutexes.push_back(shared_from_this());
  }

  DWORD owner_ = 0;
  DWORD count_ = 0;
  bool abandoned_ = false;
};

// The count and a flag that says the semaphore has waiters, in one word, so
// that a free count is taken, and a count given back while nobody waits is
// added, without the lock: every change of either is one atomic step on the
// word, and the flag is changed only under the lock. While the flag is set,
// a release takes the lock and wakes waiters as KernelObject tells; a wait
// may still take a free count without it (arrivals are not queued behind
// sleepers).
class Semaphore : public KernelObject {
 public:
  static constexpr Kind kKind = Kind::kSemaphore;
  Semaphore(LONG count, LONG maximum)
      : KernelObject(kKind), word_(static_cast<std::uint64_t>(count)), maximum_(maximum) {}

  bool Release(LONG releaseCount, LONG* previousCount) {
    std::uint64_t word = word_.load(std::memory_order_relaxed);
    while ((word & kContended) == 0) {
      if (releaseCount > maximum_ - CountOf(word)) return false;
      if (word_.compare_exchange_weak(word, word + static_cast<std::uint64_t>(releaseCount))) {
        if (previousCount != nullptr) *previousCount = CountOf(word);
        return true;
      }
    }
    std::unique_lock lock(lock_);
    word = word_.load(std::memory_order_relaxed);
    do {
      if (releaseCount > maximum_ - CountOf(word)) return false;
    } while (!word_.compare_exchange_weak(word, word + static_cast<std::uint64_t>(releaseCount)));
    if (previousCount != nullptr) *previousCount = CountOf(word);
    SatisfyWaits(lock);
    return true;
  }

 private:
  static constexpr std::uint64_t kContended = std::uint64_t{1} << 32;
  static LONG CountOf(std::uint64_t word) { return static_cast<LONG>(word & 0xFFFFFFFFu); }

  bool TakeCount() {
    std::uint64_t word = word_.load(std::memory_order_relaxed);
    while (CountOf(word) > 0) {
      if (word_.compare_exchange_weak(word, word - 1)) return true;
    }
    return false;
  }

  LONG Available() const override { return CountOf(word_.load()); }
  DWORD Acquire(DWORD) override {
    TakeCount();
    return WAIT_OBJECT_0;
  }
  bool TryAcquire(DWORD, DWORD* result) override {
    if (!TakeCount()) return false;
    *result = WAIT_OBJECT_0;
    return true;
  }
  bool TryAcquireWithoutLock(DWORD threadId, DWORD* result) override { return TryAcquire(threadId, result); }
  void SetContended(bool contended) override {
    if (contended) {
      word_.fetch_or(kContended);
    } else {
      word_.fetch_and(~kContended);
    }
  }

  std::atomic<std::uint64_t> word_;
  const LONG maximum_;
};

// Objects are private to the process: there is no namespace to open them by.
template <typename Char>
bool RefuseName(const Char* name) {
  if (name == nullptr) return false;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return true;
}

template <typename Char>
HANDLE CreateEventOf(BOOL manualReset, BOOL initialState, const Char* name) {
  if (RefuseName(name)) return nullptr;
  return InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

template <typename Char>
HANDLE CreateMutexOf(BOOL initialOwner, const Char* name) {
  if (RefuseName(name)) return nullptr;
  auto mutex = std::make_shared<Mutex>();
  if (initialOwner) mutex->TakeForCallingThread();
  return InsertHandle(mutex);
}

template <typename Char>
HANDLE CreateSemaphoreOf(LONG initialCount, LONG maximumCount, const Char* name) {
  if (RefuseName(name)) return nullptr;
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return InsertHandle(std::make_shared<Semaphore>(initialCount, maximumCount));
}

BOOL SetEventState(HANDLE handle, bool signaled) {
  ObjectRef ref;
  Event* const event = LookUpHandleForCallAs<Event>(handle, &ref);
  if (event == nullptr) return FALSE;
  event->Set(signaled);
  return TRUE;
}

}  // namespace

void win32_internal::AbandonMutexesOfCurrentThread() {
  std::vector<std::shared_ptr<Mutex>> owned;
  owned.swap(ownedMutexes.mutexes);
  for (const auto& mutex : owned) mutex->Abandon();
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState, const char* name) {
  return CreateEventOf(manualReset, initialState, name);
}

HANDLE CreateEventW(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState,
                    const wchar_t* name) {
  return CreateEventOf(manualReset, initialState, name);
}

BOOL SetEvent(HANDLE event) { return SetEventState(event, true); }

BOOL ResetEvent(HANDLE event) { return SetEventState(event, false); }

HANDLE CreateMutexA(SECURITY_ATTRIBUTES*, BOOL initialOwner, const char* name) {
  return CreateMutexOf(initialOwner, name);
}

HANDLE CreateMutexW(SECURITY_ATTRIBUTES*, BOOL initialOwner, const wchar_t* name) {
  return CreateMutexOf(initialOwner, name);
}

BOOL ReleaseMutex(HANDLE handle) {
  ObjectRef ref;
  Mutex* const mutex = LookUpHandleForCallAs<Mutex>(handle, &ref);
  if (mutex == nullptr) return FALSE;
  if (!mutex->Release(GetCurrentThreadId())) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES*, LONG initialCount, LONG maximumCount,
                        const char* name) {
  return CreateSemaphoreOf(initialCount, maximumCount, name);
}

HANDLE CreateSemaphoreW(SECURITY_ATTRIBUTES*, LONG initialCount, LONG maximumCount,
                        const wchar_t* name) {
  return CreateSemaphoreOf(initialCount, maximumCount, name);
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount) {
  ObjectRef ref;
  Semaphore* const semaphore = LookUpHandleForCallAs<Semaphore>(handle, &ref);
  if (semaphore == nullptr) return FALSE;
  if (releaseCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!semaphore->Release(releaseCount, previousCount)) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  return TRUE;
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  section->lock = new std::recursive_mutex;
}

void EnterCriticalSection(CRITICAL_SECTION* section) { section->lock->lock(); }

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
  return section->lock->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) { section->lock->unlock(); }

void DeleteCriticalSection(CRITICAL_SECTION* section) {
  delete section->lock;
  section->lock = nullptr;
}

LONG InterlockedIncrement(LONG* target) { return ++std::atomic_ref<LONG>(*target); }

LONG InterlockedDecrement(LONG* target) { return --std::atomic_ref<LONG>(*target); }

LONG InterlockedExchange(LONG* target, LONG value) {
  return std::atomic_ref<LONG>(*target).exchange(value);
}

LONGLONG InterlockedCompareExchange64(LONGLONG* target, LONGLONG exchange, LONGLONG comparand) {
  std::atomic_ref<LONGLONG>(*target).compare_exchange_strong(comparand, exchange);
  return comparand;
}
