#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry/reg_file.h"
#include "platform/win32/codepage.h"
#include "testing/registry_fixture.h"

namespace {

using morvale::registry::ApplyJournalRecords;
using morvale::registry::JournalBase;
using morvale::registry::JournalRecord;
using morvale::registry::ParseJournalHeader;
using morvale::registry::Root;
using morvale::registry::SetValueChange;
using morvale::registry::Value;
using morvale::testing::RegistryTest;

const BYTE* Bytes(const wchar_t* text) { return reinterpret_cast<const BYTE*>(text); }
DWORD WideSize(const wchar_t* text) { return static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)); }

// Opens (creating) a key below HKEY_LOCAL_MACHINE; closes it at the end.
class Key {
 public:
  explicit Key(const wchar_t* path, REGSAM access = KEY_ALL_ACCESS) {
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The REG_DWORD value `name`, or the error of reading it.
LONG QueryDword(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD size = sizeof *value;
  return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
}

bool HasDword(HKEY key, const wchar_t* name, DWORD expected) {
  DWORD value = 0;
  return QueryDword(key, name, &value) == ERROR_SUCCESS && value == expected;
}

// A child process that runs `work` once released: another process using the
// registry, which starts from what this one had read when it was made.
class OtherProcess {
 public:
  explicit OtherProcess(const std::function<bool()>& work) {
    if (pipe(go_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(go_[1]);
      char byte = 0;
      const bool released = read(go_[0], &byte, 1) == 1;  // (a later child holds the pipe open too)
      _exit(released && work() ? 0 : 1);
    }
    close(go_[0]);
  }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;
  ~OtherProcess() {
    if (go_[1] >= 0) Succeeds();
  }

  // Releases it and waits for it: true when `work` returned true.
  bool Succeeds() {
    const bool released = write(go_[1], "x", 1) == 1;
    close(go_[1]);
    go_[1] = -1;
    int status = 0;
    return released && pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

 private:
  int go_[2] = {-1, -1};
  pid_t pid_ = -1;
};

bool InAnotherProcess(const std::function<bool()>& work) { return OtherProcess(work).Succeeds(); }

// Sets the modification time of a file to `seconds`, far enough in the past
// that the clock that stamps files has passed it.
void SetTime(const std::string& path, time_t seconds) {
  const timespec times[2] = {{seconds, 5}, {seconds, 5}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::wstring QueryText(HKEY key, const wchar_t* name) {
  wchar_t buf[256] = {};
  DWORD size = sizeof buf;
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  return std::wstring(buf);
}

TEST_F(RegistryTest, CreatesOpensAndClosesKeysWhateverTheCaseOfTheirNames) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vendor\\Product", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\vendor\\PRODUCT", 0, nullptr, 0,
                            KEY_READ, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  const struct {
    const wchar_t* path;
    LONG expected;
  } opens[] = {
      {L"software\\VENDOR\\product", ERROR_SUCCESS},
      {L"Software\\Vendor\\", ERROR_SUCCESS},
      {L"", ERROR_SUCCESS},
      {nullptr, ERROR_SUCCESS},
      {L"Software\\Other", ERROR_FILE_NOT_FOUND},
      {L"\\Software", ERROR_BAD_PATHNAME},
      {L"Software\\\\Vendor", ERROR_BAD_PATHNAME},
  };
  for (const auto& c : opens) {
    SCOPED_TRACE(c.path == nullptr ? "null" : std::string(c.path, c.path + wcslen(c.path)));
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.path, 0, KEY_READ, &opened), c.expected);
    if (opened != nullptr) {
      EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    }
  }

  // The names keep the case they were created with.
  EXPECT_NE(registry_.ReadFile("HKLM.reg.journal").find("[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Product]"),
            std::string::npos);
  EXPECT_EQ(registry_.ReadFile("HKCU.reg") + registry_.ReadFile("HKCU.reg.journal"), "");
}

TEST_F(RegistryTest, StaleAndForeignHandlesAreRefused) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u))), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, QueriesGiveSizesAndRefuseSmallBuffers) {
  Key key(L"Software\\Values");
  const DWORD dword = 42;
  const ULONGLONG qword = 0x0123456789abcdefULL;
  const BYTE binary[] = {1, 2, 3, 4, 5};
  const wchar_t multi[] = L"one\0two\0";  // and the array's own terminator
  const struct {
    const wchar_t* name;
    DWORD type;
    const BYTE* data;
    DWORD size;
  } cases[] = {
      {L"Text", REG_SZ, Bytes(L"hello"), WideSize(L"hello")},
      {L"Empty", REG_SZ, Bytes(L""), WideSize(L"")},
      {L"Expand", REG_EXPAND_SZ, Bytes(L"%HOME%\\x"), WideSize(L"%HOME%\\x")},
      {L"Multi", REG_MULTI_SZ, Bytes(multi), sizeof multi},
      {L"Dword", REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4},
      {L"Qword", REG_QWORD, reinterpret_cast<const BYTE*>(&qword), 8},
      {L"Binary", REG_BINARY, binary, sizeof binary},
      {L"NoBytes", REG_BINARY, nullptr, 0},
      {nullptr, REG_SZ, Bytes(L"default"), WideSize(L"default")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RegSetValueExW(key.get(), c.name, 0, c.type, c.data, c.size), ERROR_SUCCESS);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name == nullptr ? "default" : std::string(c.name, c.name + wcslen(c.name)));
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key.get(), c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.size);

    std::vector<BYTE> buf(c.size + 8, 0xAA);
    size = c.size;
    ASSERT_EQ(RegQueryValueExW(key.get(), c.name, nullptr, &type, buf.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, c.size);
    if (c.size > 0) {
      EXPECT_EQ(std::memcmp(buf.data(), c.data, c.size), 0);
    }
    EXPECT_EQ(buf[c.size], 0xAA);

    if (c.size > 0) {
      std::fill(buf.begin(), buf.end(), 0xAA);
      size = c.size - 1;
      EXPECT_EQ(RegQueryValueExW(key.get(), c.name, nullptr, &type, buf.data(), &size), ERROR_MORE_DATA);
      EXPECT_EQ(size, c.size);
      EXPECT_EQ(buf[0], 0xAA);
    }
  }
  DWORD size = 4;
  BYTE out[4];
  EXPECT_EQ(RegQueryValueExW(key.get(), L"Missing", nullptr, nullptr, out, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key.get(), L"Text", nullptr, nullptr, out, nullptr), ERROR_INVALID_PARAMETER);
  // Names are found whatever their case.
  EXPECT_EQ(QueryText(key.get(), L"TEXT"), L"hello");
  EXPECT_EQ(RegSetValueExW(key.get(), L"Odd", 0, REG_SZ, Bytes(L"ab"), 5), ERROR_INVALID_PARAMETER);
  const wchar_t beyond[] = {L'a', static_cast<wchar_t>(0x110000), L'\0'};
  EXPECT_EQ(RegSetValueExW(key.get(), L"Beyond", 0, REG_SZ, Bytes(beyond), sizeof beyond),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key.get(), L"Bad\nName", 0, REG_SZ, Bytes(L"x"), WideSize(L"x")),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, NarrowCallsConvertTextToTheAnsiCodePage) {
  SetAnsiCodePageForTesting(1252);
  Key key(L"Software\\Narrow");
  const char cafe[] = "Caf\xE9";
  ASSERT_EQ(RegSetValueExA(key.get(), "Na\xEFve", 0, REG_SZ, reinterpret_cast<const BYTE*>(cafe),
                           sizeof cafe),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key.get(), L"NA\u00cfVE"), L"Caf\u00e9");

  char buf[16] = {};
  DWORD size = 0, type = 0;
  ASSERT_EQ(RegQueryValueExA(key.get(), "na\xEFve", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key.get(), "na\xEFve", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key.get(), "na\xEFve", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(buf, cafe);
  EXPECT_EQ(type, REG_SZ);

  char name[8] = {};
  DWORD nameSize = sizeof name;
  size = sizeof buf;
  ASSERT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Na\xEFve");
  EXPECT_EQ(nameSize, 5u);

  ASSERT_EQ(RegCreateKeyExA(key.get(), "\xC9t\xE9", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExA(key.get(), "\xC9t\xE9", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(sub);
  ASSERT_EQ(RegEnumKeyA(key.get(), 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "\xC9t\xE9");
  EXPECT_EQ(RegDeleteKeyA(key.get(), "\xE9T\xC9"), ERROR_SUCCESS);
  SetAnsiCodePageForTesting(0);
}

TEST_F(RegistryTest, EnumeratesSubKeysAndValuesToTheEnd) {
  Key key(L"Software\\Enum");
  for (const wchar_t* name : {L"beta", L"Alpha", L"Gamma-Long-Name"}) {
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key.get(), name, 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_SUCCESS);
    RegCloseKey(sub);
  }
  ASSERT_EQ(RegSetValueExW(key.get(), L"Zed", 0, REG_SZ, Bytes(L"last"), WideSize(L"last")), ERROR_SUCCESS);
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(key.get(), L"A", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);

  // Sub-keys in the order of their names, whatever the case.
  std::vector<std::wstring> names;
  wchar_t name[32];
  DWORD index = 0;
  LONG rc;
  while ((rc = RegEnumKeyW(key.get(), index, name, 32)) == ERROR_SUCCESS) {
    names.push_back(name);
    ++index;
  }
  EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"Gamma-Long-Name"}));
  EXPECT_EQ(RegEnumKeyW(key.get(), 2, name, 15), ERROR_MORE_DATA);
  DWORD size = 16;
  wchar_t className[4] = L"cls";
  DWORD classSize = 4;
  FILETIME written{7, 7};
  ASSERT_EQ(RegEnumKeyExW(key.get(), 2, name, &size, nullptr, className, &classSize, &written), ERROR_SUCCESS);
  EXPECT_EQ(size, 15u);
  EXPECT_EQ(std::wstring(name), L"Gamma-Long-Name");
  EXPECT_EQ(className[0], L'\0');
  EXPECT_EQ(classSize, 0u);
  EXPECT_EQ(written.dwLowDateTime | written.dwHighDateTime, 0u);
  size = 15;
  EXPECT_EQ(RegEnumKeyExW(key.get(), 2, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

  // Values in the order they were set.
  DWORD nameSize = 32, type = 0, dataSize = 0;
  ASSERT_EQ(RegEnumValueW(key.get(), 0, name, &nameSize, nullptr, &type, nullptr, &dataSize), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name), L"Zed");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(dataSize, WideSize(L"last"));
  BYTE small[4];
  nameSize = 32;
  dataSize = sizeof small;
  EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &nameSize, nullptr, &type, small, &dataSize), ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, WideSize(L"last"));
  nameSize = 3;
  EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  nameSize = 32;
  EXPECT_EQ(RegEnumValueW(key.get(), 2, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                             &maxValueName, &maxValue, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(maxSubKey, 15u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 3u);
  EXPECT_EQ(maxValue, WideSize(L"last"));
  ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &maxValue, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(maxValue, 5u);
}

TEST_F(RegistryTest, HandlesHaveOnlyTheRightsTheyWereOpenedWith) {
  { Key make(L"Software\\Rights\\Existing"); }
  HKEY readOnly = nullptr, writeOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Rights", 0, KEY_READ | KEY_WOW64_64KEY, &readOnly),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Rights", 0, KEY_WRITE, &writeOnly), ERROR_SUCCESS);
  const DWORD one = 1;
  const auto* data = reinterpret_cast<const BYTE*>(&one);
  EXPECT_EQ(RegSetValueExW(readOnly, L"V", 0, REG_DWORD, data, 4), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(readOnly, L"V"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(readOnly, L"Existing"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExW(readOnly, L"New", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_ACCESS_DENIED);
  // Opening what exists needs no right to create.
  ASSERT_EQ(RegCreateKeyExW(readOnly, L"Existing", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_SUCCESS);
  RegCloseKey(sub);

  EXPECT_EQ(RegSetValueExW(writeOnly, L"V", 0, REG_DWORD, data, 4), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(writeOnly, L"V", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  wchar_t name[16];
  EXPECT_EQ(RegEnumKeyW(writeOnly, 0, name, 16), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExW(readOnly, L"V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  RegCloseKey(readOnly);
  RegCloseKey(writeOnly);
}

TEST_F(RegistryTest, DeletesValuesAndLeafKeys) {
  Key parent(L"Software\\Delete");
  { Key child(L"Software\\Delete\\Child\\Grandchild"); }
  ASSERT_EQ(RegSetValueExW(parent.get(), L"V", 0, REG_SZ, Bytes(L"x"), WideSize(L"x")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(parent.get(), L"v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(parent.get(), L"v"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteKeyW(parent.get(), L"Child"), ERROR_ACCESS_DENIED);
  HKEY grandchild = nullptr;
  ASSERT_EQ(RegOpenKeyExW(parent.get(), L"Child\\Grandchild", 0, KEY_READ, &grandchild), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(parent.get(), L"CHILD\\grandchild"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(parent.get(), L"Child\\Grandchild"), ERROR_FILE_NOT_FOUND);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(grandchild, L"x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  RegCloseKey(grandchild);
  EXPECT_EQ(RegDeleteKeyW(parent.get(), L"Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, ReadsEveryTypeOfAHandWrittenFile) {
  registry_.WriteRoot("HKLM",
                      "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n"
                      "\"Count\"=dword:0000002a\n"
                      "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"
                      "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
                      "\"Name\"=\"Quoted \\\"name\\\"\"\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vendor", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = sizeof value, type = 0;
  ASSERT_EQ(RegQueryValueExW(key, L"Count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(QueryText(key, L"Path"), L"%HOME%");
  EXPECT_EQ(QueryText(key, L"Name"), L"Quoted \"name\"");
  wchar_t list[8];
  size = sizeof list;
  ASSERT_EQ(RegQueryValueExW(key, L"List", nullptr, &type, reinterpret_cast<BYTE*>(list), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(std::wstring(list, size / sizeof(wchar_t)), std::wstring(L"a\0b\0", 5));
  RegCloseKey(key);
}

TEST_F(RegistryTest, AnOpenKeySeesTheFileAsEditedBehindItsBack) {
  registry_.WriteRoot("HKCU", "[HKEY_CURRENT_USER\\Software\\Vendor]\n\"Name\"=\"before\"\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vendor", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, L"Name"), L"before");
  registry_.WriteRoot("HKCU", "[HKEY_CURRENT_USER\\Software\\Vendor]\n\"Name\"=\"after, longer\"\n");
  EXPECT_EQ(QueryText(key, L"Name"), L"after, longer");
  // Rewritten in place at once with text of the same size.
  registry_.WriteRoot("HKCU", "[HKEY_CURRENT_USER\\Software\\Vendor]\n\"Name\"=\"AFTER, LONGER\"\n");
  EXPECT_EQ(QueryText(key, L"Name"), L"AFTER, LONGER");
  registry_.WriteRoot("HKCU", "[HKEY_CURRENT_USER\\Software]\n");
  EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ADamagedFileIsReportedAndNeverOverwritten) {
  const std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n";
  registry_.WriteFile("HKLM.reg", damaged);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ, &key), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BADDB);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_BADDB);
  EXPECT_EQ(registry_.ReadFile("HKLM.reg"), damaged);
}

// The original platform's limits: 255 characters a key name (one level of a
// path), 512 levels below a root, 16,383 characters a value name; names
// count UTF-16 units. Nothing is written for a refused call.
TEST_F(RegistryTest, RefusesNamesLongerAndKeysDeeperThanThePlatformAllows) {
  const std::wstring astral(128, L'\U0001F600');  // 256 UTF-16 units
  const auto levels = [](const wchar_t* top, int count) {
    std::wstring path = top;
    for (int i = 1; i < count; ++i) path += L"\\d";
    return path;
  };
  const struct {
    const char* what;
    std::wstring path;
    LONG expected;
  } keys[] = {
      {"255 characters", L"Software\\" + std::wstring(255, L'k'), ERROR_SUCCESS},
      {"256 characters", L"Software\\" + std::wstring(256, L'k'), ERROR_INVALID_PARAMETER},
      {"256 in the middle", L"Software\\" + std::wstring(256, L'm') + L"\\Leaf", ERROR_INVALID_PARAMETER},
      {"256 UTF-16 units", L"Software\\" + astral, ERROR_INVALID_PARAMETER},
      {"narrow, 255 bytes", L"Narrow\\" + std::wstring(255, L'n'), ERROR_SUCCESS},
      {"narrow, 256 bytes", L"Narrow\\" + std::wstring(256, L'n'), ERROR_INVALID_PARAMETER},
      {"512 levels", levels(L"Deep", 512), ERROR_SUCCESS},
      {"513 levels", levels(L"Deeper", 513), ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : keys) {
    SCOPED_TRACE(c.what);
    HKEY key = nullptr;
    const LONG rc = c.path.rfind(L"Narrow", 0) == 0
                        ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, std::string(c.path.begin(), c.path.end()).c_str(), 0,
                                          nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
                        : RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                          nullptr, &key, nullptr);
    EXPECT_EQ(rc, c.expected);
    if (key != nullptr) RegCloseKey(key);
  }
  EXPECT_EQ(registry_.ReadFile("HKLM.reg").find("mmm"), std::string::npos);
  EXPECT_EQ(registry_.ReadFile("HKLM.reg").find("Deeper"), std::string::npos);
  {
    // Counted from the root, also below an open key 511 levels down.
    HKEY deepest = nullptr, below = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, levels(L"Deep", 511).c_str(), 0, KEY_ALL_ACCESS, &deepest),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExW(deepest, L"d", 0, nullptr, 0, KEY_READ, nullptr, &below, nullptr), ERROR_SUCCESS);
    if (below != nullptr) RegCloseKey(below);
    EXPECT_EQ(RegCreateKeyExW(deepest, L"d\\e", 0, nullptr, 0, KEY_READ, nullptr, &below, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(deepest);
  }

  Key key(L"Software\\Names");
  const DWORD one = 1;
  const struct {
    size_t length;
    LONG expected;
  } values[] = {{16383, ERROR_SUCCESS}, {16384, ERROR_INVALID_PARAMETER}, {100000, ERROR_INVALID_PARAMETER}};
  for (const auto& c : values) {
    SCOPED_TRACE(c.length);
    const std::wstring name(c.length, L'v');
    EXPECT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              c.expected);
    EXPECT_EQ(RegSetValueExA(key.get(), std::string(c.length, 'a').c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), 4),
              c.expected);
  }
  DWORD count = 0, longest = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(longest, 16383u);
}

// A file is read again only when its identity, size or modification time
// changed: a file rewritten in place behind the reader's back with all three
// kept is not read (its time set back far enough that the clock that stamps
// files has passed it), while a change of any of them is seen.
TEST_F(RegistryTest, ReadsAFileAgainOnlyWhenItChanged) {
  const std::string path = registry_.path() + "/HKLM.reg";
  const time_t past = time(nullptr) - 100;
  registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software]\n\"Name\"=\"first\"\n");
  SetTime(path, past);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(key, L"Name"), L"first");

  registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software]\n\"Name\"=\"FIRST\"\n");
  SetTime(path, past);
  EXPECT_EQ(QueryText(key, L"Name"), L"first") << "the unchanged file was read again";

  SetTime(path, past + 1);
  EXPECT_EQ(QueryText(key, L"Name"), L"FIRST");
  registry_.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software]\n\"Name\"=\"second!\"\n");
  SetTime(path, past + 1);
  EXPECT_EQ(QueryText(key, L"Name"), L"second!");
  const std::string other = registry_.path() + "/other.reg";
  registry_.WriteRoot("other", "[HKEY_LOCAL_MACHINE\\Software]\n\"Name\"=\"third!!\"\n");
  ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
  SetTime(path, past + 1);
  EXPECT_EQ(QueryText(key, L"Name"), L"third!!");
  RegCloseKey(key);
}

// Writes go to the journal and leave the hand-edited file as it is; the
// write that merges the journal into the file keeps its comments.
TEST_F(RegistryTest, AWriteKeepsTheCommentsOfAHandEditedFile) {
  const std::string edited =
      "Windows Registry Editor Version 5.00\n\n"
      "; kept by the operator\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Vendor]\n"
      "; how many retries\n"
      "\"Retries\"=dword:00000003\n"
      "; the end of the vendor's settings\n";
  registry_.WriteFile("HKCU.reg", edited);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vendor", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const DWORD five = 5;
  ASSERT_EQ(RegSetValueExW(key, L"RETRIES", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five), 4),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"Added", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five), 4), ERROR_SUCCESS);
  EXPECT_EQ(registry_.ReadFile("HKCU.reg"), edited);
  EXPECT_NE(registry_.ReadFile("HKCU.reg.journal").find("\"Added\"=dword:00000005\n"), std::string::npos);

  // A value longer than the journal may grow makes the write merge it.
  const std::wstring big(70000, L'x');
  ASSERT_EQ(RegSetValueExW(key, L"Big", 0, REG_SZ, Bytes(big.c_str()), WideSize(big.c_str())), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(registry_.ReadFile("HKCU.reg"),
            "Windows Registry Editor Version 5.00\n"
            "; generation 1 of this file; later changes are in its journal\n\n"
            "; kept by the operator\n"
            "[HKEY_CURRENT_USER]\n\n"
            "[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Vendor]\n"
            "; how many retries\n"
            "\"Retries\"=dword:00000005\n"
            "\"Added\"=dword:00000005\n"
            "\"Big\"=\"" + std::string(big.begin(), big.end()) + "\"\n"
            "; the end of the vendor's settings\n\n");
  EXPECT_FALSE(std::filesystem::exists(registry_.path() + "/HKCU.reg.journal"));
}

// Runs a process that writes REG_BINARY values of `size` bytes into the key
// at `path` without end, the one of write i named name(i) and starting with
// the byte i, and kills it once it has finished `writes` of them (it may be
// amid the next). Returns the number of the last write it finished.
DWORD KillAWriter(const wchar_t* path, size_t size, const std::function<std::wstring(DWORD)>& name, int writes) {
  int acks[2];
  if (pipe(acks) != 0) {
    ADD_FAILURE() << "no pipe";
    return 0;
  }
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "no child";
    close(acks[0]);
    close(acks[1]);
    return 0;
  }
  if (child == 0) {
    close(acks[0]);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, &key) != ERROR_SUCCESS) _exit(1);
    std::vector<BYTE> data(size, 0x5A);
    for (DWORD i = 0;; ++i) {
      data[0] = static_cast<BYTE>(i);
      if (RegSetValueExW(key, name(i).c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) !=
              ERROR_SUCCESS ||
          write(acks[1], &i, sizeof i) != sizeof i) {
        _exit(1);
      }
    }
  }
  close(acks[1]);
  DWORD last = 0;
  for (int n = 0; n < writes; ++n) {
    if (read(acks[0], &last, sizeof last) != static_cast<ssize_t>(sizeof last)) ADD_FAILURE() << "the writer failed";
  }
  EXPECT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  while (read(acks[0], &last, sizeof last) == static_cast<ssize_t>(sizeof last)) {
  }
  close(acks[0]);
  return last;
}

// A writer killed at any point while it rewrites the file (each write of a
// value this large does) leaves the file whole (the old or the new text) and
// at most its temporary file, which the next write removes; files of other
// names beside it are left alone.
TEST_F(RegistryTest, AWriterKilledMidWriteLeavesAWholeFileAndNoTemporary) {
  { Key make(L"Software\\Big"); }
  const size_t blob = 256 * 1024;
  KillAWriter(L"Software\\Big", blob, [](DWORD) { return std::wstring(L"Blob"); }, 3);

  // What a writer killed between creating and renaming its file leaves, and
  // files of names the store does not make.
  registry_.WriteFile("HKLM.reg.partial", "Windows Registry Editor Version 5.00\n\n[HKEY_LOC");
  registry_.WriteFile("HKLM.reg.backup", "kept");
  registry_.WriteFile("HKLM.reg.a1B2c3", "kept");

  Key key(L"Software\\Big");
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key.get(), L"Blob", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, blob);
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(key.get(), L"After", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(registry_.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"HKLM.reg", "HKLM.reg.a1B2c3", "HKLM.reg.backup", "HKLM.reg.journal",
                                             "HKLM.reg.lock"}));
}

