#include "db/connection_pool.h"

#include <algorithm>
#include <ctime>
#include <new>

#include "db/db_config.h"
#include "db/tsql.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/registry.h"
#include "foundation/string_conversion.h"
#include "platform/ado/connection_string.h"
#include "platform/com/hresult.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"
#include "platform/win32/error.h"
#include "platform/win32/sync.h"
#include "platform/win32/thread.h"
#include "platform/win32/time.h"

namespace {

constexpr char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";

constexpr unsigned kEventWaitAbandoned = 0xAFFF61CBu;     // 25035
constexpr unsigned kEventWaitFailed = 0xAFFF61CCu;        // 25036
constexpr unsigned kEventSemaphoreFailed = 0xAFFF61CDu;   // 25037
constexpr unsigned kEventPoolUp = 0x6FFF88C3u;            // 35011
constexpr unsigned kEventNoPrimary = 0x6FFF88C4u;         // 35012
constexpr unsigned kEventAttemptFailed = 0x6FFF88D4u;     // 35028
constexpr unsigned kEventConnectTimedOut = 0x6FFF88D5u;   // 35029
constexpr unsigned kEventPoolReady = 0x6FFFB003u;         // 45059
constexpr unsigned kEventPoolDown = 0x6FFFB004u;          // 45060
constexpr unsigned kEventSlowWait = 0x6FFFB007u;          // 45063
constexpr unsigned kEventReInitTimedOut = 0x6FFFB06Cu;    // 45164

constexpr std::size_t kLastErrorChars = 254;

constexpr char kUninitialized[] =
    "%s: Unable to get connection, because the Connection pool is uninitialized";

std::atomic<ConnectionPool::PostConnectReport> postConnectReport{nullptr};

std::int64_t Now64() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The versions of the pools' targets: unique in the process, so that a
// thread's copy is never taken for the target of a later pool at the same
// address.
std::atomic<std::uint64_t> lastTargetVersion{0};

// The target the calling thread last lent with, for the pool and version it
// was copied from.
struct ThreadTarget {
  ~ThreadTarget();
  const ConnectionPool* pool = nullptr;
  std::uint64_t version = 0;
  std::shared_ptr<const ConnectionTarget> target;
};
// Set once the thread's copy is gone (a borrow by a later destructor of the
// ending thread goes without it).
thread_local bool threadTargetGone = false;
thread_local ThreadTarget threadTarget;
ThreadTarget::~ThreadTarget() { threadTargetGone = true; }

// Holds the pool mutex from a successful wait to the end of the scope.
class MutexHold {
 public:
  MutexHold(HANDLE mutex, DWORD milliseconds) : mutex_(mutex) {
    result_ = WaitForSingleObject(mutex, milliseconds);
    held_ = result_ == WAIT_OBJECT_0 || result_ == WAIT_ABANDONED;
  }
  ~MutexHold() {
    if (held_) ReleaseMutex(mutex_);
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;
  bool held() const { return held_; }
  DWORD result() const { return result_; }

 private:
  HANDLE mutex_;
  DWORD result_;
  bool held_;
};

}  // namespace

ConnectionPool& GetConnectionPool() {
  static ConnectionPool pool;
  static const bool recording = (SetDbErrorRecorder(&pool), true);
  (void)recording;
  return pool;
}

void ConnectionPool::SetPostConnectReport(PostConnectReport report) { postConnectReport.store(report); }

ConnectionPool::ConnectionPool(Clock clock) : clock_(clock != nullptr ? clock : [] {
  return static_cast<std::uint64_t>(GetTickCount64());
}) {
  ReadSettings();
  mutex_ = CreateMutexA(nullptr, FALSE, nullptr);
}

ConnectionPool::~ConnectionPool() {
  ClearDbErrorRecorder(this);
  ReleasePool(false);
  DeletePrimary();
  if (HANDLE semaphore = semaphore_.exchange(nullptr)) CloseHandle(semaphore);
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

void ConnectionPool::ReadSettings() {
  Registry key(kDatabaseKey, false, false);
  const bool open = key.Open(false);
  auto read = [&](const char* name, DWORD* out, DWORD deflt) {
    if (!open || !key.GetDWORDDefault(name, out, deflt)) *out = deflt;
  };
  read("ConnectionWaitTimeLogThreshold", &waitLogThreshold_, 100);
  read("ConnectionTimeOut", &connectTimeOut_, 30);
  read("ConnectionReInitializeTimeOut", &reInitializeTimeOut_, 45);
  read("ConnectionWaitAbandonTime", &waitAbandonTime_, 600);
  read("ConnectionPoolSize", &configuredPoolSize_, 100);
  read("ConnectionPoolInitializeAttemptCount", &attemptCount_, 5);
  read("ConnectionPoolInitializeRetryDelaySecs", &retryDelaySecs_, 10);
  read("ConnectionPoolInitializeTimeOutSecs", &initializeTimeOutSecs_, 60);
}

std::wstring ConnectionPool::GetUserId(const std::wstring& connectionString) {
  return ado::LoginOfConnectionString(connectionString);
}

bool ConnectionPool::NewPrimary() {
  DeletePrimary();
  std::shared_ptr<const ConnectionTarget> target;
  {
    ScopedLock hold(&statisticsLock_);
    target = target_;
  }
  if (target == nullptr) return false;
  primary_ = new (std::nothrow) ConnectionItem(std::move(target), DbConfig::Instance()->GetKind());
  return primary_ != nullptr;
}

void ConnectionPool::PublishTarget(const std::wstring& connectionString, const std::wstring& userId) {
  // Without memory for it there is no target: NewPrimary and the borrows fail
  // rather than connect with the one before.
  target_.reset(new (std::nothrow) ConnectionTarget(connectionString, userId));
  targetVersion_.store(lastTargetVersion.fetch_add(1) + 1, std::memory_order_release);
}

std::shared_ptr<const ConnectionTarget> ConnectionPool::CurrentTarget() {
  const std::uint64_t version = targetVersion_.load(std::memory_order_acquire);
  if (!threadTargetGone) {
    ThreadTarget& mine = threadTarget;
    if (mine.pool == this && mine.version == version && version != 0) return mine.target;
  }
  std::shared_ptr<const ConnectionTarget> target;
  std::uint64_t current;
  {
    ScopedLock stats(&statisticsLock_);
    target = target_;
    current = targetVersion_.load(std::memory_order_relaxed);
  }
  if (threadTargetGone) return target;
  ThreadTarget& mine = threadTarget;
  mine.pool = this;
  mine.version = current;
  mine.target = target;
  if (target != nullptr) {
    // The items this thread lends hold the target through a count of the
    // thread's own, so that borrowers on other threads do not all write
    // the target's one count. Without memory for it they share that count.
    try {
      const auto lease = std::make_shared<const std::shared_ptr<const ConnectionTarget>>(target);
      mine.target = std::shared_ptr<const ConnectionTarget>(lease, lease->get());
    } catch (const std::bad_alloc&) {
    }
  }
  return mine.target;
}

void ConnectionPool::DeletePrimary() {
  ConnectionItem* primary = primary_;
  primary_ = nullptr;
  ReleaseConnection(primary);
}

bool ConnectionPool::InitializePool(unsigned size, const std::wstring& connectionString,
                                    unsigned msdeLimit, bool reinitialising, bool retry) {
  if (!reinitialising) {
    __atomic_store_n(&connectFailureLogged_, 0, __ATOMIC_SEQ_CST);
    LogMessage(3, "ADO ConnectionTimeout value = %ds", static_cast<int>(connectTimeOut_));
    LogMessage(3, "ADO ConnectionTimeout for re-initalizing the pool = %ds",
               static_cast<int>(reInitializeTimeOut_));
  }
  MutexHold hold(mutex_, INFINITE);
  bool result = true;
  if (!up_.load()) {
    poolSize_.store(size != 0 ? size : configuredPoolSize_);
    {
      ScopedLock stats(&statisticsLock_);
      PublishTarget(connectionString, GetUserId(connectionString));
    }
    bool swapped = false;
    for (;;) {
      if (!NewPrimary()) {
        ReleasePool(true);
        return false;
      }
      if (Connect(reinitialising, retry)) {
        result = PostConnectWork(reinitialising, msdeLimit);
        break;
      }
      result = false;
      if (swapped || !SwapToFailoverPartner()) break;
      swapped = true;
    }
    if (!result) ReleasePool(true);
  }
  if (!reinitialising && result) references_.fetch_add(1);
  return result;
}

bool ConnectionPool::SwapToFailoverPartner() {
  ScopedLock stats(&statisticsLock_);
  if (target_ == nullptr) return false;
  std::wstring connectionString = target_->connectionString;
  const bool swapped = tsql::SwapToFailoverPartner(&connectionString, ReportEnvironmentLine);
  if (swapped) PublishTarget(connectionString, target_->userId);
  ado::WipeText(connectionString);
  return swapped;
}

bool ConnectionPool::Connect(bool reinitialising, bool retry) {
  const std::uint64_t start = clock_();
  for (DWORD attempt = 1; attempt <= attemptCount_; ++attempt) {
    const LONG timeout = static_cast<LONG>(reinitialising ? reInitializeTimeOut_ : connectTimeOut_);
    if (primary_->ConnectToDB(timeout, &connectFailureLogged_)) {
      // Brought back after a failure: up only with a primary that answers.
      if (!reinitialising || primary_->ValidateConnection(&connectFailureLogged_)) return true;
    }
    if (reinitialising || !retry) return false;
    if (static_cast<double>(clock_() - start) / 1000.0 > static_cast<double>(initializeTimeOutSecs_)) {
      LogEvent(3, kEventConnectTimedOut, LoadResString(kEventConnectTimedOut),
               "ConnectionPool::Connect()", static_cast<int>(initializeTimeOutSecs_));
      return false;
    }
    LogEvent(3, kEventAttemptFailed, LoadResString(kEventAttemptFailed), "ConnectionPool::Connect()",
             static_cast<int>(attempt), static_cast<int>(attemptCount_));
    if (attempt < attemptCount_) Sleep(retryDelaySecs_ * 1000);
  }
  return false;
}

bool ConnectionPool::ReadySemaphore(bool reinitialising) {
  const LONG size = static_cast<LONG>(poolSize_.load());
  HANDLE current = semaphore_.load();
  if (current != nullptr && (reinitialising || semaphoreSize_ == size)) {
    // Refill: every count up to the maximum; the release beyond it fails.
    while (ReleaseSemaphore(current, 1, nullptr)) {
    }
    return true;
  }
  HANDLE fresh = CreateSemaphoreA(nullptr, size, size, nullptr);
  if (fresh == nullptr) return false;
  semaphoreSize_ = size;
  semaphore_.store(fresh);
  if (current != nullptr) {
    // Wake whoever still waits on the old one before it goes.
    while (ReleaseSemaphore(current, 1, nullptr)) {
    }
    CloseHandle(current);
  }
  return true;
}

bool ConnectionPool::PostConnectWork(bool reinitialising, unsigned msdeLimit) {
  if (msdeLimit > 0 && msdeLimit < poolSize_.load() && IsMSDE(primary_)) poolSize_.store(msdeLimit);
  primary_->SetValid(true);
  if (!ReadySemaphore(reinitialising)) {
    LogEvent(2, kEventSemaphoreFailed, LoadResString(kEventSemaphoreFailed),
             "ConnectionPool::PostConnectWork()");
    return false;
  }
  {
    ScopedLock stats(&statisticsLock_);
    upTime_ = Now64();
  }
  up_.store(true);
  LogEvent(4, kEventPoolReady, LoadResString(kEventPoolReady), "ConnectionPool::PostConnectWork()",
           static_cast<int>(poolSize_.load()));
  if (PostConnectReport report = postConnectReport.load()) report(primary_);
  return true;
}

bool ConnectionPool::IsMSDE(ConnectionItem* item) {
  if (item == nullptr || item->GetConnection() == nullptr) return false;
  try {
    ado::_ConnectionPtr connection = item->GetConnection();
    ado::PropertiesPtr properties = connection->GetProperties();
    bool sqlServer = false;
    for (LONG i = 0; i < properties->GetCount(); ++i) {
      ado::PropertyPtr property = properties->GetItem(_variant_t(static_cast<INT>(i)));
      const wchar_t* name = property->GetName();
      if (name == nullptr || std::wstring(name) != L"DBMS Name") continue;
      const _bstr_t value(property->GetValue());
      const wchar_t* text = value;
      sqlServer = text != nullptr && std::wstring(text) == L"Microsoft SQL Server";
      break;
    }
    if (!sqlServer) return false;
    ado::_CommandPtr command;
    const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL);
    if (FAILED(hr)) {
      wchar_t text[256] = {};
      crt::snwprintf(text, 255, L"%s: Create command failed - %I64x.", L"ConnectionPool::IsMSDE",
                     static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
      SetLastError(hr, text);
      return false;
    }
    command->PutRefActiveConnection(connection);
    command->PutCommandText(_bstr_t(L"select @@version"));
    command->PutCommandType(ado::adCmdText);
    ado::_RecordsetPtr rows = command->Execute(nullptr, nullptr, ado::adCmdText);
    if (rows == nullptr || rows->GetState() != ado::adStateOpen || rows->GetEndOfFile()) return false;
    ado::FieldsPtr fields = rows->GetFields();
    if (fields->GetCount() < 1) return false;
    const _bstr_t version(fields->GetItem(_variant_t(static_cast<INT>(0)))->GetValue());
    const wchar_t* text = version;
    return text != nullptr && std::wstring(text).find(L"Desktop Engine") != std::wstring::npos;
  } catch (...) {
    return false;
  }
}

void ConnectionPool::LogFailedWait(DWORD result, DWORD code) {
  static const char kWhere[] = "ConnectionPool::GetConnection()";
  if (result == WAIT_TIMEOUT) {
    LogEvent(2, kEventWaitAbandoned, LoadResString(kEventWaitAbandoned), kWhere, static_cast<int>(waitAbandonTime_));
  } else if (result == WAIT_FAILED) {
    if (code == ERROR_INVALID_HANDLE) {
      LogMessage(2,
                 "%s: Connection Pool has been destroyed likely because of connectivity problem "
                 "with database",
                 kWhere);
    } else {
      const std::string message = ConvertToNarrowString(_com_error(HRESULT_FROM_WIN32(code)).ErrorMessage(), CP_ACP);
      wchar_t text[kLastErrorChars + 1] = {};
      crt::snwprintf(text, kLastErrorChars, L"%S: WaitForSingleObject failed with error %d: %S", kWhere,
                     static_cast<int>(code), message.c_str());
      LogMessageW(2, L"%s", text);
      SetLastError(static_cast<LONG>(code), text);
    }
  } else {
    LogEvent(2, kEventWaitFailed, LoadResString(kEventWaitFailed), kWhere, result);
  }
}

ConnectionItem* ConnectionPool::GetConnection() {
  static const char kWhere[] = "ConnectionPool::GetConnection()";
  if (!up_.load()) {
    LogMessage(ThrottleLogLevel(&uninitializedLogged_, 2, 6, 0), kUninitialized, kWhere);
    return nullptr;
  }
  HANDLE semaphore = semaphore_.load();
  // A free count is taken at once, without the clock or the waiting count.
  DWORD result = WaitForSingleObject(semaphore, 0);
  if (result == WAIT_TIMEOUT) {
    const DWORD start = GetTickCount();
    waits_.waiting.fetch_add(1);
    result = WaitForSingleObject(semaphore, waitAbandonTime_ * 1000);
    const DWORD code = ::GetLastError();
    const LONG stillWaiting = waits_.waiting.fetch_sub(1) - 1;
    if (result != WAIT_OBJECT_0) {
      LogFailedWait(result, code);
      return nullptr;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed > waitLogThreshold_) {
      LogEvent(4, kEventSlowWait, LoadResString(kEventSlowWait), kWhere, elapsed, waitLogThreshold_,
               static_cast<int>(stillWaiting));
      waits_.slowWaits.fetch_add(1);
    }
  } else if (result != WAIT_OBJECT_0) {
    LogFailedWait(result, ::GetLastError());
    return nullptr;
  }

  // Made from the shared target: nothing copied, nothing to wipe.
  ConnectionItem* item = nullptr;
  if (std::shared_ptr<const ConnectionTarget> target = CurrentTarget()) {
    item = new (std::nothrow) ConnectionItem(std::move(target), DbConfig::Instance()->GetKind());
  }
  if (item != nullptr) {
    ThreadSlot().handedOut.fetch_add(1, std::memory_order_relaxed);
    if (item->ConnectToDB(static_cast<LONG>(connectTimeOut_), &connectFailureLogged_)) {
      item->SetValid(true);
      item->lentUnder_ = semaphore;
      return item;
    }
    delete item;
    // The count taken above is not given back: the pool goes down, and
    // bringing it back up refills the semaphore.
    ReleasePool(true);
  }
  const int level = ThrottleLogLevel(&uninitializedLogged_, 2, 6, 0);
  if (up_.load()) {
    LogMessage(level, "%s: Unable to get a connection", kWhere);
  } else {
    LogMessage(level, kUninitialized, kWhere);
  }
  return nullptr;
}

bool ConnectionPool::ReleaseConnection(ConnectionItem* item) {
  if (item == nullptr) return true;
  HANDLE lentUnder = item->lentUnder_;
  delete item;
  if (lentUnder != nullptr && lentUnder == semaphore_.load()) ReleaseSemaphore(lentUnder, 1, nullptr);
  return true;
}

bool ConnectionPool::ReleasePool(bool force) {
  MutexHold hold(mutex_, INFINITE);
  LONG references = 0;
  if (force) {
    references_.store(0);
  } else {
    references = references_.fetch_sub(1) - 1;
    if (references < 0) {
      references_.store(0);
      references = 0;
    }
  }
  if (references == 0) {
    DeletePrimary();
    up_.store(false);
  }
  return true;
}

bool ConnectionPool::ValidatePool() {
  MutexHold hold(mutex_, INFINITE);
  if (up_.load()) {
    const bool valid = primary_ != nullptr && primary_->ValidateConnection(nullptr);
    if (!valid) up_.store(false);
    return valid;
  }
  LogEvent(4, kEventPoolDown, LoadResString(kEventPoolDown), "ConnectionPool::ValidatePool");
  return false;
}

bool ConnectionPool::ReInitializePool() {
  static const char kWhere[] = "ConnectionPool::ReInitializePool";
  MutexHold hold(mutex_, reInitializeTimeOut_ * 1000);
  if (!hold.held()) {
    if (hold.result() == WAIT_TIMEOUT) {
      LogEvent(3, kEventReInitTimedOut, LoadResString(kEventReInitTimedOut), kWhere);
    } else {
      LogEvent(2, kEventWaitFailed, LoadResString(kEventWaitFailed), kWhere, ::GetLastError());
    }
    return false;
  }
  if (up_.load()) {
    if (primary_ != nullptr && primary_->ValidateConnection(nullptr)) {
      LogEvent(3, kEventPoolUp, LoadResString(kEventPoolUp));
      return true;
    }
    if (primary_ == nullptr && !NewPrimary()) {
      LogEvent(3, kEventNoPrimary, LoadResString(kEventNoPrimary));
      return false;
    }
    if (primary_->ConnectToDB(static_cast<LONG>(reInitializeTimeOut_), &connectFailureLogged_) &&
        primary_->ValidateConnection(&connectFailureLogged_)) {
      up_.store(true);
      return true;
    }
    DeletePrimary();
    ReleasePool(true);
    wchar_t text[kLastErrorChars + 1] = {};
    crt::snwprintf(text, kLastErrorChars,
                   L"%S:  Couldn't create Primary connection.  Connection pool re-initialized failed.",
                   kWhere);
    LogMessageW(ThrottleLogLevel(&reInitializeLogged_, 3, 6, 0), L"%s", text);
    SetLastError(-1, text);
    return false;
  }
  LogMessage(ThrottleLogLevel(&reInitializeLogged_, 3, 6, 0),
             "%s:  Connection Pool is being reinitialized", kWhere);
  std::wstring connectionString = GetConnectionString();
  const bool result = InitializePool(poolSize_.load(), connectionString, 0, true, true);
  ado::WipeText(connectionString);
  return result;
}

ConnectionPool::CounterSlot& ConnectionPool::ThreadSlot() { return slots_[GetCurrentThreadId() % slots_.size()]; }

void ConnectionPool::UpdateStatistics(DWORD start, bool failed, LONG code) {
  const DWORD now = GetTickCount();
  CounterSlot& slot = ThreadSlot();
  if (now != start) slot.commandMilliseconds.fetch_add(static_cast<DWORD>(now - start), std::memory_order_relaxed);
  slot.commandCount.fetch_add(1, std::memory_order_relaxed);
  if (failed) {
    ScopedLock stats(&statisticsLock_);
    ++failureCount_;
    lastErrorCode_ = code;
    lastErrorTime_ = Now64();
  }
}

void ConnectionPool::SetLastError(LONG code, const wchar_t* text) {
  ScopedLock stats(&statisticsLock_);
  ++failureCount_;
  lastErrorCode_ = code;
  lastErrorTime_ = Now64();
  lastErrorText_ = text == nullptr ? L"" : text;
  if (lastErrorText_.size() > kLastErrorChars) lastErrorText_.resize(kLastErrorChars);
}

void ConnectionPool::SetLastComError(const _com_error& error, const wchar_t* text) {
  SetLastError(error.Error(), text);
}

std::wstring ConnectionPool::GetConnectionString() {
  ScopedLock stats(&statisticsLock_);
  return target_ != nullptr ? target_->connectionString : std::wstring();
}

ConnectionPool::Statistics ConnectionPool::GetStatistics() {
  Statistics s;
  ScopedLock stats(&statisticsLock_);
  s.up = up_.load();
  s.upTime = upTime_;
  s.poolSize = poolSize_.load();
  s.failureCount = failureCount_;
  s.lastErrorCode = lastErrorCode_;
  s.lastErrorTime = lastErrorTime_;
  s.lastErrorText = lastErrorText_;
  s.handedOut = 0;
  s.commandMilliseconds = 0;
  s.commandCount = 0;
  for (const CounterSlot& slot : slots_) {
    s.handedOut += slot.handedOut.load(std::memory_order_relaxed);
    s.commandMilliseconds += slot.commandMilliseconds.load(std::memory_order_relaxed);
    s.commandCount += slot.commandCount.load(std::memory_order_relaxed);
  }
  s.waiting = waits_.waiting.load();
  s.slowWaits = waits_.slowWaits.load();
  s.references = references_.load();
  return s;
}
