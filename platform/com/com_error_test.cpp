#include "platform/com/com_error.h"

#include <gtest/gtest.h>

namespace {

TEST(ComError, ErrorMessageIsTheSystemTextOfTheCode) {
  const struct {
    HRESULT hr;
    const wchar_t* message;
  } cases[] = {
      {E_FAIL, L"Unspecified error"},
      {E_POINTER, L"Invalid pointer"},
      {E_INVALIDARG, L"The parameter is incorrect."},
      {DISP_E_TYPEMISMATCH, L"Type mismatch."},
      {DISP_E_OVERFLOW, L"Out of present range."},
      {RPC_E_CHANGED_MODE, L"Cannot change thread mode after it is set."},
      {HResultFromBits(0x80040200u), L"IDispatch error #0"},
      {DB_E_NOTABLE, L"IDispatch error #3127"},
      {DB_E_ERRORSINCOMMAND, L"IDispatch error #3092"},
      {HResultFromBits(0x8004FFFFu), L"IDispatch error #65023"},
      {HResultFromBits(0x800401FFu), L"Unknown error 0x800401FF"},
      {adErrItemNotFound, L"Unknown error 0x800A0CC1"},
      {HResultFromBits(0x00000002u), L"Unknown error 0x00000002"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << static_cast<std::uint32_t>(c.hr));
    const _com_error error(c.hr);
    EXPECT_EQ(error.Error(), c.hr);
    EXPECT_STREQ(error.ErrorMessage(), c.message);
  }
}

TEST(ComError, CarriesSourceAndDescriptionWhenGiven) {
  const _com_error bare(E_FAIL);
  EXPECT_EQ(static_cast<const wchar_t*>(bare.Source()), nullptr);
  EXPECT_EQ(static_cast<const wchar_t*>(bare.Description()), nullptr);

  const _com_error full(DB_E_NOTABLE, L"Provider", L"relation \"x\" does not exist");
  const _com_error copy(full);
  EXPECT_EQ(copy.Error(), DB_E_NOTABLE);
  EXPECT_STREQ(static_cast<const wchar_t*>(copy.Source()), L"Provider");
  EXPECT_STREQ(static_cast<const wchar_t*>(copy.Description()), L"relation \"x\" does not exist");
  EXPECT_STREQ(copy.ErrorMessage(), L"IDispatch error #3127");
}

TEST(ComError, IssueErrorThrowsTheCode) {
  try {
    _com_issue_error(E_ACCESSDENIED);
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_ACCESSDENIED);
    EXPECT_STREQ(e.ErrorMessage(), L"Access is denied.");
  }
}

TEST(HResult, ClassifiesAndBuildsCodes) {
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(FAILED(DB_E_NOTABLE));
  EXPECT_EQ(HRESULT_FROM_WIN32(5), E_ACCESSDENIED);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
}

}  // namespace
