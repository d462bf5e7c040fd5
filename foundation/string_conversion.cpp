#include "foundation/string_conversion.h"

#include <climits>

#include "foundation/secure_wipe.h"
#include "platform/win32/codepage.h"

namespace {

UINT CodePageOrAnsi(int codePage) {
  return codePage == -1 ? CP_ACP : static_cast<UINT>(codePage);
}

// Runs `convert(in, inCount, out, outCount)` once to size the result and once
// to fill it; the result ends at its first NUL.
template <typename Out, typename In, typename Convert>
std::basic_string<Out> ConvertWhole(const std::basic_string<In>& in,
                                    Convert convert) {
  if (in.empty() || in.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int inCount = static_cast<int>(in.size());
  const int needed = convert(in.data(), inCount, nullptr, 0);
  if (needed <= 0) return {};
  std::basic_string<Out> out(static_cast<std::size_t>(needed), Out());
  if (convert(in.data(), inCount, out.data(), needed) <= 0) {
    SecureWipe(out.data(), out.size() * sizeof(Out));
    return {};
  }
  const std::size_t end = out.find(Out());
  if (end != std::basic_string<Out>::npos) {
    SecureWipe(out.data() + end, (out.size() - end) * sizeof(Out));
    out.resize(end);
  }
  return out;
}

}  // namespace

wchar_t* ConvertToWide(wchar_t* out, const char* in, int outChars,
                       int codePage) {
  if (out == nullptr || in == nullptr || outChars <= 0) return nullptr;
  out[0] = L'\0';
  if (MultiByteToWideChar(static_cast<UINT>(codePage), 0, in, -1, out,
                          outChars) == 0) {
    return nullptr;
  }
  return out;
}

char* ConvertToNarrow(char* out, const wchar_t* in, int outBytes,
                      int codePage) {
  if (out == nullptr || in == nullptr || outBytes <= 0) return nullptr;
  out[0] = '\0';
  if (WideCharToMultiByte(static_cast<UINT>(codePage), 0, in, -1, out,
                          outBytes, nullptr, nullptr) == 0) {
    return nullptr;
  }
  return out;
}

std::wstring ConvertToWideString(const std::string& in, int codePage) {
  const UINT cp = CodePageOrAnsi(codePage);
  return ConvertWhole<wchar_t>(
      in, [cp](const char* text, int count, wchar_t* out, int outCount) {
        return MultiByteToWideChar(cp, 0, text, count, out, outCount);
      });
}

std::string ConvertToNarrowString(const std::wstring& in, int codePage) {
  const UINT cp = CodePageOrAnsi(codePage);
  return ConvertWhole<char>(
      in, [cp](const wchar_t* text, int count, char* out, int outCount) {
        return WideCharToMultiByte(cp, 0, text, count, out, outCount, nullptr,
                                   nullptr);
      });
}

std::wstring ShowableInCodePage(const std::wstring& in, int codePage) {
  return ConvertToWideString(ConvertToNarrowString(in, codePage), codePage);
}

std::wstring ToWideString(const std::string& in, int codePage) {
  return ConvertToWideString(in, codePage);
}

std::string ToNarrowString(const std::wstring& in, int codePage) {
  return ConvertToNarrowString(in, codePage);
}
