#include "platform/win32/text_unicode.h"

#include <cstddef>

namespace {

constexpr INT kAllTests = IS_TEXT_UNICODE_UNICODE_MASK | IS_TEXT_UNICODE_REVERSE_MASK |
                          IS_TEXT_UNICODE_NOT_UNICODE_MASK;
constexpr INT kAgainst = IS_TEXT_UNICODE_REVERSE_ASCII16 | IS_TEXT_UNICODE_REVERSE_SIGNATURE |
                         IS_TEXT_UNICODE_ILLEGAL_CHARS | IS_TEXT_UNICODE_ODD_LENGTH;

bool IsHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsAscii(unsigned unit) { return unit >= 0x0001 && unit <= 0x007F; }
unsigned Swap(unsigned unit) { return ((unit & 0xFF) << 8) | (unit >> 8); }

}  // namespace

BOOL IsTextUnicode(const void* buffer, int size, INT* result) {
  const INT asked = result != nullptr ? *result : kAllTests;
  if (result != nullptr) *result = 0;
  if (buffer == nullptr || size < 2) return FALSE;

  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const std::size_t units = static_cast<std::size_t>(size) / 2;
  auto unitAt = [bytes](std::size_t i) { return unsigned{bytes[2 * i]} | unsigned{bytes[2 * i + 1]} << 8; };

  INT held = 0;
  if (size % 2 != 0) held |= IS_TEXT_UNICODE_ODD_LENGTH;
  if (unitAt(0) == 0xFEFF) held |= IS_TEXT_UNICODE_SIGNATURE;
  if (unitAt(0) == 0xFFFE) held |= IS_TEXT_UNICODE_REVERSE_SIGNATURE;

  bool ascii = true;
  bool reverseAscii = true;
  bool illegal = false;
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned unit = unitAt(i);
    ascii = ascii && IsAscii(unit);
    reverseAscii = reverseAscii && IsAscii(Swap(unit));
    if (unit == 0xFFFF || (unit == 0xFFFE && i > 0)) illegal = true;
    if (IsHighSurrogate(unit)) {
      if (i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
        ++i;
      } else {
        illegal = true;
      }
    } else if (IsLowSurrogate(unit)) {
      illegal = true;
    }
  }
  if (ascii) held |= IS_TEXT_UNICODE_ASCII16;
  if (reverseAscii) held |= IS_TEXT_UNICODE_REVERSE_ASCII16;
  if (illegal) held |= IS_TEXT_UNICODE_ILLEGAL_CHARS;

  held &= asked;
  if (result != nullptr) *result = held;
  return (held & kAgainst) == 0 ? TRUE : FALSE;
}
