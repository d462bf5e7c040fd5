#include "diagnostics/message_table.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/crt/format_parser.h"

namespace {

TEST(MessageTable, LoadsByTheEventCodesLowBits) {
  ResString byNumber = LoadResString(20061);
  ResString byCode = LoadResString(0xAFFF4E5D);
  ResStringW wide = LoadResStringW(0xAFFF4E5D);
  ASSERT_FALSE(byNumber.empty());
  EXPECT_STREQ(byNumber, byCode);
  EXPECT_EQ(std::wstring(wide), std::wstring(FindMessageText(20061)));
  EXPECT_EQ(std::strlen(byNumber), std::wcslen(wide));
}

TEST(MessageTable, UnknownNumberGivesTheEmptyText) {
  EXPECT_EQ(FindMessageText(1), nullptr);
  EXPECT_STREQ(LoadResString(0x6FFF0001), "");
  EXPECT_STREQ(LoadResStringW(0xFFFF), L"");
}

// Every text must pass the logging entry points' argument test: the
// formatter's grammar with only the h, l and I64 lengths and the letters
// the test accepts. Walked over every number a code can carry.
TEST(MessageTable, EveryTextIsAFormatTheLogCallsAccept) {
  int found = 0;
  for (unsigned number = 0; number <= 0xFFFF; ++number) {
    const wchar_t* text = FindMessageText(number);
    if (text == nullptr) continue;
    ++found;
    SCOPED_TRACE(number);
    EXPECT_LT(std::wcslen(text), static_cast<std::size_t>(kResStringChars));
    crt::FormatReader<wchar_t> reader(text);
    crt::FormatPiece<wchar_t> piece;
    while (reader.Next(&piece)) {
      if (piece.kind != crt::FormatPiece<wchar_t>::Kind::kConversion) continue;
      const crt::Conversion& c = piece.conversion;
      EXPECT_NE(std::strchr("diouxXcCsSeEfgGp", c.letter), nullptr) << c.letter;
      EXPECT_TRUE(c.length == crt::Length::kNone || c.length == crt::Length::kH ||
                  c.length == crt::Length::kL || c.length == crt::Length::kI64);
    }
    EXPECT_TRUE(reader.ok());
  }
  EXPECT_GT(found, 30);
}

// A few call sites' argument lists, formatted through the loaded text.
TEST(MessageTable, TextsTakeTheirCallSitesArguments) {
  struct Case {
    unsigned code;
    std::vector<crt::ArgClass> args;
  };
  using A = crt::ArgClass;
  const Case cases[] = {
      {0xAFFF4E5D, {A::kWideString}},
      {0xAFFF50A0, {A::kWideString, A::kInt32, A::kWideString, A::kWideString, A::kWideString,
                    A::kWideString}},
      {0xAFFF50B0, {A::kWideString, A::kInt32}},
      {0xAFFF61A8, {A::kWideString, A::kInt32, A::kWideString, A::kWideString, A::kWideString,
                    A::kWideString}},
      {0xAFFF4F3C, {}},
      {0x6FFF76EA, {A::kWideString, A::kInt32, A::kWideString, A::kWideString}},
      {0x6FFF88CB, {A::kWideString, A::kInt32, A::kInt32, A::kInt32, A::kInt32}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ResStringW text = LoadResStringW(c.code);
    ASSERT_FALSE(text.empty());
    crt::FormatReader<wchar_t> reader(text);
    crt::FormatPiece<wchar_t> piece;
    std::vector<crt::ArgClass> taken;
    while (reader.Next(&piece)) {
      if (piece.kind == crt::FormatPiece<wchar_t>::Kind::kConversion) {
        taken.push_back(piece.conversion.arg);
      }
    }
    EXPECT_EQ(taken, c.args);
  }
}

}  // namespace
