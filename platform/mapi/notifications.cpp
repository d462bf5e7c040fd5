#include "platform/mapi/notifications.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/mapi/database.h"

namespace mapi_internal {

struct NotificationHub::State {
  struct Registration {
    std::int64_t object;
    ULONG objectType;
    std::string entryId;
    std::string parentId;
    ULONG eventMask;
    IMAPIAdviseSink* sink;
    std::int64_t seenVersion;
  };

  std::string path;
  std::mutex lock;
  std::condition_variable wake;
  bool stop = false;
  ULONG nextConnection = 1;
  std::map<ULONG, Registration> registrations;
  std::deque<ULONG> queue;  // connections with a notification due

  // Queues a notification for every registration of `object` that has not
  // seen `version`. Called with `lock` held.
  void Raise(std::int64_t object, std::int64_t version) {
    for (auto& [connection, registration] : registrations) {
      if (registration.object != object || version <= registration.seenVersion) continue;
      registration.seenVersion = version;
      if ((registration.eventMask & fnevObjectModified) != 0) queue.push_back(connection);
    }
  }
};

NotificationHub::NotificationHub(std::string path) : state_(std::make_shared<State>()) {
  state_->path = std::move(path);
  thread_ = std::thread(&NotificationHub::Run, state_);
}

NotificationHub::~NotificationHub() {
  std::vector<IMAPIAdviseSink*> sinks;
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->stop = true;
    for (auto& [connection, registration] : state_->registrations) sinks.push_back(registration.sink);
    state_->registrations.clear();
    state_->queue.clear();
  }
  state_->wake.notify_all();
  // Never waits: a callback in progress may be waiting for a lock of the
  // thread that let the session go (or be that thread). The dispatcher ends
  // by itself once the callback returns; it owns the state it uses.
  thread_.detach();
  for (IMAPIAdviseSink* sink : sinks) sink->Release();
}

ULONG NotificationHub::Advise(std::int64_t object, ULONG objectType, std::string entryId,
                              std::string parentId, ULONG eventMask, IMAPIAdviseSink* sink,
                              std::int64_t version) {
  sink->AddRef();
  std::lock_guard<std::mutex> hold(state_->lock);
  const ULONG connection = state_->nextConnection++;
  state_->registrations.emplace(
      connection, State::Registration{object, objectType, std::move(entryId), std::move(parentId),
                                      eventMask, sink, version});
  state_->wake.notify_all();  // the dispatcher starts looking at the file
  return connection;
}

bool NotificationHub::Unadvise(ULONG connection) {
  IMAPIAdviseSink* sink = nullptr;
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    auto found = state_->registrations.find(connection);
    if (found == state_->registrations.end()) return false;
    sink = found->second.sink;
    state_->registrations.erase(found);
  }
  sink->Release();
  return true;
}

void NotificationHub::Saved(std::int64_t object, std::int64_t version) {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->Raise(object, version);
    if (state_->queue.empty()) return;
  }
  state_->wake.notify_all();
}

namespace {

// Reads the save counts of `objects` when the file changed since the last
// look; false when it did not (or cannot be read now).
bool ReadVersions(const std::string& path, std::unique_ptr<Database>* db, std::int64_t* dataVersion,
                  const std::vector<std::int64_t>& objects,
                  std::vector<std::pair<std::int64_t, std::int64_t>>* versions) {
  Failure failure;
  if (*db == nullptr && FAILED(Database::Open(path, false, db, &failure))) return false;
  Statement changed;
  bool row = false;
  if (FAILED((*db)->Prepare("PRAGMA data_version", &changed, &failure)) ||
      FAILED(changed.Step(&row, &failure)) || !row) {
    return false;
  }
  const std::int64_t now = changed.Int(0);
  if (now == *dataVersion) return false;
  *dataVersion = now;
  for (std::int64_t object : objects) {
    Statement read;
    if (FAILED((*db)->Prepare("SELECT version FROM objects WHERE id = ?", &read, &failure))) {
      return false;
    }
    read.Bind(1, object);
    if (SUCCEEDED(read.Step(&row, &failure)) && row) versions->emplace_back(object, read.Int(0));
  }
  return true;
}

}  // namespace

void NotificationHub::Run(std::shared_ptr<State> state) {
  using Clock = std::chrono::steady_clock;
  const auto interval = std::chrono::milliseconds(kMapiNotificationPollMilliseconds);
  std::unique_ptr<Database> db;
  std::int64_t dataVersion = -1;
  Clock::time_point nextLook = Clock::now();

  std::unique_lock<std::mutex> lock(state->lock);
  while (!state->stop) {
    if (state->queue.empty()) {
      if (state->registrations.empty()) {
        state->wake.wait(lock);
        continue;
      }
      if (Clock::now() < nextLook) {
        state->wake.wait_until(lock, nextLook);
        continue;
      }
      std::vector<std::int64_t> objects;
      for (const auto& [connection, registration] : state->registrations) {
        objects.push_back(registration.object);
      }
      lock.unlock();
      std::vector<std::pair<std::int64_t, std::int64_t>> versions;
      ReadVersions(state->path, &db, &dataVersion, objects, &versions);
      lock.lock();
      for (const auto& [object, version] : versions) state->Raise(object, version);
      nextLook = Clock::now() + interval;
      continue;
    }

    const ULONG connection = state->queue.front();
    state->queue.pop_front();
    auto found = state->registrations.find(connection);
    if (found == state->registrations.end()) continue;  // unadvised meanwhile
    IMAPIAdviseSink* sink = found->second.sink;
    std::string entryId = found->second.entryId;
    std::string parentId = found->second.parentId;
    const ULONG objectType = found->second.objectType;
    sink->AddRef();
    lock.unlock();

    NOTIFICATION notification{};
    notification.ulEventType = fnevObjectModified;
    notification.info.obj.cbEntryID = static_cast<ULONG>(entryId.size());
    notification.info.obj.lpEntryID = reinterpret_cast<LPENTRYID>(entryId.data());
    notification.info.obj.ulObjType = objectType;
    notification.info.obj.cbParentID = static_cast<ULONG>(parentId.size());
    notification.info.obj.lpParentID =
        parentId.empty() ? nullptr : reinterpret_cast<LPENTRYID>(parentId.data());
    sink->OnNotify(1, &notification);
    sink->Release();

    lock.lock();
  }
}

}  // namespace mapi_internal
