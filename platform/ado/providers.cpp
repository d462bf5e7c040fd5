#include "platform/ado/providers.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>

#include "platform/ado/ascii_text.h"
#include "platform/ado/connection_string.h"

namespace ado {
namespace {

using text::EqualsIgnoreCase;
using text::FromUtf8;
using text::Trim;

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> pieces;
  for (;;) {
    const size_t at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::wstring_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

void SetError(std::wstring* error, std::wstring message) {
  if (error) *error = L"MORVALE_ADO_PROVIDERS: " + std::move(message);
}

}  // namespace

ProviderMap DefaultProviderMap() {
  const std::wstring sqlServerAttributes = L"ClientCharset=UTF-8";
  return {
      {L"SQLOLEDB", ProviderForm::SqlServer, L"FreeTDS", sqlServerAttributes, L""},
      {L"SQLNCLI", ProviderForm::SqlServer, L"FreeTDS", sqlServerAttributes, L""},
      {L"SQLNCLI10", ProviderForm::SqlServer, L"FreeTDS", sqlServerAttributes, L""},
      {L"IBMDADB2", ProviderForm::Dsn, L"IBM DB2 ODBC DRIVER", L"", L""},
  };
}

bool ApplyProviderOverride(std::string_view spec, ProviderMap* map, std::wstring* error) {
  ProviderMap result = *map;
  const std::wstring wide = FromUtf8(spec);
  for (std::wstring_view entry : Split(wide, L'|')) {
    if (Trim(entry).empty()) continue;
    const std::vector<std::wstring_view> fields = Split(entry, L':');
    if (fields.size() < 2 || fields.size() > 4) {
      SetError(error, L"an entry is not NAMES:DRIVER[:ATTRIBUTES[:FAILOVER]]: '" +
                          std::wstring(Trim(entry)) + L"'");
      return false;
    }
    const std::wstring driver(Trim(fields[1]));
    const std::wstring attributes(fields.size() > 2 ? Trim(fields[2]) : L"");
    const std::wstring failover(fields.size() > 3 ? Trim(fields[3]) : L"");
    if (driver.empty()) {
      SetError(error, L"an entry names no driver: '" + std::wstring(Trim(entry)) + L"'");
      return false;
    }
    std::vector<ConnectionAttribute> pairs;
    std::wstring attributeError;
    if (!ParseOdbcConnectionString(attributes, &pairs, &attributeError)) {
      SetError(error, L"the attributes of driver '" + driver + L"' do not parse (" +
                          attributeError + L")");
      return false;
    }
    if (failover.find_first_of(L";={}") != std::wstring::npos) {
      SetError(error, L"the failover keyword of driver '" + driver + L"' is not a keyword");
      return false;
    }
    for (std::wstring_view rawName : Split(fields[0], L',')) {
      const std::wstring name(Trim(rawName));
      if (name.empty()) {
        SetError(error, L"an entry has an empty provider name: '" + std::wstring(Trim(entry)) +
                            L"'");
        return false;
      }
      ProviderMapping* existing = nullptr;
      for (ProviderMapping& mapping : result) {
        if (EqualsIgnoreCase(mapping.provider, name)) existing = &mapping;
      }
      if (!existing) {
        result.push_back(ProviderMapping{name, ProviderForm::SqlServer, L"", L"", L""});
        existing = &result.back();
      }
      existing->driver = driver;
      existing->attributes = attributes;
      existing->failoverKeyword = failover;
    }
  }
  *map = std::move(result);
  return true;
}

bool ProviderMapInEffect(ProviderMap* map, std::wstring* error) {
  ProviderMap result = DefaultProviderMap();
  if (const char* spec = std::getenv(kProviderOverrideVariable)) {
    if (!ApplyProviderOverride(spec, &result, error)) return false;
  }
  *map = std::move(result);
  return true;
}

const ProviderMapping* FindProvider(const ProviderMap& map, std::wstring_view provider) {
  provider = Trim(provider);
  // "SQLOLEDB.1": a version suffix names the same provider.
  const size_t dot = provider.find(L'.');
  if (dot != std::wstring_view::npos) {
    std::wstring_view version = provider.substr(dot + 1);
    const bool digits = !version.empty() && version.find_first_not_of(L"0123456789") ==
                                                std::wstring_view::npos;
    if (digits) provider = provider.substr(0, dot);
  }
  for (const ProviderMapping& mapping : map) {
    if (EqualsIgnoreCase(mapping.provider, provider)) return &mapping;
  }
  return nullptr;
}

std::vector<std::wstring> InstalledOdbcDrivers() {
  std::vector<std::wstring> drivers;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return drivers;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[512];
  SQLCHAR attributes[1024];
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes,
                                  sizeof attributes, &attributesLength))) {
    drivers.push_back(FromUtf8(reinterpret_cast<const char*>(name)));
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return drivers;
}

std::vector<std::wstring> ProvidersServedBy(const ProviderMap& map,
                                            const std::vector<std::wstring>& drivers) {
  std::vector<std::wstring> providers;
  for (const ProviderMapping& mapping : map) {
    for (const std::wstring& driver : drivers) {
      if (EqualsIgnoreCase(mapping.driver, driver)) {
        providers.push_back(mapping.provider);
        break;
      }
    }
  }
  return providers;
}

std::vector<std::wstring> InstalledProviders() {
  ProviderMap map;
  if (!ProviderMapInEffect(&map, nullptr)) return {};
  return ProvidersServedBy(map, InstalledOdbcDrivers());
}

}  // namespace ado
