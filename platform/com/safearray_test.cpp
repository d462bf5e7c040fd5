#include "platform/com/safearray.h"

#include <gtest/gtest.h>

namespace {

// A GetRows-shaped array: dimension 1 the fields, dimension 2 the rows.
class RowsArray : public ::testing::Test {
 protected:
  static constexpr LONG kFields = 3;
  static constexpr LONG kRows = 2;

  void SetUp() override {
    const SAFEARRAYBOUND bounds[2] = {{kFields, 0}, {kRows, 0}};
    rows_ = SafeArrayCreate(VT_VARIANT, 2, bounds);
    ASSERT_NE(rows_, nullptr);
    for (LONG row = 0; row < kRows; ++row) {
      for (LONG field = 0; field < kFields; ++field) {
        const LONG at[2] = {field, row};
        _variant_t cell(field == 2 ? _variant_t(L"text") : _variant_t(row * 10 + field));
        ASSERT_EQ(SafeArrayPutElement(rows_, at, &cell), S_OK);
      }
    }
  }
  void TearDown() override { EXPECT_EQ(SafeArrayDestroy(rows_), S_OK); }

  SAFEARRAY* rows_ = nullptr;
};

TEST_F(RowsArray, ReportsBoundsByDimension) {
  EXPECT_EQ(SafeArrayGetDim(rows_), 2u);
  LONG bound = -1;
  ASSERT_EQ(SafeArrayGetUBound(rows_, 1, &bound), S_OK);
  EXPECT_EQ(bound, kFields - 1);
  ASSERT_EQ(SafeArrayGetUBound(rows_, 2, &bound), S_OK);
  EXPECT_EQ(bound, kRows - 1);
  ASSERT_EQ(SafeArrayGetLBound(rows_, 2, &bound), S_OK);
  EXPECT_EQ(bound, 0);
  EXPECT_EQ(SafeArrayGetUBound(rows_, 0, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(rows_, 3, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &bound), E_INVALIDARG);
  // The bounds are stored with the last dimension first.
  EXPECT_EQ(rows_->rgsabound[0].cElements, static_cast<ULONG>(kRows));
  EXPECT_EQ(rows_->rgsabound[1].cElements, static_cast<ULONG>(kFields));
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(rows_, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
}

TEST_F(RowsArray, ReadsCellsByFieldThenRow) {
  const LONG at[2] = {1, 1};
  _variant_t cell(L"overwritten");
  ASSERT_EQ(SafeArrayGetElement(rows_, at, &cell), S_OK);
  EXPECT_EQ(cell.vt, VT_I4);
  EXPECT_EQ(cell.lVal, 11);

  const LONG text[2] = {2, 0};
  ASSERT_EQ(SafeArrayGetElement(rows_, text, &cell), S_OK);
  ASSERT_EQ(cell.vt, VT_BSTR);
  EXPECT_STREQ(cell.bstrVal, L"text");

  // The first index varies fastest in memory.
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(rows_, &data), S_OK);
  const VARIANT* cells = static_cast<const VARIANT*>(data);
  EXPECT_EQ(cells[1 + 1 * kFields].lVal, 11);
  EXPECT_EQ(cells[0 + 1 * kFields].lVal, 10);
  ASSERT_EQ(SafeArrayUnaccessData(rows_), S_OK);
}

TEST_F(RowsArray, RejectsIndicesOutsideEitherDimension) {
  const LONG outside[][2] = {{kFields, 0}, {-1, 0}, {0, kRows}, {0, -1}};
  for (const auto& at : outside) {
    SCOPED_TRACE(testing::Message() << at[0] << "," << at[1]);
    _variant_t cell;
    EXPECT_EQ(SafeArrayGetElement(rows_, at, &cell), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(rows_, at, &cell), DISP_E_BADINDEX);
  }
}

TEST_F(RowsArray, CopiesDeeply) {
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(rows_, &copy), S_OK);
  const LONG at[2] = {2, 1};
  _variant_t replaced(L"replaced");
  ASSERT_EQ(SafeArrayPutElement(rows_, at, &replaced), S_OK);
  _variant_t cell;
  ASSERT_EQ(SafeArrayGetElement(copy, at, &cell), S_OK);
  EXPECT_STREQ(cell.bstrVal, L"text");
  LONG bound = 0;
  ASSERT_EQ(SafeArrayGetUBound(copy, 1, &bound), S_OK);
  EXPECT_EQ(bound, kFields - 1);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST(SafeArray, ByteVectorWithALowerBound) {
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 1, 4);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(SafeArrayGetElemsize(bytes), 1u);
  BYTE* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(bytes, reinterpret_cast<void**>(&data)), S_OK);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<BYTE>(0xA0 + i);
  EXPECT_EQ(SafeArrayDestroy(bytes), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(bytes), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(bytes), E_UNEXPECTED);

  LONG index = 4;
  BYTE value = 0;
  ASSERT_EQ(SafeArrayGetElement(bytes, &index, &value), S_OK);
  EXPECT_EQ(value, 0xA3);
  index = 0;
  EXPECT_EQ(SafeArrayGetElement(bytes, &index, &value), DISP_E_BADINDEX);
  index = 5;
  EXPECT_EQ(SafeArrayGetElement(bytes, &index, &value), DISP_E_BADINDEX);
  LONG lower = 0, upper = 0;
  ASSERT_EQ(SafeArrayGetLBound(bytes, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(bytes, 1, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 4);
  EXPECT_EQ(SafeArrayDestroy(bytes), S_OK);
}

TEST(SafeArray, EmptyVectorHasAnUpperBoundBelowItsLowerBound) {
  SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(empty, nullptr);
  LONG upper = 0;
  ASSERT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  const LONG index = 0;
  BYTE value = 0;
  EXPECT_EQ(SafeArrayGetElement(empty, &index, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
}

TEST(SafeArray, TextElementsAreOwnedByTheArray) {
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(texts, nullptr);
  BSTR original = SysAllocString(L"first");
  const LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(texts, &index, original), S_OK);
  SysFreeString(original);
  ASSERT_EQ(SafeArrayPutElement(texts, &index, _bstr_t(L"second").GetBSTR()), S_OK);
  BSTR read = nullptr;
  ASSERT_EQ(SafeArrayGetElement(texts, &index, &read), S_OK);
  EXPECT_STREQ(read, L"second");
  SysFreeString(read);
  const LONG unset = 1;
  ASSERT_EQ(SafeArrayGetElement(texts, &unset, &read), S_OK);
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(SafeArrayDestroy(texts), S_OK);
}

TEST(SafeArray, RefusesWhatItCannotBuild) {
  const SAFEARRAYBOUND huge[2] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
  const SAFEARRAYBOUND one[1] = {{1, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_UNKNOWN, 1, one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, one), nullptr);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);
}

}  // namespace
