// Connection strings come from the registry and the command line: whatever
// they hold, reading and editing their keywords must stay inside the text,
// and every edit must name what it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "db/tsql.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text;
  text.reserve(size);
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i]);

  tsql::ConnectionStringMap map;
  tsql::ParseConnectionString(map, tsql::ToLower1252(text));
  std::wstring server, partner, database;
  int serverPort = 0, partnerPort = 0;
  tsql::GetServerAndFailoverPartner(text, &server, &serverPort, &partner, &partnerPort);
  tsql::GetServerAndDatabase(text, &database, &server, &serverPort);

  // Each edit of a non-empty text names what it was given, by replacing a
  // value or by appending the keyword.
  if (!text.empty()) {
    if (tsql::SetServerName(text, L"fz,1", 0, nullptr).find(L"=fz,1") == std::wstring::npos ||
        tsql::SetFailoverServerName(text, L"fz", 2, nullptr).find(L"=fz,2") == std::wstring::npos ||
        tsql::SetMasterDbName(text, nullptr).find(L"=master") == std::wstring::npos) {
      std::abort();
    }
  }

  std::wstring swapped = text;
  tsql::SwapToFailoverPartner(&swapped, nullptr);
  return 0;
}
