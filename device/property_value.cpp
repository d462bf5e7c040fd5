#include "device/property_value.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "foundation/secure_wipe.h"

namespace {

// The element size of a multi-valued type of fixed-size elements; 0 for
// every other type.
std::size_t FixedElementSize(ULONG type) {
  switch (type) {
    case PT_MV_I2:
      return sizeof(short);
    case PT_MV_LONG:
    case PT_MV_R4:
      return 4;
    case PT_MV_DOUBLE:
    case PT_MV_CURRENCY:
    case PT_MV_APPTIME:
    case PT_MV_I8:
    case PT_MV_SYSTIME:
      return 8;
    case PT_MV_CLSID:
      return sizeof(GUID);
    default:
      return 0;
  }
}

// The array of a multi-valued value of fixed-size elements. The count is
// the first member of every array form, so MVi.cValues reads it for all.
void* FixedArray(const SPropValue& value) {
  switch (PROP_TYPE(value.ulPropTag)) {
    case PT_MV_I2:
      return value.Value.MVi.lpi;
    case PT_MV_LONG:
      return value.Value.MVl.lpl;
    case PT_MV_R4:
      return value.Value.MVflt.lpflt;
    case PT_MV_DOUBLE:
      return value.Value.MVdbl.lpdbl;
    case PT_MV_CURRENCY:
      return value.Value.MVcur.lpcur;
    case PT_MV_APPTIME:
      return value.Value.MVat.lpat;
    case PT_MV_I8:
      return value.Value.MVli.lpli;
    case PT_MV_SYSTIME:
      return value.Value.MVft.lpft;
    case PT_MV_CLSID:
      return value.Value.MVguid.lpguid;
    default:
      return nullptr;
  }
}

void SetFixedArray(SPropValue* value, ULONG count, void* array) {
  switch (PROP_TYPE(value->ulPropTag)) {
    case PT_MV_I2:
      value->Value.MVi = {count, static_cast<short*>(array)};
      break;
    case PT_MV_LONG:
      value->Value.MVl = {count, static_cast<LONG*>(array)};
      break;
    case PT_MV_R4:
      value->Value.MVflt = {count, static_cast<float*>(array)};
      break;
    case PT_MV_DOUBLE:
      value->Value.MVdbl = {count, static_cast<double*>(array)};
      break;
    case PT_MV_CURRENCY:
      value->Value.MVcur = {count, static_cast<CURRENCY*>(array)};
      break;
    case PT_MV_APPTIME:
      value->Value.MVat = {count, static_cast<double*>(array)};
      break;
    case PT_MV_I8:
      value->Value.MVli = {count, static_cast<LARGE_INTEGER*>(array)};
      break;
    case PT_MV_SYSTIME:
      value->Value.MVft = {count, static_cast<FILETIME*>(array)};
      break;
    case PT_MV_CLSID:
      value->Value.MVguid = {count, static_cast<GUID*>(array)};
      break;
    default:
      break;
  }
}

// A heap copy of `bytes` bytes; null when memory runs out.
void* CopyBlock(const void* bytes, std::size_t size) {
  void* copy = std::malloc(size);
  if (copy != nullptr) std::memcpy(copy, bytes, size);
  return copy;
}

// Text copies with their terminator. A null text copies as null and counts
// as success (*ok stays true).
template <typename Char>
Char* CopyText(const Char* text, bool* ok) {
  if (text == nullptr) return nullptr;
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  auto* copy = static_cast<Char*>(CopyBlock(text, (length + 1) * sizeof(Char)));
  if (copy == nullptr) *ok = false;
  return copy;
}

template <typename Char>
bool TextEquals(const Char* a, const Char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  for (;; ++a, ++b) {
    if (*a != *b) return false;
    if (*a == 0) return true;
  }
}

template <typename Char>
std::uint64_t TextLength(const Char* text) {
  std::uint64_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  return length;
}

template <typename Char>
void FreeTextArray(Char** texts, ULONG count) {
  if (texts == nullptr) return;
  for (ULONG i = 0; i < count; ++i) std::free(texts[i]);
  std::free(texts);
}

// Copies an array of `count` texts; the copy is (0, null) for an empty or
// missing array.
template <typename Char>
bool CopyTextArray(Char* const* texts, ULONG count, ULONG* outCount, Char*** out) {
  *outCount = 0;
  *out = nullptr;
  if (count == 0 || texts == nullptr) return true;
  auto** copy = static_cast<Char**>(std::calloc(count, sizeof(Char*)));
  if (copy == nullptr) return false;
  bool ok = true;
  for (ULONG i = 0; i < count && ok; ++i) copy[i] = CopyText(texts[i], &ok);
  if (!ok) {
    FreeTextArray(copy, count);
    return false;
  }
  *outCount = count;
  *out = copy;
  return true;
}

template <typename Char>
bool TextArrayEquals(ULONG countA, Char* const* a, ULONG countB, Char* const* b) {
  if (countA != countB || countA == 0 || a == nullptr || b == nullptr) return false;
  for (ULONG i = 0; i < countA; ++i) {
    if (!TextEquals(a[i], b[i])) return false;
  }
  return true;
}

void FreeBinaryArray(SBinary* blocks, ULONG count) {
  if (blocks == nullptr) return;
  for (ULONG i = 0; i < count; ++i) {
    SecureWipe(blocks[i].lpb, blocks[i].cb);
    std::free(blocks[i].lpb);
  }
  std::free(blocks);
}

// The copy of `source`'s data into `copy` (whose tag is already set).
bool CopyData(const SPropValue& source, SPropValue* copy) {
  const ULONG type = PROP_TYPE(source.ulPropTag);
  bool ok = true;
  switch (type) {
    case PT_STRING8:
      copy->Value.lpszA = CopyText(source.Value.lpszA, &ok);
      return ok;
    case PT_UNICODE:
      copy->Value.lpszW = CopyText(source.Value.lpszW, &ok);
      return ok;
    case PT_CLSID:
      if (source.Value.lpguid == nullptr) return true;
      copy->Value.lpguid = static_cast<GUID*>(CopyBlock(source.Value.lpguid, sizeof(GUID)));
      return copy->Value.lpguid != nullptr;
    case PT_BINARY:
      if (source.Value.bin.cb == 0 || source.Value.bin.lpb == nullptr) return true;
      copy->Value.bin.lpb = static_cast<LPBYTE>(CopyBlock(source.Value.bin.lpb, source.Value.bin.cb));
      if (copy->Value.bin.lpb == nullptr) return false;
      copy->Value.bin.cb = source.Value.bin.cb;
      return true;
    case PT_MV_STRING8:
      return CopyTextArray(source.Value.MVszA.lppszA, source.Value.MVszA.cValues, &copy->Value.MVszA.cValues,
                           &copy->Value.MVszA.lppszA);
    case PT_MV_UNICODE:
      return CopyTextArray(source.Value.MVszW.lppszW, source.Value.MVszW.cValues, &copy->Value.MVszW.cValues,
                           &copy->Value.MVszW.lppszW);
    case PT_MV_BINARY: {
      const ULONG count = source.Value.MVbin.cValues;
      if (count == 0 || source.Value.MVbin.lpbin == nullptr) return true;
      auto* blocks = static_cast<SBinary*>(std::calloc(count, sizeof(SBinary)));
      if (blocks == nullptr) return false;
      for (ULONG i = 0; i < count; ++i) {
        const SBinary& element = source.Value.MVbin.lpbin[i];
        if (element.cb == 0 || element.lpb == nullptr) continue;
        blocks[i].lpb = static_cast<LPBYTE>(CopyBlock(element.lpb, element.cb));
        if (blocks[i].lpb == nullptr) {
          FreeBinaryArray(blocks, count);
          return false;
        }
        blocks[i].cb = element.cb;
      }
      copy->Value.MVbin = {count, blocks};
      return true;
    }
    default:
      break;
  }
  if (const std::size_t size = FixedElementSize(type); size != 0) {
    const ULONG count = source.Value.MVi.cValues;
    const void* array = FixedArray(source);
    if (count == 0 || array == nullptr) return true;
    void* arrayCopy = CopyBlock(array, count * size);
    if (arrayCopy == nullptr) return false;
    SetFixedArray(copy, count, arrayCopy);
    return true;
  }
  copy->Value = source.Value;
  return true;
}

}  // namespace

