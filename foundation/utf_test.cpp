#include "foundation/utf.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/win32/codepage.h"

namespace {

struct Decoded {
  UtfResult result;
  std::u16string units;
  std::size_t consumed;
};

Decoded Decode(const std::string& bytes, bool strict,
               std::size_t room = 64) {
  std::vector<char16_t> out(room + 1, u'\uEEEE');
  const char* source = bytes.data();
  char16_t* target = out.data();
  const UtfResult result = ConvertUtf8ToUtf16(
      &source, bytes.data() + bytes.size(), &target, out.data() + room, strict);
  // Nothing is written past the room given.
  EXPECT_EQ(out[room], u'\uEEEE');
  return {result, std::u16string(out.data(), target),
          static_cast<std::size_t>(source - bytes.data())};
}

struct Encoded {
  UtfResult result;
  std::string bytes;
  std::size_t consumed;
};

Encoded Encode(const std::u16string& units, bool strict,
               std::size_t room = 64) {
  std::vector<char> out(room + 1, '\x7F');
  const char16_t* source = units.data();
  char* target = out.data();
  const UtfResult result = ConvertUtf16ToUtf8(
      &source, units.data() + units.size(), &target, out.data() + room, strict);
  EXPECT_EQ(out[room], '\x7F');
  return {result, std::string(out.data(), target),
          static_cast<std::size_t>(source - units.data())};
}

TEST(Utf8ToUtf16Test, DecodesOrRefusesEachSequence) {
  struct Case {
    const char* name;
    std::string bytes;
    bool strict;
    UtfResult result;
    std::u16string units;
    std::size_t consumed;
  };
  const Case cases[] = {
      {"ascii", "Az~", true, kUtfDone, u"Az~", 3},
      {"two bytes", "\xC3\xA9", true, kUtfDone, u"\u00E9", 2},
      {"smallest two", "\xC2\x80", true, kUtfDone, u"\u0080", 2},
      {"three bytes", "\xE2\x82\xAC", true, kUtfDone, u"\u20AC", 3},
      {"smallest three", "\xE0\xA0\x80", true, kUtfDone, u"\u0800", 3},
      {"U+FFFF", "\xEF\xBF\xBF", true, kUtfDone, u"\uFFFF", 3},
      {"four bytes", "\xF0\x9F\x98\x80", true, kUtfDone, u"\U0001F600", 4},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true, kUtfDone, u"\U0010FFFF", 4},
      {"nul inside", std::string("a\0b", 3), true, kUtfDone,
       std::u16string(u"a\0b", 3), 3},

      {"cut three", "\xE2\x82", false, kUtfSourceExhausted, u"", 0},
      {"cut four after text", "ab\xF0\x9F\x98", false, kUtfSourceExhausted,
       u"ab", 2},
      {"cut lead alone", "a\xC3", true, kUtfSourceExhausted, u"a", 1},
      {"cut after E0", "\xE0", true, kUtfSourceExhausted, u"", 0},
      {"cut surrogate, lenient", "\xED\xA0", false, kUtfSourceExhausted, u"",
       0},
      // Cut sequences that no further input could make legal are illegal,
      // not merely cut.
      {"cut, ascii as second byte", "a\xE2\x41", false, kUtfSourceIllegal,
       u"a", 1},
      {"cut over-long", "\xE0\x80", false, kUtfSourceIllegal, u"", 0},
      {"cut past U+10FFFF", "\xF4\x90", false, kUtfSourceIllegal, u"", 0},
      {"cut five-byte form", "\xF8\x88", false, kUtfSourceIllegal, u"", 0},
      {"byte FF at the end", "ab\xFF", false, kUtfSourceIllegal, u"ab", 2},

      {"over-long nul", "\xC0\x80", false, kUtfSourceIllegal, u"", 0},
      {"over-long two", "\xC1\xBF", false, kUtfSourceIllegal, u"", 0},
      {"over-long three", "\xE0\x9F\xBF", false, kUtfSourceIllegal, u"", 0},
      {"over-long four", "\xF0\x8F\xBF\xBF", false, kUtfSourceIllegal, u"", 0},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false, kUtfSourceIllegal, u"", 0},
      {"lead F5", "\xF5\x80\x80\x80", false, kUtfSourceIllegal, u"", 0},
      {"five-byte form", "\xF8\x88\x80\x80\x80", false, kUtfSourceIllegal,
       u"", 0},
      {"continuation as lead", "a\x80", false, kUtfSourceIllegal, u"a", 1},
      {"ascii as second byte", "\xC3\x41", false, kUtfSourceIllegal, u"", 0},
      {"ascii as third byte", "\xE2\x82\x41", false, kUtfSourceIllegal, u"", 0},
      {"ascii as last byte", "\xF0\x9F\x98\x41", false, kUtfSourceIllegal, u"",
       0},
      // An ASCII byte may not follow F4 either: it would be swallowed into a
      // bogus character.
      {"ascii after F4", "\xF4\x41\x80\x80", false, kUtfSourceIllegal, u"", 0},

