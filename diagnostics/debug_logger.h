// DebugLogger: the process-wide logger behind the logging entry points of
// diagnostics/log.h, with its queue, its thread and its settings.
//
// Log() stamps a text with the time and the calling thread and appends it
// to a queue; the logger's own thread drains the queue and writes each
// record to up to four outputs (diagnostics/log_output.h), one per slot in
// the order event log, console, syslog, debug file. The thread also applies
// the queue-length rules and re-reads its settings from the registry every
// 30 seconds (on the monotonic clock of SetClock).
//
// Configuring and starting. The program constructs the logger with the
// defaults of DebugLogSettings and, unless it wants log output, leaves it
// there: inactive, every entry point returns without output. A host that
// wants output calls, while the logger does not run,
//
//   DebugLogSettings settings;
//   settings.applicationName = L"Agent";
//   settings.debugFilePath = L"/var/log/agent/trace.txt";
//   settings.settingsKeyPath = L"Software\\Vendor\\Agent\\Logging";
//   settings.maxQueueLength = 10000;
//   logger.Configure(settings, std::move(outputs));  // false while running
//   logger.Start();                                  // Thread::Start
//
// Start returns once the thread exists; the logger turns active (and the
// entry points start queueing) when the thread has opened its outputs.
// Stop() (Thread::Stop) ends the thread after it has written every record
// queued before the stop. Configure replaces all settings and the
// outputs (a slot without an output is skipped), and with a settingsKeyPath
// reads the registry values below at once, so the logger starts with them.
//
// Registry values read every 30 seconds from settingsKeyPath (under
// HKEY_CURRENT_USER when settingsInCurrentUser, else HKEY_LOCAL_MACHINE;
// nothing changes when the key cannot be opened): DebugLogLevel,
// EventLogLevel, SysLogLevel, ConsoleLogLevel (DWORD 0..15; otherwise
// defaultDebugLogLevel, 2, 2 and 3; a valid ConsoleLogLevel switches the
// console on, an invalid or absent one off), ConsoleLogEnabled (taken when
// present), DebugLogMaxDailyFileAge (0), DebugLogEncoding (0),
// BlockingSyslog (true), AddSyslogHeader (true), SysLogEnabled (default:
// syslogServers not empty), DebugLogEnabled (default: debugFilePath not
// empty), EventLogEnabled (true), EventLogTimeThreshold (60). Booleans are
// DWORDs, non-zero meaning true. Switching a slot on opens its output,
// switching it off closes it.
//
// Queue rules (maxQueueLength > 0; n = records still queued after one is
// taken): n > limit, first time: "[DIAG] EVENT=DebugLog_Max_Event_Queue_
// Exceeded ..." at level 0 and from then on only the debug file is written;
// else n > 3/4 of the limit, first time: the "..._Threshold_Warning" line at
// level 1; else n < limit/2: the "..._Threshold_Enabled" line at level 1 if
// the queue was full, and all outputs are written again.
//
// Thread safety: Log, IsActive, IsLevelEnabled, GetEventLogTimeThreshold
// and QueueLength may be called from any thread at any time (the thresholds,
// the active flag and the queue length are atomics; the queue is under its
// CriticalSection). Configure, Start and Stop belong to one controlling
// thread. Everything else (outputs, settings) belongs to the logger's
// thread while it runs.
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics/log_clock.h"
#include "diagnostics/log_output.h"
#include "foundation/critical_section.h"
#include "foundation/thread.h"
#include "foundation/zev_string.h"
#include "platform/win32/time.h"
#include "platform/win32/types.h"

// What the logger is configured with; the defaults are those of a logger
// that was never configured. Names follow the registry values where there
// is one. The naming, file, syslog and event-source members are read by the
// outputs (Open and ApplySettings).
struct DebugLogSettings {
  std::wstring applicationName;   // event source name and syslog tag
  std::wstring messageModuleName; // event message file's module; empty: the program

  // Debug file: no file while debugFilePath is empty.
  std::wstring debugFilePath;
  int namingStyle = 0;            // 0 dated base path, 1 composed names
  std::wstring logFolder;         // composed names
  std::wstring filePrefix;
  std::wstring logName;
  int instanceNumber = 0;
  bool dailyFiles = false;
  bool perDayFolders = false;
  int maxFileSize = 2000000;      // 0 or less: no limit
  bool newFileOnWrap = false;
  int DebugLogMaxDailyFileAge = 0;
  int DebugLogEncoding = 0;       // 0 ANSI, 1 UTF-8, 2 UTF-16LE
  bool splitLines = false;
  bool environmentReportOnOpen = true;

  // Syslog.
  std::string syslogServers;      // "host", "host:port" or "host:port/tcp", comma-separated
  int syslogFacility = 0;
  bool BlockingSyslog = true;
  bool AddSyslogHeader = true;

  // Registry settings.
  std::wstring settingsKeyPath;   // empty: never read
  bool settingsInCurrentUser = false;
  bool rereadSettings = true;

