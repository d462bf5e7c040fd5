#include "foundation/device_pin.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string Format(unsigned pin, int size = 32) {
  char buffer[32];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(FormatPIN(pin, buffer, size), buffer);
  return buffer;
}

TEST(DevicePinTest, TextIsDecimalUpTo0x1FFFFFFFThenHexadecimal) {
  struct Case {
    unsigned pin;
    const char* text;
  } cases[] = {
      {0, "0"},
      {100, "100"},
      {19999999, "19999999"},
      {100000000, "100000000"},
      {0x1FFFFFFF, "536870911"},
      {0x20000000, "20000000"},
      {0x2ABCDEF0, "2ABCDEF0"},
      {0xFFFFFFFE, "FFFFFFFE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Format(c.pin), c.text);
    char* end = nullptr;
    EXPECT_EQ(ParsePIN(c.text, &end), c.pin);
    EXPECT_EQ(end, c.text + std::strlen(c.text));
  }
}

// Every text FormatPIN writes must read back, the nine-digit decimal ones
// included: their hexadecimal reading passes 32 bits.
TEST(DevicePinTest, EveryFormattedPinParsesBack) {
  for (unsigned pin : {1u, 9999u, 0x1000000u, 19999999u, 100000000u, 123456789u, 305419896u,
                       0x1FFFFFFEu, 0x1FFFFFFFu, 0x20000000u, 0x7FFFFFFFu, 0x80000000u}) {
    SCOPED_TRACE(pin);
    const std::string text = Format(pin);
    EXPECT_EQ(ParsePIN(text.c_str(), nullptr), pin);
  }
}

// The two forms share the eight-digit texts of 20000000 to 99999999: the
// hexadecimal reading wins, as the stored texts of large PINs need.
TEST(DevicePinTest, EightDigitTextsReadAsHexadecimal) {
  EXPECT_EQ(Format(20000000), "20000000");
  EXPECT_EQ(ParsePIN("20000000", nullptr), 0x20000000u);
  EXPECT_EQ(ParsePIN("99999999", nullptr), 0x99999999u);
  EXPECT_EQ(ParsePIN("19999999", nullptr), 19999999u);
}

TEST(DevicePinTest, ParseOfOddTexts) {
  struct Case {
    const char* text;
    unsigned pin;
    std::size_t consumed;
  } cases[] = {
      {"FFFFFFFF", 0, 8},
      {"ffffffff", 0, 8},
      {"2abcdef0", 0x2ABCDEF0, 8},
      {"12AB", 12, 2},
      {"20000000 rest", 0x20000000, 8},
      {"  42", 42, 4},
      {"", 0, 0},
      {"zz", 0, 0},
      {"99999999999", 0, 11},
      {"-1", 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char* end = nullptr;
    EXPECT_EQ(ParsePIN(c.text, &end), c.pin);
    EXPECT_EQ(end, c.text + c.consumed);
  }
  EXPECT_EQ(ParsePIN(nullptr, nullptr), 0u);
}

TEST(DevicePinTest, FormatCutsTheTextToTheBuffer) {
  struct Case {
    unsigned pin;
    int size;
    const char* text;
  } cases[] = {
      {100, 3, "1"},
      {100, 4, "10"},
      {100, 5, "100"},
      {100, 2, ""},
      {100, 1, ""},
      {0x20000000, 9, "2000000"},
      {0x20000000, 10, "20000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pin << " into " << c.size);
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    FormatPIN(c.pin, buffer, c.size);
    EXPECT_STREQ(buffer, c.text);
    // Nothing is written past the buffer.
    EXPECT_EQ(buffer[c.size], 'x');
  }
  char one = 'x';
  EXPECT_EQ(FormatPIN(7, &one, 0), &one);
  EXPECT_EQ(one, 'x');
  EXPECT_EQ(FormatPIN(7, nullptr, 8), nullptr);
}

}  // namespace
