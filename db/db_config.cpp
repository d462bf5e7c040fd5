#include "db/db_config.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <string>
#include <string_view>

#include "db/provider_list.h"
#include "db/tsql.h"
#include "foundation/reg_encryption.h"
#include "foundation/registry.h"
#include "foundation/secure_wipe.h"
#include "platform/ado/connection_string.h"
#include "platform/crt/printf.h"
#include "platform/win32/types.h"

namespace {

constexpr const wchar_t* kDatabaseKey = L"Software\\Quillon\\Quorrel Dazadevari Server\\Database";
constexpr const char* kAuthKey = "Software\\Quillon\\Quorrel Dazadevari Server\\Database\\Auth";
constexpr const char* kSetConfigValues = "DbConfig::setConfigValues";
// Characters of a registry text read, terminator included.
constexpr unsigned kValueChars = 200;
// Characters of a built string, terminator included.
constexpr int kStringChars = 200;
constexpr const wchar_t* kFailoverSuffix = L";Failover Partner=";

// The formatted text cut to kStringChars - 1 characters; the cut text is
// terminated (the run-time's formatter leaves a full buffer unterminated).
// The result has room for kStringChars - 1 characters, so that appending up
// to that limit leaves no copy of a password behind.
std::wstring Format(const wchar_t* fmt, ...) {
  wchar_t buffer[kStringChars] = {};
  va_list args;
  va_start(args, fmt);
  crt::vsnwprintf(buffer, kStringChars - 1, fmt, args);
  va_end(args);
  buffer[kStringChars - 1] = L'\0';
  std::wstring text;
  text.reserve(kStringChars);
  text = buffer;
  SecureWipe(buffer, sizeof buffer);
  return text;
}

const wchar_t* Text(const zev::ZEVString& s) {
  return s.GetWide() != nullptr ? s.GetWide() : L"";
}

bool EqualsIgnoringCase(const wchar_t* a, const wchar_t* b) {
  return tsql::ToLower1252(a) == tsql::ToLower1252(b);
}

bool NativeClientInstalled() {
  for (const std::wstring& name : provider_list(nullptr)) {
    if (EqualsIgnoringCase(name.c_str(), L"SQLNCLI") ||
        EqualsIgnoringCase(name.c_str(), L"SQLNCLI10")) {
      return true;
    }
  }
  return false;
}

// Reads a text value into `member`, its current value the default.
void ReadString(Registry& key, const wchar_t* name, zev::ZEVString* member) {
  wchar_t buffer[kValueChars] = {};
  key.GetStringDefaultW(name, buffer, kValueChars, member->GetWide());
  *member = buffer;
}

// An enciphered value of the Auth key with the lines logged about it.
struct EncodedValue {
  const char* name;
  const char* notFound;
  const char* noBytes;
  const char* unexpected;
};
constexpr EncodedValue kLoginValue = {"Login", "{%s} SQL Auth Login not found",
                                      "{%s} SQL Auth Login no bytes read",
                                      "{%s} Unexpected %d when decoding login"};
constexpr EncodedValue kPasswordValue = {"Password", "{%s} SQL Auth Password not found",
                                         "{%s} SQL Auth Password no bytes read",
                                         "{%s} Unexpected %d when decoding password"};

// Reads and deciphers one value into `member`, which keeps its value when
// that fails. The clear bytes are narrow text of the process's code page.
void ReadEncoded(Registry& auth, CDBRegEncryption& decoder, const EncodedValue& value,
                 zev::ZEVString* member) {
  char buffer[256] = {};
  int length = 0;
  if (!auth.GetBinary(value.name, buffer, sizeof buffer, &length)) {
    LogMessage(2, value.notFound, kSetConfigValues);
  } else if (length == 0) {
    LogMessage(2, value.noBytes, kSetConfigValues);
  } else {
    std::wstring decoded;
    const int result = decoder.Decode(buffer, length, &decoded);
    if (result != 0) {
      LogMessage(2, value.unexpected, kSetConfigValues, result);
    } else {
      // One character per byte: narrowed byte for byte.
      std::string narrow(decoded.begin(), decoded.end());
      *member = narrow.c_str();
      SecureWipe(narrow.data(), narrow.size());
    }
    SecureWipe(decoded.data(), decoded.size() * sizeof(wchar_t));
  }
  SecureWipe(buffer, sizeof buffer);
}

// The connection string of `kind` for the server, port (0: none), database
// and login (empty: the SQL Server form trusts the Windows login, the DB2
// form names none), before any failover partner, whole however long. Made
// in one buffer with room for at least kStringChars characters, so that no
// copy of the password is left behind by its growing or by a partner
// appended up to that limit; the caller wipes it.
std::wstring ComposeConnectionString(DatabaseKind kind, const wchar_t* server, int port, const wchar_t* database,
                                     const wchar_t* login, const wchar_t* password) {
  std::wstring quotedLogin;
  std::wstring quotedPassword;
  if (*login != L'\0') {
    quotedLogin = ado::QuoteAdoValue(login);
    quotedPassword = ado::QuoteAdoValue(password);
  }
  const std::wstring portText = port != 0 ? L"," + std::to_wstring(port) : std::wstring();
  std::wstring text;
  text.reserve(std::max<size_t>(kStringChars, 128 + std::wcslen(server) + std::wcslen(database) +
                                                  quotedLogin.size() + quotedPassword.size()));
  if (kind == DatabaseKind::SqlServer) {
    text.append(L"Provider=SQLOLEDB.1;Server=").append(server).append(portText);
    text.append(L";Database=").append(database).append(L";Network=dbmssocn;");
  } else {
    text.append(L"Provider=IBMDADB2;DSN=").append(database).append(L";");
  }
  if (*login != L'\0') {
    text.append(L"uid=").append(quotedLogin).append(L";pwd=").append(quotedPassword);
    if (kind != DatabaseKind::SqlServer) text.append(L";");
  } else if (kind == DatabaseKind::SqlServer) {
    text.append(L"Trusted_Connection=Yes");
  }
  SecureWipe(quotedPassword.data(), quotedPassword.size() * sizeof(wchar_t));
  return text;
}

// The characters a connection string of `kind` needs to hold "uid=<login>;
// pwd=<password>" whole, the text before it included.
size_t CredentialsEnd(DatabaseKind kind, const wchar_t* server, int port, const wchar_t* database,
                      const wchar_t* login, const wchar_t* password) {
  std::wstring text = ComposeConnectionString(kind, server, port, database, login, password);
  const size_t end = text.size();
  SecureWipe(text.data(), text.size() * sizeof(wchar_t));
  return end;
}

void CopyName(wchar_t (&to)[DbConfig::kRecordedNameChars + 1], const wchar_t* from) {
  std::wcsncpy(to, from, DbConfig::kRecordedNameChars);
  to[DbConfig::kRecordedNameChars] = L'\0';
}

}  // namespace

