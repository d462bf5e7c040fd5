#include "platform/crt/printf.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace {

int VFormat(char* buf, std::size_t count, const char* fmt, va_list args) {
  return crt::vsnprintf(buf, count, fmt, args);
}
int VFormat(wchar_t* buf, std::size_t count, const wchar_t* fmt, va_list args) {
  return crt::vsnwprintf(buf, count, fmt, args);
}
int VLength(const char* fmt, va_list args) { return crt::vscprintf(fmt, args); }
int VLength(const wchar_t* fmt, va_list args) { return crt::vscwprintf(fmt, args); }

// ASCII or UTF-8 test text in the width Char.
template <typename Char>
std::basic_string<Char> Text(std::string_view s) {
  if constexpr (sizeof(Char) == 1) {
    return std::string(s);
  } else {
    std::wstring w;
    std::mbstate_t state{};
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end) {
      wchar_t wc = 0;
      std::size_t n = std::mbrtowc(&wc, p, static_cast<std::size_t>(end - p), &state);
      if (n == 0 || n > static_cast<std::size_t>(end - p)) {
        wc = static_cast<unsigned char>(*p);  // ASCII under the C locale
        n = 1;
      }
      w.push_back(wc);
      p += n;
    }
    return w;
  }
}

// Text of the width that is not Char, for %S.
template <typename Char>
using Other = std::conditional_t<sizeof(Char) == 1, wchar_t, char>;

// Formats into an exact-size buffer found with the length query, checking
// that the length query, the count rule and the terminator agree.
template <typename Char>
std::basic_string<Char> Format(const Char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = VLength(fmt, args);
  std::basic_string<Char> out;
  if (n >= 0) {
    out.assign(static_cast<std::size_t>(n) + 2, Char('#'));
    EXPECT_EQ(VFormat(out.data(), static_cast<std::size_t>(n) + 1, fmt, again), n);
    EXPECT_EQ(out[static_cast<std::size_t>(n)], Char(0));
    EXPECT_EQ(out[static_cast<std::size_t>(n) + 1], Char('#'));
    out.resize(static_cast<std::size_t>(n));
  } else {
    ADD_FAILURE() << "formatting failed";
  }
  va_end(again);
  va_end(args);
  return out;
}

template <typename Char, typename... Args>
void Expect(std::string_view expected, std::string_view fmt, Args... args) {
  SCOPED_TRACE(std::string(fmt));
  EXPECT_EQ(Format<Char>(Text<Char>(fmt).c_str(), args...), Text<Char>(expected));
}

// The result and the buffer of one call into a 16-character buffer that
// starts filled with '#'.
template <typename Char, typename... Args>
std::pair<int, std::basic_string<Char>> Call(std::size_t count, std::string_view fmt,
                                             Args... args) {
  std::basic_string<Char> buf(16, Char('#'));
  int n;
  if constexpr (sizeof(Char) == 1) {
    n = crt::snprintf(buf.data(), count, Text<Char>(fmt).c_str(), args...);
  } else {
    n = crt::snwprintf(buf.data(), count, Text<Char>(fmt).c_str(), args...);
  }
  return {n, buf};
}

template <typename Char>
class PrintfTest : public testing::Test {};
using CharTypes = testing::Types<char, wchar_t>;
TYPED_TEST_SUITE(PrintfTest, CharTypes);

TYPED_TEST(PrintfTest, Integers) {
  using C = TypeParam;
  const std::uint32_t high = 0xFFFFFFF0u;
  Expect<C>("0 -1 -2147483648 2147483647", "%d %i %d %d", 0, -1, INT32_MIN, INT32_MAX);
  Expect<C>("4294967295 ff ABCDEF 10", "%u %x %X %o", -1, 255, 0xABCDEF, 8);
  // l is 32 bits: a DWORD with its high bit set.
  Expect<C>("4294967280 -16 FFFFFFF0 fffffff0", "%lu %ld %lX %lx", high, high, high, high);
  Expect<C>("00000ABC 00042", "%08lX %05lu", 0xABCu, 42u);
  Expect<C>("-1 65535 -1 255 7", "%hd %hu %hhd %hhu %hhu", 0xFFFF, -1, 0xFF, -1, 0x107);
  Expect<C>("-5 4294967291", "%I32d %I32u", -5, -5);
  // 64 bits.
  Expect<C>("-9223372036854775808", "%I64d", INT64_MIN);
  Expect<C>("ffffffffffffffff FFFFFFFFFFFFFFFF", "%I64x %I64X", UINT64_MAX, UINT64_MAX);
  Expect<C>("18446744073709551615", "%I64u", UINT64_MAX);
  Expect<C>("-9223372036854775807 9223372036854775807", "%I64i %lld", INT64_MIN + 1, INT64_MAX);
  Expect<C>("-3 18446744073709551615 -7 ffffffffffffffff", "%jd %zu %td %Ix", std::intmax_t{-3},
            SIZE_MAX, std::ptrdiff_t{-7}, SIZE_MAX);
  Expect<C>("18446744073709551615 -1", "%Iu %Id", SIZE_MAX, std::intptr_t{-1});
}

