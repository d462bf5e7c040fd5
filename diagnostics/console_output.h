// ConsoleOutput: the console slot of the DebugLogger (log_output.h).
//
// Each line goes to the stream (standard output unless a test gives another)
// as "[%05lu] (%02d:%02d:%02d.%03d):{0x%04X} %s\n": the code (the event's
// message number, or level x 10000 without an event code), the record's
// local time of day, the thread id and the text, converted to the narrow
// text of the locale's code page (CP_ACP; what it cannot show becomes '?')
// and flushed line by line. A line keeps at most 1023 characters before its
// line feed.
//
// Thread safety: the logger's thread only (LogOutput).
#pragma once

#include <cstdio>

#include "diagnostics/log_output.h"

class ConsoleOutput final : public LogOutput {
 public:
  explicit ConsoleOutput(std::FILE* stream = stdout) : stream_(stream) {}

  const wchar_t* Name() const override { return L"console"; }
  bool Open(const DebugLogSettings&) override { return true; }
  bool Write(const LogLine& line) override { return WriteConsoleLine(line); }
  bool Close() override { return std::fflush(stream_) == 0; }

  bool WriteConsoleLine(const LogLine& line);

 private:
  std::FILE* stream_;
};
