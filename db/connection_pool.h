// ConnectionPool: the process-wide gate to the configuration database.
//
// It keeps one long-lived "primary" connection that proves the database is
// reachable, and lends every database operation a connection of its own (a
// ConnectionItem opened for that use, closed and deleted when it is given
// back). A counting semaphore of the pool size bounds how many are out at
// once; a mutex serialises bringing the pool up, taking it down, validating
// and re-initialising it.
//
//   InitializePool   under the mutex: when the pool is down, connect the
//                    primary (ConnectionPoolInitializeAttemptCount tries,
//                    ConnectionPoolInitializeRetryDelaySecs apart, at most
//                    ConnectionPoolInitializeTimeOutSecs; after a failure
//                    once more with server and failover partner swapped),
//                    then PostConnectWork; counts one use when not
//                    re-initialising.
//   ReleasePool      gives back one use (force: all); at none the primary
//                    is deleted and the pool is down.
//   GetConnection    waits for the semaphore (ConnectionWaitAbandonTime)
//                    and opens a fresh item; null when the pool is down,
//                    the wait gives up, or the connect fails (which takes
//                    the pool down: ReInitializePool brings it back).
//   ReleaseConnection deletes the item and gives back the semaphore count it
//                    was lent under.
//   ValidatePool / ReInitializePool  check the primary / bring the pool
//                    back with one connect attempt and a refilled semaphore;
//                    a re-initialised pool is up only when its new primary
//                    answers the validation query.
//
// The connection string is kept wide, as DbConfig builds it and the ADO
// objects take it, in one immutable ConnectionTarget beside the login it
// names (GetUserId, read with the ADO objects' own reader); a start or a
// failover swap makes a new target. The pool, its primary and the items lent
// share the target, and each borrowing thread keeps the target it last lent
// with, so a borrow neither takes the statistics lock nor copies the string;
// the items a thread lends hold the target through a count of that thread's
// own, so borrowers do not all write one shared count.
// A target's string is wiped when its last holder lets it go: a replaced
// target lives on until each thread that kept it borrows again or ends.
//
// The semaphore is created by the first successful start and kept for the
// pool's life: later starts refill it to the pool size (a start with
// another size replaces it). Only items lent by GetConnection hold a count;
// giving back the primary or null releases none.
//
// Settings are DWORDs of HKEY_LOCAL_MACHINE "Software\Quillon\Quorrel
// Dazadevari Server\Database", read by the constructor: ConnectionWaitTime-
// LogThreshold (100 ms), ConnectionTimeOut (30 s), ConnectionReInitialize-
// TimeOut (45 s), ConnectionWaitAbandonTime (600 s), ConnectionPoolSize
// (100), ConnectionPoolInitializeAttemptCount (5), ConnectionPoolInitialize-
// RetryDelaySecs (10 s), ConnectionPoolInitializeTimeOutSecs (60 s).
//
// Failures are logged and returned as false or null; nothing is thrown. The
// last error (code, time, text) and the counters keep the most recent
// failure for the environment report.
//
// Thread safety: every operation may be called from any thread. Initialise,
// release, validate and re-initialise take the pool mutex (a recursive
// Win32 mutex); GetConnection reads only atomics and its thread's own
// copies and waits on the semaphore, and when a count is free at once it
// writes no memory that other borrowers share but the semaphore's count
// (the hand-out count is kept per thread slot; the waiting count and the
// clock only concern borrowers that have to wait). UpdateStatistics counts a
// statement in the same per-thread slot and takes the statistics lock only
// for a failure. The statistics lock is taken after the mutex where both
// are held. A lent ConnectionItem belongs to its borrower's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "db/ado_error.h"
#include "db/connection_item.h"
#include "foundation/critical_section.h"
#include "platform/com/com_error.h"
#include "platform/win32/types.h"

class ConnectionPool : public DbErrorRecorder {
 public:
  // Returns milliseconds of a monotonic clock: how long a start has been
  // trying (ConnectionPoolInitializeTimeOutSecs).
  using Clock = std::uint64_t (*)();

  // Reads the registry settings and creates the mutex; the pool is down. A
  // null clock means the system's tick count (GetTickCount64); tests give
  // one of their own.
  explicit ConnectionPool(Clock clock = nullptr);
  // ReleasePool(false), then frees the primary, the semaphore and the mutex.
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // size 0: ConnectionPoolSize; msdeLimit 0: none.
  bool InitializePool(unsigned size, const std::wstring& connectionString, unsigned msdeLimit,
                      bool reinitialising, bool retry);
  bool ReleasePool(bool force);
  bool ValidatePool();
  bool ReInitializePool();
  ConnectionItem* GetConnection();
  // `item` may be null. Always true.
  bool ReleaseConnection(ConnectionItem* item);

  // Times one command (started at GetTickCount() == start) and counts it;
  // a failure also becomes the last error code and time.
  void UpdateStatistics(DWORD start, bool failed, LONG code);
  // Records a failure: counts it, keeps the code, the time and at most 254
  // characters of the text.
  void SetLastError(LONG code, const wchar_t* text) override;
  void SetLastComError(const _com_error& error, const wchar_t* text);