TYPED_TEST(PrintfTest, IntegerFlagsWidthAndPrecision) {
  using C = TypeParam;
  Expect<C>("[   42][42   ][-0042][+5][ 5][+5]", "[%5d][%-5d][%05d][%+d][% d][%+ d]", 42, 42, -42,
            5, 5, 5);
  Expect<C>("[005][    -005][     005][007]", "[%.3d][%8.3d][%08.3d][%03d]", 5, -5, 5, 7);
  Expect<C>("[][     ][0][0]", "[%.0d][%5.0d][%#.0o][%#x]", 0, 0, 0, 0);
  Expect<C>("[0xff][0XFF][010][0x0000ff][0xff    ]", "[%#x][%#X][%#o][%#08x][%-#8x]", 255, 255, 8,
            255, 255);
  Expect<C>("[4294967295][7]", "[%+u][% u]", -1, 7u);
  Expect<C>("[   42][42   ][42   ][005][5][  -005]", "[%*d][%-*d][%*d][%.*d][%.*d][%*.*d]", 5, 42,
            5, 42, -5, 42, 3, 5, -1, 5, 6, 3, -5);
  Expect<C>("[0000000000001234][0000000000000000]", "[%p][%p]", reinterpret_cast<void*>(0x1234),
            static_cast<void*>(nullptr));
  Expect<C>("100% 7%", "100%% %d%%", 7);
}

TYPED_TEST(PrintfTest, Floats) {
  using C = TypeParam;
  Expect<C>("1.500000 3.14 2 1.234568e+04 1.234568E+04", "%f %.2f %.f %e %E", 1.5, 3.14159, 2.5,
            12345.678, 12345.678);
  Expect<C>("0.0001 1E-10 2.000000 2.500000 0x1p+0", "%g %G %lf %Lf %a", 0.0001, 1e-10, 2.0, 2.5L,
            1.0);
  Expect<C>("[    -1.500][-1.5      ][-000003.50][+1.000000][3.][0x00001p+0]",
            "[%10.3f][%-10.1f][%010.2f][%+f][%#.0f][%010a]", -1.5, -1.5, -3.5, 1.0, 3.0, 1.0);
  Expect<C>("0.50 1.5e+00", "%.2hf %.1I64e", 0.5, 1.5);  // integer sizes ignored
  Expect<C>("[  inf][ -inf][1.50]", "[%05f][%05.1f][%.*f]", INFINITY, -INFINITY, 2, 1.5);
  Expect<C>("9.00000000000000000000", "%.20f", 9.0);
  // Output longer than the formatter's small buffer.
  Expect<C>("0.5" + std::string(199, '0'), "%.200f", 0.5);
}

TYPED_TEST(PrintfTest, TextAndCharactersOfBothWidths) {
  using C = TypeParam;
  using O = Other<C>;
  std::basic_string<C> own = Text<C>("abc");
  std::basic_string<O> other = Text<O>("xyz");
  // s and c take the format's width, S and C the other; h forces narrow,
  // l and w wide.
  Expect<C>("abc xyz", "%s %S", own.c_str(), other.c_str());
  Expect<C>("narrow wide wide wide narrow", "%hs %ls %ws %lS %hS", "narrow", L"wide", L"wide",
            L"wide", "narrow");
  Expect<C>("A B c d e f", "%c %C %hc %lc %wc %hC", C('A'), O('B'), 'c', L'd', L'e', 'f');
  Expect<C>("[  abc][abc  ][ab][000ab][  A][A  ]", "[%5s][%-5s][%.2s][%05s][%3c][%-3c]",
            own.c_str(), own.c_str(), own.c_str(), Text<C>("ab").c_str(), C('A'), C('A'));
  Expect<C>("[  xyz][xy][ab]", "[%5S][%.2S][%.*s]", other.c_str(), other.c_str(), 2,
            Text<C>("abcdef").c_str());
  // Null strings of either width print "(null)", cut like any text.
  Expect<C>("(null) (null) (nu [  (null)]", "%s %S %.3s [%8s]", static_cast<const C*>(nullptr),
            static_cast<const O*>(nullptr), static_cast<const C*>(nullptr),
            static_cast<const C*>(nullptr));
  Expect<C>("(null)(null)", "%hs%ls", static_cast<const char*>(nullptr),
            static_cast<const wchar_t*>(nullptr));
  // A precision bounds the read: the text need not be terminated.
  const C unterminated[3] = {C('a'), C('b'), C('c')};
  Expect<C>("abc", "%.3s", unterminated);
}

