#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/com/com_error.h"
#include "platform/com/safearray.h"

namespace {

_variant_t Decimal(ULONGLONG low, ULONG high, BYTE scale, bool negative) {
  DECIMAL d{};
  d.Lo64 = low;
  d.Hi32 = high;
  d.scale = scale;
  d.sign = negative ? DECIMAL_NEG : 0;
  return _variant_t(d);
}

_variant_t Null() {
  _variant_t v;
  v.vt = VT_NULL;
  return v;
}

_variant_t Date(double days) { return _variant_t(days, VT_DATE); }

_variant_t Currency(LONGLONG units) {
  CY cy;
  cy.int64 = units;
  return _variant_t(cy);
}

std::string Describe(const VARIANT& v) {
  _variant_t text;
  if (v.vt == VT_BSTR) return "\"" + std::string(_bstr_t(v.bstrVal, true)) + "\"";
  if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR))) {
    return "vt " + std::to_string(v.vt) + " " + std::string(_bstr_t(text.bstrVal, true));
  }
  return "vt " + std::to_string(v.vt);
}

struct Conversion {
  const char* name;
  _variant_t source;
  VARTYPE target;
  HRESULT hr;
  _variant_t expected;  // checked when hr is S_OK
};

TEST(VariantChangeType, ConvertsBetweenTheTypesOfFieldValues) {
  const LONGLONG i64min = std::numeric_limits<LONGLONG>::min();
  const ULONGLONG u64max = std::numeric_limits<ULONGLONG>::max();
  const std::vector<Conversion> cases = {
      // Integers between widths.
      {"I4 32767 to I2", _variant_t(32767), VT_I2, S_OK, _variant_t(std::int16_t{32767})},
      {"I4 32768 to I2", _variant_t(32768), VT_I2, DISP_E_OVERFLOW, {}},
      {"I4 -32769 to I2", _variant_t(-32769), VT_I2, DISP_E_OVERFLOW, {}},
      {"I4 255 to UI1", _variant_t(255), VT_UI1, S_OK, _variant_t(BYTE{255})},
      {"I4 256 to UI1", _variant_t(256), VT_UI1, DISP_E_OVERFLOW, {}},
      {"I4 -1 to UI4", _variant_t(-1), VT_UI4, DISP_E_OVERFLOW, {}},
      {"I8 2^31 to I4", _variant_t(LONGLONG{1} << 31), VT_I4, DISP_E_OVERFLOW, {}},
      {"I8 -2^31 to I4", _variant_t(-(LONGLONG{1} << 31)), VT_I4, S_OK,
       _variant_t(std::numeric_limits<INT>::min())},
      {"UI8 max to I8", _variant_t(u64max), VT_I8, DISP_E_OVERFLOW, {}},
      {"I8 min to UI8", _variant_t(i64min), VT_UI8, DISP_E_OVERFLOW, {}},
      {"I4 to I8", _variant_t(-5), VT_I8, S_OK, _variant_t(LONGLONG{-5})},
      {"UI1 to I4", _variant_t(BYTE{200}), VT_I4, S_OK, _variant_t(200)},
      {"I1 -3 to I2", _variant_t('\xFD'), VT_I2, S_OK, _variant_t(std::int16_t{-3})},
      // Reals to integers round half to even.
      {"R8 2.5 to I4", _variant_t(2.5), VT_I4, S_OK, _variant_t(2)},
      {"R8 3.5 to I4", _variant_t(3.5), VT_I4, S_OK, _variant_t(4)},
      {"R8 -2.5 to I4", _variant_t(-2.5), VT_I4, S_OK, _variant_t(-2)},
      {"R8 2.4999 to I4", _variant_t(2.4999), VT_I4, S_OK, _variant_t(2)},
      {"R8 1e10 to I4", _variant_t(1e10), VT_I4, DISP_E_OVERFLOW, {}},
      {"R8 NaN to I4", _variant_t(std::nan("")), VT_I4, DISP_E_OVERFLOW, {}},
      {"R8 1e39 to R4", _variant_t(1e39), VT_R4, DISP_E_OVERFLOW, {}},
      {"R4 to R8", _variant_t(0.5f), VT_R8, S_OK, _variant_t(0.5)},
      // DECIMAL with scale and sign.
      {"DECIMAL -123.45 to I4", Decimal(12345, 0, 2, true), VT_I4, S_OK, _variant_t(-123)},
      {"DECIMAL 12.5 to I4", Decimal(125, 0, 1, false), VT_I4, S_OK, _variant_t(12)},
      {"DECIMAL 13.5 to I4", Decimal(135, 0, 1, false), VT_I4, S_OK, _variant_t(14)},
      {"DECIMAL 2^64 to I8", Decimal(0, 1, 0, false), VT_I8, DISP_E_OVERFLOW, {}},
      {"DECIMAL 2^64-1 to UI8", Decimal(u64max, 0, 0, false), VT_UI8, S_OK, _variant_t(u64max)},
      {"DECIMAL identity to I8", Decimal(9007199254740993ull, 0, 0, false), VT_I8, S_OK,
       _variant_t(LONGLONG{9007199254740993})},
      {"DECIMAL -123.45 to R8", Decimal(12345, 0, 2, true), VT_R8, S_OK, _variant_t(-123.45)},
      {"DECIMAL -123.45 to BSTR", Decimal(12345, 0, 2, true), VT_BSTR, S_OK,
       _variant_t(L"-123.45")},
      {"DECIMAL 1.50 to BSTR", Decimal(150, 0, 2, false), VT_BSTR, S_OK, _variant_t(L"1.5")},
      {"DECIMAL 0.005 to BSTR", Decimal(5, 0, 3, false), VT_BSTR, S_OK, _variant_t(L"0.005")},
      {"DECIMAL -0 to BSTR", Decimal(0, 0, 2, true), VT_BSTR, S_OK, _variant_t(L"0")},
      {"DECIMAL 2^95 to BSTR", Decimal(0, 0x80000000u, 0, false), VT_BSTR, S_OK,
       _variant_t(L"39614081257132168796771975168")},
      {"DECIMAL scale 29", Decimal(1, 0, 29, false), VT_I4, E_INVALIDARG, {}},
      {"I4 -7 to DECIMAL", _variant_t(-7), VT_DECIMAL, S_OK, Decimal(7, 0, 0, true)},
      {"R8 1.25 to DECIMAL", _variant_t(1.25), VT_DECIMAL, S_OK, Decimal(125, 0, 2, false)},
      {"BSTR 12.34 to DECIMAL", _variant_t(L"12.34"), VT_DECIMAL, S_OK,
       Decimal(1234, 0, 2, false)},
      {"R8 1e30 to DECIMAL", _variant_t(1e30), VT_DECIMAL, DISP_E_OVERFLOW, {}},
      // Text to numbers and booleans.
      {"BSTR 42 to I4", _variant_t(L"42"), VT_I4, S_OK, _variant_t(42)},
      {"BSTR blanks -17 to I4", _variant_t(L" -17 "), VT_I4, S_OK, _variant_t(-17)},
      {"BSTR 2.5 to I4", _variant_t(L"2.5"), VT_I4, S_OK, _variant_t(2)},
      {"BSTR 1e3 to I4", _variant_t(L"1e3"), VT_I4, S_OK, _variant_t(1000)},
      {"BSTR 99999999999 to I4", _variant_t(L"99999999999"), VT_I4, DISP_E_OVERFLOW, {}},
      {"BSTR 1e400 to R8", _variant_t(L"1e400"), VT_R8, DISP_E_OVERFLOW, {}},
      {"BSTR 1e-400 to R8", _variant_t(L"1e-400"), VT_R8, S_OK, _variant_t(0.0)},
      {"BSTR 0.1 to R8", _variant_t(L"0.1"), VT_R8, S_OK, _variant_t(0.1)},
      {"BSTR abc to I4", _variant_t(L"abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR 12abc to I4", _variant_t(L"12abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR empty to I4", _variant_t(L""), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR True to BOOL", _variant_t(L"True"), VT_BOOL, S_OK, _variant_t(true)},
      {"BSTR false to BOOL", _variant_t(L"false"), VT_BOOL, S_OK, _variant_t(false)},
      {"BSTR -1 to BOOL", _variant_t(L"-1"), VT_BOOL, S_OK, _variant_t(true)},
      {"BSTR yes to BOOL", _variant_t(L"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
      // Booleans are -1 and 0.
      {"BOOL true to I4", _variant_t(true), VT_I4, S_OK, _variant_t(-1)},
      {"BOOL true to I2", _variant_t(true), VT_I2, S_OK, _variant_t(std::int16_t{-1})},
      {"BOOL false to I4", _variant_t(false), VT_I4, S_OK, _variant_t(0)},
      {"BOOL true to BSTR", _variant_t(true), VT_BSTR, S_OK, _variant_t(L"-1")},
      {"I4 5 to BOOL", _variant_t(5), VT_BOOL, S_OK, _variant_t(true)},
      {"R8 0.5 to BOOL", _variant_t(0.5), VT_BOOL, S_OK, _variant_t(true)},
      {"I2 -1 with VT_BOOL tag", _variant_t(std::int16_t{1}, VT_BOOL), VT_I4, S_OK,
       _variant_t(-1)},
      // Numbers to text.
      {"R8 1.5 to BSTR", _variant_t(1.5), VT_BSTR, S_OK, _variant_t(L"1.5")},
      {"R8 0.1 to BSTR", _variant_t(0.1), VT_BSTR, S_OK, _variant_t(L"0.1")},
      {"R8 1e20 to BSTR", _variant_t(1e20), VT_BSTR, S_OK, _variant_t(L"1E+20")},
      {"R4 0.1 to BSTR", _variant_t(0.1f), VT_BSTR, S_OK, _variant_t(L"0.1")},
      {"I8 min to BSTR", _variant_t(i64min), VT_BSTR, S_OK, _variant_t(L"-9223372036854775808")},
      {"UI8 max to BSTR", _variant_t(u64max), VT_BSTR, S_OK, _variant_t(L"18446744073709551615")},
      // EMPTY and NULL.
      {"EMPTY to I4", _variant_t(), VT_I4, S_OK, _variant_t(0)},
      {"EMPTY to BSTR", _variant_t(), VT_BSTR, S_OK, _variant_t(L"")},
      {"EMPTY to BOOL", _variant_t(), VT_BOOL, S_OK, _variant_t(false)},
      {"NULL to I4", Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"NULL to BSTR", Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      {"NULL to NULL", Null(), VT_NULL, S_OK, Null()},
      {"I4 to NULL", _variant_t(1), VT_NULL, DISP_E_TYPEMISMATCH, {}},
      // Dates.
      {"DATE to BSTR", Date(45000.5), VT_BSTR, S_OK, _variant_t(L"2023-03-15 12:00:00")},
      {"DATE midnight to BSTR", Date(45000), VT_BSTR, S_OK, _variant_t(L"2023-03-15")},
      {"DATE 0 to BSTR", Date(0), VT_BSTR, S_OK, _variant_t(L"00:00:00")},
      {"DATE -1.25 to BSTR", Date(-1.25), VT_BSTR, S_OK, _variant_t(L"1899-12-29 06:00:00")},
      {"BSTR to DATE", _variant_t(L"2023-03-15 12:00:00"), VT_DATE, S_OK, Date(45000.5)},
      {"BSTR T form to DATE", _variant_t(L"2023-03-15T06:00"), VT_DATE, S_OK, Date(45000.25)},
      {"BSTR date to DATE", _variant_t(L"2023-03-15"), VT_DATE, S_OK, Date(45000)},
      {"BSTR time to DATE", _variant_t(L"12:00"), VT_DATE, S_OK, Date(0.5)},
      {"BSTR Feb 30 to DATE", _variant_t(L"2023-02-30"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
      {"BSTR 25:00 to DATE", _variant_t(L"25:00"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
      {"R8 3e6 to DATE", _variant_t(3e6), VT_DATE, DISP_E_OVERFLOW, {}},
      {"I4 to DATE", _variant_t(45000), VT_DATE, S_OK, Date(45000)},
      {"DATE to R8", Date(45000.5), VT_R8, S_OK, _variant_t(45000.5)},
      {"DATE to I4", Date(45000.5), VT_I4, S_OK, _variant_t(45000)},
      // Currency.
      {"CY 1.5 to I4", Currency(15000), VT_I4, S_OK, _variant_t(2)},
      {"CY 1.5 to BSTR", Currency(15000), VT_BSTR, S_OK, _variant_t(L"1.5")},
      {"I4 3 to CY", _variant_t(3), VT_CY, S_OK, Currency(30000)},
      {"R8 1e16 to CY", _variant_t(1e16), VT_CY, DISP_E_OVERFLOW, {}},
      // Types that do not convert.
      {"ERROR to I4", _variant_t(static_cast<INT>(E_FAIL), VT_ERROR), VT_I4,
       DISP_E_TYPEMISMATCH, {}},
      {"I4 to byte array", _variant_t(1), VT_ARRAY | VT_UI1, DISP_E_TYPEMISMATCH, {}},
      {"I4 to unknown type 15", _variant_t(1), 15, DISP_E_BADVARTYPE, {}},
      {"I4 to VT_BYREF", _variant_t(1), VT_BYREF | VT_I4, DISP_E_BADVARTYPE, {}},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE(c.name);
    _variant_t result;
    EXPECT_EQ(VariantChangeType(&result, &c.source, 0, c.target), c.hr);
    if (c.hr == S_OK) {
      EXPECT_TRUE(result == c.expected) << Describe(result) << " wanted " << Describe(c.expected);
    } else {
      EXPECT_EQ(result.vt, VT_EMPTY);
    }
  }
}

TEST(VariantChangeType, WritesBooleanWordsWhenAsked) {
  _variant_t result;
  const _variant_t yes(true);
  ASSERT_EQ(VariantChangeType(&result, &yes, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_STREQ(result.bstrVal, L"True");
}

TEST(VariantChangeType, RejectsAnUnknownSourceTag) {
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 15;
  _variant_t result;
  EXPECT_EQ(VariantChangeType(&result, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, ConvertsInPlaceAndReleasesTheOldValue) {
  _variant_t value(L"1234");
  ASSERT_EQ(VariantChangeType(&value, &value, 0, VT_I4), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 1234);
  ASSERT_EQ(VariantChangeType(&value, &value, 0, VT_BSTR), S_OK);
  EXPECT_STREQ(value.bstrVal, L"1234");
}

TEST(VariantChangeType, LeavesTheDestinationAloneOnFailure) {
  _variant_t dest(L"kept");
  const _variant_t source(L"not a number");
  EXPECT_EQ(VariantChangeType(&dest, &source, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(dest.vt, VT_BSTR);
  EXPECT_STREQ(dest.bstrVal, L"kept");
}

TEST(VariantChangeType, ReadsThroughReferences) {
  LONG number = 77;
  VARIANT byNumber;
  VariantInit(&byNumber);
  byNumber.vt = VT_BYREF | VT_I4;
  byNumber.plVal = &number;
  _variant_t text;
  ASSERT_EQ(VariantChangeType(&text, &byNumber, 0, VT_BSTR), S_OK);
  EXPECT_STREQ(text.bstrVal, L"77");

  _variant_t inner(L"3.5");
  VARIANT byVariant;
  VariantInit(&byVariant);
  byVariant.vt = VT_BYREF | VT_VARIANT;
  byVariant.pvarVal = &inner;
  _variant_t real;
  ASSERT_EQ(VariantChangeType(&real, &byVariant, 0, VT_R8), S_OK);
  EXPECT_EQ(real.dblVal, 3.5);
  EXPECT_EQ(VariantClear(&byVariant), S_OK);  // owns nothing
  EXPECT_STREQ(inner.bstrVal, L"3.5");
}

TEST(VariantCopy, CopiesTextAndArraysDeeply) {
  _variant_t text(L"abc");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  text.bstrVal[0] = L'x';
  EXPECT_STREQ(copy.bstrVal, L"abc");

  VARIANT bytes;
  VariantInit(&bytes);
  bytes.vt = VT_ARRAY | VT_UI1;
  bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
  ASSERT_NE(bytes.parray, nullptr);
  ASSERT_EQ(VariantCopy(&copy, &bytes), S_OK);  // also frees the text copy
  ASSERT_NE(copy.parray, bytes.parray);
  const LONG index = 1;
  const BYTE one = 1;
  ASSERT_EQ(SafeArrayPutElement(bytes.parray, &index, &one), S_OK);
  BYTE read = 9;
  ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &read), S_OK);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(VariantClear(&bytes), S_OK);
  EXPECT_EQ(bytes.vt, VT_EMPTY);
}

TEST(VariantClear, KeepsAnArrayThatIsStillAccessed) {
  VARIANT bytes;
  VariantInit(&bytes);
  bytes.vt = VT_ARRAY | VT_UI1;
  bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 1);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(bytes.parray, &data), S_OK);
  EXPECT_EQ(VariantClear(&bytes), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(bytes.vt, VT_ARRAY | VT_UI1);
  ASSERT_EQ(SafeArrayUnaccessData(bytes.parray), S_OK);
  EXPECT_EQ(VariantClear(&bytes), S_OK);
}

struct Tagged {
  const char* name;
  _variant_t value;
  VARTYPE vt;
};

TEST(VariantClass, ConstructorsTagTheValue) {
  const std::vector<Tagged> cases = {
      {"default", _variant_t(), VT_EMPTY},
      {"short", _variant_t(std::int16_t{1}), VT_I2},
      {"short as bool", _variant_t(std::int16_t{1}, VT_BOOL), VT_BOOL},
      {"LONG", _variant_t(LONG{1}), VT_I4},
      {"INT as VT_INT", _variant_t(1, VT_INT), VT_INT},
      {"ULONG", _variant_t(ULONG{1}), VT_UI4},
      {"float", _variant_t(1.0f), VT_R4},
      {"double", _variant_t(1.0), VT_R8},
      {"date", _variant_t(1.0, VT_DATE), VT_DATE},
      {"wide text", _variant_t(L"x"), VT_BSTR},
      {"narrow text", _variant_t("x"), VT_BSTR},
      {"bool", _variant_t(true), VT_BOOL},
      {"BYTE", _variant_t(BYTE{1}), VT_UI1},
      {"char", _variant_t('x'), VT_I1},
      {"WORD", _variant_t(WORD{1}), VT_UI2},
      {"LONGLONG", _variant_t(LONGLONG{1}), VT_I8},
      {"ULONGLONG", _variant_t(ULONGLONG{1}), VT_UI8},
      {"missing", vtMissing, VT_ERROR},
  };
  for (const Tagged& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.vt, c.vt);
  }
  EXPECT_EQ(_variant_t(true).boolVal, VARIANT_TRUE);
  EXPECT_EQ(vtMissing.scode, DISP_E_PARAMNOTFOUND);
}

TEST(VariantClass, ExtractionConvertsOrThrowsTheConversionError) {
  const _variant_t number(L"42");
  EXPECT_EQ(static_cast<INT>(number), 42);
  EXPECT_EQ(static_cast<LONGLONG>(number), 42);
  EXPECT_EQ(static_cast<double>(number), 42.0);
  EXPECT_TRUE(static_cast<bool>(number));
  EXPECT_STREQ(static_cast<const wchar_t*>(_bstr_t(_variant_t(-5))), L"-5");

  const struct {
    const char* name;
    _variant_t value;
    HRESULT hr;
  } failures[] = {
      {"NULL to INT", Null(), DISP_E_TYPEMISMATCH},
      {"70000 to short", _variant_t(70000), DISP_E_OVERFLOW},
      {"text to INT", _variant_t(L"x"), DISP_E_TYPEMISMATCH},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.name);
    try {
      if (f.hr == DISP_E_OVERFLOW) {
        (void)static_cast<std::int16_t>(f.value);
      } else {
        (void)static_cast<INT>(f.value);
      }
      ADD_FAILURE() << "no exception";
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), f.hr);
    }
  }
  try {
    (void)_bstr_t(Null());
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
}

TEST(VariantClass, AttachDetachAndChangeTypeKeepOwnershipStraight) {
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(L"owned");

  _variant_t holder(L"old");
  holder.Attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_STREQ(holder.bstrVal, L"owned");

  VARIANT back = holder.Detach();
  EXPECT_EQ(holder.vt, VT_EMPTY);
  _variant_t taken(back, false);
  EXPECT_EQ(back.vt, VT_EMPTY);
  EXPECT_STREQ(taken.bstrVal, L"owned");

  _variant_t number(L"12");
  number.ChangeType(VT_I2);
  EXPECT_EQ(number.vt, VT_I2);
  EXPECT_THROW(number.ChangeType(VT_I4, &taken), _com_error);
  EXPECT_EQ(number.vt, VT_I2);

  _variant_t assigned;
  assigned = 5;
  EXPECT_EQ(assigned.vt, VT_I4);
  assigned = L"text";
  EXPECT_EQ(assigned.vt, VT_BSTR);
  assigned = taken;
  EXPECT_NE(assigned.bstrVal, taken.bstrVal);
  EXPECT_TRUE(assigned == taken);
}

}  // namespace
