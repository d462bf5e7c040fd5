// The foundation's way to log.
//
// The logging entry points (LogMessage, LogMessageW, LogEvent) live in
// diagnostics/, a layer above this one, yet the locks, threads and other
// foundation code must log. Foundation code therefore logs through the
// calls below, which hand the level, event code, format and arguments to
// the hooks that the diagnostics layer installs at start-up with
// SetFoundationLogHooks. Until hooks are installed (or after they are
// removed by passing null) every call does nothing, which is what an
// inactive logger does. Formats are in the Windows printf dialect
// (platform/crt/printf.h); event code 0 means "no event code".
//
// A hook receives the arguments as a va_list that it may read once; it must
// not throw (the foundation's callers are noexcept paths such as thread
// start and stop).
//
// Thread safety: every call may come from any thread at any time. The hooks
// are read atomically; SetFoundationLogHooks may run while other threads
// log, and a call that has already read a hook may still run it after the
// hooks are changed, so an installed hook must stay callable for the
// process's life (a plain function, not a bound object that is freed).
#pragma once

#include <cstdarg>

using FoundationLogHook = void (*)(int level, unsigned eventCode,
                                   const char* fmt, va_list args);
using FoundationLogHookW = void (*)(int level, unsigned eventCode,
                                    const wchar_t* fmt, va_list args);

// Installs both hooks at once (either may be null: that form logs nothing).
void SetFoundationLogHooks(FoundationLogHook narrow, FoundationLogHookW wide);

// Narrow format, event code 0.
void FoundationLogMessage(int level, const char* fmt, ...);
// Wide format, event code 0; %s in a wide format is wide text.
void FoundationLogMessageW(int level, const wchar_t* fmt, ...);
// Narrow format with an event code.
void FoundationLogEvent(int level, unsigned eventCode, const char* fmt, ...);
