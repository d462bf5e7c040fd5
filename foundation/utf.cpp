#include "foundation/utf.h"

#include <cstdint>

namespace {

// Trailing bytes announced by a lead byte. Continuation bytes (0x80..0xBF)
// announce none and are then refused as leads by IsLegalUtf8; the old five-
// and six-byte leads announce 4 and 5 and are refused for their length.
int TrailingBytes(unsigned char lead) {
  if (lead < 0xC0) return 0;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF8) return 3;
  if (lead < 0xFC) return 4;
  return 5;
}

// What the lead and continuation markers add up to, by number of trailing
// bytes: subtracting it from the bytes summed six bits at a time leaves the
// code point.
constexpr std::uint32_t kMarkerOffsets[4] = {0x00000000u, 0x00003080u,
                                             0x000E2080u, 0x03C82080u};

// Whether the `available` bytes at `sequence`, the start of a sequence of
// `length` bytes cut by the end of the input, can still become a legal
// sequence when more input comes: the missing bytes are taken as the
// smallest continuation the lead allows.
bool CanCompleteLegally(const unsigned char* sequence, int available,
                        int length) {
  if (length > 4) return false;
  unsigned char padded[4] = {0x80, 0x80, 0x80, 0x80};
  for (int i = 0; i < available; ++i) padded[i] = sequence[i];
  if (available == 1 && padded[0] == 0xE0) padded[1] = 0xA0;
  if (available == 1 && padded[0] == 0xF0) padded[1] = 0x90;
  return IsLegalUtf8(padded, length);
}

bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

bool IsLegalUtf8(const unsigned char* sequence, int length) {
  if (length < 1 || length > 4) return false;
  const unsigned char lead = sequence[0];
  for (int i = length - 1; i >= 2; --i) {
    if (sequence[i] < 0x80 || sequence[i] > 0xBF) return false;
  }
  if (length >= 2) {
    const unsigned char second = sequence[1];
    if (second < 0x80 || second > 0xBF) return false;
    if (lead == 0xE0 && second < 0xA0) return false;  // over-long
    if (lead == 0xF0 && second < 0x90) return false;  // over-long
    if (lead == 0xF4 && second > 0x8F) return false;  // past U+10FFFF
  }
  // 0x80..0xBF cannot lead; 0xC0 and 0xC1 only lead over-long forms; past
  // 0xF4 every value lies beyond U+10FFFF.
  if (lead >= 0x80 && lead <= 0xC1) return false;
  return lead <= 0xF4;
}

UtfResult ConvertUtf16ToUtf8(const char16_t** source, const char16_t* sourceEnd,
                             char** target, char* targetEnd, bool strict) {
  const char16_t* s = *source;
  char* t = *target;
  UtfResult result = kUtfDone;
  while (s < sourceEnd) {
    std::uint32_t ch = *s;
    int units = 1;
    if (IsHighSurrogate(ch)) {
      if (s + 1 >= sourceEnd) {
        result = kUtfSourceExhausted;  // the partner may come with more input
        break;
      }
      const std::uint32_t low = s[1];
      if (IsLowSurrogate(low)) {
        ch = ((ch - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
        units = 2;
      } else if (strict) {
        result = kUtfSourceIllegal;
        break;
      }
    } else if (strict && IsLowSurrogate(ch)) {
      result = kUtfSourceIllegal;
      break;
    }

    const int bytes = ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
    if (targetEnd - t < bytes) {
      result = kUtfTargetExhausted;
      break;
    }
    static constexpr unsigned char kLeadMarks[5] = {0x00, 0x00, 0xC0, 0xE0,
                                                    0xF0};
    for (int i = bytes - 1; i > 0; --i) {
      t[i] = static_cast<char>(0x80 | (ch & 0x3F));
      ch >>= 6;
    }
    t[0] = static_cast<char>(kLeadMarks[bytes] | ch);
    t += bytes;
    s += units;
  }
  *source = s;
  *target = t;
  return result;
}

UtfResult ConvertUtf8ToUtf16(const char** source, const char* sourceEnd,
                             char16_t** target, char16_t* targetEnd,
                             bool strict) {
  const auto* s = reinterpret_cast<const unsigned char*>(*source);
  const auto* end = reinterpret_cast<const unsigned char*>(sourceEnd);
  char16_t* t = *target;
  UtfResult result = kUtfDone;
  while (s < end) {
    const int trailing = TrailingBytes(*s);
    if (trailing >= end - s) {
      // Only a sequence that more input could complete is merely cut.
      result = CanCompleteLegally(s, static_cast<int>(end - s), trailing + 1)
                   ? kUtfSourceExhausted
                   : kUtfSourceIllegal;
      break;
    }
    if (!IsLegalUtf8(s, trailing + 1)) {
      result = kUtfSourceIllegal;
      break;
    }
    // IsLegalUtf8 admits at most three trailing bytes and nothing past
    // U+10FFFF.
    std::uint32_t ch = 0;
    for (int i = 0; i <= trailing; ++i) ch = (ch << 6) + s[i];
    ch -= kMarkerOffsets[trailing];

    if (ch <= 0xFFFF) {
      if (t >= targetEnd) {
        result = kUtfTargetExhausted;
        break;
      }
      if (strict && ch >= 0xD800 && ch <= 0xDFFF) {
        result = kUtfSourceIllegal;
        break;
      }
      *t++ = static_cast<char16_t>(ch);
    } else {
      if (targetEnd - t < 2) {
        result = kUtfTargetExhausted;
        break;
      }
      ch -= 0x10000;
      *t++ = static_cast<char16_t>(0xD800 + (ch >> 10));
      *t++ = static_cast<char16_t>(0xDC00 + (ch & 0x3FF));
    }
    s += trailing + 1;
  }
  *source = reinterpret_cast<const char*>(s);
  *target = t;
  return result;
}

bool AppendUtf16FromWide(const wchar_t* source, std::size_t length, std::u16string* target) {
  for (std::size_t i = 0; i < length; ++i) {
    const auto cp = static_cast<std::uint32_t>(source[i]);
    if (cp > 0x10FFFF) return false;
    if (cp >= 0x10000) {
      target->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      target->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      target->push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}
