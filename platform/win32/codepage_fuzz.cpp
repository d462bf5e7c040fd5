// Feeds arbitrary bytes through the code-page conversions: the size query
// must agree with the conversion, and text that UTF-8 accepts strictly must
// come back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr UINT kCodePages[] = {CP_UTF8, 1252, 932, 936, 949, 950, 54936, 50220, CP_UTF7, 20127};
  if (size < 2) return 0;
  const UINT codePage = kCodePages[data[0] % std::size(kCodePages)];
  const DWORD flags = (data[1] & 1) != 0 ? MB_ERR_INVALID_CHARS : 0;
  const char* text = reinterpret_cast<const char*>(data + 2);
  const int length = static_cast<int>(size - 2);
  if (length == 0) return 0;

  const int needed = MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
  if (needed == 0) return 0;
  std::vector<wchar_t> wide(static_cast<std::size_t>(needed));
  if (MultiByteToWideChar(codePage, flags, text, length, wide.data(), needed) != needed) std::abort();

  const int back = WideCharToMultiByte(codePage, 0, wide.data(), needed, nullptr, 0, nullptr, nullptr);
  if (back == 0) std::abort();
  std::string narrow(static_cast<std::size_t>(back), '\0');
  if (WideCharToMultiByte(codePage, 0, wide.data(), needed, narrow.data(), back, nullptr, nullptr) != back) {
    std::abort();
  }
  if (codePage == CP_UTF8 && flags != 0 && narrow != std::string(text, static_cast<std::size_t>(length))) {
    std::abort();
  }
  return 0;
}
