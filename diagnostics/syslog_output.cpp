#include "diagnostics/syslog_output.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "diagnostics/log.h"
#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

constexpr std::size_t kServerListChars = 2047;
constexpr std::size_t kHostNameChars = 127;
constexpr int kLineChars = 509;
constexpr int kLineBytes = 1023;
constexpr int kCounterWrap = 10000;
constexpr unsigned short kDefaultPort = 514;

constexpr const wchar_t* kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                      L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

// The four bytes of the target's address, for the "[DIAG]" lines.
struct Quad {
  int a, b, c, d;
};
Quad AddressBytes(const SyslogTarget& target) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&target.address.sin_addr.s_addr);
  return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

void CloseSocket(SyslogTarget& target) {
  if (target.socket >= 0) close(target.socket);
  target.socket = -1;
}

// One server entry: host, host:port or host:port/tcp.
SyslogTarget ParseTarget(const std::string& entry) {
  SyslogTarget target;
  target.socketType = SOCK_DGRAM;
  target.protocol = 0;
  target.address.sin_family = AF_INET;
  target.address.sin_port = htons(kDefaultPort);
  const std::size_t colon = entry.find(':');
  target.host = entry.substr(0, colon);
  if (colon != std::string::npos) {
    const char* text = entry.c_str() + colon + 1;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    if (end != text) target.address.sin_port = htons(static_cast<unsigned short>(port));
    if (strcasecmp(end, "/tcp") == 0) {
      target.socketType = SOCK_STREAM;
      target.protocol = IPPROTO_TCP;
    }
  }
  return target;
}

}  // namespace

SyslogOutput::~SyslogOutput() { StopSyslog(); }

bool SyslogOutput::Open(const DebugLogSettings& settings) {
  settings_ = settings;
  return StartSyslog();
}

bool SyslogOutput::StartSyslog() {
  if (!settings_.SysLogEnabled || started_ || settings_.syslogServers.empty()) return started_;
  char host[kHostNameChars + 1] = {};
  hostName_ = gethostname(host, kHostNameChars) == 0 ? host : "";

  for (SyslogTarget& target : targets_) CloseSocket(target);
  targets_.clear();
  const std::string servers = settings_.syslogServers.substr(0, kServerListChars);
  for (std::size_t start = 0; start <= servers.size();) {
    std::size_t comma = servers.find(',', start);
    if (comma == std::string::npos) comma = servers.size();
    if (comma > start) targets_.push_back(ParseTarget(servers.substr(start, comma - start)));
    start = comma + 1;
  }
  started_ = true;
  return true;
}

void SyslogOutput::ConnectSyslogTargets() {
  for (SyslogTarget& target : targets_) {
    if (target.socket < 0) {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = target.socketType;
      addrinfo* found = nullptr;
      const int resolved = getaddrinfo(target.host.c_str(), nullptr, &hints, &found);
      int error = 0;
      if (resolved != 0) {
        error = resolved == EAI_SYSTEM ? errno : resolved;
      } else {
        target.address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
        target.socket = socket(AF_INET, target.socketType | SOCK_CLOEXEC, target.protocol);
        if (target.socket < 0) error = errno;
      }
      if (error != 0) {
        if (error != target.lastError) {
          target.lastError = error;
          LogMessageW(4, L"[DIAG] EVENT=Error_connecting_to_Syslog, ERROR=%d, EVENTMSG=\"Error connecting to %S\"",
                      error, target.host.c_str());
        }
        continue;
      }
    }
    if (target.state >= 1) continue;
    const Quad q = AddressBytes(target);
    if (connect(target.socket, reinterpret_cast<const sockaddr*>(&target.address),
                sizeof target.address) != 0) {
      const int error = errno;
      if (target.state == -1) {
        LogMessageW(4, L"[DIAG] EVENT=Syslog_disconnected, ERROR=%d, EVENTMSG=\"Connect failed to %d.%d.%d.%d\"",
                    error, q.a, q.b, q.c, q.d);
      }
      target.lastError = error;
      CloseSocket(target);
      target.state = 0;
      continue;
    }
    LogMessageW(4, L"[DIAG] EVENT=Syslog_connected, EVENTMSG=\"Connected to %d.%d.%d.%d\"", q.a, q.b,
                q.c, q.d);
    target.lastError = 0;
    target.state = 1;
    if (!settings_.BlockingSyslog) {
      fcntl(target.socket, F_SETFL, fcntl(target.socket, F_GETFL) | O_NONBLOCK);
    }
  }
}

