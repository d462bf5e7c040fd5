#include "platform/com/bstr.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
#include <utility>

#include "platform/com/variant.h"
#include "platform/win32/codepage.h"
#include "platform/win32/error.h"

namespace {

// The byte-length prefix sits just before the characters; the block is
// allocated with room for a prefix the size of a wchar_t so that the
// characters stay aligned.
constexpr std::size_t kPrefix = sizeof(OLECHAR);
static_assert(kPrefix >= sizeof(ULONG));

constexpr UINT kMaxLength =
    (std::numeric_limits<ULONG>::max() - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR);

unsigned char* BlockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

void ZeroAndFree(void* block, std::size_t bytes) {
  explicit_bzero(block, bytes);
  std::free(block);
}

HRESULT LastErrorAsHResult() {
  const DWORD error = GetLastError();
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// A BSTR holding `text` (a null `text` is the empty text), or throws.
BSTR CopyOrThrow(const OLECHAR* text, UINT length) {
  BSTR copy = SysAllocStringLen(text, length);
  if (copy == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return copy;
}

// The bytes a BSTR of `length` characters takes, prefix and terminator
// included.
std::size_t BlockBytes(UINT length) { return kPrefix + std::size_t{length} * sizeof(OLECHAR) + sizeof(OLECHAR); }

// Lays a BSTR of `length` characters (copied from `text`, or zeroed when
// `text` is null) out in `block`, which holds BlockBytes(length) bytes.
BSTR PlaceBstr(void* block, const OLECHAR* text, UINT length) {
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  std::memset(block, 0, kPrefix);
  const ULONG byteLength = static_cast<ULONG>(bytes);
  std::memcpy(block, &byteLength, sizeof byteLength);
  BSTR result = reinterpret_cast<BSTR>(static_cast<unsigned char*>(block) + kPrefix);
  if (text != nullptr) {
    if (length > 0) std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);
  }
  result[length] = 0;
  return result;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxLength) return nullptr;
  void* block = std::malloc(BlockBytes(length));
  if (block == nullptr) return nullptr;
  return PlaceBstr(block, text, length);
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::wcslen(text);
  if (length > kMaxLength) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  ULONG byteLength;
  std::memcpy(&byteLength, BlockOf(text), sizeof byteLength);
  return byteLength;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  ZeroAndFree(BlockOf(text), kPrefix + SysStringByteLen(text) + sizeof(OLECHAR));
}

// One text shared by _bstr_t copies, with its narrow form once asked for.
// Copies on several threads may ask for the narrow form at once: each
// converts, the first to publish wins and the others free their own.
struct _bstr_t::Data {
  // A narrow form: its byte count (terminator included), then the bytes.
  struct Narrow {
    std::size_t bytes;
    char text[1];
  };

  // A Data owning `text`, a BSTR of its own block; frees `text` and throws
  // when memory is short.
  static Data* Adopt(BSTR text) {
    void* block = std::malloc(sizeof(Data));
    if (block == nullptr) {
      SysFreeString(text);
      _com_issue_error(E_OUTOFMEMORY);
    }
    return new (block) Data(text);
  }
  // A Data whose BSTR of `length` characters (copied from `text`, or zeroed
  // when `text` is null) shares its block: one allocation for both. The
  // BSTR opens the block and the Data follows it, so that SysFreeString of
  // the BSTR frees the whole block (see Detach).
  static Data* Copy(const OLECHAR* text, UINT length) {
    if (length > kMaxLength) _com_issue_error(E_OUTOFMEMORY);
    const std::size_t offset = (BlockBytes(length) + alignof(Data) - 1) / alignof(Data) * alignof(Data);
    void* block = std::malloc(offset + sizeof(Data));
    if (block == nullptr) _com_issue_error(E_OUTOFMEMORY);
    Data* data = new (static_cast<unsigned char*>(block) + offset) Data(PlaceBstr(block, text, length));
    data->inlined = true;
    return data;
  }
  static void Destroy(Data* data) noexcept {
    const BSTR block = data->inlined ? data->wide : nullptr;
    data->~Data();
    if (block != nullptr) {
      SysFreeString(block);  // the Data with it
    } else {
      std::free(data);
    }
  }

