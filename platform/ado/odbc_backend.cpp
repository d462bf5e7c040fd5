// unixODBC's headers define DWORD, ULONG and BOOL of their own: this file
// must not include platform/win32/types.h (directly or through another
// header); it speaks to the rest of the system through backend.h only.
#include "platform/ado/odbc_backend.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>

#include "platform/ado/clock.h"

namespace ado::backend {
namespace {

static_assert(sizeof(SQLWCHAR) == 2, "unixODBC's SQLWCHAR must be UTF-16");

// An idle connection is pinged with a round trip before it is reused.
constexpr auto kPingAfterIdle = std::chrono::seconds(2);
// Block fetches: the bytes of one block's buffers, and the widths bound for
// values of unknown or large size (longer ones are read again one by one).
constexpr SQLLEN kBlockBytes = 512 * 1024;
constexpr std::uint64_t kBoundCharacters = 256;
constexpr std::uint64_t kBoundBytes = 1024;
// Results of at most this many rows (as the driver announces them) are
// read row by row.
constexpr std::int64_t kRowByRowRowsAtMost = 4;
// The most rows reserved ahead on a driver's word.
constexpr std::int64_t kReserveRowsAtMost = 1000000;
// Room for the text of any decimal a driver sends.
constexpr std::size_t kDecimalTextSize = 80;
// The UTF-16 units of a text cell read with one SQLGetData call; longer
// ones take several.
constexpr std::size_t kChunkUnits = 4096;

// The number of UTF-16 units of `text`.
std::size_t Utf16Length(std::wstring_view text) {
  std::size_t units = 0;
  EncodeUtf16(text, [&units](char16_t) { ++units; });
  return units;
}

std::u16string Utf16FromWide(std::wstring_view text) {
  std::u16string out;
  Utf16Into(text, out);
  return out;
}

// Decodes UTF-16 units and hands each code point to `emit`.
template <typename Emit>
void DecodeUtf16(const SQLWCHAR* text, std::size_t units, Emit emit) {
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    emit(u);
  }
}

// Replaces *out with the wide form of the UTF-16 units, in the room *out
// already has.
void WideFromUtf16Into(const SQLWCHAR* text, std::size_t units, std::wstring& out) {
  out.clear();
  out.reserve(units);
  DecodeUtf16(text, units, [&](std::uint32_t cp) { out.push_back(static_cast<wchar_t>(cp)); });
}

std::wstring WideFromUtf16(const SQLWCHAR* text, std::size_t units) {
  std::wstring out;
  WideFromUtf16Into(text, units, out);
  return out;
}

// ASCII, the bulk of most texts, is copied unit by unit; the rest goes
// through the decoder.
void AppendUtf8FromUtf16(const SQLWCHAR* text, std::size_t units, std::string& out) {
  std::size_t i = 0;
  const std::size_t start = out.size();
  out.resize(start + units);
  char* ascii = out.data() + start;
  for (; i < units && text[i] < 0x80; ++i) ascii[i] = static_cast<char>(text[i]);
  out.resize(start + i);
  if (i < units) DecodeUtf16(text + i, units - i, [&](std::uint32_t cp) { AppendUtf8(cp, out); });
}

SQLWCHAR* Units(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

void ReadDiagnostics(SQLSMALLINT type, SQLHANDLE handle, Diagnostics* out) {
  if (out == nullptr || handle == SQL_NULL_HANDLE) return;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024];
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message,
                                  static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    Diagnostic d;
    for (SQLWCHAR c : state) {
      if (c == 0) break;
      d.sqlState.push_back(static_cast<char>(c));
    }
    d.nativeError = native;
    std::size_t units = static_cast<std::size_t>(length);
    if (units >= std::size(message)) units = std::size(message) - 1;
    d.message = WideFromUtf16(message, units);
    out->push_back(std::move(d));
  }
}

void AddDiagnostic(Diagnostics* out, const char* state, std::wstring message) {
  if (out != nullptr) out->push_back(Diagnostic{state, 0, std::move(message)});
}

// Appends a decimal sent as text. Beyond what a decimal holds (or NaN) is an
// error, not a silent zero.
bool PutDecimalText(const char* digits, RowSet& rows, std::size_t target, Diagnostics* diagnostics) {
  Decimal d;
  if (!ParseDecimal(digits, &d)) {
    AddDiagnostic(diagnostics, "22003", L"Numeric value out of range: " + WideFromUtf8(digits));
    return false;
  }
  rows.PutDecimalAt(target, d);
  return true;
}

class Environment {
 public:
  Environment() {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
      env_ = SQL_NULL_HENV;
      return;
    }
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  // Kept until exit on purpose: sessions in static caches may outlive any
  // destructor order we could choose.
  SQLHENV handle() const { return env_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
};

SQLHENV Env() {
  static Environment* environment = new Environment();
  return environment->handle();
}

ValueKind KindOfSqlType(SQLSMALLINT type) {
  switch (type) {
    case SQL_BIT: return ValueKind::Bool;
    case SQL_TINYINT:
    case SQL_SMALLINT: return ValueKind::Int16;
    case SQL_INTEGER: return ValueKind::Int32;
    case SQL_BIGINT: return ValueKind::Int64;
    case SQL_REAL: return ValueKind::Single;
    case SQL_FLOAT:
    case SQL_DOUBLE: return ValueKind::Double;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return ValueKind::Decimal;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return ValueKind::Bytes;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_DATETIME: return ValueKind::Timestamp;
    default: return ValueKind::Text;
  }
}

// What a parameter is bound as (the arguments of SQLBindParameter).
struct Binding {
  SQLSMALLINT io = 0;
  SQLSMALLINT cType = 0;
  SQLSMALLINT sqlType = 0;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  SQLPOINTER data = nullptr;
  SQLLEN size = 0;
  bool operator==(const Binding&) const = default;
};

// The storage of one bound parameter, kept by its session: numbers, times
// and short texts in place, longer values on the heap.
class Bound {
 public:
  Bound() = default;
  Bound(const Bound&) = delete;
  Bound& operator=(const Bound&) = delete;

