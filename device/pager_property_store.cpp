#include "device/pager_property_store.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "device/property_value.h"
#include "foundation/time_convert.h"

namespace {

constexpr int kSaveTries = 10;

SizedSPropTagArray(102, kConfigTags) = {
    102,
    {0x6001001E, 0x60020102, 0x60030102, 0x60040102, 0x60050102, 0x60060003, 0x60070003, 0x60080003, 0x6009001E,
     0x600A0003, 0x600B0003, 0x600C001E, 0x600D0003, 0x60100102, 0x60110003, 0x60120003, 0x60130003, 0x60140003,
     0x6015001E, 0x6016001E, 0x60170003, 0x60180003, 0x60190003, 0x601A001E, 0x601B001E, 0x601C001E, 0x601D001E,
     0x601D001F, 0x601E0003, 0x601F0003, 0x60200003, 0x60210003, 0x60220003, 0x60230003, 0x60240003, 0x60250040,
     0x60260003, 0x60270040, 0x60280040, 0x6029001E, 0x602A001E, 0x602B0102, 0x602C0003, 0x602D0003, 0x602E0003,
     0x60300102, 0x60310102, 0x60320102, 0x60330102, 0x60340102, 0x60350102, 0x60370102, 0x60380003, 0x60390003,
     0x603A0003, 0x603B0102, 0x603C0102, 0x603D0102, 0x603E0003, 0x603F0003, 0x60400003, 0x6041001E, 0x60420003,
     0x60430003, 0x60440003, 0x60450040, 0x60500102, 0x60510003, 0x60520003, 0x60530003, 0x60550102, 0x60560102,
     0x60570102, 0x60580102, 0x60590003, 0x60600102, 0x60610102, 0x60620102, 0x60630102, 0x60640102, 0x60650102,
     0x60660102, 0x60670102, 0x60700003, 0x60800003, 0x60810102, 0x6082001E, 0x6083001E, 0x6084001E, 0x60850003,
     0x6086001E, 0x60710040, 0x60900102, 0x60910102, 0x60920102, 0x60930003, 0x6094001E, 0x6095101E, 0x60870003,
     0x6046001F, 0x6097101E, 0x6098101E}};

SizedSPropTagArray(11, kStatsTags) = {11,
                                      {0x60010040, 0x60020040, 0x60030003, 0x60040003, 0x60050003, 0x60060003,
                                       0x60070003, 0x60080003, 0x60090003, 0x600A0003, 0x600B0003}};

bool IsMultiValued(ULONG tag) { return (PROP_TYPE(tag) & MV_FLAG) != 0; }

// A new SPropTagArray holding the tags of `tags` that `keep` accepts, in
// order; null when memory runs out.
template <class Keep>
SPropTagArray* CopyTags(const SPropTagArray& tags, Keep keep) {
  auto* copy = static_cast<SPropTagArray*>(std::malloc(CbNewSPropTagArray(tags.cValues)));
  if (copy == nullptr) return nullptr;
  copy->cValues = 0;
  for (ULONG i = 0; i < tags.cValues; ++i) {
    if (keep(tags.aulPropTag[i])) copy->aulPropTag[copy->cValues++] = tags.aulPropTag[i];
  }
  return copy;
}

void FreeValues(SPropValue* values, ULONG count) {
  if (values == nullptr) return;
  for (ULONG i = 0; i < count; ++i) PropValueFree(&values[i]);
  std::free(values);
}

// Owns an array of store values until it is handed on.
class ValueArray {
 public:
  explicit ValueArray(ULONG count)
      : values_(static_cast<SPropValue*>(std::calloc(count == 0 ? 1 : count, sizeof(SPropValue)))),
        count_(count) {}
  ~ValueArray() { FreeValues(values_, count_); }
  ValueArray(const ValueArray&) = delete;
  ValueArray& operator=(const ValueArray&) = delete;

  SPropValue* get() const { return values_; }
  SPropValue& operator[](ULONG i) const { return values_[i]; }
  SPropValue* release() {
    SPropValue* values = values_;
    values_ = nullptr;
    return values;
  }

 private:
  SPropValue* values_;
  ULONG count_;
};

struct BufferFree {
  void operator()(void* buffer) const { MAPIFreeBuffer(buffer); }
};
using MapiValues = std::unique_ptr<SPropValue, BufferFree>;

}  // namespace

const SPropTagArray* HandheldConfigTags() { return reinterpret_cast<const SPropTagArray*>(&kConfigTags); }
const SPropTagArray* HandheldStatsTags() { return reinterpret_cast<const SPropTagArray*>(&kStatsTags); }

