#include "platform/com/bstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/com/com_error.h"
#include "platform/com/variant.h"
#include "platform/win32/codepage.h"

namespace {

TEST(Bstr, KeepsItsLengthAndEmbeddedNuls) {
  const wchar_t text[] = {L'a', L'\0', L'b', L'\0', L'c'};
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 5u * sizeof(wchar_t));
  EXPECT_EQ(std::memcmp(b, text, sizeof text), 0);
  EXPECT_EQ(b[5], L'\0');
  SysFreeString(b);
}

TEST(Bstr, NullAndZeroedForms) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  BSTR blank = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 3u);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(blank[i], L'\0');
  SysFreeString(blank);

  BSTR empty = SysAllocString(L"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);

  EXPECT_EQ(SysAllocStringLen(L"x", 0xFFFFFFFFu), nullptr);
}

class BstrClass : public ::testing::Test {
 protected:
  void TearDown() override { SetAnsiCodePageForTesting(0); }
};

TEST_F(BstrClass, RoundTripsNarrowAndWideTextInTheAnsiCodePage) {
  const struct {
    UINT codePage;
    const char* narrow;
    const wchar_t* wide;
  } cases[] = {
      {CP_UTF8, "plain", L"plain"},
      {CP_UTF8, "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80", L"h\u00E9llo \u20AC \U0001F600"},
      {1252, "caf\xE9 \x80", L"caf\u00E9 \u20AC"},
      {CP_UTF8, "", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.narrow);
    SetAnsiCodePageForTesting(c.codePage);
    const _bstr_t fromNarrow(c.narrow);
    EXPECT_STREQ(static_cast<const wchar_t*>(fromNarrow), c.wide);
    EXPECT_EQ(fromNarrow.length(), std::wcslen(c.wide));
    const _bstr_t fromWide(c.wide);
    EXPECT_STREQ(static_cast<const char*>(fromWide), c.narrow);
  }
}

TEST_F(BstrClass, NullTextStaysNull) {
  const _bstr_t fromNull(static_cast<const char*>(nullptr));
  EXPECT_EQ(static_cast<const wchar_t*>(fromNull), nullptr);
  EXPECT_EQ(static_cast<const char*>(fromNull), nullptr);
  EXPECT_EQ(fromNull.length(), 0u);
  EXPECT_TRUE(!fromNull);
  EXPECT_TRUE(fromNull == _bstr_t(L""));
  const _bstr_t empty(L"");
  ASSERT_NE(static_cast<const wchar_t*>(empty), nullptr);
  EXPECT_FALSE(!empty);
}

TEST_F(BstrClass, CopiesShareOneTextUntilOneIsReplaced) {
  _bstr_t first(L"shared");
  _bstr_t second(first);
  EXPECT_EQ(std::as_const(first).GetBSTR(), std::as_const(second).GetBSTR());
  second = L"other";
  EXPECT_STREQ(static_cast<const wchar_t*>(first), L"shared");
  EXPECT_STREQ(static_cast<const wchar_t*>(second), L"other");
}

TEST_F(BstrClass, DetachFromASharedCopyLeavesTheOthersTheirText) {
  _bstr_t first(L"keep me");
  const _bstr_t second(first);
  BSTR detached = first.Detach();
  ASSERT_NE(detached, nullptr);
  EXPECT_EQ(static_cast<const wchar_t*>(first), nullptr);
  EXPECT_STREQ(static_cast<const wchar_t*>(second), L"keep me");
  EXPECT_STREQ(detached, L"keep me");
  SysFreeString(detached);

  _bstr_t alone(L"mine");
  const wchar_t* held = alone;
  BSTR taken = alone.Detach();
  EXPECT_EQ(taken, held);  // the sole owner hands its own BSTR over
  SysFreeString(taken);
}

