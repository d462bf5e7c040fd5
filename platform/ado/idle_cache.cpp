#include "platform/ado/idle_cache.h"

#include "platform/ado/thread_own.h"

namespace ado {

IdleCache::Lock::Lock() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
  pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

IdleCache::Lock::~Lock() { pthread_mutex_destroy(&mutex_); }

void IdleCache::Lock::lock() { pthread_mutex_lock(&mutex_); }

void IdleCache::Lock::unlock() { pthread_mutex_unlock(&mutex_); }

IdleCache::IdleCache(std::size_t capacity, Clock::duration idleLimit) : capacity_(capacity), idleLimit_(idleLimit) {}

IdleCache::~IdleCache() { Clear(); }

// The list node of the last connection a thread took, kept for the next one
// the thread puts: a borrow and its give-back then allocate nothing (the
// node's key, a digest, reuses its room).
struct IdleCache::SpareNode {
  std::list<Entry> node;
};

void IdleCache::Expire(Clock::time_point now, std::list<Entry>& expired) {
  // The entries are in the order they were put, the most recent first: the
  // expired ones are at the end.
  auto first = entries_.end();
  while (first != entries_.begin() && now - std::prev(first)->since > idleLimit_) --first;
  expired.splice(expired.end(), entries_, first, entries_.end());
}

std::unique_ptr<backend::Session> IdleCache::Take(const std::wstring& key) {
  for (;;) {
    std::list<Entry> expired;  // closed when this scope ends, outside the lock
    std::list<Entry> found;
    const Clock::time_point now = Now();
    {
      std::lock_guard<Lock> lock(mutex_);
      Expire(now, expired);
      // The one this thread put last, else the one put last by any.
      const std::thread::id self = std::this_thread::get_id();
      auto chosen = entries_.end();
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key != key) continue;
        if (chosen == entries_.end()) chosen = it;
        if (it->putBy == self) {
          chosen = it;
          break;
        }
      }
      if (chosen != entries_.end()) found.splice(found.begin(), entries_, chosen);
    }
    if (found.empty()) return nullptr;
    if (found.front().session->IsAlive()) {
      std::unique_ptr<backend::Session> session = std::move(found.front().session);
      SpareNode* spare = ThreadOwn<SpareNode>();
      if (spare != nullptr && spare->node.empty()) spare->node.splice(spare->node.begin(), found);
      return session;
    }
  }
}

void IdleCache::Put(const std::wstring& key, std::unique_ptr<backend::Session> session) {
  if (!session || capacity_ == 0) return;
  std::list<Entry> dropped;
  // The entry is made outside the lock; under it, it is only linked in.
  std::list<Entry> added;
  SpareNode* spare = ThreadOwn<SpareNode>();
  if (spare != nullptr && !spare->node.empty()) {
    added.splice(added.begin(), spare->node);
    Entry& entry = added.front();
    entry.key.assign(key);
    entry.session = std::move(session);
    entry.putBy = std::this_thread::get_id();
  } else {
    added.push_back(Entry{key, std::move(session), Clock::time_point(), std::this_thread::get_id()});
  }
  {
    std::lock_guard<Lock> lock(mutex_);
    // Stamped under the lock, so that the list stays in the order of time.
    added.front().since = Now();
    Expire(added.front().since, dropped);
    entries_.splice(entries_.begin(), added);
    while (entries_.size() > capacity_) dropped.splice(dropped.end(), entries_, std::prev(entries_.end()));
  }
}

void IdleCache::Drop(const std::wstring& key) {
  std::list<Entry> dropped;  // closed when this scope ends, outside the lock
  std::lock_guard<Lock> lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    auto next = std::next(it);
    if (it->key == key) dropped.splice(dropped.end(), entries_, it);
    it = next;
  }
}

void IdleCache::Clear() {
  std::list<Entry> dropped;
  std::lock_guard<Lock> lock(mutex_);
  dropped.swap(entries_);
}

std::size_t IdleCache::Size() const {
  std::lock_guard<Lock> lock(mutex_);
  return entries_.size();
}

IdleCache& IdleCache::Shared() {
  // Never destroyed: connections of the cache may be given back by static
  // objects' destructors at exit.
  static IdleCache* cache = new IdleCache(32, std::chrono::seconds(60));
  return *cache;
}

}  // namespace ado
