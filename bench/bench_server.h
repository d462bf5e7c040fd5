// The server of many users that the benchmarks of opening a server and of
// the morvale command measure, and psql's side of them: the same rows read
// the fastest honest way, by one run of psql copying them to /dev/null.
//
// The server "Bench" (ServerConfig Id 1; "Other" is Id 2) has users 1 to N,
// each with every column that a user row carries in practice filled:
//   DisplayName  "User <n> M\u00FCller"
//   MailboxDN    "/o=Org/ou=Site/cn=Recipients/cn=user<n>"
//   ServerDN     "/o=Org/ou=Site/cn=Configuration/cn=Servers/cn=MX<n % 8>"
//   MailboxSMTPAddr "user<n>@example.com"
// and one UserStats row each.
//
// Functions of their arguments; psql runs as a child of the calling thread.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace bench {

// The key=value pairs of an ODBC connection string.
std::map<std::string, std::string> OdbcPairs(const std::string& text);

// The SQL that makes the server "Bench" with `users` users.
std::string MakeUsers(int users);

// COPY statements of psql: the server's UserConfig rows (the user SELECT's
// 64 columns) and their UserStats rows.
extern const char kCopyUsers[];
extern const char kCopyUserStats[];

// One psql run of `statements` on `database` of `server` (OdbcPairs of its
// connection string), its output to /dev/null: wall and client CPU seconds
// in *wall and *cpu; false when psql failed. The password reaches psql
// through its environment, never its command line.
bool RunPsql(const std::map<std::string, std::string>& server, const std::string& database,
             const std::vector<std::string>& statements, double* wall, double* cpu);

}  // namespace bench
