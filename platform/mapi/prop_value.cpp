#include "platform/mapi/prop_value.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/mapi/text.h"

namespace mapi_internal {
namespace {

ULONG BaseType(ULONG type) { return type & ~MV_FLAG; }

// Bytes of one element of a fixed-size type; 0 for the others.
std::size_t FixedSize(ULONG base) {
  switch (base) {
    case PT_I2:
    case PT_BOOLEAN:
      return 2;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
      return 4;
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
      return 8;
    case PT_CLSID:
      return 16;
    default:
      return 0;
  }
}

bool IsKnownSingle(ULONG type) {
  return FixedSize(type) != 0 || type == PT_STRING8 || type == PT_UNICODE || type == PT_BINARY;
}

// The types a property may be stored with.
bool IsStorable(ULONG type) {
  if (type == PT_ERROR) return false;
  if ((type & MV_FLAG) != 0) {
    const ULONG base = BaseType(type);
    return base != PT_BOOLEAN && base != PT_ERROR && IsKnownSingle(base);
  }
  return IsKnownSingle(type);
}

template <typename T>
std::string Bytes(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(T));
}

template <typename T>
T As(std::string_view data) {
  T value{};
  if (data.size() == sizeof(T)) std::memcpy(&value, data.data(), sizeof(T));
  return value;
}

// One element of a single or multi-valued caller's value, by base type and
// the address of the element.
HRESULT ElementFromProp(ULONG base, const void* element, std::string* out) {
  switch (base) {
    case PT_BOOLEAN: {
      const std::uint16_t b = *static_cast<const unsigned short*>(element) != 0 ? 1 : 0;
      *out = Bytes(b);
      return S_OK;
    }
    case PT_STRING8: {
      const char* text = *static_cast<char* const*>(element);
      *out = text != nullptr ? Utf8FromAnsi(text) : std::string();
      return S_OK;
    }
    case PT_UNICODE: {
      const wchar_t* text = *static_cast<wchar_t* const*>(element);
      *out = text != nullptr ? Utf8FromWide(text) : std::string();
      return S_OK;
    }
    case PT_BINARY: {
      const SBinary& bin = *static_cast<const SBinary*>(element);
      if (bin.cb > 0 && bin.lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
      out->assign(reinterpret_cast<const char*>(bin.lpb), bin.cb);
      return S_OK;
    }
    default: {
      const std::size_t size = FixedSize(base);
      out->assign(static_cast<const char*>(element), size);
      return S_OK;
    }
  }
}

// The array of a multi-valued caller's value and the size of its elements.
const void* MultiArray(const SPropValue& prop, std::size_t* elementSize) {
  switch (BaseType(PROP_TYPE(prop.ulPropTag))) {
    case PT_I2: *elementSize = sizeof(short); return prop.Value.MVi.lpi;
    case PT_LONG: *elementSize = sizeof(LONG); return prop.Value.MVl.lpl;
    case PT_R4: *elementSize = sizeof(float); return prop.Value.MVflt.lpflt;
    case PT_DOUBLE: *elementSize = sizeof(double); return prop.Value.MVdbl.lpdbl;
    case PT_CURRENCY: *elementSize = sizeof(CURRENCY); return prop.Value.MVcur.lpcur;
    case PT_APPTIME: *elementSize = sizeof(double); return prop.Value.MVat.lpat;
    case PT_SYSTIME: *elementSize = sizeof(FILETIME); return prop.Value.MVft.lpft;
    case PT_I8: *elementSize = sizeof(LARGE_INTEGER); return prop.Value.MVli.lpli;
    case PT_CLSID: *elementSize = sizeof(GUID); return prop.Value.MVguid.lpguid;
    case PT_STRING8: *elementSize = sizeof(LPSTR); return prop.Value.MVszA.lppszA;
    case PT_UNICODE: *elementSize = sizeof(LPWSTR); return prop.Value.MVszW.lppszW;
    case PT_BINARY: *elementSize = sizeof(SBinary); return prop.Value.MVbin.lpbin;
    default: *elementSize = 0; return nullptr;
  }
}

// A value's integer, for PT_LONG, PT_I2, PT_BOOLEAN, PT_I8 and PT_SYSTIME
// data; 0 for anything else.
std::int64_t IntegerOf(const Value& value) {
  switch (value.type) {
    case PT_LONG: return As<std::int32_t>(value.data);
    case PT_I2: return As<std::int16_t>(value.data);
    case PT_BOOLEAN: return As<std::uint16_t>(value.data);
    case PT_I8: return As<std::int64_t>(value.data);
    case PT_SYSTIME: return static_cast<std::int64_t>(As<std::uint64_t>(value.data));
    default: return 0;
  }
}

int CompareNumbers(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }
template <typename T>
int CompareIntegers(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// Allocation linked to one parent block, failing once memory runs out.
class Linker {
 public:
  explicit Linker(void* parent) : parent_(parent) {}
  void* Get(std::size_t size) {
    void* block = nullptr;
    if (failed_ || MAPIAllocateMore(static_cast<ULONG>(size), parent_, &block) != S_OK) {
      failed_ = true;
      return nullptr;
    }
    return block;
  }
  bool failed() const { return failed_; }

 private:
  void* parent_;
  bool failed_ = false;
};

char* CopyNarrow(Linker& linker, std::string_view utf8) {
  const std::string narrow = AnsiFromUtf8(utf8);
  char* text = static_cast<char*>(linker.Get(narrow.size() + 1));
  if (text != nullptr) std::memcpy(text, narrow.c_str(), narrow.size() + 1);
  return text;
}

wchar_t* CopyWide(Linker& linker, std::string_view utf8) {
  const std::wstring wide = WideFromUtf8(utf8);
  wchar_t* text = static_cast<wchar_t*>(linker.Get((wide.size() + 1) * sizeof(wchar_t)));
  if (text != nullptr) std::wmemcpy(text, wide.c_str(), wide.size() + 1);
  return text;
}

// The type a value is handed back with when `asked` is asked; 0 when it
// does not fit.
ULONG ResultType(ULONG own, ULONG asked, bool unicode) {
  if (asked == PT_UNSPECIFIED) {
    if (own == PT_UNICODE) return unicode ? PT_UNICODE : PT_STRING8;
    if (own == PT_MV_UNICODE) return unicode ? PT_MV_UNICODE : PT_MV_STRING8;
    return own;
  }
  return CanonicalType(asked) == own ? asked : 0;
}

// Byte layout of deep copies (CopyProps, ScDupPropset): each piece starts
// at a multiple of 8 bytes.
std::size_t Round8(std::size_t size) { return (size + 7) / 8 * 8; }

}  // namespace

Value TextValue(std::string utf8) { return Value{PT_UNICODE, std::move(utf8), {}}; }
Value TextListValue(std::vector<std::string> utf8) { return Value{PT_MV_UNICODE, {}, std::move(utf8)}; }
Value LongValue(std::int32_t value) { return Value{PT_LONG, Bytes(value), {}}; }
Value BoolValue(bool value) { return Value{PT_BOOLEAN, Bytes<std::uint16_t>(value ? 1 : 0), {}}; }
Value BinaryValue(std::string bytes) { return Value{PT_BINARY, std::move(bytes), {}}; }
Value TimeValue(std::uint64_t fileTime) { return Value{PT_SYSTIME, Bytes(fileTime), {}}; }


ULONG CanonicalType(ULONG type) {
  if (type == PT_STRING8) return PT_UNICODE;
  if (type == PT_MV_STRING8) return PT_MV_UNICODE;
  return type;
}

HRESULT ValueFromProp(const SPropValue& prop, Value* out) {
  const ULONG type = PROP_TYPE(prop.ulPropTag);
  if (!IsStorable(type)) return MAPI_E_INVALID_TYPE;
  Value value;
  value.type = CanonicalType(type);
  if ((type & MV_FLAG) == 0) {
    if (type == PT_CLSID) {
      if (prop.Value.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
      value.data = Bytes(*prop.Value.lpguid);
    } else {
      const HRESULT hr = ElementFromProp(type, &prop.Value, &value.data);
      if (FAILED(hr)) return hr;
    }
  } else {
    std::size_t elementSize = 0;
    const auto* array = static_cast<const char*>(MultiArray(prop, &elementSize));
    const ULONG count = prop.Value.MVi.cValues;  // every multi-valued form starts with its count
    if (count > 0 && array == nullptr) return MAPI_E_INVALID_PARAMETER;
    value.items.resize(count);
    for (ULONG i = 0; i < count; ++i) {
      const HRESULT hr = ElementFromProp(BaseType(type), array + i * elementSize, &value.items[i]);
      if (FAILED(hr)) return hr;
    }
  }
  *out = std::move(value);
  return S_OK;
}

std::size_t DataSize(const Value& value) {
  if ((value.type & MV_FLAG) == 0) return value.data.size();
  std::size_t size = 0;
  for (const std::string& item : value.items) size += item.size();
  return size;
}

std::string EncodeForStorage(const Value& value) {
  if ((value.type & MV_FLAG) == 0) return value.data;
  std::string out = Bytes(static_cast<std::uint32_t>(value.items.size()));
  for (const std::string& item : value.items) {
    out += Bytes(static_cast<std::uint32_t>(item.size()));
    out += item;
  }
  return out;
}

bool DecodeFromStorage(ULONG type, std::string_view bytes, Value* out) {
  if (!IsStorable(type) || CanonicalType(type) != type) return false;
  Value value;
  value.type = type;
  const std::size_t fixed = FixedSize(BaseType(type));
  if ((type & MV_FLAG) == 0) {
    if (fixed != 0 && bytes.size() != fixed) return false;
    value.data = std::string(bytes);
  } else {
    if (bytes.size() < 4) return false;
    std::uint32_t count = As<std::uint32_t>(bytes.substr(0, 4));
    bytes.remove_prefix(4);
    if (count > bytes.size() / 4) return false;
    value.items.reserve(count);
    for (; count > 0; --count) {
      if (bytes.size() < 4) return false;
      const std::uint32_t size = As<std::uint32_t>(bytes.substr(0, 4));
      bytes.remove_prefix(4);
      if (size > bytes.size() || (fixed != 0 && size != fixed)) return false;
      value.items.emplace_back(bytes.substr(0, size));
      bytes.remove_prefix(size);
    }
    if (!bytes.empty()) return false;
  }
  *out = std::move(value);
  return true;
}

bool CompareValues(const Value& a, const Value& b, int* order) {
  if (a.type != b.type || (a.type & MV_FLAG) != 0) return false;
  switch (a.type) {
    case PT_I2:
    case PT_LONG:
    case PT_BOOLEAN:
    case PT_I8:
      *order = CompareIntegers(IntegerOf(a), IntegerOf(b));
      return true;
    case PT_SYSTIME:
      *order = CompareIntegers(As<std::uint64_t>(a.data), As<std::uint64_t>(b.data));
      return true;
    case PT_CURRENCY:
      *order = CompareIntegers(As<std::int64_t>(a.data), As<std::int64_t>(b.data));
      return true;
    case PT_R4:
      *order = CompareNumbers(As<float>(a.data), As<float>(b.data));
      return true;
    case PT_DOUBLE:
    case PT_APPTIME:
      *order = CompareNumbers(As<double>(a.data), As<double>(b.data));
      return true;
    case PT_UNICODE: {
      const int c = FoldedKey(a.data).compare(FoldedKey(b.data));
      *order = c < 0 ? -1 : (c > 0 ? 1 : 0);
      return true;
    }
    case PT_BINARY:
    case PT_CLSID: {
      const int c = a.data.compare(b.data);
      *order = c < 0 ? -1 : (c > 0 ? 1 : 0);
      return true;
    }
    default:
      return false;
  }
}

HRESULT FillProp(const Value* value, ULONG tag, bool unicode, bool limitSize, void* parent,
                 SPropValue* out) {
  std::memset(out, 0, sizeof(*out));
  const ULONG type = value != nullptr ? ResultType(value->type, PROP_TYPE(tag), unicode) : 0;
  if (type == 0) {
    out->ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
    out->Value.err = MAPI_E_NOT_FOUND;
    return S_OK;
  }
  if (limitSize && DataSize(*value) > kMapiLargeValueBytes) {
    out->ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
    out->Value.err = MAPI_E_NOT_ENOUGH_MEMORY;
    return S_OK;
  }
  Linker linker(parent);
  out->ulPropTag = PROP_TAG(type, PROP_ID(tag));
  if ((type & MV_FLAG) == 0) {
    switch (type) {
      case PT_STRING8:
        out->Value.lpszA = CopyNarrow(linker, value->data);
        break;
      case PT_UNICODE:
        out->Value.lpszW = CopyWide(linker, value->data);
        break;
      case PT_BINARY: {
        out->Value.bin.cb = static_cast<ULONG>(value->data.size());
        auto* bytes = static_cast<BYTE*>(linker.Get(value->data.size()));
        if (bytes != nullptr) std::memcpy(bytes, value->data.data(), value->data.size());
        out->Value.bin.lpb = bytes;
        break;
      }
      case PT_CLSID: {
        auto* guid = static_cast<GUID*>(linker.Get(sizeof(GUID)));
        if (guid != nullptr) std::memcpy(guid, value->data.data(), sizeof(GUID));
        out->Value.lpguid = guid;
        break;
      }
      default:
        std::memcpy(&out->Value, value->data.data(), value->data.size());
        break;
    }
  } else {
    const ULONG count = static_cast<ULONG>(value->items.size());
    const ULONG base = BaseType(type);
    out->Value.MVi.cValues = count;
    if (base == PT_STRING8 || base == PT_UNICODE) {
      void** texts = static_cast<void**>(linker.Get(count * sizeof(void*)));
      for (ULONG i = 0; texts != nullptr && i < count; ++i) {
        texts[i] = base == PT_STRING8 ? static_cast<void*>(CopyNarrow(linker, value->items[i]))
                                      : static_cast<void*>(CopyWide(linker, value->items[i]));
      }
      out->Value.MVszA.lppszA = reinterpret_cast<LPSTR*>(texts);
    } else if (base == PT_BINARY) {
      auto* bins = static_cast<SBinary*>(linker.Get(count * sizeof(SBinary)));
      for (ULONG i = 0; bins != nullptr && i < count; ++i) {
        const std::string& item = value->items[i];
        bins[i].cb = static_cast<ULONG>(item.size());
        bins[i].lpb = static_cast<BYTE*>(linker.Get(item.size()));
        if (bins[i].lpb != nullptr) std::memcpy(bins[i].lpb, item.data(), item.size());
      }
      out->Value.MVbin.lpbin = bins;
    } else {
      const std::size_t size = FixedSize(base);
      auto* array = static_cast<char*>(linker.Get(count * size));
      for (ULONG i = 0; array != nullptr && i < count; ++i) {
        std::memcpy(array + i * size, value->items[i].data(), size);
      }
      out->Value.MVi.lpi = reinterpret_cast<short*>(array);  // every array member shares this place
    }
  }
  return linker.failed() ? MAPI_E_NOT_ENOUGH_MEMORY : S_OK;
}

HRESULT BuildPropArray(const PropertyBag& bag, const SPropTagArray* tags, bool unicode,
                       bool limitSize, ULONG* count, LPSPropValue* values, bool* errors) {
  *count = 0;
  *values = nullptr;
  *errors = false;
  std::vector<ULONG> asked;
  if (tags != nullptr) {
    asked.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
  } else {
    for (const auto& [id, value] : bag) asked.push_back(PROP_TAG(PT_UNSPECIFIED, id));
  }
  const std::size_t bytes = std::max<std::size_t>(1, asked.size()) * sizeof(SPropValue);
  void* block = nullptr;
  if (bytes > 0xFFFFFFFFu || MAPIAllocateBuffer(static_cast<ULONG>(bytes), &block) != S_OK) {
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
  auto* array = static_cast<SPropValue*>(block);
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const auto found = bag.find(PROP_ID(asked[i]));
    const HRESULT hr = FillProp(found != bag.end() ? &found->second : nullptr, asked[i], unicode,
                                limitSize, block, &array[i]);
    if (FAILED(hr)) {
      MAPIFreeBuffer(block);
      return hr;
    }
    if (PROP_TYPE(array[i].ulPropTag) == PT_ERROR) *errors = true;
  }
  *count = static_cast<ULONG>(asked.size());
  *values = array;
  return S_OK;
}

namespace {

// The bytes a deep copy of `prop` needs beyond the SPropValue itself.
std::size_t CopySize(const SPropValue& prop) {
  const ULONG type = PROP_TYPE(prop.ulPropTag);
  switch (type) {
    case PT_STRING8:
      return prop.Value.lpszA != nullptr ? Round8(std::strlen(prop.Value.lpszA) + 1) : 0;
    case PT_UNICODE:
      return prop.Value.lpszW != nullptr
                 ? Round8((std::wcslen(prop.Value.lpszW) + 1) * sizeof(wchar_t))
                 : 0;
    case PT_BINARY:
      return prop.Value.bin.lpb != nullptr ? Round8(prop.Value.bin.cb) : 0;
    case PT_CLSID:
      return prop.Value.lpguid != nullptr ? Round8(sizeof(GUID)) : 0;
    default:
      break;
  }
  if ((type & MV_FLAG) == 0) return 0;
  std::size_t elementSize = 0;
  const auto* array = static_cast<const char*>(MultiArray(prop, &elementSize));
  const ULONG count = prop.Value.MVi.cValues;
  if (array == nullptr || elementSize == 0) return 0;
  std::size_t size = Round8(count * elementSize);
  for (ULONG i = 0; i < count; ++i) {
    SPropValue element{};
    element.ulPropTag = PROP_TAG(BaseType(type), 0);
    std::memcpy(&element.Value, array + i * elementSize, elementSize);
    size += CopySize(element);
  }
  return size;
}

// Copies what `prop` points to into `arena`; returns the bytes used.
std::size_t CopyInto(const SPropValue& prop, SPropValue* out, char* arena) {
  *out = prop;
  const ULONG type = PROP_TYPE(prop.ulPropTag);
  std::size_t used = 0;
  auto take = [&](const void* source, std::size_t size) -> void* {
    void* at = arena + used;
    std::memcpy(at, source, size);
    used += Round8(size);
    return at;
  };
  switch (type) {
    case PT_STRING8:
      if (prop.Value.lpszA != nullptr) {
        out->Value.lpszA = static_cast<char*>(take(prop.Value.lpszA, std::strlen(prop.Value.lpszA) + 1));
      }
      return used;
    case PT_UNICODE:
      if (prop.Value.lpszW != nullptr) {
        out->Value.lpszW = static_cast<wchar_t*>(
            take(prop.Value.lpszW, (std::wcslen(prop.Value.lpszW) + 1) * sizeof(wchar_t)));
      }
      return used;
    case PT_BINARY:
      if (prop.Value.bin.lpb != nullptr) {
        out->Value.bin.lpb = static_cast<BYTE*>(take(prop.Value.bin.lpb, prop.Value.bin.cb));
      }
      return used;
    case PT_CLSID:
      if (prop.Value.lpguid != nullptr) {
        out->Value.lpguid = static_cast<GUID*>(take(prop.Value.lpguid, sizeof(GUID)));
      }
      return used;
    default:
      break;
  }
  if ((type & MV_FLAG) == 0) return used;
  std::size_t elementSize = 0;
  const auto* array = static_cast<const char*>(MultiArray(prop, &elementSize));
  if (array == nullptr || elementSize == 0) return used;
  const ULONG count = prop.Value.MVi.cValues;
  char* copy = static_cast<char*>(take(array, count * elementSize));
  out->Value.MVi.lpi = reinterpret_cast<short*>(copy);
  for (ULONG i = 0; i < count; ++i) {
    SPropValue element{};
    element.ulPropTag = PROP_TAG(BaseType(type), 0);
    std::memcpy(&element.Value, copy + i * elementSize, elementSize);
    SPropValue copied{};
    used += CopyInto(element, &copied, arena + used);
    std::memcpy(copy + i * elementSize, &copied.Value, elementSize);
  }
  return used;
}

}  // namespace

HRESULT CopyProps(const SPropValue* source, ULONG count, void* parent, SPropValue* out) {
  std::size_t size = 0;
  for (ULONG i = 0; i < count; ++i) size += CopySize(source[i]);
  char* arena = nullptr;
  if (size > 0) {
    if (size > 0xFFFFFFFFu) return MAPI_E_NOT_ENOUGH_MEMORY;
    void* block = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(size), parent, &block) != S_OK) {
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    arena = static_cast<char*>(block);
  }
  std::size_t used = 0;
  for (ULONG i = 0; i < count; ++i) used += CopyInto(source[i], &out[i], arena + used);
  return S_OK;
}

}  // namespace mapi_internal

SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray) {
  if (lppPropArray == nullptr || lpAllocateBuffer == nullptr || cValues < 0 ||
      (cValues > 0 && lpPropArray == nullptr)) {
    return MAPI_E_INVALID_PARAMETER;
  }
  *lppPropArray = nullptr;
  std::size_t size = mapi_internal::Round8(static_cast<std::size_t>(cValues) * sizeof(SPropValue));
  const std::size_t valuesSize = size;
  for (int i = 0; i < cValues; ++i) size += mapi_internal::CopySize(lpPropArray[i]);
  if (size > 0xFFFFFFFFu) return MAPI_E_NOT_ENOUGH_MEMORY;
  void* block = nullptr;
  const SCODE sc = lpAllocateBuffer(static_cast<ULONG>(std::max<std::size_t>(size, 1)), &block);
  if (sc != S_OK) return sc;
  auto* values = static_cast<SPropValue*>(block);
  char* arena = static_cast<char*>(block) + valuesSize;
  std::size_t used = 0;
  for (int i = 0; i < cValues; ++i) {
    used += mapi_internal::CopyInto(lpPropArray[i], &values[i], arena + used);
  }
  *lppPropArray = values;
  return S_OK;
}
