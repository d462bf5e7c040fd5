#include "platform/win32/text_unicode.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The units as little-endian bytes.
std::string Bytes(std::initializer_list<unsigned> units) {
  std::string bytes;
  for (unsigned unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

TEST(IsTextUnicode, JudgesTheFormOfTheUnits) {
  struct Case {
    const char* name;
    std::string bytes;
    BOOL unicode;
    INT held;  // with every test run
  };
  const Case cases[] = {
      {"ascii", Bytes({'a', 'b', 'c'}), TRUE, IS_TEXT_UNICODE_ASCII16},
      {"latin and cjk", Bytes({0x00E9, 0x4E00, 0x4E8C}), TRUE, 0},
      {"pair", Bytes({'x', 0xD83D, 0xDE00}), TRUE, 0},
      {"signature", Bytes({0xFEFF, 'a'}), TRUE, IS_TEXT_UNICODE_SIGNATURE},
      {"reverse signature", Bytes({0xFFFE, 0x6100}), FALSE, IS_TEXT_UNICODE_REVERSE_SIGNATURE},
      {"big-endian ascii", Bytes({0x4100, 0x4200}), FALSE, IS_TEXT_UNICODE_REVERSE_ASCII16},
      {"lone high surrogate", Bytes({'a', 0xD800, 'b'}), FALSE, IS_TEXT_UNICODE_ILLEGAL_CHARS},
      {"high surrogate at the end", Bytes({'a', 0xDBFF}), FALSE, IS_TEXT_UNICODE_ILLEGAL_CHARS},
      {"lone low surrogate", Bytes({0xDC00, 'a'}), FALSE, IS_TEXT_UNICODE_ILLEGAL_CHARS},
      {"noncharacter", Bytes({'a', 0xFFFF}), FALSE, IS_TEXT_UNICODE_ILLEGAL_CHARS},
      {"swapped signature inside", Bytes({'a', 0xFFFE}), FALSE, IS_TEXT_UNICODE_ILLEGAL_CHARS},
      {"odd length", Bytes({'a', 'b'}) + "c", FALSE,
       IS_TEXT_UNICODE_ODD_LENGTH | IS_TEXT_UNICODE_ASCII16},
      {"one byte", "a", FALSE, 0},
      {"empty", "", FALSE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsTextUnicode(c.bytes.data(), static_cast<int>(c.bytes.size()), nullptr), c.unicode);
    INT tests = IS_TEXT_UNICODE_UNICODE_MASK | IS_TEXT_UNICODE_REVERSE_MASK |
                IS_TEXT_UNICODE_NOT_UNICODE_MASK;
    IsTextUnicode(c.bytes.data(), static_cast<int>(c.bytes.size()), &tests);
    EXPECT_EQ(tests, c.held);
  }
}

TEST(IsTextUnicode, RunsOnlyTheTestsAsked) {
  const std::string bytes = Bytes({'a', 0xFFFF});
  INT tests = IS_TEXT_UNICODE_ASCII16;
  EXPECT_TRUE(IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), &tests));
  EXPECT_EQ(tests, 0);
  tests = IS_TEXT_UNICODE_NOT_UNICODE_MASK;
  EXPECT_FALSE(IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), &tests));
  EXPECT_EQ(tests, IS_TEXT_UNICODE_ILLEGAL_CHARS);
  EXPECT_FALSE(IsTextUnicode(nullptr, 4, nullptr));
}

}  // namespace
