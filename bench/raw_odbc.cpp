// unixODBC's headers only: see raw_odbc.h.
#include "bench/raw_odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <vector>

namespace bench {

struct RawOdbc::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  // SelectByIdOnKeptStatement's statement and the buffers bound to it.
  SQLHSTMT kept = SQL_NULL_HSTMT;
  SQLINTEGER id = 0;
  SQLLEN idIndicator = 0;
  SQLINTEGER got = 0;
  SQLLEN gotIndicator = 0;
  SQLWCHAR name[256] = {};
  SQLLEN nameIndicator = 0;
};

namespace {

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  SQLCHAR state[6];
  SQLCHAR message[512];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length) == SQL_SUCCESS; ++i) {
    text += std::string(reinterpret_cast<char*>(state)) + ": " + reinterpret_cast<char*>(message) + "\n";
  }
  return text;
}

SQLCHAR* Text(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }

}  // namespace

std::unique_ptr<RawOdbc> RawOdbc::Connect(const std::string& odbc, std::string* error) {
  std::unique_ptr<RawOdbc> raw(new RawOdbc());
  raw->h_ = std::make_unique<Handles>();
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw->h_->env);
  SQLSetEnvAttr(raw->h_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, raw->h_->env, &raw->h_->dbc);
  SQLRETURN rc = SQLDriverConnect(raw->h_->dbc, nullptr, Text(odbc), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    *error = Diagnostics(SQL_HANDLE_DBC, raw->h_->dbc);
    return nullptr;
  }
  return raw;
}

RawOdbc::~RawOdbc() {
  if (!h_) return;
  if (h_->kept != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_->kept);
  SQLDisconnect(h_->dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, h_->dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, h_->env);
}

bool RawOdbc::Run(const std::string& sql) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &stmt);
  SQLRETURN rc = SQLExecDirect(stmt, Text(sql), SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
}

namespace {

// A new statement handle on which `sql` ran; null (nothing left allocated)
// when it failed.
SQLHSTMT Executed(SQLHDBC dbc, const std::string& sql) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  if (!SQL_SUCCEEDED(SQLExecDirect(stmt, Text(sql), SQL_NTS))) {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return SQL_NULL_HSTMT;
  }
  return stmt;
}

}  // namespace

std::size_t RawOdbc::ReadAll(const std::string& sql, std::size_t* dataBytes) {
  SQLHSTMT stmt = Executed(h_->dbc, sql);
  if (stmt == SQL_NULL_HSTMT) return 0;
  SQLSMALLINT count = 0;
  SQLNumResultCols(stmt, &count);
  std::vector<SQLSMALLINT> types(static_cast<std::size_t>(count));
  for (SQLSMALLINT c = 0; c < count; ++c) {
    SQLCHAR name[128];
    SQLSMALLINT nameLength = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(c + 1), name, sizeof name, &nameLength, &types[static_cast<std::size_t>(c)],
                   &size, &digits, &nullable);
  }
  std::size_t rows = 0;
  std::size_t bytes = 0;
  SQLWCHAR text[4096];
  SQLCHAR digits[80];
  unsigned char binary[8192];
  while (SQL_SUCCEEDED(SQLFetch(stmt))) {
    ++rows;
    for (SQLSMALLINT c = 0; c < count; ++c) {
      const auto column = static_cast<SQLUSMALLINT>(c + 1);
      SQLLEN indicator = 0;
      switch (types[static_cast<std::size_t>(c)]) {
        case SQL_INTEGER: {
          SQLINTEGER v;
          SQLGetData(stmt, column, SQL_C_SLONG, &v, sizeof v, &indicator);
          if (indicator != SQL_NULL_DATA) bytes += sizeof v;
          break;
        }
        case SQL_BIGINT: {
          SQLBIGINT v;
          SQLGetData(stmt, column, SQL_C_SBIGINT, &v, sizeof v, &indicator);
          if (indicator != SQL_NULL_DATA) bytes += sizeof v;
          break;
        }
        case SQL_DOUBLE:
        case SQL_FLOAT: {
          SQLDOUBLE v;
          SQLGetData(stmt, column, SQL_C_DOUBLE, &v, sizeof v, &indicator);
          if (indicator != SQL_NULL_DATA) bytes += sizeof v;
          break;
        }
        case SQL_TYPE_TIMESTAMP: {
          SQL_TIMESTAMP_STRUCT v;
          SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &indicator);
          if (indicator != SQL_NULL_DATA) bytes += 8;  // as an 8-byte date
          break;
        }
        case SQL_NUMERIC:
        case SQL_DECIMAL:
          SQLGetData(stmt, column, SQL_C_CHAR, digits, sizeof digits, &indicator);
          if (indicator != SQL_NULL_DATA) bytes += 16;  // as a 16-byte decimal
          break;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
          SQLGetData(stmt, column, SQL_C_BINARY, binary, sizeof binary, &indicator);
          if (indicator > 0) bytes += static_cast<std::size_t>(indicator);
          break;
        default:
          SQLGetData(stmt, column, SQL_C_WCHAR, text, sizeof text, &indicator);
          if (indicator > 0) bytes += static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);  // ASCII: one byte each
          break;
      }
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  *dataBytes += bytes;
  return rows;
}

