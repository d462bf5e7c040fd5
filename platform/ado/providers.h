// The provider map: which ODBC driver serves each OLE DB provider name the
// system uses, and the provider list built from the installed ODBC drivers.
//
// Built in:
//
//   provider   form       driver                 fixed attributes     failover keyword
//   SQLOLEDB   SqlServer  FreeTDS                ClientCharset=UTF-8  (none: dropped)
//   SQLNCLI    SqlServer  FreeTDS                ClientCharset=UTF-8  (none)
//   SQLNCLI10  SqlServer  FreeTDS                ClientCharset=UTF-8  (none)
//   IBMDADB2   Dsn        IBM DB2 ODBC DRIVER    (none)               (none)
//
// MORVALE_ADO_PROVIDERS overrides entries, so that tests and the demo can send
// the system's SQL Server strings to PostgreSQL. It holds entries separated by
// '|'; each entry is
//
//   NAMES:DRIVER[:ATTRIBUTES[:FAILOVER]]
//
// NAMES a ','-separated list of provider names (a name that is not built in
// is added with the SqlServer form), DRIVER the ODBC driver name as
// odbcinst.ini lists it, ATTRIBUTES fixed ODBC pairs appended to every
// translated string ("CommLog=0"), FAILOVER the driver's keyword for a mirror
// partner. Blanks around the fields are dropped. For example
//
//   MORVALE_ADO_PROVIDERS='SQLOLEDB,SQLNCLI:PostgreSQL Unicode:CommLog=0'
//
// The variable is read at every call, so a test may set it; a malformed value
// fails the call that reads it (with a message naming the variable) rather
// than being ignored.
//
// A provider name matches an entry case-insensitively, also with a version
// suffix (".1"): "SQLOLEDB.1" is served by the "SQLOLEDB" entry.
//
// Safe to call from any thread; ProviderMapInEffect and InstalledProviders
// read the process environment, which tests must not change while another
// thread translates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ado {

// How a provider's connection string is translated (connection_string.h).
enum class ProviderForm {
  SqlServer,  // Server/Database/login keywords, to Driver={...}
  Dsn,        // DSN and login, to DSN=...
};

struct ProviderMapping {
  std::wstring provider;        // OLE DB provider name, "SQLOLEDB"
  ProviderForm form = ProviderForm::SqlServer;
  std::wstring driver;          // ODBC driver name, "FreeTDS"
  std::wstring attributes;      // fixed ODBC pairs appended, may be empty
  std::wstring failoverKeyword; // ODBC keyword for the mirror partner; empty: dropped
};

using ProviderMap = std::vector<ProviderMapping>;

// The built-in map (the table above), in that order.
ProviderMap DefaultProviderMap();

// Applies an override in the MORVALE_ADO_PROVIDERS syntax to *map: listed
// names replace their entries (keeping their form) or are appended. False
// with the reason in *error on a malformed value; *map is then unchanged.
bool ApplyProviderOverride(std::string_view spec, ProviderMap* map, std::wstring* error);

// The environment variable holding the override.
inline constexpr char kProviderOverrideVariable[] = "MORVALE_ADO_PROVIDERS";

// The built-in map with MORVALE_ADO_PROVIDERS applied when it is set. False
// with the reason in *error when the variable is malformed.
bool ProviderMapInEffect(ProviderMap* map, std::wstring* error);

// The entry serving a provider name (case-insensitive, version suffix
// allowed), or null.
const ProviderMapping* FindProvider(const ProviderMap& map, std::wstring_view provider);

// The names of the ODBC drivers installed with unixODBC (SQLDrivers), in its
// order; empty when the driver manager cannot be asked.
std::vector<std::wstring> InstalledOdbcDrivers();

// The provider names of `map`, in map order, whose driver is among
// `drivers` (case-insensitive).
std::vector<std::wstring> ProvidersServedBy(const ProviderMap& map,
                                            const std::vector<std::wstring>& drivers);

// The OLE DB provider names this layer can serve on this machine: the
// provider map in effect filtered by the installed ODBC drivers. Empty when
// the map in effect is malformed.
std::vector<std::wstring> InstalledProviders();

}  // namespace ado
