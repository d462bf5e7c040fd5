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
// Every reader of connection strings in the system goes through one
// tokenizer, TokenizeConnectionString: the ADO and ODBC parsers here, the
// password masking (MaskPasswords, RedactConnectionString), the login
// look-up (LoginOfConnectionString), the login replacement (ReplaceLogin),
// and keyword editing done on the pieces' positions.
//
// Pure functions over their arguments, apart from reading the provider map
// (see providers.h) from the environment; safe to call from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/providers.h"

namespace ado {

// How a connection string quotes its values: the OLE DB (ADO) form with
// '"' or '\'' (the quote doubled inside stands for itself; "==" in a keyword
// stands for '='), the ODBC form with braces ("}}" inside stands for '}').
enum class ConnectionStringSyntax { OleDb, Odbc };

// One piece of a connection string as written: the text between two ';'
// that are not inside a quoted value. Positions index the text.
struct ConnectionStringPiece {
  std::size_t begin = 0;                       // its first character
  std::size_t end = 0;                         // the ';' that ends it, or the text's end
  std::size_t equals = std::wstring_view::npos;  // the '=' that ends its keyword; npos: none
  std::size_t valueBegin = 0;                  // the value's first character after blanks
  std::size_t valueEnd = 0;                    // after the value (its closing quote)
  std::wstring keyword;                        // blanks around it dropped; OLE DB "==" read as '='
  std::wstring value;                          // unquoted; an unquoted one without blanks around it
  bool quoted = false;                         // the value begins with a quote
  bool closed = true;                          // a quoted value found its closing quote; else
                                               // it runs to the end of the text
  bool trailing = false;                       // more than blanks follows the closing quote
  int equalsCount = 0;                         // the '=' of the piece outside its quoted value
};

// Splits `text` into its pieces in order, empty ones included. Blanks (' ',
// tab, CR, LF) may stand around keywords and before a value; a value is
// quoted when its first character after them opens a quote of `syntax`.
// Never fails: what a strict reader refuses shows in the pieces' fields.
std::vector<ConnectionStringPiece> TokenizeConnectionString(std::wstring_view text,
                                                            ConnectionStringSyntax syntax);

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

// `text` with the value of every password keyword ("pwd", "password", any
// case) replaced by `mask`, everything else kept as written. A value counts
// as a password when it is one in the OLE DB reading or in the ODBC
// reading, so that a string read either way shows none: in
// "Server={x;pwd=secret}" the ADO form reads a password "secret}", the ODBC
// form a braced server name holding it. The result, read either way again,
// has no password value but the mask.
std::wstring MaskPasswords(std::wstring_view text, std::wstring_view mask);

// MaskPasswords with "***", for logs; a string that parses in neither form
// is replaced whole by "<unparsable connection string>".
std::wstring RedactConnectionString(std::wstring_view text);

// The login an ADO-form string names: the value of its last "uid", "User
// ID" or "User" pair (any case), unquoted; empty when there is none.
std::wstring LoginOfConnectionString(std::wstring_view text);

// The value as it may stand after "keyword=" in an ADO-form string:
// unchanged when plain, else in '"' with every '"' doubled. A value is plain
// when it holds no ';', quote, '=', blank or control character and does not
// begin with '{'. The result is reserved in full before it is filled, so
// that building it leaves no partial copy of a secret behind. The narrow
// form reads its bytes as they stand (no code page conversion).
std::wstring QuoteAdoValue(std::wstring_view value);
std::string QuoteAdoValue(std::string_view value);

// `text` with its login replaced: the "uid"/"User ID"/"User" pairs dropped
// and "User ID=<user>" appended when `user` is not empty, the
// "pwd"/"Password" pairs dropped and "Password=<password>" appended when
// `password` is not empty (both quoted with QuoteAdoValue).
std::wstring ReplaceLogin(std::wstring_view text, std::wstring_view user, std::wstring_view password);

// Overwrites the characters of a string that held a secret with zeros
// before it is freed or reused.
void WipeText(std::wstring& text);

}  // namespace ado
