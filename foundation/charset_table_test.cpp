#include "foundation/charset_table.h"

#include <string>

#include <gtest/gtest.h>

#include "testing/registry_fixture.h"

namespace {

class CharsetTableTest : public morvale::testing::RegistryTest {
 protected:
  // One sub-key of MIME\Database\Charset with one value line.
  static std::string Charset(const std::string& name, const std::string& value) {
    return "[HKEY_CLASSES_ROOT\\MIME\\Database\\Charset\\" + name + "]\n" + value + "\n";
  }
  static std::string Encoding(const std::string& name, const char* hex) {
    return Charset(name, std::string("\"InternetEncoding\"=dword:") + hex);
  }
  static std::string Alias(const std::string& name, const std::string& target) {
    return Charset(name, "\"AliasForCharset\"=\"" + target + "\"");
  }
};

TEST_F(CharsetTableTest, CodePagesAndAliasesOfAliasesInAnyOrder) {
  registry_.WriteRoot("HKCR",
                      Encoding("utf-8", "0000fde9") + Encoding("iso-8859-1", "00006faf") +
                          Alias("a-second", "b-first") +  // listed before its target
                          Alias("b-first", "UTF-8") +     // case does not matter
                          Alias("y-first", "iso-8859-1") + Alias("z-second", "y-first") +
                          Alias("loop-1", "loop-2") + Alias("loop-2", "loop-1") +
                          Alias("orphan", "no-such-charset") +
                          Charset("both", "\"InternetEncoding\"=dword:000004e4\n"
                                          "\"AliasForCharset\"=\"utf-8\"") +
                          Charset("neither", "\"Other\"=\"x\""));
  CharsetTable table;
  struct Case {
    const wchar_t* name;
    int codePage;  // 0: not in the table
  };
  const Case cases[] = {
      {L"utf-8", 65001},    {L"UTF-8", 65001},      {L"iso-8859-1", 28591},
      {L"b-first", 65001},  {L"a-second", 65001},   {L"y-first", 28591},
      {L"z-second", 28591}, {L"both", 1252},        {L"loop-1", 0},
      {L"loop-2", 0},       {L"orphan", 0},         {L"neither", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::wcslen(c.name)));
    int codePage = 0;
    EXPECT_EQ(table.Find(c.name, &codePage), c.codePage != 0);
    EXPECT_EQ(codePage, c.codePage);
  }
  EXPECT_EQ(table.size(), 7u);
}

TEST_F(CharsetTableTest, WithoutTheKeyTheTableIsEmpty) {
  registry_.WriteRoot("HKCR", "[HKEY_CLASSES_ROOT\\MIME\\Database]\n");
  CharsetTable table;
  EXPECT_EQ(table.size(), 0u);
  int codePage = 7;
  EXPECT_FALSE(table.Find(L"utf-8", &codePage));
  EXPECT_EQ(codePage, 7);
}

}  // namespace