  // Once the statement is done: no value stays behind, and a buffer on the
  // heap is given back (which ends its binding).
  void Wipe() {
    if (size_ > sizeof local_) {
      explicit_bzero(heap_.data(), heap_.size());  // not dropped as a store before a free
      std::vector<std::uint8_t>().swap(heap_);
      size_ = 0;
      binding.reset();
    } else {
      std::memset(local_, 0, sizeof local_);
    }
    indicator = 0;
  }

  // Makes the buffer `size` bytes (at least one), zero-filled.
  std::uint8_t* Assign(std::size_t size) {
    size_ = std::max<std::size_t>(size, 1);
    if (size_ > sizeof local_) {
      heap_.assign(size_, 0);
      return heap_.data();
    }
    std::memset(local_, 0, size_);
    return local_;
  }
  std::uint8_t* data() { return size_ > sizeof local_ ? heap_.data() : local_; }
  std::size_t size() const { return size_; }

  SQLLEN indicator = 0;
  // How the statement handle has it bound; none when it is not.
  std::optional<Binding> binding;

 private:
  alignas(8) std::uint8_t local_[64] = {};
  std::vector<std::uint8_t> heap_;
  std::size_t size_ = 0;
};

Timestamp FromSqlTimestamp(const SQL_TIMESTAMP_STRUCT& t) {
  return Timestamp{static_cast<std::int16_t>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                   static_cast<std::uint32_t>(t.fraction)};
}

SQL_TIMESTAMP_STRUCT ToSqlTimestamp(const Timestamp& t) {
  SQL_TIMESTAMP_STRUCT s{};
  s.year = t.year;
  s.month = t.month;
  s.day = t.day;
  s.hour = t.hour;
  s.minute = t.minute;
  s.second = t.second;
  s.fraction = t.fraction;
  return s;
}

template <typename T>
void Store(Bound& b, const T& value) {
  std::memcpy(b.Assign(sizeof(T)), &value, sizeof(T));
  b.indicator = sizeof(T);
}

// One column bound for fetches: `rows` elements of `width` bytes.
struct BoundColumn {
  SQLSMALLINT cType = 0;
  SQLLEN width = 0;
  std::vector<std::uint8_t> buffer;
  std::vector<SQLLEN> indicators;
};

// The C type and width a column of `column`'s kind is bound with.
BoundColumn BoundFor(const ColumnInfo& column) {
  BoundColumn b;
  const std::uint64_t size = column.columnSize;
  switch (column.kind) {
    case ValueKind::Bool:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64:
      b.cType = SQL_C_SBIGINT;
      b.width = sizeof(SQLBIGINT);
      break;
    case ValueKind::Single:
    case ValueKind::Double:
      b.cType = SQL_C_DOUBLE;
      b.width = sizeof(SQLDOUBLE);
      break;
    case ValueKind::Timestamp:
      b.cType = SQL_C_TYPE_TIMESTAMP;
      b.width = sizeof(SQL_TIMESTAMP_STRUCT);
      break;
    case ValueKind::Decimal:
      b.cType = SQL_C_CHAR;
      b.width = kDecimalTextSize;
      break;
    case ValueKind::Bytes:
      // Longer values are read again one by one.
      b.cType = SQL_C_BINARY;
      b.width = static_cast<SQLLEN>(size > 0 && size <= kBoundBytes ? size : kBoundBytes);
      break;
    default:
      b.cType = SQL_C_WCHAR;
      b.width = static_cast<SQLLEN>(((size > 0 && size <= kBoundCharacters ? size : kBoundCharacters) + 1) *
                                    sizeof(SQLWCHAR));
      break;
  }
  return b;
}

// One use of a session's statement handle: when it ends, the cursor is
// closed and the parameters' buffers are wiped. The parameters stay bound,
// so that the next statement with parameters of the same types binds none
// again.
class StatementUse {
 public:
  StatementUse(SQLHSTMT stmt, std::span<Bound> bound) : stmt_(stmt), bound_(bound) {}
  ~StatementUse() {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    for (Bound& b : bound_) b.Wipe();
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  SQLHSTMT stmt_;
  std::span<Bound> bound_;
};

class OdbcSession final : public Session {
 public:
  explicit OdbcSession(SQLHDBC dbc) : dbc_(dbc), lastUsed_(Now()) { ReadInfo(); }
  ~OdbcSession() override {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (inTransaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }

  bool Execute(const Request& request, Response* response, Diagnostics* diagnostics) override;
  bool BeginTransaction(Diagnostics* diagnostics) override;
  bool EndTransaction(bool commit, Diagnostics* diagnostics) override;
  bool IsAlive() override;
  const std::vector<std::pair<std::wstring, std::wstring>>& Info() const override { return info_; }

 private:
  void ReadInfo();
  std::wstring InfoText(SQLUSMALLINT type);
  // Binds the parameters whose binding differs from the one they have.
  bool Bind(SQLHSTMT stmt, std::vector<Param>& params, std::span<Bound> bound, Diagnostics* diagnostics);
  // Unbinds every parameter.
  void ResetParams(SQLHSTMT stmt);
  bool ReadRows(SQLHSTMT stmt, SQLSMALLINT columns, std::int64_t maxRows, Result* result, Diagnostics* diagnostics);
  // Reads the rows cell by cell with SQLGetData.
  bool ReadCells(SQLHSTMT stmt, std::int64_t maxRows, RowSet& rows, std::span<SQLWCHAR> chunk, std::string& text,
                 std::vector<std::uint8_t>& bytes, Diagnostics* diagnostics);
  // Reads the rows one at a time into the buffers bound for the result's
  // columns (bound again only when the columns differ from the last ones
  // bound).
  bool ReadBoundRows(SQLHSTMT stmt, std::int64_t maxRows, RowSet& rows, std::span<SQLWCHAR> chunk,
                     std::string& text, std::vector<std::uint8_t>& bytes, Diagnostics* diagnostics);
  // Appends `count` fetched rows of the bound buffers to the row set.
  bool PutBoundRows(SQLHSTMT stmt, std::span<const BoundColumn> bound, std::size_t count, RowSet& rows,
                    std::span<SQLWCHAR> chunk, std::string& text, std::vector<std::uint8_t>& bytes,
                    Diagnostics* diagnostics);
  // Undoes the binding of ReadBoundRows, if any.
  void Unbind(SQLHSTMT stmt);
  // Reads the rows in blocks into bound column arrays: one call per block
  // instead of one per cell.
  // `expected` is the row count when the driver knows it (else 0): no
  // block is made larger than that.
  bool ReadBlocks(SQLHSTMT stmt, std::int64_t maxRows, std::int64_t expected, RowSet& rows,
                  std::span<SQLWCHAR> chunk, std::string& text, std::vector<std::uint8_t>& bytes,
                  Diagnostics* diagnostics);
  void ReadOutputs(std::vector<Param>& params, std::span<Bound> bound);

  SQLHDBC dbc_;
  // The statement handle every Execute uses, allocated at the first: a
  // handle of the PostgreSQL driver costs more to make than a short
  // statement costs to run.
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  // The time-out and row limit set on stmt_.
  SQLULEN timeout_ = 0;
  SQLULEN maxRows_ = 0;
  bool inTransaction_ = false;
  // The driver can fetch blocks of bound rows and read a truncated cell of
  // one again (SQLSetPos, SQLGetData on bound columns of a block).
  bool blockFetch_ = false;
  Clock::time_point lastUsed_;
  std::wstring pingText_ = L"SELECT 1";
  // The UTF-16 text of the statement being run, in a buffer kept from one
  // Execute to the next so that a statement costs no allocation for it.
  std::u16string units_;
  // The columns of the last result read, shared with its row set, and the
  // room to describe a column in (kept from one result to the next).
  std::shared_ptr<const std::vector<ColumnInfo>> columns_;
  ColumnInfo described_;
  // The parameters' buffers (room for boundRoom_), of which the first
  // boundParams_ may be bound to stmt_.
  std::unique_ptr<Bound[]> bound_;
  std::size_t boundRoom_ = 0;
  std::size_t boundParams_ = 0;
  // The columns whose buffers are bound to stmt_ for ReadBoundRows (null:
  // none), and the buffers.
  std::shared_ptr<const std::vector<ColumnInfo>> rowColumns_;
  std::vector<BoundColumn> rowBound_;
  std::vector<std::pair<std::wstring, std::wstring>> info_;
};

std::wstring OdbcSession::InfoText(SQLUSMALLINT type) {
  SQLWCHAR buffer[512] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_, type, buffer, sizeof buffer, &length))) return {};
  std::size_t units = static_cast<std::size_t>(length) / sizeof(SQLWCHAR);
  if (units >= std::size(buffer)) units = std::size(buffer) - 1;
  return WideFromUtf16(buffer, units);
}

