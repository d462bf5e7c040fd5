#include "platform/ado/backend.h"

#include <cstring>
#include <limits>

namespace ado::backend {
namespace {

std::size_t WidthOf(ValueKind kind) {
  switch (kind) {
    case ValueKind::Bool: return 1;
    case ValueKind::Int16: return 2;
    case ValueKind::Int32: return 4;
    case ValueKind::Int64: return 8;
    case ValueKind::Single: return 4;
    case ValueKind::Double: return 8;
    case ValueKind::Decimal: return sizeof(Decimal);
    case ValueKind::Timestamp: return sizeof(Timestamp);
    default: return 0;  // Text, Bytes: variable
  }
}

// Multiplies the 96-bit magnitude by 10 and adds a digit; false on overflow.
bool MulAdd10(Decimal& d, unsigned digit) {
  unsigned __int128 low = static_cast<unsigned __int128>(d.lo) * 10 + digit;
  unsigned __int128 high = static_cast<unsigned __int128>(d.hi) * 10 + static_cast<std::uint64_t>(low >> 64);
  if (high > std::numeric_limits<std::uint32_t>::max()) return false;
  d.lo = static_cast<std::uint64_t>(low);
  d.hi = static_cast<std::uint32_t>(high);
  return true;
}

}  // namespace

bool ParseDecimal(std::string_view text, Decimal* out) {
  Decimal d;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
  bool digits = false;
  bool point = false;
  // The first 19 digits fit in 64 bits: they are gathered there, and only
  // longer numbers take the 96-bit steps.
  std::uint64_t head = 0;
  int headDigits = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    digits = true;
    if (point) {
      if (d.scale == 28) continue;  // finer digits than a decimal keeps are dropped
      ++d.scale;
    }
    if (headDigits < 19) {
      head = head * 10 + static_cast<unsigned>(c - '0');
      if (++headDigits == 19) d.lo = head;
      continue;
    }
    if (!MulAdd10(d, static_cast<unsigned>(c - '0'))) return false;
  }
  if (headDigits < 19) d.lo = head;
  while (i < text.size() && text[i] == ' ') ++i;
  if (!digits || i != text.size()) return false;
  if (d.lo == 0 && d.hi == 0) d.negative = false;
  *out = d;
  return true;
}

std::string FormatDecimal(const Decimal& value) {
  unsigned __int128 n = (static_cast<unsigned __int128>(value.hi) << 64) | value.lo;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(n % 10)));
    n /= 10;
  } while (n != 0);
  if (value.scale > 0) {
    if (digits.size() <= value.scale) digits.insert(0, value.scale - digits.size() + 1, '0');
    digits.insert(digits.size() - value.scale, 1, '.');
  }
  if (value.negative) digits.insert(digits.begin(), '-');
  return digits;
}

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::uint32_t cp;
    std::size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      n = 4;
    } else {
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    if (i + n > text.size()) {
      out.push_back(L'\xFFFD');
      break;
    }
    bool ok = true;
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (t & 0x3F);
    }
    out.push_back(ok ? static_cast<wchar_t>(cp) : L'\xFFFD');
    i += ok ? n : 1;
  }
  return out;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void Utf16Into(std::wstring_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size());
  EncodeUtf16(text, [&out](char16_t unit) { out.push_back(unit); });
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) AppendUtf8(static_cast<std::uint32_t>(wc), out);
  return out;
}

RowSet::RowSet(std::vector<ColumnInfo> columns)
    : RowSet(std::make_shared<const std::vector<ColumnInfo>>(std::move(columns))) {}

RowSet::RowSet(std::shared_ptr<const std::vector<ColumnInfo>> columns)
    : columns_(std::move(columns)), stores_(columns_->size()) {
  for (std::size_t i = 0; i < stores_.size(); ++i) {
    stores_[i].kind = (*columns_)[i].kind;
    stores_[i].width = WidthOf(stores_[i].kind);
  }
}

std::size_t RowSet::SizeAt(std::size_t column, std::size_t row) const {
  if (IsNull(column, row)) return 0;
  const Store& s = stores_[column];
  if (s.width != 0) return s.width;
  return TextAt(column, row).size();
}

