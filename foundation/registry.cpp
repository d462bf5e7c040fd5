#include "foundation/registry.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "foundation/secure_wipe.h"
#include "foundation/string_conversion.h"
#include "platform/win32/environment.h"
#include "platform/win32/error.h"

namespace {

// The read buffer: 512 characters, or the caller's size from 513 on.
constexpr unsigned kReadBufferChars = 512;

std::size_t ReadBufferChars(unsigned size) { return size > kReadBufferChars ? size : kReadBufferChars; }

// Copies at most size characters (padding with NULs as strncpy does) and
// terminates at size - 1.
void CopyCut(char* out, const char* in, unsigned size) {
  std::strncpy(out, in, size);
  out[size - 1] = '\0';
}

void CopyCut(wchar_t* out, const wchar_t* in, unsigned size) {
  std::wcsncpy(out, in, size);
  out[size - 1] = L'\0';
}

DWORD Expand(const char* in, char* out, unsigned size) { return ExpandEnvironmentStringsA(in, out, size); }

DWORD Expand(const wchar_t* in, wchar_t* out, unsigned size) {
  return ExpandEnvironmentStringsW(in, out, size);
}

LONG EnumKey(HKEY key, DWORD index, char* name, DWORD size) { return RegEnumKeyA(key, index, name, size); }

LONG EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD size) {
  return RegEnumKeyW(key, index, name, size);
}

// Copies `text` into a buffer of `size` characters, cut and terminated.
template <typename C>
void CopyText(const std::basic_string<C>& text, C* out, std::size_t size) {
  const std::size_t n = std::min(text.size(), size - 1);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
  out[n] = C();
}

std::string Narrow(const wchar_t* text) { return text == nullptr ? std::string() : ToNarrowString(text, -1); }

// The result of a read; on failure the default is stored.
template <typename T>
bool OrDefault(bool ok, T* out, T deflt) {
  if (!ok && out != nullptr) *out = deflt;
  return ok;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool Registry::NameLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(FoldAscii(x)) < static_cast<unsigned char>(FoldAscii(y));
  });
}