bool SyslogOutput::WriteSyslogLine(const LogLine& line) {
  if (!started_) return false;
  const int severity = std::clamp(line.level + 2, 0, 7);
  const int priority = severity | (settings_.syslogFacility * 8);
  const unsigned code = DisplayedLogCode(line.eventCode, line.level);
  const wchar_t* source = settings_.applicationName.c_str();
  const bool user = line.user[0] != L'\0';
  const int counter = counter_;
  counter_ = (counter_ + 1) % kCounterWrap;

  wchar_t text[kLineChars + 2];
  const std::size_t count = kLineChars;
  int length;
  if (settings_.AddSyslogHeader) {
    const SYSTEMTIME& t = line.time;
    wchar_t time[41];
    crt::snwprintf(time, 40, L"%s %02d %02d:%02d:%02d",
                   t.wMonth >= 1 && t.wMonth <= 12 ? kMonths[t.wMonth - 1] : L"???", t.wDay,
                   t.wHour, t.wMinute, t.wSecond);
    const std::wstring host = ConvertToWideString(hostName_, CP_ACP);
    length = user ? crt::snwprintf(text, count, L"<%d>%s %s %s {0x%X} %04d: (#%05lu) {%s} %s",
                                   priority, time, host.c_str(), source, line.threadId, counter,
                                   code, line.user, line.text)
                  : crt::snwprintf(text, count, L"<%d>%s %s %s {0x%X} %04d: (#%05lu) %s", priority,
                                   time, host.c_str(), source, line.threadId, counter, code,
                                   line.text);
  } else {
    length = user ? crt::snwprintf(text, count, L"<%d> %s {0x%X} %04d: (#%05lu) {%s} %s", priority,
                                   source, line.threadId, counter, code, line.user, line.text)
                  : crt::snwprintf(text, count, L"<%d> %s {0x%X} %04d: (#%05lu) %s", priority,
                                   source, line.threadId, counter, code, line.text);
  }
  if (length < 0) {
    if (text[0] == L'\0') return false;
    length = kLineChars;
  }

  // To the locale's code page, within kLineBytes with the "\n".
  std::string bytes(4 * kLineChars + 8, '\0');
  int wide = length;
  int size = 0;
  for (;;) {
    size = WideCharToMultiByte(CP_ACP, 0, text, wide, bytes.data(), static_cast<int>(bytes.size()),
                               nullptr, nullptr);
    if (size <= 0 && wide > 0) return false;
    if (size <= kLineBytes - 1) break;
    wide -= std::max(1, (size - (kLineBytes - 1) + 3) / 4);
  }
  bytes.resize(static_cast<std::size_t>(size));
  bytes += '\n';

  bool sent = false;
  for (SyslogTarget& target : targets_) {
    if (target.socket >= 0 && target.state == 1) sent = Send(target, bytes) || sent;
  }
  return sent;
}

bool SyslogOutput::Send(SyslogTarget& target, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t result =
        send(target.socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (result >= 1) {
      done += static_cast<std::size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    const int error = result < 0 ? errno : EPIPE;
    target.lastError = error;
    // A line that would block is dropped for this server; once part of it
    // went out, only a new connection starts on a whole line.
    if ((error == EWOULDBLOCK || error == EAGAIN) && done == 0) return false;
    const Quad q = AddressBytes(target);
    LogMessageW(4, L"[DIAG] EVENT=Syslog_disconnected, ERROR=%d, EVENTMSG=\"Connection lost to %d.%d.%d.%d\"",
                error, q.a, q.b, q.c, q.d);
    CloseSocket(target);
    target.state = 0;
    return false;
  }
  return true;
}

void SyslogOutput::StopSyslog() {
  if (!started_) return;
  for (SyslogTarget& target : targets_) {
    CloseSocket(target);
    target.lastError = 0;
    target.state = 0;
  }
  started_ = false;
}
