// The peer of the ADO benchmarks: the same work done with raw ODBC calls on
// one already open connection. Standard types only, so that the benchmark's
// ADO side (which includes platform/win32/types.h) may include it; one
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bench {

class RawOdbc {
 public:
  // Connects; null with the reason in *error.
  static std::unique_ptr<RawOdbc> Connect(const std::string& odbc, std::string* error);
  ~RawOdbc();

  // Runs a statement without reading results; false on failure.
  bool Run(const std::string& sql);
  // Executes `sql` and reads every cell into local buffers: cell by cell
  // (SQLFetch, SQLGetData), or in blocks of bound column arrays (SQLBindCol
  // with a row array of about 512 KiB, values wider than their buffer read
  // again with SQLGetData), as the ADO objects read a result. Returns the
  // rows read and adds the bytes of the values (fixed widths, text in
  // UTF-8, binaries) to *dataBytes.
  std::size_t ReadAll(const std::string& sql, std::size_t* dataBytes);
  std::size_t ReadAllInBlocks(const std::string& sql, std::size_t* dataBytes);
  // One statement cycle: bind one integer, execute, fetch the row and its
  // two columns. On a statement handle allocated for the cycle and freed
  // after it, or on one handle kept open across cycles (closed and its
  // parameters reset after each). False on failure.
  bool SelectById(const std::string& sql, int id);
  // The same cycle on one statement handle kept for the connection's life,
  // its parameter (an integer) and its two columns (an integer, text) bound
  // once: execute, fetch, close the cursor. `sql` is the same text on every
  // call. False on failure or when the row's first column is not `id`.
  bool SelectByIdOnKeptStatement(const std::string& sql, int id);

 private:
  RawOdbc() = default;
  struct Handles;
  std::unique_ptr<Handles> h_;
};

}  // namespace bench
