#include "foundation/registry.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/codepage.h"
#include "testing/registry_fixture.h"

namespace {

// A text as a hex(2) list: UTF-16LE with its terminator.
std::string ExpandSz(std::string_view text) {
  std::string out = "hex(2):";
  char buf[8];
  for (char c : text) {
    std::snprintf(buf, sizeof buf, "%02x,00,", static_cast<unsigned char>(c));
    out += buf;
  }
  return out + "00,00";
}

class RegistryClassTest : public morvale::testing::RegistryTest {
 protected:
  void SetUp() override {
    setenv("MORVALE_REGISTRY_TEST_DIR", "/opt/vendor", 1);
    registry_.WriteRoot(
        "HKLM",
        "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n"
        "\"Name\"=\"Value\"\n"
        "\"Text\"=\"hello world\"\n"
        "\"Tiny\"=\"abc\"\n"
        "\"Long\"=\"" + std::string(600, 'x') + "\"\n"
        "\"Count\"=dword:0000002a\n"
        "\"Minus\"=dword:ffffffff\n"
        "\"Off\"=dword:00000000\n"
        "\"Short\"=hex(4):01,02\n"
        "\"Blob\"=hex:01,02,03,04,05\n"
        "\"Path\"=" + ExpandSz("%MORVALE_REGISTRY_TEST_DIR%\\bin") + "\n"
        "\"Unknown\"=" + ExpandSz("%MORVALE_REGISTRY_TEST_UNSET%\\bin") + "\n"
        // 512 characters and no terminator: fills the read buffer exactly.
        "\"NoEnd\"=" + ExpandSz(std::string(512, 'a')).substr(0, 7 + 512 * 6 - 1) + "\n"
        "\"" + std::string(300, 'n') + "\"=\"too long a name\"\n"
        "\"Last\"=\"after the long name\"\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Alpha]\n"
        "\"Inner\"=dword:00000007\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Beta]\n");
  }
  void TearDown() override { unsetenv("MORVALE_REGISTRY_TEST_DIR"); }
};

TEST_F(RegistryClassTest, OpensOnceAndRefusesToRetargetAnOpenKey) {
  Registry missing("Software\\Nobody", false, false);
  EXPECT_FALSE(missing.Open(false));
  EXPECT_EQ(missing.LastError(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));

  Registry reg("Software\\Vendor", false, false);
  EXPECT_EQ(reg.view(), 0);
  ASSERT_TRUE(reg.Open(false));
  EXPECT_TRUE(reg.Open(true));  // already open: not reopened for writing
  EXPECT_FALSE(reg.SetDWORDW(L"Count", 1));
  EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(reg.OpenW(L"Software\\Vendor\\Alpha", false));
  EXPECT_FALSE(reg.CreateW(L"Software\\Vendor\\Gamma"));
  EXPECT_STREQ(reg.GetKeyName(), "Vendor");
  EXPECT_EQ(reg.Close(), 0);
  EXPECT_EQ(reg.Close(), 0);

  ASSERT_TRUE(reg.OpenW(L"Software\\Vendor\\Alpha", false));
  DWORD inner = 0;
  EXPECT_TRUE(reg.GetDWORD("Inner", &inner));
  EXPECT_EQ(inner, 7u);

  Registry created(false);
  EXPECT_EQ(created.GetKeyName(), nullptr);
  ASSERT_TRUE(created.CreateW(L"Software\\Vendor\\Gamma"));
  EXPECT_STREQ(created.GetKeyName(), "Gamma");
  EXPECT_TRUE(created.SetStringW(L"Made", L"by CreateW"));
  EXPECT_TRUE(created.SetDWORDW(L"Number", 99));
  created.Close();

  Registry user(L"Software\\Vendor\\Gamma", true, false);
  EXPECT_FALSE(user.Open(false));  // HKEY_CURRENT_USER holds no such key
  Registry back(L"Software\\Vendor\\Gamma", false, true);
  ASSERT_TRUE(back.Open(true));
  wchar_t text[32];
  DWORD number = 0;
  EXPECT_TRUE(back.GetStringW(L"made", text, 32));
  EXPECT_STREQ(text, L"by CreateW");
  EXPECT_TRUE(back.GetDWORDW(L"NUMBER", &number));
  EXPECT_EQ(number, 99u);
}

TEST_F(RegistryClassTest, CheckedNamesIgnoreCaseAndRefuseUnknownNamesWithoutAsking) {
  Registry reg("Software\\Vendor", false, true);
  ASSERT_TRUE(reg.Open(true));
  EXPECT_TRUE(reg.HasValueName("NAME"));
  EXPECT_TRUE(reg.HasValueNameW(L"name"));
  EXPECT_TRUE(reg.HasValueName("Last"));  // found past the name that was skipped
  EXPECT_FALSE(reg.HasValueName(std::string(300, 'n').c_str()));
  EXPECT_FALSE(reg.HasValueName(nullptr));
  EXPECT_EQ(reg.LoadValueNames(), static_cast<LONG>(ERROR_NO_MORE_ITEMS));

  char out[32];
  EXPECT_TRUE(reg.GetString("nAmE", out, sizeof out));
  EXPECT_STREQ(out, "Value");

  // A value set after the names were loaded is not read.
  ASSERT_TRUE(reg.SetDWORDW(L"Later", 5));
  DWORD later = 1;
  EXPECT_FALSE(reg.GetDWORD("Later", &later));
  EXPECT_EQ(reg.LastError(), 0);
  EXPECT_EQ(later, 1u);
  EXPECT_FALSE(reg.GetDWORDDefault("Later", &later, 3));
  EXPECT_EQ(later, 3u);

  Registry unchecked("Software\\Vendor", false, false);
  ASSERT_TRUE(unchecked.Open(false));
  EXPECT_TRUE(unchecked.GetDWORD("Later", &later));
  EXPECT_EQ(later, 5u);
}

// Every typed read of a value it cannot take: false, the output untouched,
// and the ...Default forms store their default.
TEST_F(RegistryClassTest, FailedReadsLeaveOutputsOrStoreTheDefault) {
  Registry reg("Software\\Vendor", false, false);
  Registry closed("Software\\Vendor", false, false);
  ASSERT_TRUE(reg.Open(false));
  const struct {
    const char* name;
    Registry* reg;
    LONG error;
  } cases[] = {
      {"Name", &reg, ERROR_MORE_DATA},  // REG_SZ of 6 bytes for a DWORD
      {"Tiny", &reg, 0},  // REG_SZ of 4 bytes: read, but of another type
      {"Blob", &reg, ERROR_MORE_DATA},  // 5 bytes do not fit a DWORD
      {"Short", &reg, 0},  // a REG_DWORD of 2 bytes
      {"Missing", &reg, ERROR_FILE_NOT_FOUND},
      {"Count", &closed, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring wide(c.name, c.name + std::strlen(c.name));
    DWORD dword = 77;
    int number = 77;
    bool flag = true;
    EXPECT_FALSE(c.reg->GetDWORD(c.name, &dword));
    EXPECT_EQ(c.reg->LastError(), c.error);
    EXPECT_FALSE(c.reg->GetDWORDW(wide.c_str(), &dword));
    EXPECT_FALSE(c.reg->GetInt(c.name, &number));
    EXPECT_FALSE(c.reg->GetIntW(wide.c_str(), &number));
    EXPECT_FALSE(c.reg->GetBoolW(wide.c_str(), &flag));
    EXPECT_EQ(dword, 77u);
    EXPECT_EQ(number, 77);
    EXPECT_TRUE(flag);

    EXPECT_FALSE(c.reg->GetDWORDDefault(c.name, &dword, 1));
    EXPECT_EQ(dword, 1u);
    EXPECT_FALSE(c.reg->GetDWORDDefaultW(wide.c_str(), &dword, 2));
    EXPECT_EQ(dword, 2u);
    EXPECT_FALSE(c.reg->GetIntDefault(c.name, &number, -3));
    EXPECT_EQ(number, -3);
    EXPECT_FALSE(c.reg->GetIntDefaultW(wide.c_str(), &number, -4));
    EXPECT_EQ(number, -4);
    EXPECT_FALSE(c.reg->GetBoolDefaultW(wide.c_str(), &flag, false));
    EXPECT_FALSE(flag);
  }
  char text[8] = "keep";
  wchar_t wide[8] = L"keep";
  int len = 9;
  EXPECT_FALSE(reg.GetString("Count", text, sizeof text));
  EXPECT_FALSE(reg.GetStringW(L"Blob", wide, 8));
  EXPECT_FALSE(reg.GetBinary("Name", text, sizeof text, &len));
  EXPECT_STREQ(text, "keep");
  EXPECT_STREQ(wide, L"keep");
  EXPECT_EQ(len, 9);
  EXPECT_FALSE(reg.GetStringDefaultW(L"Missing", wide, 8, L"default value"));
  EXPECT_STREQ(wide, L"default");
  EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryClassTest, ReadsNumbersAndBytes) {
  Registry reg("Software\\Vendor", false, false);
  ASSERT_TRUE(reg.Open(false));
  DWORD dword = 0;
  int number = 0;
  bool flag = true;
  EXPECT_TRUE(reg.GetDWORDDefault("Count", &dword, 5));
  EXPECT_EQ(dword, 42u);
  EXPECT_TRUE(reg.GetIntDefaultW(L"Minus", &number, 5));
  EXPECT_EQ(number, -1);
  EXPECT_TRUE(reg.GetBoolDefaultW(L"Off", &flag, true));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(reg.GetBoolW(L"Count", &flag));
  EXPECT_TRUE(flag);

  BYTE bytes[8] = {};
  int len = 0;
  ASSERT_TRUE(reg.GetBinary("Blob", bytes, 5, &len));
  EXPECT_EQ(len, 5);
  EXPECT_EQ(bytes[4], 5);

  // A value larger than the caller's buffer is refused, not written past it.
  BYTE small[4] = {9, 9, 9, 9};
  len = -1;
  EXPECT_FALSE(reg.GetBinary("Blob", small, sizeof small, &len));
  EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(len, -1);
  EXPECT_EQ(small[0], 9);
}

TEST_F(RegistryClassTest, StringsAreCutAndTerminatedOrRefusedWhenLargerThanTheReadBuffer) {
  Registry reg("Software\\Vendor", false, false);
  ASSERT_TRUE(reg.Open(false));
  char text[8];
  std::memset(text, '#', sizeof text);
  ASSERT_TRUE(reg.GetString("Text", text, 6));
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(text[6], '#');
  wchar_t wide[8];
  ASSERT_TRUE(reg.GetStringW(L"Text", wide, 6));
  EXPECT_STREQ(wide, L"hello");

  // 600 characters do not fit the 512 of the read buffer...
  char big[700];
  EXPECT_FALSE(reg.GetString("Long", big, 100));
  EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_MORE_DATA));
  wchar_t wideBig[700];
  EXPECT_FALSE(reg.GetStringW(L"Long", wideBig, 100));
  EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_MORE_DATA));
  // ...but do fit a caller's buffer of 601 or more.
  ASSERT_TRUE(reg.GetString("Long", big, sizeof big));
  EXPECT_EQ(std::strlen(big), 600u);
  ASSERT_TRUE(reg.GetStringW(L"Long", wideBig, 601));
  EXPECT_EQ(std::wcslen(wideBig), 600u);
}

