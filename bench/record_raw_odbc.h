// The peer of the record-layer benchmark: one row's create, read, update
// and delete with raw ODBC calls on one already open connection, sending the
// statement texts the record layer sends to PostgreSQL. Standard types
// only, so that the benchmark's side that includes platform/win32/types.h
// may include it; one thread.
#pragma once

#include <memory>
#include <string>

namespace bench {

class RawCrud {
 public:
  // Connects; null with the reason in *error. With `keepHandle` every
  // statement runs on one statement handle kept open (closed and its
  // parameters reset after each), else on one allocated for it.
  static std::unique_ptr<RawCrud> Connect(const std::string& odbc, bool keepHandle, std::string* error);
  ~RawCrud();

  // "INSERT INTO <table> (Name, Count) VALUES (?, ?) RETURNING Id": the new
  // row's Id, or -1 on failure.
  long long Insert(const std::string& table, const std::string& name, int count);
  // "SELECT Name, Count FROM <table> WHERE Id = ?": the row's Count, or -1.
  int Select(const std::string& table, int id);
  // "UPDATE <table> SET Count = ? WHERE Id = ?": true when one row changed.
  bool Update(const std::string& table, int id, int count);
  // "DELETE FROM <table> WHERE Id = ?": true when one row went.
  bool Delete(const std::string& table, int id);

 private:
  RawCrud() = default;
  class Statement;
  struct Handles;
  std::unique_ptr<Handles> h_;
};

}  // namespace bench
