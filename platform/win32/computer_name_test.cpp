#include "platform/win32/computer_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <string>

#include "platform/win32/error.h"

namespace {

std::string ShortHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  gethostname(name, sizeof name - 1);
  const std::string full = name;
  return full.substr(0, full.find('.'));
}

std::string Read(COMPUTER_NAME_FORMAT format) {
  DWORD size = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetComputerNameExA(format, nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  std::string name(size, '\0');
  EXPECT_TRUE(GetComputerNameExA(format, name.data(), &size));
  EXPECT_EQ(size + 1, name.size());
  name.resize(size);
  return name;
}

TEST(ComputerNameTest, FormsOfTheHostName) {
  const std::string host = ShortHostName();
  ASSERT_FALSE(host.empty());
  EXPECT_EQ(Read(ComputerNameDnsHostname), host);
  EXPECT_EQ(Read(ComputerNamePhysicalDnsHostname), host);

  std::string netBios = host.substr(0, MAX_COMPUTERNAME_LENGTH);
  for (char& c : netBios) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(Read(ComputerNameNetBIOS), netBios);
  EXPECT_EQ(Read(ComputerNamePhysicalNetBIOS), netBios);

  // The fully qualified name begins with the host name (or is it).
  const std::string fqdn = Read(ComputerNamePhysicalDnsFullyQualified);
  EXPECT_EQ(fqdn.substr(0, fqdn.find('.')), host);
  EXPECT_EQ(Read(ComputerNameDnsFullyQualified), fqdn);

  wchar_t wide[64];
  DWORD size = 64;
  ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsHostname, wide, &size));
  EXPECT_EQ(std::wstring(wide, size), std::wstring(host.begin(), host.end()));
}

TEST(ComputerNameTest, ShortBuffersAndBadArguments) {
  const std::string host = ShortHostName();
  // Exactly the length: no room for the terminator.
  std::string buffer(host.size(), 'x');
  DWORD size = static_cast<DWORD>(host.size());
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetComputerNameExA(ComputerNameDnsHostname, buffer.data(), &size));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, host.size() + 1);
  EXPECT_EQ(buffer, std::string(host.size(), 'x'));

  size = 0;
  EXPECT_FALSE(GetComputerNameA(nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
  wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1];
  EXPECT_TRUE(GetComputerNameW(wide, &size));

  size = 64;
  char name[64];
  EXPECT_FALSE(GetComputerNameExA(static_cast<COMPUTER_NAME_FORMAT>(2), name, &size));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetComputerNameExA(ComputerNameDnsHostname, name, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ComputerNameTest, AHostNameThatCannotBeReadFailsEveryForm) {
  const HostNameHook previous = SetHostNameHookForTesting([](char*, unsigned long) { return -1; });
  char name[256];
  for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNamePhysicalDnsFullyQualified}) {
    SCOPED_TRACE(static_cast<int>(format));
    DWORD size = sizeof name;
    EXPECT_FALSE(GetComputerNameExA(format, name, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  }
  SetHostNameHookForTesting(previous);
  DWORD size = sizeof name;
  EXPECT_TRUE(GetComputerNameExA(ComputerNameDnsHostname, name, &size));
}

}  // namespace
