// Connection strings come from the registry and the command line: whatever
// they hold, parsing and translating must not crash, and a translated string
// must parse back as ODBC with the password only where PWD says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ado/connection_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text;
  text.reserve(size);
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i]);

  std::vector<ado::ConnectionAttribute> pairs;
  ado::ParseConnectionString(text, &pairs, nullptr);
  ado::ParseOdbcConnectionString(text, &pairs, nullptr);
  ado::RedactConnectionString(text);

  ado::OdbcTarget target;
  std::wstring error;
  if (ado::TranslateConnectionString(text, ado::DefaultProviderMap(), &target, &error) &&
      !target.provider.empty()) {
    // A translated string is well-formed ODBC and names no keyword twice.
    if (!ado::ParseOdbcConnectionString(target.odbc, &pairs, nullptr)) std::abort();
    for (size_t i = 0; i < pairs.size(); ++i) {
      for (size_t j = i + 1; j < pairs.size(); ++j) {
        if (pairs[i].keyword == pairs[j].keyword) std::abort();
      }
    }
  }
  return 0;
}