void PagerPropertyStore::FreeDeleter::operator()(void* block) const { std::free(block); }

PagerPropertyStore::~PagerPropertyStore() { Clear(); }

bool PagerPropertyStore::Attach(IMAPIFolder* folder, const BYTE* entryId, ULONG entryIdSize,
                                const SPropTagArray* tags) {
  ScopedLock values(&valueLock_);
  ScopedLock message(&messageLock_);
  try {
    // A new binding starts from nothing: no values or changes of the old one.
    ClearHeld(true);
    if (folder == nullptr || entryId == nullptr || entryIdSize == 0 || tags == nullptr) return false;
    folder_ = folder;
    entryId_.assign(entryId, entryId + entryIdSize);
    tags_.reset(CopyTags(*tags, [](ULONG) { return true; }));
    singleValuedTags_.reset(CopyTags(*tags, [](ULONG tag) { return !IsMultiValued(tag); }));
    tagMap_.clear();
    if (tags_ == nullptr || singleValuedTags_ == nullptr) {
      ClearHeld(true);
      return false;
    }
    for (ULONG i = 0; i < tags_->cValues; ++i) tagMap_.emplace(tags_->aulPropTag[i], i);
    if (FAILED(Load())) {
      ClearHeld(true);
      return false;
    }
    return true;
  } catch (...) {
    ClearHeld(true);
    return false;
  }
}

HRESULT PagerPropertyStore::Load() {
  ULONG count = 0;
  SPropValue* loaded = nullptr;
  {
    ScopedLock message(&messageLock_);
    try {
      if (!folder_ || tags_ == nullptr) return E_FAIL;
      HRESULT hr = OpenMessage();
      if (FAILED(hr)) return hr;
      count = tags_->cValues;
      ValueArray fresh(count);
      if (fresh.get() == nullptr) return E_FAIL;
      hr = ReadValues(fresh.get());
      if (FAILED(hr)) return hr;
      loaded = fresh.release();
    } catch (...) {
      return E_FAIL;
    }
  }
  ScopedLock values(&valueLock_);
  try {
    for (ULONG i = 0; i < count; ++i) {
      // An error value reads as not found.
      if (PROP_TYPE(loaded[i].ulPropTag) == PT_ERROR) loaded[i] = SPropValue{PR_NULL, 0, {}};
    }
    // Writes not yet saved survive the reload, whether or not the message
    // holds their property yet, so the changed set still names exactly the
    // values the next save writes.
    for (auto it = changed_.begin(); it != changed_.end();) {
      const ULONG i = *it;
      if (i < count && i < valueCount_ && values_[i].ulPropTag == tags_->aulPropTag[i]) {
        if (!PropValueCopy(&loaded[i], values_[i])) {
          FreeValues(loaded, count);
          return E_FAIL;
        }
        ++it;
      } else {
        it = changed_.erase(it);
      }
    }
    FreeValues(values_, valueCount_);
    values_ = loaded;
    valueCount_ = count;
    return S_OK;
  } catch (...) {
    FreeValues(loaded, count);
    return E_FAIL;
  }
}

HRESULT PagerPropertyStore::OpenMessage() {
  message_ = nullptr;
  ULONG type = 0;
  IUnknown* object = nullptr;
  const HRESULT hr = folder_->OpenEntry(static_cast<ULONG>(entryId_.size()),
                                        reinterpret_cast<LPENTRYID>(entryId_.data()), nullptr, MAPI_MODIFY, &type,
                                        &object);
  if (FAILED(hr)) {
    RecordLastError(folder_.GetInterfacePtr(), hr);
    return hr;
  }
  if (object == nullptr || type != MAPI_MESSAGE) {
    UlRelease(object);
    return MAPI_E_INVALID_ENTRYID;
  }
  message_.Attach(static_cast<IMessage*>(object));
  return S_OK;
}

