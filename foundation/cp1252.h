// The built-in Windows-1252 table: narrow text of that code page to wide
// text and back, one character at a time, without the platform's code-page
// converter.
//
// Bytes 0x80..0x9F map through the 32-entry table of the code page; its five
// undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as U+FFFD. Every other
// byte reads as the code point of the same value (Latin-1). Going back,
// U+0001..U+00FF become the byte of the same value, a code point of the
// table becomes 0x80 plus its first index (U+FFFD gives 0x81), and anything
// else becomes '?'. Neither direction fails.
//
// Pure functions over a constant table; callable from any thread.
#pragma once

// The code point that `byte` stands for in Windows-1252.
wchar_t Cp1252ToWide(unsigned char byte);

// The Windows-1252 byte for `ch` ('?' when the code page has none; 0 for
// U+0000).
char WideToCp1252(wchar_t ch);
