#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/registry/reg_file.h"
#include "platform/registry/reg_store.h"
#include "platform/win32/codepage.h"

// An open key: which root, the names on the way down from it (as stored when
// the key was opened), and the rights it was opened with.
struct HKEY__ {
  morvale::registry::Root root;
  std::vector<std::wstring> path;
  REGSAM access;
};

namespace morvale::registry {
namespace {

struct KeyRef {
  Root root = Root::kLocalMachine;
  std::vector<std::wstring> path;
  REGSAM access = 0;
};

// The handles given out and not yet closed, so that a stale or foreign
// handle fails with ERROR_INVALID_HANDLE instead of being followed.
struct Handles {
  std::mutex mutex;
  std::unordered_set<const HKEY__*> live;
};

// Never destroyed: global objects may close their keys while the process exits.
Handles& TheHandles() {
  static Handles* handles = new Handles;
  return *handles;
}

LONG Resolve(HKEY key, KeyRef* out) {
  const auto value = reinterpret_cast<ULONG_PTR>(key);
  if (value >= 0x80000000u && value <= 0x80000002u) {
    out->root = value == 0x80000000u   ? Root::kClassesRoot
                : value == 0x80000001u ? Root::kCurrentUser
                                       : Root::kLocalMachine;
    out->path.clear();
    out->access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  Handles& handles = TheHandles();
  std::lock_guard lock(handles.mutex);
  if (key == nullptr || handles.live.count(key) == 0) return ERROR_INVALID_HANDLE;
  out->root = key->root;
  out->path = key->path;
  out->access = key->access;
  return ERROR_SUCCESS;
}

HKEY NewHandle(Root root, std::vector<std::wstring> path, REGSAM access) {
  HKEY key = new HKEY__{root, std::move(path), access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY)};
  Handles& handles = TheHandles();
  std::lock_guard lock(handles.mutex);
  handles.live.insert(key);
  return key;
}

LONG Require(const KeyRef& ref, REGSAM right) {
  return (ref.access & right) == right ? ERROR_SUCCESS : static_cast<LONG>(ERROR_ACCESS_DENIED);
}

// "A\B\" is A, B; an empty path is no name; a leading or doubled backslash
// is refused.
LONG SplitPath(std::wstring_view path, std::vector<std::wstring>* names) {
  names->clear();
  while (!path.empty() && path.back() == L'\\') path.remove_suffix(1);
  while (!path.empty()) {
    const size_t slash = path.find(L'\\');
    if (slash == 0) return ERROR_BAD_PATHNAME;
    names->emplace_back(path.substr(0, slash));
    if (slash == std::wstring_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return ERROR_SUCCESS;
}

template <typename K>
K* Find(K& tree, const std::vector<std::wstring>& path) {
  K* key = &tree;
  for (const std::wstring& name : path) {
    key = key->FindSubKey(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

// The key a handle names, in the root's current tree.
LONG ReadKey(const KeyRef& ref, std::shared_ptr<const Key>* tree, const Key** key) {
  if (LONG rc = ReadRoot(ref.root, tree); rc != ERROR_SUCCESS) return rc;
  *key = Find(**tree, ref.path);
  return *key == nullptr ? static_cast<LONG>(ERROR_KEY_DELETED) : ERROR_SUCCESS;
}

// Stores the change that `describe` gives for the key a handle names
// (reg_store.h).
LONG WriteKey(const KeyRef& ref, const std::function<LONG(const Key& key, std::string* change)>& describe) {
  return UpdateRoot(ref.root, [&](const Key& tree, std::string* change) -> LONG {
    const Key* key = Find(tree, ref.path);
    if (key == nullptr) return ERROR_KEY_DELETED;
    return describe(*key, change);
  });
}

std::wstring FromAnsi(const char* text, int length) {
  if (text == nullptr || length == 0) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, length, out.data(), n);
  if (length < 0) out.pop_back();  // the terminator counted in
  return out;
}

std::wstring FromAnsi(const char* text) { return FromAnsi(text, -1); }

std::string ToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromWide(const wchar_t* text) { return text == nullptr ? std::wstring() : std::wstring(text); }

// A value's data as the narrow or the wide calls show it.
std::vector<BYTE> DataView(const Value& value, bool narrow) {
  if (!IsTextType(value.type)) return value.bytes;
  if (narrow) {
    const std::string text = ToAnsi(value.text);
    return std::vector<BYTE>(text.begin(), text.end());
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(value.text.data());
  return std::vector<BYTE>(bytes, bytes + value.text.size() * sizeof(wchar_t));
}

LONG Deliver(const std::vector<BYTE>& bytes, DWORD type, DWORD* typeOut, BYTE* data, DWORD* size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (typeOut != nullptr) *typeOut = type;
  if (size == nullptr) return ERROR_SUCCESS;
  const auto needed = static_cast<DWORD>(bytes.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// Copies a name with its terminator into a buffer of *size characters; on
// success *size is its length.
template <typename C>
LONG CopyName(const std::basic_string<C>& name, C* out, DWORD* size) {
  if (out == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *size) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), out);
  out[name.size()] = C();
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

template <typename C>
void ClearClass(C* className, DWORD* classSize) {
  if (className != nullptr && classSize != nullptr && *classSize > 0) className[0] = C();
  if (classSize != nullptr) *classSize = 0;
}

void ClearTime(FILETIME* time) {
  if (time != nullptr) *time = FILETIME{};
}

LONG OpenKey(HKEY key, const std::wstring& subKey, REGSAM access, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  std::vector<std::wstring> names;
  if (LONG rc = SplitPath(subKey, &names); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<const Key> tree;
  const Key* base = nullptr;
  if (LONG rc = ReadKey(ref, &tree, &base); rc != ERROR_SUCCESS) return rc;
  std::vector<std::wstring> path = ref.path;
  for (const std::wstring& name : names) {
    base = base->FindSubKey(name);
    if (base == nullptr) return ERROR_FILE_NOT_FOUND;
    path.push_back(base->name);
  }
  *result = NewHandle(ref.root, std::move(path), access);
  return ERROR_SUCCESS;
}

LONG CreateKey(HKEY key, const std::wstring& subKey, DWORD options, REGSAM access, PHKEY result,
               DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  std::vector<std::wstring> names;
  if (LONG rc = SplitPath(subKey, &names); rc != ERROR_SUCCESS) return rc;
  if (ref.path.size() + names.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  for (const std::wstring& name : names) {
    if (!IsStorableName(name) || Utf16Length(name) > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
  }
  // An existing key is opened without taking the write lock.
  const LONG opened = OpenKey(key, subKey, access, result);
  if (opened != ERROR_FILE_NOT_FOUND) {
    if (opened == ERROR_SUCCESS && disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
    return opened;
  }
  if (LONG rc = Require(ref, KEY_CREATE_SUB_KEY); rc != ERROR_SUCCESS) return rc;
  std::vector<std::wstring> path;
  bool created = false;
  const LONG rc = WriteKey(ref, [&](const Key& base, std::string* change) -> LONG {
    path = ref.path;
    created = false;
    const Key* at = &base;
    for (const std::wstring& name : names) {
      at = at == nullptr ? nullptr : at->FindSubKey(name);
      created = created || at == nullptr;
      path.push_back(at == nullptr ? name : at->name);
    }
    if (created) *change = CreateKeyChange(ref.root, path);
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  *result = NewHandle(ref.root, std::move(path), access);
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, const std::wstring& name, bool narrow, DWORD* type, BYTE* data, DWORD* size) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_QUERY_VALUE); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<const Key> tree;
  const Key* at = nullptr;
  if (LONG rc = ReadKey(ref, &tree, &at); rc != ERROR_SUCCESS) return rc;
  const Value* value = at->FindValue(name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  return Deliver(DataView(*value, narrow), value->type, type, data, size);
}

LONG SetValue(HKEY key, Value value) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_SET_VALUE); rc != ERROR_SUCCESS) return rc;
  if (!IsStorableName(value.name) || Utf16Length(value.name) > kMaxValueNameLength) {
    return ERROR_INVALID_PARAMETER;
  }
  return WriteKey(ref, [&](const Key&, std::string* change) -> LONG {
    *change = SetValueChange(ref.root, ref.path, value);
    return ERROR_SUCCESS;
  });
}

LONG DeleteValue(HKEY key, const std::wstring& name) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_SET_VALUE); rc != ERROR_SUCCESS) return rc;
  return WriteKey(ref, [&](const Key& at, std::string* change) -> LONG {
    if (at.FindValue(name) == nullptr) return ERROR_FILE_NOT_FOUND;
    *change = DeleteValueChange(ref.root, ref.path, name);
    return ERROR_SUCCESS;
  });
}

LONG DeleteKey(HKEY key, const std::wstring& subKey) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_CREATE_SUB_KEY); rc != ERROR_SUCCESS) return rc;
  std::vector<std::wstring> names;
  if (LONG rc = SplitPath(subKey, &names); rc != ERROR_SUCCESS) return rc;
  std::vector<std::wstring> path = ref.path;
  path.insert(path.end(), names.begin(), names.end());
  if (path.empty()) return ERROR_ACCESS_DENIED;
  return UpdateRoot(ref.root, [&](const Key& tree, std::string* change) -> LONG {
    if (Find(tree, ref.path) == nullptr) return ERROR_KEY_DELETED;
    const Key* target = Find(tree, path);
    if (target == nullptr) return ERROR_FILE_NOT_FOUND;
    if (!target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    *change = DeleteKeyChange(ref.root, path);
    return ERROR_SUCCESS;
  });
}

LONG EnumKey(HKEY key, DWORD index, std::wstring* name) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_ENUMERATE_SUB_KEYS); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<const Key> tree;
  const Key* at = nullptr;
  if (LONG rc = ReadKey(ref, &tree, &at); rc != ERROR_SUCCESS) return rc;
  if (index >= at->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  *name = std::next(at->subkeys.begin(), index)->second->name;
  return ERROR_SUCCESS;
}

template <typename C>
LONG EnumKeyInto(HKEY key, DWORD index, C* name, DWORD* size) {
  if (name == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  std::wstring found;
  if (LONG rc = EnumKey(key, index, &found); rc != ERROR_SUCCESS) return rc;
  if constexpr (sizeof(C) == 1) {
    return CopyName(ToAnsi(found), name, size);
  } else {
    return CopyName(found, name, size);
  }
}

template <typename C>
LONG EnumKeyExInto(HKEY key, DWORD index, C* name, DWORD* size, C* className, DWORD* classSize,
                   FILETIME* lastWriteTime) {
  const LONG rc = EnumKeyInto(key, index, name, size);
  if (rc == ERROR_SUCCESS) {
    ClearClass(className, classSize);
    ClearTime(lastWriteTime);
  }
  return rc;
}

template <typename C>
LONG EnumValueInto(HKEY key, DWORD index, C* name, DWORD* nameSize, DWORD* type, BYTE* data,
                   DWORD* dataSize) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_QUERY_VALUE); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<const Key> tree;
  const Key* at = nullptr;
  if (LONG rc = ReadKey(ref, &tree, &at); rc != ERROR_SUCCESS) return rc;
  if (index >= at->values().size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = at->values()[index];
  constexpr bool narrow = sizeof(C) == 1;
  LONG rc;
  if constexpr (narrow) {
    rc = CopyName(ToAnsi(value.name), name, nameSize);
  } else {
    rc = CopyName(value.name, name, nameSize);
  }
  if (rc != ERROR_SUCCESS) return rc;
  return Deliver(DataView(value, narrow), value.type, type, data, dataSize);
}

template <typename C>
LONG QueryInfo(HKEY key, C* className, DWORD* classSize, DWORD* subKeys, DWORD* maxSubKeyLen,
               DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen, DWORD* maxValueLen,
               DWORD* securityDescriptorSize, FILETIME* lastWriteTime) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Require(ref, KEY_QUERY_VALUE); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<const Key> tree;
  const Key* at = nullptr;
  if (LONG rc = ReadKey(ref, &tree, &at); rc != ERROR_SUCCESS) return rc;
  constexpr bool narrow = sizeof(C) == 1;
  const auto length = [](const std::wstring& name) -> DWORD {
    return static_cast<DWORD>(narrow ? ToAnsi(name).size() : name.size());
  };
  DWORD longestKey = 0, longestName = 0, largest = 0;
  for (const auto& [folded, sub] : at->subkeys) longestKey = std::max(longestKey, length(sub->name));
  for (const Value& value : at->values()) {
    longestName = std::max(longestName, length(value.name));
    largest = std::max(largest, static_cast<DWORD>(DataView(value, narrow).size()));
  }
  ClearClass(className, classSize);
  if (subKeys != nullptr) *subKeys = static_cast<DWORD>(at->subkeys.size());
  if (maxSubKeyLen != nullptr) *maxSubKeyLen = longestKey;
  if (maxClassLen != nullptr) *maxClassLen = 0;
  if (values != nullptr) *values = static_cast<DWORD>(at->values().size());
  if (maxValueNameLen != nullptr) *maxValueNameLen = longestName;
  if (maxValueLen != nullptr) *maxValueLen = largest;
  if (securityDescriptorSize != nullptr) *securityDescriptorSize = 0;
  ClearTime(lastWriteTime);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace morvale::registry

using namespace morvale::registry;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, PHKEY result) {
  return OpenKey(key, FromAnsi(subKey), access, result);
}

LONG RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD, REGSAM access, PHKEY result) {
  return OpenKey(key, FromWide(subKey), access, result);
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD options, REGSAM access,
                     const void*, PHKEY result, DWORD* disposition) {
  return CreateKey(key, FromAnsi(subKey), options, access, result, disposition);
}

LONG RegCreateKeyExW(HKEY key, const wchar_t* subKey, DWORD, wchar_t*, DWORD options, REGSAM access,
                     const void*, PHKEY result, DWORD* disposition) {
  return CreateKey(key, FromWide(subKey), options, access, result, disposition);
}

LONG RegCloseKey(HKEY key) {
  KeyRef ref;
  if (LONG rc = Resolve(key, &ref); rc != ERROR_SUCCESS) return rc;
  {
    Handles& handles = TheHandles();
    std::lock_guard lock(handles.mutex);
    // Not a handle we gave out: a root, or closed by another thread meanwhile.
    if (handles.live.erase(key) == 0) return ERROR_SUCCESS;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  return QueryValue(key, FromAnsi(name), true, type, data, size);
}

LONG RegQueryValueExW(HKEY key, const wchar_t* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  return QueryValue(key, FromWide(name), false, type, data, size);
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  Value value{FromAnsi(name), type, {}, {}, {}};
  if (IsTextType(type)) {
    value.text = FromAnsi(reinterpret_cast<const char*>(data), static_cast<int>(size));
  } else {
    value.bytes.assign(data, data + size);
  }
  return SetValue(key, std::move(value));
}

LONG RegSetValueExW(HKEY key, const wchar_t* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  Value value{FromWide(name), type, {}, {}, {}};
  if (IsTextType(type)) {
    if (size % sizeof(wchar_t) != 0) return ERROR_INVALID_PARAMETER;
    value.text.resize(size / sizeof(wchar_t));
    if (size > 0) std::memcpy(value.text.data(), data, size);
    // The file keeps text as UTF-16: nothing beyond U+10FFFF fits it.
    for (wchar_t c : value.text) {
      if (static_cast<std::uint32_t>(c) > 0x10FFFF) return ERROR_INVALID_PARAMETER;
    }
  } else {
    value.bytes.assign(data, data + size);
  }
  return SetValue(key, std::move(value));
}

LONG RegDeleteValueA(HKEY key, const char* name) { return DeleteValue(key, FromAnsi(name)); }

LONG RegDeleteValueW(HKEY key, const wchar_t* name) { return DeleteValue(key, FromWide(name)); }

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, FromAnsi(subKey));
}

LONG RegDeleteKeyW(HKEY key, const wchar_t* subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, subKey);
}