Registry::Registry(const char* path, bool currentUser, bool checkValueNames)
    : path_(path == nullptr ? "" : path),
      root_(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
      checkValueNames_(checkValueNames) {}

Registry::Registry(const wchar_t* path, bool currentUser, bool checkValueNames)
    : path_(Narrow(path)),
      root_(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
      checkValueNames_(checkValueNames) {}

Registry::Registry(HKEY root, const char* path, bool checkValueNames)
    : path_(path == nullptr ? "" : path), root_(root), checkValueNames_(checkValueNames) {}

Registry::Registry(bool checkValueNames) : root_(HKEY_LOCAL_MACHINE), checkValueNames_(checkValueNames) {}

Registry::~Registry() { Close(); }

bool Registry::Open(bool writable) {
  if (key_ != nullptr) return true;
  lastError_ = 0;
  const REGSAM access = writable ? (KEY_READ | KEY_WRITE) : KEY_READ;
  HKEY key = nullptr;
  const LONG rc = RegOpenKeyExA(root_, path_.c_str(), 0, access, &key);
  if (rc != ERROR_SUCCESS) {
    lastError_ = rc;
    return false;
  }
  key_ = key;
  if (checkValueNames_) LoadValueNames();
  return true;
}

bool Registry::OpenW(const wchar_t* path, bool writable) {
  if (key_ != nullptr) return false;
  path_ = Narrow(path);
  return Open(writable);
}

bool Registry::CreateW(const wchar_t* path) {
  if (key_ != nullptr) return false;
  lastError_ = 0;
  path_ = Narrow(path);
  HKEY key = nullptr;
  const LONG rc = RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    lastError_ = rc;
    return false;
  }
  key_ = key;
  return true;
}

bool Registry::OpenSubKey(DWORD index, Registry& target) {
  target.Close();
  target.root_ = root_;
  target.path_.clear();
  char fullPath[260];
  if (!EnumSubKey(index, fullPath, sizeof fullPath, nullptr, 0)) return false;
  target.path_ = fullPath;
  return target.Open(false);
}

LONG Registry::Close() {
  if (key_ == nullptr) return 0;
  const LONG rc = RegCloseKey(key_);
  key_ = nullptr;
  return rc;
}

bool Registry::MayRead(const char* name) {
  lastError_ = 0;
  if (key_ == nullptr) return false;
  return !checkValueNames_ || HasValueName(name);
}

bool Registry::MayRead(const wchar_t* name) {
  lastError_ = 0;
  if (key_ == nullptr) return false;
  return !checkValueNames_ || HasValueNameW(name);
}

bool Registry::Query(const char* name, DWORD* type, void* data, DWORD* size) {
  const LONG rc = RegQueryValueExA(key_, name, nullptr, type, static_cast<BYTE*>(data), size);
  if (rc != ERROR_SUCCESS) lastError_ = rc;
  return rc == ERROR_SUCCESS;
}

bool Registry::Query(const wchar_t* name, DWORD* type, void* data, DWORD* size) {
  const LONG rc = RegQueryValueExW(key_, name, nullptr, type, static_cast<BYTE*>(data), size);
  if (rc != ERROR_SUCCESS) lastError_ = rc;
  return rc == ERROR_SUCCESS;
}

template <typename C>
bool Registry::ReadString(const C* name, C* out, unsigned size) {
  if (!MayRead(name) || out == nullptr || size == 0) return false;
  const std::size_t chars = ReadBufferChars(size);
  // One character more than is asked for, so the text is always terminated.
  WipedArray<C> buffer;
  if (!buffer.Allocate(chars + 1)) return false;
  DWORD type = 0;
  auto bytes = static_cast<DWORD>(chars * sizeof(C));
  if (!Query(name, &type, buffer.get(), &bytes)) return false;
  if (type == REG_SZ) {
    CopyCut(out, buffer.get(), size);
    return true;
  }
  if (type == REG_EXPAND_SZ) {
    const DWORD expanded = Expand(buffer.get(), out, size);
    if (expanded == 0 || expanded > size) CopyCut(out, buffer.get(), size);
    return true;
  }
  return false;
}

bool Registry::GetString(const char* name, char* out, unsigned size) { return ReadString(name, out, size); }

bool Registry::GetStringW(const wchar_t* name, wchar_t* out, unsigned size) {
  return ReadString(name, out, size);
}

bool Registry::GetStringDefaultW(const wchar_t* name, wchar_t* out, unsigned size, const wchar_t* deflt) {
  const bool ok = GetStringW(name, out, size);
  if (!ok && out != nullptr && size > 0) CopyCut(out, deflt == nullptr ? L"" : deflt, size);
  return ok;
}

bool Registry::GetBinary(const char* name, void* out, unsigned size, int* len) {
  if (!MayRead(name) || (out == nullptr && size > 0)) return false;
  const std::size_t capacity = ReadBufferChars(size);
  WipedArray<BYTE> buffer;
  if (!buffer.Allocate(capacity)) return false;
  DWORD type = 0;
  auto bytes = static_cast<DWORD>(capacity);
  if (!Query(name, &type, buffer.get(), &bytes)) return false;
  if (type != REG_BINARY) return false;
  if (bytes > size) {
    lastError_ = ERROR_MORE_DATA;
    return false;
  }
  if (bytes > 0) std::memcpy(out, buffer.get(), bytes);
  if (len != nullptr) *len = static_cast<int>(bytes);
  return true;
}

template <typename C>
bool Registry::ReadDWORD(const C* name, DWORD* out) {
  if (!MayRead(name) || out == nullptr) return false;
  DWORD value = 0, type = 0, size = sizeof value;
  if (!Query(name, &type, &value, &size)) return false;
  if (type != REG_DWORD || size != sizeof value) return false;
  *out = value;
  return true;
}

template <typename C, typename T>
bool Registry::ReadDWORDAs(const C* name, T* out) {
  DWORD value = 0;
  if (out == nullptr || !ReadDWORD(name, &value)) return false;
  if constexpr (std::is_same_v<T, bool>) {
    *out = value != 0;
  } else {
    *out = static_cast<T>(value);
  }
  return true;
}

bool Registry::GetDWORD(const char* name, DWORD* out) { return ReadDWORD(name, out); }

bool Registry::GetDWORDW(const wchar_t* name, DWORD* out) { return ReadDWORD(name, out); }

bool Registry::GetDWORDDefault(const char* name, DWORD* out, DWORD deflt) {
  return OrDefault(GetDWORD(name, out), out, deflt);
}

bool Registry::GetDWORDDefaultW(const wchar_t* name, DWORD* out, DWORD deflt) {
  return OrDefault(GetDWORDW(name, out), out, deflt);
}

bool Registry::GetInt(const char* name, int* out) { return ReadDWORDAs(name, out); }

bool Registry::GetIntDefault(const char* name, int* out, int deflt) {
  return OrDefault(GetInt(name, out), out, deflt);
}

bool Registry::GetIntW(const wchar_t* name, int* out) { return ReadDWORDAs(name, out); }

bool Registry::GetIntDefaultW(const wchar_t* name, int* out, int deflt) {
  return OrDefault(GetIntW(name, out), out, deflt);
}

bool Registry::GetBoolW(const wchar_t* name, bool* out) { return ReadDWORDAs(name, out); }

bool Registry::GetBoolDefaultW(const wchar_t* name, bool* out, bool deflt) {
  return OrDefault(GetBoolW(name, out), out, deflt);
}

bool Registry::SetStringW(const wchar_t* name, const wchar_t* value) {
  lastError_ = 0;
  if (key_ == nullptr || value == nullptr) return false;
  const auto bytes = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
  const LONG rc = RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
  if (rc != ERROR_SUCCESS) lastError_ = rc;
  return rc == ERROR_SUCCESS;
}

bool Registry::SetDWORDW(const wchar_t* name, DWORD value) {
  lastError_ = 0;
  if (key_ == nullptr) return false;
  const LONG rc = RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value);
  if (rc != ERROR_SUCCESS) lastError_ = rc;
  return rc == ERROR_SUCCESS;
}

