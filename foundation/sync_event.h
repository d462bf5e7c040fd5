// A wrapper of one event object (platform/win32/sync.h).
//
// Create makes an unnamed event, manual- or auto-reset, signalled or not;
// Set, Reset and Wait act on it. Wait answers 1 when the event was signalled
// (or abandoned), 0 on time-out and -1 for any other outcome, such as an
// event that was never created.
//
// Thread safety: Create, Close and destruction are done by the owner while
// no other thread uses the event; Set, Reset and Wait may then come from any
// thread at once.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

// The milliseconds a wait of `timeoutMs` asks of WaitForSingleObject: a
// negative time-out (-1 above all) means no limit (INFINITE), and a time-out
// beyond the longest finite wait is cut to it rather than wrapped.
DWORD ToWaitMilliseconds(int64_t timeoutMs);

class SyncEvent {
 public:
  SyncEvent() = default;
  // Closes the event.
  ~SyncEvent();
  SyncEvent(const SyncEvent&) = delete;
  SyncEvent& operator=(const SyncEvent&) = delete;

  // Creates the event (closing an earlier one). False when the platform
  // refuses.
  bool Create(bool manualReset, bool initiallySignalled);
  // Closes the handle when there is one.
  void Close();
  bool Set();
  bool Reset();
  // Waits up to timeoutMs (-1: without limit); 1 signalled, 0 time-out, -1
  // failure.
  int Wait(int64_t timeoutMs);

 private:
  HANDLE event_ = nullptr;
};