namespace {

// Binds the id, executes, fetches the row and reads both columns.
bool SelectOn(SQLHSTMT stmt, const std::string& sql, int id) {
  SQLINTEGER value = id;
  SQLLEN indicator = 0;
  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0, &indicator);
  bool ok = SQL_SUCCEEDED(SQLExecDirect(stmt, Text(sql), SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(stmt));
  if (ok) {
    SQLINTEGER got = 0;
    SQLWCHAR name[256];
    SQLGetData(stmt, 1, SQL_C_SLONG, &got, sizeof got, &indicator);
    SQLGetData(stmt, 2, SQL_C_WCHAR, name, sizeof name, &indicator);
    ok = got == id;
  }
  return ok;
}

}  // namespace

bool RawOdbc::SelectById(const std::string& sql, int id) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &stmt);
  const bool ok = SelectOn(stmt, sql, id);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return ok;
}

bool RawOdbc::SelectByIdOnKeptStatement(const std::string& sql, int id) {
  Handles& h = *h_;
  if (h.kept == SQL_NULL_HSTMT) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h.dbc, &h.kept))) return false;
    SQLBindParameter(h.kept, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &h.id, 0, &h.idIndicator);
    SQLBindCol(h.kept, 1, SQL_C_SLONG, &h.got, sizeof h.got, &h.gotIndicator);
    SQLBindCol(h.kept, 2, SQL_C_WCHAR, h.name, sizeof h.name, &h.nameIndicator);
  }
  h.id = id;
  h.got = 0;
  const bool ok = SQL_SUCCEEDED(SQLExecDirect(h.kept, Text(sql), SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(h.kept)) &&
                  h.got == id;
  SQLFreeStmt(h.kept, SQL_CLOSE);
  return ok;
}