DbConfig* DbConfig::Instance() {
  static DbConfig instance;
  return &instance;
}

DbConfig::DbConfig()
    : registryPath_(kDatabaseKey),
      connectionString_(L"Provider=SQLOLEDB;Server=(local);Database=VEXMgmt;Trusted_Connection=Yes"),
      shortDescription_(L"localhost;VEXMgmt;SQLServer"),
      dbmsName_(L"SQLServer"),
      databaseName_(L"VEXMgmt"),
      serverName_(L"localhost"),
      login_(L""),
      password_(L""),
      db2Schema_(L"RERIDARI"),
      failoverServer_(L"") {
  setConfigValues(registryPath_.GetWide(), false);
}

DbConfig::~DbConfig() = default;

void DbConfig::setConfigValues(const wchar_t* keyPath, bool currentUser) {
  {
    ScopedLock hold(&lock_);
    Registry key(keyPath, currentUser, false);
    if (key.Open(false)) {
      ReadString(key, L"DBMS", &dbmsName_);
      if (dbmsName_.Compare(zev::ZEVString(L"SQLServer")) == 0) {
        dbmsKind_ = DatabaseKind::SqlServer;
      } else if (dbmsName_.Compare(zev::ZEVString(L"DB2")) == 0) {
        dbmsKind_ = DatabaseKind::DB2;
      } else {
        dbmsKind_ = DatabaseKind::Unknown;
      }
      ReadString(key, L"DatabaseServerMachineName", &serverName_);
      ReadString(key, L"DatabaseName", &databaseName_);
      ReadString(key, L"DB2Schema", &db2Schema_);
      DWORD port = 0;
      key.GetDWORDDefaultW(L"Port", &port, 0);
      port_ = static_cast<int>(port);
      ReadString(key, L"FailoverServerMachineName", &failoverServer_);
      key.Close();
    }
    readEncodedLogin();
  }
  setConfigOverrides();
}

