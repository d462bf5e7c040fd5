#include "foundation/thread_name_registry.h"

#include <utility>

#include "foundation/log_hook.h"
#include "foundation/zev_string.h"
#include "platform/win32/thread.h"

ThreadNameRegistry::~ThreadNameRegistry() { enabled_.store(false); }

ThreadNameRegistry& ThreadNameRegistry::Instance() {
  static ThreadNameRegistry instance;
  return instance;
}

void ThreadNameRegistry::Register(const char* name) {
  if (name == nullptr) name = "Unnamed";
  const DWORD id = GetCurrentThreadId();
  if (enabled_.load()) {
    ScopedLock hold(&lock_);
    names_[id] = name;
  }
  const zev::ZEVString wideName(name, false);
  FoundationLogMessageW(3, L"[DIAG] EVENT=Register_thread, THREADID=0x%X, THREADNAME=\"%s\"",
                        id, wideName.GetWide());
}

void ThreadNameRegistry::Unregister() {
  if (!enabled_.load()) return;
  const DWORD id = GetCurrentThreadId();
  std::string name;
  {
    ScopedLock hold(&lock_);
    walks_.erase(id);
    auto entry = names_.find(id);
    if (entry == names_.end()) return;
    name = std::move(entry->second);
    names_.erase(entry);
  }
  FoundationLogMessage(3, "[DIAG] EVENT=Unregister_thread, THREADID=0x%X, THREADNAME=\"%s\"", id,
                       name.c_str());
}

bool ThreadNameRegistry::First(DWORD* id, std::string* name) {
  {
    ScopedLock hold(&lock_);
    Walk& walk = walks_[GetCurrentThreadId()];
    walk.entries.assign(names_.begin(), names_.end());
    walk.next = 0;
  }
  return Next(id, name);
}

bool ThreadNameRegistry::Next(DWORD* id, std::string* name) {
  ScopedLock hold(&lock_);
  auto walk = walks_.find(GetCurrentThreadId());
  if (walk == walks_.end()) return false;
  if (walk->second.next == walk->second.entries.size()) {
    walks_.erase(walk);
    return false;
  }
  const auto& entry = walk->second.entries[walk->second.next++];
  if (id != nullptr) *id = entry.first;
  if (name != nullptr) *name = entry.second;
  return true;
}
