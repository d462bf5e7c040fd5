#include "platform/mapi/object_base.h"

#include <cstring>
#include <cwchar>

#include "platform/mapi/text.h"

namespace mapi_internal {
namespace {

constexpr char kComponent[] = "profile store";

// A read-only stream over a copy of some bytes.
class ValueStream final : public ComObject<IStream> {
 public:
  explicit ValueStream(std::string bytes) : bytes_(std::move(bytes)) {}

  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> hold(lock_);
    const std::size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const std::size_t count = std::min<std::size_t>(cb, left);
    if (count > 0) std::memcpy(pv, bytes_.data() + position_, count);
    position_ += count;
    if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(count);
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override {
    std::lock_guard<std::mutex> hold(lock_);
    std::int64_t base = 0;
    switch (dwOrigin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<std::int64_t>(position_); break;
      case STREAM_SEEK_END: base = static_cast<std::int64_t>(bytes_.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    const std::int64_t target = base + dlibMove.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<std::uint64_t>(target);
    if (plibNewPosition != nullptr) plibNewPosition->QuadPart = position_;
    return S_OK;
  }

 private:
  std::mutex lock_;
  const std::string bytes_;
  std::uint64_t position_ = 0;
};

}  // namespace

HRESULT StartOpenEntry(ULONG flags, ULONG* type, LPUNKNOWN* object, Failure* failure) {
  if (object == nullptr) return Refuse(failure, MAPI_E_INVALID_PARAMETER, "no place for the object");
  *object = nullptr;
  if (type != nullptr) *type = 0;
  if ((flags & ~(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS)) != 0) {
    return Refuse(failure, MAPI_E_UNKNOWN_FLAGS, "unknown flags");
  }
  return S_OK;
}

HRESULT HandOutError(const Failure& failure, ULONG flags, LPMAPIERROR* error) {
  const bool wide = (flags & MAPI_UNICODE) != 0;
  auto textSize = [&](const std::string& utf8) {
    return wide ? (WideFromUtf8(utf8).size() + 1) * sizeof(wchar_t) : AnsiFromUtf8(utf8).size() + 1;
  };
  void* block = nullptr;
  if (MAPIAllocateBuffer(sizeof(MAPIERROR), &block) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
  auto* result = static_cast<MAPIERROR*>(block);
  std::memset(result, 0, sizeof(*result));
  result->ulVersion = MAPI_ERROR_VERSION;
  result->ulLowLevelError = failure.lowLevel;
  const std::string* texts[2] = {&failure.text, nullptr};
  const std::string component = kComponent;
  texts[1] = &component;
  LPTSTR* slots[2] = {&result->lpszError, &result->lpszComponent};
  for (int i = 0; i < 2; ++i) {
    void* text = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(textSize(*texts[i])), block, &text) != S_OK) {
      MAPIFreeBuffer(block);
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    if (wide) {
      const std::wstring w = WideFromUtf8(*texts[i]);
      std::wmemcpy(static_cast<wchar_t*>(text), w.c_str(), w.size() + 1);
    } else {
      const std::string n = AnsiFromUtf8(*texts[i]);
      std::memcpy(text, n.c_str(), n.size() + 1);
    }
    *slots[i] = static_cast<LPTSTR>(text);
  }
  *error = result;
  return S_OK;
}

HRESULT OpenValueStream(const Value& value, ULONG type, IStream** stream) {
  std::string bytes;
  if (type == PT_BINARY && value.type == PT_BINARY) {
    bytes = value.data;
  } else if (type == PT_STRING8 && value.type == PT_UNICODE) {
    bytes = AnsiFromUtf8(value.data);
  } else if (type == PT_UNICODE && value.type == PT_UNICODE) {
    const std::wstring wide = WideFromUtf8(value.data);
    bytes.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  } else {
    return MAPI_E_NO_SUPPORT;
  }
  auto* created = new (std::nothrow) ValueStream(std::move(bytes));
  if (created == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  created->AddRef();
  *stream = created;
  return S_OK;
}

}  // namespace mapi_internal
