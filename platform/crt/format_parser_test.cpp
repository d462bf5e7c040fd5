#include "platform/crt/format_parser.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using crt::ArgClass;
using crt::FormatPiece;
using crt::FormatReader;

std::wstring Widen(std::string_view s) { return std::wstring(s.begin(), s.end()); }

// The classes a format takes from its argument list, in order, as a caller
// checking the arguments reads them: each '*' an int, then the value.
template <typename Char>
std::vector<ArgClass> Classes(const Char* fmt, bool* ok) {
  std::vector<ArgClass> out;
  FormatReader<Char> reader(fmt);
  FormatPiece<Char> piece;
  while (reader.Next(&piece)) {
    if (piece.kind != FormatPiece<Char>::Kind::kConversion) continue;
    if (piece.conversion.width_from_arg) out.push_back(ArgClass::kInt32);
    if (piece.conversion.precision_from_arg) out.push_back(ArgClass::kInt32);
    out.push_back(piece.conversion.arg);
  }
  *ok = reader.ok();
  return out;
}

TEST(FormatReaderTest, ArgumentClassesInBothWidths) {
  constexpr ArgClass I32 = ArgClass::kInt32, I64 = ArgClass::kInt64, IPtr = ArgClass::kIntPtr,
                     Dbl = ArgClass::kDouble, LDbl = ArgClass::kLongDouble,
                     Ptr = ArgClass::kPointer, NStr = ArgClass::kNarrowString,
                     WStr = ArgClass::kWideString, NChr = ArgClass::kNarrowChar,
                     WChr = ArgClass::kWideChar, Cnt = ArgClass::kCountPointer;
  struct Row {
    const char* fmt;
    std::vector<ArgClass> narrow;  // in a narrow format
    std::vector<ArgClass> wide;    // in a wide format
  };
  const Row rows[] = {
      {"plain text", {}, {}},
      {"%d %i %u %o %x %X", {I32, I32, I32, I32, I32, I32}, {I32, I32, I32, I32, I32, I32}},
      {"%hhd %hd %ld %08lX %I32u", {I32, I32, I32, I32, I32}, {I32, I32, I32, I32, I32}},
      {"%I64d %I64x %lld %jd", {I64, I64, I64, I64}, {I64, I64, I64, I64}},
      {"%Id %Iu %zu %td", {IPtr, IPtr, IPtr, IPtr}, {IPtr, IPtr, IPtr, IPtr}},
      {"%f %e %E %g %G %a %A %F %lf",
       {Dbl, Dbl, Dbl, Dbl, Dbl, Dbl, Dbl, Dbl, Dbl},
       {Dbl, Dbl, Dbl, Dbl, Dbl, Dbl, Dbl, Dbl, Dbl}},
      {"%Lf %Lg %hf %I64e %llg", {LDbl, LDbl, Dbl, Dbl, Dbl}, {LDbl, LDbl, Dbl, Dbl, Dbl}},
      {"%p %n", {Ptr, Cnt}, {Ptr, Cnt}},
      {"%s %S", {NStr, WStr}, {WStr, NStr}},
      {"%hs %hS %ls %lS %ws", {NStr, NStr, WStr, WStr, WStr}, {NStr, NStr, WStr, WStr, WStr}},
      {"%c %C %I64s %I64S", {NChr, WChr, NStr, WStr}, {WChr, NChr, WStr, NStr}},
      {"%hc %hC %lc %lC %wc", {NChr, NChr, WChr, WChr, WChr}, {NChr, NChr, WChr, WChr, WChr}},
      {"%*d %.*s %-*.*I64x",
       {I32, I32, I32, NStr, I32, I32, I64},
       {I32, I32, I32, WStr, I32, I32, I64}},
      {"100%% %5.2f%%", {Dbl}, {Dbl}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fmt);
    bool ok = false;
    EXPECT_EQ(Classes(row.fmt, &ok), row.narrow);
    EXPECT_TRUE(ok);
    std::wstring wide = Widen(row.fmt);
    EXPECT_EQ(Classes(wide.c_str(), &ok), row.wide);
    EXPECT_TRUE(ok);
  }
}

