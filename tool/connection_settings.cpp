#include "tool/connection_settings.h"

#include <cstring>
#include <string>
#include <string_view>

#include "foundation/registry.h"
#include "foundation/secure_wipe.h"
#include "platform/crt/printf.h"

namespace {

constexpr char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";
constexpr char kManagementKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Management";

// A registry value is read into 512 bytes and kept in 256.
constexpr unsigned kReadBytes = 512;
constexpr std::size_t kValueBytes = 256;
constexpr unsigned kAppDsnBytes = 1024;

// Reads `name` into `field` (kValueBytes), cut to fit; `deflt` when the value
// cannot be read.
void ReadValue(Registry& key, const char* name, char* field, const char* deflt) {
  char read[kReadBytes] = {};
  const char* value = key.GetString(name, read, sizeof read) ? read : deflt;
  std::strncpy(field, value, kValueBytes - 1);
  field[kValueBytes - 1] = '\0';
  SecureWipe(read, sizeof read);
}

// A login or password as it may stand after "uid=" or "pwd=": quoted with
// '"' (and '"' doubled) when it holds a character that the connection
// string would read as structure or drop, as the pool's own settings write
// it. The copy is reserved in full, so no partial copy of it is left behind.
std::string CredentialValue(const char* value) {
  const std::string_view text = value;
  if (text.find_first_of(";\"' \t") == std::string_view::npos) return std::string(text);
  std::string quoted;
  quoted.reserve(2 * text.size() + 2);
  quoted += '"';
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += c;
  }
  quoted += '"';
  return quoted;
}

// printf into the connection string, cut to its buffer and terminated.
template <typename... Args>
void Compose(RunSettings* settings, const char* format, Args... args) {
  crt::snprintf(settings->connectionString, RunSettings::kConnectionStringBytes - 1, format, args...);
  settings->connectionString[RunSettings::kConnectionStringBytes - 1] = '\0';
}

}  // namespace

bool ReadConnectionSettings(RunSettings* settings) {
  settings->connectionString[0] = '\0';
  Registry database(kDatabaseKey, false, false);
  if (database.Open(false)) {
    char server[kValueBytes];
    char name[kValueBytes];
    ReadValue(database, "DatabaseServerMachineName", server, "(local)");
    ReadValue(database, "DatabaseName", name, "VEXMgmt");
    database.Close();

    char login[kValueBytes] = {};
    char password[kValueBytes] = {};
    Registry user(kDatabaseKey, true, false);
    if (user.Open(false)) {
      ReadValue(user, "Login", login, "");
      ReadValue(user, "Password", password, "");
      user.Close();
    }
    if (login[0] != '\0') {
      std::string uid = CredentialValue(login);
      std::string pwd = CredentialValue(password);
      Compose(settings, "Provider=SQLOLEDB;Server=%s;Database=%s;uid=%s;pwd=%s", server, name, uid.c_str(),
              pwd.c_str());
      SecureWipe(uid.data(), uid.size());
      SecureWipe(pwd.data(), pwd.size());
    } else {
      Compose(settings, "Provider=SQLOLEDB;Server=%s;Database=%s;Trusted_Connection=Yes", server, name);
    }
    SecureWipe(login, sizeof login);
    SecureWipe(password, sizeof password);
    return true;
  }

  Registry management(kManagementKey, false, false);
  if (!management.Open(false)) return false;
  char dsn[kAppDsnBytes] = {};
  const bool found = management.GetString("AppDSN", dsn, sizeof dsn);
  management.Close();
  if (found) Compose(settings, "DSN=%s", dsn);
  SecureWipe(dsn, sizeof dsn);
  return found;
}