TEST(RegistryDirectory, WithNeitherVariableNothingIsReached) {
  morvale::testing::ScopedRegistryDirectory scoped;
  const char* home = std::getenv("HOME");
  const std::string previousHome = home != nullptr ? home : "";
  unsetenv("MORVALE_REGISTRY_DIR");
  unsetenv("HOME");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key), ERROR_PATH_NOT_FOUND);
  setenv("HOME", scoped.path().c_str(), 1);
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_NE(scoped.ReadFile(".morvale/registry/HKLM.reg.journal").find("[HKEY_LOCAL_MACHINE\\Software]"),
            std::string::npos);
  if (home != nullptr) {
    setenv("HOME", previousHome.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

// A process that has read a root brings it up to date with the records that
// other processes append to the journal, reading only those. The file, here
// changed in place behind its back with its identity kept, is not read again:
// read again, it would show Kept=8.
TEST_F(RegistryTest, AProcessReadsOnlyTheRecordsOthersAppendToTheJournal) {
  const std::string path = registry_.path() + "/HKLM.reg";
  const time_t past = time(nullptr) - 100;
  registry_.WriteRoot("HKLM",
                      "[HKEY_LOCAL_MACHINE\\Software\\Shared]\n\"Before\"=dword:00000001\n\"Kept\"=dword:00000007\n");
  SetTime(path, past);
  Key key(L"Software\\Shared");
  ASSERT_EQ(SetDword(key.get(), L"Start", 1), ERROR_SUCCESS);  // starts the journal
  std::string text = registry_.ReadFile("HKLM.reg");
  text.replace(text.find("00000007"), 8, "00000008");
  registry_.WriteFile("HKLM.reg", text);
  SetTime(path, past);

  const auto hasKey = [&key](const wchar_t* name) {
    HKEY sub = nullptr;
    const LONG rc = RegOpenKeyExW(key.get(), name, 0, KEY_READ, &sub);
    if (rc == ERROR_SUCCESS) RegCloseKey(sub);
    return rc == ERROR_SUCCESS;
  };
  const auto lacks = [&key](const wchar_t* name) {
    DWORD value = 0;
    return QueryDword(key.get(), name, &value) == ERROR_FILE_NOT_FOUND;
  };
  const struct {
    const char* what;
    std::function<bool()> change;  // made by another process
    std::function<bool()> seen;    // by this one
  } steps[] = {
      {"a value set", [&] { return SetDword(key.get(), L"A", 1) == ERROR_SUCCESS; },
       [&] { return HasDword(key.get(), L"A", 1); }},
      {"keys created",
       [&] {
         HKEY leaf = nullptr;
         const bool ok = RegCreateKeyExW(key.get(), L"Sub\\Leaf", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &leaf,
                                         nullptr) == ERROR_SUCCESS &&
                         SetDword(leaf, L"V", 2) == ERROR_SUCCESS;
         RegCloseKey(leaf);
         return ok;
       },
       [&] { return hasKey(L"sub\\LEAF"); }},
      {"a value deleted", [&] { return RegDeleteValueW(key.get(), L"Before") == ERROR_SUCCESS; },
       [&] { return lacks(L"Before"); }},
      {"a key deleted", [&] { return RegDeleteKeyW(key.get(), L"Sub\\Leaf") == ERROR_SUCCESS; },
       [&] { return !hasKey(L"Sub\\Leaf") && hasKey(L"Sub"); }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    EXPECT_FALSE(step.seen());
    ASSERT_TRUE(InAnotherProcess(step.change));
    EXPECT_TRUE(step.seen());
  }
  EXPECT_TRUE(HasDword(key.get(), L"Kept", 7));
  EXPECT_EQ(registry_.ReadFile("HKLM.reg"), text);

  // Once the file's time tells that it changed, it is read again, with the
  // journal's changes on top.
  SetTime(path, past + 1);
  EXPECT_TRUE(HasDword(key.get(), L"Kept", 8));
  EXPECT_TRUE(HasDword(key.get(), L"A", 1) && lacks(L"Before") && hasKey(L"Sub") && !hasKey(L"Sub\\Leaf"));
}

// The value of `i` that MergeBoundary writes: 10,000 characters.
std::wstring LongText(int i) { return std::wstring(10000, static_cast<wchar_t>(L'a' + i)); }

bool HoldsLongText(HKEY key, int i) {
  const std::wstring name = L"v" + std::to_wstring(i);
  std::wstring buf(10001, L'\0');
  DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
  return RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()), &size) ==
             ERROR_SUCCESS &&
         buf.c_str() == LongText(i);
}

// The write that would grow the journal past the file's size (at least
// 64 KiB) merges it into a file of the next generation, and the writes after
// it start a journal over that file. A process that had read the root before
// all of them reads every value after them.
TEST_F(RegistryTest, ValuesWrittenBeforeAndAfterAMergeAreAllRead) {
  Key key(L"Software\\Merge");
  constexpr int kValues = 10;
  OtherProcess reader([&key] {
    for (int i = 0; i < kValues; ++i) {
      if (!HoldsLongText(key.get(), i)) return false;
    }
    return true;
  });
  std::vector<int> merged;
  for (int i = 0; i < kValues; ++i) {
    const std::wstring name = L"v" + std::to_wstring(i);
    const std::wstring text = LongText(i);
    ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, Bytes(text.c_str()), WideSize(text.c_str())),
              ERROR_SUCCESS);
    if (!std::filesystem::exists(registry_.path() + "/HKLM.reg.journal")) merged.push_back(i);
  }
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_GT(merged[0], 0);
  EXPECT_LT(merged[0], kValues - 1);
  EXPECT_EQ(registry_.ReadFile("HKLM.reg").rfind(
                "Windows Registry Editor Version 5.00\n; generation 1 of this file; later changes are in its journal\n",
                0),
            0u);
  EXPECT_EQ(registry_.ReadFile("HKLM.reg.journal")
                .rfind("Windows Registry Editor Version 5.00\n; changes since generation 1 of the registry file (", 0),
            0u);
  for (int i = 0; i < kValues; ++i) EXPECT_TRUE(HoldsLongText(key.get(), i)) << i;
  EXPECT_TRUE(reader.Succeeds());
}