// Fills `values` (zeroed, one per tag) from the message: one bulk read,
// falling back to the single-valued tags when the bulk read runs out of
// memory, then single reads and streams for what did not come back.
HRESULT PagerPropertyStore::ReadValues(SPropValue* values) {
  const ULONG count = tags_->cValues;
  ULONG got = 0;
  LPSPropValue raw = nullptr;
  HRESULT hr = message_->GetProps(tags_.get(), 0, &got, &raw);
  MapiValues bulk(raw);
  if (SUCCEEDED(hr)) {
    for (ULONG i = 0; i < count && i < got; ++i) {
      if (!PropValueCopy(&values[i], bulk.get()[i])) return E_FAIL;
    }
  } else if (hr == MAPI_E_NOT_ENOUGH_MEMORY) {
    raw = nullptr;
    hr = message_->GetProps(singleValuedTags_.get(), 0, &got, &raw);
    bulk.reset(raw);
    if (SUCCEEDED(hr)) {
      ULONG next = 0;
      for (ULONG i = 0; i < count && next < got; ++i) {
        if (PROP_ID(tags_->aulPropTag[i]) != PROP_ID(singleValuedTags_->aulPropTag[next])) continue;
        if (!PropValueCopy(&values[i], bulk.get()[next])) return E_FAIL;
        ++next;
      }
    }
  }
  if (FAILED(hr)) {
    RecordLastError(message_.GetInterfacePtr(), hr);
    return hr;
  }
  for (ULONG i = 0; i < count; ++i) {
    const SPropValue& value = values[i];
    const bool tooLarge = PROP_TYPE(value.ulPropTag) == PT_ERROR && value.Value.err == MAPI_E_NOT_ENOUGH_MEMORY;
    if (value.ulPropTag != 0 && !tooLarge) continue;
    hr = ReadOneValue(tags_->aulPropTag[i], &values[i]);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Reads property `tag` alone, through a stream when it is too large for a
// single read. A property the message does not hold leaves `*value` empty
// and is no failure.
HRESULT PagerPropertyStore::ReadOneValue(ULONG tag, SPropValue* value) {
  LPSPropValue raw = nullptr;
  HRESULT hr = HrGetOneProp(message_, tag, &raw);
  MapiValues one(raw);
  if (SUCCEEDED(hr)) {
    if (one == nullptr || one->ulPropTag != tag) return S_OK;
    return PropValueCopy(value, *one) ? S_OK : E_FAIL;
  }
  if (hr == MAPI_E_NOT_FOUND) {
    *value = SPropValue{};
    return S_OK;
  }
  if (hr != MAPI_E_NOT_ENOUGH_MEMORY) {
    RecordLastError(message_.GetInterfacePtr(), hr);
    return hr;
  }
  _com_ptr_t<IStream> stream;
  hr = message_->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(&stream));
  if (FAILED(hr)) {
    RecordLastError(message_.GetInterfacePtr(), hr);
    return hr;
  }
  ULARGE_INTEGER end{};
  hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_END, &end);
  if (FAILED(hr)) return hr;
  *value = SPropValue{};
  if (end.QuadPart == 0 || end.QuadPart >= 0x100000000ull) return S_OK;
  hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  return ReadPropertyStream(value, tag, stream, end.QuadPart) ? S_OK : E_FAIL;
}

HRESULT PagerPropertyStore::Save(std::set<ULONG>* savedIndices, std::uint64_t* totalSize) {
  std::set<ULONG> indices;
  ULONG count = 0;
  SPropValue* pending = nullptr;
  {
    ScopedLock values(&valueLock_);
    try {
      if (values_ == nullptr) return E_FAIL;
      if (totalSize != nullptr) *totalSize = 0;
      if (changed_.empty()) return S_OK;
      indices = changed_;
      count = static_cast<ULONG>(indices.size());
      ValueArray copies(count);
      if (copies.get() == nullptr) return E_FAIL;
      std::uint64_t size = 0;
      ULONG at = 0;
      for (ULONG i : indices) {
        if (!PropValueCopy(&copies[at], values_[i])) return E_FAIL;
        size += PropValueDataSize(copies[at]);
        ++at;
      }
      if (totalSize != nullptr) *totalSize = size;
      changed_.clear();
      pending = copies.release();
    } catch (...) {
      return E_FAIL;
    }
  }
  HRESULT hr = E_FAIL;
  {
    ScopedLock message(&messageLock_);
    try {
      hr = WriteToMessage(pending, count);
    } catch (...) {
      hr = E_FAIL;
    }
  }
  FreeValues(pending, count);
  if (hr != S_OK) {
    ScopedLock values(&valueLock_);
    try {
      changed_.insert(indices.begin(), indices.end());
    } catch (...) {
      // Out of memory: these values are written again only when changed again.
    }
  } else if (savedIndices != nullptr) {
    *savedIndices = std::move(indices);
  }
  return hr;
}

