// CachedValue: one typed value of one UserConfig column, carried between the
// per-user setters, the device objects and the database; CachedValueItem
// pairs it with the cached-value id (1 to 40) that names the field of the
// cached user record it belongs to (configdb/users/pager_record.h lists the
// ids). A vector of items is what the database object writes for one user
// in one UPDATE.
//
// Type codes (ADO): 3 integer (low 32 bits of value), 11 boolean (low byte,
// written as 0 or 1), 130 wide text (produced only when AutoSignature or
// Filters is read by id), 200 narrow text (kept converted to wide), 202 wide
// text, 204 bytes, 205 a time64 (seconds since 1970); 0 means no value.
//
// Copies are deep. The byte block may hold key material: it is wiped before
// it is freed.
//
// Thread safety: a value belongs to its holder; none of it is locked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/secure_wipe.h"
#include "foundation/zev_string.h"

class CachedValue {
 public:
  // Each constructor starts from an empty value (value 0, no bytes, empty
  // text, key kind 0, empty-is-NULL true), stores its own argument and the
  // column name (null leaves the column empty).
  CachedValue();
  CachedValue(int type, bool value, const char* column);
  CachedValue(int type, std::int64_t value, const char* column);
  CachedValue(int type, int value, const char* column);
  // The narrow text converted to wide; null leaves the text empty.
  CachedValue(int type, const char* text, bool emptyIsNull, const char* column);
  // A copy of the bytes when `bytes` is not null and `length` not 0.
  CachedValue(int type, unsigned length, const void* bytes, const char* column);
  // Null leaves the text empty.
  CachedValue(int type, const wchar_t* text, bool emptyIsNull, const char* column);

  // Type and column, then CopyValue.
  CachedValue(const CachedValue& other);
  CachedValue& operator=(const CachedValue& other);
  ~CachedValue() = default;

  // The value part of `other` (value, bytes, key kind, text, empty-is-NULL);
  // type and column stay.
  void CopyValue(const CachedValue& other);
  // Replaces the bytes with a copy (none for null bytes or length 0).
  void SetBytes(const void* bytes, unsigned length);
  // Drops the value part (value, bytes, text); type, column, key kind and
  // empty-is-NULL stay.
  void ClearValue();

  int type = 0;
  std::int64_t value = 0;
  zev::ZEVString text;
  std::string column;
  // For cached-value id 11: 1 PreviousKey, 2 CurrentKey, 3 PendingKey.
  std::uint16_t keyKind = 0;
  // How an empty text is written: NULL (true) or the empty text.
  bool emptyIsNull = true;

  // The bytes (null when there are none) and their count.
  const std::uint8_t* bytes() const { return bytes_.get(); }
  unsigned length() const { return length_; }
  // The value as the setters of each type read it.
  int AsInt() const { return static_cast<std::int32_t>(value); }
  std::uint8_t AsByte() const { return static_cast<std::uint8_t>(value); }

 private:
  // length_ + 1 bytes, the last one 0.
  WipedArray<std::uint8_t> bytes_;
  unsigned length_ = 0;
};

class CachedValueItem {
 public:
  CachedValueItem(int id, const CachedValue& value) : id(id), value(value) {}

  std::int32_t id;
  CachedValue value;
};

using CachedValueItemVector = std::vector<CachedValueItem>;
