#include "foundation/zev_string.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "platform/win32/codepage.h"

namespace zev {
namespace {

constexpr UINT kUnknownCodePage = 4242;

// Every test starts with UTF-8 as the ANSI code page and without the 1252
// flag, and leaves both as it found them.
class ZEVStringTest : public ::testing::Test {
 protected:
  ZEVStringTest() { SetAnsiCodePageForTesting(CP_UTF8); }
  ~ZEVStringTest() override {
    SetAnsiCodePageForTesting(0);
    ProcessUsesCp1252 = false;
  }
};

std::wstring TextOf(const ZEVString& s) {
  return s.GetWide() == nullptr ? L"<none>" : std::wstring(s.GetWide());
}

TEST_F(ZEVStringTest, NullGivesNoTextAndEmptyGivesEmptyText) {
  const ZEVString none;
  const ZEVString noneWide(static_cast<const wchar_t*>(nullptr));
  const ZEVString noneNarrow(static_cast<const char*>(nullptr));
  for (const ZEVString* s : {&none, &noneWide, &noneNarrow}) {
    EXPECT_EQ(s->GetWide(), nullptr);
    EXPECT_EQ(s->GetLength(), 0);
  }
  const ZEVString emptyWide(L"");
  const ZEVString emptyNarrow("");
  for (const ZEVString* s : {&emptyWide, &emptyNarrow}) {
    ASSERT_NE(s->GetWide(), nullptr);
    EXPECT_STREQ(s->GetWide(), L"");
    EXPECT_EQ(s->GetBuffer(), s->GetWide());
  }
  ZEVString copy(none);
  EXPECT_EQ(copy.GetWide(), nullptr);
  copy = L"x";
  copy = static_cast<const char*>(nullptr);
  EXPECT_EQ(copy.GetWide(), nullptr);
}

TEST_F(ZEVStringTest, NarrowTextReadsThroughTheTableOrTheCodePage) {
  EXPECT_EQ(TextOf(ZEVString("\x80\xE9", true)), L"\u20AC\u00E9");
  EXPECT_EQ(TextOf(ZEVString("\xC3\xA9", false)), L"\u00E9");
  // Without a flag the string takes the process's.
  EXPECT_EQ(TextOf(ZEVString("\xC3\xA9")), L"\u00E9");
  ProcessUsesCp1252 = true;
  EXPECT_EQ(TextOf(ZEVString("\xC3\xA9")), L"\u00C3\u00A9");
  ZEVString assigned;
  assigned = "\x80";
  EXPECT_EQ(TextOf(assigned), L"\u20AC");
  assigned += "\x9F";
  EXPECT_EQ(TextOf(assigned), L"\u20AC\u0178");
  EXPECT_EQ(NToWString("\x80").str(), L"\u20AC");
}

TEST_F(ZEVStringTest, FailedNarrowConversionsDependOnLengthAndOperation) {
  SetAnsiCodePageForTesting(kUnknownCodePage);
  const std::string shortText(10, 'a');
  const std::string longText(2000, 'a');
  EXPECT_EQ(TextOf(ZEVString(shortText.c_str(), false)), L"");
  EXPECT_EQ(TextOf(ZEVString(longText.c_str(), false)), L"<none>");

  ZEVString s(L"keep");
  s = shortText.c_str();
  EXPECT_EQ(TextOf(s), L"<none>");
  s = L"keep";
  s += shortText.c_str();
  EXPECT_EQ(TextOf(s), L"keep");
  EXPECT_EQ(s.CompareNarrow(shortText.c_str(), false), 1);
  // The table never fails, whatever the code page.
  EXPECT_EQ(TextOf(ZEVString(longText.c_str(), true)), std::wstring(2000, L'a'));
}

TEST_F(ZEVStringTest, NarrowCopiesAreCachedPerWayAndDroppedOnChange) {
  ZEVString s(L"\u20AC\u4E00");
  EXPECT_STREQ(s.GetNarrow(), "\xE2\x82\xAC\xE4\xB8\x80");
  EXPECT_STREQ(s.GetNarrow1252(), "\x80?");
  EXPECT_STREQ(s.GetNarrow(), "\xE2\x82\xAC\xE4\xB8\x80");
  ProcessUsesCp1252 = true;
  EXPECT_STREQ(s.GetNarrow(), "\x80?");
  ProcessUsesCp1252 = false;

  s += L"!";
  EXPECT_STREQ(s.GetNarrow(), "\xE2\x82\xAC\xE4\xB8\x80!");
  EXPECT_STREQ(s.GetNarrow1252(), "\x80?!");
  s.Trim(ZEVString::kTrimTrailing);  // nothing to trim: still valid
  EXPECT_STREQ(s.GetNarrow1252(), "\x80?!");
  s.Assign(L"ab", 1);
  EXPECT_STREQ(s.GetNarrow(), "a");
  EXPECT_STREQ(s.GetNarrow1252(), "a");

  ZEVString none;
  EXPECT_EQ(none.GetNarrow(), nullptr);
  EXPECT_EQ(none.GetNarrow1252(), nullptr);

  SetAnsiCodePageForTesting(kUnknownCodePage);
  ZEVString unconvertible(L"x");
  EXPECT_STREQ(unconvertible.GetNarrow(), "");
}

TEST_F(ZEVStringTest, CopiesAreDeep) {
  ZEVString a(L"one");
  ZEVString b(a);
  ZEVString c;
  c = a;
  a += L"!";
  EXPECT_EQ(TextOf(b), L"one");
  EXPECT_EQ(TextOf(c), L"one");
  EXPECT_NE(b.GetWide(), c.GetWide());
  ZEVString& self = a;
  a = self;
  EXPECT_EQ(TextOf(a), L"one!");
  a += self;
  EXPECT_EQ(TextOf(a), L"one!one!");
}

TEST_F(ZEVStringTest, AppendingSetsJoinsOrLeavesAlone) {
  struct Case {
    const wchar_t* start;  // null: no text
    const wchar_t* appended;
    std::wstring expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, L"<none>"},
      {nullptr, L"x", L"x"},
      {nullptr, L"", L""},
      {L"a", nullptr, L"a"},
      {L"a", L"", L"a"},
      {L"a", L"bc", L"abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.start ? "text" : "none") << " += "
                                    << (c.appended ? "text" : "none"));
    ZEVString byPointer(c.start);
    byPointer += c.appended;
    EXPECT_EQ(TextOf(byPointer), c.expected);
    ZEVString byString(c.start);
    byString += ZEVString(c.appended);
    EXPECT_EQ(TextOf(byString), c.expected);
  }
  ZEVString narrow;
  narrow += static_cast<const char*>(nullptr);
  EXPECT_EQ(narrow.GetWide(), nullptr);
  narrow += "\xC3\xA9";
  EXPECT_EQ(TextOf(narrow), L"\u00E9");
}

TEST_F(ZEVStringTest, CompareOrdersAsUtf16Units) {
  struct Case {
    const wchar_t* left;  // null: no text
    const wchar_t* right;
    int expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0},
      {nullptr, L"", -1},
      {L"", nullptr, 1},
      {L"", L"", 0},
      {L"abc", L"abc", 0},
      {L"a", L"b", -1},
      {L"ab", L"a", 1},
      {L"a", L"ab", -1},
      {L"B", L"a", -1},  // no case folding
      {L"\u00E9", L"\u0080", 1},
      // Above U+FFFF the first unit is a high surrogate (D800..DBFF): below
      // U+E000..U+FFFF, above U+D7FF.
      {L"\U0001F600", L"\uE000", -1},
      {L"\U0001F600", L"\uFFFF", -1},
      {L"\uFFFD", L"\U00010000", 1},
      {L"\U00010000", L"\uD7FF", 1},
      {L"\U00010000", L"\U00010001", -1},
      {L"\U0010FFFF", L"\U0001F600", 1},
      // A lone high surrogate sorts as the first unit of the pair it starts.
      {L"\xD83D", L"\U0001F600", -1},
      {L"\xD83E", L"\U0001F600", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.left ? c.left : L"<none>") << " vs "
                                    << (c.right ? c.right : L"<none>"));
    EXPECT_EQ(ZEVString(c.left).Compare(ZEVString(c.right)), c.expected);
    EXPECT_EQ(ZEVString(c.right).Compare(ZEVString(c.left)), -c.expected);
  }
}

