#include "foundation/charset_table.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "foundation/registry.h"

namespace {

constexpr unsigned kNameChars = 257;

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

}  // namespace

bool CharsetTable::NoCase::operator()(const std::wstring& a, const std::wstring& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return AsciiLower(x) < AsciiLower(y); });
}

CharsetTable::CharsetTable() {
  Registry charsets(HKEY_CLASSES_ROOT, "MIME\\Database\\Charset", false);
  if (!charsets.Open(false)) return;
  DWORD count = 0;
  charsets.GetSubKeyCount(&count);

  std::vector<std::pair<std::wstring, std::wstring>> aliases;
  for (DWORD i = 0; i < count; ++i) {
    wchar_t name[kNameChars];
    Registry charset(HKEY_CLASSES_ROOT, "", false);
    if (!charsets.EnumSubKeyW(i, nullptr, 0, name, kNameChars) || !charsets.OpenSubKey(i, charset)) {
      continue;
    }
    DWORD codePage = 0;
    wchar_t target[kNameChars];
    if (charset.GetDWORDW(L"InternetEncoding", &codePage)) {
      codePages_[name] = static_cast<int>(codePage);
    } else if (charset.GetStringW(L"AliasForCharset", target, kNameChars)) {
      aliases.emplace_back(name, target);
    }
  }

  bool resolved = true;
  while (!aliases.empty() && resolved) {
    resolved = false;
    std::erase_if(aliases, [this, &resolved](const std::pair<std::wstring, std::wstring>& alias) {
      const auto target = codePages_.find(alias.second);
      if (target == codePages_.end()) return false;
      codePages_[alias.first] = target->second;
      resolved = true;
      return true;
    });
  }
}

bool CharsetTable::Find(const std::wstring& name, int* codePage) const {
  const auto found = codePages_.find(name);
  if (found == codePages_.end()) return false;
  *codePage = found->second;
  return true;
}
