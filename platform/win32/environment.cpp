#include "platform/win32/environment.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/error.h"
#include "platform/win32/text.h"

extern char** environ;

using win32_internal::AnsiToWide;
using win32_internal::WideToAnsi;

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 'a' - 'A';
    if (y >= 'a' && y <= 'z') y -= 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

std::optional<std::string> LookUp(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  if (const char* value = std::getenv(name.c_str())) return std::string(value);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos && EqualsIgnoringAsciiCase(text.substr(0, equals), name)) {
      return std::string(text.substr(equals + 1));
    }
  }
  return std::nullopt;
}

std::optional<std::string> FindVariable(std::string_view name) { return LookUp(std::string(name)); }

std::optional<std::wstring> FindVariable(std::wstring_view name) {
  if (auto value = LookUp(WideToAnsi(name))) return AnsiToWide(*value);
  return std::nullopt;
}

template <typename Char>
std::basic_string<Char> Expand(std::basic_string_view<Char> source) {
  std::basic_string<Char> result;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = source.find(Char('%'), pos);
    const std::size_t close =
        open == source.npos ? source.npos : source.find(Char('%'), open + 1);
    if (close == source.npos) {
      result.append(source.substr(pos));
      return result;
    }
    result.append(source.substr(pos, open - pos));
    if (auto value = FindVariable(source.substr(open + 1, close - open - 1))) {
      result.append(*value);
    } else {
      result.append(source.substr(open, close - open + 1));
    }
    pos = close + 1;
  }
}

template <typename Char>
DWORD ExpandInto(const Char* source, Char* destination, DWORD size) {
  if (source == nullptr || (destination == nullptr && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::basic_string<Char> expanded = Expand(std::basic_string_view<Char>(source));
  const std::size_t needed = expanded.size() + 1;
  if (size != 0) {
    const std::size_t copied = needed <= size ? expanded.size() : size - 1;
    expanded.copy(destination, copied);
    destination[copied] = Char(0);
  }
  return static_cast<DWORD>(needed);
}

template <typename Char>
DWORD CopyVariable(const Char* name, Char* buffer, DWORD size) {
  if (name == nullptr || (buffer == nullptr && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto value = FindVariable(std::basic_string_view<Char>(name));
  if (!value) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  if (value->size() + 1 > size) return static_cast<DWORD>(value->size() + 1);
  value->copy(buffer, value->size());
  buffer[value->size()] = Char(0);
  if (value->empty()) SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(value->size());
}

}  // namespace

DWORD ExpandEnvironmentStringsA(const char* source, char* destination, DWORD size) {
  return ExpandInto(source, destination, size);
}

DWORD ExpandEnvironmentStringsW(const wchar_t* source, wchar_t* destination, DWORD size) {
  return ExpandInto(source, destination, size);
}

DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) {
  return CopyVariable(name, buffer, size);
}

DWORD GetEnvironmentVariableW(const wchar_t* name, wchar_t* buffer, DWORD size) {
  return CopyVariable(name, buffer, size);
}
