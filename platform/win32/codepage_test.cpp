#include "platform/win32/codepage.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <string>

#include "platform/win32/error.h"

namespace {

// Converts all of `text` (no terminator) and checks the size query agrees.
std::wstring ToWide(UINT codePage, const std::string& text, DWORD flags = 0) {
  const int size = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  if (size == 0) return out;
  EXPECT_EQ(size, MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      out.data(), size));
  return out;
}

std::string ToNarrow(UINT codePage, const std::wstring& text, DWORD flags = 0,
                     const char* defaultChar = nullptr, BOOL* usedDefault = nullptr) {
  const int size = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, defaultChar, usedDefault);
  std::string out(static_cast<std::size_t>(size), '\0');
  if (size == 0) return out;
  EXPECT_EQ(size, WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      out.data(), size, defaultChar, usedDefault));
  return out;
}

class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override { SetAnsiCodePageForTesting(0); }
};

TEST_F(CodePageTest, Cp1252EveryByteGoesToWideAndBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::wstring wide = ToWide(1252, all, MB_ERR_INVALID_CHARS);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x41], L'A');
  EXPECT_EQ(wide[0x80], L'\u20AC');
  EXPECT_EQ(wide[0x8A], L'\u0160');
  EXPECT_EQ(wide[0x9F], L'\u0178');
  for (int hole : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(wide[hole], static_cast<wchar_t>(hole));
  for (int b = 0xA0; b < 256; ++b) EXPECT_EQ(wide[b], static_cast<wchar_t>(b));

  BOOL usedDefault = TRUE;
  EXPECT_EQ(ToNarrow(1252, wide, 0, nullptr, &usedDefault), all);
  EXPECT_FALSE(usedDefault);
}

TEST_F(CodePageTest, Utf8InvalidInputIsReplacedOrRefused) {
  struct Case {
    const char* name;
    std::string input;
    std::wstring lenient;
  };
  const Case cases[] = {
      {"stray continuation byte", "a\x80" "b", L"a\uFFFDb"},
      {"overlong NUL", "\xC0\x80", L"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"five-byte form", "\xF8\x88\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"cut at the end", "ok\xE2\x82", L"ok\uFFFD"},
      {"cut before a letter", "\xF0\x9F\x98" "A", L"\uFFFDA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToWide(CP_UTF8, c.input), c.lenient);
    SetLastError(ERROR_SUCCESS);
    wchar_t out[16];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.input.data(),
                                  static_cast<int>(c.input.size()), out, 16),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST_F(CodePageTest, Utf8RoundTripsEveryLength) {
  const std::string narrow = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
  const std::wstring wide = L"A\u00E9\u20AC\U0001F600\U0010FFFF";
  EXPECT_EQ(ToWide(CP_UTF8, narrow, MB_ERR_INVALID_CHARS), wide);
  EXPECT_EQ(ToNarrow(CP_UTF8, wide, WC_ERR_INVALID_CHARS), narrow);
}

TEST_F(CodePageTest, WideTextThatIsNoCodePointIsReplacedOrRefused) {
  for (wchar_t bad : {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDFFF),
                      static_cast<wchar_t>(0x110000)}) {
    SCOPED_TRACE(static_cast<unsigned>(bad));
    const std::wstring text = std::wstring(L"a") + bad + L"b";
    EXPECT_EQ(ToNarrow(CP_UTF8, text), "a\xEF\xBF\xBD" "b");
    SetLastError(ERROR_SUCCESS);
    char out[16];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), 3, out, 16, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToNarrow(1252, text, 0, nullptr, &usedDefault), "a?b");
    EXPECT_TRUE(usedDefault);
  }
}

TEST_F(CodePageTest, TerminatorSizeQueryAndShortBuffer) {
  // -1 converts up to and including the terminator and counts it.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "caf\xC3\xA9", -1, nullptr, 0), 5);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"caf\u00E9", -1, nullptr, 0, nullptr, nullptr), 6);
  wchar_t wide[5];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "caf\xC3\xA9", -1, wide, 5), 5);
  EXPECT_EQ(std::wstring(wide), L"caf\u00E9");
  // An explicit length adds no terminator.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);

  // One unit short: nothing written, the error tells the caller to grow.
  wchar_t shortWide[4] = {L'x', L'x', L'x', L'x'};
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "caf\xC3\xA9", -1, shortWide, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::wstring(shortWide, 4), L"xxxx");

  char shortNarrow[5] = {'x', 'x', 'x', 'x', 'x'};
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"caf\u00E9", -1, shortNarrow, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(shortNarrow, 5), "xxxxx");
}

