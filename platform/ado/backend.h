// The seam between the ADO objects and the database driver beneath them.
//
// The ADO objects (connection.h, command.h, recordset.h) never talk to ODBC
// themselves: they hand a `Request` to a `Session` and receive the results as
// `RowSet`s of plain standard types. The ODBC implementation (odbc_backend.h)
// is the one used in production; tests may put a scripted session behind the
// same objects (testing/scripted_backend.h) for the cases no real server
// produces.
// This header uses standard types only, so that it can be included both by
// translation units that include unixODBC's headers and by those that include
// platform/win32/types.h (whose DWORD/BOOL clash with unixODBC's).
//
// A `RowSet` is immutable once built and may be read from several threads; a
// `Session` belongs to one thread at a time (the caller serialises its use);
// a `Driver` may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ado::backend {

// One diagnostic record of the driver: the raw SQLSTATE, the native error
// and the message, in the order the driver returned them.
struct Diagnostic {
  std::string sqlState;
  std::int32_t nativeError = 0;
  std::wstring message;
};
using Diagnostics = std::vector<Diagnostic>;

// The in-memory form of one value.
enum class ValueKind : std::uint8_t {
  Null,
  Bool,
  Int16,
  Int32,
  Int64,
  Single,
  Double,
  Decimal,
  Text,
  Bytes,
  Timestamp,
};

// A calendar time as the server sent it, without a zone; fraction in
// nanoseconds.
struct Timestamp {
  std::int16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint32_t fraction = 0;
};

// An exact number: value = (-1 if negative) * (hi * 2^64 + lo) / 10^scale.
struct Decimal {
  std::uint64_t lo = 0;
  std::uint32_t hi = 0;
  std::uint8_t scale = 0;
  bool negative = false;
};

// Parses "-12.345" style text into a Decimal; false when it is not a number
// or does not fit in 96 bits and 28 decimals.
bool ParseDecimal(std::string_view text, Decimal* out);
// The decimal text of a Decimal ("-12.345").
std::string FormatDecimal(const Decimal& value);

// One scalar value (parameters and single reads).
struct Value {
  ValueKind kind = ValueKind::Null;
  std::int64_t integer = 0;  // Bool (0/1), Int16, Int32, Int64
  double real = 0;           // Single, Double
  Decimal decimal;
  Timestamp time;
  std::wstring text;
  std::vector<std::uint8_t> bytes;
};

// The description of one result column.
struct ColumnInfo {
  std::wstring name;
  std::int16_t sqlType = 0;      // the ODBC SQL data type
  std::uint64_t columnSize = 0;  // characters, bytes or digits; 0 unknown
  std::int16_t decimalDigits = 0;
  bool nullable = true;
  ValueKind kind = ValueKind::Null;
  bool operator==(const ColumnInfo&) const = default;
};

// A result read in full: rows of typed cells, stored column by column.
// Texts are kept in UTF-8, so a row set takes about as much memory as the
// data it holds.
class RowSet {
 public:
  explicit RowSet(std::vector<ColumnInfo> columns);
  // Columns shared with other row sets (a session's results of the same
  // statement describe the same columns).
  explicit RowSet(std::shared_ptr<const std::vector<ColumnInfo>> columns);
  // With room for `rows` rows made at once (a hint: more may follow).
  RowSet(std::shared_ptr<const std::vector<ColumnInfo>> columns, std::size_t rows);
  RowSet(const RowSet&) = delete;
  RowSet& operator=(const RowSet&) = delete;
  ~RowSet();

  const std::vector<ColumnInfo>& Columns() const { return *columns_; }
  std::size_t ColumnCount() const { return columns_->size(); }
  std::size_t RowCount() const { return rows_; }

  bool IsNull(std::size_t column, std::size_t row) const;
  // Valid for the kinds that hold an integer (Bool as 0/1).
  std::int64_t Integer(std::size_t column, std::size_t row) const;
  double Real(std::size_t column, std::size_t row) const;
  Decimal DecimalAt(std::size_t column, std::size_t row) const;
  Timestamp TimeAt(std::size_t column, std::size_t row) const;
  // UTF-8 text of a Text cell; the bytes of a Bytes cell.
  std::string_view TextAt(std::size_t column, std::size_t row) const;
  std::span<const std::uint8_t> BytesAt(std::size_t column, std::size_t row) const;
  // The length of the value in bytes (UTF-8 for texts, 0 for NULL).
  std::size_t SizeAt(std::size_t column, std::size_t row) const;
  // The cell as a Value (text converted to wide).
  Value At(std::size_t column, std::size_t row) const;

  // Building, one row at a time: BeginRow, then one Put per column in order.
  void BeginRow();
  void PutNull();
  void PutInteger(std::int64_t value);
  void PutReal(double value);
  void PutDecimal(const Decimal& value);
  void PutTime(const Timestamp& value);
  // False when the column's store would pass 4 GiB.
  bool PutText(std::string_view utf8);
  bool PutBytes(std::span<const std::uint8_t> bytes);
  void Put(const Value& value);

