#include "foundation/cp1252.h"

#include <iterator>

namespace {

// Code points of the bytes 0x80..0x9F; the undefined bytes read as U+FFFD.
constexpr wchar_t kHighControls[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

}  // namespace

wchar_t Cp1252ToWide(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return static_cast<wchar_t>(byte);
}

char WideToCp1252(wchar_t ch) {
  if (ch >= 0 && ch <= 0xFF) return static_cast<char>(ch);
  for (std::size_t i = 0; i < std::size(kHighControls); ++i) {
    if (kHighControls[i] == ch) return static_cast<char>(0x80 + i);
  }
  return '?';
}
