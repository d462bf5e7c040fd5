// EventLogOutput: the event-log slot of the DebugLogger (log_output.h):
// entries under an event source named after the application
// (platform/eventlog).
//
// Opening registers the source: under HKEY_LOCAL_MACHINE it creates (or
// opens) "SYSTEM\CurrentControlSet\Services\EventLog\Application\<name>"
// (at most 259 characters) and writes "TypesSupported" = 7 and
// "EventMessageFile" = the file of the module named messageModuleName (the
// program's when that is empty or not loaded), then registers the source on
// the local machine whatever the registry gave. Nothing is registered while
// EventLogEnabled is off or applicationName is empty.
//
// Each line is an entry with its level's type and, without an event code of
// its own, the level's default code:
//   level 0, 1  error        0xEFFF2710
//   level 2     warning      0xAFFF4E20
//   level 3     information  0x6FFF7530
//   level 5     information  0x6FFFC350
// Every other level is never reported. The entry's one string is the text.
//
// Thread safety: the logger's thread only (LogOutput).
#pragma once

#include "diagnostics/debug_logger.h"
#include "diagnostics/log_output.h"
#include "platform/win32/types.h"

class EventLogOutput final : public LogOutput {
 public:
  EventLogOutput() = default;
  // Deregisters the source.
  ~EventLogOutput() override;
  EventLogOutput(const EventLogOutput&) = delete;
  EventLogOutput& operator=(const EventLogOutput&) = delete;

  const wchar_t* Name() const override { return L"event log"; }
  // Takes the settings and registers the source.
  bool Open(const DebugLogSettings& settings) override;
  bool Write(const LogLine& line) override { return ReportEvent(line); }
  bool Close() override;

  // True when a source is registered afterwards.
  bool RegisterEventSource();
  // True when the line was reported, or is of a level never reported.
  bool ReportEvent(const LogLine& line);

 private:
  DebugLogSettings settings_;
  HANDLE eventSource_ = nullptr;
};