void OdbcSession::ReadInfo() {
  const std::pair<const wchar_t*, SQLUSMALLINT> items[] = {
      {L"DBMS Name", SQL_DBMS_NAME},         {L"DBMS Version", SQL_DBMS_VER},
      {L"Data Source Name", SQL_SERVER_NAME}, {L"Current Catalog", SQL_DATABASE_NAME},
      {L"User Name", SQL_USER_NAME},         {L"Driver Name", SQL_DRIVER_NAME},
      {L"Driver Version", SQL_DRIVER_VER},   {L"Driver ODBC Version", SQL_DRIVER_ODBC_VER},
  };
  for (const auto& [name, type] : items) info_.emplace_back(name, InfoText(type));
  const std::wstring& dbms = info_[0].second;
  if (dbms.find(L"DB2") != std::wstring::npos) pingText_ = L"VALUES 1";
  SQLUINTEGER extensions = 0;
  SQLUSMALLINT setPos = SQL_FALSE;
  if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)) &&
      SQL_SUCCEEDED(SQLGetFunctions(dbc_, SQL_API_SQLSETPOS, &setPos))) {
    blockFetch_ = setPos == SQL_TRUE && (extensions & (SQL_GD_BLOCK | SQL_GD_BOUND)) == (SQL_GD_BLOCK | SQL_GD_BOUND);
  }
}