// A record cut short at the end of the journal (by a writer killed while it
// appended) is ignored by readers; the next write cuts it off, and its own
// record is then the journal's last.
TEST_F(RegistryTest, ARecordCutShortIsIgnoredAndCutOffByTheNextWrite) {
  Key key(L"Software\\Torn");
  ASSERT_EQ(SetDword(key.get(), L"Whole", 1), ERROR_SUCCESS);
  const auto before = [&key] {
    DWORD value = 0;
    return HasDword(key.get(), L"Whole", 1) &&
           QueryDword(key.get(), L"Cut short, longer than the next record", &value) == ERROR_FILE_NOT_FOUND;
  };
  const auto after = [&key, before] { return before() && HasDword(key.get(), L"After", 3); };
  OtherProcess readsTorn(before);
  OtherProcess readsAfter(after);

  const std::string whole = registry_.ReadFile("HKLM.reg.journal");
  const std::vector<std::wstring> path{L"Software", L"Torn"};
  const std::string cut = JournalRecord(SetValueChange(
      Root::kLocalMachine, path, Value{L"Cut short, longer than the next record", REG_DWORD, {}, {2, 0, 0, 0}, {}}));
  registry_.WriteFile("HKLM.reg.journal", whole + cut.substr(0, cut.size() - 3));
  EXPECT_TRUE(before());
  EXPECT_TRUE(readsTorn.Succeeds());

  ASSERT_EQ(SetDword(key.get(), L"After", 3), ERROR_SUCCESS);
  EXPECT_EQ(registry_.ReadFile("HKLM.reg.journal"),
            whole + JournalRecord(SetValueChange(Root::kLocalMachine, path,
                                                 Value{L"After", REG_DWORD, {}, {3, 0, 0, 0}, {}})));
  EXPECT_TRUE(after());
  EXPECT_TRUE(readsAfter.Succeeds());
}