  // Building a block of rows column by column: AddRows(n), then every
  // column receives its n cells in row order, one at a time (the *At calls)
  // or a run of fixed-width cells at once, read from an array of `count`
  // values beside an array of lengths (a negative length is NULL).
  void AddRows(std::size_t count);
  void PutNullAt(std::size_t column);
  void PutIntegerAt(std::size_t column, std::int64_t value);
  void PutRealAt(std::size_t column, double value);
  void PutDecimalAt(std::size_t column, const Decimal& value);
  void PutTimeAt(std::size_t column, const Timestamp& value);
  bool PutTextAt(std::size_t column, std::string_view utf8);
  bool PutBytesAt(std::size_t column, std::span<const std::uint8_t> bytes);
  void PutIntegers(std::size_t column, const std::int64_t* values, const std::int64_t* lengths, std::size_t count);
  void PutReals(std::size_t column, const double* values, const std::int64_t* lengths, std::size_t count);
  void PutTimes(std::size_t column, const Timestamp* values, const std::int64_t* lengths, std::size_t count);

  // Makes room for `bytes` bytes of a text or binary column (a hint).
  void ReserveBytes(std::size_t column, std::size_t bytes);
  // The bytes a text or binary column holds so far.
  std::size_t HeldBytes(std::size_t column) const;
  // Gives back the spare capacity of the stores once the last row is in,
  // where it is more than an eighth of what is held and more than a few
  // hundred bytes.
  void Seal();
  // Drops the columns whose index is listed (ascending), keeping the rows.
  void RemoveColumns(const std::vector<std::size_t>& columns);

  // Bytes held by this row set's stores.
  std::size_t MemoryBytes() const;

 private:
  // The bytes of one store: in the row set's block, or on a heap block of
  // their own once they outgrow the room they had there.
  struct Run {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    bool own = false;
  };
  struct Store {
    Run nulls;  // one bit per row
    Run fixed;  // fixed-width cells, `width` each
    Run ends;   // std::uint32_t end offsets into `heap` (variable cells)
    Run heap;
    std::size_t width = 0;
    std::size_t cells = 0;  // cells put so far
    ValueKind kind = ValueKind::Null;  // the column's
    // Its runs, in the order a block lays them out.
    std::array<Run*, 4> Runs() { return {&nulls, &fixed, &ends, &heap}; }
    std::array<const Run*, 4> Runs() const { return {&nulls, &fixed, &ends, &heap}; }
    // Frees the runs on heap blocks of their own.
    void FreeOwnRuns() {
      for (Run* run : Runs()) {
        if (run->own) std::free(run->data);
      }
    }
  };
  static void MarkNull(Store& store, bool null);
  static std::uint8_t* Extend(Run& run, std::size_t bytes);
  static void Grow(Run& run, std::size_t capacity);
  static std::uint32_t EndAt(const Store& store, std::size_t row);
  void Layout(std::size_t rows, bool exact);
  void PackBlock();
  template <typename T>
  T Fixed(std::size_t column, std::size_t row) const;
  template <typename T>
  void PutFixed(std::size_t column, const T& value);
  template <typename T, typename From>
  void PutRun(std::size_t column, const From* values, const std::int64_t* lengths, std::size_t count);
  bool PutVariable(std::size_t column, const std::uint8_t* data, std::size_t size);

  std::shared_ptr<const std::vector<ColumnInfo>> columns_;
  // One block holds the stores and, for the rows expected, their bitmaps and
  // cells (and for a small result a little room for its texts): a result
  // read in full mostly takes this one allocation.
  std::uint8_t* block_ = nullptr;
  std::size_t blockBytes_ = 0;
  Store* stores_ = nullptr;  // in block_, one per column
  std::size_t rows_ = 0;
  std::size_t next_ = 0;  // the column the next Put fills
};

// The readers, inline: they run once per cell of every result read.
inline bool RowSet::IsNull(std::size_t column, std::size_t row) const {
  return (stores_[column].nulls.data[row / 8] >> (row % 8)) & 1;
}

template <typename T>
T RowSet::Fixed(std::size_t column, std::size_t row) const {
  T value{};
  const Store& s = stores_[column];
  std::memcpy(&value, s.fixed.data + row * s.width, sizeof(T));
  return value;
}

inline std::int64_t RowSet::Integer(std::size_t column, std::size_t row) const {
  switch (stores_[column].kind) {
    case ValueKind::Bool: return Fixed<std::uint8_t>(column, row);
    case ValueKind::Int16: return Fixed<std::int16_t>(column, row);
    case ValueKind::Int32: return Fixed<std::int32_t>(column, row);
    case ValueKind::Int64: return Fixed<std::int64_t>(column, row);
    default: return 0;
  }
}

