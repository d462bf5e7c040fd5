#include "platform/ado/backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace ado::backend {
namespace {

// A result of this many rows at most gets room for its texts in its block,
// this many bytes a row for each text or binary column.
constexpr std::size_t kTextRoomRowsAtMost = 8;
constexpr std::size_t kTextRoomPerRow = 32;
// Seal and RemoveColumns give back spare room only where it is more than
// this and more than an eighth of what is held: a copy costs more than a
// few bytes kept.
constexpr std::size_t kSpareKept = 512;

bool WorthGivingBack(std::size_t spare, std::size_t held) { return spare > kSpareKept && spare > held / 8; }

constexpr std::size_t RoundUp8(std::size_t bytes) { return (bytes + 7) & ~std::size_t{7}; }

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

RowSet::RowSet(std::shared_ptr<const std::vector<ColumnInfo>> columns) : RowSet(std::move(columns), 0) {}

RowSet::RowSet(std::shared_ptr<const std::vector<ColumnInfo>> columns, std::size_t rows)
    : columns_(std::move(columns)) {
  Layout(rows, false);
}

RowSet::~RowSet() {
  for (std::size_t c = 0; c < columns_->size(); ++c) stores_[c].FreeOwnRuns();
  std::free(block_);
}

// Makes a new block for the stores and for every run not on a block of its
// own: with room for `rows` rows (and texts of a small result), or with
// `exact` just the room the runs take, and moves their bytes there.
void RowSet::Layout(std::size_t rows, bool exact) {
  const std::size_t n = columns_->size();
  const bool fresh = stores_ == nullptr;
  const std::size_t textRoom = !exact && rows <= kTextRoomRowsAtMost ? rows * kTextRoomPerRow : 0;
  // A run on a block of its own stays there; the others get their size, or
  // with `wanted` the room for the rows expected.
  auto roomOf = [&](const Run& run, std::size_t wanted) -> std::size_t {
    if (run.own) return 0;
    return RoundUp8(exact ? run.size : std::max(run.size, wanted));
  };
  auto wantedOf = [&](const Store& s, std::size_t which) -> std::size_t {
    switch (which) {
      case 0: return (rows + 7) / 8;
      case 1: return rows * s.width;
      case 2: return s.width == 0 ? rows * sizeof(std::uint32_t) : 0;
      default: return s.width == 0 ? textRoom : 0;
    }
  };
  Store made;  // the store of a column not yet laid out
  auto storeOf = [&](std::size_t c) -> const Store& {
    if (!fresh) return stores_[c];
    made = Store{};
    made.kind = (*columns_)[c].kind;
    made.width = WidthOf(made.kind);
    return made;
  };
  std::size_t total = RoundUp8(n * sizeof(Store));
  for (std::size_t c = 0; c < n; ++c) {
    const Store& s = storeOf(c);
    const auto runs = s.Runs();
    for (std::size_t k = 0; k < runs.size(); ++k) total += roomOf(*runs[k], wantedOf(s, k));
  }
  auto* block = total == 0 ? nullptr : static_cast<std::uint8_t*>(std::malloc(total));
  if (total != 0 && block == nullptr) throw std::bad_alloc();
  auto* stores = reinterpret_cast<Store*>(block);
  std::uint8_t* at = block + RoundUp8(n * sizeof(Store));
  for (std::size_t c = 0; c < n; ++c) {
    Store* s = new (stores + c) Store(storeOf(c));
    const auto runs = s->Runs();
    for (std::size_t k = 0; k < runs.size(); ++k) {
      Run& run = *runs[k];
      const std::size_t room = roomOf(run, wantedOf(*s, k));
      if (run.own) continue;
      if (run.size != 0) std::memcpy(at, run.data, run.size);
      run.data = room == 0 ? nullptr : at;
      run.capacity = room;
      at += room;
    }
  }
  std::free(block_);
  block_ = block;
  blockBytes_ = total;
  stores_ = stores;
}

// Gives back the room of the block where much of it is spare.
void RowSet::PackBlock() {
  const std::size_t n = columns_->size();
  std::size_t held = RoundUp8(n * sizeof(Store));
  for (std::size_t c = 0; c < n; ++c) {
    for (const Run* run : std::as_const(stores_[c]).Runs()) {
      if (!run->own) held += RoundUp8(run->size);
    }
  }
  if (WorthGivingBack(blockBytes_ - held, held)) Layout(rows_, true);
}

void RowSet::Grow(Run& run, std::size_t capacity) {
  std::uint8_t* data;
  if (run.own) {
    data = static_cast<std::uint8_t*>(std::realloc(run.data, capacity));
  } else {
    data = static_cast<std::uint8_t*>(std::malloc(capacity));
    if (data != nullptr && run.size != 0) std::memcpy(data, run.data, run.size);
  }
  if (data == nullptr) throw std::bad_alloc();
  run.data = data;
  run.capacity = capacity;
  run.own = true;
}

// Lengthens the run by `bytes` bytes (left as they are) and returns them.
std::uint8_t* RowSet::Extend(Run& run, std::size_t bytes) {
  const std::size_t size = run.size + bytes;
  if (size > run.capacity) Grow(run, std::max({size, run.capacity * 2, std::size_t{16}}));
  std::uint8_t* at = run.data + run.size;
  run.size = size;
  return at;
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
  if (row % 8 == 0) *Extend(store.nulls, 1) = 0;
  if (null) store.nulls.data[row / 8] |= static_cast<std::uint8_t>(1u << (row % 8));
}

void RowSet::PutNullAt(std::size_t column) {
  Store& s = stores_[column];
  if (s.width != 0) {
    std::memset(Extend(s.fixed, s.width), 0, s.width);
  } else {
    const std::uint32_t end = s.cells == 0 ? 0 : EndAt(s, s.cells - 1);
    std::memcpy(Extend(s.ends, sizeof(end)), &end, sizeof(end));
  }
  MarkNull(s, true);
}

template <typename T>
void RowSet::PutFixed(std::size_t column, const T& value) {
  Store& s = stores_[column];
  MarkNull(s, false);
  std::memcpy(Extend(s.fixed, sizeof(T)), &value, sizeof(T));
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
  std::size_t end = s.heap.size + size;
  if (end > std::numeric_limits<std::uint32_t>::max()) return false;
  MarkNull(s, false);
  if (size != 0) std::memcpy(Extend(s.heap, size), data, size);
  const auto end32 = static_cast<std::uint32_t>(end);
  std::memcpy(Extend(s.ends, sizeof(end32)), &end32, sizeof(end32));
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
  std::uint8_t* out = Extend(s.fixed, count * sizeof(T));
  for (std::size_t i = 0; i < count; ++i, out += sizeof(T)) {
    const bool null = lengths[i] < 0;
    MarkNull(s, null);
    const T value = null ? T{} : static_cast<T>(values[i]);
    std::memcpy(out, &value, sizeof(T));
  }
}

void RowSet::PutIntegers(std::size_t column, const std::int64_t* values, const std::int64_t* lengths,
                         std::size_t count) {
  switch (stores_[column].kind) {
    case ValueKind::Bool: {
      // Any non-zero value is true.
      Store& s = stores_[column];
      std::uint8_t* out = Extend(s.fixed, count);
      for (std::size_t i = 0; i < count; ++i) {
        MarkNull(s, lengths[i] < 0);
        out[i] = lengths[i] >= 0 && values[i] != 0;
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

void RowSet::ReserveBytes(std::size_t column, std::size_t bytes) {
  Run& heap = stores_[column].heap;
  if (bytes > heap.capacity) Grow(heap, bytes);
}

std::size_t RowSet::HeldBytes(std::size_t column) const { return stores_[column].heap.size; }

void RowSet::Seal() {
  // Shrinking copies: only where much would be given back.
  for (std::size_t c = 0; c < columns_->size(); ++c) {
    for (Run* run : stores_[c].Runs()) {
      if (!run->own || !WorthGivingBack(run->capacity - run->size, run->size)) continue;
      if (run->size == 0) {
        std::free(run->data);
        *run = Run{};
      } else {
        Grow(*run, run->size);
      }
    }
  }
  PackBlock();
}

void RowSet::RemoveColumns(const std::vector<std::size_t>& columns) {
  if (columns.empty()) return;
  // The columns may be shared: this row set gets its own.
  auto kept = std::make_shared<std::vector<ColumnInfo>>(*columns_);
  std::size_t n = columns_->size();
  for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
    const std::size_t c = *it;
    stores_[c].FreeOwnRuns();
    kept->erase(kept->begin() + static_cast<std::ptrdiff_t>(c));
    std::memmove(static_cast<void*>(stores_ + c), stores_ + c + 1, (--n - c) * sizeof(Store));
  }
  columns_ = std::move(kept);
  PackBlock();
}

std::size_t RowSet::MemoryBytes() const {
  std::size_t total = sizeof(*this) + columns_->capacity() * sizeof(ColumnInfo) + blockBytes_;
  for (std::size_t c = 0; c < columns_->size(); ++c) {
    for (const Run* run : std::as_const(stores_[c]).Runs()) {
      if (run->own) total += run->capacity;
    }
  }
  return total;
}

}  // namespace ado::backend
