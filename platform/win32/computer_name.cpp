#include "platform/win32/computer_name.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <optional>
#include <string>

#include "platform/win32/error.h"
#include "platform/win32/text.h"

namespace {

std::atomic<HostNameHook> hostNameHook{nullptr};

std::optional<std::string> HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  const HostNameHook hook = hostNameHook.load();
  const int result = hook != nullptr ? hook(name, sizeof name - 1) : gethostname(name, sizeof name - 1);
  if (result != 0) return std::nullopt;
  return std::string(name);
}

std::string FullyQualified(const std::string& hostName) {
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  std::string name = hostName;
  if (getaddrinfo(hostName.c_str(), nullptr, &hints, &result) == 0) {
    if (result->ai_canonname != nullptr && result->ai_canonname[0] != '\0') {
      name = result->ai_canonname;
    }
    freeaddrinfo(result);
  }
  return name;
}

std::optional<std::string> ComputerName(COMPUTER_NAME_FORMAT format) {
  const auto hostName = HostName();
  if (!hostName) return std::nullopt;
  std::string shortName = hostName->substr(0, hostName->find('.'));
  switch (format) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS:
      shortName.resize(std::min<std::size_t>(shortName.size(), MAX_COMPUTERNAME_LENGTH));
      for (char& c : shortName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return shortName;
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
      return shortName;
    case ComputerNameDnsFullyQualified:
    case ComputerNamePhysicalDnsFullyQualified:
      return FullyQualified(*hostName);
  }
  return std::nullopt;
}

bool IsOffered(COMPUTER_NAME_FORMAT format) {
  switch (format) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS:
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
    case ComputerNameDnsFullyQualified:
    case ComputerNamePhysicalDnsFullyQualified:
      return true;
  }
  return false;
}

template <typename Char>
BOOL CopyName(const std::basic_string<Char>& name, Char* buffer, DWORD* size, DWORD tooSmall) {
  if (name.size() + 1 > *size || buffer == nullptr) {
    *size = static_cast<DWORD>(name.size() + 1);
    SetLastError(tooSmall);
    return FALSE;
  }
  name.copy(buffer, name.size());
  buffer[name.size()] = Char(0);
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}

template <typename Char>
BOOL GetName(COMPUTER_NAME_FORMAT format, Char* buffer, DWORD* size, DWORD tooSmall) {
  if (size == nullptr || !IsOffered(format)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto name = ComputerName(format);
  if (!name) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if constexpr (sizeof(Char) == 1) {
    return CopyName(*name, buffer, size, tooSmall);
  } else {
    return CopyName(win32_internal::AnsiToWide(*name), buffer, size, tooSmall);
  }
}

}  // namespace

BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, char* buffer, DWORD* size) {
  return GetName(format, buffer, size, ERROR_MORE_DATA);
}

BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT format, wchar_t* buffer, DWORD* size) {
  return GetName(format, buffer, size, ERROR_MORE_DATA);
}

BOOL GetComputerNameA(char* buffer, DWORD* size) {
  return GetName(ComputerNameNetBIOS, buffer, size, ERROR_BUFFER_OVERFLOW);
}

BOOL GetComputerNameW(wchar_t* buffer, DWORD* size) {
  return GetName(ComputerNameNetBIOS, buffer, size, ERROR_BUFFER_OVERFLOW);
}

HostNameHook SetHostNameHookForTesting(HostNameHook hook) { return hostNameHook.exchange(hook); }
