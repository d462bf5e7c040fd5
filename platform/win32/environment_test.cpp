#include "platform/win32/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32/codepage.h"
#include "platform/win32/error.h"

namespace {

class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MORVALE_ENV_A", "alpha", 1);
    setenv("MORVALE_ENV_EMPTY", "", 1);
    setenv("MORVALE_ENV_UTF8", "caf\xC3\xA9", 1);
    unsetenv("MORVALE_ENV_UNSET");
  }
  void TearDown() override {
    unsetenv("MORVALE_ENV_A");
    unsetenv("MORVALE_ENV_EMPTY");
    unsetenv("MORVALE_ENV_UTF8");
    SetAnsiCodePageForTesting(0);
  }
};

TEST_F(EnvironmentTest, ExpandsSetVariablesAndKeepsTheRest) {
  struct Case {
    const char* input;
    const char* expanded;
  };
  const Case cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"%MORVALE_ENV_A%", "alpha"},
      {"x%MORVALE_ENV_A%y%MORVALE_ENV_A%z", "xalphayalphaz"},
      {"%morvale_env_a%", "alpha"},
      {"[%MORVALE_ENV_EMPTY%]", "[]"},
      {"%MORVALE_ENV_UNSET%", "%MORVALE_ENV_UNSET%"},
      {"%MORVALE_ENV_UNSET%MORVALE_ENV_A%", "%MORVALE_ENV_UNSET%MORVALE_ENV_A%"},
      {"%MORVALE_ENV_UNSET%%MORVALE_ENV_A%", "%MORVALE_ENV_UNSET%alpha"},
      {"%%", "%%"},
      {"100%", "100%"},
      {"a%MORVALE_ENV_A", "a%MORVALE_ENV_A"},
      {"%MORVALE_ENV_A=x%", "%MORVALE_ENV_A=x%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const std::string expected = c.expanded;
    char out[128];
    EXPECT_EQ(ExpandEnvironmentStringsA(c.input, nullptr, 0), expected.size() + 1);
    EXPECT_EQ(ExpandEnvironmentStringsA(c.input, out, sizeof out), expected.size() + 1);
    EXPECT_EQ(std::string(out), expected);
  }
}

TEST_F(EnvironmentTest, ShortBufferGetsTheRequiredSizeAndATerminatedPrefix) {
  char out[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(ExpandEnvironmentStringsA("<%MORVALE_ENV_A%>", out, 6), 8u);
  EXPECT_EQ(std::string(out), "<alph");
  EXPECT_EQ(ExpandEnvironmentStringsA("<%MORVALE_ENV_A%>", out, 0), 8u);
  char exact[8];
  EXPECT_EQ(ExpandEnvironmentStringsA("<%MORVALE_ENV_A%>", exact, 8), 8u);
  EXPECT_EQ(std::string(exact), "<alpha>");

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, out, 6), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(EnvironmentTest, WideFormsConvertWithTheAnsiCodePage) {
  SetAnsiCodePageForTesting(CP_UTF8);
  wchar_t out[32];
  EXPECT_EQ(ExpandEnvironmentStringsW(L"%MORVALE_ENV_UTF8%!", out, 32), 6u);
  EXPECT_EQ(std::wstring(out), L"caf\u00E9!");
  wchar_t shortOut[3];
  EXPECT_EQ(ExpandEnvironmentStringsW(L"%MORVALE_ENV_A%", shortOut, 3), 6u);
  EXPECT_EQ(std::wstring(shortOut), L"al");

  EXPECT_EQ(GetEnvironmentVariableW(L"MORVALE_ENV_UTF8", out, 32), 4u);
  EXPECT_EQ(std::wstring(out), L"caf\u00E9");
}

TEST_F(EnvironmentTest, GetEnvironmentVariable) {
  char out[16];
  EXPECT_EQ(GetEnvironmentVariableA("MORVALE_ENV_A", out, sizeof out), 5u);
  EXPECT_EQ(std::string(out), "alpha");
  EXPECT_EQ(GetEnvironmentVariableA("Morvale_Env_A", out, sizeof out), 5u);

  // Too small: the size needed with the terminator, the buffer untouched.
  char shortOut[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetEnvironmentVariableA("MORVALE_ENV_A", shortOut, 5), 6u);
  EXPECT_EQ(std::string(shortOut, 5), "xxxxx");
  EXPECT_EQ(GetEnvironmentVariableA("MORVALE_ENV_A", nullptr, 0), 6u);

  SetLastError(ERROR_INVALID_DATA);
  EXPECT_EQ(GetEnvironmentVariableA("MORVALE_ENV_EMPTY", out, sizeof out), 0u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(std::string(out), "");

  EXPECT_EQ(GetEnvironmentVariableA("MORVALE_ENV_UNSET", out, sizeof out), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
  wchar_t wide[4];
  EXPECT_EQ(GetEnvironmentVariableW(L"MORVALE_ENV_UNSET", wide, 4), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

}  // namespace