HRESULT PagerPropertyStore::WriteToMessage(SPropValue* values, ULONG count) {
  if (!message_) return E_FAIL;
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < kSaveTries; ++attempt) {
    FreeLastError();
    if (attempt > 0 && FAILED(OpenMessage())) return E_FAIL;
    hr = message_->SetProps(count, values, nullptr);
    if (hr == MAPI_E_NOT_ENOUGH_MEMORY) {
      for (ULONG i = 0; i < count; ++i) {
        hr = HrSetOneProp(message_, &values[i]);
        if (FAILED(hr)) {
          RecordLastError(message_.GetInterfacePtr(), hr);
          return E_FAIL;
        }
      }
    } else if (FAILED(hr)) {
      RecordLastError(message_.GetInterfacePtr(), hr);
      return E_FAIL;
    }
    hr = message_->SaveChanges(KEEP_OPEN_READWRITE);
    if (FAILED(hr)) RecordLastError(message_.GetInterfacePtr(), hr);
    if (hr != MAPI_E_OBJECT_CHANGED) break;
  }
  return hr;
}

void PagerPropertyStore::Clear() {
  ScopedLock values(&valueLock_);
  ScopedLock message(&messageLock_);
  try {
    ClearHeld(false);
  } catch (...) {
    // Releasing never throws here; nothing to report.
  }
}

void PagerPropertyStore::ClearHeld(bool keepLastError) {
  FreeValues(values_, valueCount_);
  values_ = nullptr;
  valueCount_ = 0;
  changed_.clear();
  tags_.reset();
  singleValuedTags_.reset();
  entryId_.clear();
  message_ = nullptr;
  folder_ = nullptr;
  if (!keepLastError) FreeLastError();
}

bool PagerPropertyStore::TakeLastError(MAPIERROR** error) {
  if (error == nullptr) return false;
  ScopedLock message(&messageLock_);
  *error = lastError_;
  lastError_ = nullptr;
  return *error != nullptr;
}

bool PagerPropertyStore::GetEntryId(std::vector<BYTE>* entryId) {
  if (entryId == nullptr) return false;
  ScopedLock message(&messageLock_);
  try {
    if (entryId_.empty()) return false;
    *entryId = entryId_;
    return true;
  } catch (...) {
    return false;
  }
}

void PagerPropertyStore::FreeLastError() {
  MAPIFreeBuffer(lastError_);
  lastError_ = nullptr;
}

template <class Object>
void PagerPropertyStore::RecordLastError(Object* object, HRESULT result) {
  FreeLastError();
  MAPIERROR* error = nullptr;
  if (object != nullptr && object->GetLastError(result, 0, &error) == S_OK) {
    lastError_ = error;
  } else {
    MAPIFreeBuffer(error);
  }
}

const SPropValue* PagerPropertyStore::Find(ULONG tag, ULONG type) const {
  if (PROP_TYPE(tag) != type) return nullptr;
  const auto found = tagMap_.find(tag);
  if (found == tagMap_.end() || found->second >= valueCount_) return nullptr;
  const SPropValue& value = values_[found->second];
  return value.ulPropTag == tag ? &value : nullptr;
}

bool PagerPropertyStore::WriteValue(const SPropValue& value) {
  ScopedLock values(&valueLock_);
  try {
    return StoreValue(value);
  } catch (...) {
    return false;
  }
}

bool PagerPropertyStore::StoreValue(const SPropValue& value) {
  const auto found = tagMap_.find(value.ulPropTag);
  if (found == tagMap_.end() || found->second >= valueCount_) return false;
  SPropValue& stored = values_[found->second];
  if (PropValueEquals(stored, value)) return true;
  if (!PropValueCopy(&stored, value)) return false;
  changed_.insert(found->second);
  return true;
}

// Reads ----------------------------------------------------------------------

bool PagerPropertyStore::GetString(ULONG tag, char* buffer, ULONG size) {
  if (buffer == nullptr || size == 0) return false;
  ScopedLock values(&valueLock_);
  buffer[0] = 0;
  const SPropValue* value = Find(tag, PT_STRING8);
  if (value == nullptr || value->Value.lpszA == nullptr) return false;
  const std::size_t length = std::strlen(value->Value.lpszA);
  if (length >= size) return false;
  std::memcpy(buffer, value->Value.lpszA, length + 1);
  return true;
}

bool PagerPropertyStore::GetWideString(ULONG tag, wchar_t* buffer, ULONG count) {
  if (buffer == nullptr || count == 0) return false;
  ScopedLock values(&valueLock_);
  buffer[0] = 0;
  const SPropValue* value = Find(tag, PT_UNICODE);
  if (value == nullptr || value->Value.lpszW == nullptr) return false;
  const std::size_t length = std::wcslen(value->Value.lpszW);
  if (length >= count) return false;
  std::wmemcpy(buffer, value->Value.lpszW, length + 1);
  return true;
}

