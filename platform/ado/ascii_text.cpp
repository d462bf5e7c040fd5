#include "platform/ado/ascii_text.h"

namespace ado::text {
namespace {

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

std::wstring ToLower(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = Lower(c);
  return out;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring FromUtf8(std::string_view text) {
  constexpr wchar_t kReplacement = 0xFFFD;
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    size_t j = i + 1;
    for (; j < text.size() && j <= i + extra; ++j) {
      const auto next = static_cast<unsigned char>(text[j]);
      if ((next & 0xC0) != 0x80) break;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (j != i + 1 + extra || cp < kMinimum[extra] || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += kReplacement;
      i = j > i + 1 ? j : i + 1;
      continue;
    }
    out += static_cast<wchar_t>(cp);
    i = j;
  }
  return out;
}

}  // namespace ado::text
