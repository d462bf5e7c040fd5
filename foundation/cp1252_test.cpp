#include "foundation/cp1252.h"

#include <gtest/gtest.h>

#include "platform/win32/codepage.h"

namespace {

bool IsUndefined(int byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 ||
         byte == 0x9D;
}

// The table against the platform's own 1252 converter (iconv underneath),
// byte by byte: the two may differ only on the five undefined bytes, which
// the table reads as U+FFFD.
TEST(Cp1252Test, EveryByteReadsAsThePlatformCodePageSays) {
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    const char narrow[1] = {static_cast<char>(byte)};
    wchar_t expected = 0;
    ASSERT_EQ(MultiByteToWideChar(1252, 0, narrow, 1, &expected, 1), 1);
    if (IsUndefined(byte)) expected = 0xFFFD;
    EXPECT_EQ(Cp1252ToWide(static_cast<unsigned char>(byte)), expected);
  }
}

TEST(Cp1252Test, EveryByteComesBackExceptUndefinedOnesWhichBecome0x81) {
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    const unsigned char back = static_cast<unsigned char>(
        WideToCp1252(Cp1252ToWide(static_cast<unsigned char>(byte))));
    EXPECT_EQ(back, IsUndefined(byte) ? 0x81 : byte);
  }
}

TEST(Cp1252Test, WideCharactersOutsideTheTable) {
  struct Case {
    wchar_t ch;
    unsigned char byte;
  };
  const Case cases[] = {
      {0x0000, 0x00},  {0x0081, 0x81},  {0x009F, 0x9F},  {0x00FF, 0xFF},
      {0x20AC, 0x80},  {0xFFFD, 0x81},  {0x0178, 0x9F},  {0x0100, '?'},
      {0x4E00, '?'},   {0x1F600, '?'},  {-1, '?'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<long>(c.ch));
    EXPECT_EQ(static_cast<unsigned char>(WideToCp1252(c.ch)), c.byte);
  }
}

}  // namespace
