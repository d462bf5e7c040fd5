#include "db/provider_list.h"

#include "platform/ado/providers.h"
#include "platform/com/apartment.h"
#include "platform/com/hresult.h"
#include "platform/crt/printf.h"

namespace {

constexpr int kMessageChars = 2048;

void Report(DBLogSink sink, int line, const wchar_t* fmt, HRESULT hr) {
  if (sink == nullptr) return;
  wchar_t text[kMessageChars] = {};
  crt::snwprintf(text, kMessageChars - 1, fmt, static_cast<int>(hr));
  sink(4, 0, 0, 0, text, "provider_list", line);
}

}  // namespace

std::vector<std::wstring> provider_list(DBLogSink sink) {
  // Whether COM can be initialised here: the enumeration relies on the
  // caller's own initialisation, which this probe leaves as it found it.
  const HRESULT probe = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(probe)) {
    CoUninitialize();
  } else {
    Report(sink, __LINE__,
           L"An error occurred during enumerating OLE DB providers - failure during COM "
           L"initialization. [%d]",
           0);
  }
  // S_OK: the thread was in no apartment before the probe, and is in none
  // again after it.
  if (probe == S_OK) {
    Report(sink, __LINE__, L"CoInitialize has not been called. [%d]", CO_E_NOTINITIALIZED);
    return {};
  }
  std::vector<std::wstring> names;
  try {
    names = ado::InstalledProviders();
  } catch (...) {
    Report(sink, __LINE__, L"Cannot get list of OLE DB providers [%d]", S_OK);
  }
  return names;
}