TYPED_TEST(PrintfTest, CountRule) {
  using C = TypeParam;
  // "hello" crosses two conversions, so the cut falls inside one of them.
  std::basic_string<C> el = Text<C>("el");
  struct Row {
    std::size_t count;
    int result;
    std::string_view buffer;  // of 16, '#' where nothing was written
  };
  const Row rows[] = {
      {16, 5, "hello"},  // terminator checked below
      {6, 5, "hello"},
      {5, 5, "hello###########"},  // fits without its terminator
      {4, -1, "hell############"},
      {1, -1, "h###############"},
      {0, -1, "################"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    auto [n, buf] = Call<C>(row.count, "h%sl%c", el.c_str(), C('o'));
    EXPECT_EQ(n, row.result);
    if (row.result == 5 && row.count > 5) {
      EXPECT_EQ(buf[5], C(0));
      buf.resize(5);
    }
    EXPECT_EQ(buf, Text<C>(row.buffer));
  }
  // An empty output fits a count of 0.
  EXPECT_EQ(Call<C>(0, "").first, 0);
}

TYPED_TEST(PrintfTest, LengthQueryAndNullBuffer) {
  using C = TypeParam;
  auto fmt = Text<C>("%s-%I64d");
  auto arg = Text<C>("abc");
  C* null = nullptr;
  if constexpr (sizeof(C) == 1) {
    EXPECT_EQ(crt::snprintf(null, 0, fmt.c_str(), arg.c_str(), INT64_MIN), 24);
    EXPECT_EQ(crt::snprintf(null, 8, fmt.c_str(), arg.c_str(), INT64_MIN), -1);
  } else {
    EXPECT_EQ(crt::snwprintf(null, 0, fmt.c_str(), arg.c_str(), INT64_MIN), 24);
    EXPECT_EQ(crt::snwprintf(null, 8, fmt.c_str(), arg.c_str(), INT64_MIN), -1);
  }
}

TYPED_TEST(PrintfTest, RefusedFormatsWriteOnlyATerminator) {
  using C = TypeParam;
  int count = 7;
  // Text before the bad conversion is not left behind either.
  for (std::string_view fmt :
       {"ab%n", "ab%s%n", "ab%y", "ab%", "ab%hhf", "ab%5%", "ab%2147483648d"}) {
    SCOPED_TRACE(std::string(fmt));
    auto [n, buf] = Call<C>(16, fmt, Text<C>("x").c_str(), &count);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(buf, std::basic_string<C>(1, C(0)) + Text<C>("###############"));
  }
  EXPECT_EQ(count, 7);

  const C* null_fmt = nullptr;
  C buf[4] = {C('#'), C('#'), C('#'), C('#')};
  if constexpr (sizeof(C) == 1) {
    EXPECT_EQ(crt::snprintf(buf, 4, null_fmt), -1);
  } else {
    EXPECT_EQ(crt::snwprintf(buf, 4, null_fmt), -1);
  }
  EXPECT_EQ(buf[0], C(0));
  EXPECT_EQ(buf[1], C('#'));
}

TYPED_TEST(PrintfTest, OutputPastIntMaxFails) {
  using C = TypeParam;
  // Each piece fits an int; the sum does not. Nothing of the padding is
  // written past the buffer's count.
  EXPECT_EQ(Call<C>(0, "%2147483647d%d", 1, 2).first, -1);
  auto [n, buf] = Call<C>(4, "%*d", INT32_MAX, 1);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(buf, Text<C>("    ############"));
}

// Sets a locale for one test and restores the previous one.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~LocaleScope() { std::setlocale(LC_ALL, saved_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string saved_;
  bool ok_ = false;
};

TEST(PrintfLocaleTest, OtherWidthTextGoesThroughTheLocale) {
  LocaleScope utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  const wchar_t* wide = L"\u00e9\u20ac\U0001F600";  // 2, 3 and 4 bytes in UTF-8
  const char* narrow = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  EXPECT_EQ(Format("%S|%ls|%C", wide, wide, L'\u20ac'),
            std::string(narrow) + "|" + narrow + "|\xe2\x82\xac");
  EXPECT_EQ(Format(L"%S|%hs|%C", narrow, narrow, 'a'), std::wstring(wide) + L"|" + wide + L"|a");
  // Width and precision count the output's characters; a character is
  // never split by the precision.
  EXPECT_EQ(Format("[%.4S][%4S]", wide, L"\u00e9"), "[\xc3\xa9][  \xc3\xa9]");
  EXPECT_EQ(Format(L"[%.2S][%3S]", narrow, "\xc3\xa9"), L"[\u00e9\u20ac][  \u00e9]");

  // Text the locale cannot convert fails the whole call.
  char buf[8] = "#######";
  EXPECT_EQ(crt::snprintf(buf, sizeof buf, "ab%S", L"\xD800"), -1);
  EXPECT_EQ(buf[0], 0);
  wchar_t wbuf[8] = L"#######";
  EXPECT_EQ(crt::snwprintf(wbuf, 8, L"ab%S", "\xff"), -1);
  EXPECT_EQ(crt::snwprintf(wbuf, 8, L"ab%hs", "\xc3"), -1);  // cut sequence
  EXPECT_EQ(wbuf[0], 0);
}

TEST(PrintfLocaleTest, TheCLocaleCannotCarryNonAsciiText) {
  LocaleScope c("C");
  ASSERT_TRUE(c.ok());
  char buf[8] = "#######";
  EXPECT_EQ(crt::snprintf(buf, sizeof buf, "%S", L"\u00e9"), -1);
  EXPECT_EQ(Format("%S", L"plain"), "plain");
}

}  // namespace
