// The log sink that database-layer functions take as an optional argument:
// (level, event code, two reserved values passed as 0, wide text, narrow
// location "Class::Method", source line). The text is a finished line, never
// a format. A null sink means "do not log".
//
// A sink may be called from any thread that calls the function it was given
// to; it must not throw.
#pragma once

using DBLogSink = void (*)(int level, unsigned eventCode, int reserved1, int reserved2,
                           const wchar_t* text, const char* location, int line);
