#include "foundation/caches.h"

#include <ctime>
#include <utility>

namespace {

std::int64_t RunTimeClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

NameCache::NameCache() {
  knownNames_.insert(".");
  knownNames_.insert("System Administrator");
}

NameCache::~NameCache() {
  ScopedLock hold(&lock_);
  for (auto& map : maps_) map.clear();
}

void NameCache::Put(Direction direction, const std::wstring& key, const std::wstring& value,
                    std::int64_t stored) {
  ScopedLock hold(&lock_);
  maps_[direction][key] = std::make_unique<Entry>(Entry{value, stored});
  ++stores_[direction];
}

bool NameCache::Find(Direction direction, const std::wstring& key, std::wstring* value) {
  ScopedLock hold(&lock_);
  const auto found = maps_[direction].find(key);
  if (found == maps_[direction].end()) {
    ++stats_[direction].misses;
    return false;
  }
  ++stats_[direction].hits;
  *value = found->second->value;
  return true;
}

bool NameCache::IsKnownName(const std::string& name) {
  ScopedLock hold(&lock_);
  return knownNames_.count(name) != 0;
}

std::vector<std::string> NameCache::KnownNames() {
  ScopedLock hold(&lock_);
  return std::vector<std::string>(knownNames_.begin(), knownNames_.end());
}

CacheHitStats NameCache::Stats(Direction direction) {
  ScopedLock hold(&lock_);
  return stats_[direction];
}

std::int64_t NameCache::Stores(Direction direction) {
  ScopedLock hold(&lock_);
  return stores_[direction];
}

ExpiringCache::ExpiringCache(Clock clock)
    : clock_(clock != nullptr ? clock : &RunTimeClock), created_(clock_()) {}

ExpiringCache::~ExpiringCache() {
  ScopedLock hold(&lock_);
  const std::int64_t now = clock_();
  for (auto& [key, collection] : values_) PurgeCollection(*collection, now, true);
  values_.clear();
  for (auto& [key, collection] : marks_) PurgeCollection(*collection, now, true);
  marks_.clear();
}

template <typename Entry>
void ExpiringCache::PurgeCollection(Collection<Entry>& collection, std::int64_t now, bool force) {
  std::erase_if(collection, [now, force](const std::unique_ptr<Entry>& entry) {
    return force || entry->expires <= now;
  });
}

void ExpiringCache::AddValues(const std::wstring& key, std::vector<zev::ZEVString> values,
                              std::int64_t expires) {
  ScopedLock hold(&lock_);
  auto& collection = values_[key];
  if (collection == nullptr) collection = std::make_unique<Collection<ValuesEntry>>();
  collection->push_back(std::make_unique<ValuesEntry>(ValuesEntry{std::move(values), expires}));
  ++valuesAdded_;
}

void ExpiringCache::AddMark(const std::wstring& key, std::int64_t expires) {
  ScopedLock hold(&lock_);
  auto& collection = marks_[key];
  if (collection == nullptr) collection = std::make_unique<Collection<MarkEntry>>();
  collection->push_back(std::make_unique<MarkEntry>(MarkEntry{expires}));
  ++marksAdded_;
}

bool ExpiringCache::FindValues(const std::wstring& key, std::vector<zev::ZEVString>* values) {
  ScopedLock hold(&lock_);
  const std::int64_t now = clock_();
  const auto found = values_.find(key);
  if (found != values_.end()) {
    for (auto entry = found->second->rbegin(); entry != found->second->rend(); ++entry) {
      if ((*entry)->expires > now) {
        ++stats_.hits;
        *values = (*entry)->values;
        return true;
      }
    }
  }
  ++stats_.misses;
  return false;
}

bool ExpiringCache::HasMark(const std::wstring& key) {
  ScopedLock hold(&lock_);
  const std::int64_t now = clock_();
  const auto found = marks_.find(key);
  if (found == marks_.end()) return false;
  for (const auto& entry : *found->second) {
    if (entry->expires > now) return true;
  }
  return false;
}

void ExpiringCache::Purge() {
  ScopedLock hold(&lock_);
  const std::int64_t now = clock_();
  std::erase_if(values_, [now](auto& item) {
    PurgeCollection(*item.second, now, false);
    return item.second->empty();
  });
  std::erase_if(marks_, [now](auto& item) {
    PurgeCollection(*item.second, now, false);
    return item.second->empty();
  });
}

std::size_t ExpiringCache::ValueEntries(const std::wstring& key) {
  ScopedLock hold(&lock_);
  const auto found = values_.find(key);
  return found == values_.end() ? 0 : found->second->size();
}

std::size_t ExpiringCache::MarkEntries(const std::wstring& key) {
  ScopedLock hold(&lock_);
  const auto found = marks_.find(key);
  return found == marks_.end() ? 0 : found->second->size();
}

CacheHitStats ExpiringCache::Stats() {
  ScopedLock hold(&lock_);
  return stats_;
}

std::int64_t ExpiringCache::ValuesAdded() {
  ScopedLock hold(&lock_);
  return valuesAdded_;
}

std::int64_t ExpiringCache::MarksAdded() {
  ScopedLock hold(&lock_);
  return marksAdded_;
}
