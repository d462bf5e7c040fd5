#include "platform/win32/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using win32_internal::Fold;
using win32_internal::FoldCase;

// Names fold the same in every process: the process's own locale ("C" here,
// which knows no letters beyond ASCII) does not change the result.
TEST(FoldCase, FoldsEveryLetterWhateverTheProcessLocale) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  const struct {
    const wchar_t* text;
    const wchar_t* upper;
    const wchar_t* lower;
  } cases[] = {
      {L"", L"", L""},
      {L"Software\\Relay", L"SOFTWARE\\RELAY", L"software\\relay"},
      {L"Ärger-Élan ßø", L"ÄRGER-ÉLAN ßØ", L"ärger-élan ßø"},
      {L"ДОМ дом 123_", L"ДОМ ДОМ 123_", L"дом дом 123_"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(FoldCase(c.text, Fold::kUpper), c.upper);
    EXPECT_EQ(FoldCase(c.text, Fold::kLower), c.lower);
  }
}

}  // namespace
