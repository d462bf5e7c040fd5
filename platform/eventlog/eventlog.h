// The event log: event sources, and entries reported under them.
//
// Here the event log is an append-only text file, Application.log, in the
// directory named by MORVALE_EVENTLOG_DIR (unset or empty:
// $HOME/.morvale/eventlog; created, with its parents, on the first entry).
// Each entry is one line of UTF-8, its fields separated by tabs:
//
//   2024-01-31T09:15:02.517Z<TAB>Agent<TAB>Warning<TAB>0xAFFF4E5D<TAB>text
//
// the time the entry was reported (UTC, milliseconds), the source name, the
// type (Success, Error, Warning, Information, Audit Success, Audit Failure),
// the event code and the entry's strings, separated by tabs when there are
// several. In the source name and the strings a backslash is written as
// "\\", a tab as "\t", a carriage return as "\r" and a line feed as "\n", so
// an entry never spans lines. Each line goes to the file in one append, so
// entries of several processes do not interleave. The category, the user SID
// and the additional data are accepted and not kept.
//
// RegisterEventSourceW works on the local machine only (a null or empty
// server name) and gives a handle for any source name, registered in the
// registry or not; DeregisterEventSource frees it. Failures return
// null/FALSE with the thread's last error: ERROR_INVALID_PARAMETER for a null
// source name, another server, an unknown type or a null string;
// ERROR_INVALID_HANDLE for a null handle; ERROR_PATH_NOT_FOUND when the
// directory or file cannot be opened; ERROR_WRITE_FAULT when the line cannot
// be written whole.
//
// Thread safety: any thread may call these; one handle may be used by
// several threads at once, but not after it has been deregistered.
#pragma once

#include "platform/win32/types.h"

inline constexpr WORD EVENTLOG_SUCCESS = 0x0000;
inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

HANDLE RegisterEventSourceW(const wchar_t* serverName, const wchar_t* sourceName);
BOOL DeregisterEventSource(HANDLE eventLog);

BOOL ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, void* userSid,
                  WORD numStrings, DWORD dataSize, const wchar_t** strings, void* rawData);