  // Thresholds and switches.
  int defaultDebugLogLevel = 3;
  int DebugLogLevel = 3;
  int EventLogLevel = 2;
  int SysLogLevel = 2;
  int ConsoleLogLevel = 3;
  bool DebugLogEnabled = true;
  bool SysLogEnabled = true;
  bool ConsoleLogEnabled = false;
  bool EventLogEnabled = true;

  int EventLogTimeThreshold = 60; // seconds; ThrottleLogLevel's default interval
  int maxQueueLength = 0;         // 0: no limit
};

using DebugLogOutputs = std::array<std::unique_ptr<LogOutput>, kLogSlotCount>;

// One queued log event. Owned by the queue until the logger thread (or the
// destructor) deletes it.
struct DebugLogRecord {
  unsigned eventCode = 0;  // 0: none
  DWORD threadId = 0;
  int level = 0;
  zev::ZEVString user;     // no text when there is none
  zev::ZEVString text;     // trailing white space removed
  SYSTEMTIME time{};       // local time of Log
};

class DebugLogger : public Thread {
 public:
  DebugLogger();
  // Stops the thread (waiting for it) and frees the records still queued.
  ~DebugLogger() override;

  // Replaces the settings and outputs. False (nothing changed) while the
  // logger thread runs.
  bool Configure(const DebugLogSettings& settings, DebugLogOutputs outputs);

  // Queues `text` (null: nothing) at `level` from thread `threadId` (0 or
  // less: the caller) with an optional user text (null: none). Returns 1
  // when queued, 0 when dropped: level above every threshold (5 always
  // passes) or no memory. Queues whether the thread runs or not.
  int Log(int level, unsigned eventCode, int threadId, const wchar_t* text,
          const wchar_t* user);

  // True while the thread runs and has not seen the stop event.
  bool IsActive() const { return active_.load(std::memory_order_acquire); }
  // True when `level` is at or below one of the four thresholds, or is 5.
  bool IsLevelEnabled(int level) const;
  int GetEventLogTimeThreshold() const {
    return eventLogTimeThreshold_.load(std::memory_order_relaxed);
  }
  // The number of records queued.
  int QueueLength() const { return queueLength_.load(std::memory_order_relaxed); }

  // The clock that stamps records and times the settings re-read (null:
  // SystemLogClock()). Set it while the thread does not run and no thread
  // logs; it must outlive its use.
  void SetClock(LogClock* clock) {
    clock_.store(clock != nullptr ? clock : &SystemLogClock(), std::memory_order_release);
  }

 protected:
  void Run() override;

 private:
  // Keeps a record the logger thread has written; every so many go back to
  // the callers (at most a bounded number are kept, the others freed).
  void RecordWritten(DebugLogRecord* record);
  struct RecordDone {
    DebugLogger* logger;
    void operator()(DebugLogRecord* record) const { logger->RecordWritten(record); }
  };
  // Takes the oldest record (logger thread); null when the queue is empty.
  DebugLogRecord* PopRecord();
  // Applies the queue rules with `left` records still queued.
  void ApplyQueueRules(int left, const SYSTEMTIME& time);
  // Writes one record (all slots, or only the debug file while full).
  void WriteRecord(DebugLogRecord& record);
  // Writes one line to every slot whose switch and threshold pass.
  void WriteToSlots(const LogLine& line, bool debugFileOnly);
  // Publishes the four thresholds, the overall level (the largest of them)
  // and EventLogTimeThreshold to the callers' atomics.
  void UpdateOverallLevel();
  // Reads the registry values into `s`; false (nothing changed) when the
  // key cannot be opened.
  static bool ReadSettingsValues(DebugLogSettings& s);
  // Reads the registry values and applies the changes.
  void ReadSettings();
  bool SlotEnabled(int slot) const;
  int SlotLevel(int slot) const;
  void OpenSlot(int slot);
  void CloseSlot(int slot);

  std::atomic<bool> active_{false};
  std::atomic<int> debugLogLevel_{3};
  std::atomic<int> eventLogLevel_{2};
  std::atomic<int> sysLogLevel_{2};
  std::atomic<int> consoleLogLevel_{3};
  std::atomic<int> overallLevel_{3};
  std::atomic<int> eventLogTimeThreshold_{60};
  std::atomic<int> queueLength_{0};

  CriticalSection queueLock_;
  std::deque<DebugLogRecord*> queue_;  // under queueLock_
  // Records the logger thread has taken off queue_ and not written yet, in
  // order (still counted in the queue length).
  std::deque<DebugLogRecord*> taken_;
  // Records written by the logger thread since it last took the queue
  // (logger thread), and those handed back for the callers to fill again
  // (under queueLock_).
  std::vector<DebugLogRecord*> written_;
  std::vector<DebugLogRecord*> spare_;

  // The logger thread's (the controlling thread's while it does not run).
  DebugLogSettings settings_;
  DebugLogOutputs outputs_;
  bool queueWarned_ = false;
  bool queueFull_ = false;
  std::atomic<LogClock*> clock_{&SystemLogClock()};
};

// The process-wide logger that the entry points of diagnostics/log.h use;
// constructed on first use with the defaults.
DebugLogger& GetDebugLogger();
