// SyslogOutput: the syslog slot of the DebugLogger (log_output.h): lines
// sent over UDP or TCP to every configured server.
//
// Servers (syslogServers, at most 2047 characters): entries separated by
// ',', each "host", "host:port" or "host:port/tcp" ("/tcp" in any case);
// port 514 and UDP by default. A host is a dotted IPv4 address or a name
// resolved with getaddrinfo to its first IPv4 address.
//
// Each pass of the logger loop (Poll) brings every target up: a target
// without a socket resolves its host and makes one; one not connected
// connects. Their "[DIAG]" lines are logged at level 4 through LogMessageW
// and so reach the outputs on a later pass:
//   "[DIAG] EVENT=Error_connecting_to_Syslog, ERROR=%d, EVENTMSG=\"Error connecting to %s\""
//       resolving or making the socket failed (only when the error changes;
//       a resolver failure shows getaddrinfo's code, others errno)
//   "[DIAG] EVENT=Syslog_disconnected, ERROR=%d, EVENTMSG=\"Connect failed to %d.%d.%d.%d\""
//       the target's first connect failed (later ones are silent)
//   "[DIAG] EVENT=Syslog_connected, EVENTMSG=\"Connected to %d.%d.%d.%d\""
//   "[DIAG] EVENT=Syslog_disconnected, ERROR=%d, EVENTMSG=\"Connection lost to %d.%d.%d.%d\""
//       a send failed: the socket is closed and the next pass connects again
// With BlockingSyslog off a connected socket is made non-blocking; a line
// that would block is then dropped for that server (or, when part of it
// went out, the connection is closed so that the next one starts on a
// whole line).
//
// A line, with AddSyslogHeader:
//   "<%d>%s %s %s {0x%X} %04d: (#%05lu) {%s} %s"   (user text given)
//   "<%d>%s %s %s {0x%X} %04d: (#%05lu) %s"
// the priority, the record's time as "Mmm dd hh:mm:ss" (English month
// names), this host's name, the source (applicationName), the thread id, a
// line counter 0000..9999 that starts again at 0, the code (the event's
// message number, or level x 10000 without an event code), the user text and
// the text; without the header:
//   "<%d> %s {0x%X} %04d: (#%05lu) {%s} %s"   or   "<%d> %s {0x%X} %04d: (#%05lu) %s"
// The line keeps 509 characters, gets "\n", and is sent in the locale's code
// page (CP_ACP), at most 1023 bytes (cut on a character boundary, the "\n"
// kept). The priority is the severity level + 2 (at most 7, debug) ORed
// with syslogFacility x 8. Every send passes MSG_NOSIGNAL.
//
// Thread safety: the logger's thread only (LogOutput).
#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

#include "diagnostics/debug_logger.h"
#include "diagnostics/log_output.h"

struct SyslogTarget {
  int lastError = 0;             // last error seen for this server, 0 none
  int state = -1;                // -1 never connected, 0 not connected, 1 connected
  int socket = -1;               // -1 when none
  int socketType = 2;            // SOCK_DGRAM (2) or SOCK_STREAM (1)
  int protocol = 0;              // 0, or IPPROTO_TCP (6)
  sockaddr_in address{};         // AF_INET, port and address in network order
  std::string host;              // as configured
};

class SyslogOutput final : public LogOutput {
 public:
  SyslogOutput() = default;
  // Stops syslog: every socket is closed.
  ~SyslogOutput() override;
  SyslogOutput(const SyslogOutput&) = delete;
  SyslogOutput& operator=(const SyslogOutput&) = delete;

  const wchar_t* Name() const override { return L"syslog"; }
  // Takes the settings and starts syslog.
  bool Open(const DebugLogSettings& settings) override;
  bool Write(const LogLine& line) override { return WriteSyslogLine(line); }
  bool Close() override {
    StopSyslog();
    return true;
  }
  void Poll() override { ConnectSyslogTargets(); }
  void ApplySettings(const DebugLogSettings& settings) override { settings_ = settings; }

  // With SysLogEnabled, not started and servers configured: notes the host
  // name and builds the targets. True when syslog runs afterwards.
  bool StartSyslog();
  void ConnectSyslogTargets();
  // Sends the line to every connected target; false when it was sent to
  // none.
  bool WriteSyslogLine(const LogLine& line);
  void StopSyslog();

  const std::vector<SyslogTarget>& Targets() const { return targets_; }
  const std::string& HostName() const { return hostName_; }

 private:
  // Sends `bytes` on the target; on failure logs and closes as above.
  bool Send(SyslogTarget& target, const std::string& bytes);

  DebugLogSettings settings_;
  bool started_ = false;
  std::string hostName_;
  std::vector<SyslogTarget> targets_;
  int counter_ = 0;
};