  // Ends `data`, whose sole owner is the caller, and gives its BSTR to the
  // caller, who frees it (for a Data made by Copy, its block with it).
  static BSTR HandOver(Data* data) noexcept {
    const BSTR text = data->wide;
    if (data->inlined) {
      data->~Data();
    } else {
      data->wide = nullptr;
      Destroy(data);
    }
    return text;
  }

  static void Free(Narrow* n) { ZeroAndFree(n, offsetof(Narrow, text) + n->bytes); }
  void DropNarrow() {
    if (Narrow* n = narrow.exchange(nullptr)) Free(n);
  }

  std::atomic<int> refs{1};
  BSTR wide;
  std::atomic<Narrow*> narrow{nullptr};
  // `wide` opens this Data's own block (made by Copy): it is never replaced,
  // and freeing it frees this Data too, so the writable GetBSTR hands out a
  // copy of its own.
  bool inlined = false;

 private:
  explicit Data(BSTR text) : wide(text) {}
  ~Data() {
    if (!inlined) SysFreeString(wide);
    DropNarrow();
  }
};

namespace {

// The one empty text that every _bstr_t made from "" shares, so that
// empty texts cost no allocation. Never freed: its first reference is its
// own, so no holder is ever the sole owner and Detach, GetBSTR()& and the
// like copy it as they copy any shared text.
template <class Data>
Data* SharedEmpty() {
  static Data* const empty = Data::Copy(L"", 0);
  empty->refs.fetch_add(1, std::memory_order_relaxed);
  return empty;
}

}  // namespace

_bstr_t::_bstr_t(const _bstr_t& other) noexcept : data_(other.data_) {
  if (data_ != nullptr) data_->refs.fetch_add(1, std::memory_order_relaxed);
}

_bstr_t::_bstr_t(_bstr_t&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }

_bstr_t::_bstr_t(const char* text) {
  if (text == nullptr) return;
  if (*text == '\0') {
    data_ = SharedEmpty<Data>();
    return;
  }
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (needed <= 0) _com_issue_error(LastErrorAsHResult());
  Data* data = Data::Copy(nullptr, static_cast<UINT>(needed - 1));
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, data->wide, needed) != needed) {
    Data::Destroy(data);
    _com_issue_error(LastErrorAsHResult());
  }
  data_ = data;
}

_bstr_t::_bstr_t(const wchar_t* text) {
  if (text == nullptr) return;
  if (*text == L'\0') {
    data_ = SharedEmpty<Data>();
  } else {
    const std::size_t length = std::wcslen(text);
    if (length > kMaxLength) _com_issue_error(E_OUTOFMEMORY);
    data_ = Data::Copy(text, static_cast<UINT>(length));
  }
}

_bstr_t::_bstr_t(BSTR text, bool copy) {
  if (copy) {
    if (text != nullptr) data_ = SysStringLen(text) == 0 ? SharedEmpty<Data>() : Data::Copy(text, SysStringLen(text));
  } else {
    data_ = Data::Adopt(text);
  }
}

_bstr_t::_bstr_t(const _variant_t& value) {
  if (value.vt == VT_BSTR) {
    *this = _bstr_t(value.bstrVal, true);
    return;
  }
  _variant_t text;
  const HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
  if (FAILED(hr)) _com_issue_error(hr);
  data_ = Data::Adopt(text.Detach().bstrVal);
}

_bstr_t::~_bstr_t() { Release(); }

void _bstr_t::Release() noexcept {
  if (data_ != nullptr && data_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    Data::Destroy(data_);
  }
  data_ = nullptr;
}

_bstr_t::Data* _bstr_t::Unshared() {
  if (data_ == nullptr) {
    data_ = Data::Adopt(nullptr);
  } else if (data_->refs.load(std::memory_order_acquire) > 1 || data_->inlined) {
    Data* own = Data::Adopt(CopyOrThrow(data_->wide, SysStringLen(data_->wide)));
    Release();
    data_ = own;
  }
  data_->DropNarrow();
  return data_;
}

