#include "foundation/log_hook.h"

#include <atomic>

namespace {

std::atomic<FoundationLogHook> g_narrow{nullptr};
std::atomic<FoundationLogHookW> g_wide{nullptr};

}  // namespace

void SetFoundationLogHooks(FoundationLogHook narrow, FoundationLogHookW wide) {
  g_narrow.store(narrow, std::memory_order_release);
  g_wide.store(wide, std::memory_order_release);
}

void FoundationLogMessage(int level, const char* fmt, ...) {
  FoundationLogHook hook = g_narrow.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  va_list args;
  va_start(args, fmt);
  hook(level, 0, fmt, args);
  va_end(args);
}

void FoundationLogMessageW(int level, const wchar_t* fmt, ...) {
  FoundationLogHookW hook = g_wide.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  va_list args;
  va_start(args, fmt);
  hook(level, 0, fmt, args);
  va_end(args);
}

void FoundationLogEvent(int level, unsigned eventCode, const char* fmt, ...) {
  FoundationLogHook hook = g_narrow.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  va_list args;
  va_start(args, fmt);
  hook(level, eventCode, fmt, args);
  va_end(args);
}