// A writer killed at any point of its appends (or of the merges between
// them) loses none of the writes it finished; the next write goes on from the
// whole records, and the journal holds nothing else.
TEST_F(RegistryTest, AWriterKilledWhileItAppendsLosesNoFinishedWrite) {
  { Key make(L"Software\\Killed"); }
  const auto name = [](DWORD i) { return L"v" + std::to_wstring(i); };
  const DWORD last = KillAWriter(L"Software\\Killed", 3000, name, 40);  // records of about 9 KB

  Key key(L"Software\\Killed");
  for (DWORD i = 0; i <= last; ++i) {
    BYTE data[3000] = {};
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key.get(), name(i).c_str(), nullptr, nullptr, data, &size), ERROR_SUCCESS) << i;
    EXPECT_EQ(data[0], static_cast<BYTE>(i));
  }
  ASSERT_EQ(SetDword(key.get(), L"After", 1), ERROR_SUCCESS);
  const std::string journal = registry_.ReadFile("HKLM.reg.journal");
  JournalBase base;
  size_t header = 0, used = 0;
  ASSERT_TRUE(ParseJournalHeader(journal, &base, &header));
  morvale::registry::Key tree;
  std::string error;
  ASSERT_TRUE(ApplyJournalRecords(std::string_view(journal).substr(header), Root::kLocalMachine, &tree, &used, &error))
      << error;
  EXPECT_EQ(header + used, journal.size());
}