bool OdbcSession::Bind(SQLHSTMT stmt, std::vector<Param>& params, std::span<Bound> bound,
                       Diagnostics* diagnostics) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    Param& p = params[i];
    Bound& b = bound[i];
    const bool output = p.direction != ParamDirection::Input;
    const bool input = p.direction == ParamDirection::Input || p.direction == ParamDirection::InputOutput;
    const Value& v = p.value;
    const bool null = !input || v.kind == ValueKind::Null;
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN columnSize = 0;
    SQLSMALLINT digits = 0;
    switch (p.kind) {
      case ValueKind::Bool:
        cType = SQL_C_BIT;
        sqlType = SQL_BIT;
        Store(b, static_cast<unsigned char>(v.integer != 0));
        break;
      case ValueKind::Int16:
        cType = SQL_C_SSHORT;
        sqlType = SQL_SMALLINT;
        Store(b, static_cast<SQLSMALLINT>(v.integer));
        break;
      case ValueKind::Int32:
        cType = SQL_C_SLONG;
        sqlType = SQL_INTEGER;
        Store(b, static_cast<SQLINTEGER>(v.integer));
        break;
      case ValueKind::Int64:
        cType = SQL_C_SBIGINT;
        sqlType = SQL_BIGINT;
        Store(b, static_cast<SQLBIGINT>(v.integer));
        break;
      case ValueKind::Single:
      case ValueKind::Double:
        cType = SQL_C_DOUBLE;
        sqlType = p.kind == ValueKind::Single ? SQL_REAL : SQL_DOUBLE;
        Store(b, static_cast<SQLDOUBLE>(v.real));
        break;
      case ValueKind::Timestamp:
        cType = SQL_C_TYPE_TIMESTAMP;
        sqlType = SQL_TYPE_TIMESTAMP;
        columnSize = 27;
        digits = 6;
        Store(b, ToSqlTimestamp(v.time));
        break;
      case ValueKind::Decimal: {
        cType = SQL_C_CHAR;
        sqlType = SQL_NUMERIC;
        std::string text = FormatDecimal(v.decimal);
        columnSize = p.precision != 0 ? p.precision : 38;
        digits = static_cast<SQLSMALLINT>(p.precision != 0 ? p.scale : v.decimal.scale);
        std::memcpy(b.Assign(output ? std::max<std::size_t>(64, text.size()) : text.size() + 1), text.data(),
                    text.size());
        b.indicator = static_cast<SQLLEN>(text.size());
        break;
      }
      case ValueKind::Bytes: {
        cType = SQL_C_BINARY;
        sqlType = p.longData ? SQL_LONGVARBINARY : SQL_VARBINARY;
        std::uint64_t capacity = p.size != 0 ? p.size : 8000;
        const std::size_t given = input ? v.bytes.size() : 0;
        std::uint8_t* buffer = b.Assign(output ? std::max<std::size_t>(given, capacity) : given);
        if (given > 0) std::memcpy(buffer, v.bytes.data(), given);
        b.indicator = static_cast<SQLLEN>(input ? v.bytes.size() : 0);
        columnSize = std::max<SQLULEN>(1, std::max<SQLULEN>(p.size, v.bytes.size()));
        break;
      }
      case ValueKind::Null:
      case ValueKind::Text: {
        cType = SQL_C_WCHAR;
        sqlType = p.wide ? (p.longData ? SQL_WLONGVARCHAR : SQL_WVARCHAR)
                         : (p.longData ? SQL_LONGVARCHAR : SQL_VARCHAR);
        const std::size_t units = input ? Utf16Length(v.text) : 0;
        std::uint64_t capacity = (p.size != 0 ? p.size : 4000) + 1;
        std::size_t bytes = (std::max<std::size_t>(units + 1, output ? capacity : 0)) * sizeof(char16_t);
        std::uint8_t* out = b.Assign(bytes);
        if (input) {
          EncodeUtf16(v.text, [&out](char16_t unit) {
            std::memcpy(out, &unit, sizeof unit);
            out += sizeof unit;
          });
        }
        b.indicator = static_cast<SQLLEN>(units * sizeof(char16_t));
        columnSize = std::max<SQLULEN>(1, std::max<SQLULEN>(p.size, units));
        break;
      }
    }
    if (null) b.indicator = SQL_NULL_DATA;
    SQLSMALLINT io = p.direction == ParamDirection::Input         ? SQL_PARAM_INPUT
                     : p.direction == ParamDirection::InputOutput ? SQL_PARAM_INPUT_OUTPUT
                                                                  : SQL_PARAM_OUTPUT;
    if (b.size() == 0) b.Assign(1);
    const Binding binding{io, cType, sqlType, columnSize, digits, b.data(), static_cast<SQLLEN>(b.size())};
    if (b.binding == binding) continue;
    b.binding.reset();
    SQLRETURN rc = SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), io, cType, sqlType, columnSize, digits,
                                    b.data(), static_cast<SQLLEN>(b.size()), &b.indicator);
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
    b.binding = binding;
  }
  return true;
}

void OdbcSession::ResetParams(SQLHSTMT stmt) {
  if (boundParams_ == 0) return;
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  for (std::size_t i = 0; i < boundParams_; ++i) bound_[i].binding.reset();
  boundParams_ = 0;
}

void OdbcSession::ReadOutputs(std::vector<Param>& params, std::span<Bound> bound) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    Param& p = params[i];
    if (p.direction == ParamDirection::Input) continue;
    Bound& b = bound[i];
    Value v;
    if (b.indicator == SQL_NULL_DATA) {
      p.value = v;
      continue;
    }
    v.kind = p.kind;
    switch (p.kind) {
      case ValueKind::Bool: v.integer = b.data()[0] != 0; break;
      case ValueKind::Int16: {
        SQLSMALLINT x;
        std::memcpy(&x, b.data(), sizeof x);
        v.integer = x;
        break;
      }
      case ValueKind::Int32: {
        SQLINTEGER x;
        std::memcpy(&x, b.data(), sizeof x);
        v.integer = x;
        break;
      }
      case ValueKind::Int64: {
        SQLBIGINT x;
        std::memcpy(&x, b.data(), sizeof x);
        v.integer = x;
        break;
      }
      case ValueKind::Single:
      case ValueKind::Double: std::memcpy(&v.real, b.data(), sizeof v.real); break;
      case ValueKind::Timestamp: {
        SQL_TIMESTAMP_STRUCT t;
        std::memcpy(&t, b.data(), sizeof t);
        v.time = FromSqlTimestamp(t);
        break;
      }
      case ValueKind::Decimal: {
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLLEN>(b.indicator, 0)),
                                              b.size());
        if (!ParseDecimal(std::string_view(reinterpret_cast<const char*>(b.data()), n), &v.decimal)) {
          v.kind = ValueKind::Null;
        }
        break;
      }
      case ValueKind::Bytes: {
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLLEN>(b.indicator, 0)),
                                              b.size());
        v.bytes.assign(b.data(), b.data() + n);
        break;
      }
      case ValueKind::Null:
      case ValueKind::Text: {
        v.kind = ValueKind::Text;
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLLEN>(b.indicator, 0)),
                                              b.size() - sizeof(SQLWCHAR)) /
                        sizeof(SQLWCHAR);
        v.text = WideFromUtf16(reinterpret_cast<const SQLWCHAR*>(b.data()), n);
        break;
      }
    }
    p.value = std::move(v);
  }
}