      {"surrogate, strict", "x\xED\xA0\x80", true, kUtfSourceIllegal, u"x", 1},
      {"surrogate, lenient", "x\xED\xA0\x80", false, kUtfDone,
       std::u16string(1, u'x') + char16_t(0xD800), 4},
      {"last surrogate, lenient", "\xED\xBF\xBF", false, kUtfDone,
       std::u16string(1, char16_t(0xDFFF)), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(c.bytes, c.strict);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.units, c.units);
    EXPECT_EQ(d.consumed, c.consumed);
  }
}

TEST(Utf8ToUtf16Test, StopsBeforeASequenceWithoutRoom) {
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t room;
    std::u16string units;
    std::size_t consumed;
  };
  const Case cases[] = {
      {"no room at all", "a", 0, u"", 0},
      {"room for one unit of a pair", "\xF0\x9F\x98\x80", 1, u"", 0},
      {"pair after text", "ab\xF0\x9F\x98\x80", 3, u"ab", 2},
      {"three-byte after text", "ab\xE2\x82\xAC", 2, u"ab", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(c.bytes, true, c.room);
    EXPECT_EQ(d.result, kUtfTargetExhausted);
    EXPECT_EQ(d.units, c.units);
    EXPECT_EQ(d.consumed, c.consumed);
  }
}

TEST(Utf8ToUtf16Test, EveryPrefixStopsAtTheLastWholeSequence) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const std::size_t ends[] = {0, 1, 3, 6, 10, 11};  // sequence boundaries
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Decoded d = Decode(text.substr(0, cut), true);
    std::size_t whole = 0;
    for (std::size_t end : ends) {
      if (end <= cut) whole = end;
    }
    EXPECT_EQ(d.consumed, whole);
    EXPECT_EQ(d.result, whole == cut ? kUtfDone : kUtfSourceExhausted);
  }
}