// A crash between the rename of a merged file and the removal of the journal
// leaves the journal beside the file that holds its changes: it is of the
// older generation, and not applied again (which would set X back to 1).
TEST_F(RegistryTest, AJournalLeftBehindByAMergeIsNotAppliedAgain) {
  Key key(L"Software\\Stale");
  ASSERT_EQ(SetDword(key.get(), L"X", 1), ERROR_SUCCESS);
  const std::string old = registry_.ReadFile("HKLM.reg.journal");
  const auto merged = [&key] { return HasDword(key.get(), L"X", 2); };
  OtherProcess reader(merged);
  ASSERT_EQ(SetDword(key.get(), L"X", 2), ERROR_SUCCESS);
  const std::wstring big(70000, L'x');  // longer than the journal may grow: merges it
  ASSERT_EQ(RegSetValueExW(key.get(), L"Big", 0, REG_SZ, Bytes(big.c_str()), WideSize(big.c_str())), ERROR_SUCCESS);
  ASSERT_FALSE(std::filesystem::exists(registry_.path() + "/HKLM.reg.journal"));

  registry_.WriteFile("HKLM.reg.journal", old);
  EXPECT_TRUE(merged());
  EXPECT_TRUE(reader.Succeeds());
  EXPECT_TRUE(InAnotherProcess(merged));

  // The next write replaces it with a journal over the merged file.
  ASSERT_EQ(SetDword(key.get(), L"Y", 3), ERROR_SUCCESS);
  EXPECT_EQ(registry_.ReadFile("HKLM.reg.journal")
                .rfind("Windows Registry Editor Version 5.00\n; changes since generation 1 of the registry file (", 0),
            0u);
  EXPECT_TRUE(merged());
  EXPECT_TRUE(HasDword(key.get(), L"Y", 3));
}

