#include "db/connection_holder.h"

#include "db/connection_pool.h"
#include "platform/com/hresult.h"

ConnectionHolder::ConnectionHolder(bool lazy) {
  if (!lazy) item_ = GetConnectionPool().GetConnection();
}

ConnectionHolder::~ConnectionHolder() {
  try {
    Release();
  } catch (...) {
  }
}

bool ConnectionHolder::Release() {
  if (item_ == nullptr) return false;
  ConnectionItem* item = item_;
  item_ = nullptr;
  return GetConnectionPool().ReleaseConnection(item);
}

ComInitializer::ComInitializer(DWORD model, bool deferred, bool throwOnError) : model_(model) {
  if (!deferred) Initialize(model, throwOnError);
}

ComInitializer::~ComInitializer() { Uninitialize(); }

void ComInitializer::Initialize(DWORD model, bool throwOnError) {
  if (initialized_ && model == model_) return;
  const HRESULT hr = CoInitializeEx(nullptr, model);
  if (hr == S_OK || hr == S_FALSE) {
    // A call that replaces a held one balances it, so each counted call
    // gets its one CoUninitialize.
    Uninitialize();
    hr_ = hr;
    model_ = model;
    initialized_ = true;
    return;
  }
  // A failed call counts nothing: a held initialisation stays held (and is
  // still undone by Uninitialize).
  if (!initialized_) hr_ = hr;
  if (!throwOnError) return;
  if (hr == RPC_E_CHANGED_MODE) {
    throw init_exception(
        "A previous call to CoInitializeEx specified a different concurrency model for the calling "
        "thread, or the thread that called CoInitializeEx currently belongs to the neutral threaded "
        "apartment.",
        hr);
  }
  throw init_exception("Could not initialize COM", hr);
}

void ComInitializer::Uninitialize() {
  if (!initialized_) return;
  if (hr_ == S_OK || hr_ == S_FALSE) CoUninitialize();
  initialized_ = false;
}
