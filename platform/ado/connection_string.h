// Connection strings: the ADO form the system keeps everywhere, and its
// translation into the ODBC form that unixODBC's SQLDriverConnectW takes.
//
// The system builds and edits its connection strings in the OLE DB form
// ("Provider=SQLOLEDB.1;Server=db,1433;Database=VEXMgmt;uid=sa;pwd=..."), and
// only Connection::Open turns one into an ODBC string, once, through
// TranslateConnectionString:
//
//   Provider=SQLOLEDB / SQLOLEDB.1 / SQLNCLI / SQLNCLI10 (the SQL Server form)
//       -> Driver={<the provider map's driver>};Server=host;Port=n;
//          Database=db;UID=..;PWD=..[;<the map's fixed attributes>]
//       "Server"/"Data Source"/"Address"/"Addr"/"Network Address" give the
//       host and an optional ",port"; "(local)" and "." are 127.0.0.1;
//       "Database"/"Initial Catalog" the database; "uid"/"User ID" and
//       "pwd"/"Password" the login; "Trusted_Connection=Yes" or
//       "Integrated Security=SSPI" ask for Trusted_Connection=Yes and drop
//       the login; "Network"/"Network Library" are dropped (TCP only);
//       "Failover Partner" goes to the map's failover keyword, or is dropped
//       when the driver has none. A few keywords without meaning here
//       (Persist Security Info, Auto Translate, Packet Size, Workstation ID,
//       Application Name, Connect Timeout, ...) are dropped; any other
//       keyword fails the translation.
//   Provider=IBMDADB2;DSN=name[;uid=..;pwd=..]  (the DSN form)
//       -> DSN=name[;UID=..;PWD=..]
//   no Provider, with Driver= or DSN=  -> passed through unchanged.
//
// Syntax of the ADO form: pairs "keyword=value" separated by ';'. Blanks
// around keywords and values are dropped; keywords ignore case; a value may
// be quoted with '"' or '\'' (the quote doubled inside stands for itself), so
// it may hold ';'; "==" in a keyword stands for '='. A keyword given again,
// also under another of its names, must repeat its value, else the
// translation fails: unquoted, a value holding ';' reads as further pairs and
// must not override what the string said before. Every value written into the ODBC string
// is braced ("{...}", '}' doubled) when it holds a character that the ODBC
// syntax would read as structure, so that no value, a hostile password among
// them, can end its pair and add a keyword.
//
// No password ever reaches a log line or an error text: errors name keywords
// and positions, never values, and OdbcTarget::redacted is the form to log.
//
// Pure functions over their arguments, apart from reading the provider map
// (see providers.h) from the environment; safe to call from any thread.
// TranslateConnectionString without a map remembers its recent successful
// results (passwords included, as the idle cache's keys hold them) keyed by
// the string and the MORVALE_ADO_PROVIDERS value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/providers.h"

namespace ado {

// One "keyword=value" pair of a parsed connection string, unquoted.
struct ConnectionAttribute {
  std::wstring keyword;
  std::wstring value;
};

// The result of a translation.
struct OdbcTarget {
  std::wstring odbc;      // for SQLDriverConnectW
  std::wstring redacted;  // `odbc` with every password value masked: for logs and errors
  std::wstring provider;  // the provider as named ("SQLOLEDB.1"); empty when passed through
};

// Parses an ADO (OLE DB) connection string into its pairs in order,
// duplicates kept (the translator refuses conflicting ones). False with a
// description in *error (when given) on an unterminated quote, text after a
// closing quote, or a pair without '=' or with an empty keyword; empty
// pieces (";;", a trailing ';') are skipped.
bool ParseConnectionString(std::wstring_view text, std::vector<ConnectionAttribute>* out,
                           std::wstring* error);

// Parses an ODBC connection string ("{...}" values, "}}" inside braces).
// Same contract as ParseConnectionString.
bool ParseOdbcConnectionString(std::wstring_view text, std::vector<ConnectionAttribute>* out,
                               std::wstring* error);

// The value as it may stand after "KEYWORD=" in an ODBC string: unchanged
// when it is plain, else braced with every '}' doubled.
std::wstring QuoteOdbcValue(std::wstring_view value);

// Translates an ADO connection string with the provider map in effect
// (ProviderMapInEffect). False with the reason in *error (when given) for an
// unknown provider, an unknown keyword, a syntax error, a missing server or
// DSN, or a bad MORVALE_ADO_PROVIDERS; *out is then left unchanged.
bool TranslateConnectionString(std::wstring_view adoString, OdbcTarget* out, std::wstring* error);

// The same with an explicit provider map.
bool TranslateConnectionString(std::wstring_view adoString, const ProviderMap& map,
                               OdbcTarget* out, std::wstring* error);

// A copy of a connection string, ADO or ODBC form, with the value of every
// password keyword ("pwd", "password") replaced by "***"; a string that does
// not parse is replaced whole by "<unparsable connection string>".
std::wstring RedactConnectionString(std::wstring_view text);

}  // namespace ado