bool Registry::GetSubKeyCount(DWORD* count) {
  if (count == nullptr) return false;
  *count = 0;
  lastError_ = 0;
  if (key_ == nullptr) return false;
  const LONG rc = RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, count, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) {
    lastError_ = rc;
    *count = 0;
  }
  return rc == ERROR_SUCCESS;
}

template <typename C>
bool Registry::EnumSubKeyInto(DWORD index, C* fullPath, unsigned fullPathSize, C* name, int nameSize) {
  lastError_ = 0;
  if (key_ == nullptr) return false;
  C found[261] = {};
  const LONG rc = EnumKey(key_, index, found, 261);
  found[260] = C();
  if (rc != ERROR_SUCCESS) {
    lastError_ = rc;
    return false;
  }
  if (name != nullptr && nameSize > 0) CopyCut(name, found, static_cast<unsigned>(nameSize));
  if (fullPath != nullptr && fullPathSize > 0) {
    std::basic_string<C> path;
    if constexpr (sizeof(C) == 1) {
      path = path_;
    } else {
      path = ToWideString(path_, -1);
    }
    if (!path.empty() && path.back() != C('\\')) path.push_back(C('\\'));
    path += found;
    CopyText(path, fullPath, fullPathSize);
  }
  return true;
}

bool Registry::EnumSubKey(DWORD index, char* fullPath, unsigned fullPathSize, char* name, int nameSize) {
  lastError_ = 0;
  if (fullPath == nullptr || fullPathSize == 0) return false;
  return EnumSubKeyInto(index, fullPath, fullPathSize, name, nameSize);
}

bool Registry::EnumSubKeyW(DWORD index, wchar_t* fullPath, unsigned fullPathSize, wchar_t* name,
                           int nameSize) {
  return EnumSubKeyInto(index, fullPath, fullPathSize, name, nameSize);
}

LONG Registry::LoadValueNames() {
  valueNames_.clear();
  if (key_ == nullptr) return 0;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    const LONG rc = RegEnumValueA(key_, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return rc;
    valueNames_.insert(std::string(name, size));
  }
}

const char* Registry::GetKeyName() const {
  if (path_.empty()) return nullptr;
  const std::size_t slash = path_.rfind('\\');
  return slash == std::string::npos ? path_.c_str() : path_.c_str() + slash + 1;
}

bool Registry::HasValueName(const char* name) const {
  return name != nullptr && valueNames_.count(name) != 0;
}

bool Registry::HasValueNameW(const wchar_t* name) const {
  return name != nullptr && HasValueName(Narrow(name).c_str());
}
