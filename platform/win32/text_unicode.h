// IsTextUnicode: whether a byte buffer reads as UTF-16 text in this
// machine's byte order (little-endian), judged by the form of its units.
//
// The buffer is taken as `size` bytes, that is size / 2 16-bit units read
// little-endian. The tests, named by the flags below:
//
//   IS_TEXT_UNICODE_ASCII16             every unit is 0x0001..0x007F
//   IS_TEXT_UNICODE_REVERSE_ASCII16     every unit, bytes swapped, is
//                                       0x0001..0x007F
//   IS_TEXT_UNICODE_SIGNATURE           the first unit is U+FEFF
//   IS_TEXT_UNICODE_REVERSE_SIGNATURE   the first unit is 0xFFFE (U+FEFF
//                                       with its bytes swapped)
//   IS_TEXT_UNICODE_ILLEGAL_CHARS       a unit that well-formed UTF-16 text
//                                       never holds: 0xFFFF, 0xFFFE after
//                                       the first unit, or a surrogate
//                                       without its partner
//   IS_TEXT_UNICODE_ODD_LENGTH          `size` is odd
//
// No statistical test is made: text in any script is judged by its form
// alone. The result is TRUE when none of the tests that speak against UTF-16
// in this byte order (REVERSE_ASCII16, REVERSE_SIGNATURE, ILLEGAL_CHARS,
// ODD_LENGTH) holds; an empty buffer (or one of a single byte) is not text
// and gives FALSE.
//
// `result`: null runs every test; otherwise *result names the tests to run
// (the masks combine them) and receives the ones that held; the return value
// then judges only the tests that were run.
//
// Pure function; any thread may call it.
#pragma once

#include "platform/win32/types.h"

inline constexpr INT IS_TEXT_UNICODE_ASCII16 = 0x0001;
inline constexpr INT IS_TEXT_UNICODE_SIGNATURE = 0x0008;
inline constexpr INT IS_TEXT_UNICODE_REVERSE_ASCII16 = 0x0010;
inline constexpr INT IS_TEXT_UNICODE_REVERSE_SIGNATURE = 0x0080;
inline constexpr INT IS_TEXT_UNICODE_ILLEGAL_CHARS = 0x0100;
inline constexpr INT IS_TEXT_UNICODE_ODD_LENGTH = 0x0200;

inline constexpr INT IS_TEXT_UNICODE_UNICODE_MASK = 0x000F;
inline constexpr INT IS_TEXT_UNICODE_REVERSE_MASK = 0x00F0;
inline constexpr INT IS_TEXT_UNICODE_NOT_UNICODE_MASK = 0x0F00;

BOOL IsTextUnicode(const void* buffer, int size, INT* result);