TEST_F(ZEVStringTest, CompareNarrowConvertsItsArgumentFirst) {
  const ZEVString euro(L"\u20AC");
  EXPECT_EQ(euro.CompareNarrow("\x80", true), 0);
  EXPECT_EQ(euro.CompareNarrow("\xE2\x82\xAC", false), 0);
  EXPECT_EQ(euro.CompareNarrow("\x80", false), -1);  // U+FFFD from UTF-8
  EXPECT_EQ(euro.CompareNarrow(nullptr, true), 1);
  EXPECT_EQ(ZEVString().CompareNarrow(nullptr, true), 0);
  EXPECT_EQ(ZEVString().CompareNarrow("", true), -1);

  EXPECT_TRUE(euro.EqualsNarrow("\xE2\x82\xAC"));
  ProcessUsesCp1252 = true;
  EXPECT_TRUE(euro.EqualsNarrow("\x80"));
  EXPECT_FALSE(euro.EqualsNarrow("\xE2\x82\xAC"));
}

TEST_F(ZEVStringTest, TrimRemovesWhiteSpaceAtTheChosenEnds) {
  struct Case {
    const wchar_t* text;  // null: no text
    int flags;
    std::wstring expected;
  };
  const Case cases[] = {
      {L" \t a b \r\n", 1, L"a b \r\n"},
      {L" \t a b \r\n", 2, L" \t a b"},
      {L" \t a b \r\n", 3, L"a b"},
      {L"a b", 3, L"a b"},
      {L" \v\f ", 1, L""},
      {L" \v\f ", 2, L""},
      {L" \v\f ", 3, L""},
      {L"", 3, L""},
      {L"  x", 0, L"  x"},
      {nullptr, 3, L"<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << (c.text ? c.text : L"<none>")
                                    << "\" flags " << c.flags);
    ZEVString s(c.text);
    EXPECT_EQ(TextOf(s.Trim(c.flags)), c.expected);
  }
}