_bstr_t& _bstr_t::operator=(const _bstr_t& other) noexcept {
  if (data_ != other.data_) {
    Release();
    data_ = other.data_;
    if (data_ != nullptr) data_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = other.data_;
    other.data_ = nullptr;
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const char* text) { return *this = _bstr_t(text); }
_bstr_t& _bstr_t::operator=(const wchar_t* text) { return *this = _bstr_t(text); }
_bstr_t& _bstr_t::operator=(const _variant_t& value) { return *this = _bstr_t(value); }

_bstr_t& _bstr_t::operator+=(const _bstr_t& other) {
  const UINT left = length();
  const UINT right = other.length();
  if (right > kMaxLength - left) _com_issue_error(E_OUTOFMEMORY);
  Data* data = Data::Copy(nullptr, left + right);
  if (left > 0) std::memcpy(data->wide, data_->wide, left * sizeof(OLECHAR));
  if (right > 0) std::memcpy(data->wide + left, other.data_->wide, right * sizeof(OLECHAR));
  Release();
  data_ = data;
  return *this;
}

_bstr_t _bstr_t::operator+(const _bstr_t& other) const {
  _bstr_t joined(*this);
  joined += other;
  return joined;
}

_bstr_t operator+(const char* left, const _bstr_t& right) { return _bstr_t(left) + right; }
_bstr_t operator+(const wchar_t* left, const _bstr_t& right) { return _bstr_t(left) + right; }

_bstr_t::operator const wchar_t*() const noexcept { return GetBSTR(); }
_bstr_t::operator wchar_t*() const noexcept { return GetBSTR(); }

_bstr_t::operator const char*() const {
  if (data_ == nullptr || data_->wide == nullptr) return nullptr;
  if (Data::Narrow* ready = data_->narrow.load(std::memory_order_acquire)) return ready->text;
  // The terminator is converted with the text, so embedded NULs survive.
  const int wideCount = static_cast<int>(SysStringLen(data_->wide)) + 1;
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, data_->wide, wideCount, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) _com_issue_error(LastErrorAsHResult());
  const std::size_t bytes = static_cast<std::size_t>(needed);
  auto* made = static_cast<Data::Narrow*>(std::malloc(offsetof(Data::Narrow, text) + bytes));
  if (made == nullptr) _com_issue_error(E_OUTOFMEMORY);
  made->bytes = bytes;
  if (WideCharToMultiByte(CP_ACP, 0, data_->wide, wideCount, made->text, needed, nullptr,
                          nullptr) != needed) {
    Data::Free(made);
    _com_issue_error(LastErrorAsHResult());
  }
  Data::Narrow* expected = nullptr;
  if (!data_->narrow.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
    Data::Free(made);
    return expected->text;
  }
  return made->text;
}

_bstr_t::operator char*() const { return const_cast<char*>(static_cast<const char*>(*this)); }

bool _bstr_t::operator!() const noexcept { return GetBSTR() == nullptr; }

namespace {

int Compare(BSTR a, BSTR b) {
  const UINT lengthA = SysStringLen(a);
  const UINT lengthB = SysStringLen(b);
  const UINT common = lengthA < lengthB ? lengthA : lengthB;
  for (UINT i = 0; i < common; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
}

}  // namespace

bool operator==(const _bstr_t& a, const _bstr_t& b) noexcept {
  return Compare(a.GetBSTR(), b.GetBSTR()) == 0;
}

bool operator<(const _bstr_t& a, const _bstr_t& b) noexcept {
  return Compare(a.GetBSTR(), b.GetBSTR()) < 0;
}

BSTR _bstr_t::copy(bool copy) const {
  BSTR held = GetBSTR();
  if (!copy || held == nullptr) return held;
  return CopyOrThrow(held, SysStringLen(held));
}

unsigned int _bstr_t::length() const noexcept { return SysStringLen(GetBSTR()); }

void _bstr_t::Attach(BSTR text) {
  Data* data = Data::Adopt(text);
  Release();
  data_ = data;
}

BSTR _bstr_t::Detach() {
  if (data_ == nullptr) return nullptr;
  if (data_->refs.load(std::memory_order_acquire) == 1) return Data::HandOver(std::exchange(data_, nullptr));
  const BSTR text = data_->wide == nullptr ? nullptr : CopyOrThrow(data_->wide, SysStringLen(data_->wide));
  Release();
  return text;
}

BSTR _bstr_t::GetBSTR() const noexcept { return data_ == nullptr ? nullptr : data_->wide; }

BSTR& _bstr_t::GetBSTR() { return Unshared()->wide; }

BSTR* _bstr_t::GetAddress() {
  Attach(nullptr);
  return &data_->wide;
}

void _bstr_t::Assign(BSTR text) { *this = _bstr_t(text, true); }
