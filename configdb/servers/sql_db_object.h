// SQLDBObject: one row of one database table kept in memory as named, typed
// column values (SQLDBValue), selected by one or more key columns. It reads
// the row with a SELECT made from the column and key names, creates the row
// with an INSERT of the key values when the table has none, and offers
// integer accessors on the values in memory. The configuration database
// object keeps one for its server's ServerStats row and lends it its query
// runners, so the reads share that object's retries and error reports.
//
//   SELECT  " select " + columns in name order joined by "," + " from " +
//           table, then per key (name order) " where " / " and " + name +
//           " = ?" (" IS NULL" for an empty blob key)
//   INSERT  "insert into " + table + " (" + keys joined by "," + ") VALUES(" +
//           one "?" per key joined by "," + ")"  (an empty blob key binds NULL)
//
// Names are ordered byte by byte, so upper-case letters come before lower-
// case ones. Values changed in memory stay in memory: nothing here writes
// them back, and the next reload replaces them with the row's values.
//
// Results are HRESULTs (0, E_FAIL, E_INVALIDARG) or bools; failures are
// logged under "SQLDBObject::ReloadPropertiesFromDB" and nothing throws.
//
// Threads: any thread. Two locks: the reload lock is held while the row is
// read from the database, the value lock for every access to the values;
// Initialize and Clear take the reload lock first, then the value lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/critical_section.h"
#include "platform/ado/ado.h"
#include "platform/com/hresult.h"
#include "platform/win32/time.h"

class PMDatabaseSQLImp;

class SQLDBValue {
 public:
  enum Type : std::int32_t { kNone = 0, kString = 1, kInteger = 2, kBlob = 3, kTime = 4 };

  // An empty string, zero integer, blob and time.
  SQLDBValue(std::string name, Type type) : name_(std::move(name)), type_(type) {}
  // Copies the name, the type and the value of that type only.
  SQLDBValue(const SQLDBValue& other);
  SQLDBValue& operator=(const SQLDBValue&) = delete;

  // Each setter releases a held blob first, then sets its type and value.
  void SetString(const std::string& value);
  void SetInt(std::int32_t value);
  // A copy of the bytes; no block for null data or length 0.
  void SetBlob(const void* data, std::uint32_t length);
  void SetFileTime(const FILETIME& value);
  // Frees a blob's block; the type becomes 0. Other types are left alone.
  void ReleaseBlob();

  // Each getter answers for its own type only (false, output untouched,
  // for another).
  bool GetString(std::string* out) const;
  bool GetInt(std::int32_t* out) const;
  bool GetBlob(std::vector<std::uint8_t>* out) const;
  bool GetFileTime(FILETIME* out) const;
  std::uint32_t GetBlobLength() const { return type_ == kBlob ? static_cast<std::uint32_t>(blob_.size()) : 0; }

  // Integers only: the new value (0 for another type). Decrement stops at 0.
  std::int32_t Increment();
  std::int32_t Decrement();

  const std::string& GetName() const { return name_; }
  Type GetType() const { return type_; }

 private:
  std::string name_;
  Type type_;
  std::string string_;
  std::int32_t integer_ = 0;
  std::vector<std::uint8_t> blob_;
  FILETIME time_{0, 0};
};

using SQLDBValueMap = std::map<std::string, std::unique_ptr<SQLDBValue>>;

class SQLDBObject {
 public:
  SQLDBObject() = default;
  // Clear().
  ~SQLDBObject();
  SQLDBObject(const SQLDBObject&) = delete;
  SQLDBObject& operator=(const SQLDBObject&) = delete;

  // The object whose query runners read the row; true.
  bool SetDatabase(PMDatabaseSQLImp* owner);
  // Takes one use of the process-wide pool, stores copies of the columns
  // and keys and reads the row (creating it when absent). False when the
  // pool does not come up, a set is missing or empty, or the read fails.
  bool Initialize(const char* table, const std::vector<SQLDBValue>* columns, const std::vector<SQLDBValue>* keys,
                  const std::string& connectionString, int poolSize);
  // Reads the row again: 0, or E_FAIL (values unchanged) when there are no
  // columns or the read failed.
  HRESULT Reload();
  // Reads the row of `table` selected by `keys` into `columns`; when there
  // is none, inserts one with the key values (the columns keep their
  // values). False, logged, when nothing could be read or inserted.
  bool ReloadPropertiesFromDB(const std::string& table, SQLDBValueMap& columns, const SQLDBValueMap& keys);

  // 0 and the column's integer (0 for another type); E_FAIL for no columns
  // or an unknown column.
  HRESULT GetIntColumn(const char* column, int* out);
  // The column becomes an integer; E_INVALIDARG for an unknown column,
  // E_FAIL without columns.
  HRESULT SetIntColumn(const char* column, int value);
  // As SetIntColumn's results; the new value in *out when out is not null.
  HRESULT IncrementIntColumn(const char* column, int* out);
  HRESULT DecrementIntColumn(const char* column, int* out);

  // Empties the object and gives its pool use back; the pool's result, or
  // true when it held none.
  bool Clear();

  // The two texts for `table`, `columns` and `keys` (see above); the
  // SELECT's "?" are bound in key order, skipping the IS NULL keys.
  static std::wstring BuildSelect(const std::string& table, const SQLDBValueMap& columns, const SQLDBValueMap& keys);
  static std::wstring BuildInsert(const std::string& table, const SQLDBValueMap& keys);
  // Appends the input parameter of `value` to the command (NULL for an
  // empty blob). ADO failures arrive as _com_error.
  static void BindSQLDBValueParameter(ado::_CommandPtr& command, const SQLDBValue& value);

 private:
  template <typename Change>
  HRESULT ChangeIntColumn(const char* column, Change change);
  static bool IsNullKey(const SQLDBValue& key) {
    return key.GetType() == SQLDBValue::kBlob && key.GetBlobLength() == 0;
  }

  SQLDBValueMap columns_;
  std::int32_t columnCount_ = 0;
  std::string table_;
  SQLDBValueMap keys_;
  CriticalSection reloadLock_;
  PMDatabaseSQLImp* owner_ = nullptr;
  CriticalSection valueLock_;
  bool poolUse_ = false;
};