// Reads one cell with SQLGetData (in chunks for long values) and appends it
// to the row set's column `column - 1`; false with diagnostics on failure.
bool ReadCell(SQLHSTMT stmt, SQLUSMALLINT column, ValueKind kind, RowSet& rows, std::span<SQLWCHAR> chunk,
              std::string& text, std::vector<std::uint8_t>& bytes, Diagnostics* diagnostics) {
  const std::size_t target = static_cast<std::size_t>(column) - 1;
  SQLLEN indicator = 0;
  SQLRETURN rc = SQL_SUCCESS;
  switch (kind) {
    case ValueKind::Bool:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64: {
      SQLBIGINT x = 0;
      rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &x, sizeof x, &indicator);
      if (SQL_SUCCEEDED(rc)) indicator == SQL_NULL_DATA ? rows.PutNullAt(target) : rows.PutIntegerAt(target, x);
      break;
    }
    case ValueKind::Single:
    case ValueKind::Double: {
      SQLDOUBLE x = 0;
      rc = SQLGetData(stmt, column, SQL_C_DOUBLE, &x, sizeof x, &indicator);
      if (SQL_SUCCEEDED(rc)) indicator == SQL_NULL_DATA ? rows.PutNullAt(target) : rows.PutRealAt(target, x);
      break;
    }
    case ValueKind::Timestamp: {
      SQL_TIMESTAMP_STRUCT t{};
      rc = SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator);
      if (SQL_SUCCEEDED(rc)) indicator == SQL_NULL_DATA ? rows.PutNullAt(target) : rows.PutTimeAt(target, FromSqlTimestamp(t));
      break;
    }
    case ValueKind::Decimal: {
      char digits[kDecimalTextSize] = {};
      rc = SQLGetData(stmt, column, SQL_C_CHAR, digits, sizeof digits, &indicator);
      if (!SQL_SUCCEEDED(rc)) break;
      if (indicator == SQL_NULL_DATA) {
        rows.PutNullAt(target);
        return true;
      }
      return PutDecimalText(digits, rows, target, diagnostics);
    }
    case ValueKind::Text:
    case ValueKind::Null: {
      text.clear();
      // A piece that ends in the first half of a surrogate pair keeps it
      // for the next piece, which is read in behind it.
      std::size_t carried = 0;
      for (;;) {
        rc = SQLGetData(stmt, column, SQL_C_WCHAR, chunk.data() + carried,
                        static_cast<SQLLEN>((chunk.size() - carried) * sizeof(SQLWCHAR)), &indicator);
        if (rc == SQL_NO_DATA) {
          AppendUtf8FromUtf16(chunk.data(), carried, text);
          rc = SQL_SUCCESS;
          break;
        }
        if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA) break;
        std::size_t room = chunk.size() - carried - 1;
        std::size_t got = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / 2 > room
                              ? room
                              : static_cast<std::size_t>(indicator) / 2;
        std::size_t units = carried + got;
        carried = rc != SQL_SUCCESS && units > 0 && chunk[units - 1] >= 0xD800 && chunk[units - 1] <= 0xDBFF ? 1 : 0;
        units -= carried;
        AppendUtf8FromUtf16(chunk.data(), units, text);
        if (carried != 0) chunk[0] = chunk[units];
        if (rc == SQL_SUCCESS) break;
      }
      if (!SQL_SUCCEEDED(rc)) break;
      if (indicator == SQL_NULL_DATA) {
        rows.PutNullAt(target);
      } else if (!rows.PutTextAt(target, text)) {
        AddDiagnostic(diagnostics, "HY001", L"The result is too large to be held in memory");
        return false;
      }
      return true;
    }
    case ValueKind::Bytes: {
      bytes.clear();
      std::uint8_t part[8192];
      for (;;) {
        rc = SQLGetData(stmt, column, SQL_C_BINARY, part, sizeof part, &indicator);
        if (rc == SQL_NO_DATA) {
          rc = SQL_SUCCESS;
          break;
        }
        if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA) break;
        std::size_t got = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > sizeof part
                              ? sizeof part
                              : static_cast<std::size_t>(indicator);
        bytes.insert(bytes.end(), part, part + got);
        if (rc == SQL_SUCCESS) break;
      }
      if (!SQL_SUCCEEDED(rc)) break;
      if (indicator == SQL_NULL_DATA) {
        rows.PutNullAt(target);
      } else if (!rows.PutBytesAt(target, bytes)) {
        AddDiagnostic(diagnostics, "HY001", L"The result is too large to be held in memory");
        return false;
      }
      return true;
    }
  }
  if (!SQL_SUCCEEDED(rc)) {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
    return false;
  }
  return true;
}

