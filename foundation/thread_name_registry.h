// The process-wide registry of thread names, which log files print.
//
// Every Thread registers its name when it starts and removes it when its
// body has returned (foundation/thread.h); other threads may register
// themselves too. Registration and removal are logged at level 3 as
// "[DIAG] EVENT=Register_thread" and "[DIAG] EVENT=Unregister_thread" lines.
// From the start of its destruction on the registry is disabled: the map no
// longer changes (Register still logs).
//
// A walk over the entries (First, then Next until it returns false) reads a
// copy of the map taken by First under the lock, in thread-id order, so a
// walk never holds the lock: threads start and stop freely meanwhile, and a
// walk abandoned half-way blocks nobody. Each thread has its own walk; a new
// First starts the calling thread's walk again, and its copy is dropped when
// Next finds no further entry or the thread unregisters.
//
// Thread safety: every operation may be called from any thread at once.
// Instance() is built on first use and destroyed at exit.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "foundation/critical_section.h"
#include "platform/win32/types.h"

class ThreadNameRegistry {
 public:
  ThreadNameRegistry() = default;
  ~ThreadNameRegistry();
  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

  // The process-wide registry.
  static ThreadNameRegistry& Instance();

  // Sets the calling thread's name ("Unnamed" for null), replacing an
  // earlier one.
  void Register(const char* name);
  // Removes the calling thread's entry (and its walk); logs only when there
  // was an entry.
  void Unregister();

  // The first entry of a fresh copy of the map; false when it is empty.
  bool First(DWORD* id, std::string* name);
  // The next entry of the calling thread's walk; false at its end (or
  // without a walk).
  bool Next(DWORD* id, std::string* name);

 private:
  struct Walk {
    std::vector<std::pair<DWORD, std::string>> entries;
    size_t next = 0;
  };

  std::atomic<bool> enabled_{true};
  CriticalSection lock_;
  // Guarded by lock_.
  std::map<DWORD, std::string> names_;
  std::map<DWORD, Walk> walks_;  // by the walking thread's id
};
