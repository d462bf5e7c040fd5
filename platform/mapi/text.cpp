#include "platform/mapi/text.h"

#include <clocale>
#include <cwctype>

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
  // One locale for every process, so that all agree on which names match.
  static const locale_t folding =
      newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::wstring wide = WideFromUtf8(utf8);
  for (wchar_t& c : wide) {
    if (folding != static_cast<locale_t>(nullptr)) {
      c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), folding));
    } else if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c + 32);
    }
  }
  return Utf8FromWide(wide);
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace mapi_internal