void PropValueFree(SPropValue* value) {
  if (value == nullptr) return;
  const ULONG type = PROP_TYPE(value->ulPropTag);
  switch (type) {
    case PT_STRING8:
      std::free(value->Value.lpszA);
      break;
    case PT_UNICODE:
      std::free(value->Value.lpszW);
      break;
    case PT_CLSID:
      std::free(value->Value.lpguid);
      break;
    case PT_BINARY:
      // Binary values carry the device's keys: wiped before they go.
      SecureWipe(value->Value.bin.lpb, value->Value.bin.cb);
      std::free(value->Value.bin.lpb);
      break;
    case PT_MV_STRING8:
      FreeTextArray(value->Value.MVszA.lppszA, value->Value.MVszA.cValues);
      break;
    case PT_MV_UNICODE:
      FreeTextArray(value->Value.MVszW.lppszW, value->Value.MVszW.cValues);
      break;
    case PT_MV_BINARY:
      FreeBinaryArray(value->Value.MVbin.lpbin, value->Value.MVbin.cValues);
      break;
    default:
      if (FixedElementSize(type) != 0) std::free(FixedArray(*value));
      break;
  }
  *value = SPropValue{};
}

bool PropValueCopy(SPropValue* destination, const SPropValue& source) {
  if (destination == nullptr) return false;
  SPropValue copy{};
  copy.ulPropTag = source.ulPropTag;
  if (!CopyData(source, &copy)) return false;
  PropValueFree(destination);
  *destination = copy;
  return true;
}

