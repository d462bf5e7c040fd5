#include "platform/ado/idle_cache.h"

namespace ado {

IdleCache::IdleCache(std::size_t capacity, Clock::duration idleLimit) : capacity_(capacity), idleLimit_(idleLimit) {}

IdleCache::~IdleCache() { Clear(); }

void IdleCache::Expire(std::list<Entry>& expired) {
  const Clock::time_point now = Now();
  for (auto it = entries_.begin(); it != entries_.end();) {
    auto next = std::next(it);
    if (now - it->since > idleLimit_) expired.splice(expired.end(), entries_, it);
    it = next;
  }
}

std::unique_ptr<backend::Session> IdleCache::Take(const std::wstring& key) {
  for (;;) {
    std::list<Entry> expired;  // closed when this scope ends, outside the lock
    std::list<Entry> found;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Expire(expired);
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
          found.splice(found.begin(), entries_, it);
          break;
        }
      }
    }
    if (found.empty()) return nullptr;
    if (found.front().session->IsAlive()) return std::move(found.front().session);
  }
}

void IdleCache::Put(const std::wstring& key, std::unique_ptr<backend::Session> session) {
  if (!session || capacity_ == 0) return;
  std::list<Entry> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Expire(dropped);
    entries_.push_front(Entry{key, std::move(session), Now()});
    while (entries_.size() > capacity_) dropped.splice(dropped.end(), entries_, std::prev(entries_.end()));
  }
}

void IdleCache::Drop(const std::wstring& key) {
  std::list<Entry> dropped;  // closed when this scope ends, outside the lock
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    auto next = std::next(it);
    if (it->key == key) dropped.splice(dropped.end(), entries_, it);
    it = next;
  }
}

void IdleCache::Clear() {
  std::list<Entry> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped.swap(entries_);
}

std::size_t IdleCache::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

IdleCache& IdleCache::Shared() {
  // Never destroyed: connections of the cache may be given back by static
  // objects' destructors at exit.
  static IdleCache* cache = new IdleCache(32, std::chrono::seconds(60));
  return *cache;
}

}  // namespace ado
