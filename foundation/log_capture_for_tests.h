// Test support: captures what foundation code logs through log_hook.h.
//
// A LogCapture installs hooks that format each call (Windows printf
// dialect) and keep it; its destructor removes the hooks. One capture at a
// time per process. Calls may come from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "foundation/log_hook.h"
#include "platform/crt/printf.h"

struct CapturedLogLine {
  int level;
  unsigned eventCode;
  bool wide;          // logged with a wide format
  std::string text;   // narrow calls
  std::wstring wtext; // wide calls
};

class LogCapture {
 public:
  LogCapture() { SetFoundationLogHooks(&Narrow, &Wide); }
  ~LogCapture() {
    SetFoundationLogHooks(nullptr, nullptr);
    std::lock_guard<std::mutex> hold(Mutex());
    Lines().clear();
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedLogLine> Taken() const {
    std::lock_guard<std::mutex> hold(Mutex());
    return Lines();
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<CapturedLogLine>& Lines() {
    static std::vector<CapturedLogLine> lines;
    return lines;
  }
  static void Narrow(int level, unsigned code, const char* fmt, va_list args) {
    char buf[1024];
    if (crt::vsnprintf(buf, sizeof buf - 1, fmt, args) < 0) buf[0] = 0;
    buf[sizeof buf - 1] = 0;
    std::lock_guard<std::mutex> hold(Mutex());
    Lines().push_back({level, code, false, buf, {}});
  }
  static void Wide(int level, unsigned code, const wchar_t* fmt, va_list args) {
    wchar_t buf[1024];
    if (crt::vsnwprintf(buf, 1023, fmt, args) < 0) buf[0] = 0;
    buf[1023] = 0;
    std::lock_guard<std::mutex> hold(Mutex());
    Lines().push_back({level, code, true, {}, buf});
  }
};