// A file edited by hand while its journal holds changes takes them on top
// of the edit (where both change a value, the journal's change stays), and
// the next write merges both into the file of the next generation. A file
// written again with the same bytes is the same version: its journal goes on.
TEST(RegistryHandEdit, AFileChangedUnderItsJournalTakesTheJournalsChangesOnTop) {
  using morvale::testing::ScopedRegistryDirectory;
  const auto rewrite = [](const ScopedRegistryDirectory& dir, const std::string& from, const std::string& to) {
    std::string text = dir.ReadFile("HKLM.reg");
    text.replace(text.find(from), from.size(), to);
    dir.WriteFile("HKLM.reg", text);
  };
  const struct {
    const char* what;
    std::function<void(const ScopedRegistryDirectory&)> edit;
    bool hasCount;
    DWORD count;
    const wchar_t* added;  // a value that the edit added, with the value 4
    bool merged;           // by the next write
  } cases[] = {
      {"a value changed, the size kept",
       [&](const ScopedRegistryDirectory& dir) { rewrite(dir, "dword:00000001", "dword:00000002"); }, true, 2,
       nullptr, true},
      {"a value the journal changed, changed again",
       [&](const ScopedRegistryDirectory& dir) {
         rewrite(dir, "\"Count\"=dword:00000001\n", "\"Count\"=dword:00000003\n\"Journal\"=dword:00000007\n");
       },
       true, 3, nullptr, true},
      {"a section appended",
       [](const ScopedRegistryDirectory& dir) {
         dir.WriteFile("HKLM.reg", dir.ReadFile("HKLM.reg") + "\n[HKEY_LOCAL_MACHINE\\Software\\Edited]\n\"New\"=dword:00000004\n");
       },
       true, 1, L"New", true},
      {"the file removed", [](const ScopedRegistryDirectory& dir) { std::filesystem::remove(dir.path() + "/HKLM.reg"); },
       false, 0, nullptr, true},
      {"the same bytes written again",
       [](const ScopedRegistryDirectory& dir) {
         const std::string text = dir.ReadFile("HKLM.reg");
         std::filesystem::remove(dir.path() + "/HKLM.reg");
         dir.WriteFile("HKLM.reg", text);
       },
       true, 1, nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedRegistryDirectory dir;
    dir.WriteRoot("HKLM", "[HKEY_LOCAL_MACHINE\\Software\\Edited]\n\"Count\"=dword:00000001\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Edited", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, L"Journal", 5), ERROR_SUCCESS);
    c.edit(dir);
    const auto state = [&c, key] {
      DWORD value = 0;
      return HasDword(key, L"Journal", 5) &&
             (c.hasCount ? HasDword(key, L"Count", c.count)
                         : QueryDword(key, L"Count", &value) == ERROR_FILE_NOT_FOUND) &&
             (c.added == nullptr || HasDword(key, c.added, 4));
    };
    EXPECT_TRUE(state());
    EXPECT_TRUE(InAnotherProcess(state));

    ASSERT_EQ(SetDword(key, L"Later", 6), ERROR_SUCCESS);
    EXPECT_TRUE(state());
    EXPECT_TRUE(HasDword(key, L"Later", 6));
    EXPECT_EQ(std::filesystem::exists(dir.path() + "/HKLM.reg.journal"), !c.merged);
    EXPECT_EQ(dir.ReadFile("HKLM.reg").find("; generation 1 of this file;") != std::string::npos, c.merged);
    RegCloseKey(key);
  }
}

