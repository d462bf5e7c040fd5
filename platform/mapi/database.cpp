#include "platform/mapi/database.h"

#include <sqlite3.h>

#include "platform/mapi/mapi_codes.h"

namespace mapi_internal {
namespace {

// How long a call waits for another process's write lock.
constexpr int kBusyTimeoutMilliseconds = 30000;

constexpr char kSchema[] = R"sql(
DROP TABLE IF EXISTS containers;
DROP TABLE IF EXISTS users;
DROP TABLE IF EXISTS members;
DROP TABLE IF EXISTS name_keys;
DROP TABLE IF EXISTS stores;
DROP TABLE IF EXISTS objects;
DROP TABLE IF EXISTS props;
CREATE TABLE containers (
  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, parent INTEGER,
  display_name TEXT NOT NULL, is_global INTEGER NOT NULL);
CREATE TABLE users (
  id INTEGER PRIMARY KEY, display_name TEXT NOT NULL, alias TEXT,
  email_address TEXT NOT NULL, email_key TEXT NOT NULL UNIQUE, address_type TEXT NOT NULL,
  smtp_address TEXT, home_mdb TEXT, proxy_addresses BLOB);
CREATE TABLE members (
  container INTEGER NOT NULL, user INTEGER NOT NULL, PRIMARY KEY (container, user)) WITHOUT ROWID;
CREATE TABLE name_keys (
  key TEXT NOT NULL, user INTEGER NOT NULL, PRIMARY KEY (key, user)) WITHOUT ROWID;
CREATE TABLE stores (
  id INTEGER PRIMARY KEY, name TEXT NOT NULL, name_key TEXT NOT NULL UNIQUE,
  display_name TEXT NOT NULL, role INTEGER NOT NULL, root INTEGER NOT NULL);
CREATE TABLE objects (
  id INTEGER PRIMARY KEY AUTOINCREMENT, store INTEGER NOT NULL, parent INTEGER, kind INTEGER NOT NULL,
  version INTEGER NOT NULL, created INTEGER NOT NULL, modified INTEGER NOT NULL);
CREATE INDEX objects_by_parent ON objects (parent);
CREATE TABLE props (
  object INTEGER NOT NULL, id INTEGER NOT NULL, type INTEGER NOT NULL, value BLOB NOT NULL,
  PRIMARY KEY (object, id)) WITHOUT ROWID;
)sql";

}  // namespace

HRESULT ResultOfSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return S_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return MAPI_E_BUSY;
    case SQLITE_NOMEM:
      return MAPI_E_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return MAPI_E_CORRUPT_STORE;
    case SQLITE_FULL:
      return MAPI_E_NOT_ENOUGH_DISK;
    case SQLITE_IOERR:
      return MAPI_E_DISK_ERROR;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return MAPI_E_NO_ACCESS;
    case SQLITE_CANTOPEN:
      return MAPI_E_NOT_FOUND;
    default:
      return MAPI_E_CALL_FAILED;
  }
}

Statement::~Statement() {
  if (statement_ == nullptr) return;
  if (inUse_ == nullptr) {
    sqlite3_finalize(statement_);
    return;
  }
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
  *inUse_ = false;
}

void Statement::Bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, index, value);
  if (bindResult_ == SQLITE_OK) bindResult_ = rc;
}

void Statement::BindText(int index, std::string_view text) {
  const int rc = sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
  if (bindResult_ == SQLITE_OK) bindResult_ = rc;
}

void Statement::BindBlob(int index, std::string_view bytes) {
  const int rc = sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  if (bindResult_ == SQLITE_OK) bindResult_ = rc;
}

void Statement::BindNull(int index) {
  const int rc = sqlite3_bind_null(statement_, index);
  if (bindResult_ == SQLITE_OK) bindResult_ = rc;
}

void Statement::BindOptionalText(int index, const std::string* text) {
  if (text != nullptr) {
    BindText(index, *text);
  } else {
    BindNull(index);
  }
}

HRESULT Statement::Step(bool* row, Failure* failure) {
  *row = false;
  if (bindResult_ != SQLITE_OK) return db_->Fail(bindResult_, failure);
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) {
    *row = true;
    return S_OK;
  }
  if (rc == SQLITE_DONE) return S_OK;
  return db_->Fail(rc, failure);
}

HRESULT Statement::Run(Failure* failure) {
  bool row = false;
  return Step(&row, failure);
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
                         : std::string();
}

