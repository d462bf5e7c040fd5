// The text form of a device PIN.
//
// A PIN is a 32-bit number. Its text is upper-case hexadecimal of eight
// digits when the PIN is above 0x1FFFFFFF, and decimal otherwise:
// 0x20000000 is "20000000", 100 is "100". ParsePIN reads back every text
// FormatPIN writes but the decimal ones of 20000000 to 99999999, which are
// also the texts of hexadecimal PINs and read as those. The PIN 0xFFFFFFFF (text "FFFFFFFF") stands for
// no PIN and reads as 0.
//
// Pure functions; any thread may call them.
#pragma once

// Writes the PIN's text into buffer: at most size - 2 characters, cut to
// fit, always terminated. Nothing for a null buffer or size below 1.
// Returns buffer.
char* FormatPIN(unsigned pin, char* buffer, int size);

// The PIN of text: the hexadecimal reading when it is above 0x1FFFFFFF,
// else the decimal reading (which is also taken when the hexadecimal one
// passes 32 bits, as the decimal texts from 100000000 up do). 0 for a null
// text, the text "FFFFFFFF" and a text whose decimal reading passes 32 bits.
// *end, when end is not null, points after the characters of the reading
// taken.
unsigned ParsePIN(const char* text, char** end);
