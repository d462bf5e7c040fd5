// One ADO connection to the configuration database, owned by the
// connection pool (db/connection_pool.h): the pool keeps one as its primary
// connection and creates a fresh one for every borrower, who runs its own
// Commands on GetConnection() and gives the item back through the pool,
// which deletes it.
//
// ConnectToDB opens the item (closing it first) with a connect time-out; on
// DB2 it then points the session's schema and path at the configured schema
// (DbConfig::GetDB2Schema) unless that is the login's own; the schema is
// written as an SQL literal, a quote in it doubled. ValidateConnection
// runs "select 0" ("values 0" on DB2). Failures are logged and returned as
// false; nothing is thrown. Connect failures are logged with the connection
// string passed through SuppressPassword, so no password reaches a log line.
// The connection string and login are held in a ConnectionTarget, which
// the pool shares among the items it lends (no copy per borrow); its copy of
// the connection string is wiped when the last holder goes. The item's
// Command is made on the first GetCommand, not for every connect.
//
// Thread safety: an item belongs to one thread at a time (the pool's mutex
// guards the primary; a lent item belongs to its borrower). SuppressPassword
// is a pure function.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "db/database_kind.h"
#include "platform/ado/ado.h"

// What an item connects with: the ADO connection string and the login it
// names. Immutable once made; wipes the connection string when it goes.
// `openText` is the same string as the connection's Open takes it, made
// once so that a connect copies nothing (a BSTR is zeroed when freed), and
// named `openTextId` for the connection's OpenKnown, so that a connect
// does not work the string out again.
struct ConnectionTarget {
  ConnectionTarget(std::wstring connectionString, std::wstring userId);
  ~ConnectionTarget();
  ConnectionTarget(const ConnectionTarget&) = delete;
  ConnectionTarget& operator=(const ConnectionTarget&) = delete;

  std::wstring connectionString;
  std::wstring userId;
  _bstr_t openText;
  std::uint64_t openTextId;
};

class ConnectionItem {
 public:
  // Copies both strings and chooses the validation query (DB2 when
  // `kind` says so; by default DbConfig's kind); opens nothing.
  ConnectionItem(const std::wstring& connectionString, const std::wstring& userId);
  ConnectionItem(const std::wstring& connectionString, const std::wstring& userId, DatabaseKind kind);
  // The same with a shared target (not null), copying nothing.
  ConnectionItem(std::shared_ptr<const ConnectionTarget> target, DatabaseKind kind);
  // Closes the connection.
  ~ConnectionItem();
  ConnectionItem(const ConnectionItem&) = delete;
  ConnectionItem& operator=(const ConnectionItem&) = delete;

  // Opens the connection with ConnectionTimeout = `timeoutSecs`. The
  // connect-failure lines are logged at level 2 at most once per interval
  // of *lastLogged (ThrottleLogLevel), at level 6 otherwise.
  bool ConnectToDB(LONG timeoutSecs, std::int64_t* lastLogged);
  // Closes the connection when it is open and drops the Connection object.
  bool DisconnectFromDB();
  // Runs the validation query. `lastLogged` may be null (always level 2).
  bool ValidateConnection(std::int64_t* lastLogged);

  // `connectionString` with the value of every "pwd" and "password" keyword
  // (any case, blanks and line breaks around the keyword and '=' allowed,
  // quoted and braced values included: ado::MaskPasswords) removed; every
  // other character kept.
  static std::wstring SuppressPassword(const std::wstring& connectionString);

  // The open connection (null before ConnectToDB succeeded) and the item's
  // command, whose ActiveConnection is that connection: made on the first
  // call once the connection is open (null before, or when it cannot be
  // made, which is logged).
  ado::_ConnectionPtr GetConnection() const { return connection_; }
  ado::_CommandPtr GetCommand() const;

  bool IsValid() const { return valid_; }
  void SetValid(bool valid) { valid_ = valid; }

 private:
  friend class ConnectionPool;
  void SetDb2SchemaOwner();

  mutable ado::_CommandPtr command_;
  ado::_ConnectionPtr connection_;
  bool valid_ = true;
  std::shared_ptr<const ConnectionTarget> target_;
  DatabaseKind kind_;
  const wchar_t* validationQuery_;
  // The pool's semaphore this item holds a count of; null for the primary
  // and for items the pool did not lend.
  HANDLE lentUnder_ = nullptr;
};
