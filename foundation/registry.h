// Registry: the system's one wrapper of a registry key.
//
// A caller builds one on the stack with a key path below HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER or any root, opens it, reads typed values with or without
// a default and lets the destructor close it. Nothing throws or logs: every
// operation answers with a boolean, and LastError() tells the registry's
// error code of the last failed call (0 when the operation failed only on its
// own preconditions: key not open, name not among the loaded value names,
// value of another type).
//
// The key path is narrow text in the ANSI code page; wide paths and names are
// converted on entry (ToNarrowString with CP_ACP). Opening and creating go
// through the narrow registry calls, value reads and writes through the
// narrow or wide calls as their names say.
//
// Buffer sizes. Narrow reads use a zeroed buffer of 512 bytes, or of the
// caller's size when that is 513 or more; wide reads the same in characters
// (sizeof(wchar_t) bytes each). A value larger than that buffer fails with
// LastError() ERROR_MORE_DATA (234) rather than being cut. Text that fits the
// buffer but not the caller's output is cut to size - 1 characters and
// terminated. Every read buffer is wiped before it is freed.
//
// With checkValueNames set, the names of the key's values are loaded when it
// is opened, and every read first checks (without regard to ASCII case) that
// its name is among them; a value added after the open is not seen.
//
// There is one registry view here: view() is 0 and no access mask ever gets
// KEY_WOW64_64KEY.
//
// Thread safety: an object is used by one thread at a time; there is no lock.
// Distinct objects may be used from any threads.
#pragma once

#include <set>
#include <string>

#include "platform/registry/registry.h"
#include "platform/win32/types.h"

class Registry {
 public:
  // None of the constructors opens the key. The first two take
  // HKEY_CURRENT_USER when currentUser is true, else HKEY_LOCAL_MACHINE.
  Registry(const char* path, bool currentUser, bool checkValueNames);
  Registry(const wchar_t* path, bool currentUser, bool checkValueNames);
  Registry(HKEY root, const char* path, bool checkValueNames);
  // HKEY_LOCAL_MACHINE and an empty path, to be set by OpenW or CreateW.
  explicit Registry(bool checkValueNames);
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;
  virtual ~Registry();

  // Opens the key for reading (and writing when `writable`); true at once
  // when it is already open.
  bool Open(bool writable);
  // Sets the path and opens; false when a key is already open.
  bool OpenW(const wchar_t* path, bool writable);
  // Sets the path and opens the key with all rights, creating it when
  // missing; false when a key is already open. Value names are not loaded.
  bool CreateW(const wchar_t* path);
  // Closes `target` and opens in it, for reading, sub-key number `index` of
  // this key (same root, full path from EnumSubKey).
  bool OpenSubKey(DWORD index, Registry& target);
  // Closes the key; the result of the close, 0 when nothing was open.
  // LastError() is not touched.
  LONG Close();

  // REG_SZ copied, REG_EXPAND_SZ expanded (the raw text, cut and terminated,
  // when the expansion fails or does not fit); `size` characters of output.
  bool GetString(const char* name, char* out, unsigned size);
  bool GetStringW(const wchar_t* name, wchar_t* out, unsigned size);
  // GetStringW; on failure `deflt` (null: empty) is copied into `out`, cut
  // and terminated. The result is GetStringW's.
  bool GetStringDefaultW(const wchar_t* name, wchar_t* out, unsigned size, const wchar_t* deflt);
  // REG_BINARY copied into `out` with its byte count in *len. A value larger
  // than `size` bytes is refused (LastError() 234) and nothing is written.
  bool GetBinary(const char* name, void* out, unsigned size, int* len);

  // REG_DWORD (exactly 4 bytes) reads. *out is set only on success; the
  // ...Default forms store `deflt` on every failure and still return false.
  bool GetDWORD(const char* name, DWORD* out);
  bool GetDWORDW(const wchar_t* name, DWORD* out);
  bool GetDWORDDefault(const char* name, DWORD* out, DWORD deflt);
  bool GetDWORDDefaultW(const wchar_t* name, DWORD* out, DWORD deflt);
  bool GetInt(const char* name, int* out);
  bool GetIntDefault(const char* name, int* out, int deflt);
  bool GetIntW(const wchar_t* name, int* out);
  bool GetIntDefaultW(const wchar_t* name, int* out, int deflt);
  bool GetBoolW(const wchar_t* name, bool* out);
  bool GetBoolDefaultW(const wchar_t* name, bool* out, bool deflt);

  // Writes (the key must be open for writing): REG_SZ with its terminator,
  // REG_DWORD.
  bool SetStringW(const wchar_t* name, const wchar_t* value);
  bool SetDWORDW(const wchar_t* name, DWORD value);

  // The number of sub-keys (*count is 0 on failure).
  bool GetSubKeyCount(DWORD* count);
  // Sub-key number `index`: its full path ("<path>\<name>", one backslash
  // whatever the path ends with; the bare name when the path is empty) into
  // fullPath, and its name into `name` when given; both cut and terminated.
  // False with LastError() 259 past the last sub-key. The narrow form needs
  // fullPath; in the wide form both outputs are optional.
  bool EnumSubKey(DWORD index, char* fullPath, unsigned fullPathSize, char* name, int nameSize);
  bool EnumSubKeyW(DWORD index, wchar_t* fullPath, unsigned fullPathSize, wchar_t* name,
                   int nameSize);

  // Reloads the names of the key's values; names of 256 characters or more
  // are skipped. Returns the code that ended the enumeration
  // (ERROR_NO_MORE_ITEMS when it ran to the end), 0 when the key is not open.
  LONG LoadValueNames();
  // The part of the path after its last backslash; null for an empty path.
  const char* GetKeyName() const;
  bool HasValueName(const char* name) const;
  bool HasValueNameW(const wchar_t* name) const;

  LONG LastError() const { return lastError_; }
  int view() const { return view_; }

 private:
  // Orders value names as stricmp does in the C locale.
  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };

  // The common start of every read: clears LastError() and says whether the
  // key is open and `name` may be read.
  bool MayRead(const char* name);
  bool MayRead(const wchar_t* name);
  // Queries a value; stores the error code of a failed call.
  bool Query(const char* name, DWORD* type, void* data, DWORD* size);
  bool Query(const wchar_t* name, DWORD* type, void* data, DWORD* size);
  template <typename C>
  bool ReadString(const C* name, C* out, unsigned size);
  template <typename C>
  bool ReadDWORD(const C* name, DWORD* out);
  // A DWORD read stored as an int (its bits) or a bool (non-zero).
  template <typename C, typename T>
  bool ReadDWORDAs(const C* name, T* out);
  template <typename C>
  bool EnumSubKeyInto(DWORD index, C* fullPath, unsigned fullPathSize, C* name, int nameSize);

  std::string path_;
  HKEY root_;
  HKEY key_ = nullptr;
  bool checkValueNames_;
  int view_ = 0;
  std::set<std::string, NameLess> valueNames_;
  LONG lastError_ = 0;
};
