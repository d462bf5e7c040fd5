#include "foundation/sync_event.h"

#include "platform/win32/error.h"
#include "platform/win32/sync.h"

DWORD ToWaitMilliseconds(int64_t timeoutMs) {
  if (timeoutMs < 0) return INFINITE;
  if (timeoutMs >= static_cast<int64_t>(INFINITE)) return INFINITE - 1;
  return static_cast<DWORD>(timeoutMs);
}

SyncEvent::~SyncEvent() { Close(); }

bool SyncEvent::Create(bool manualReset, bool initiallySignalled) {
  Close();
  event_ = CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE,
                        nullptr);
  return event_ != nullptr;
}

void SyncEvent::Close() {
  if (event_ == nullptr) return;
  CloseHandle(event_);
  event_ = nullptr;
}

bool SyncEvent::Set() { return SetEvent(event_) != FALSE; }

bool SyncEvent::Reset() { return ResetEvent(event_) != FALSE; }

int SyncEvent::Wait(int64_t timeoutMs) {
  switch (WaitForSingleObject(event_, ToWaitMilliseconds(timeoutMs))) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return 1;
    case WAIT_TIMEOUT:
      return 0;
    default:
      return -1;
  }
}
