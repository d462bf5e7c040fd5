#include "foundation/string_util.h"

#include <clocale>
#include <cstdint>
#include <limits>
#include <list>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(StringUtilTest, TrimWhitespaceRemovesOnlyBlanksAndTabsAtTheEnds) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"  abc\t", "abc"},
      {"\t a b \t", "a b"},
      {" \t \t", ""},
      {"\nabc\r\n", "\nabc\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    TrimWhitespace(s);
    EXPECT_EQ(s, c.out);
  }
}

TEST(StringUtilTest, SplitStringCutsAtEveryDelimiter) {
  using L = std::list<std::string>;
  struct Case {
    std::string text;
    std::string delimiter;
    bool skipEmpty;
    bool trim;
    L tokens;
  } cases[] = {
      {"a,,b", ",", false, false, {"a", "", "b"}},
      {"a,,b", ",", true, false, {"a", "b"}},
      {",a,", ",", false, false, {"", "a", ""}},
      {",a,", ",", true, false, {"a"}},
      {" a , \t, b ", ",", false, false, {" a ", " \t", " b "}},
      {" a , \t, b ", ",", false, true, {"a", "", "b"}},
      {" a , \t, b ", ",", true, true, {"a", "b"}},
      {"cer der", " ", true, false, {"cer", "der"}},
      {"a::b:::c", "::", false, false, {"a", "b", ":c"}},
      {"abc", ";", false, false, {"abc"}},
      {"", ",", false, false, {}},
      {"abc", "", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" at \"" << c.delimiter << "\" skip "
                                    << c.skipEmpty << " trim " << c.trim);
    L out = {"left over"};
    EXPECT_EQ(SplitString(c.text, c.delimiter, &out, c.skipEmpty, c.trim),
              static_cast<int>(c.tokens.size()));
    EXPECT_EQ(out, c.tokens);
  }
  EXPECT_EQ(SplitString("a,b", ",", nullptr, false, false), 0);
}

TEST(StringUtilTest, TrimWideStringDropsSetAndUnprintableCharactersAtTheEnds) {
  struct Case {
    std::wstring in;
    const wchar_t* set;
    std::wstring out;
  } cases[] = {
      {L" \tname\r\n", L" ", L"name"},
      {L"--a-b--", L"-", L"a-b"},
      {L"xyabcyx", L"xy", L"abc"},
      {L"\x01 a \x7F", L" ", L"a"},
      {L"    ", L" ", L""},
      {L" \tname\r\n", nullptr, L" \tname\r\n"},
      {L" \tname\r\n", L"", L" \tname\r\n"},
      {L"", L" ", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in.size() << " characters, set "
                                    << (c.set ? c.set : L"(null)"));
    EXPECT_EQ(TrimWideString(c.in, c.set), c.out);
  }
}

// Letters beyond ASCII are printable whatever locale the process runs in;
// the C locale (where no setlocale call was made) must not strip them.
TEST(StringUtilTest, TrimWideStringKeepsLettersBeyondAsciiInAnyLocale) {
  struct Case {
    std::wstring in;
    std::wstring out;
  } cases[] = {
      {L" Jos\u00E9 ", L"Jos\u00E9"},
      {L"\u00C9mile\r\n", L"\u00C9mile"},
      {L"\u4E2D\u6587", L"\u4E2D\u6587"},
      {L"\U0001F600 ", L"\U0001F600"},
      {L"\u0085a\u0080", L"a"},  // C1 controls are not printable
  };
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  for (const char* locale : {"C", "C.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_CTYPE, locale), nullptr) << locale;
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << locale << ": " << c.in.size() << " characters");
      EXPECT_EQ(TrimWideString(c.in, L" "), c.out);
    }
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(StringUtilTest, WildcardMatchW) {
  struct Case {
    std::wstring name;
    const wchar_t* pattern;
    bool match;
  } cases[] = {
      {L"Mailbox", L"*BOX", true},
      {L"Mailbox", L"mail*", true},
      {L"Mailbox", L"MAILBOX", true},
      {L"Mailbox", L"*ilb*", true},
      {L"Mailbox", L"*", true},
      {L"Mailbox", L"", true},
      {L"Mailbox", L"**", true},
      {L"Mailbox", L"*mail", false},
      {L"Mailbox", L"box*", false},
      {L"Mailbox", L"Mail", false},
      {L"Mailbox", L"*x*y*", false},
      {L"aab", L"*ab*", true},
      {L"ab", L"*abc*", false},
      {L"ab", L"*abc", false},
      {L"ab", L"abc*", false},
      {L"a*b", L"a*b", true},
      {L"axb", L"a*b", false},
      {L"", L"*", false},
      {L"", L"", false},
      {L"Mailbox", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "name \"" << c.name << "\" pattern \""
                                    << (c.pattern ? c.pattern : L"(null)") << '"');
    EXPECT_EQ(WildcardMatchW(c.name, c.pattern), c.match);
  }
}

TEST(StringUtilTest, NumbersAsSignedDecimalText) {
  EXPECT_EQ(IntToString(0), "0");
  EXPECT_EQ(IntToString(-42), "-42");
  EXPECT_EQ(IntToString(std::numeric_limits<int>::min()), "-2147483648");
  EXPECT_EQ(IntToWString(2147483647), L"2147483647");
  EXPECT_EQ(Int64ToString(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(Int64ToWString(9223372036854775807LL), L"9223372036854775807");
  EXPECT_EQ(Int64ToWString(-1), L"-1");
}

TEST(AppendFormatTest, AppendsOutputOfAnyLengthInTheWindowsDialect) {
  std::string out = "x";
  ASSERT_TRUE(AppendFormat(out, "<%s> %I64d %lu", "a", -5LL, 7u));
  EXPECT_EQ(out, "x<a> -5 7");

  const std::string longText(5000, 'n');
  out.clear();
  ASSERT_TRUE(AppendFormat(out, "[%s]", longText.c_str()));
  EXPECT_EQ(out, "[" + longText + "]");
}

TEST(AppendFormatTest, ARefusedFormatLeavesTheTextAsItWas) {
  std::string out = "kept";
  EXPECT_FALSE(AppendFormat(out, "%n", nullptr));
  EXPECT_EQ(out, "kept");
}

}  // namespace
