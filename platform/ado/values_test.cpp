// Value codecs of the ADO layer: decimals, OLE dates, UTF-8 and the
// column store of a row set, over hand-built cases.
#include "platform/ado/values.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace ado {
namespace {

using backend::Decimal;
using backend::Timestamp;
using backend::ValueKind;

TEST(Decimal, ParsesAndFormatsAtTheEdgesOf96Bits) {
  struct Case {
    const char* text;
    bool ok;
    std::uint64_t lo;
    std::uint32_t hi;
    int scale;
    bool negative;
    const char* formatted;
  };
  const Case cases[] = {
      {"0", true, 0, 0, 0, false, "0"},
      {"-0.00", true, 0, 0, 2, false, "0.00"},
      {"-12.345", true, 12345, 0, 3, true, "-12.345"},
      {".5", true, 5, 0, 1, false, "0.5"},
      // 19 digits still in 64 bits, the 20th goes on in 96.
      {"1234567890123456789", true, 1234567890123456789ull, 0, 0, false, "1234567890123456789"},
      {"-123456789.0123456789", true, 1234567890123456789ull, 0, 10, true, "-123456789.0123456789"},
      {"12345678901234567890", true, 12345678901234567890ull, 0, 0, false, "12345678901234567890"},
      {"18446744073709551615", true, ~0ull, 0, 0, false, "18446744073709551615"},
      {"18446744073709551616", true, 0, 1, 0, false, "18446744073709551616"},
      {"79228162514264337593543950335", true, ~0ull, ~0u, 0, false, "79228162514264337593543950335"},
      {"79228162514264337593543950336", false, 0, 0, 0, false, nullptr},
      {"0.00000000000000000000000000001", true, 0, 0, 28, false, "0.0000000000000000000000000000"},
      {"1e5", false, 0, 0, 0, false, nullptr},
      {"", false, 0, 0, 0, false, nullptr},
      {"-", false, 0, 0, 0, false, nullptr},
      {"NaN", false, 0, 0, 0, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Decimal d;
    ASSERT_EQ(backend::ParseDecimal(c.text, &d), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(d.lo, c.lo);
    EXPECT_EQ(d.hi, c.hi);
    EXPECT_EQ(d.scale, c.scale);
    EXPECT_EQ(d.negative, c.negative);
    EXPECT_EQ(backend::FormatDecimal(d), c.formatted);
  }
}

TEST(OleDate, ConvertsBothWaysWithMilliseconds) {
  struct Case {
    Timestamp time;
    double date;
  };
  const Case cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
      {{1900, 1, 1, 18, 0, 0, 0}, 2.75},
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
      {{2023, 12, 10, 0, 0, 0, 250000000}, 45270.0 + 250.0 / 86400000},
      {{100, 1, 1, 0, 0, 0, 0}, -657434.0},
      {{9999, 12, 31, 23, 59, 59, 0}, 2958465.0 + 86399.0 / 86400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    EXPECT_NEAR(TimestampToDate(c.time), c.date, 1e-9);
    Timestamp back;
    ASSERT_TRUE(DateToTimestamp(c.date, &back));
    EXPECT_EQ(back.year, c.time.year);
    EXPECT_EQ(back.month, c.time.month);
    EXPECT_EQ(back.day, c.time.day);
    EXPECT_EQ(back.hour, c.time.hour);
    EXPECT_EQ(back.minute, c.time.minute);
    EXPECT_EQ(back.second, c.time.second);
    EXPECT_EQ(back.fraction, c.time.fraction);
  }
  Timestamp ignored;
  EXPECT_FALSE(DateToTimestamp(-657435.0, &ignored));
  EXPECT_FALSE(DateToTimestamp(2958466.0, &ignored));
  EXPECT_FALSE(DateToTimestamp(NAN, &ignored));
  // 23:59:59.9996 rounds into the next day, not to a 24th hour.
  ASSERT_TRUE(DateToTimestamp(1.0 - 0.0004 / 86400, &ignored));
  EXPECT_EQ(ignored.day, 31);
  EXPECT_EQ(ignored.hour, 0);
}

TEST(Utf8, RoundTripsEveryPlaneAndReplacesBrokenInput) {
  const std::wstring text = L"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(backend::Utf8FromWide(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(backend::WideFromUtf8(backend::Utf8FromWide(text)), text);
  EXPECT_EQ(backend::WideFromUtf8("\xC3"), L"\xFFFD");
  EXPECT_EQ(backend::WideFromUtf8("x\xFFy"), L"x\xFFFDy");
  EXPECT_EQ(backend::Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(RowSet, KeepsNullsEmptiesAndValuesApartAcrossManyRows) {
  std::vector<backend::ColumnInfo> columns(4);
  columns[0].kind = ValueKind::Int32;
  columns[1].kind = ValueKind::Text;
  columns[2].kind = ValueKind::Bytes;
  columns[3].kind = ValueKind::Decimal;
  backend::RowSet rows(columns);
  // Seventeen rows: every third cell NULL, so null bits cross byte borders.
  for (int r = 0; r < 17; ++r) {
    rows.BeginRow();
    if (r % 3 == 0) {
      rows.PutNull();
      rows.PutNull();
      rows.PutNull();
      rows.PutNull();
      continue;
    }
    rows.PutInteger(r);
    rows.PutText(std::string(static_cast<std::size_t>(r % 2), 'x'));
    rows.PutBytes(std::vector<std::uint8_t>(static_cast<std::size_t>(r % 2), 7));
    rows.PutDecimal(Decimal{static_cast<std::uint64_t>(r), 0, 1, true});
  }
  rows.Seal();
  ASSERT_EQ(rows.RowCount(), 17u);
  for (std::size_t r = 0; r < 17; ++r) {
    SCOPED_TRACE(r);
    const bool null = r % 3 == 0;
    for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(rows.IsNull(c, r), null);
    if (null) continue;
    EXPECT_EQ(rows.Integer(0, r), static_cast<std::int64_t>(r));
    EXPECT_EQ(rows.TextAt(1, r).size(), r % 2);
    EXPECT_EQ(rows.SizeAt(2, r), r % 2);  // an empty value is not NULL
    EXPECT_EQ(rows.DecimalAt(3, r).lo, r);
  }

  VARIANT v;
  CellToVariant(rows, 2, 2, &v);  // empty bytes: an empty array
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  LONG upper = 0;
  SafeArrayGetUBound(v.parray, 1, &upper);
  EXPECT_EQ(upper, -1);
  VariantClear(&v);
  CellToVariant(rows, 3, 1, &v);
  ASSERT_EQ(v.vt, VT_DECIMAL);
  EXPECT_EQ(v.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(v.decVal.scale, 1);
  VariantClear(&v);
  CellToVariant(rows, 0, 3, &v);
  EXPECT_EQ(v.vt, VT_NULL);

  rows.RemoveColumns({0, 2});
  ASSERT_EQ(rows.ColumnCount(), 2u);
  EXPECT_EQ(rows.Columns()[0].kind, ValueKind::Text);
  EXPECT_EQ(rows.DecimalAt(1, 4).lo, 4u);
}

// A block appended column by column reads back as the same rows appended
// one at a time.
TEST(RowSet, ABlockAppendedColumnByColumnReadsAsRows) {
  std::vector<backend::ColumnInfo> columns(6);
  columns[0].kind = ValueKind::Bool;
  columns[1].kind = ValueKind::Int16;
  columns[2].kind = ValueKind::Int64;
  columns[3].kind = ValueKind::Single;
  columns[4].kind = ValueKind::Timestamp;
  columns[5].kind = ValueKind::Text;
  backend::RowSet rows(columns);
  constexpr std::size_t kRows = 11;
  std::int64_t integers[kRows];
  double reals[kRows];
  backend::Timestamp times[kRows];
  std::int64_t lengths[kRows];
  for (std::size_t r = 0; r < kRows; ++r) {
    integers[r] = static_cast<std::int64_t>(r) * 1000 - 3;
    reals[r] = static_cast<double>(r) / 4;
    times[r] = backend::Timestamp{static_cast<std::int16_t>(2000 + r), 1, 2, 3, 4, 5, 6};
    lengths[r] = r % 4 == 1 ? -1 : 8;  // every fourth NULL
  }
  rows.BeginRow();  // one row the usual way first
  for (std::size_t c = 0; c < 5; ++c) rows.PutNull();
  rows.PutText("first");
  rows.AddRows(kRows);
  rows.PutIntegers(0, integers, lengths, kRows);
  rows.PutIntegers(1, integers, lengths, kRows);
  rows.PutIntegers(2, integers, lengths, kRows);
  rows.PutReals(3, reals, lengths, kRows);
  rows.PutTimes(4, times, lengths, kRows);
  for (std::size_t r = 0; r < kRows; ++r) {
    if (lengths[r] < 0) {
      rows.PutNullAt(5);
    } else {
      rows.PutTextAt(5, std::string(r, 't'));
    }
  }
  rows.Seal();
  ASSERT_EQ(rows.RowCount(), kRows + 1);
  EXPECT_EQ(rows.TextAt(5, 0), "first");
  EXPECT_TRUE(rows.IsNull(0, 0));
  for (std::size_t r = 0; r < kRows; ++r) {
    SCOPED_TRACE(r);
    const std::size_t row = r + 1;
    const bool null = lengths[r] < 0;
    for (std::size_t c = 0; c < 6; ++c) EXPECT_EQ(rows.IsNull(c, row), null);
    if (null) continue;
    EXPECT_EQ(rows.Integer(0, row), integers[r] != 0 ? 1 : 0);
    EXPECT_EQ(rows.Integer(1, row), static_cast<std::int16_t>(integers[r]));
    EXPECT_EQ(rows.Integer(2, row), integers[r]);
    EXPECT_EQ(rows.Real(3, row), static_cast<float>(reals[r]));
    EXPECT_EQ(rows.TimeAt(4, row).year, 2000 + static_cast<int>(r));
    EXPECT_EQ(rows.TimeAt(4, row).fraction, 6u);
    EXPECT_EQ(rows.TextAt(5, row), std::string(r, 't'));
  }
}

TEST(Parameters, ConvertEachAdoTypeWithoutNarrowingBigIntegers) {
  _variant_t none;
  none.vt = VT_NULL;
  struct Case {
    DataTypeEnum type;
    _variant_t value;
    ValueKind kind;
    std::int64_t integer;
  };
  const Case cases[] = {
      {adInteger, _variant_t(INT{-5}), ValueKind::Int32, -5},
      {adBigInt, _variant_t("-9223372036854775808"), ValueKind::Int64, INT64_MIN},
      {adBigInt, _variant_t(LONGLONG{1} << 40), ValueKind::Int64, LONGLONG{1} << 40},
      {adBoolean, _variant_t(true), ValueKind::Bool, 1},
      {adSmallInt, _variant_t(INT{300}), ValueKind::Int16, 300},
      {adInteger, none, ValueKind::Null, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    backend::Param p = ToBackendParam(_bstr_t(L""), c.type, adParamInput, 0, 0, 0, c.value);
    EXPECT_EQ(p.value.kind, c.kind);
    EXPECT_EQ(p.value.integer, c.integer);
  }
  // A narrow text travels as text, not as a number.
  backend::Param text = ToBackendParam(_bstr_t(L""), adVarChar, adParamInput, 4, 0, 0, _variant_t("abc"));
  EXPECT_EQ(text.value.text, L"abc");
  EXPECT_FALSE(text.wide);
  // The runner's timestamps arrive as the double of an OLE date.
  backend::Param when = ToBackendParam(_bstr_t(L""), adDBTimeStamp, adParamInput, 0, 0, 0, _variant_t(36526.5));
  EXPECT_EQ(when.value.time.year, 2000);
  EXPECT_EQ(when.value.time.hour, 12);
  // An output parameter carries no input value.
  backend::Param out = ToBackendParam(_bstr_t(L"Max"), adBigInt, adParamOutput, 8, 0, 0, _variant_t(INT{1}));
  EXPECT_EQ(out.value.kind, ValueKind::Null);
  EXPECT_EQ(out.direction, backend::ParamDirection::Output);

  try {
    ToBackendParam(_bstr_t(L""), adBigInt, adParamInput, 0, 0, 0, _variant_t("12x"));
    ADD_FAILURE() << "a text that is no number was bound as a big integer";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
  try {
    ToBackendParam(_bstr_t(L""), static_cast<DataTypeEnum>(4711), adParamInput, 0, 0, 0, _variant_t(INT{1}));
    ADD_FAILURE() << "an unknown type was bound";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), adErrInvalidArgument);
  }
}

}  // namespace
}  // namespace ado