TEST(Utf8ToUtf16Test, LegalLengthsAreOneToFour) {
  const unsigned char ascii[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
  EXPECT_TRUE(IsLegalUtf8(ascii, 1));
  EXPECT_FALSE(IsLegalUtf8(ascii, 0));
  const unsigned char sixBytes[6] = {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80};
  EXPECT_FALSE(IsLegalUtf8(sixBytes, 6));
}

TEST(Utf16ToUtf8Test, EncodesOrRefusesEachUnit) {
  struct Case {
    const char* name;
    std::u16string units;
    bool strict;
    UtfResult result;
    std::string bytes;
    std::size_t consumed;
  };
  const std::u16string loneHigh(1, char16_t(0xD83D));
  const std::u16string loneLow(1, char16_t(0xDE00));
  const Case cases[] = {
      {"U+007F", u"\u007F", true, kUtfDone, "\x7F", 1},
      {"U+0080", u"\u0080", true, kUtfDone, "\xC2\x80", 1},
      {"U+07FF", u"\u07FF", true, kUtfDone, "\xDF\xBF", 1},
      {"U+0800", u"\u0800", true, kUtfDone, "\xE0\xA0\x80", 1},
      {"U+FFFF", u"\uFFFF", true, kUtfDone, "\xEF\xBF\xBF", 1},
      {"U+10000", u"\U00010000", true, kUtfDone, "\xF0\x90\x80\x80", 2},
      {"U+10FFFF", u"\U0010FFFF", true, kUtfDone, "\xF4\x8F\xBF\xBF", 2},
      {"lone low, strict", u"a" + loneLow, true, kUtfSourceIllegal, "a", 1},
      {"lone low, lenient", u"a" + loneLow, false, kUtfDone, "a\xED\xB8\x80",
       2},
      {"high before text, strict", loneHigh + u"b", true, kUtfSourceIllegal, "",
       0},
      {"high before text, lenient", loneHigh + u"b", false, kUtfDone,
       "\xED\xA0\xBD" "b", 2},
      {"high at the end", u"a" + loneHigh, false, kUtfSourceExhausted, "a", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Encoded e = Encode(c.units, c.strict);
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.bytes, c.bytes);
    EXPECT_EQ(e.consumed, c.consumed);
  }
}

TEST(Utf16ToUtf8Test, StopsBeforeASequenceWithoutRoom) {
  const Encoded e = Encode(u"ab\u20AC", true, 4);
  EXPECT_EQ(e.result, kUtfTargetExhausted);
  EXPECT_EQ(e.bytes, "ab");
  EXPECT_EQ(e.consumed, 2u);
  const Encoded pair = Encode(u"\U0001F600", true, 3);
  EXPECT_EQ(pair.result, kUtfTargetExhausted);
  EXPECT_EQ(pair.bytes, "");
  EXPECT_EQ(pair.consumed, 0u);
}

// Random scalar values, encoded here to UTF-16 and by the platform (iconv) to
// UTF-8: both converters must agree with it and give each other's input back.
TEST(UtfRoundTripTest, RandomTextAgreesWithThePlatformBothWays) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> plane(0, 3);
  for (int round = 0; round < 200; ++round) {
    std::u16string units;
    std::wstring wide;
    const int length = 1 + round % 40;
    for (int i = 0; i < length; ++i) {
      char32_t cp;
      do {
        switch (plane(random)) {
          case 0: cp = std::uniform_int_distribution<char32_t>(1, 0x7F)(random); break;
          case 1: cp = std::uniform_int_distribution<char32_t>(0x80, 0x7FF)(random); break;
          case 2: cp = std::uniform_int_distribution<char32_t>(0x800, 0xFFFF)(random); break;
          default: cp = std::uniform_int_distribution<char32_t>(0x10000, 0x10FFFF)(random);
        }
      } while (cp >= 0xD800 && cp <= 0xDFFF);
      wide += static_cast<wchar_t>(cp);
      if (cp > 0xFFFF) {
        units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        units += static_cast<char16_t>(cp);
      }
    }
    SCOPED_TRACE(round);
    std::string utf8(wide.size() * 4, '\0');
    const int bytes = WideCharToMultiByte(
        CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
        static_cast<int>(utf8.size()), nullptr, nullptr);
    ASSERT_GT(bytes, 0);
    utf8.resize(static_cast<std::size_t>(bytes));

    const Encoded e = Encode(units, true, units.size() * 3);
    EXPECT_EQ(e.result, kUtfDone);
    EXPECT_EQ(e.bytes, utf8);
    const Decoded d = Decode(utf8, true, units.size());
    EXPECT_EQ(d.result, kUtfDone);
    EXPECT_EQ(d.units, units);
  }
}

}  // namespace

TEST(WideToUtf16Test, PairsAboveTheBasicPlaneAndStopsBeyondTheLast) {
  struct Case {
    std::wstring wide;
    std::u16string units;
    bool whole;
  };
  const Case cases[] = {
      {L"", u"", true},
      {L"a\u00e9\uffff", u"a\u00e9\uffff", true},
      {std::wstring(1, static_cast<wchar_t>(0x10000)), {0xD800, 0xDC00}, true},
      {std::wstring(1, static_cast<wchar_t>(0x10FFFF)), {0xDBFF, 0xDFFF}, true},
      {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", {0xD800, u'x'}, true},
      {L"ab" + std::wstring(1, static_cast<wchar_t>(0x110000)) + L"c", u"ab", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wide.size());
    std::u16string out = u">";
    EXPECT_EQ(AppendUtf16FromWide(c.wide.data(), c.wide.size(), &out), c.whole);
    EXPECT_EQ(out, u">" + c.units);
  }
}
