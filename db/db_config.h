// DbConfig: the process-wide description of the configuration database
// (SQL Server or DB2, server and database names, TCP port, DB2 schema
// owner, mirror partner, SQL login), read once from the registry at the
// first use, with the provider connection string and the short description
// built from it.
//
// Registry (HKEY_LOCAL_MACHINE unless a caller of setConfigValues asks for
// HKEY_CURRENT_USER), key "Software\Quillon\Quorrel Dazadevari Server\Database":
//   DBMS                       "SQLServer" or "DB2" (DatabaseKind), exact
//                              case; any other text is DatabaseKind::Unknown
//                              and leaves both strings as they were
//   DatabaseServerMachineName  server name        (default "localhost")
//   DatabaseName               database name      (default "VEXMgmt")
//   DB2Schema                  DB2 schema owner   (default "RERIDARI")
//   Port                       DWORD TCP port, 0 = none
//   FailoverServerMachineName  mirror partner     (default none)
// Texts are read into 200-character buffers (longer values are cut). The
// SQL login comes enciphered from HKEY_CURRENT_USER
// "Software\Quillon\Quorrel Dazadevari Server\Database\Auth", REG_BINARY
// values "Login" and "Password" (foundation/reg_encryption.h).
//
// Connection strings, each cut to 199 characters:
//   SQL Server  Provider=SQLOLEDB.1;Server=<server>[,<port>];Database=<db>;
//               Network=dbmssocn;uid=<login>;pwd=<password>
//               or, without a login, ...;Network=dbmssocn;Trusted_Connection=Yes
//               then ";Failover Partner=<partner>" when a native-client
//               provider ("SQLNCLI", "SQLNCLI10") is installed and the
//               partner is set and differs from the server (ignoring case)
//   DB2         Provider=IBMDADB2;DSN=<db>;[uid=<login>;pwd=<password>;]
// A login or password that holds ';', a quote, '=' or a blank is written
// quoted ("..." with '"' doubled: ado::QuoteAdoValue), so that it reaches
// the server intact and cannot be read as further keywords. A login and
// password that the connection string cannot hold whole are refused when the
// settings are read (logged at level 2, login and password left empty). The
// short description is
// "<server>;<db>;<DBMS text>".
//
// Thread safety: Instance() constructs the object once, safely from any
// thread. setConfigValues, setConfigOverrides and LogFailoverState run under
// the object's lock; the getters read without it, as the values do not
// change after construction.
#pragma once

#include "db/database_kind.h"
#include "diagnostics/log.h"
#include "foundation/critical_section.h"
#include "foundation/zev_string.h"

class DbConfig {
 public:
  // Characters of a recorded principal or partner name.
  static constexpr int kRecordedNameChars = 254;

  // The process-wide instance, constructed (reading the registry) by the
  // first call and destroyed at process exit.
  static DbConfig* Instance();

  // The defaults, then setConfigValues with the Database key path and false.
  // Instance() is how the system gets one; tests build their own.
  DbConfig();
  DbConfig(const DbConfig&) = delete;
  DbConfig& operator=(const DbConfig&) = delete;
  virtual ~DbConfig();

  // Reads the values of `keyPath` (HKEY_CURRENT_USER when currentUser, else
  // HKEY_LOCAL_MACHINE) and the enciphered login, then rebuilds the strings.
  // Values that cannot be read keep what they were; failures are logged.
  void setConfigValues(const wchar_t* keyPath, bool currentUser);
  // Builds the connection string and the short description (see above).
  void setConfigOverrides();

  DatabaseKind GetKind() const { return dbmsKind_; }
  bool IsSQLServer() const { return dbmsKind_ == DatabaseKind::SqlServer; }
  bool IsDB2() const { return dbmsKind_ == DatabaseKind::DB2; }
  zev::ZEVString GetDB2Schema() const { return db2Schema_; }
  bool IsSQLServerExtendedReport() const { return IsSQLServer() && extendedReport_; }
  zev::ZEVString GetConnectionString() const { return connectionString_; }
  zev::ZEVString GetShortDescription() const { return shortDescription_; }

  // Told the principal and partner names the database reports: the first
  // pair of two non-empty names is recorded; when a later pair is the
  // recorded one exchanged, `log` (when given) receives "Database Failover
  // happened" at level 3 and the exchanged pair is recorded. Any other call
  // changes nothing.
  void LogFailoverState(const wchar_t* principal, const wchar_t* partner, ReportLogCallback log);
  const wchar_t* GetRecordedPrincipal() const { return recordedPrincipal_; }
  const wchar_t* GetRecordedPartner() const { return recordedPartner_; }

 private:
  // Reads the enciphered "Login" and "Password" of the Auth key.
  void readEncodedLogin();

  zev::ZEVString registryPath_;
  zev::ZEVString connectionString_;
  zev::ZEVString shortDescription_;
  zev::ZEVString dbmsName_;
  zev::ZEVString databaseName_;
  zev::ZEVString serverName_;
  zev::ZEVString login_;
  zev::ZEVString password_;
  zev::ZEVString db2Schema_;
  zev::ZEVString failoverServer_;
  int port_ = 0;
  DatabaseKind dbmsKind_ = DatabaseKind::SqlServer;
  bool extendedReport_ = false;
  wchar_t recordedPrincipal_[kRecordedNameChars + 1] = {};
  wchar_t recordedPartner_[kRecordedNameChars + 1] = {};
  CriticalSection lock_;
};
