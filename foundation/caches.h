// The two process-wide caches built at start-up and torn down at exit, with
// their hit statistics.
//
// NameCache maps names both ways (forward: a name to the form it resolves
// to; reverse: that form back to the name), each entry stamped with the time
// it was stored, and knows a set of names that need no look-up, seeded with
// "." and "System Administrator". ExpiringCache keeps, per key, entries that
// hold a list of texts and entries that only mark the key, each until its
// expiry time; expired entries go at the next purge, and destruction purges
// every entry whatever its time.
//
// Times are time64 (seconds since 1970). ExpiringCache reads "now" from the
// clock given at construction (the run-time's time() by default).
//
// Thread safety: every operation of one cache may be called from any thread
// at once; each cache serialises them with its own CriticalSection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/critical_section.h"
#include "foundation/zev_string.h"

// Look-up counters of one cache map; zero when built.
class CacheHitStats {
 public:
  CacheHitStats() = default;
  virtual ~CacheHitStats() = default;

  std::uint64_t hits = 0;
  std::uint64_t misses = 0;
};

class NameCache {
 public:
  enum Direction { kForward = 0, kReverse = 1 };

  // Empty maps, zero counters, and the known names "." and
  // "System Administrator".
  NameCache();
  // Destroys every entry under the lock.
  ~NameCache();
  NameCache(const NameCache&) = delete;
  NameCache& operator=(const NameCache&) = delete;

  // Stores (or replaces) the entry of `key`.
  void Put(Direction direction, const std::wstring& key, const std::wstring& value,
           std::int64_t stored);
  // The value of `key`; counts a hit or a miss.
  bool Find(Direction direction, const std::wstring& key, std::wstring* value);

  bool IsKnownName(const std::string& name);
  // The known names, in order.
  std::vector<std::string> KnownNames();

  CacheHitStats Stats(Direction direction);
  // Entries stored in that direction since construction.
  std::int64_t Stores(Direction direction);

 private:
  struct Entry {
    std::wstring value;
    std::int64_t stored;
  };

  CriticalSection lock_;
  std::map<std::wstring, std::unique_ptr<Entry>> maps_[2];
  std::set<std::string> knownNames_;
  std::int64_t stores_[2] = {0, 0};
  CacheHitStats stats_[2];
};

class ExpiringCache {
 public:
  // Returns the current time64.
  using Clock = std::int64_t (*)();

  // Empty; `created` is the clock's time now. A null clock means time().
  explicit ExpiringCache(Clock clock = nullptr);
  // Purges every collection, expired or not, under the lock.
  ~ExpiringCache();
  ExpiringCache(const ExpiringCache&) = delete;
  ExpiringCache& operator=(const ExpiringCache&) = delete;

  // Adds an entry holding `values` to `key`'s collection, until `expires`.
  void AddValues(const std::wstring& key, std::vector<zev::ZEVString> values,
                 std::int64_t expires);
  // Adds a mark to `key`'s collection, until `expires`.
  void AddMark(const std::wstring& key, std::int64_t expires);

  // The values of `key`'s newest entry that has not expired; counts a hit or
  // a miss.
  bool FindValues(const std::wstring& key, std::vector<zev::ZEVString>* values);
  // Whether `key` has a mark that has not expired.
  bool HasMark(const std::wstring& key);

  // Destroys every expired entry (expiry not later than now); a collection
  // left empty goes with its key.
  void Purge();

  // Entries (expired or not) in `key`'s collections of values and of marks.
  std::size_t ValueEntries(const std::wstring& key);
  std::size_t MarkEntries(const std::wstring& key);

  std::int64_t created() const { return created_; }
  CacheHitStats Stats();
  std::int64_t ValuesAdded();
  std::int64_t MarksAdded();

 private:
  struct ValuesEntry {
    std::vector<zev::ZEVString> values;
    std::int64_t expires;
  };
  struct MarkEntry {
    std::int64_t expires;
  };
  template <typename Entry>
  using Collection = std::vector<std::unique_ptr<Entry>>;

  // Destroys the entries of `collection` that expired by `now`, or all of
  // them with `force`.
  template <typename Entry>
  static void PurgeCollection(Collection<Entry>& collection, std::int64_t now, bool force);

  Clock clock_;
  CriticalSection lock_;
  std::map<std::wstring, std::unique_ptr<Collection<ValuesEntry>>> values_;
  std::map<std::wstring, std::unique_ptr<Collection<MarkEntry>>> marks_;
  std::int64_t created_;
  std::int64_t valuesAdded_ = 0;
  std::int64_t marksAdded_ = 0;
  CacheHitStats stats_;
};
