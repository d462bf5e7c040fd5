#include "foundation/device_pin.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/crt/printf.h"

namespace {

// PINs above this are shown in hexadecimal.
constexpr unsigned kLargestDecimalPin = 0x1FFFFFFF;
// The 32-bit ULONG_MAX of the home platform: no PIN.
constexpr std::uint64_t kNoPin = 0xFFFFFFFF;

// strtoul as on a platform with a 32-bit unsigned long: false when the
// reading passes 32 bits (a minus sign included).
bool Read32(const char* text, char** end, int base, unsigned* value) {
  errno = 0;
  const unsigned long long v = std::strtoull(text, end, base);
  if (errno == ERANGE || v > kNoPin) return false;
  *value = static_cast<unsigned>(v);
  return true;
}

}  // namespace

char* FormatPIN(unsigned pin, char* buffer, int size) {
  if (buffer == nullptr || size < 1) return buffer;
  char text[16];
  const int len = crt::snprintf(text, sizeof text, pin > kLargestDecimalPin ? "%08lX" : "%lu", pin);
  const int kept = std::clamp(std::min(len, size - 2), 0, static_cast<int>(sizeof text));
  std::memcpy(buffer, text, static_cast<std::size_t>(kept));
  buffer[kept] = '\0';
  return buffer;
}

unsigned ParsePIN(const char* text, char** end) {
  if (text == nullptr) return 0;
  char* stop = nullptr;
  unsigned pin = 0;
  if (Read32(text, &stop, 16, &pin) && pin > kLargestDecimalPin) {
    if (end != nullptr) *end = stop;
    return pin == kNoPin ? 0 : pin;
  }
  if (!Read32(text, &stop, 10, &pin)) pin = 0;
  if (end != nullptr) *end = stop;
  return pin;
}