std::size_t RawOdbc::ReadAllInBlocks(const std::string& sql, std::size_t* dataBytes) {
  SQLHSTMT stmt = Executed(h_->dbc, sql);
  if (stmt == SQL_NULL_HSTMT) return 0;
  SQLSMALLINT count = 0;
  SQLNumResultCols(stmt, &count);
  struct Column {
    SQLSMALLINT sqlType = 0;
    SQLSMALLINT cType = 0;
    SQLLEN width = 0;
    std::vector<unsigned char> buffer;
    std::vector<SQLLEN> indicators;
  };
  std::vector<Column> columns(static_cast<std::size_t>(count));
  SQLLEN rowWidth = 0;
  for (SQLSMALLINT c = 0; c < count; ++c) {
    Column& column = columns[static_cast<std::size_t>(c)];
    SQLCHAR name[128];
    SQLSMALLINT nameLength = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(c + 1), name, sizeof name, &nameLength, &column.sqlType, &size,
                   &digits, &nullable);
    switch (column.sqlType) {
      case SQL_INTEGER: column.cType = SQL_C_SLONG; column.width = sizeof(SQLINTEGER); break;
      case SQL_BIGINT: column.cType = SQL_C_SBIGINT; column.width = sizeof(SQLBIGINT); break;
      case SQL_DOUBLE:
      case SQL_FLOAT: column.cType = SQL_C_DOUBLE; column.width = sizeof(SQLDOUBLE); break;
      case SQL_TYPE_TIMESTAMP: column.cType = SQL_C_TYPE_TIMESTAMP; column.width = sizeof(SQL_TIMESTAMP_STRUCT); break;
      case SQL_NUMERIC:
      case SQL_DECIMAL: column.cType = SQL_C_CHAR; column.width = 80; break;
      case SQL_BINARY:
      case SQL_VARBINARY:
      case SQL_LONGVARBINARY:
        column.cType = SQL_C_BINARY;
        column.width = static_cast<SQLLEN>(size > 0 && size <= 1024 ? size : 1024);
        break;
      default:
        column.cType = SQL_C_WCHAR;
        column.width = static_cast<SQLLEN>(((size > 0 && size <= 256 ? size : 256) + 1) * sizeof(SQLWCHAR));
        break;
    }
    rowWidth += column.width + static_cast<SQLLEN>(sizeof(SQLLEN));
  }
  SQLULEN block = static_cast<SQLULEN>(512 * 1024 / (rowWidth > 0 ? rowWidth : 1));
  if (block < 1) block = 1;
  if (block > 1024) block = 1024;
  SQLULEN fetched = 0;
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  for (SQLSMALLINT c = 0; c < count; ++c) {
    Column& column = columns[static_cast<std::size_t>(c)];
    column.buffer.assign(block * static_cast<std::size_t>(column.width), 0);
    column.indicators.assign(block, 0);
    SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), column.cType, column.buffer.data(), column.width,
               column.indicators.data());
  }
  std::size_t rows = 0;
  std::size_t bytes = 0;
  SQLWCHAR text[4096];
  unsigned char binary[8192];
  while (SQL_SUCCEEDED(SQLFetch(stmt))) {
    rows += fetched;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const Column& column = columns[c];
      for (SQLULEN r = 0; r < fetched; ++r) {
        const SQLLEN indicator = column.indicators[r];
        if (indicator == SQL_NULL_DATA) continue;
        switch (column.cType) {
          case SQL_C_SLONG:
          case SQL_C_SBIGINT:
          case SQL_C_DOUBLE: bytes += static_cast<std::size_t>(column.width); break;
          case SQL_C_TYPE_TIMESTAMP: bytes += 8; break;  // as an 8-byte date
          case SQL_C_CHAR: bytes += 16; break;          // as a 16-byte decimal
          default: {
            const bool wide = column.cType == SQL_C_WCHAR;
            const SQLLEN room = wide ? column.width - static_cast<SQLLEN>(sizeof(SQLWCHAR)) : column.width;
            SQLLEN length = indicator;
            if (indicator == SQL_NO_TOTAL || indicator > room) {
              // Wider than its buffer: read whole.
              SQLSetPos(stmt, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE);
              const auto number = static_cast<SQLUSMALLINT>(c + 1);
              if (wide) {
                SQLGetData(stmt, number, SQL_C_WCHAR, text, sizeof text, &length);
              } else {
                SQLGetData(stmt, number, SQL_C_BINARY, binary, sizeof binary, &length);
              }
            }
            // ASCII text: one byte a character.
            if (length > 0) bytes += static_cast<std::size_t>(wide ? length / static_cast<SQLLEN>(sizeof(SQLWCHAR)) : length);
            break;
          }
        }
      }
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  *dataBytes += bytes;
  return rows;
}

}  // namespace bench