  // The login the string names (its last "uid" or "User ID", any case,
  // quoted or not: ado::LoginOfConnectionString); empty when absent.
  static std::wstring GetUserId(const std::wstring& connectionString);
  // The item's server is the desktop edition of SQL Server.
  bool IsMSDE(ConnectionItem* item);

  // Points the stored connection string at its failover partner and the
  // partner at the server (tsql::SwapToFailoverPartner); false when the
  // string names no partner that differs from the server.
  bool SwapToFailoverPartner();

  // The two halves of a start; called by InitializePool under the mutex.
  bool Connect(bool reinitialising, bool retry);
  bool PostConnectWork(bool reinitialising, unsigned msdeLimit);

  // What PostConnectWork runs on the primary once the pool is up: the
  // database environment report installs itself here. Null (the default):
  // nothing. The hook must stay callable for the process's life.
  using PostConnectReport = void (*)(ConnectionItem* primary);
  static void SetPostConnectReport(PostConnectReport report);

  // Read-outs for the environment report and tests.
  struct Statistics {
    bool up = false;
    std::int64_t upTime = 0;
    unsigned poolSize = 0;
    std::uint64_t commandMilliseconds = 0;
    DWORD commandCount = 0;
    DWORD failureCount = 0;
    LONG lastErrorCode = 0;
    std::int64_t lastErrorTime = 0;
    std::wstring lastErrorText;
    std::int64_t handedOut = 0;
    LONG waiting = 0;
    LONG slowWaits = 0;
    LONG references = 0;
  };
  Statistics GetStatistics();
  bool IsUp() const { return up_.load(); }
  // The stored connection string (after a failover swap, the swapped one).
  std::wstring GetConnectionString();

 private:
  void ReadSettings();
  // Replaces the primary by a new unconnected item; false on allocation
  // failure.
  bool NewPrimary();
  void DeletePrimary();
  // Refills the semaphore when re-initialising; else creates it, or refills
  // (or replaces, when the size changed) the one there is.
  bool ReadySemaphore(bool reinitialising);
  // With the statistics lock held: the connection string and login that
  // items are lent with from now on.
  void PublishTarget(const std::wstring& connectionString, const std::wstring& userId);
  // The target to lend with: the calling thread's copy while it is current.
  std::shared_ptr<const ConnectionTarget> CurrentTarget();
  // Logs a failed wait for the semaphore (result and last error `code`).
  void LogFailedWait(DWORD result, DWORD code);

  // Read by every borrow, written rarely.
  std::atomic<bool> up_{false};
  std::atomic<HANDLE> semaphore_{nullptr};
  // The target items are lent with, and its version: unique in the process
  // (a thread's copy names the pool and the version it copied).
  std::atomic<std::uint64_t> targetVersion_{0};
  DWORD waitLogThreshold_ = 100;
  DWORD connectTimeOut_ = 30;
  DWORD waitAbandonTime_ = 600;

  std::int64_t upTime_ = 0;
  std::int64_t lastErrorTime_ = 0;
  std::wstring lastErrorText_;
  DWORD failureCount_ = 0;
  LONG lastErrorCode_ = 0;
  LONG semaphoreSize_ = 0;
  std::atomic<unsigned> poolSize_{0};
  // The connection string and login; guarded by the statistics lock.
  std::shared_ptr<const ConnectionTarget> target_;
  ConnectionItem* primary_ = nullptr;
  DWORD reInitializeTimeOut_ = 45;
  std::int64_t uninitializedLogged_ = 0;
  std::int64_t connectFailureLogged_ = 0;
  std::int64_t reInitializeLogged_ = 0;
  DWORD configuredPoolSize_ = 100;
  DWORD attemptCount_ = 5;
  DWORD retryDelaySecs_ = 10;
  DWORD initializeTimeOutSecs_ = 60;
  HANDLE mutex_ = nullptr;
  Clock clock_;
  CriticalSection statisticsLock_;
  std::atomic<LONG> references_{0};

  // Written by borrowers, each on lines of its own: the items handed out
  // and the statements run with their milliseconds, counted per slot of
  // borrowing threads (summed when read), and the borrowers waiting and the
  // slow waits.
  struct alignas(64) CounterSlot {
    std::atomic<std::int64_t> handedOut{0};
    std::atomic<std::uint64_t> commandMilliseconds{0};
    std::atomic<DWORD> commandCount{0};
  };
  CounterSlot& ThreadSlot();
  std::array<CounterSlot, 16> slots_;
  struct alignas(64) WaitCounts {
    std::atomic<LONG> waiting{0};
    std::atomic<LONG> slowWaits{0};
  };
  WaitCounts waits_;
};

// The process-wide pool, constructed on first use; from then on the ADO
// error reporting records the last error in it (SetDbErrorRecorder).
ConnectionPool& GetConnectionPool();