bool PagerPropertyStore::GetLong(ULONG tag, std::int32_t* out) {
  if (out == nullptr) return false;
  ScopedLock values(&valueLock_);
  *out = 0;
  const SPropValue* value = Find(tag, PT_LONG);
  if (value == nullptr) return false;
  *out = value->Value.l;
  return true;
}

bool PagerPropertyStore::GetBool(ULONG tag, bool* out) {
  if (out == nullptr) return false;
  ScopedLock values(&valueLock_);
  if (const SPropValue* value = Find(tag, PT_LONG)) {
    *out = value->Value.l != 0;
    return true;
  }
  if (const SPropValue* value = Find(tag, PT_BOOLEAN)) {
    *out = value->Value.b != 0;
    return true;
  }
  return false;
}

bool PagerPropertyStore::GetBinarySize(ULONG tag, std::uint32_t* size) {
  if (size == nullptr) return false;
  ScopedLock values(&valueLock_);
  *size = 0;
  const SPropValue* value = Find(tag, PT_BINARY);
  if (value == nullptr) return false;
  *size = value->Value.bin.cb;
  return true;
}

bool PagerPropertyStore::GetBinary(ULONG tag, BYTE* buffer, std::uint32_t* size) {
  if (buffer == nullptr || size == nullptr) return false;
  ScopedLock values(&valueLock_);
  std::memset(buffer, 0, *size);
  const std::uint32_t room = *size;
  *size = 0;
  const SPropValue* value = Find(tag, PT_BINARY);
  if (value == nullptr || value->Value.bin.lpb == nullptr || room < value->Value.bin.cb) return false;
  std::memcpy(buffer, value->Value.bin.lpb, value->Value.bin.cb);
  *size = value->Value.bin.cb;
  return true;
}

bool PagerPropertyStore::GetTime(ULONG tag, std::int64_t* seconds) {
  if (seconds == nullptr) return false;
  ScopedLock values(&valueLock_);
  *seconds = 0;
  const SPropValue* value = Find(tag, PT_SYSTIME);
  if (value == nullptr) return false;
  std::int64_t converted = 0;
  FileTimeToTime(&value->Value.ft, &converted);
  if (converted <= 0) return false;
  *seconds = converted;
  return true;
}

bool PagerPropertyStore::GetStringSize(ULONG tag, std::int32_t* size) {
  if (size == nullptr) return false;
  ScopedLock values(&valueLock_);
  if (const SPropValue* value = Find(tag, PT_UNICODE)) {
    *size = static_cast<std::int32_t>(value->Value.lpszW != nullptr ? std::wcslen(value->Value.lpszW) : 0) + 1;
    return true;
  }
  if (const SPropValue* value = Find(tag, PT_STRING8)) {
    *size = static_cast<std::int32_t>(value->Value.lpszA != nullptr ? std::strlen(value->Value.lpszA) : 0) + 1;
    return true;
  }
  return false;
}

bool PagerPropertyStore::GetStringList(ULONG tag, std::vector<std::string>* list) {
  if (list == nullptr) return false;
  ScopedLock values(&valueLock_);
  try {
    list->clear();
    const SPropValue* value = Find(tag, PT_MV_STRING8);
    if (value == nullptr) return false;
    const SLPSTRArray& texts = value->Value.MVszA;
    if (texts.lppszA == nullptr) return true;
    const bool oneEmpty = texts.cValues == 1 && (texts.lppszA[0] == nullptr || texts.lppszA[0][0] == 0);
    if (oneEmpty) return true;
    for (ULONG i = 0; i < texts.cValues; ++i) list->emplace_back(texts.lppszA[i] != nullptr ? texts.lppszA[i] : "");
    return true;
  } catch (...) {
    list->clear();
    return false;
  }
}

// Writes ---------------------------------------------------------------------

bool PagerPropertyStore::SetString(ULONG tag, const char* text) {
  if (PROP_TYPE(tag) != PT_STRING8) return false;
  SPropValue value{tag, 0, {}};
  value.Value.lpszA = const_cast<char*>(text != nullptr ? text : "");
  return WriteValue(value);
}

bool PagerPropertyStore::SetWideString(ULONG tag, const wchar_t* text) {
  if (PROP_TYPE(tag) != PT_UNICODE) return false;
  SPropValue value{tag, 0, {}};
  value.Value.lpszW = const_cast<wchar_t*>(text != nullptr ? text : L"");
  return WriteValue(value);
}

