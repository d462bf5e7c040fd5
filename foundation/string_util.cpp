#include "foundation/string_util.h"

#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

#include "platform/crt/printf.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Printability by the Unicode character tables, whatever locale the process
// runs in: the C locale calls every character past ASCII unprintable, and
// trimming would then eat letters off the ends of names.
bool IsPrintable(wchar_t c) {
  static const locale_t unicode =
      newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (unicode == static_cast<locale_t>(nullptr)) {
    return std::iswprint(static_cast<std::wint_t>(c)) != 0;
  }
  return iswprint_l(static_cast<wint_t>(c), unicode) != 0;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return text;
}

// Case-insensitive equality of name[start, start + text.size()) and text.
bool EqualsAt(const std::wstring& name, std::size_t start, const std::wstring& text) {
  return Lower(name.substr(start, text.size())) == Lower(text);
}

}  // namespace

void TrimWhitespace(std::string& s) {
  std::size_t end = s.size();
  while (end > 0 && IsBlank(s[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsBlank(s[begin])) ++begin;
  s = s.substr(begin, end - begin);
}

std::wstring DoubleSingleQuotes(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 2);
  for (wchar_t c : text) {
    out += c;
    if (c == L'\'') out += c;
  }
  return out;
}

int SplitString(const std::string& text, const std::string& delimiter,
                std::list<std::string>* out, bool skipEmpty, bool trimTokens) {
  if (out == nullptr) return 0;
  out->clear();
  if (text.empty() || delimiter.empty()) return 0;
  int count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t match = text.find(delimiter, start);
    std::string token = text.substr(start, match == std::string::npos ? std::string::npos
                                                                      : match - start);
    if (trimTokens) TrimWhitespace(token);
    if (!skipEmpty || !token.empty()) {
      out->push_back(std::move(token));
      ++count;
    }
    if (match == std::string::npos) return count;
    start = match + delimiter.size();
  }
}

std::wstring TrimWideString(const std::wstring& in, const wchar_t* set) {
  if (in.empty() || set == nullptr || *set == L'\0') return in;
  auto trimmed = [set](wchar_t c) {
    return std::wcschr(set, c) != nullptr || !IsPrintable(c);
  };
  std::size_t end = in.size();
  while (end > 0 && trimmed(in[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && trimmed(in[begin])) ++begin;
  return in.substr(begin, end - begin);
}

bool WildcardMatchW(const std::wstring& name, const wchar_t* pattern) {
  if (name.empty() || pattern == nullptr) return false;
  const std::wstring p(pattern);
  if (p.empty() || p == L"*") return true;
  const bool leading = p.front() == L'*';
  const bool trailing = p.back() == L'*';
  if (leading && trailing) {
    const std::wstring middle = p.substr(1, p.size() - 2);
    if (name.size() < middle.size()) return false;
    return Lower(name).find(Lower(middle)) != std::wstring::npos;
  }
  if (leading) {
    const std::wstring tail = p.substr(1);
    return name.size() >= tail.size() && EqualsAt(name, name.size() - tail.size(), tail);
  }
  if (trailing) {
    const std::wstring head = p.substr(0, p.size() - 1);
    return name.size() >= head.size() && EqualsAt(name, 0, head);
  }
  return Lower(name) == Lower(p);
}

std::string Int64ToString(std::int64_t value) { return std::to_string(value); }

std::wstring Int64ToWString(std::int64_t value) { return std::to_wstring(value); }

std::string IntToString(int value) { return std::to_string(value); }

std::wstring IntToWString(int value) { return std::to_wstring(value); }

bool AppendFormatV(std::string& out, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = crt::vscprintf(format, measure);
  va_end(measure);
  if (length < 0) return false;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(length) + 1);
  if (crt::vsnprintf(&out[start], static_cast<std::size_t>(length) + 1, format, args) != length) {
    out.resize(start);
    return false;
  }
  out.resize(start + static_cast<std::size_t>(length));
  return true;
}

bool AppendFormat(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool formatted = AppendFormatV(out, format, args);
  va_end(args);
  return formatted;
}