Value RowSet::At(std::size_t column, std::size_t row) const {
  Value v;
  if (IsNull(column, row)) return v;
  v.kind = stores_[column].kind;
  switch (v.kind) {
    case ValueKind::Bool:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64: v.integer = Integer(column, row); break;
    case ValueKind::Single:
    case ValueKind::Double: v.real = Real(column, row); break;
    case ValueKind::Decimal: v.decimal = DecimalAt(column, row); break;
    case ValueKind::Timestamp: v.time = TimeAt(column, row); break;
    case ValueKind::Text: v.text = WideFromUtf8(TextAt(column, row)); break;
    case ValueKind::Bytes: {
      auto b = BytesAt(column, row);
      v.bytes.assign(b.begin(), b.end());
      break;
    }
    case ValueKind::Null: break;
  }
  return v;
}

void RowSet::BeginRow() {
  ++rows_;
  next_ = 0;
}

void RowSet::AddRows(std::size_t count) { rows_ += count; }

void RowSet::MarkNull(Store& store, bool null) {
  const std::size_t row = store.cells++;
  if (row % 8 == 0) store.nulls.push_back(0);
  if (null) store.nulls[row / 8] |= static_cast<std::uint8_t>(1u << (row % 8));
}

void RowSet::PutNullAt(std::size_t column) {
  Store& s = stores_[column];
  MarkNull(s, true);
  if (s.width != 0) {
    s.fixed.resize(s.fixed.size() + s.width);
  } else {
    s.ends.push_back(s.ends.empty() ? 0 : s.ends.back());
  }
}

template <typename T>
void RowSet::PutFixed(std::size_t column, const T& value) {
  Store& s = stores_[column];
  MarkNull(s, false);
  const std::size_t at = s.fixed.size();
  s.fixed.resize(at + sizeof(T));
  std::memcpy(s.fixed.data() + at, &value, sizeof(T));
}

void RowSet::PutIntegerAt(std::size_t column, std::int64_t value) {
  switch (stores_[column].kind) {
    case ValueKind::Bool: PutFixed(column, static_cast<std::uint8_t>(value != 0)); break;
    case ValueKind::Int16: PutFixed(column, static_cast<std::int16_t>(value)); break;
    case ValueKind::Int32: PutFixed(column, static_cast<std::int32_t>(value)); break;
    default: PutFixed(column, value); break;
  }
}

void RowSet::PutRealAt(std::size_t column, double value) {
  if (stores_[column].kind == ValueKind::Single) {
    PutFixed(column, static_cast<float>(value));
  } else {
    PutFixed(column, value);
  }
}

void RowSet::PutDecimalAt(std::size_t column, const Decimal& value) { PutFixed(column, value); }

void RowSet::PutTimeAt(std::size_t column, const Timestamp& value) { PutFixed(column, value); }

bool RowSet::PutVariable(std::size_t column, const std::uint8_t* data, std::size_t size) {
  Store& s = stores_[column];
  std::size_t end = s.heap.size() + size;
  if (end > std::numeric_limits<std::uint32_t>::max()) return false;
  MarkNull(s, false);
  s.heap.insert(s.heap.end(), data, data + size);
  s.ends.push_back(static_cast<std::uint32_t>(end));
  return true;
}

bool RowSet::PutTextAt(std::size_t column, std::string_view utf8) {
  return PutVariable(column, reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size());
}

bool RowSet::PutBytesAt(std::size_t column, std::span<const std::uint8_t> bytes) {
  return PutVariable(column, bytes.data(), bytes.size());
}

template <typename T, typename From>
void RowSet::PutRun(std::size_t column, const From* values, const std::int64_t* lengths, std::size_t count) {
  Store& s = stores_[column];
  const std::size_t at = s.fixed.size();
  s.fixed.resize(at + count * sizeof(T));
  std::uint8_t* out = s.fixed.data() + at;
  for (std::size_t i = 0; i < count; ++i, out += sizeof(T)) {
    const bool null = lengths[i] < 0;
    MarkNull(s, null);
    if (!null) {
      const T value = static_cast<T>(values[i]);
      std::memcpy(out, &value, sizeof(T));
    }
  }
}

