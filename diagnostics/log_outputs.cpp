#include "diagnostics/log_outputs.h"

#include <memory>

#include "diagnostics/console_output.h"
#include "diagnostics/debug_file.h"
#include "diagnostics/event_log_output.h"
#include "diagnostics/syslog_output.h"

DebugLogOutputs StandardLogOutputs(const LogClock* clock) {
  DebugLogOutputs outputs;
  outputs[static_cast<int>(LogSlot::kEventLog)] = std::make_unique<EventLogOutput>();
  outputs[static_cast<int>(LogSlot::kConsole)] = std::make_unique<ConsoleOutput>();
  outputs[static_cast<int>(LogSlot::kSyslog)] = std::make_unique<SyslogOutput>();
  outputs[static_cast<int>(LogSlot::kDebugFile)] = std::make_unique<DebugFileOutput>(clock);
  return outputs;
}
