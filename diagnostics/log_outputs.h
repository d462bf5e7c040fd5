// The four outputs of a DebugLogger in their slots: event log, console,
// syslog and debug file, for DebugLogger::Configure:
//
//   logger.Configure(settings, StandardLogOutputs());
//
// `clock` (null: SystemLogClock()) is the debug file's; give the logger the
// same one (DebugLogger::SetClock). Any thread may build a set; the outputs
// then belong to the logger.
#pragma once

#include "diagnostics/debug_logger.h"
#include "diagnostics/log_clock.h"

DebugLogOutputs StandardLogOutputs(const LogClock* clock = nullptr);