void DbConfig::readEncodedLogin() {
  Registry auth(kAuthKey, true, false);
  if (!auth.Open(false)) {
    LogMessage(4, "{%s} No Encoded SQL Auth keys found", kSetConfigValues);
    LogMessage(4, "{%s} No SQL Auth keys found", kSetConfigValues);
    return;
  }
  CDBRegEncryption decoder;
  ReadEncoded(auth, decoder, kLoginValue, &login_);
  ReadEncoded(auth, decoder, kPasswordValue, &password_);
  auth.Close();
  // A login or password cut off by the connection string's limit would only
  // fail later, at the server, with a misleading error: refuse it here.
  if (login_.GetLength() > 0 && (dbmsKind_ == DatabaseKind::SqlServer || dbmsKind_ == DatabaseKind::DB2)) {
    const size_t end = CredentialsEnd(dbmsKind_, Text(serverName_), port_, Text(databaseName_),
                                      Text(login_), Text(password_));
    if (end > kStringChars - 1) {
      LogMessage(2,
                 "{%s} SQL Auth Login and Password not used: the connection string needs %d "
                 "characters to hold them, more than its %d",
                 kSetConfigValues, static_cast<int>(end), kStringChars - 1);
      login_ = L"";
      password_ = L"";
    }
  }
}

void DbConfig::setConfigOverrides() {
  ScopedLock hold(&lock_);
  if (dbmsKind_ != DatabaseKind::SqlServer && dbmsKind_ != DatabaseKind::DB2) return;
  std::wstring text = ComposeConnectionString(dbmsKind_, Text(serverName_), port_, Text(databaseName_),
                                              Text(login_), Text(password_));
  if (text.size() > kStringChars - 1) {
    // Cut to the limit; the cut-off characters are wiped.
    SecureWipe(text.data() + (kStringChars - 1), (text.size() - (kStringChars - 1)) * sizeof(wchar_t));
    text.resize(kStringChars - 1);
  }
  if (dbmsKind_ == DatabaseKind::SqlServer && failoverServer_.GetLength() > 0 &&
      !EqualsIgnoringCase(Text(failoverServer_), Text(serverName_)) && NativeClientInstalled()) {
    // The keyword whole or not at all; the name then as far as it fits.
    const std::wstring suffix = kFailoverSuffix;
    if (text.size() + suffix.size() <= kStringChars - 1) {
      text += suffix;
      text.append(Text(failoverServer_), 0, kStringChars - 1 - text.size());
    }
  }
  connectionString_ = text.c_str();
  SecureWipe(text.data(), text.size() * sizeof(wchar_t));
  shortDescription_ = Format(L"%s;%s;%s", Text(serverName_), Text(databaseName_),
                             Text(dbmsName_)).c_str();
}

void DbConfig::LogFailoverState(const wchar_t* principal, const wchar_t* partner,
                                ReportLogCallback log) {
  ScopedLock hold(&lock_);
  const bool bothGiven =
      principal != nullptr && *principal != L'\0' && partner != nullptr && *partner != L'\0';
  const bool nothingRecorded = recordedPrincipal_[0] == L'\0' && recordedPartner_[0] == L'\0';
  const bool recorded = recordedPrincipal_[0] != L'\0' && recordedPartner_[0] != L'\0';
  const bool swapped = bothGiven && EqualsIgnoringCase(principal, recordedPartner_) &&
                       EqualsIgnoringCase(partner, recordedPrincipal_);
  if (recorded && swapped && log != nullptr) {
    log(3, L"Database Failover happened", "DbConfig::LogFailoverState", __LINE__);
  }
  if ((nothingRecorded && bothGiven) || (recorded && swapped)) {
    CopyName(recordedPrincipal_, principal);
    CopyName(recordedPartner_, partner);
  }
}
