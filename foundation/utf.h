// Converters between UTF-16 and UTF-8 that work over caller-given ranges and
// stop cleanly at the end of either, so that a stream can be converted in
// pieces (the log-file encoders feed them one buffer at a time).
//
// Both converters move the caller's cursors past the last complete unit they
// converted and return why they stopped:
//   kUtfDone             the whole source was converted;
//   kUtfSourceExhausted  the source ends inside a sequence that more input
//                        may complete (a high surrogate without its
//                        partner, a cut UTF-8 sequence whose bytes so far
//                        are legal); the cursor stands before it;
//   kUtfTargetExhausted  the next sequence does not fit into the target; the
//                        cursor stands before it;
//   kUtfSourceIllegal    the source holds an illegal sequence, cut or not;
//                        the cursor stands before it.
// Strict mode refuses unpaired surrogates; lenient mode passes them through
// as their own values.
//
// Byte layout of UTF-8 (standard): U+0000..U+007F 0xxxxxxx;
// U+0080..U+07FF 110xxxxx 10xxxxxx; U+0800..U+FFFF 1110xxxx 10xxxxxx
// 10xxxxxx; U+10000..U+10FFFF 11110xxx 10xxxxxx 10xxxxxx 10xxxxxx.
// UTF-16: U+10000..U+10FFFF as a high surrogate 0xD800 + ((cp - 0x10000) >> 10)
// followed by a low surrogate 0xDC00 + ((cp - 0x10000) & 0x3FF).
//
// Pure functions; callable from any thread on buffers the caller owns.
#pragma once

#include <cstddef>
#include <string>

enum UtfResult {
  kUtfDone = 0,
  kUtfSourceExhausted = 1,
  kUtfTargetExhausted = 2,
  kUtfSourceIllegal = 3,
};

// UTF-16 units [*source, sourceEnd) to UTF-8 bytes [*target, targetEnd).
UtfResult ConvertUtf16ToUtf8(const char16_t** source, const char16_t* sourceEnd,
                             char** target, char* targetEnd, bool strict);

// UTF-8 bytes [*source, sourceEnd) to UTF-16 units [*target, targetEnd).
// Over-long forms, bytes that cannot lead, values past U+10FFFF and bad
// continuation bytes are illegal in either mode; encoded surrogates
// (U+D800..U+DFFF) only in strict mode.
UtfResult ConvertUtf8ToUtf16(const char** source, const char* sourceEnd,
                             char16_t** target, char16_t* targetEnd,
                             bool strict);

// Wide text of this platform (one code point per wchar_t) to UTF-16 units,
// appended to `target`: characters above U+FFFF as surrogate pairs, every
// other value (lone surrogates too) as one unit. Stops before a value above
// U+10FFFF, which no UTF-16 can hold, and returns false; true when the whole
// text was converted.
bool AppendUtf16FromWide(const wchar_t* source, std::size_t length, std::u16string* target);

// Whether the `length` bytes at `sequence` form one legal UTF-8 sequence of
// that length (1 to 4; any other length is illegal).
bool IsLegalUtf8(const unsigned char* sequence, int length);