LONG RegEnumKeyA(HKEY key, DWORD index, char* name, DWORD size) {
  return EnumKeyInto(key, index, name, &size);
}

LONG RegEnumKeyW(HKEY key, DWORD index, wchar_t* name, DWORD size) {
  return EnumKeyInto(key, index, name, &size);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* size, DWORD*, char* className,
                   DWORD* classSize, FILETIME* lastWriteTime) {
  return EnumKeyExInto(key, index, name, size, className, classSize, lastWriteTime);
}

LONG RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* size, DWORD*, wchar_t* className,
                   DWORD* classSize, FILETIME* lastWriteTime) {
  return EnumKeyExInto(key, index, name, size, className, classSize, lastWriteTime);
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  return EnumValueInto(key, index, name, nameSize, type, data, dataSize);
}

LONG RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameSize, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  return EnumValueInto(key, index, name, nameSize, type, data, dataSize);
}

LONG RegQueryInfoKeyA(HKEY key, char* className, DWORD* classSize, DWORD*, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values,
                      DWORD* maxValueNameLen, DWORD* maxValueLen, DWORD* securityDescriptorSize,
                      FILETIME* lastWriteTime) {
  return QueryInfo(key, className, classSize, subKeys, maxSubKeyLen, maxClassLen, values,
                   maxValueNameLen, maxValueLen, securityDescriptorSize, lastWriteTime);
}

LONG RegQueryInfoKeyW(HKEY key, wchar_t* className, DWORD* classSize, DWORD*, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values,
                      DWORD* maxValueNameLen, DWORD* maxValueLen, DWORD* securityDescriptorSize,
                      FILETIME* lastWriteTime) {
  return QueryInfo(key, className, classSize, subKeys, maxSubKeyLen, maxClassLen, values,
                   maxValueNameLen, maxValueLen, securityDescriptorSize, lastWriteTime);
}
