// A profile's SQLite file: opening it, its schema, cached statements,
// transactions, and SQLite's results as messaging results. Internal to
// platform/mapi.
//
// Schema (the profile format, version kProfileFormat; the file's
// application id is kProfileApplicationId):
//
//   containers (id, name, parent, display_name, is_global)
//       address-book containers in description order; name is the
//       description's (and the entry identifier's) name, parent NULL below
//       the root, is_global 1 for the global address list
//   users (id, display_name, alias, email_address, email_key, address_type,
//          smtp_address, home_mdb, proxy_addresses)
//       mail users; email_key is the folded e-mail address (unique);
//       proxy_addresses a list of texts in the storage encoding
//       (platform/mapi/prop_value.h); absent values NULL
//   members (container, user)       which users each container lists
//   name_keys (key, user)           folded display name, alias, e-mail
//                                   and SMTP address of each user
//   stores (id, name, name_key, display_name, role, root)
//       message stores by distinguished name (name_key folded, unique);
//       role 1 the profile's default store, 2 its public store, 0 any
//       other mailbox; root the root folder's object
//   objects (id, store, parent, kind, version, created, modified)
//       folders (kind MAPI_FOLDER) and messages (MAPI_MESSAGE); numbers are
//       never reused, so a stale entry identifier never names a new object;
//       version counts committed saves; times are FILETIME values
//   props (object, id, type, value)
//       stored properties: identifier, canonical type and the value in the
//       storage encoding
//
// Thread safety: one Database belongs to one session (or one dispatcher),
// which serialises its use.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/win32/types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace mapi_internal {

inline constexpr std::int32_t kProfileApplicationId = 0x4D4D4150;  // "MMAP"
inline constexpr std::int32_t kProfileFormat = 1;

inline constexpr std::int64_t kRoleMailbox = 0;
inline constexpr std::int64_t kRoleDefault = 1;
inline constexpr std::int64_t kRolePublic = 2;

// What went wrong in a call: its result, a text for GetLastError and the
// low-level code behind it (SQLite's extended result, or 0).
struct Failure {
  HRESULT hr = 0;
  std::string text;
  ULONG lowLevel = 0;
};

class Database;

// One step-by-step use of a cached statement; resets it when it goes. When
// the cached statement of the same text is in use already (a walk that
// recurses), the use gets a statement of its own, finalised when it goes.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  void Bind(int index, std::int64_t value);
  void BindText(int index, std::string_view text);
  void BindBlob(int index, std::string_view bytes);
  void BindNull(int index);
  // Text or NULL when `text` is null.
  void BindOptionalText(int index, const std::string* text);

  // *row true with a row to read, false at the end.
  HRESULT Step(bool* row, Failure* failure);
  // Runs a statement that gives no rows.
  HRESULT Run(Failure* failure);

  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  std::string Blob(int column) const;
  bool IsNull(int column) const;

 private:
  friend class Database;
  Database* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
  bool* inUse_ = nullptr;  // the cached statement's flag; null for one of its own
  int bindResult_ = 0;
};

class Database {
 public:
  // Opens the file at `path`; with `create` it is made when missing.
  static HRESULT Open(const std::string& path, bool create, std::unique_ptr<Database>* out,
                      Failure* failure);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // MAPI_E_LOGON_FAILED unless the file holds a profile of this format.
  HRESULT CheckProfile(Failure* failure);
  // Drops whatever the file holds and creates the empty profile schema.
  HRESULT CreateProfileSchema(Failure* failure);

  HRESULT Prepare(const char* sql, Statement* statement, Failure* failure);
  HRESULT Exec(const char* sql, Failure* failure);

  // Fills `failure` from SQLite result `rc` and the connection's message.
  HRESULT Fail(int rc, Failure* failure);

  // The number the last INSERT gave its row.
  std::int64_t LastInsertId();

  // A value that changes whenever this connection or another one committed
  // a change to the file.
  HRESULT ChangeStamp(std::pair<std::int64_t, std::int64_t>* stamp, Failure* failure);

 private:
  explicit Database(sqlite3* db) : db_(db) {}
  struct Cached {
    sqlite3_stmt* statement;
    bool inUse;
  };
  sqlite3* db_;
  std::map<std::string, Cached> statements_;
};

// A transaction that rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) {}
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  HRESULT BeginRead(Failure* failure) { return Begin("BEGIN", failure); }
  // Takes the file's write lock at once (waiting for other writers).
  HRESULT BeginWrite(Failure* failure) { return Begin("BEGIN IMMEDIATE", failure); }
  HRESULT Commit(Failure* failure);

 private:
  HRESULT Begin(const char* sql, Failure* failure);
  Database& db_;
  bool open_ = false;
};

// The messaging result for SQLite result `rc`.
HRESULT ResultOfSqlite(int rc);

}  // namespace mapi_internal