TEST_F(CodePageTest, BadArgumentsFail) {
  wchar_t wide[8];
  char narrow[8];
  BOOL used = FALSE;
  struct Case {
    const char* name;
    std::function<int()> call;
    DWORD error;
  };
  const Case cases[] = {
      {"null input", [&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 8); },
       ERROR_INVALID_PARAMETER},
      {"empty input", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 8); },
       ERROR_INVALID_PARAMETER},
      {"length below -1", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", -2, wide, 8); },
       ERROR_INVALID_PARAMETER},
      {"null output with a size",
       [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 8); },
       ERROR_INVALID_PARAMETER},
      {"negative output size", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, -1); },
       ERROR_INVALID_PARAMETER},
      {"unknown code page", [&] { return MultiByteToWideChar(12345, 0, "abc", 3, wide, 8); },
       ERROR_INVALID_PARAMETER},
      {"UTF-16 is no narrow code page",
       [&] { return MultiByteToWideChar(1200, 0, "abc", 3, wide, 8); }, ERROR_INVALID_PARAMETER},
      {"UTF-8 takes no MB_PRECOMPOSED",
       [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", 3, wide, 8); },
       ERROR_INVALID_FLAGS},
      {"unknown flag", [&] { return MultiByteToWideChar(1252, 0x100, "abc", 3, wide, 8); },
       ERROR_INVALID_FLAGS},
      {"wide null input",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, nullptr, 3, narrow, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"wide null output with a size",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, L"abc", 3, nullptr, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"wide unknown code page",
       [&] { return WideCharToMultiByte(12345, 0, L"abc", 3, narrow, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with a default character",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, L"abc", 3, narrow, 8, "?", nullptr); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 asked whether the default was used",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, L"abc", 3, narrow, 8, nullptr, &used); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 takes no WC_NO_BEST_FIT_CHARS",
       [&] {
         return WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, L"abc", 3, narrow, 8, nullptr,
                                    nullptr);
       },
       ERROR_INVALID_FLAGS},
      {"1252 takes no WC_ERR_INVALID_CHARS",
       [&] {
         return WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, L"abc", 3, narrow, 8, nullptr,
                                    nullptr);
       },
       ERROR_INVALID_FLAGS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(CodePageTest, DefaultCharacterForWhatTheCodePageCannotShow) {
  BOOL usedDefault = FALSE;
  EXPECT_EQ(ToNarrow(1252, L"a\u4E2Db", WC_NO_BEST_FIT_CHARS, "#", &usedDefault), "a#b");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(ToNarrow(1252, L"\u0141\u00E9", 0, nullptr, &usedDefault), "?\xE9");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(ToNarrow(1252, L"\u20AC", 0, nullptr, &usedDefault), "\x80");
  EXPECT_FALSE(usedDefault);
}

TEST_F(CodePageTest, DoubleByteAndStatefulCodePages) {
  EXPECT_EQ(ToWide(932, "a\x82\xA0" "b"), L"a\u3042b");
  EXPECT_EQ(ToNarrow(932, L"a\u3042b"), "a\x82\xA0" "b");
  // A lead byte with nothing after it.
  EXPECT_EQ(ToWide(932, "a\x82"), L"a\uFFFD");
  wchar_t out[4];
  EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, out, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // A pair the page lacks at the very end, which the converter consumes
  // before it refuses it.
  EXPECT_EQ(ToWide(949, "a\xA2\xE8"), L"a\uFFFD");
  EXPECT_EQ(MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, "a\xA2\xE8", 3, out, 4), 0);
  // The replacement for a character the page lacks is written after the
  // shift back to ASCII, and the text ends in ASCII.
  EXPECT_EQ(ToNarrow(50220, L"\u3042\u00E9\u3042"), "\x1B$B$\"\x1B(B?\x1B$B$\"\x1B(B");
}

TEST_F(CodePageTest, AnsiCodePageFollowsTheLocaleAndTheOverride) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  EXPECT_EQ(GetACP(), 20127u);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(GetACP(), CP_UTF8);
  std::setlocale(LC_CTYPE, saved.c_str());

  SetAnsiCodePageForTesting(1252);
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(ToWide(CP_ACP, "\xE9"), L"\u00E9");
  EXPECT_EQ(ToWide(CP_THREAD_ACP, "\x80"), L"\u20AC");
  SetAnsiCodePageForTesting(CP_UTF8);
  EXPECT_EQ(ToWide(CP_ACP, "\xC3\xA9"), L"\u00E9");
  EXPECT_EQ(ToNarrow(CP_THREAD_ACP, L"\u00E9"), "\xC3\xA9");
}

}  // namespace
