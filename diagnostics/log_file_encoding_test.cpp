#include "diagnostics/log_file_encoding.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(LogFileEncoding, EachEncodingsBytes) {
  struct Case {
    int encoding;
    std::u16string units;
    std::string bytes;
  };
  const Case cases[] = {
      {kEncodingAnsi, u"a\u00e9\u4e00z", "a??z"},
      {kEncodingAnsi, u"x\U0001F600y", "x?y"},  // one character, one '?'
      {kEncodingUtf8, u"a\u00e9\u4e00", "a\xc3\xa9\xe4\xb8\x80"},
      {kEncodingUtf8, u"\U0001F600", "\xf0\x9f\x98\x80"},
      {kEncodingUtf16Le, u"a\u00e9\U0001F600", std::string("a\0\xe9\0\x3d\xd8\x00\xde", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    std::string out = ">";
    EncodeLogText(c.encoding, c.units, &out);
    EXPECT_EQ(out, ">" + c.bytes);
  }
}

TEST(LogFileEncoding, HeadersAndFooters) {
  EXPECT_EQ(LogFileHeader(kEncodingAnsi), "");
  EXPECT_EQ(LogFileHeader(kEncodingUtf8), "\xef\xbb\xbfUTF-8 encoded\r\n");
  const std::string utf16 = LogFileHeader(kEncodingUtf16Le);
  ASSERT_EQ(utf16.size(), 2u * 19);
  EXPECT_EQ(utf16.substr(0, 6), std::string("\xff\xfeU\0T\0", 6));
  EXPECT_EQ(LogFileFooter(kEncodingUtf8), "====== END OF LOG ======\r\n");
  EXPECT_EQ(LogFileFooterMarker(kEncodingAnsi), "====== END OF LOG ======");
  EXPECT_EQ(LogFileFooter(kEncodingUtf16Le).size(), 2u * 26);
}

TEST(LogFileEncoding, DetectsTheDeclaredEncodingThroughTheReadingOne) {
  const std::string utf8 = LogFileHeader(kEncodingUtf8) + "line\r\n";
  const std::string utf16 = LogFileHeader(kEncodingUtf16Le);
  std::string utf16be;
  EncodeLogText(kEncodingUtf16Le, u"\uFEFFUTF-16BE encoded", &utf16be);
  std::string other;
  EncodeLogText(kEncodingUtf8, u"\uFEFFLatin-1 encoded", &other);
  struct Case {
    const char* name;
    int readAs;
    std::string bytes;
    int detected;
  };
  const Case cases[] = {
      {"empty", kEncodingUtf8, "", -1},
      {"utf-8 as utf-8", kEncodingUtf8, utf8, 1},
      {"utf-16 as utf-16", kEncodingUtf16Le, utf16, 2},
      {"utf-16be header", kEncodingUtf16Le, utf16be, 2},
      {"unknown header", kEncodingUtf8, other, -2},
      {"ansi as utf-8", kEncodingUtf8, "[20000] (01/31 ...", 0},
      {"utf-16 as utf-8 reads nothing", kEncodingUtf8, utf16, -2},
      {"utf-16 byte by byte", kEncodingAnsi, utf16, -2},
      {"utf-8 byte by byte", kEncodingAnsi, utf8, 0},
      {"utf-8 as utf-16", kEncodingUtf16Le, utf8, 0},
      {"ansi as utf-16", kEncodingUtf16Le, "[20000]", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DetectLogFileEncoding(c.readAs, c.bytes.data(), c.bytes.size()), c.detected);
  }
}

}  // namespace
