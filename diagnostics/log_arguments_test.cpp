#include "diagnostics/log_arguments.h"

#include <cstdarg>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "diagnostics/unreadable_page_for_tests.h"

namespace {

template <typename Char>
LogArgumentCheck Describe(const Char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogArgumentCheck check = DescribeLogArguments(fmt, args);
  va_end(args);
  return check;
}
constexpr auto Narrow = Describe<char>;
constexpr auto Wide = Describe<wchar_t>;

TEST(DescribeLogArguments, DescribesEveryArgumentWithItsType) {
  struct Case {
    LogArgumentCheck check;
    int count;
    std::wstring description;
  };
  const Case cases[] = {
      {Narrow("no conversions, 100%%"), 0, L""},
      {Narrow("%d %u %x", -5, 7u, 255u), 3,
       L"arg[1](int)=-5 arg[2](unsigned int)=7 arg[3](unsigned int)=255 "},
      {Narrow("%hd %lu %ld", 70000, 4000000000u, -1), 3,
       L"arg[1](short int)=4464 arg[2](long unsigned int)=4000000000 arg[3](long int)=-1 "},
      {Narrow("%I64d %I64u", std::int64_t{-5000000000}, std::uint64_t{1} << 63), 2,
       L"arg[1](__int64)=-5000000000 arg[2](unsigned __int64)=9223372036854775808 "},
      {Narrow("%s and %S", "narrow", L"wide"), 2, L"arg[1](char*)=narrow arg[2](wchar_t*)=wide "},
      {Wide(L"%s and %S", L"wide", "narrow"), 2, L"arg[1](wchar_t*)=wide arg[2](char*)=narrow "},
      {Narrow("%c%C", 'a', static_cast<wint_t>(L'b')), 2, L"arg[1](char)=a arg[2](wchar_t)=b "},
      {Narrow("%lf %g %le %hf", 1.5, 2.0, 0.25, 3.0), 4,
       L"arg[1](long double)=1.500000 arg[2](double)=2.000000 arg[3](double)=0.250000 "
       L"arg[4](double)=3.000000 "},
      {Narrow("%*.*s", 8, 3, "abcdef"), 3, L"arg[1](int)=8 arg[2](int)=3 arg[3](char*)=abc "},
      {Narrow("%s", static_cast<const char*>(nullptr)), 1, L"arg[1](char*)=<null> "},
      {Wide(L"%s", static_cast<const wchar_t*>(nullptr)), 1, L"arg[1](wchar_t*)=<null> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.description.begin(), c.description.end()));
    EXPECT_TRUE(c.check.valid);
    EXPECT_EQ(c.check.argCount, c.count);
    EXPECT_EQ(c.check.description, c.description);
  }
}

TEST(DescribeLogArguments, RefusesWhatTheLogCallsDoNotAccept) {
  int written = 12345;  // a valid, writable target for %n
  struct Case {
    const char* name;
    LogArgumentCheck check;
    int describedBefore;
  };
  const Case cases[] = {
      {"letter Z", Narrow("%d %Z", 1, 2), 1},
      {"%n", Narrow("%d%n", 1, static_cast<int*>(nullptr)), 1},
      {"%n with a writable int", Narrow("%d%n", 1, &written), 1},
      {"wide %n with a writable int", Wide(L"%n", &written), 0},
      {"ll", Narrow("%lld", 1LL), 0},
      {"hh", Narrow("%hhd", 1), 0},
      {"I32", Narrow("%I32d", 1), 0},
      {"I alone", Narrow("%Id", 1), 0},
      {"L", Narrow("%Lf", 1.0L), 0},
      {"F", Narrow("%F", 1.0), 0},
      {"z", Narrow("%zu", std::size_t{1}), 0},
      {"w", Narrow("%ws", L"x"), 0},
      {"percent at the end", Narrow("50%"), 0},
      {"null format", Narrow(nullptr), 0},
      {"null wide format", Wide(nullptr), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.check.valid);
    EXPECT_EQ(c.check.argCount, c.describedBefore);
  }
  EXPECT_EQ(written, 12345);
}

TEST(DescribeLogArguments, UnreadableTextIsReportedWithItsAddressAndStopsTheWalk) {
  const char* bad = UnreadablePage();
  ASSERT_NE(bad, nullptr);
  LogArgumentCheck check = Narrow("%d %s %d", 1, bad, 3);
  EXPECT_FALSE(check.valid);
  EXPECT_EQ(check.argCount, 2);
  EXPECT_EQ(check.description.rfind(L"arg[1](int)=1 arg[2](char*)=BAD_PTR(", 0), 0u);

  LogArgumentCheck wide = Wide(L"%s", reinterpret_cast<const wchar_t*>(bad));
  EXPECT_FALSE(wide.valid);
  EXPECT_NE(wide.description.find(L"(wchar_t*)=BAD_PTR("), std::wstring::npos);

  // A precision stops the test where the formatter stops reading.
  EXPECT_TRUE(Narrow("%.0s", bad).valid);
  EXPECT_FALSE(Narrow("%.1s", bad).valid);
  // So does a null one, and %p is never read through.
  EXPECT_TRUE(Narrow("%p", static_cast<const void*>(bad)).valid);
}

TEST(DescribeLogArguments, UnreadableFormatIsInvalid) {
  EXPECT_FALSE(Narrow(UnreadablePage()).valid);
  EXPECT_FALSE(Wide(reinterpret_cast<const wchar_t*>(UnreadablePage())).valid);
}

TEST(DescribeLogArguments, NarrowFormatIsWalkedAsNarrowText) {
  // In a narrow format %s takes narrow text: the check reads "abc" as a
  // char*, which a walk of the widened format would read as wchar_t*.
  LogArgumentCheck check = Narrow("\xe9 %s", "abc");
  EXPECT_TRUE(check.valid);
  EXPECT_EQ(check.description, L"arg[1](char*)=abc ");
}

TEST(DescribeLogArguments, LeavesTheCallersListUnread) {
  auto twice = [](const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    LogArgumentCheck first = DescribeLogArguments(fmt, args);
    LogArgumentCheck second = DescribeLogArguments(fmt, args);
    va_end(args);
    return first.description == second.description;
  };
  EXPECT_TRUE(twice("%d %s", 42, "x"));
}

}  // namespace
