#include "platform/win32/kernel_object.h"

#include <atomic>
#include <chrono>
#include <unordered_map>

#include "platform/win32/sync.h"
#include "platform/win32/thread.h"

namespace win32_internal {
namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
  // Handle values are multiples of 4, as on the home platform.
  std::uintptr_t next = 0x1000;
};

HandleTable& Table() {
  static auto* table = new HandleTable;  // outlives every thread at exit
  return *table;
}

std::atomic<WaitTimeoutHook> waitTimeoutHook{nullptr};

// With the table lock held: the entry of `handle`, or end() with
// ERROR_INVALID_HANDLE as the last error.
auto FindEntry(HandleTable& table, HANDLE handle) {
  const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == table.objects.end()) SetLastError(ERROR_INVALID_HANDLE);
  return found;
}

}  // namespace

std::mutex& KernelLock() {
  static auto* lock = new std::mutex;  // outlives every thread at exit
  return *lock;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard guard(table.lock);
  const std::uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard guard(table.lock);
  const auto found = FindEntry(table, handle);
  return found == table.objects.end() ? nullptr : found->second;
}

}  // namespace win32_internal

using namespace win32_internal;

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> closed;  // released after the table lock
  HandleTable& table = Table();
  std::lock_guard guard(table.lock);
  const auto found = FindEntry(table, handle);
  if (found == table.objects.end()) return FALSE;
  closed = std::move(found->second);
  table.objects.erase(found);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::shared_ptr<KernelObject> object = LookUpHandle(handle);
  if (object == nullptr) return WAIT_FAILED;
  const DWORD self = GetCurrentThreadId();
  if (milliseconds != INFINITE) {
    if (const WaitTimeoutHook hook = waitTimeoutHook.load()) milliseconds = hook(milliseconds);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(KernelLock());
  const auto signaled = [&] { return object->IsSignaled(self); };
  if (milliseconds == INFINITE) {
    object->changed.wait(lock, signaled);
  } else if (!object->changed.wait_until(lock, deadline, signaled)) {
    return WAIT_TIMEOUT;
  }
  return object->Acquire(self);
}

WaitTimeoutHook SetWaitTimeoutHookForTesting(WaitTimeoutHook hook) {
  return waitTimeoutHook.exchange(hook);
}