void RowSet::PutIntegers(std::size_t column, const std::int64_t* values, const std::int64_t* lengths,
                         std::size_t count) {
  switch (stores_[column].kind) {
    case ValueKind::Bool: {
      // Any non-zero value is true.
      Store& s = stores_[column];
      const std::size_t at = s.fixed.size();
      s.fixed.resize(at + count);
      for (std::size_t i = 0; i < count; ++i) {
        MarkNull(s, lengths[i] < 0);
        s.fixed[at + i] = lengths[i] >= 0 && values[i] != 0;
      }
      break;
    }
    case ValueKind::Int16: PutRun<std::int16_t>(column, values, lengths, count); break;
    case ValueKind::Int32: PutRun<std::int32_t>(column, values, lengths, count); break;
    default: PutRun<std::int64_t>(column, values, lengths, count); break;
  }
}

void RowSet::PutReals(std::size_t column, const double* values, const std::int64_t* lengths, std::size_t count) {
  if (stores_[column].kind == ValueKind::Single) {
    PutRun<float>(column, values, lengths, count);
  } else {
    PutRun<double>(column, values, lengths, count);
  }
}

void RowSet::PutTimes(std::size_t column, const Timestamp* values, const std::int64_t* lengths, std::size_t count) {
  PutRun<Timestamp>(column, values, lengths, count);
}

void RowSet::PutNull() { PutNullAt(next_++); }
void RowSet::PutInteger(std::int64_t value) { PutIntegerAt(next_++, value); }
void RowSet::PutReal(double value) { PutRealAt(next_++, value); }
void RowSet::PutDecimal(const Decimal& value) { PutDecimalAt(next_++, value); }
void RowSet::PutTime(const Timestamp& value) { PutTimeAt(next_++, value); }

bool RowSet::PutText(std::string_view utf8) {
  const std::size_t column = next_;
  const bool stored = PutTextAt(column, utf8);
  if (stored) ++next_;
  return stored;
}

bool RowSet::PutBytes(std::span<const std::uint8_t> bytes) {
  const std::size_t column = next_;
  const bool stored = PutBytesAt(column, bytes);
  if (stored) ++next_;
  return stored;
}

void RowSet::Put(const Value& value) {
  switch (value.kind) {
    case ValueKind::Null: PutNull(); break;
    case ValueKind::Bool:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64: PutInteger(value.integer); break;
    case ValueKind::Single:
    case ValueKind::Double: PutReal(value.real); break;
    case ValueKind::Decimal: PutDecimal(value.decimal); break;
    case ValueKind::Timestamp: PutTime(value.time); break;
    case ValueKind::Text: PutText(Utf8FromWide(value.text)); break;
    case ValueKind::Bytes: PutBytes(value.bytes); break;
  }
}

void RowSet::Reserve(std::size_t rows) {
  for (Store& s : stores_) {
    s.nulls.reserve((rows + 7) / 8);
    if (s.width != 0) {
      s.fixed.reserve(rows * s.width);
    } else {
      s.ends.reserve(rows);
    }
  }
}

void RowSet::ReserveBytes(std::size_t column, std::size_t bytes) { stores_[column].heap.reserve(bytes); }

std::size_t RowSet::HeldBytes(std::size_t column) const { return stores_[column].heap.size(); }

void RowSet::Seal() {
  // Shrinking copies: only where much would be given back.
  auto seal = [](auto& store) {
    if (store.capacity() - store.size() > store.size() / 8) store.shrink_to_fit();
  };
  for (Store& s : stores_) {
    seal(s.nulls);
    seal(s.fixed);
    seal(s.ends);
    seal(s.heap);
  }
}

void RowSet::RemoveColumns(const std::vector<std::size_t>& columns) {
  if (columns.empty()) return;
  // The columns may be shared: this row set gets its own.
  auto kept = std::make_shared<std::vector<ColumnInfo>>(*columns_);
  for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
    kept->erase(kept->begin() + static_cast<std::ptrdiff_t>(*it));
    stores_.erase(stores_.begin() + static_cast<std::ptrdiff_t>(*it));
  }
  columns_ = std::move(kept);
}

std::size_t RowSet::MemoryBytes() const {
  std::size_t total = sizeof(*this) + columns_->capacity() * sizeof(ColumnInfo) + stores_.capacity() * sizeof(Store);
  for (const Store& s : stores_) {
    total += s.nulls.capacity() + s.fixed.capacity() + s.ends.capacity() * sizeof(std::uint32_t) + s.heap.capacity();
  }
  return total;
}

}  // namespace ado::backend
