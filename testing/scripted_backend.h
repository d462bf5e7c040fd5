// A scripted driver for the database tests: it stands behind the ADO
// objects in place of ODBC and answers each statement from a script, so
// that tests can produce what no real server produces on demand (a DB2 lock
// time-out "57033", a deadlock on the second try, a connection that dies
// while idle).
//
// Every session made by one ScriptedDriver shares its script: each Execute
// takes the next step (or, with the script empty, succeeds with one result
// of 0 rows affected) and records the request's text. Connect fails while
// connect failures are queued. ScopedDriver puts a driver behind the ADO
// objects for its lifetime (ado::SetDriver) and empties the idle cache on
// both ends, so no connection crosses from one test to another.
//
// ScopedCreationFailure makes platform/com's factory fail to create one of
// the ADO classes (a command that cannot be created) until destruction.
//
// A ScriptedDriver may be used from several threads (its state is locked);
// it must outlive the sessions it made.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ado/backend.h"
#include "platform/com/unknown.h"

namespace ado {

class ScriptedDriver final : public backend::Driver {
 public:
  struct Step {
    bool ok = true;
    backend::Response response;
    backend::Diagnostics diagnostics;
  };

  ScriptedDriver();
  ~ScriptedDriver() override;

  std::unique_ptr<backend::Session> Connect(const std::wstring& odbcString, int loginTimeoutSeconds,
                                            backend::Diagnostics* diagnostics) override;

  // The DBMS name the sessions report (default "Microsoft SQL Server").
  void SetDbmsName(const std::wstring& name);
  // The next Connect fails with these diagnostics.
  void FailNextConnect(backend::Diagnostics diagnostics);
  // The next Execute answers with this step.
  void Push(Step step);
  // Shorthands: a failure with one diagnostic; a success with rows.
  void PushError(const std::string& sqlState, const std::wstring& message, std::int32_t nativeError = 0);
  void PushRows(std::shared_ptr<backend::RowSet> rows);
  // Whether sessions pass their liveness check (default true).
  void SetAlive(bool alive);

  int Connects() const;
  // Physical connections made and not yet closed.
  int OpenSessions() const;
  std::vector<std::wstring> Executed() const;
  std::vector<std::wstring> ConnectStrings() const;

 private:
  class Session;
  friend class Session;

  mutable std::mutex mutex_;
  std::wstring dbms_ = L"Microsoft SQL Server";
  std::deque<backend::Diagnostics> connectFailures_;
  std::deque<Step> steps_;
  std::vector<std::wstring> executed_;
  std::vector<std::wstring> connectStrings_;
  int connects_ = 0;
  int open_ = 0;
  bool alive_ = true;
};

// Puts `driver` behind the ADO objects until destruction.
class ScopedDriver {
 public:
  explicit ScopedDriver(backend::Driver* driver);
  ~ScopedDriver();
  ScopedDriver(const ScopedDriver&) = delete;
  ScopedDriver& operator=(const ScopedDriver&) = delete;

 private:
  backend::Driver* previous_;
};

// CoCreateInstance of `clsid` (CLSID_Connection, CLSID_Command or
// CLSID_Recordset) fails with `hr` while this object lives. One at a time.
class ScopedCreationFailure {
 public:
  ScopedCreationFailure(REFCLSID clsid, HRESULT hr);
  ~ScopedCreationFailure();
  ScopedCreationFailure(const ScopedCreationFailure&) = delete;
  ScopedCreationFailure& operator=(const ScopedCreationFailure&) = delete;

 private:
  CLSID clsid_;
};

}  // namespace ado