// Appends the bound cell `row` of a decimal, text or binary column, or reads
// it again with SQLGetData when the buffer truncated it.
bool TakeBoundCell(SQLHSTMT stmt, SQLUSMALLINT column, ValueKind kind, const BoundColumn& bound, std::size_t row,
                   RowSet& rows, std::span<SQLWCHAR> chunk, std::string& text, std::vector<std::uint8_t>& bytes,
                   Diagnostics* diagnostics) {
  const std::size_t target = static_cast<std::size_t>(column) - 1;
  const SQLLEN indicator = bound.indicators[row];
  if (indicator == SQL_NULL_DATA) {
    rows.PutNullAt(target);
    return true;
  }
  const std::uint8_t* cell = bound.buffer.data() + row * static_cast<std::size_t>(bound.width);
  if (kind == ValueKind::Decimal) return PutDecimalText(reinterpret_cast<const char*>(cell), rows, target, diagnostics);
  const bool wide = bound.cType == SQL_C_WCHAR;
  const SQLLEN room = wide ? bound.width - static_cast<SQLLEN>(sizeof(SQLWCHAR)) : bound.width;
  if (indicator == SQL_NO_TOTAL || indicator > room) {
    // Longer than the buffer: position on the row and read the value whole.
    if (!SQL_SUCCEEDED(SQLSetPos(stmt, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
    return ReadCell(stmt, column, kind, rows, chunk, text, bytes, diagnostics);
  }
  bool stored;
  if (wide) {
    text.clear();
    AppendUtf8FromUtf16(reinterpret_cast<const SQLWCHAR*>(cell), static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR),
                        text);
    stored = rows.PutTextAt(target, text);
  } else {
    stored = rows.PutBytesAt(target, std::span<const std::uint8_t>(cell, static_cast<std::size_t>(indicator)));
  }
  if (!stored) AddDiagnostic(diagnostics, "HY001", L"The result is too large to be held in memory");
  return stored;
}

// The layout the bound timestamps are read in place as.
static_assert(sizeof(SQL_TIMESTAMP_STRUCT) == sizeof(Timestamp) &&
              offsetof(SQL_TIMESTAMP_STRUCT, fraction) == offsetof(Timestamp, fraction) &&
              offsetof(SQL_TIMESTAMP_STRUCT, second) == offsetof(Timestamp, second));
static_assert(sizeof(SQLLEN) == sizeof(std::int64_t) && sizeof(SQLBIGINT) == sizeof(std::int64_t));

bool OdbcSession::ReadRows(SQLHSTMT stmt, SQLSMALLINT count, std::int64_t maxRows, Result* result,
                           Diagnostics* diagnostics) {
  // A session mostly runs the same few statements: while a result has the
  // columns of the one before, its row set shares their description.
  const std::size_t n = static_cast<std::size_t>(count);
  const std::vector<ColumnInfo>* same = columns_ && columns_->size() == n ? columns_.get() : nullptr;
  std::vector<ColumnInfo> columns;  // when they differ
  if (same == nullptr) columns.reserve(n);
  for (SQLSMALLINT c = 0; c < count; ++c) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
    if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(c + 1), name,
                                       static_cast<SQLSMALLINT>(std::size(name)), &nameLength, &type, &size,
                                       &digits, &nullable))) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
    ColumnInfo& info = described_;
    std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                              std::size(name) - 1);
    WideFromUtf16Into(name, units, info.name);
    info.sqlType = type;
    info.columnSize = size;
    info.decimalDigits = digits;
    info.nullable = nullable != SQL_NO_NULLS;
    info.kind = KindOfSqlType(type);
    const std::size_t i = static_cast<std::size_t>(c);
    if (same != nullptr && (*same)[i] == info) continue;
    if (same != nullptr) {
      columns.reserve(n);
      columns.assign(same->begin(), same->begin() + static_cast<std::ptrdiff_t>(i));
      same = nullptr;
    }
    columns.push_back(info);
  }
  if (same == nullptr) columns_ = std::make_shared<const std::vector<ColumnInfo>>(std::move(columns));
  // Drivers that read the result ahead (as PostgreSQL's does) know its size.
  SQLLEN announced = 0;
  std::int64_t expected = 0;  // 0: unknown
  if (SQL_SUCCEEDED(SQLRowCount(stmt, &announced)) && announced > 0) {
    expected = std::min<std::int64_t>(static_cast<std::int64_t>(announced), kReserveRowsAtMost);
    if (maxRows > 0) expected = std::min(expected, maxRows);
  }
  auto rows = std::make_shared<RowSet>(columns_, static_cast<std::size_t>(expected));
  result->rows = rows;
  // On the stack: a heap block of this size (and zeroed) per result costs
  // as much as reading a short result.
  SQLWCHAR chunk[kChunkUnits];
  std::string text;
  std::vector<std::uint8_t> bytes;
  // A result of a few rows is read row by row into the buffers kept bound
  // for its columns: binding columns for block fetches would cost more
  // calls than it saves. A driver that cannot read a truncated bound cell
  // again is read cell by cell.
  bool ok;
  if (!blockFetch_) {
    ok = ReadCells(stmt, maxRows, *rows, chunk, text, bytes, diagnostics);
  } else if (expected == 0 || expected > kRowByRowRowsAtMost) {
    ok = ReadBlocks(stmt, maxRows, expected, *rows, chunk, text, bytes, diagnostics);
  } else {
    ok = ReadBoundRows(stmt, maxRows, *rows, chunk, text, bytes, diagnostics);
  }
  rows->Seal();
  return ok;
}

// Fetches the rows one at a time, at most maxRows of them when above 0,
// and has `take` read each; false when a fetch fails (with diagnostics) or
// `take` does.
template <typename Take>
bool FetchEach(SQLHSTMT stmt, std::int64_t maxRows, Diagnostics* diagnostics, Take take) {
  for (std::int64_t n = 0; maxRows <= 0 || n < maxRows; ++n) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
    if (!take()) return false;
  }
  return true;
}

bool OdbcSession::ReadCells(SQLHSTMT stmt, std::int64_t maxRows, RowSet& rows, std::span<SQLWCHAR> chunk,
                            std::string& text, std::vector<std::uint8_t>& bytes, Diagnostics* diagnostics) {
  const std::vector<ColumnInfo>& columns = rows.Columns();
  return FetchEach(stmt, maxRows, diagnostics, [&] {
    rows.AddRows(1);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (!ReadCell(stmt, static_cast<SQLUSMALLINT>(c + 1), columns[c].kind, rows, chunk, text, bytes, diagnostics)) {
        return false;
      }
    }
    return true;
  });
}