std::string Statement::Blob(int column) const {
  const void* bytes = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return bytes != nullptr ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                          : std::string();
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

HRESULT Database::Open(const std::string& path, bool create, std::unique_ptr<Database>* out,
                       Failure* failure) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    failure->hr = ResultOfSqlite(rc);
    failure->text = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    failure->lowLevel = static_cast<ULONG>(rc);
    sqlite3_close(db);
    return failure->hr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
  // Pages are read through a memory map and kept in a larger cache, so that
  // lookups in a large address book cost no system calls.
  sqlite3_exec(db, "PRAGMA mmap_size = 268435456; PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
  out->reset(new Database(db));
  return S_OK;
}

Database::~Database() {
  for (auto& [sql, cached] : statements_) sqlite3_finalize(cached.statement);
  sqlite3_close(db_);
}

HRESULT Database::Fail(int rc, Failure* failure) {
  if (failure != nullptr) {
    failure->hr = ResultOfSqlite(rc);
    failure->text = sqlite3_errmsg(db_);
    failure->lowLevel = static_cast<ULONG>(rc);
  }
  return ResultOfSqlite(rc);
}

std::int64_t Database::LastInsertId() { return sqlite3_last_insert_rowid(db_); }

HRESULT Database::ChangeStamp(std::pair<std::int64_t, std::int64_t>* stamp, Failure* failure) {
  Statement version;
  bool row = false;
  HRESULT hr = Prepare("PRAGMA data_version", &version, failure);
  if (SUCCEEDED(hr)) hr = version.Step(&row, failure);
  if (SUCCEEDED(hr)) *stamp = {row ? version.Int(0) : 0, sqlite3_total_changes64(db_)};
  return hr;
}

HRESULT Database::Prepare(const char* sql, Statement* statement, Failure* failure) {
  auto found = statements_.find(sql);
  const bool own = found != statements_.end() && found->second.inUse;
  if (found == statements_.end() || own) {
    sqlite3_stmt* prepared = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, own ? 0 : SQLITE_PREPARE_PERSISTENT, &prepared,
                                      nullptr);
    if (rc != SQLITE_OK) return Fail(rc, failure);
    if (own) {
      statement->statement_ = prepared;
      statement->inUse_ = nullptr;
    } else {
      found = statements_.emplace(sql, Cached{prepared, false}).first;
    }
  }
  if (!own) {
    found->second.inUse = true;
    statement->statement_ = found->second.statement;
    statement->inUse_ = &found->second.inUse;
  }
  statement->db_ = this;
  statement->bindResult_ = SQLITE_OK;
  return S_OK;
}

HRESULT Database::Exec(const char* sql, Failure* failure) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? S_OK : Fail(rc, failure);
}

HRESULT Database::CheckProfile(Failure* failure) {
  Statement application;
  Statement version;
  bool row = false;
  HRESULT hr = Prepare("PRAGMA application_id", &application, failure);
  if (SUCCEEDED(hr)) hr = application.Step(&row, failure);
  const bool ours = SUCCEEDED(hr) && row && application.Int(0) == kProfileApplicationId;
  if (SUCCEEDED(hr)) hr = Prepare("PRAGMA user_version", &version, failure);
  if (SUCCEEDED(hr)) hr = version.Step(&row, failure);
  if (FAILED(hr) || !ours || !row || version.Int(0) != kProfileFormat) {
    failure->hr = MAPI_E_LOGON_FAILED;
    if (SUCCEEDED(hr)) {
      failure->text = "the file is not a profile of this format";
      failure->lowLevel = 0;
    }
    return MAPI_E_LOGON_FAILED;
  }
  return S_OK;
}

HRESULT Database::CreateProfileSchema(Failure* failure) {
  HRESULT hr = Exec(kSchema, failure);
  if (SUCCEEDED(hr)) {
    const std::string pragmas = "PRAGMA application_id = " + std::to_string(kProfileApplicationId) +
                                "; PRAGMA user_version = " + std::to_string(kProfileFormat);
    hr = Exec(pragmas.c_str(), failure);
  }
  return hr;
}

Transaction::~Transaction() {
  if (open_) db_.Exec("ROLLBACK", nullptr);
}

HRESULT Transaction::Begin(const char* sql, Failure* failure) {
  const HRESULT hr = db_.Exec(sql, failure);
  open_ = SUCCEEDED(hr);
  return hr;
}

HRESULT Transaction::Commit(Failure* failure) {
  const HRESULT hr = db_.Exec("COMMIT", failure);
  if (SUCCEEDED(hr)) open_ = false;
  return hr;
}

}  // namespace mapi_internal
