// The printf family of the Windows C run-time, as the system's code calls
// it: the dialect of platform/crt/format_parser.h with the run-time's
// truncation rule. Narrow and wide forms share one formatter.
//
// Truncation rule (count is in characters of the output's width; len is
// the length of the whole output without a terminator):
//
//   len <  count   len characters and a terminator are written; returns len
//   len == count   count characters, no terminator; returns len
//   len >  count   count characters, no terminator; returns -1
//
// so a caller that needs a terminated text passes one less than its buffer
// and terminates the last character itself. A null buffer with count 0
// asks only for the length and returns len; a null buffer with any other
// count is refused (-1), as the run-time refuses it.
//
// Failures return -1 and write at most a terminator at buf[0] (when
// count > 0): a null format, an invalid format (format_parser.h), %n (the
// run-time refuses %n unless a process enables it, which the system never
// does: it would let a format write to memory), text that the locale
// cannot convert between widths, and an output longer than INT_MAX.
//
// Text of the other width is converted with the C locale functions of the
// calling thread's locale (LC_CTYPE; wcrtomb for wide text in narrow
// output, mbrtowc for narrow text in wide output). Width and precision
// count characters of the output's width; a character is never split.
// Numbers use the locale's decimal point (LC_NUMERIC).
//
// Dialect details: a null string prints "(null)" (cut by a precision like
// any text); '0' pads text and characters with zeros as well as numbers;
// %p prints 2 * sizeof(void*) upper-case hexadecimal digits with no prefix.
//
// Thread safety: every function may be called from any thread at once.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace crt {

int vsnprintf(char* buf, std::size_t count, const char* fmt, va_list args);
int snprintf(char* buf, std::size_t count, const char* fmt, ...);

int vsnwprintf(wchar_t* buf, std::size_t count, const wchar_t* fmt, va_list args);
int snwprintf(wchar_t* buf, std::size_t count, const wchar_t* fmt, ...);

// The length the output would have (without terminator), or -1 on the
// failures listed above.
int vscprintf(const char* fmt, va_list args);
int vscwprintf(const wchar_t* fmt, va_list args);

}  // namespace crt
