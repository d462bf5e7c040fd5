#include "configdb/servers/sql_db_object.h"

#include <cstring>

#include "configdb/core/column_values.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pool_start.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/connection_holder.h"
#include "db/connection_pool.h"
#include "foundation/string_conversion.h"
#include "foundation/time_convert.h"
#include "platform/win32/codepage.h"

namespace {

constexpr char kReloadName[] = "SQLDBObject::ReloadPropertiesFromDB";

SQLDBValueMap CopyOf(const SQLDBValueMap& values) {
  SQLDBValueMap copy;
  for (const auto& [name, value] : values) copy.emplace(name, std::make_unique<SQLDBValue>(*value));
  return copy;
}

std::wstring Wide(const std::string& text) { return ToWideString(text, CP_ACP); }

}  // namespace

// SQLDBValue

SQLDBValue::SQLDBValue(const SQLDBValue& other) : name_(other.name_), type_(other.type_) {
  switch (type_) {
    case kString:
      string_ = other.string_;
      break;
    case kInteger:
      integer_ = other.integer_;
      break;
    case kBlob:
      blob_ = other.blob_;
      break;
    case kTime:
      time_ = other.time_;
      break;
    default:
      break;
  }
}

void SQLDBValue::ReleaseBlob() {
  if (type_ != kBlob) return;
  blob_.clear();
  blob_.shrink_to_fit();
  type_ = kNone;
}

void SQLDBValue::SetString(const std::string& value) {
  ReleaseBlob();
  type_ = kString;
  string_ = value;
}

void SQLDBValue::SetInt(std::int32_t value) {
  ReleaseBlob();
  type_ = kInteger;
  integer_ = value;
}

void SQLDBValue::SetBlob(const void* data, std::uint32_t length) {
  ReleaseBlob();
  type_ = kBlob;
  if (data != nullptr && length != 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    blob_.assign(bytes, bytes + length);
  }
}

void SQLDBValue::SetFileTime(const FILETIME& value) {
  ReleaseBlob();
  type_ = kTime;
  time_ = value;
}

bool SQLDBValue::GetString(std::string* out) const {
  if (type_ != kString || out == nullptr) return false;
  *out = string_;
  return true;
}

bool SQLDBValue::GetInt(std::int32_t* out) const {
  if (type_ != kInteger || out == nullptr) return false;
  *out = integer_;
  return true;
}

bool SQLDBValue::GetBlob(std::vector<std::uint8_t>* out) const {
  if (type_ != kBlob || out == nullptr) return false;
  *out = blob_;
  return true;
}

bool SQLDBValue::GetFileTime(FILETIME* out) const {
  if (type_ != kTime || out == nullptr) return false;
  *out = time_;
  return true;
}

std::int32_t SQLDBValue::Increment() { return type_ == kInteger ? ++integer_ : 0; }

std::int32_t SQLDBValue::Decrement() {
  if (type_ != kInteger) return 0;
  if (integer_ > 0) --integer_;
  return integer_;
}

// SQLDBObject

SQLDBObject::~SQLDBObject() { Clear(); }

bool SQLDBObject::SetDatabase(PMDatabaseSQLImp* owner) {
  owner_ = owner;
  return true;
}

bool SQLDBObject::Initialize(const char* table, const std::vector<SQLDBValue>* columns,
                             const std::vector<SQLDBValue>* keys, const std::string& connectionString, int poolSize) {
  ScopedLock reload(&reloadLock_);
  ScopedLock values(&valueLock_);
  // One use of the pool per object: a second Initialize keeps the one held.
  if (!poolUse_) {
    if (!InitializePoolFromNarrow(poolSize, connectionString, 0)) {
      return false;
    }
    poolUse_ = true;
  }
  if (table == nullptr || columns == nullptr || keys == nullptr || columns->empty() || keys->empty()) return false;
  table_ = table;
  for (const SQLDBValue& column : *columns) columns_[column.GetName()] = std::make_unique<SQLDBValue>(column);
  for (const SQLDBValue& key : *keys) keys_[key.GetName()] = std::make_unique<SQLDBValue>(key);
  return Reload() >= 0;
}

HRESULT SQLDBObject::Reload() {
  SQLDBValueMap columns;
  SQLDBValueMap keys;
  std::string table;
  {
    ScopedLock values(&valueLock_);
    if (columns_.empty()) return E_FAIL;
    columns = CopyOf(columns_);
    keys = CopyOf(keys_);
    table = table_;
  }
  {
    ScopedLock reload(&reloadLock_);
    if (!ReloadPropertiesFromDB(table, columns, keys)) return E_FAIL;
  }
  ScopedLock values(&valueLock_);
  columnCount_ = static_cast<std::int32_t>(columns.size());
  columns_ = std::move(columns);
  return S_OK;
}

std::wstring SQLDBObject::BuildSelect(const std::string& table, const SQLDBValueMap& columns,
                                      const SQLDBValueMap& keys) {
  std::wstring sql = L" select ";
  bool first = true;
  for (const auto& [name, value] : columns) {
    if (!first) sql += L",";
    sql += Wide(name);
    first = false;
  }
  sql += L" from " + Wide(table);
  first = true;
  for (const auto& [name, key] : keys) {
    sql += first ? L" where " : L" and ";
    sql += Wide(name);
    sql += IsNullKey(*key) ? L" IS NULL" : L" = ?";
    first = false;
  }
  return sql;
}

std::wstring SQLDBObject::BuildInsert(const std::string& table, const SQLDBValueMap& keys) {
  std::wstring names;
  std::wstring marks;
  for (const auto& [name, key] : keys) {
    if (!names.empty()) {
      names += L",";
      marks += L",";
    }
    names += Wide(name);
    marks += L"?";
  }
  return L"insert into " + Wide(table) + L" (" + names + L") VALUES(" + marks + L")";
}