bool OdbcSession::PutBoundRows(SQLHSTMT stmt, std::span<const BoundColumn> bound, std::size_t count, RowSet& rows,
                               std::span<SQLWCHAR> chunk, std::string& text, std::vector<std::uint8_t>& bytes,
                               Diagnostics* diagnostics) {
  const std::vector<ColumnInfo>& columns = rows.Columns();
  // Column by column: a run of fixed-width cells at once, the others cell
  // by cell.
  rows.AddRows(count);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const BoundColumn& b = bound[c];
    const auto* lengths = reinterpret_cast<const std::int64_t*>(b.indicators.data());
    switch (columns[c].kind) {
      case ValueKind::Bool:
      case ValueKind::Int16:
      case ValueKind::Int32:
      case ValueKind::Int64:
        rows.PutIntegers(c, reinterpret_cast<const std::int64_t*>(b.buffer.data()), lengths, count);
        break;
      case ValueKind::Single:
      case ValueKind::Double:
        rows.PutReals(c, reinterpret_cast<const double*>(b.buffer.data()), lengths, count);
        break;
      case ValueKind::Timestamp:
        rows.PutTimes(c, reinterpret_cast<const Timestamp*>(b.buffer.data()), lengths, count);
        break;
      default:
        for (std::size_t r = 0; r < count; ++r) {
          if (!TakeBoundCell(stmt, static_cast<SQLUSMALLINT>(c + 1), columns[c].kind, b, r, rows, chunk, text, bytes,
                             diagnostics)) {
            return false;
          }
        }
        break;
    }
  }
  return true;
}

void OdbcSession::Unbind(SQLHSTMT stmt) {
  if (!rowColumns_) return;
  SQLFreeStmt(stmt, SQL_UNBIND);
  rowColumns_.reset();
}

bool OdbcSession::ReadBoundRows(SQLHSTMT stmt, std::int64_t maxRows, RowSet& rows, std::span<SQLWCHAR> chunk,
                                std::string& text, std::vector<std::uint8_t>& bytes, Diagnostics* diagnostics) {
  // The row set describes its columns with columns_: while that stays the
  // same description, the buffers bound for it stay bound.
  if (rowColumns_ != columns_) {
    Unbind(stmt);
    const std::vector<ColumnInfo>& columns = *columns_;
    rowBound_.resize(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
      BoundColumn& b = rowBound_[c];
      b = BoundFor(columns[c]);
      b.buffer.assign(static_cast<std::size_t>(b.width), 0);
      b.indicators.assign(1, 0);
      if (!SQL_SUCCEEDED(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), b.cType, b.buffer.data(), b.width,
                                    b.indicators.data()))) {
        ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
        SQLFreeStmt(stmt, SQL_UNBIND);
        return false;
      }
    }
    rowColumns_ = columns_;
  }
  const bool ok = FetchEach(stmt, maxRows, diagnostics,
                            [&] { return PutBoundRows(stmt, rowBound_, 1, rows, chunk, text, bytes, diagnostics); });
  // The buffers stay bound, but no value of the result stays in them while
  // the session waits idle.
  for (BoundColumn& b : rowBound_) std::fill(b.buffer.begin(), b.buffer.end(), std::uint8_t{0});
  return ok;
}

bool OdbcSession::ReadBlocks(SQLHSTMT stmt, std::int64_t maxRows, std::int64_t expected, RowSet& rows,
                             std::span<SQLWCHAR> chunk, std::string& text, std::vector<std::uint8_t>& bytes, Diagnostics* diagnostics) {
  Unbind(stmt);
  const std::vector<ColumnInfo>& columns = rows.Columns();
  std::vector<BoundColumn> bound(columns.size());
  SQLLEN rowWidth = 0;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    bound[c] = BoundFor(columns[c]);
    rowWidth += bound[c].width + static_cast<SQLLEN>(sizeof(SQLLEN));
  }
  SQLULEN block = std::clamp<SQLULEN>(static_cast<SQLULEN>(kBlockBytes / std::max<SQLLEN>(rowWidth, 1)), 1, 1024);
  if (expected > 0) block = std::min(block, static_cast<SQLULEN>(expected));
  if (maxRows > 0) block = std::min(block, static_cast<SQLULEN>(maxRows));
  SQLULEN fetched = 0;
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block), 0)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0))) {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
    return false;
  }
  for (std::size_t c = 0; c < columns.size(); ++c) {
    BoundColumn& b = bound[c];
    b.buffer.assign(block * static_cast<std::size_t>(b.width), 0);
    b.indicators.assign(block, 0);
    if (!SQL_SUCCEEDED(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), b.cType, b.buffer.data(), b.width,
                                  b.indicators.data()))) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
  }
  bool ok = true;
  std::int64_t total = 0;
  while (ok && (maxRows <= 0 || total < maxRows)) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      ok = false;
      break;
    }
    std::size_t count = fetched;
    if (maxRows > 0) count = std::min<std::size_t>(count, static_cast<std::size_t>(maxRows - total));
    ok = PutBoundRows(stmt, bound, count, rows, chunk, text, bytes, diagnostics);
    // After the first block, room for the texts of the rows announced.
    if (total == 0 && expected > static_cast<std::int64_t>(count)) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::size_t held = rows.HeldBytes(c);
        if (held > 0) rows.ReserveBytes(c, held / count * static_cast<std::size_t>(expected) / 8 * 9);
      }
    }
    total += static_cast<std::int64_t>(count);
  }
  // The statement may go on to a further result: undo the binding.
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  return ok;
}

