// ODBCDatabase: the settings-and-logging object every ODBCRecord works
// against. It holds the command time-out and retry budget read from the
// registry's Database key, the database kind (SQL Server or DB2, which
// chooses the statement forms of odbc_record.h), the log sink of the record
// layer, and the way to the connections the records borrow.
//
// Settings ("Software\Quillon\Quorrel Dazadevari Server\Database" under
// HKEY_LOCAL_MACHINE), read once by the constructor; each keeps its default
// when absent or when the key does not open:
//   MsdeConnectionCountWrapper  int    2
//   CommandTimeOut              DWORD  30   seconds, every statement's time-out
//   CommandRetryCount           DWORD  5    tries of every statement
//
// Log writes through the debug logger while it runs (at the level that
// ThrottleLogLevel gives for the optional last-time argument) and otherwise
// prints one console line:
//   yy/mm/dd hh:mm:ss (TID 0x<thread id, upper-case hex>) DAZududo '<text>'
// of at most 1023 characters; a longer one is cut and ends in "'" at its
// last position. Standard output is flushed after each line only when it is
// a terminal; a file or pipe gets the lines as its buffer fills and at exit.
//
// Connections come from a RecordConnections: by default the process-wide
// connection pool (db/connection_pool.h), whose items are lent for one
// operation or transaction and given back with ReleaseConnection.
//
// Thread safety: after construction the object is read-only apart from the
// throttle time, which only ThrottleLogLevel touches (atomically). Log and
// CheckConnection may be called from any thread at once.
#pragma once

#include <cstdint>

#include "db/database_kind.h"
#include "foundation/zev_string.h"
#include "platform/ado/ado.h"
#include "platform/win32/types.h"

// The source of the connections a record borrows: one per operation, or
// one held across a transaction. Borrow and GiveBack may be called from any
// thread; each lent connection is used by one thread at a time.
class RecordConnections {
 public:
  // One lent connection: its open ADO connection and the source's own
  // handle for it.
  struct Lent {
    ado::_ConnectionPtr connection;
    void* item = nullptr;
  };

  virtual ~RecordConnections() = default;
  // A connection of its own for the caller; false when none can be had.
  virtual bool Borrow(Lent* out) = 0;
  // Gives back (and forgets) a connection taken with Borrow.
  virtual void GiveBack(Lent& lent) = 0;
  // Times one statement: the tick count before it ran, whether it failed
  // and its HRESULT.
  virtual void UpdateStatistics(DWORD startTick, bool failed, HRESULT code) = 0;
  // True when the source still reaches the database.
  virtual bool Validate() = 0;
  // Brings the source back after a failed Validate; true when it is up.
  virtual bool ReInitialize() = 0;
};

class ODBCDatabase {
 public:
  // Reads the registry settings; the database kind is DbConfig's.
  // `connections` (not owned; must outlive the object) lends the records
  // their connections; null: the process-wide pool.
  explicit ODBCDatabase(RecordConnections* connections = nullptr);
  // As above with a given kind: DB2 selects the DB2 statement forms, any
  // other the SQL Server forms. (Also null `connections` means the
  // process-wide pool.)
  ODBCDatabase(DatabaseKind databaseKind, RecordConnections* connections);
  virtual ~ODBCDatabase();

  ODBCDatabase(const ODBCDatabase&) = delete;
  ODBCDatabase& operator=(const ODBCDatabase&) = delete;

  // The record layer's log sink. `lastTime` (may be null) throttles the line
  // through ThrottleLogLevel(lastTime, level, 6, 0); `lastMessage` (may be
  // null; a record's last message) receives the text written. `fmt` is a
  // wide format in the system's printf dialect (%s takes wide text). Never
  // throws.
  virtual void Log(std::int64_t* lastTime, zev::ZEVString* lastMessage, int level, const wchar_t* fmt, ...);

  // True when the connections are usable, re-initialising them if needed;
  // a failure is logged at level 2 (throttled).
  bool CheckConnection();

  int GetMsdeConnectionCountWrapper() const { return msdeConnectionCountWrapper_; }
  DatabaseKind GetDatabaseKind() const { return databaseKind_; }
  bool IsDB2() const { return databaseKind_ == DatabaseKind::DB2; }
  // Seconds; the ADO command time-out of every statement.
  int GetCommandTimeOut() const { return commandTimeOut_; }
  // The number of tries of every statement.
  int GetCommandRetryCount() const { return commandRetryCount_; }
  RecordConnections* GetConnections() const { return connections_; }

 private:
  void ReadSettings();

  int msdeConnectionCountWrapper_ = 2;
  DatabaseKind databaseKind_ = DatabaseKind::SqlServer;
  int commandTimeOut_ = 30;
  int commandRetryCount_ = 5;
  std::int64_t lastReconnectFailureLog_ = 0;
  RecordConnections* connections_;
};