// However a text was made (its BSTR may share one block with the text's
// count, or be the one empty text all "" share), the sole owner hands over
// a BSTR the caller frees, and a writable BSTR may be freed and replaced,
// without touching any other text.
TEST_F(BstrClass, EveryMadeTextCanBeHandedOverOrReplacedThroughItsBSTR) {
  SetAnsiCodePageForTesting(CP_UTF8);
  BSTR source = SysAllocString(L"from a BSTR");
  BSTR emptySource = SysAllocString(L"");
  const struct {
    const char* name;
    std::function<_bstr_t()> make;
    const wchar_t* text;
  } cases[] = {
      {"wide", [] { return _bstr_t(L"wide text"); }, L"wide text"},
      {"narrow", [] { return _bstr_t("narrow \xC3\xA9"); }, L"narrow \u00E9"},
      {"wide empty", [] { return _bstr_t(L""); }, L""},
      {"narrow empty", [] { return _bstr_t(""); }, L""},
      {"copied BSTR", [&] { return _bstr_t(source, true); }, L"from a BSTR"},
      {"copied empty BSTR", [&] { return _bstr_t(emptySource, true); }, L""},
      {"joined", [] { return _bstr_t(L"jo") + _bstr_t("ined"); }, L"joined"},
      {"variant", [] { return _bstr_t(_variant_t(L"from a variant")); }, L"from a variant"},
  };
  const _bstr_t bystanderEmpty(L"");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    _bstr_t sole = c.make();
    BSTR taken = sole.Detach();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(static_cast<const wchar_t*>(sole), nullptr);
    EXPECT_EQ(std::wstring(taken, SysStringLen(taken)), c.text);
    SysFreeString(taken);

    _bstr_t changed = c.make();
    const _bstr_t sharer(changed);
    BSTR& writable = changed.GetBSTR();
    SysFreeString(std::exchange(writable, SysAllocString(L"replaced")));
    EXPECT_STREQ(static_cast<const wchar_t*>(changed), L"replaced");
    EXPECT_STREQ(static_cast<const char*>(changed), "replaced");
    EXPECT_STREQ(static_cast<const wchar_t*>(sharer), c.text);

    _bstr_t alone = c.make();
    BSTR& own = alone.GetBSTR();
    SysFreeString(std::exchange(own, SysAllocString(L"mine")));
    EXPECT_STREQ(static_cast<const wchar_t*>(alone), L"mine");
  }
  EXPECT_EQ(bystanderEmpty.length(), 0u);
  EXPECT_STREQ(static_cast<const wchar_t*>(_bstr_t(L"")), L"");
  SysFreeString(source);
  SysFreeString(emptySource);
}

TEST_F(BstrClass, AttachCopyAndOutParameters) {
  _bstr_t holder;
  holder.Attach(SysAllocString(L"attached"));
  EXPECT_EQ(holder.length(), 8u);

  BSTR copied = holder.copy();
  EXPECT_NE(copied, holder.GetBSTR());
  EXPECT_STREQ(copied, L"attached");
  SysFreeString(copied);
  EXPECT_EQ(holder.copy(false), holder.GetBSTR());

  BSTR* out = holder.GetAddress();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(*out, nullptr);
  *out = SysAllocString(L"filled");
  EXPECT_STREQ(static_cast<const wchar_t*>(holder), L"filled");
  EXPECT_STREQ(static_cast<const char*>(holder), "filled");

  const _bstr_t sharer(holder);
  BSTR& writable = holder.GetBSTR();  // a writable reference unshares first
  EXPECT_NE(writable, std::as_const(sharer).GetBSTR());
  SysFreeString(std::exchange(writable, SysAllocString(L"changed")));
  EXPECT_STREQ(static_cast<const wchar_t*>(sharer), L"filled");
  EXPECT_STREQ(static_cast<const char*>(holder), "changed");
}

TEST_F(BstrClass, ConcatenatesAndCompares) {
  SetAnsiCodePageForTesting(CP_UTF8);
  _bstr_t text(L"ab");
  text += _bstr_t("cd");
  EXPECT_STREQ(static_cast<const wchar_t*>(text), L"abcd");
  EXPECT_STREQ(static_cast<const wchar_t*>("<" + text + L">"), L"<abcd>");
  const _bstr_t nul(SysAllocStringLen(L"a\0b", 3), false);
  const _bstr_t joined = nul + nul;
  EXPECT_EQ(joined.length(), 6u);
  EXPECT_EQ(joined.GetBSTR()[4], L'\0');

  EXPECT_TRUE(text == L"abcd");
  EXPECT_TRUE(text == "abcd");
  EXPECT_TRUE(text != _bstr_t(L"abce"));
  EXPECT_TRUE(_bstr_t(L"abc") < text);
  EXPECT_TRUE(_bstr_t(L"") < _bstr_t(L"\u00E9"));
  EXPECT_TRUE(_bstr_t(SysAllocStringLen(L"a\0b", 3), false) > _bstr_t(L"a"));
  EXPECT_FALSE(_bstr_t(L"a") == _bstr_t(SysAllocStringLen(L"a\0", 2), false));
}

TEST_F(BstrClass, NarrowFormFollowsAReplacedText) {
  SetAnsiCodePageForTesting(CP_UTF8);
  _bstr_t text(L"one");
  EXPECT_STREQ(static_cast<const char*>(text), "one");
  text += _bstr_t(L"two");
  EXPECT_STREQ(static_cast<const char*>(text), "onetwo");
  BSTR replacement = SysAllocString(L"x");
  text.Assign(replacement);
  SysFreeString(replacement);
  EXPECT_STREQ(static_cast<const char*>(text), "x");
}

TEST_F(BstrClass, CopiesOnSeveralThreadsShareTheNarrowForm) {
  SetAnsiCodePageForTesting(CP_UTF8);
  const _bstr_t original(L"gr\u00FC\u00DFe");
  std::vector<const char*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i, copy = original] { seen[i] = copy; });
  }
  for (auto& t : threads) t.join();
  for (const char* narrow : seen) EXPECT_EQ(narrow, seen[0]);
  EXPECT_STREQ(seen[0], "gr\xC3\xBC\xC3\x9F" "e");
}

}  // namespace