bool PropValueEquals(const SPropValue& a, const SPropValue& b) {
  if (a.ulPropTag != b.ulPropTag) return false;
  const ULONG type = PROP_TYPE(a.ulPropTag);
  switch (type) {
    case PT_I2:
      return a.Value.i == b.Value.i;
    case PT_BOOLEAN:
      return a.Value.b == b.Value.b;
    case PT_LONG:
      return a.Value.l == b.Value.l;
    case PT_R4:
      return a.Value.flt == b.Value.flt;
    case PT_DOUBLE:
      return a.Value.dbl == b.Value.dbl;
    case PT_APPTIME:
      return a.Value.at == b.Value.at;
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
      return a.Value.li.QuadPart == b.Value.li.QuadPart;
    case PT_STRING8:
      return TextEquals(a.Value.lpszA, b.Value.lpszA);
    case PT_UNICODE:
      return TextEquals(a.Value.lpszW, b.Value.lpszW);
    case PT_CLSID:
      if (a.Value.lpguid == nullptr || b.Value.lpguid == nullptr) return a.Value.lpguid == b.Value.lpguid;
      return std::memcmp(a.Value.lpguid, b.Value.lpguid, sizeof(GUID)) == 0;
    case PT_BINARY:
      if (a.Value.bin.cb != b.Value.bin.cb) return false;
      // Two empty blocks are equal whether or not either points anywhere.
      if (a.Value.bin.cb == 0) return true;
      if (a.Value.bin.lpb == nullptr || b.Value.bin.lpb == nullptr) return a.Value.bin.lpb == b.Value.bin.lpb;
      return std::memcmp(a.Value.bin.lpb, b.Value.bin.lpb, a.Value.bin.cb) == 0;
    case PT_MV_STRING8:
      return TextArrayEquals(a.Value.MVszA.cValues, a.Value.MVszA.lppszA, b.Value.MVszA.cValues,
                             b.Value.MVszA.lppszA);
    case PT_MV_UNICODE:
      return TextArrayEquals(a.Value.MVszW.cValues, a.Value.MVszW.lppszW, b.Value.MVszW.cValues,
                             b.Value.MVszW.lppszW);
    case PT_MV_BINARY: {
      const ULONG count = a.Value.MVbin.cValues;
      if (count != b.Value.MVbin.cValues || count == 0 || a.Value.MVbin.lpbin == nullptr ||
          b.Value.MVbin.lpbin == nullptr) {
        return false;
      }
      for (ULONG i = 0; i < count; ++i) {
        const SBinary& x = a.Value.MVbin.lpbin[i];
        const SBinary& y = b.Value.MVbin.lpbin[i];
        if (x.cb != y.cb || x.lpb == nullptr || y.lpb == nullptr || std::memcmp(x.lpb, y.lpb, x.cb) != 0) {
          return false;
        }
      }
      return true;
    }
    default:
      break;
  }
  if (const std::size_t size = FixedElementSize(type); size != 0) {
    const ULONG count = a.Value.MVi.cValues;
    if (count != b.Value.MVi.cValues) return false;
    if (count == 0) return true;
    const void* x = FixedArray(a);
    const void* y = FixedArray(b);
    if (x == nullptr || y == nullptr) return x == y;
    return std::memcmp(x, y, count * size) == 0;
  }
  return false;
}

