// The logging entry points of the system: every diagnostic goes through
// these printf-style calls (Windows dialect, platform/crt), which filter by
// level, test every argument for readability (log_arguments.h), and hand
// the finished text to the process-wide DebugLogger (debug_logger.h).
//
// Levels: 0 and 1 errors, 2 warnings, 3 information, 4 detail, 5 diagnostic
// (passes every level test), above 5 finer detail. An entry reaches an
// output when its level is at or below that output's threshold, or is 5.
//
// Event codes are 32-bit event identifiers:
//
//   bits 31-30  severity: 3 error, 2 warning, 1 informational
//   bit  29     customer flag, set
//   bit  28     0
//   bits 27-16  facility 0xFFF
//   bits 15-0   the message number (diagnostics/message_table.h)
//
// so a code is 0xEFFF0000, 0xAFFF0000 or 0x6FFF0000 plus the message number
// (0xAFFF4E5D: warning, message 20061). 0 means no event code. A line that
// shows a code shows DisplayedLogCode: the message number, or level x 10000
// without an event code.
//
// No entry point fails visibly or throws: an entry that is filtered, whose
// arguments fail the test (it is replaced by the "Invalid log entry"
// report), or that reaches an inactive logger returns without output. A
// formatted text keeps at most 1023 characters.
//
// InstallFoundationLogHooks routes the foundation layer's log seam
// (foundation/log_hook.h) into LogMessage / LogMessageW / LogEvent; call it
// once at start-up (and in tests that want the foundation's lines).
//
// Thread safety: every function may be called from any thread at once.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

// Event code severities (bits 31-16 with the customer flag and facility).
inline constexpr unsigned kEventError = 0xEFFF0000u;
inline constexpr unsigned kEventWarning = 0xAFFF0000u;
inline constexpr unsigned kEventInformation = 0x6FFF0000u;

// The message number of an event code (its low 16 bits).
inline constexpr unsigned MessageNumber(unsigned eventCode) { return eventCode & 0xFFFFu; }
// The code a log line shows: the message number, or level x 10000 when
// there is no event code.
inline constexpr unsigned DisplayedLogCode(unsigned eventCode, int level) {
  return eventCode != 0 ? MessageNumber(eventCode) : static_cast<unsigned>(level) * 10000u;
}

void LogEvent(int level, unsigned eventCode, const char* fmt, ...);
void LogMessage(int level, const char* fmt, ...);
// Wide format: %s takes wide text, %S narrow text.
void LogEventW(int level, unsigned eventCode, const wchar_t* fmt, ...);
void LogMessageW(int level, const wchar_t* fmt, ...);
// As LogMessageW, but queues the text whether the logger runs or not (the
// logger drops or keeps it by its own rules); for the environment report.
void LogMessageDirectW(int level, const wchar_t* fmt, ...);

// Log callback for other components: logs `text` as it stands (it is never
// read as a format) and returns it; a null or empty text logs nothing and
// returns null. The two middle arguments are not used.
const wchar_t* LogTextW(int level, unsigned eventCode, const void* unused1,
                        const void* unused2, const wchar_t* text);

// The per-line callback of the environment reports: (level, text, name of
// the reporting operation, source line) -> 1 when passed on, 0 for a null
// text.
using ReportLogCallback = int (*)(int level, const wchar_t* text, const char* operation,
                                  int line);
// The default ReportLogCallback: LogMessageDirectW(level, "%s", text).
int ReportEnvironmentLine(int level, const wchar_t* text, const char* operation, int line);

// Formats into `buffer` (`count` characters, terminator included) after the
// argument test at level 3. Returns the length written, or -1. The buffer
// always ends up terminated when count > 0: on a failed test it holds the
// empty text, on output longer than count - 1 characters the first
// count - 1 of them. A null buffer or count below 1 writes nothing (-1).
int FormatCheckedW(wchar_t* buffer, int count, const wchar_t* fmt, ...);

// The level a recurring condition is logged at: levelWhenDue for the first
// caller after `intervalSecs` seconds (0: the logger's
// EventLogTimeThreshold) since *lastTime, which that caller moves to now
// with one compare-exchange; levelOtherwise for every other caller. Null
// lastTime gives levelWhenDue. *lastTime is seconds since 1970 and is only
// ever accessed atomically here.
int ThrottleLogLevel(std::int64_t* lastTime, int levelWhenDue, int levelOtherwise,
                     int intervalSecs);

void InstallFoundationLogHooks();
