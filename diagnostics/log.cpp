#include "diagnostics/log.h"

#include <atomic>
#include <cstdarg>
#include <ctime>

#include "diagnostics/debug_logger.h"
#include "diagnostics/log_arguments.h"
#include "foundation/log_hook.h"
#include "foundation/zev_string.h"
#include "platform/crt/printf.h"
#include "platform/win32/sync.h"

namespace {

// Whether a call queues its text only while the logger runs (every entry
// point but LogMessageDirectW).
enum class Gate { kActiveOnly, kDirect };

template <typename Char>
void LogV(int level, unsigned eventCode, const Char* fmt, va_list args, Gate gate) {
  try {
    DebugLogger& logger = GetDebugLogger();
    if (!logger.IsLevelEnabled(level)) return;
    if (!CheckLogArguments(level, fmt, args, eventCode, nullptr)) return;
    if (gate == Gate::kActiveOnly && !logger.IsActive()) return;
    zev::ZEVString text;
    text.FormatV(fmt, args);
    if (text.GetWide() != nullptr) logger.Log(level, eventCode, 0, text.GetWide(), nullptr);
  } catch (...) {
    // The logging path never throws to its caller.
  }
}

void NarrowHook(int level, unsigned eventCode, const char* fmt, va_list args) {
  LogV(level, eventCode, fmt, args, Gate::kActiveOnly);
}

void WideHook(int level, unsigned eventCode, const wchar_t* fmt, va_list args) {
  LogV(level, eventCode, fmt, args, Gate::kActiveOnly);
}

}  // namespace

void LogEvent(int level, unsigned eventCode, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(level, eventCode, fmt, args, Gate::kActiveOnly);
  va_end(args);
}

void LogMessage(int level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(level, 0, fmt, args, Gate::kActiveOnly);
  va_end(args);
}

void LogEventW(int level, unsigned eventCode, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(level, eventCode, fmt, args, Gate::kActiveOnly);
  va_end(args);
}

void LogMessageW(int level, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(level, 0, fmt, args, Gate::kActiveOnly);
  va_end(args);
}

void LogMessageDirectW(int level, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(level, 0, fmt, args, Gate::kDirect);
  va_end(args);
}

const wchar_t* LogTextW(int level, unsigned eventCode, const void*, const void*,
                        const wchar_t* text) {
  if (text == nullptr || text[0] == 0) return nullptr;
  LogEventW(level, eventCode, L"%s", text);
  return text;
}

int ReportEnvironmentLine(int level, const wchar_t* text, const char*, int) {
  if (text == nullptr) return 0;
  LogMessageDirectW(level, L"%s", text);
  return 1;
}

int FormatCheckedW(wchar_t* buffer, int count, const wchar_t* fmt, ...) {
  if (buffer == nullptr || count < 1) return -1;
  va_list args;
  va_start(args, fmt);
  int result = -1;
  try {
    if (CheckLogArguments(3, fmt, args, 0, nullptr)) {
      result = crt::vsnwprintf(buffer, static_cast<std::size_t>(count - 1), fmt, args);
    } else {
      buffer[0] = 0;
    }
  } catch (...) {
    buffer[0] = 0;
  }
  va_end(args);
  buffer[count - 1] = 0;
  return result;
}

int ThrottleLogLevel(std::int64_t* lastTime, int levelWhenDue, int levelOtherwise,
                     int intervalSecs) {
  if (lastTime == nullptr) return levelWhenDue;
  if (intervalSecs == 0) intervalSecs = GetDebugLogger().GetEventLogTimeThreshold();
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t last = std::atomic_ref<std::int64_t>(*lastTime).load();
  if (now - last <= intervalSecs) return levelOtherwise;
  return InterlockedCompareExchange64(lastTime, now, last) == last ? levelWhenDue
                                                                   : levelOtherwise;
}

void InstallFoundationLogHooks() { SetFoundationLogHooks(&NarrowHook, &WideHook); }
