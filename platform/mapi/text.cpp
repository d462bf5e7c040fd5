#include "platform/mapi/text.h"

#include "platform/win32/codepage.h"
#include "platform/win32/text.h"

namespace mapi_internal {

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  }
  return out;
}

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
  return out;
}

std::string Utf8FromAnsi(std::string_view text) {
  return Utf8FromWide(win32_internal::AnsiToWide(text));
}

std::string AnsiFromUtf8(std::string_view text) {
  return win32_internal::WideToAnsi(WideFromUtf8(text));
}

std::string FoldedKey(std::string_view utf8) {
  return Utf8FromWide(win32_internal::FoldCase(WideFromUtf8(utf8), win32_internal::Fold::kLower));
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace mapi_internal
