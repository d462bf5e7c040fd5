#include "platform/win32/text.h"

#include <locale.h>

#include <cwctype>

#include "platform/win32/codepage.h"

namespace win32_internal {

std::wstring AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  }
  return wide;
}

std::string WideToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
  }
  return narrow;
}

std::wstring FoldCase(std::wstring_view text, Fold to) {
  static const locale_t folding =
      newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (folding != static_cast<locale_t>(nullptr)) {
      const auto w = static_cast<wint_t>(c);
      c = static_cast<wchar_t>(to == Fold::kUpper ? towupper_l(w, folding) : towlower_l(w, folding));
    } else if (to == Fold::kUpper && c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - 32);
    } else if (to == Fold::kLower && c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c + 32);
    }
  }
  return out;
}

}  // namespace win32_internal
