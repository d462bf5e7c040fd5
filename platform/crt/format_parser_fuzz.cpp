// Feeds arbitrary bytes to the format reader as a narrow format and, four
// bytes to a character, as a wide one. Only parses: there are no arguments
// to format with.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/crt/format_parser.h"

namespace {

template <typename Char>
void Walk(const Char* fmt, std::size_t length) {
  crt::FormatReader<Char> reader(fmt);
  crt::FormatPiece<Char> piece;
  std::size_t steps = 0;
  while (reader.Next(&piece)) {
    // Every piece makes progress and stays inside the format.
    if (++steps > length || reader.offset() > length) __builtin_trap();
    if (piece.kind == crt::FormatPiece<Char>::Kind::kText &&
        (piece.length == 0 || piece.text < fmt || piece.text + piece.length > fmt + length)) {
      __builtin_trap();
    }
  }
  if (reader.ok() && reader.offset() != length) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> narrow(data, data + size);
  narrow.push_back(0);
  Walk(narrow.data(), std::strlen(narrow.data()));

  std::vector<wchar_t> wide(size / sizeof(wchar_t) + 1, 0);
  std::memcpy(wide.data(), data, size / sizeof(wchar_t) * sizeof(wchar_t));
  Walk(wide.data(), std::wcslen(wide.data()));
  return 0;
}
