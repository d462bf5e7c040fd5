#include "configdb/users/cached_value.h"

#include <cstring>

CachedValue::CachedValue() = default;

CachedValue::CachedValue(int type, bool value, const char* column)
    : type(type), value(value ? 1 : 0), column(column ? column : "") {}

CachedValue::CachedValue(int type, std::int64_t value, const char* column)
    : type(type), value(value), column(column ? column : "") {}

CachedValue::CachedValue(int type, int value, const char* column)
    : type(type), value(static_cast<std::uint32_t>(value)), column(column ? column : "") {}

CachedValue::CachedValue(int type, const char* text, bool emptyIsNull, const char* column)
    : type(type), text(text), column(column ? column : ""), emptyIsNull(emptyIsNull) {}

CachedValue::CachedValue(int type, unsigned length, const void* bytes, const char* column)
    : type(type), column(column ? column : "") {
  SetBytes(bytes, length);
}

CachedValue::CachedValue(int type, const wchar_t* text, bool emptyIsNull, const char* column)
    : type(type), text(text), column(column ? column : ""), emptyIsNull(emptyIsNull) {}

CachedValue::CachedValue(const CachedValue& other) : type(other.type), column(other.column) { CopyValue(other); }

CachedValue& CachedValue::operator=(const CachedValue& other) {
  if (this != &other) {
    type = other.type;
    column = other.column;
    CopyValue(other);
  }
  return *this;
}

void CachedValue::CopyValue(const CachedValue& other) {
  if (this == &other) return;
  value = other.value;
  SetBytes(other.bytes(), other.length());
  keyKind = other.keyKind;
  text = other.text;
  emptyIsNull = other.emptyIsNull;
}

void CachedValue::SetBytes(const void* bytes, unsigned length) {
  bytes_.Reset();
  length_ = 0;
  if (bytes == nullptr || length == 0) return;
  if (!bytes_.Allocate(static_cast<std::size_t>(length) + 1)) return;
  std::memcpy(bytes_.get(), bytes, length);
  length_ = length;
}

void CachedValue::ClearValue() {
  value = 0;
  SetBytes(nullptr, 0);
  text = static_cast<const wchar_t*>(nullptr);
}