inline double RowSet::Real(std::size_t column, std::size_t row) const {
  if (stores_[column].kind == ValueKind::Single) return Fixed<float>(column, row);
  return Fixed<double>(column, row);
}

inline Decimal RowSet::DecimalAt(std::size_t column, std::size_t row) const { return Fixed<Decimal>(column, row); }

inline Timestamp RowSet::TimeAt(std::size_t column, std::size_t row) const { return Fixed<Timestamp>(column, row); }

inline std::uint32_t RowSet::EndAt(const Store& store, std::size_t row) {
  std::uint32_t end;
  std::memcpy(&end, store.ends.data + row * sizeof(end), sizeof(end));
  return end;
}

inline std::string_view RowSet::TextAt(std::size_t column, std::size_t row) const {
  const Store& s = stores_[column];
  std::uint32_t begin = row == 0 ? 0 : EndAt(s, row - 1);
  return {reinterpret_cast<const char*>(s.heap.data) + begin, EndAt(s, row) - begin};
}

inline std::span<const std::uint8_t> RowSet::BytesAt(std::size_t column, std::size_t row) const {
  const Store& s = stores_[column];
  std::uint32_t begin = row == 0 ? 0 : EndAt(s, row - 1);
  return {s.heap.data + begin, EndAt(s, row) - begin};
}

// One result of a statement or batch: a row set, or the count of rows a
// statement touched (-1 when the driver does not know).
struct Result {
  std::shared_ptr<RowSet> rows;
  std::int64_t rowsAffected = -1;
};

enum class ParamDirection : std::uint8_t { Input = 1, Output = 2, InputOutput = 3, ReturnValue = 4 };

// One parameter of a statement. `kind` and `size` describe the SQL type to
// bind (for outputs: what to read back); `value` is the input value and, after
// the call, the output value.
struct Param {
  std::wstring name;
  ParamDirection direction = ParamDirection::Input;
  ValueKind kind = ValueKind::Null;
  bool wide = true;        // Text: national (wide) character type
  bool longData = false;   // Text/Bytes: a long type
  std::uint64_t size = 0;  // characters or bytes; 0 = from the value
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;
  Value value;
};

struct Request {
  std::wstring text;  // SQL text, or the procedure name when `procedure`
  // The UTF-16 form of `text` (Utf16Into) when the caller keeps it, so that
  // a session that speaks UTF-16 does not encode it again; null: none.
  const std::u16string* utf16 = nullptr;
  bool procedure = false;
  std::vector<Param>* params = nullptr;  // outputs are written back here
  int timeoutSeconds = 0;                // 0 = no limit
  std::int64_t maxRows = 0;              // 0 = all; applies to every row set
};

struct Response {
  std::vector<Result> results;
};

// One physical connection.
class Session {
 public:
  virtual ~Session() = default;
  // Runs a statement or batch and reads every result in full. On failure the
  // diagnostics explain why; results read before the failure are kept.
  virtual bool Execute(const Request& request, Response* response, Diagnostics* diagnostics) = 0;
  // Transactions: Begin turns auto-commit off; End commits or rolls back
  // and turns it on again.
  virtual bool BeginTransaction(Diagnostics* diagnostics) = 0;
  virtual bool EndTransaction(bool commit, Diagnostics* diagnostics) = 0;
  // A cheap check that the connection can still be used (no round trip
  // unless the connection has been idle for a while).
  virtual bool IsAlive() = 0;
  // Facts about the server, read once at connect: "DBMS Name",
  // "DBMS Version", "Data Source Name", "Driver Name", "Server Name" and the
  // like, in a fixed order.
  virtual const std::vector<std::pair<std::wstring, std::wstring>>& Info() const = 0;
};

class Driver {
 public:
  virtual ~Driver() = default;
  // Opens a physical connection with an ODBC connection string; a login
  // time-out of 0 waits as long as the driver does.
  virtual std::unique_ptr<Session> Connect(const std::wstring& odbcString, int loginTimeoutSeconds,
                                           Diagnostics* diagnostics) = 0;
};

// UTF-8 to wide and back (the row sets keep UTF-8). Broken input and
// surrogates become U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// Appends the UTF-8 bytes of one code point.
void AppendUtf8(std::uint32_t codePoint, std::string& out);

// Hands each UTF-16 unit of `text` to `emit`; a code point no UTF-16 can
// hold (a lone surrogate, above U+10FFFF) goes as U+FFFD.
template <typename Emit>
void EncodeUtf16(std::wstring_view text, Emit emit) {
  for (wchar_t wc : text) {
    auto cp = static_cast<std::uint32_t>(wc);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      emit(static_cast<char16_t>(0xD800 + (cp >> 10)));
      emit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      emit(static_cast<char16_t>(cp));
    }
  }
}

// Replaces *out with the UTF-16 units of `text`, in the room *out already has.
void Utf16Into(std::wstring_view text, std::u16string& out);

}  // namespace ado::backend
