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

std::size_t RawOdbc::ReadAll(const std::string& sql, std::size_t* dataBytes) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &stmt);
  if (!SQL_SUCCEEDED(SQLExecDirect(stmt, Text(sql), SQL_NTS))) {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return 0;
  }
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

bool RawOdbc::SelectById(const std::string& sql, int id) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &stmt);
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

}  // namespace bench
