#include "foundation/string_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/codepage.h"

namespace {

constexpr int kUnknownCodePage = 4242;

class StringConversionTest : public ::testing::Test {
 protected:
  ~StringConversionTest() override { SetAnsiCodePageForTesting(0); }
};

TEST_F(StringConversionTest, ConvertToWideFillsTerminatedBuffer) {
  wchar_t out[8];
  EXPECT_EQ(ConvertToWide(out, "h\xC3\xA9llo", 8, CP_UTF8), out);
  EXPECT_STREQ(out, L"h\u00E9llo");
  EXPECT_EQ(ConvertToWide(out, "\x80\x9F", 8, 1252), out);
  EXPECT_STREQ(out, L"\u20AC\u0178");
}

TEST_F(StringConversionTest, ConvertToWideFailuresLeaveEmptyTextAndReturnNull) {
  struct Case {
    const char* name;
    const char* in;
    int outChars;
    int codePage;
  };
  const Case cases[] = {
      {"text does not fit with its terminator", "hello", 5, CP_UTF8},
      {"unknown code page", "hello", 8, kUnknownCodePage},
      {"-1 is no code page here", "hello", 8, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wchar_t out[8] = L"garbage";
    EXPECT_EQ(ConvertToWide(out, c.in, c.outChars, c.codePage), nullptr);
    EXPECT_EQ(out[0], L'\0');
  }
}

TEST_F(StringConversionTest, ConvertToWideRefusesMissingBuffersWithoutWriting) {
  wchar_t out[4] = L"abc";
  EXPECT_EQ(ConvertToWide(nullptr, "x", 4, CP_UTF8), nullptr);
  EXPECT_EQ(ConvertToWide(out, nullptr, 4, CP_UTF8), nullptr);
  // A size of 0 would be a size query to the platform: no room for even the
  // terminator, so nothing may be written and nothing reported as done.
  EXPECT_EQ(ConvertToWide(out, "x", 0, CP_UTF8), nullptr);
  EXPECT_EQ(ConvertToWide(out, "x", -3, CP_UTF8), nullptr);
  EXPECT_STREQ(out, L"abc");
}

TEST_F(StringConversionTest, ConvertToNarrowFillsTerminatedBuffer) {
  char out[8];
  EXPECT_EQ(ConvertToNarrow(out, L"h\u00E9", 8, CP_UTF8), out);
  EXPECT_STREQ(out, "h\xC3\xA9");
  // No default character of the caller's: the code page's own ('?') stands
  // in for what it cannot show, and that is not a failure.
  EXPECT_EQ(ConvertToNarrow(out, L"\u20AC\u4E00", 8, 1252), out);
  EXPECT_STREQ(out, "\x80?");
}

TEST_F(StringConversionTest, ConvertToNarrowFailuresLeaveEmptyTextAndReturnNull) {
  char out[4] = "abc";
  EXPECT_EQ(ConvertToNarrow(out, L"\u00E9\u00E9", 4, CP_UTF8), nullptr);
  EXPECT_EQ(out[0], '\0');
  out[0] = 'a';
  EXPECT_EQ(ConvertToNarrow(out, L"x", 4, kUnknownCodePage), nullptr);
  EXPECT_EQ(out[0], '\0');
  out[0] = 'a';
  EXPECT_EQ(ConvertToNarrow(out, L"x", 0, CP_UTF8), nullptr);
  EXPECT_EQ(ConvertToNarrow(nullptr, L"x", 4, CP_UTF8), nullptr);
  EXPECT_EQ(ConvertToNarrow(out, nullptr, 4, CP_UTF8), nullptr);
  EXPECT_STREQ(out, "abc");
}

TEST_F(StringConversionTest, StringConvertersTakeWholeInputAndEndAtFirstNul) {
  using namespace std::string_literals;
  EXPECT_EQ(ConvertToWideString("h\xC3\xA9llo"s, CP_UTF8), L"h\u00E9llo");
  EXPECT_EQ(ConvertToWideString("ab\0cd"s, CP_UTF8), L"ab");
  EXPECT_EQ(ConvertToWideString(""s, CP_UTF8), L"");
  EXPECT_EQ(ConvertToWideString("abc"s, kUnknownCodePage), L"");

  EXPECT_EQ(ConvertToNarrowString(L"h\u00E9llo"s, CP_UTF8), "h\xC3\xA9llo");
  EXPECT_EQ(ConvertToNarrowString(L"ab\0cd"s, CP_UTF8), "ab");
  EXPECT_EQ(ConvertToNarrowString(L""s, CP_UTF8), "");
  EXPECT_EQ(ConvertToNarrowString(L"abc"s, kUnknownCodePage), "");
}

TEST_F(StringConversionTest, StringConvertersTakeMinusOneAsTheAnsiCodePage) {
  using namespace std::string_literals;
  SetAnsiCodePageForTesting(1252);
  EXPECT_EQ(ConvertToWideString("\x80"s, -1), L"\u20AC");
  EXPECT_EQ(ConvertToNarrowString(L"\u20AC"s, -1), "\x80");
  SetAnsiCodePageForTesting(CP_UTF8);
  EXPECT_EQ(ConvertToWideString("\xE2\x82\xAC"s, -1), L"\u20AC");
  EXPECT_EQ(ConvertToNarrowString(L"\u20AC"s, -1), "\xE2\x82\xAC");
}

TEST_F(StringConversionTest, ShowableTextKeepsWhatTheCodePageHoldsAndMarksTheRest) {
  EXPECT_EQ(ShowableInCodePage(L"Zo\u00EB \u20AC", CP_UTF8), L"Zo\u00EB \u20AC");
  EXPECT_EQ(ShowableInCodePage(L"Zo\u00EB \u20AC", 1252), L"Zo\u00EB \u20AC");
  EXPECT_EQ(ShowableInCodePage(L"Zo\u00EB \u20AC \u4E2D", 20127), L"Zo? ? ?");
  EXPECT_EQ(ShowableInCodePage(L"", 20127), L"");
}

}  // namespace
