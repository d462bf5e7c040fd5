#include "diagnostics/event_log_output.h"

#include <string>

#include "foundation/registry.h"
#include "platform/eventlog/eventlog.h"
#include "platform/win32/library.h"

namespace {

constexpr std::size_t kPathChars = 259;
constexpr wchar_t kSourcesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kTypesSupported = 7;

}  // namespace

EventLogOutput::~EventLogOutput() { Close(); }

bool EventLogOutput::Open(const DebugLogSettings& settings) {
  settings_ = settings;
  return RegisterEventSource();
}

bool EventLogOutput::RegisterEventSource() {
  const std::wstring& name = settings_.applicationName;
  if (!settings_.EventLogEnabled || eventSource_ != nullptr || name.empty()) {
    return eventSource_ != nullptr;
  }
  const std::wstring path = kSourcesKey + name;
  Registry key(false);
  if (path.size() <= kPathChars && key.CreateW(path.c_str())) {
    const HMODULE module = settings_.messageModuleName.empty()
                               ? nullptr
                               : GetModuleHandleW(settings_.messageModuleName.c_str());
    wchar_t file[kPathChars + 1];
    const DWORD length = GetModuleFileNameW(module, file, kPathChars + 1);
    key.SetDWORDW(L"TypesSupported", kTypesSupported);
    if (length > 0 && length <= kPathChars) key.SetStringW(L"EventMessageFile", file);
    key.Close();
  }
  eventSource_ = RegisterEventSourceW(nullptr, name.c_str());
  return eventSource_ != nullptr;
}

bool EventLogOutput::ReportEvent(const LogLine& line) {
  if (eventSource_ == nullptr) return false;
  WORD type;
  DWORD code;
  switch (line.level) {
    case 0:
    case 1: type = EVENTLOG_ERROR_TYPE; code = 0xEFFF2710; break;
    case 2: type = EVENTLOG_WARNING_TYPE; code = 0xAFFF4E20; break;
    case 3: type = EVENTLOG_INFORMATION_TYPE; code = 0x6FFF7530; break;
    case 5: type = EVENTLOG_INFORMATION_TYPE; code = 0x6FFFC350; break;
    default: return true;
  }
  if (line.eventCode != 0) code = line.eventCode;
  const wchar_t* strings[] = {line.text};
  return ReportEventW(eventSource_, type, 0, code, nullptr, 1, 0, strings, nullptr) != FALSE;
}

bool EventLogOutput::Close() {
  if (eventSource_ == nullptr) return true;
  const bool done = DeregisterEventSource(eventSource_) != FALSE;
  eventSource_ = nullptr;
  return done;
}
