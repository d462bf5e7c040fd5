// Reading and editing the keywords of an OLE DB connection string: which
// server, database and mirror partner it names, and copies of it pointed at
// another server, another partner or the master database. The connection
// pool uses the edits for its failover swap (SwapToFailoverPartner); the
// database environment report uses them to reach the master database.
//
// A connection string is a wide text of "keyword=value" pairs separated by
// ';', split into pairs as the ADO objects read it
// (ado::TokenizeConnectionString). Keywords are compared without regard to
// case: each function works on a copy lower-cased with the Windows-1252
// rules (ToLower1252), and the edits are applied to the given text, so every
// pair the edit does not touch keeps its spelling. A value that begins with
// '"' or '\'' is quoted: it runs to the matching quote (the quote doubled
// inside stands for itself), so a ';' or '=' inside it, a password's for
// example, neither ends its pair nor reads as a keyword.
//
// A server text is a name optionally followed by "," and a TCP port; the
// port counts only when it reads as a number above 0 (leading digits, as
// _wtoi reads them), else it is -1 in the results.
//
// Nothing here throws or fails: an empty text or an empty new name returns
// the text unchanged with a level 1 line to the log function (which may be
// null); a missing keyword is appended by the edits and reported as not
// found by the readers.
//
// Pure functions of their arguments; callable from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "diagnostics/log.h"

namespace tsql {

// Keyword -> value, both as they stand in the lower-cased text.
using ConnectionStringMap = std::map<std::wstring, std::wstring>;

// Receives (level, text, location, source line): the environment report's
// line callback.
using LogFunction = ReportLogCallback;

// `text` with 'A'-'Z', the accented capitals U+00C0-U+00DE (but U+00D7) and
// the capitals of Windows-1252's upper half (S, OE and Z with caron, Y with
// diaeresis) lowered; everything else unchanged.
std::wstring ToLower1252(std::wstring_view text);

// Clears `map` and fills it from the pairs of `lowered` (a lower-cased
// connection string): a pair with exactly one '=' outside quotes gives
// map[keyword] = value, nothing trimmed, a later keyword replacing an
// earlier one; other pieces are ignored. Returns the number of entries.
std::size_t ParseConnectionString(ConnectionStringMap& map, const std::wstring& lowered);

// The server ("data source", else "server") and, when there is a server,
// the mirror partner ("failover partner"), each cut at its first ',' with
// the port after it (-1 when none). Names come out lower-cased. True when
// both the server and the partner are non-empty; false for an empty text.
bool GetServerAndFailoverPartner(const std::wstring& text, std::wstring* server, int* serverPort,
                                 std::wstring* partner, int* partnerPort);

// The database ("initial catalog"; "database" replaces it when there is no
// "initial catalog" or no server keyword) and the server with its port as
// above. True when a server keyword and "initial catalog" were found, or a
// "database" keyword was; false for an empty text.
bool GetServerAndDatabase(const std::wstring& text, std::wstring* database, std::wstring* server,
                          int* port);

// A copy of `text` naming the server `newServer`. A ",port" in newServer
// gives the port when `port` is 0 or less; the name is then trimmed of
// "\n\r\t\a\f\b ". The value of "Data Source", else of "Server", is
// replaced (with any port it had) by the name and ",port" when the port is
// above 0; without either keyword ";Server=name[,port]" is appended.
std::wstring SetServerName(const std::wstring& text, const std::wstring& newServer, int port,
                           LogFunction log);

// The same for the mirror partner: the value of "Failover Partner" is
// replaced, or ";Failover Partner=name[,port]" appended.
std::wstring SetFailoverServerName(const std::wstring& text, const std::wstring& newPartner,
                                   int port, LogFunction log);

// A copy of `text` naming the master database: the value of "Initial
// Catalog", else of "Database", becomes "master"; without either,
// "Database=master" is appended (after a ';' unless the text ends in one).
std::wstring SetMasterDbName(const std::wstring& text, LogFunction log);

// The connection pool's failover swap on its connection string: when the
// string names a server and a mirror partner that differ by name (ignoring
// case) or, with equal names, by port, the server keyword is pointed at the
// partner and the partner keyword at the server, each with its own port,
// and true is returned. Otherwise the string is left as it was and the
// result is false.
bool SwapToFailoverPartner(std::wstring* connectionString, LogFunction log);

}  // namespace tsql
