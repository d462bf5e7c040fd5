// The idle-connection cache behind Connection::Open and Close, reusing
// physical connections the way OLE DB resource pooling does.
//
// Close puts a healthy physical connection here under its key (a digest of
// the driver and the translated ODBC connection string, so that no password
// is kept in it); Open takes, for the same key, the one its own thread put
// last (so that a thread keeps talking to the same server process, as with a
// connection of its own), else the most recently idle one, after its cheap
// liveness check (Session::IsAlive), and otherwise connects anew. A connection idle longer than the idle limit is closed instead of
// reused; idle time is read from this layer's clock (clock.h). The cache
// holds at most `capacity` connections over all keys: putting one more
// closes the one idle longest. A connection that failed with a
// connection-class error is never put here (the caller closes it), and the
// other idle connections of its key, suspect as well, are dropped (Drop).
//
// Thread-safe: any thread may Take and Put at once. Connections are closed
// outside the lock, which spins briefly before it sleeps, since every
// pooled borrow and give-back takes it for a moment. Each thread keeps the
// list node of the connection it took last (without the connection) for
// its next Put.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

#include "platform/ado/backend.h"
#include "platform/ado/clock.h"

namespace ado {

class IdleCache {
 public:
  IdleCache(std::size_t capacity, Clock::duration idleLimit);
  ~IdleCache();
  IdleCache(const IdleCache&) = delete;
  IdleCache& operator=(const IdleCache&) = delete;

  // A live idle connection for `key`, or null.
  std::unique_ptr<backend::Session> Take(const std::wstring& key);
  void Put(const std::wstring& key, std::unique_ptr<backend::Session> session);
  // Closes every idle connection of `key`.
  void Drop(const std::wstring& key);
  // Closes every idle connection.
  void Clear();
  std::size_t Size() const;

  // The process-wide cache of Connection objects: 32 connections, idle for
  // at most 60 seconds.
  static IdleCache& Shared();

 private:
  struct Entry {
    std::wstring key;
    std::unique_ptr<backend::Session> session;
    Clock::time_point since;
    std::thread::id putBy;
  };
  // One list node per thread, handed from a Take to the thread's next Put.
  struct SpareNode;
  // Moves the entries idle past the limit at `now` into `expired`.
  void Expire(Clock::time_point now, std::list<Entry>& expired);

  // A mutex that spins a little before it sleeps: held only for a few list
  // operations, it is mostly free again before a sleep and its wake-up
  // would be over.
  class Lock {
   public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock();
    void unlock();

   private:
    pthread_mutex_t mutex_;
  };

  const std::size_t capacity_;
  const Clock::duration idleLimit_;
  mutable Lock mutex_;
  std::list<Entry> entries_;  // most recently put first
};

}  // namespace ado
