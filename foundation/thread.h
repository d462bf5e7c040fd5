// The worker-thread base class.
//
// A derived class supplies Run, the thread's body, which must return once
// the stop event is set (GetStopEvent().Wait(...) returns 1). Start runs
// Run on a new thread, named in ThreadNameRegistry for the thread's life;
// Stop sets the stop event and waits for the thread to end.
//
// Life cycle: created (no thread) -> Start -> running -> Stop -> created
// again, and a new Start is allowed. The stop event stays set after Stop
// until the next Start resets it.
//
// A thread is never killed. When a timed Stop gives up, the thread is
// logged as hung ("Thread::Stop() - hung thread ...", level 1) and stays
// joinable: the object keeps its handle, Start refuses to begin a second
// thread while that one runs, a later Stop waits for it again, and the
// destructor waits for it without limit so that the object is never freed
// under its own thread. Once the earlier thread has really ended, Start and
// Stop work as from a fresh object.
//
// The destructor stops the thread, but only after the derived parts of the
// object are gone: a derived class whose Run uses its own members stops the
// thread in its own destructor.
//
// Priorities (SetPriority) are stored and applied to a started thread as
// -2 .. 2 themselves, anything lower as idle and anything higher as time
// critical (platform/win32/thread.h); 0 leaves the default.
//
// Thread safety: Start, Stop, SetPriority and destruction belong to one
// controlling thread; SignalStop may come from any thread.
#pragma once

#include <optional>
#include <string>

#include "foundation/sync_event.h"
#include "platform/win32/types.h"

class Thread {
 public:
  // `name` (may be null: the thread is then "Unnamed") is copied.
  explicit Thread(const char* name);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // False while an earlier thread of this object runs, or when the thread
  // cannot be created (logged).
  virtual bool Start();
  // Sets the stop event and waits up to timeoutMs (-1: without limit) for
  // the thread to end. Does nothing without a thread.
  virtual void Stop(int timeoutMs);
  virtual void Stop();
  // Sets the stop event; from any thread.
  virtual void SignalStop();

  void SetPriority(int priority);

 protected:
  // The thread's body; returns when the stop event is set.
  virtual void Run() = 0;

  SyncEvent& GetStopEvent() { return stopEvent_; }
  // The running thread's handle, null while there is none.
  HANDLE GetThreadHandle() const { return thread_; }

 private:
  friend unsigned ThreadStart(void* thread);

  int priority_ = 0;
  SyncEvent stopEvent_;  // manual-reset
  HANDLE thread_ = nullptr;
  unsigned threadId_ = 0;
  std::optional<std::string> name_;
};

// The thread function of every Thread (`thread` is the Thread*): registers
// the thread's name, runs Run and unregisters the thread, also when Run
// leaves by an exception (which goes no further). Returns 0.
unsigned ThreadStart(void* thread);