bool OdbcSession::Execute(const Request& request, Response* response, Diagnostics* diagnostics) {
  // The session counts as used when the statement ends, however it ends.
  struct Used {
    Clock::time_point& at;
    ~Used() { at = Now(); }
  } used{lastUsed_};
  if (stmt_ == SQL_NULL_HSTMT && !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_))) {
    stmt_ = SQL_NULL_HSTMT;
    ReadDiagnostics(SQL_HANDLE_DBC, dbc_, diagnostics);
    return false;
  }
  SQLHSTMT stmt = stmt_;
  std::vector<Param> none;
  std::vector<Param>& params = request.params != nullptr ? *request.params : none;
  // Parameters bound beyond this statement's are unbound; the room grows
  // only with nothing bound, as the driver holds the buffers' addresses.
  if (params.size() < boundParams_ || params.size() > boundRoom_) ResetParams(stmt);
  if (params.size() > boundRoom_) {
    bound_ = std::make_unique<Bound[]>(params.size());
    boundRoom_ = params.size();
  }
  const std::span<Bound> bound(bound_.get(), params.size());
  StatementUse use(stmt, bound);
  // Both as the request has them (0: none), so that nothing of an earlier
  // request stays; set only when they change, as they seldom do.
  const SQLULEN timeout = request.timeoutSeconds > 0 ? static_cast<SQLULEN>(request.timeoutSeconds) : 0;
  const SQLULEN maxRows = request.maxRows > 0 ? static_cast<SQLULEN>(request.maxRows) : 0;
  if (timeout != timeout_) {
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    timeout_ = timeout;
  }
  if (maxRows != maxRows_) {
    SQLSetStmtAttr(stmt, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(maxRows), 0);
    maxRows_ = maxRows;
  }
  std::wstring call;
  if (request.procedure) {
    // The ODBC call escape; a return value, when asked for, is the first marker.
    bool returns = !params.empty() && params.front().direction == ParamDirection::ReturnValue;
    call = returns ? L"{? = call " : L"{call ";
    call += request.text;
    std::size_t markers = params.size() - (returns ? 1 : 0);
    if (markers > 0) {
      call += L'(';
      for (std::size_t i = 0; i < markers; ++i) call += i == 0 ? L"?" : L",?";
      call += L')';
    }
    call += L'}';
  }
  boundParams_ = params.size();
  if (!Bind(stmt, params, bound, diagnostics)) {
    // What the driver holds of a failed binding is not known.
    ResetParams(stmt);
    return false;
  }

  const std::u16string* units = &units_;
  if (request.utf16 != nullptr && !request.procedure) {
    units = request.utf16;
  } else {
    Utf16Into(request.procedure ? call : request.text, units_);
  }
  // The driver only reads the text.
  SQLRETURN rc = SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(units->data())),
                                static_cast<SQLINTEGER>(units->size()));
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
    return false;
  }
  for (;;) {
    Result result;
    SQLSMALLINT columns = 0;
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns))) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
    if (columns > 0) {
      bool ok = ReadRows(stmt, columns, request.maxRows, &result, diagnostics);
      if (result.rows) response->results.push_back(std::move(result));
      if (!ok) return false;
    } else {
      SQLLEN count = -1;
      if (!SQL_SUCCEEDED(SQLRowCount(stmt, &count))) count = -1;
      result.rowsAffected = count;
      response->results.push_back(std::move(result));
    }
    rc = SQLMoreResults(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics);
      return false;
    }
  }
  ReadOutputs(params, bound);
  return true;
}

bool OdbcSession::BeginTransaction(Diagnostics* diagnostics) {
  lastUsed_ = Now();
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                       SQL_IS_UINTEGER))) {
    ReadDiagnostics(SQL_HANDLE_DBC, dbc_, diagnostics);
    return false;
  }
  inTransaction_ = true;
  return true;
}

bool OdbcSession::EndTransaction(bool commit, Diagnostics* diagnostics) {
  lastUsed_ = Now();
  bool ok = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, commit ? SQL_COMMIT : SQL_ROLLBACK));
  if (!ok) {
    ReadDiagnostics(SQL_HANDLE_DBC, dbc_, diagnostics);
    // Whatever a failed commit left open is rolled back before auto-commit
    // comes back on (which would otherwise commit it).
    if (commit) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  }
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                                       SQL_IS_UINTEGER))) {
    if (ok) ReadDiagnostics(SQL_HANDLE_DBC, dbc_, diagnostics);
    ok = false;
  }
  inTransaction_ = false;
  return ok;
}

bool OdbcSession::IsAlive() {
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (SQL_SUCCEEDED(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr)) &&
      dead == SQL_CD_TRUE) {
    return false;
  }
  if (Now() - lastUsed_ < kPingAfterIdle) return true;
  Request ping;
  ping.text = pingText_;
  Response response;
  Diagnostics ignored;
  return Execute(ping, &response, &ignored);
}

class OdbcDriverImpl final : public Driver {
 public:
  std::unique_ptr<Session> Connect(const std::wstring& odbcString, int loginTimeoutSeconds,
                                   Diagnostics* diagnostics) override {
    SQLHENV env = Env();
    if (env == SQL_NULL_HENV) {
      AddDiagnostic(diagnostics, "HY001", L"The ODBC environment could not be created");
      return nullptr;
    }
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
      ReadDiagnostics(SQL_HANDLE_ENV, env, diagnostics);
      return nullptr;
    }
    if (loginTimeoutSeconds > 0) {
      SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeoutSeconds)), SQL_IS_UINTEGER);
    }
    std::u16string units = Utf16FromWide(odbcString);
    SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, Units(units), static_cast<SQLSMALLINT>(units.size()), nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT);
    // The connection string (with its password) is never echoed back: the
    // out-connection string is not asked for.
    explicit_bzero(units.data(), units.size() * sizeof(char16_t));
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_DBC, dbc, diagnostics);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      return nullptr;
    }
    return std::make_unique<OdbcSession>(dbc);
  }
};

}  // namespace

Driver& OdbcDriver() {
  static OdbcDriverImpl* driver = new OdbcDriverImpl();
  return *driver;
}

}  // namespace ado::backend
