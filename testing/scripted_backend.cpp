#include "testing/scripted_backend.h"

#include <atomic>

#include "platform/ado/ado.h"
#include "platform/ado/idle_cache.h"
#include "platform/com/apartment.h"

namespace ado {
namespace {

std::atomic<HRESULT> creationFailure{E_FAIL};

HRESULT FailCreation(REFIID, void** object) {
  if (object != nullptr) *object = nullptr;
  return creationFailure.load();
}

}  // namespace

class ScriptedDriver::Session final : public backend::Session {
 public:
  explicit Session(ScriptedDriver* driver) : driver_(driver) {
    std::lock_guard<std::mutex> lock(driver_->mutex_);
    info_ = {{L"DBMS Name", driver_->dbms_}, {L"DBMS Version", L"1.0"}, {L"Driver Name", L"scripted"}};
    ++driver_->open_;
  }
  ~Session() override {
    std::lock_guard<std::mutex> lock(driver_->mutex_);
    --driver_->open_;
  }

  bool Execute(const backend::Request& request, backend::Response* response,
               backend::Diagnostics* diagnostics) override {
    Step step;
    {
      std::lock_guard<std::mutex> lock(driver_->mutex_);
      driver_->executed_.push_back(request.text);
      if (driver_->steps_.empty()) {
        step.response.results.push_back(backend::Result{nullptr, 0});
      } else {
        step = std::move(driver_->steps_.front());
        driver_->steps_.pop_front();
      }
    }
    for (backend::Result& result : step.response.results) response->results.push_back(std::move(result));
    if (diagnostics != nullptr) {
      diagnostics->insert(diagnostics->end(), step.diagnostics.begin(), step.diagnostics.end());
    }
    return step.ok;
  }
  bool BeginTransaction(backend::Diagnostics*) override { return true; }
  bool EndTransaction(bool, backend::Diagnostics*) override { return true; }
  bool IsAlive() override {
    std::lock_guard<std::mutex> lock(driver_->mutex_);
    return driver_->alive_;
  }
  const std::vector<std::pair<std::wstring, std::wstring>>& Info() const override { return info_; }

 private:
  ScriptedDriver* driver_;
  std::vector<std::pair<std::wstring, std::wstring>> info_;
};

ScriptedDriver::ScriptedDriver() = default;
ScriptedDriver::~ScriptedDriver() = default;

std::unique_ptr<backend::Session> ScriptedDriver::Connect(const std::wstring& odbcString, int,
                                                          backend::Diagnostics* diagnostics) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connectStrings_.push_back(odbcString);
    if (!connectFailures_.empty()) {
      if (diagnostics != nullptr) {
        diagnostics->insert(diagnostics->end(), connectFailures_.front().begin(), connectFailures_.front().end());
      }
      connectFailures_.pop_front();
      return nullptr;
    }
    ++connects_;
  }
  return std::make_unique<Session>(this);
}

void ScriptedDriver::SetDbmsName(const std::wstring& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  dbms_ = name;
}

void ScriptedDriver::FailNextConnect(backend::Diagnostics diagnostics) {
  std::lock_guard<std::mutex> lock(mutex_);
  connectFailures_.push_back(std::move(diagnostics));
}

void ScriptedDriver::Push(Step step) {
  std::lock_guard<std::mutex> lock(mutex_);
  steps_.push_back(std::move(step));
}

void ScriptedDriver::PushError(const std::string& sqlState, const std::wstring& message, std::int32_t nativeError) {
  Step step;
  step.ok = false;
  step.diagnostics.push_back(backend::Diagnostic{sqlState, nativeError, message});
  Push(std::move(step));
}

void ScriptedDriver::PushRows(std::shared_ptr<backend::RowSet> rows) {
  Step step;
  step.response.results.push_back(backend::Result{std::move(rows), -1});
  Push(std::move(step));
}

void ScriptedDriver::SetAlive(bool alive) {
  std::lock_guard<std::mutex> lock(mutex_);
  alive_ = alive;
}

int ScriptedDriver::Connects() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connects_;
}

int ScriptedDriver::OpenSessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

std::vector<std::wstring> ScriptedDriver::Executed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return executed_;
}

std::vector<std::wstring> ScriptedDriver::ConnectStrings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connectStrings_;
}

ScopedDriver::ScopedDriver(backend::Driver* driver) : previous_(SetDriver(driver)) { IdleCache::Shared().Clear(); }

ScopedDriver::~ScopedDriver() {
  IdleCache::Shared().Clear();
  SetDriver(previous_);
}

ScopedCreationFailure::ScopedCreationFailure(REFCLSID clsid, HRESULT hr) : clsid_(clsid) {
  RegisterAdoClasses();
  creationFailure.store(hr);
  ComRegisterClass(clsid_, &FailCreation);
}

ScopedCreationFailure::~ScopedCreationFailure() { RegisterAdoClass(clsid_); }

}  // namespace ado
