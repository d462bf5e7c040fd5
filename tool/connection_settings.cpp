#include "tool/connection_settings.h"

#include <cstring>
#include <string>
#include <string_view>

#include "foundation/registry.h"
#include "foundation/secure_wipe.h"
#include "platform/ado/connection_string.h"
#include "platform/crt/printf.h"

namespace {

constexpr char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";
constexpr char kManagementKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Management";

// A registry value is read into 512 bytes and kept in 256.
constexpr unsigned kReadBytes = 512;
constexpr std::size_t kValueBytes = 256;
constexpr unsigned kAppDsnBytes = 1024;

// Reads `name` into `field` (kValueBytes); `deflt` when the value cannot be
// read. False, the field empty, when the value does not fit: cut, it would
// name another server, database or login, or another password.
bool ReadValue(Registry& key, const char* name, char* field, const char* deflt) {
  char read[kReadBytes] = {};
  const char* value = key.GetString(name, read, sizeof read) ? read : deflt;
  const std::size_t length = std::strlen(value);
  const bool fits = length < kValueBytes;
  if (fits) {
    std::memcpy(field, value, length + 1);
  } else {
    field[0] = '\0';
  }
  SecureWipe(read, sizeof read);
  return fits;
}

// printf into the connection string; false, the string wiped and empty, when
// the whole text does not fit: a cut string would name another database or
// password, or leave a quoted value open.
template <typename... Args>
bool Compose(RunSettings* settings, const char* format, Args... args) {
  const int written =
      crt::snprintf(settings->connectionString, RunSettings::kConnectionStringBytes - 1, format, args...);
  settings->connectionString[RunSettings::kConnectionStringBytes - 1] = '\0';
  if (written >= 0) return true;
  SecureWipe(settings->connectionString, sizeof settings->connectionString);
  return false;
}

}  // namespace

bool ReadConnectionSettings(RunSettings* settings) {
  settings->connectionString[0] = '\0';
  Registry database(kDatabaseKey, false, false);
  if (database.Open(false)) {
    char server[kValueBytes];
    char name[kValueBytes];
    bool fits = ReadValue(database, "DatabaseServerMachineName", server, "(local)");
    fits = ReadValue(database, "DatabaseName", name, "VEXMgmt") && fits;
    database.Close();

    char login[kValueBytes] = {};
    char password[kValueBytes] = {};
    Registry user(kDatabaseKey, true, false);
    if (user.Open(false)) {
      fits = ReadValue(user, "Login", login, "") && fits;
      fits = ReadValue(user, "Password", password, "") && fits;
      user.Close();
    }
    const std::string serverValue = ado::QuoteAdoValue(server);
    const std::string nameValue = ado::QuoteAdoValue(name);
    if (!fits) {
      // Nothing is built from values that were cut.
    } else if (login[0] != '\0') {
      std::string uid = ado::QuoteAdoValue(login);
      std::string pwd = ado::QuoteAdoValue(password);
      fits = Compose(settings, "Provider=SQLOLEDB;Server=%s;Database=%s;uid=%s;pwd=%s", serverValue.c_str(),
                     nameValue.c_str(), uid.c_str(), pwd.c_str());
      SecureWipe(uid.data(), uid.size());
      SecureWipe(pwd.data(), pwd.size());
    } else {
      fits = Compose(settings, "Provider=SQLOLEDB;Server=%s;Database=%s;Trusted_Connection=Yes",
                     serverValue.c_str(), nameValue.c_str());
    }
    SecureWipe(login, sizeof login);
    SecureWipe(password, sizeof password);
    return fits;
  }

  Registry management(kManagementKey, false, false);
  if (!management.Open(false)) return false;
  char dsn[kAppDsnBytes] = {};
  bool found = management.GetString("AppDSN", dsn, sizeof dsn);
  management.Close();
  if (found) found = Compose(settings, "DSN=%s", dsn);
  SecureWipe(dsn, sizeof dsn);
  return found;
}
