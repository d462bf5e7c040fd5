#include "platform/eventlog/eventlog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/codepage.h"
#include "platform/win32/error.h"
#include "platform/win32/time.h"

namespace {

struct EventSource {
  std::string name;  // UTF-8, escaped
};

// Appends `text` as UTF-8 with the escapes of the file's format.
void AppendEscaped(const wchar_t* text, std::string* out) {
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    switch (*p) {
      case L'\\': *out += "\\\\"; continue;
      case L'\t': *out += "\\t"; continue;
      case L'\r': *out += "\\r"; continue;
      case L'\n': *out += "\\n"; continue;
      default: break;
    }
    char bytes[8];
    const int n = WideCharToMultiByte(CP_UTF8, 0, p, 1, bytes, sizeof bytes, nullptr, nullptr);
    out->append(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
}

const char* TypeName(WORD type) {
  switch (type) {
    case EVENTLOG_SUCCESS: return "Success";
    case EVENTLOG_ERROR_TYPE: return "Error";
    case EVENTLOG_WARNING_TYPE: return "Warning";
    case EVENTLOG_INFORMATION_TYPE: return "Information";
    case EVENTLOG_AUDIT_SUCCESS: return "Audit Success";
    case EVENTLOG_AUDIT_FAILURE: return "Audit Failure";
    default: return nullptr;
  }
}

std::string Directory() {
  const char* configured = std::getenv("MORVALE_EVENTLOG_DIR");
  if (configured != nullptr && configured[0] != '\0') return configured;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.morvale/eventlog";
}

// Creates `directory` and its missing parents.
bool MakeDirectories(const std::string& directory) {
  for (std::size_t slash = directory.find('/', 1); ; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// Appends `line` to the log file in one write.
DWORD Append(const std::string& line) {
  const std::string directory = Directory();
  const std::string path = directory + "/Application.log";
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ENOENT && MakeDirectories(directory)) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }
  if (fd < 0) return ERROR_PATH_NOT_FOUND;
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
  return written == static_cast<ssize_t>(line.size()) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

}  // namespace

HANDLE RegisterEventSourceW(const wchar_t* serverName, const wchar_t* sourceName) {
  if (sourceName == nullptr || (serverName != nullptr && serverName[0] != L'\0')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* source = new EventSource;
  AppendEscaped(sourceName, &source->name);
  return source;
}

BOOL DeregisterEventSource(HANDLE eventLog) {
  if (eventLog == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<EventSource*>(eventLog);
  return TRUE;
}

BOOL ReportEventW(HANDLE eventLog, WORD type, WORD, DWORD eventId, void*, WORD numStrings, DWORD,
                  const wchar_t** strings, void*) {
  if (eventLog == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* typeName = TypeName(type);
  if (typeName == nullptr || (numStrings > 0 && strings == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (WORD i = 0; i < numStrings; ++i) {
    if (strings[i] == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }

  SYSTEMTIME now;
  GetSystemTime(&now);
  char head[64];
  std::snprintf(head, sizeof head, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ\t", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  std::string line = head;
  line += static_cast<EventSource*>(eventLog)->name;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", eventId);
  ((line += '\t') += typeName) += '\t';
  (line += code) += '\t';
  for (WORD i = 0; i < numStrings; ++i) {
    if (i > 0) line += '\t';
    AppendEscaped(strings[i], &line);
  }
  line += '\n';
  const DWORD error = Append(line);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