bool PagerPropertyStore::SetLong(ULONG tag, std::int32_t number) {
  if (PROP_TYPE(tag) != PT_LONG) return false;
  SPropValue value{tag, 0, {}};
  value.Value.l = number;
  return WriteValue(value);
}

bool PagerPropertyStore::SetBool(ULONG tag, bool flag) {
  SPropValue value{tag, 0, {}};
  if (PROP_TYPE(tag) == PT_LONG) {
    value.Value.l = flag ? 1 : 0;
  } else if (PROP_TYPE(tag) == PT_BOOLEAN) {
    value.Value.b = flag ? 1 : 0;
  } else {
    return false;
  }
  return WriteValue(value);
}

bool PagerPropertyStore::SetBinary(ULONG tag, const BYTE* bytes, std::uint32_t count) {
  if (PROP_TYPE(tag) != PT_BINARY) return false;
  SPropValue value{tag, 0, {}};
  value.Value.bin = {bytes != nullptr ? count : 0, const_cast<BYTE*>(bytes)};
  return WriteValue(value);
}

bool PagerPropertyStore::SetTime(ULONG tag, std::int64_t seconds) {
  if (PROP_TYPE(tag) != PT_SYSTIME) return false;
  SPropValue value{tag, 0, {}};
  TimeToFileTime(seconds, &value.Value.ft);
  return WriteValue(value);
}

bool PagerPropertyStore::SetStringList(ULONG tag, const std::vector<std::string>& list) {
  if (PROP_TYPE(tag) != PT_MV_STRING8) return false;
  try {
    static const std::vector<std::string> kOneEmpty{std::string()};
    const std::vector<std::string>& strings = list.empty() ? kOneEmpty : list;
    std::vector<char*> texts;
    texts.reserve(strings.size());
    for (const std::string& s : strings) texts.push_back(const_cast<char*>(s.c_str()));
    SPropValue value{tag, 0, {}};
    value.Value.MVszA = {static_cast<ULONG>(texts.size()), texts.data()};

    ScopedLock values(&valueLock_);
    if (const SPropValue* stored = Find(tag, PT_MV_STRING8)) {
      const SLPSTRArray& held = stored->Value.MVszA;
      if (held.cValues == strings.size() && held.lppszA != nullptr) {
        // Same strings in any order: each entry matched to a distinct
        // stored element.
        std::vector<bool> used(held.cValues, false);
        bool same = true;
        for (const std::string& s : strings) {
          bool matched = false;
          for (ULONG i = 0; i < held.cValues && !matched; ++i) {
            const char* element = held.lppszA[i] != nullptr ? held.lppszA[i] : "";
            if (!used[i] && s == element) used[i] = matched = true;
          }
          if (!matched) {
            same = false;
            break;
          }
        }
        if (same) return true;
      }
    }
    return StoreValue(value);
  } catch (...) {
    return false;
  }
}

bool PagerPropertyStore::Increment(ULONG tag, std::int32_t* newValue) {
  if (PROP_TYPE(tag) != PT_LONG) return false;
  ScopedLock values(&valueLock_);
  try {
    SPropValue value{tag, 0, {}};
    const SPropValue* current = Find(tag, PT_LONG);
    // Wraps around at the top of the range, as the counter always did.
    value.Value.l = current != nullptr
                        ? static_cast<std::int32_t>(static_cast<std::uint32_t>(current->Value.l) + 1u)
                        : 1;
    if (!StoreValue(value)) return false;
    if (newValue != nullptr) *newValue = value.Value.l;
    return true;
  } catch (...) {
    return false;
  }
}

void PagerPropertyStore::DeleteProperty(ULONG tag) {
  {
    ScopedLock values(&valueLock_);
    const auto found = tagMap_.find(tag);
    if (found == tagMap_.end() || found->second >= valueCount_ || values_[found->second].ulPropTag != tag) return;
    PropValueFree(&values_[found->second]);
    changed_.erase(found->second);
  }
  ScopedLock message(&messageLock_);
  try {
    if (!message_) return;
    SizedSPropTagArray(1, one) = {1, {tag}};
    if (!FAILED(message_->DeleteProps(reinterpret_cast<LPSPropTagArray>(&one), nullptr))) {
      message_->SaveChanges(KEEP_OPEN_READWRITE);
    }
  } catch (...) {
    // As any failure here: not kept.
  }
}
