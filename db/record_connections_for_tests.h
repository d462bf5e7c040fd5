// RecordConnections for the record layer's tests: each borrow opens an ADO
// connection with a given connection string and each give-back closes it,
// as the pool does with its items. Counts what is out, so tests can show
// that every operation gives back what it took.
//
// Used by one test thread at a time.
#pragma once

#include <string>

#include "db/odbc_database.h"
#include "platform/ado/ado.h"

class AdoRecordConnections : public RecordConnections {
 public:
  explicit AdoRecordConnections(std::wstring connectionString) : connectionString_(std::move(connectionString)) {}

  bool Borrow(Lent* out) override {
    try {
      ado::_ConnectionPtr connection = ado::MakeConnection();
      connection->Open(_bstr_t(connectionString_.c_str()), _bstr_t(L""), _bstr_t(L""));
      out->connection = connection;
      ++outstanding;
      return true;
    } catch (const _com_error&) {
      return false;
    }
  }
  void GiveBack(Lent& lent) override {
    if (lent.connection && lent.connection->GetState() == ado::adStateOpen) lent.connection->Close();
    --outstanding;
  }
  void UpdateStatistics(DWORD, bool failed, HRESULT) override {
    ++statements;
    if (failed) ++failures;
  }
  bool Validate() override { return true; }
  bool ReInitialize() override { return true; }

  int outstanding = 0;
  int statements = 0;
  int failures = 0;

 private:
  std::wstring connectionString_;
};