TEST_F(ZEVStringTest, GetAtPointsIntoTheTextOrAtASeparateZero) {
  ZEVString s(L"abc");
  EXPECT_EQ(s.GetAt(0), s.GetWide());
  EXPECT_EQ(*s.GetAt(2), L'c');
  for (int index : {3, 4, -1, 1 << 30}) {
    SCOPED_TRACE(index);
    wchar_t* past = s.GetAt(index);
    EXPECT_EQ(*past, L'\0');
    EXPECT_NE(past, s.GetWide() + 3);  // not the text's own terminator
    *past = L'z';  // a careless caller cannot make it non-zero for the next
  }
  ZEVString none;
  EXPECT_EQ(*none.GetAt(0), L'\0');
}

TEST_F(ZEVStringTest, FormatKeepsAtMost1023Characters) {
  struct Case {
    int length;
    bool cut;
  };
  const Case cases[] = {{0, false}, {1022, false}, {1023, false},
                        {1024, true}, {1500, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::wstring wide(static_cast<std::size_t>(c.length), L'w');
    const std::string narrow(static_cast<std::size_t>(c.length), 'n');
    const std::size_t kept = c.cut ? 1023 : static_cast<std::size_t>(c.length);

    ZEVString s(L"old");
    const int wideResult = s.Format(L"%s", wide.c_str());
    EXPECT_TRUE(TextOf(s) == wide.substr(0, kept)) << s.GetLength();
    if (c.cut) {
      EXPECT_LT(wideResult, 0);
    } else {
      EXPECT_EQ(wideResult, c.length);
    }

    const int narrowResult = s.Format("%s", narrow.c_str());
    EXPECT_TRUE(TextOf(s) == std::wstring(kept, L'n')) << s.GetLength();
    if (c.cut) {
      EXPECT_LT(narrowResult, 0);
    } else {
      EXPECT_EQ(narrowResult, c.length);
    }
  }
}

TEST_F(ZEVStringTest, FormatUsesTheSystemsDialect) {
  ZEVString s;
  EXPECT_EQ(s.Format(L"%I64d|%lu|%S", -9223372036854775807LL - 1, 4294967295u,
                     "narrow"),
            static_cast<int>(wcslen(L"-9223372036854775808|4294967295|narrow")));
  EXPECT_EQ(TextOf(s), L"-9223372036854775808|4294967295|narrow");
  EXPECT_EQ(s.AppendFormat(L" %03d", 7), 42);
  EXPECT_EQ(TextOf(s), L"-9223372036854775808|4294967295|narrow 007");
  ZEVString none;
  EXPECT_EQ(none.AppendFormat(L"%d", 42), 2);
  EXPECT_EQ(TextOf(none), L"42");
}

TEST_F(ZEVStringTest, NarrowFormatConvertsWithTheCodePageAndReturnsWideLength) {
  ProcessUsesCp1252 = true;  // not used by the narrow Format
  ZEVString s;
  EXPECT_EQ(s.Format("%s!", "\xC3\xA9"), 2);
  EXPECT_EQ(TextOf(s), L"\u00E9!");

  SetAnsiCodePageForTesting(kUnknownCodePage);
  EXPECT_EQ(s.Format("%s", "abc"), 0);
  EXPECT_EQ(TextOf(s), L"");
}

TEST_F(ZEVStringTest, AssignTakesExactlyCountCharacters) {
  ZEVString s;
  EXPECT_EQ(s.Assign(L"abcdef", 3), 3);
  EXPECT_EQ(TextOf(s), L"abc");
  EXPECT_EQ(s.Assign(L"abc", 0), 0);
  EXPECT_EQ(TextOf(s), L"");
  EXPECT_EQ(s.Assign(nullptr, 3), 0);
  EXPECT_EQ(s.GetWide(), nullptr);
  s = L"x";
  EXPECT_EQ(s.Assign(L"abc", -1), 0);
  EXPECT_EQ(s.GetWide(), nullptr);
}

TEST_F(ZEVStringTest, AssignUtf8DecodesLenientlyAndFailsOnIllegalInput) {
  struct Case {
    const char* name;
    const char* bytes;
    int length;
    std::wstring expected;  // "<none>": no text, null returned
  };
  const Case cases[] = {
      {"null", nullptr, 3, L"<none>"},
      {"length 0", "abc", 0, L"<none>"},
      {"length below -1", "abc", -2, L"<none>"},
      {"terminated", "h\xC3\xA9", -1, L"h\u00E9"},
      {"empty, terminated", "", -1, L""},
      {"explicit length", "abcdef", 2, L"ab"},
      {"pair becomes one character", "\xF0\x9F\x98\x80", -1, L"\U0001F600"},
      {"cut sequence alone", "\xE2\x82", -1, L""},
      {"cut sequence after text", "ab\xE2\x82", -1, L"ab"},
      {"encoded surrogate", "\xED\xA0\x80", -1, std::wstring(1, 0xD800)},
      {"encoded pair", "\xED\xA0\xBD\xED\xB8\x80", -1, L"\U0001F600"},
      {"over-long", "\xC0\x80", -1, L"<none>"},
      {"illegal after text", "ab\xFF", -1, L"<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZEVString s(L"previous");
    const wchar_t* result = s.AssignUtf8(c.bytes, c.length);
    EXPECT_EQ(result, s.GetWide());
    EXPECT_EQ(TextOf(s), c.expected);
  }
}

}  // namespace
}  // namespace zev
