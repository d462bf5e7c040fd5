// The interface through which the debug logger (diagnostics/debug_logger.h)
// writes its records: one LogOutput per output slot, in the order the
// logger writes a record to them (event log, console, syslog, debug file).
//
// The logger decides whether a line reaches an output: the slot's switch
// must be on and the line's level at or below the slot's threshold (or be
// 5); while its queue is over its limit only the debug-file slot is
// written. An output decides nothing of that; it only writes what it is
// given and keeps its own resources (file, sockets, event source).
//
// Life of an output, all calls on the logger's thread:
//   Open      when the logger thread starts with the slot switched on, and
//             when a settings read switches it on;
//   Poll      once per pass of the logger loop, before the loop waits
//             (reconnect what has dropped);
//   BeforeRecord  before each record is taken from the queue (reopen a
//             file when the day changed or after a failure);
//   Write     per line that passes the slot's switch and threshold;
//   ApplySettings after every settings read, with the settings in force;
//   Close     when the thread ends, and when a settings read switches the
//             slot off.
// An output may throw from Write: the logger catches it per record and
// writes the "DebugLog_Exception" line instead; the other calls must not
// throw.
//
// Thread safety: an output is used by the logger's thread only (and by the
// thread that configures the logger while the logger does not run).
#pragma once

#include "platform/win32/time.h"
#include "platform/win32/types.h"

struct DebugLogSettings;

// The output slots, in the order a record is written to them.
enum class LogSlot : int { kEventLog = 0, kConsole = 1, kSyslog = 2, kDebugFile = 3 };
inline constexpr int kLogSlotCount = 4;

// One line for the outputs. The texts stay valid for the call only.
struct LogLine {
  SYSTEMTIME time;         // local time of the record
  DWORD threadId;          // the thread that logged it
  int level;
  unsigned eventCode;      // 0: none
  const wchar_t* text;     // never null
  const wchar_t* user;     // never null; empty when there is no user text
};

class LogOutput {
 public:
  virtual ~LogOutput() = default;

  // A short name for diagnostics ("console", "debug file"...).
  virtual const wchar_t* Name() const = 0;

  // Opens the output with the logger's settings. False when it could not;
  // the logger still calls Write, and the output may retry in Poll or
  // BeforeRecord.
  virtual bool Open(const DebugLogSettings& settings) = 0;
  // Writes one line; false when it was not written.
  virtual bool Write(const LogLine& line) = 0;
  // Releases what Open took; true when nothing was left to release.
  virtual bool Close() = 0;

  virtual void Poll() {}
  virtual void BeforeRecord() {}
  virtual void ApplySettings(const DebugLogSettings&) {}
};