TEST(FormatReaderTest, InvalidFormatsStopAtTheirPercent) {
  struct Row {
    const char* fmt;
    std::size_t offset;  // of the bad conversion's '%'
  };
  const Row rows[] = {
      {"ab%", 2},           {"ab%y", 2},
      {"%d%5%", 2},         {"%hhf", 0},
      {"%zf", 0},           {"%Lx", 0},
      {"%wd", 0},           {"%lp", 0},
      {"%hn", 0},           {"%hhs", 0},
      {"%I6d", 0},          {"%I64", 0},
      {"%ll", 0},           {"%-", 0},
      {"%.*", 0},           {"%2147483648d", 0},
      {"%.2147483648f", 0}, {"%d %2147483647d %99999999999s", 16},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fmt);
    FormatReader<char> reader(row.fmt);
    FormatPiece<char> piece;
    while (reader.Next(&piece)) {
    }
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.offset(), row.offset);
    EXPECT_FALSE(reader.Next(&piece));  // stays stopped

    std::wstring wide = Widen(row.fmt);
    FormatReader<wchar_t> wreader(wide.c_str());
    FormatPiece<wchar_t> wpiece;
    while (wreader.Next(&wpiece)) {
    }
    EXPECT_FALSE(wreader.ok());
    EXPECT_EQ(wreader.offset(), row.offset);
  }

  // A wide letter outside ASCII never aliases a narrow one ('d' + 0x100).
  const wchar_t alias[] = {L'%', static_cast<wchar_t>(L'd' + 0x100), 0};
  bool ok = true;
  EXPECT_TRUE(Classes(alias, &ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_FALSE(FormatReader<char>(nullptr).ok());
  EXPECT_FALSE(FormatReader<wchar_t>(nullptr).ok());
}

TEST(FormatReaderTest, PiecesAndConversionFields) {
  const char* fmt = "a%%b%-+ #012.5I64Xc%*.*hs";
  FormatReader<char> reader(fmt);
  FormatPiece<char> piece;
  std::vector<std::string> texts;
  std::vector<crt::Conversion> conversions;
  while (reader.Next(&piece)) {
    if (piece.kind == FormatPiece<char>::Kind::kText) {
      texts.emplace_back(piece.text, piece.length);
    } else {
      conversions.push_back(piece.conversion);
    }
  }
  EXPECT_TRUE(reader.ok());
  EXPECT_EQ(reader.offset(), std::string(fmt).size());
  EXPECT_EQ(texts, (std::vector<std::string>{"a", "%", "b", "c"}));
  ASSERT_EQ(conversions.size(), 2u);

  const crt::Conversion& x = conversions[0];
  EXPECT_TRUE(x.left && x.plus && x.space && x.alternate && x.zero);
  EXPECT_EQ(x.width, 12);
  EXPECT_EQ(x.precision, 5);
  EXPECT_FALSE(x.width_from_arg || x.precision_from_arg);
  EXPECT_EQ(x.length, crt::Length::kI64);
  EXPECT_EQ(x.letter, 'X');
  EXPECT_EQ(x.ArgCount(), 1);

  const crt::Conversion& s = conversions[1];
  EXPECT_TRUE(s.width_from_arg && s.precision_from_arg);
  EXPECT_EQ(s.length, crt::Length::kH);
  EXPECT_EQ(s.letter, 's');
  EXPECT_EQ(s.arg, ArgClass::kNarrowString);
  EXPECT_EQ(s.ArgCount(), 3);
}

// Reads a format's arguments the way the formatter does.
std::vector<crt::Argument> ReadArguments(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vector<crt::Argument> out;
  {
    crt::ArgList list(args);
    FormatReader<char> reader(fmt);
    FormatPiece<char> piece;
    while (reader.Next(&piece)) {
      if (piece.kind != FormatPiece<char>::Kind::kConversion) continue;
      if (piece.conversion.width_from_arg) out.push_back(list.Next(ArgClass::kInt32));
      out.push_back(list.Next(piece.conversion.arg));
    }
  }
  va_end(args);
  return out;
}

TEST(ArgListTest, FetchesEachClassWithItsWidthAndSignedness) {
  int target = 0;
  auto a = ReadArguments("%*d %I64d %Iu %lc %c %f %Lf %p %hs %ls %n", -3, INT32_MIN, INT64_MIN,
                         SIZE_MAX, L'\x10FFFF', 'x', 0.25, 0.5L, &target, "n", L"w", &target);
  ASSERT_EQ(a.size(), 12u);
  EXPECT_EQ(a[0].integer, -3);
  EXPECT_EQ(a[1].integer, INT32_MIN);
  EXPECT_EQ(a[2].integer, INT64_MIN);
  EXPECT_EQ(static_cast<std::uint64_t>(a[3].integer), SIZE_MAX);
  EXPECT_EQ(a[4].integer, 0x10FFFF);
  EXPECT_EQ(a[5].integer, 'x');
  EXPECT_EQ(a[6].real, 0.25);
  EXPECT_EQ(a[7].long_real, 0.5L);
  EXPECT_EQ(a[8].pointer, &target);
  EXPECT_STREQ(a[9].narrow, "n");
  EXPECT_STREQ(a[10].wide, L"w");
  EXPECT_EQ(a[11].pointer, &target);
  EXPECT_EQ(a[11].cls, ArgClass::kCountPointer);
}

}  // namespace