TEST_F(RegistryClassTest, ExpandsEnvironmentVariablesAndFallsBackToTheRawText) {
  Registry reg("Software\\Vendor", false, false);
  ASSERT_TRUE(reg.Open(false));
  const struct {
    const char* name;
    unsigned size;
    std::string expected;
  } cases[] = {
      {"Path", 64, "/opt/vendor\\bin"},
      {"Unknown", 64, "%MORVALE_REGISTRY_TEST_UNSET%\\bin"},
      // The expansion does not fit: the raw text, cut and terminated.
      {"Path", 12, "%MORVALE_RE"},
      {"NoEnd", 64, std::string(63, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.size));
    char text[64];
    std::memset(text, '#', sizeof text);
    ASSERT_TRUE(reg.GetString(c.name, text, c.size));
    EXPECT_EQ(std::string(text), c.expected);
    wchar_t wide[64];
    std::wmemset(wide, L'#', 64);
    const std::wstring name(c.name, c.name + std::strlen(c.name));
    ASSERT_TRUE(reg.GetStringW(name.c_str(), wide, c.size));
    EXPECT_EQ(std::wstring(wide), std::wstring(c.expected.begin(), c.expected.end()));
  }
}

TEST_F(RegistryClassTest, EnumeratesSubKeysWithTheirFullPaths) {
  for (const char* path : {"Software\\Vendor", "Software\\Vendor\\"}) {
    SCOPED_TRACE(path);
    Registry reg(path, false, false);
    ASSERT_TRUE(reg.Open(false));
    DWORD count = 9;
    ASSERT_TRUE(reg.GetSubKeyCount(&count));
    EXPECT_EQ(count, 2u);

    char full[64], name[4];
    ASSERT_TRUE(reg.EnumSubKey(1, full, sizeof full, name, sizeof name));
    EXPECT_STREQ(full, "Software\\Vendor\\Beta");
    EXPECT_STREQ(name, "Bet");
    wchar_t wideFull[64];
    ASSERT_TRUE(reg.EnumSubKeyW(0, wideFull, 64, nullptr, 0));
    EXPECT_STREQ(wideFull, L"Software\\Vendor\\Alpha");
    ASSERT_TRUE(reg.EnumSubKey(0, full, 10, nullptr, 0));
    EXPECT_STREQ(full, "Software\\");

    EXPECT_FALSE(reg.EnumSubKey(2, full, sizeof full, nullptr, 0));
    EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(reg.EnumSubKeyW(2, wideFull, 64, nullptr, 0));
    EXPECT_EQ(reg.LastError(), static_cast<LONG>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(reg.EnumSubKey(0, nullptr, 64, nullptr, 0));

    Registry sub(false);
    Registry closed(path, false, false);
    EXPECT_FALSE(closed.OpenSubKey(0, sub));
    ASSERT_TRUE(reg.OpenSubKey(0, sub));
    EXPECT_STREQ(sub.GetKeyName(), "Alpha");
    int inner = 0;
    EXPECT_TRUE(sub.GetInt("Inner", &inner));
    EXPECT_EQ(inner, 7);
    EXPECT_FALSE(reg.OpenSubKey(5, sub));
    EXPECT_EQ(sub.GetKeyName(), nullptr);
  }

  // Below a root the full path is the bare name.
  Registry root(HKEY_LOCAL_MACHINE, "", false);
  ASSERT_TRUE(root.Open(false));
  char full[32];
  ASSERT_TRUE(root.EnumSubKey(0, full, sizeof full, nullptr, 0));
  EXPECT_STREQ(full, "Software");
  Registry software(false);
  EXPECT_TRUE(root.OpenSubKey(0, software));

  Registry closed("Software\\Vendor", false, false);
  DWORD count = 9;
  EXPECT_FALSE(closed.GetSubKeyCount(&count));
  EXPECT_EQ(count, 0u);
}

TEST_F(RegistryClassTest, WidePathsAndNamesGoThroughTheAnsiCodePage) {
  SetAnsiCodePageForTesting(1252);
  Registry created(false);
  ASSERT_TRUE(created.CreateW(L"Software\\Caf\u00e9"));
  EXPECT_STREQ(created.GetKeyName(), "Caf\xE9");
  ASSERT_TRUE(created.SetStringW(L"\u00c9t\u00e9", L"summer"));
  created.Close();
  Registry reg("Software\\CAF\xC9", false, true);
  ASSERT_TRUE(reg.Open(false));
  EXPECT_TRUE(reg.HasValueNameW(L"\u00c9t\u00e9"));
  char out[16];
  EXPECT_TRUE(reg.GetString("\xC9t\xE9", out, sizeof out));
  EXPECT_STREQ(out, "summer");
  SetAnsiCodePageForTesting(0);
}

}  // namespace