std::uint64_t PropValueDataSize(const SPropValue& value) {
  const ULONG type = PROP_TYPE(value.ulPropTag);
  switch (type) {
    case PT_I2:
    case PT_BOOLEAN:
      return 2;
    case PT_LONG:
    case PT_R4:
      return 4;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
      return 8;
    case PT_STRING8:
      return TextLength(value.Value.lpszA);
    case PT_UNICODE:
      return TextLength(value.Value.lpszW) * sizeof(wchar_t);
    case PT_CLSID:
      return value.Value.lpguid != nullptr ? sizeof(GUID) : 0;
    case PT_BINARY:
      return value.Value.bin.lpb != nullptr ? value.Value.bin.cb : 0;
    case PT_MV_STRING8: {
      std::uint64_t size = 0;
      if (value.Value.MVszA.lppszA == nullptr) return 0;
      for (ULONG i = 0; i < value.Value.MVszA.cValues; ++i) size += TextLength(value.Value.MVszA.lppszA[i]);
      return size;
    }
    case PT_MV_UNICODE: {
      std::uint64_t size = 0;
      if (value.Value.MVszW.lppszW == nullptr) return 0;
      for (ULONG i = 0; i < value.Value.MVszW.cValues; ++i) {
        size += TextLength(value.Value.MVszW.lppszW[i]) * sizeof(wchar_t);
      }
      return size;
    }
    case PT_MV_BINARY: {
      std::uint64_t size = 0;
      if (value.Value.MVbin.lpbin == nullptr) return 0;
      for (ULONG i = 0; i < value.Value.MVbin.cValues; ++i) size += value.Value.MVbin.lpbin[i].cb;
      return size;
    }
    default:
      break;
  }
  const std::size_t size = FixedElementSize(type);
  if (size == 0 || FixedArray(value) == nullptr) return 0;
  return static_cast<std::uint64_t>(value.Value.MVi.cValues) * size;
}

bool ReadPropertyStream(SPropValue* value, ULONG tag, IStream* stream, std::uint64_t size) {
  if (value == nullptr || stream == nullptr || size >= 0xFFFFFFFFu) return false;
  const ULONG type = PROP_TYPE(tag);
  std::size_t room = 0;
  switch (type) {
    case PT_STRING8:
      room = size + 1;
      break;
    case PT_UNICODE:
      // Room for a partial last unit and a whole terminator.
      room = (size / sizeof(wchar_t) + 2) * sizeof(wchar_t);
      break;
    case PT_BINARY:
      room = size;
      break;
    default:
      return false;
  }
  void* buffer = std::calloc(room == 0 ? 1 : room, 1);
  if (buffer == nullptr) return false;
  ULONG read = 0;
  const HRESULT hr = stream->Read(buffer, static_cast<ULONG>(size), &read);
  if (FAILED(hr) || read != size) {
    SecureWipe(buffer, room);
    std::free(buffer);
    return false;
  }
  if (type == PT_UNICODE) {
    // A partial last unit is dropped, so the text always ends in a whole 0.
    const std::size_t whole = size - size % sizeof(wchar_t);
    std::memset(static_cast<char*>(buffer) + whole, 0, room - whole);
  }
  PropValueFree(value);
  value->ulPropTag = tag;
  if (type == PT_STRING8) {
    value->Value.lpszA = static_cast<char*>(buffer);
  } else if (type == PT_UNICODE) {
    value->Value.lpszW = static_cast<wchar_t*>(buffer);
  } else {
    value->Value.bin = {static_cast<ULONG>(size), static_cast<LPBYTE>(buffer)};
  }
  return true;
}