// Two processes, each with two threads, write values into one key at once,
// while a third thread reads it: every write starts from the file's current
// text under the lock, so none is lost, and a reader sees the values grow.
TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
  { Key make(L"Software\\Shared"); }
  constexpr int kPerWriter = 60;
  const auto write = [](const char* prefix) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, KEY_WRITE, &key) != ERROR_SUCCESS) return false;
    bool ok = true;
    for (DWORD i = 0; i < kPerWriter; ++i) {
      const std::string name = prefix + std::to_string(i);
      ok = ok && RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4) ==
                     ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool second = false;
    std::thread other([&] { second = write("child-b-"); });
    const bool first = write("child-a-");
    other.join();
    _exit(first && second ? 0 : 1);
  }
  std::atomic<bool> writing{true};
  std::atomic<bool> readerOk{true};
  std::thread reader([&] {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, KEY_READ, &key) != ERROR_SUCCESS) {
      readerOk = false;
      return;
    }
    DWORD seen = 0;
    while (writing) {
      DWORD values = 0;
      if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS ||
          values < seen || values > 4u * kPerWriter) {
        readerOk = false;
      }
      seen = values;
    }
    RegCloseKey(key);
  });
  bool second = false;
  std::thread other([&] { second = write("parent-b-"); });
  const bool first = write("parent-a-");
  other.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  writing = false;
  reader.join();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(first && second);
  EXPECT_TRUE(readerOk);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 4u * kPerWriter);
  for (const char* prefix : {"parent-a-", "parent-b-", "child-a-", "child-b-"}) {
    const std::string name = std::string(prefix) + std::to_string(kPerWriter - 1);
    DWORD value = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, static_cast<DWORD>(kPerWriter - 1));
  }
  RegCloseKey(key);
}

}  // namespace
