// Two scoped helpers of the database operations.
//
// ConnectionHolder borrows one connection from the process-wide pool
// (GetConnectionPool) when constructed and gives it back when released or
// destroyed, so every early return and every exception gives it back. A
// holder whose pool lends nothing holds null (the pool has logged why):
// callers test get() before use.
//
//   ConnectionHolder holder;                 // borrows now
//   if (holder.get() == nullptr) return false;
//   command->PutRefActiveConnection(holder->GetConnection());
//
// ComInitializer enters a COM apartment on the calling thread for a scope
// (CoInitializeEx) and leaves it on Uninitialize or destruction. Asked to
// throw, a failed initialisation throws init_exception with the HRESULT.
//
// Thread safety: a holder or an initialiser belongs to one thread.
#pragma once

#include <stdexcept>
#include <string>

#include "db/connection_item.h"
#include "platform/com/apartment.h"

class ConnectionHolder {
 public:
  // lazy: hold nothing; otherwise GetConnectionPool().GetConnection().
  explicit ConnectionHolder(bool lazy = false);
  // Release(); nothing it throws leaves the destructor.
  ~ConnectionHolder();
  ConnectionHolder(const ConnectionHolder&) = delete;
  ConnectionHolder& operator=(const ConnectionHolder&) = delete;

  // Gives the held item back to the pool and holds nothing; false when
  // nothing was held, else the pool's result.
  bool Release();

  ConnectionItem* get() const { return item_; }
  ConnectionItem* operator->() const { return item_; }

 private:
  ConnectionItem* item_ = nullptr;
};

// The failure of ComInitializer::Initialize, with its HRESULT.
class init_exception : public std::runtime_error {
 public:
  init_exception(const std::string& message, HRESULT hr) : std::runtime_error(message), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

class ComInitializer {
 public:
  // Unless deferred, Initialize(model, throwOnError).
  ComInitializer(DWORD model, bool deferred, bool throwOnError);
  // Uninitialize().
  ~ComInitializer();
  ComInitializer(const ComInitializer&) = delete;
  ComInitializer& operator=(const ComInitializer&) = delete;

  // Nothing when already initialised with `model`. Otherwise CoInitializeEx:
  // S_OK and S_FALSE initialise (balancing a call held before); a failure
  // changes nothing (an object not initialised stays so, a held call stays
  // held) and, with throwOnError, throws init_exception.
  void Initialize(DWORD model, bool throwOnError);
  // CoUninitialize for a successful CoInitializeEx; not initialised after.
  void Uninitialize();

  bool IsInitialized() const { return initialized_; }

 private:
  HRESULT hr_ = 0;
  DWORD model_;
  bool initialized_ = false;
};
