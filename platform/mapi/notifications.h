// The advise registrations of one session and the dispatcher thread that
// calls their sinks (see "Notifications" in platform/mapi/mapi.h).
//
// A registration watches one object's save count (objects.version). A save
// through the session reports its new count with Saved at once; the
// dispatcher also reads the counts of the watched objects through its own
// connection every kMapiNotificationPollMilliseconds, once the file changed,
// to notice saves of other sessions and processes. Either way a count above
// the one last seen queues one notification; the sink is called on the
// dispatcher thread with no lock held, with a reference taken for the call.
//
// Internal to platform/mapi. Thread safety: every member may be called from
// any thread, the dispatcher's included (a sink may Unadvise from its
// OnNotify); the destructor may run on the dispatcher thread too, and never
// waits for a callback in progress.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/mapi/mapi.h"

namespace mapi_internal {

class NotificationHub {
 public:
  // `path` is the profile file the dispatcher polls.
  explicit NotificationHub(std::string path);
  ~NotificationHub();
  NotificationHub(const NotificationHub&) = delete;
  NotificationHub& operator=(const NotificationHub&) = delete;

  // Registers `sink` (taking a reference) for the saves of `object` that
  // raise its save count above `version`; returns the connection number.
  ULONG Advise(std::int64_t object, ULONG objectType, std::string entryId, std::string parentId,
               ULONG eventMask, IMAPIAdviseSink* sink, std::int64_t version);
  // Ends a registration and releases its sink; false when there is none.
  bool Unadvise(ULONG connection);
  // `object` was saved with save count `version` through this session.
  void Saved(std::int64_t object, std::int64_t version);

 private:
  struct State;
  static void Run(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace mapi_internal
