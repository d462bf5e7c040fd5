// Text cells converted to narrow text: the ASCII shortcut gives exactly
// what the conversion with the ANSI code page gives.
#include "configdb/core/column_values.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/string_conversion.h"
#include "platform/com/bstr.h"
#include "platform/win32/codepage.h"

namespace {

class AnsiCodePage {
 public:
  explicit AnsiCodePage(UINT codePage) { SetAnsiCodePageForTesting(codePage); }
  ~AnsiCodePage() { SetAnsiCodePageForTesting(0); }
};

TEST(VariantNarrowTest, TextCellsConvertWithTheAnsiCodePageShortcutOrNot) {
  const struct {
    UINT codePage;
    std::wstring text;
    std::string narrow;
    bool keepsAscii;
  } cases[] = {
      {CP_UTF8, L"user1@example.com", "user1@example.com", true},
      {CP_UTF8, L"M\u00fcller", "M\xc3\xbcller", true},
      {CP_UTF8, std::wstring(L"a\0b", 3), "a", true},
      {CP_UTF8, L"", "", true},
      // UTF-7 writes '+' as "+-": ASCII is not its own narrow text there,
      // right after a code page where it was.
      {CP_UTF7, L"a+b", "a+-b", false},
      {1252, L"a+b", "a+b", true},
      {1252, L"M\u00fcller", "M\xfcller", true},
      {CP_UTF7, L"x+y", "x+-y", false},
      {CP_UTF8, L"x+y", "x+y", true},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(testing::Message() << each.codePage << " " << each.narrow);
    AnsiCodePage codePage(each.codePage);
    VARIANT cell;
    VariantInit(&cell);
    cell.vt = VT_BSTR;
    cell.bstrVal = SysAllocStringLen(each.text.data(), static_cast<UINT>(each.text.size()));
    EXPECT_EQ(AnsiCodePageKeepsAscii(), each.keepsAscii);
    EXPECT_EQ(VariantNarrow(cell), each.narrow);
    EXPECT_EQ(VariantNarrow(cell), ToNarrowString(VariantWide(cell), CP_ACP)) << "the conversion's own result";
    std::wstring converted;
    EXPECT_EQ(VariantWideText(cell, &converted), cell.bstrVal) << "the BSTR's own text, not a copy";
    VariantClear(&cell);
  }
}

TEST(VariantNarrowTest, ANullTextAndANumberConvertLikeTheirWideText) {
  VARIANT none;
  VariantInit(&none);
  none.vt = VT_BSTR;
  none.bstrVal = nullptr;
  EXPECT_EQ(VariantNarrow(none), "");
  std::wstring converted;
  EXPECT_STREQ(VariantWideText(none, &converted), L"");
  const _variant_t number(static_cast<INT>(42));
  EXPECT_EQ(VariantNarrow(number), "42");
  EXPECT_STREQ(VariantWideText(number, &converted), L"42");
}

}  // namespace
