// unixODBC's headers only: see record_raw_odbc.h.
#include "bench/record_raw_odbc.h"

#include <sql.h>
#include <sqlext.h>

namespace bench {

struct RawCrud::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT kept = SQL_NULL_HSTMT;  // with keepHandle
};

namespace {

SQLCHAR* Text(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }

}  // namespace

// One statement: on the kept handle (closed and reset at the end) or on
// one of its own (freed at the end).
class RawCrud::Statement {
 public:
  explicit Statement(Handles& h) : kept_(h.kept != SQL_NULL_HSTMT) {
    if (kept_) {
      stmt_ = h.kept;
    } else {
      SQLAllocHandle(SQL_HANDLE_STMT, h.dbc, &stmt_);
    }
  }
  ~Statement() {
    if (kept_) {
      SQLFreeStmt(stmt_, SQL_CLOSE);
      SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    } else {
      SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  void BindInt(SQLUSMALLINT position, SQLINTEGER* value) {
    SQLBindParameter(stmt_, position, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, value, 0, nullptr);
  }
  bool Run(const std::string& sql) { return SQL_SUCCEEDED(SQLExecDirect(stmt_, Text(sql), SQL_NTS)); }
  SQLLEN RowCount() {
    SQLLEN rows = -1;
    SQLRowCount(stmt_, &rows);
    return rows;
  }
  SQLHSTMT get() const { return stmt_; }

 private:
  bool kept_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

std::unique_ptr<RawCrud> RawCrud::Connect(const std::string& odbc, bool keepHandle, std::string* error) {
  std::unique_ptr<RawCrud> raw(new RawCrud());
  raw->h_ = std::make_unique<Handles>();
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw->h_->env);
  SQLSetEnvAttr(raw->h_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, raw->h_->env, &raw->h_->dbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(raw->h_->dbc, nullptr, Text(odbc), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT))) {
    *error = "SQLDriverConnect failed";
    return nullptr;
  }
  if (keepHandle) SQLAllocHandle(SQL_HANDLE_STMT, raw->h_->dbc, &raw->h_->kept);
  return raw;
}

RawCrud::~RawCrud() {
  if (!h_) return;
  if (h_->kept != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_->kept);
  SQLDisconnect(h_->dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, h_->dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, h_->env);
}

long long RawCrud::Insert(const std::string& table, const std::string& name, int count) {
  Statement stmt(*h_);
  SQLLEN length = static_cast<SQLLEN>(name.size());
  SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, name.size(), 0,
                   const_cast<char*>(name.c_str()), length, &length);
  SQLINTEGER value = count;
  stmt.BindInt(2, &value);
  if (!stmt.Run("INSERT INTO " + table + " (Name, Count) VALUES (?, ?) RETURNING Id") ||
      !SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    return -1;
  }
  SQLBIGINT id = -1;
  SQLLEN indicator = 0;
  SQLGetData(stmt.get(), 1, SQL_C_SBIGINT, &id, sizeof id, &indicator);
  return id;
}

int RawCrud::Select(const std::string& table, int id) {
  Statement stmt(*h_);
  SQLINTEGER key = id;
  stmt.BindInt(1, &key);
  if (!stmt.Run("SELECT Name, Count FROM " + table + " WHERE Id = ?") || !SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    return -1;
  }
  SQLWCHAR name[256];
  SQLINTEGER count = -1;
  SQLLEN indicator = 0;
  SQLGetData(stmt.get(), 1, SQL_C_WCHAR, name, sizeof name, &indicator);
  SQLGetData(stmt.get(), 2, SQL_C_SLONG, &count, sizeof count, &indicator);
  return count;
}

bool RawCrud::Update(const std::string& table, int id, int count) {
  Statement stmt(*h_);
  SQLINTEGER value = count;
  SQLINTEGER key = id;
  stmt.BindInt(1, &value);
  stmt.BindInt(2, &key);
  return stmt.Run("UPDATE " + table + " SET Count = ? WHERE Id = ?") && stmt.RowCount() == 1;
}

bool RawCrud::Delete(const std::string& table, int id) {
  Statement stmt(*h_);
  SQLINTEGER key = id;
  stmt.BindInt(1, &key);
  return stmt.Run("DELETE FROM " + table + " WHERE Id = ?") && stmt.RowCount() == 1;
}

}  // namespace bench
