// The argument test of the logging entry points: before a log call is
// formatted, its format and every argument it takes are tested for
// readability (diagnostics/readable_memory.h), so that a bad pointer in a
// log call is reported instead of being dereferenced.
//
// The format is walked with platform/crt's FormatReader in its own width
// (a narrow format as narrow text) and the arguments are fetched with
// crt::ArgList, so the test reads the argument list exactly as the
// formatter will. On top of the formatter's grammar the test accepts only:
//
//   lengths   none, h, l, I64 (an I not followed by 64 is refused)
//   letters   d i o u x X c C s S e E f g G p, and "%%"
//
// so %n, %F, %a, %Z, ll, hh, L, w, z, j, t and I32 make an entry invalid.
// %n is refused because the formatter refuses it anyway (it would let a
// log call write to memory). A floating conversion always reads a double:
// "%lf" takes a double in this dialect.
//
// Tests: the format must be readable up to its terminator; a text argument
// (%s, %S) that is not null must be readable up to its terminator, or up to
// its precision when one is given; a null text is accepted. Pointers of %p
// are not tested. Integer, character and floating arguments are passed by
// value and need no test.
//
// While it walks, the test describes each argument as
// "arg[<n>](<type>)=<value> " (n from 1; the type names: int, short int,
// long int, __int64, the unsigned forms, char, wchar_t, char*, wchar_t*,
// double, void*), a text as its characters, a null text as "<null>", an
// unreadable one as "BAD_PTR(<address>)".
//
// Thread safety: pure functions apart from the report, which goes to the
// process-wide logger; callable from any thread at once.
#pragma once

#include <cstdarg>
#include <string>

struct LogArgumentCheck {
  bool valid = false;
  int argCount = 0;          // arguments described
  std::wstring description;  // "arg[1](int)=5 arg[2](char*)=abc "
};

// Walks `format` over `args` (a copy of it: the caller's list is not
// consumed) and describes the arguments up to the first fault.
LogArgumentCheck DescribeLogArguments(const char* format, va_list args);
LogArgumentCheck DescribeLogArguments(const wchar_t* format, va_list args);

// DescribeLogArguments; when the entry is invalid and the process-wide
// logger is active, logs at level 5 without event code
// "Invalid log entry - Level:%d, EventId:%d(0x%08X), Format:%s, User:%s,
// ArgCount:%d, Args:%s" (level, message number, event code, the format or
// "<null>" or "BAD_PTR(...)", the user text or "<null>", the count and the
// description). Returns whether the entry may be formatted.
bool CheckLogArguments(int level, const char* format, va_list args, unsigned eventCode,
                       const wchar_t* user);
bool CheckLogArguments(int level, const wchar_t* format, va_list args, unsigned eventCode,
                       const wchar_t* user);