void SQLDBObject::BindSQLDBValueParameter(ado::_CommandPtr& command, const SQLDBValue& value) {
  switch (value.GetType()) {
    case SQLDBValue::kString: {
      std::string text;
      value.GetString(&text);
      AppendParameter(command, ado::adVarChar, static_cast<LONG>(text.size() + 1), _variant_t(text.c_str()));
      break;
    }
    case SQLDBValue::kInteger: {
      std::int32_t integer = 0;
      value.GetInt(&integer);
      AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(integer)));
      break;
    }
    case SQLDBValue::kBlob: {
      std::vector<std::uint8_t> bytes;
      value.GetBlob(&bytes);
      _variant_t bound;
      if (bytes.empty()) {
        bound.vt = VT_NULL;
      } else {
        bound = BytesVariant(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      }
      AppendParameter(command, ado::adVarBinary, static_cast<LONG>(bytes.size()), bound);
      break;
    }
    case SQLDBValue::kTime: {
      FILETIME time{};
      value.GetFileTime(&time);
      SYSTEMTIME system{};
      DATE date = 0;
      if (!FileTimeToSystemTime(&time, &system) || !SystemTimeToVariantTime(&system, &date)) {
        _com_issue_error(E_INVALIDARG);
      }
      AppendParameter(command, ado::adDBTimeStamp, 0, _variant_t(date, VT_DATE));
      break;
    }
    default:
      _com_issue_error(E_INVALIDARG);
  }
}

bool SQLDBObject::ReloadPropertiesFromDB(const std::string& table, SQLDBValueMap& columns, const SQLDBValueMap& keys) {
  std::wstring sql;
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr || owner_ == nullptr) return false;
    sql = BuildSelect(table, columns, keys);
    ado::_CommandPtr select;
    if (!PrepareCommand(kReloadName, holder, sql.c_str(), select)) return false;
    for (const auto& [name, key] : keys) {
      if (!IsNullKey(*key)) BindSQLDBValueParameter(select, *key);
    }
    ado::_RecordsetPtr rows;
    owner_->executeQuery(kReloadName, rows, select);
    if (!rows) return false;
    if (!rows->GetEndOfFile()) {
      const ado::FieldsPtr fields = rows->GetFields();
      long position = 0;
      for (auto& [name, column] : columns) {
        const ado::FieldPtr field = fields->GetItem(_variant_t(static_cast<INT>(position++)));
        if (field->GetActualSize() <= 0) continue;
        const _variant_t value = field->GetValue();
        switch (column->GetType()) {
          case SQLDBValue::kString:
            column->SetString(VariantNarrow(value));
            break;
          case SQLDBValue::kInteger:
            column->SetInt(VariantInt(value));
            break;
          case SQLDBValue::kBlob: {
            const std::uint8_t* data = nullptr;
            std::uint32_t count = 0;
            VariantBytes(value, &data, &count);
            column->SetBlob(data, count);
            break;
          }
          case SQLDBValue::kTime: {
            FILETIME time{};
            TimeToFileTime(VariantTime(value), &time);
            column->SetFileTime(time);
            break;
          }
          default:
            break;
        }
      }
      closeRecordSet(rows);
      return true;
    }
    closeRecordSet(rows);
    // No such row: make it, with only its keys set.
    sql = BuildInsert(table, keys);
    ado::_CommandPtr insert;
    if (!PrepareCommand(kReloadName, holder, sql.c_str(), insert)) return false;
    for (const auto& [name, key] : keys) BindSQLDBValueParameter(insert, *key);
    _variant_t affected;
    owner_->executeStatement(kReloadName, insert, &affected);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(kReloadName, error, sql.c_str());
  } catch (...) {
    LogOperationException(kReloadName);
  }
  return false;
}

template <typename Change>
HRESULT SQLDBObject::ChangeIntColumn(const char* column, Change change) {
  ScopedLock values(&valueLock_);
  try {
    if (columns_.empty()) return E_FAIL;
    const auto found = columns_.find(column != nullptr ? column : "");
    if (found == columns_.end()) return E_INVALIDARG;
    change(*found->second);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT SQLDBObject::GetIntColumn(const char* column, int* out) {
  ScopedLock values(&valueLock_);
  if (out != nullptr) *out = 0;
  if (columns_.empty() || column == nullptr) return E_FAIL;
  const auto found = columns_.find(column);
  if (found == columns_.end()) return E_FAIL;
  std::int32_t value = 0;
  if (found->second->GetInt(&value) && out != nullptr) *out = value;
  return S_OK;
}

HRESULT SQLDBObject::SetIntColumn(const char* column, int value) {
  return ChangeIntColumn(column, [value](SQLDBValue& each) { each.SetInt(value); });
}

HRESULT SQLDBObject::IncrementIntColumn(const char* column, int* out) {
  return ChangeIntColumn(column, [out](SQLDBValue& each) {
    const std::int32_t value = each.Increment();
    if (out != nullptr) *out = value;
  });
}

HRESULT SQLDBObject::DecrementIntColumn(const char* column, int* out) {
  return ChangeIntColumn(column, [out](SQLDBValue& each) {
    const std::int32_t value = each.Decrement();
    if (out != nullptr) *out = value;
  });
}

bool SQLDBObject::Clear() {
  {
    ScopedLock reload(&reloadLock_);
    ScopedLock values(&valueLock_);
    table_.clear();
    columnCount_ = 0;
    keys_.clear();
    columns_.clear();
  }
  if (!poolUse_) return true;
  poolUse_ = false;
  return GetConnectionPool().ReleasePool(false);
}
