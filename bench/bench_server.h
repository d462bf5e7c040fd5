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

#include "bench/measure.h"

namespace bench {

// The key=value pairs of an ODBC connection string (read by platform/ado's
// ODBC parser), keywords lower-cased; empty when it does not parse.
std::map<std::string, std::string> OdbcPairs(const std::string& text);

// The SQL that makes the server "Bench" with `users` users.
std::string MakeUsers(int users);

// COPY statements of psql: the server's UserConfig rows (the user SELECT's
// 64 columns) and their UserStats rows.
extern const char kCopyUsers[];
extern const char kCopyUserStats[];

// psql's arguments for a session on `database` of `server` (OdbcPairs of its
// connection string), and the environment entry that hands it the password:
// a password never stands on a command line.
std::vector<std::string> PsqlSession(const std::map<std::string, std::string>& server, const std::string& database);
std::string PsqlPassword(const std::map<std::string, std::string>& server);

// Runs `args` (args[0] looked up on PATH unless it holds a '/') as a child
// with `input` on its standard input, its standard output to `output` and
// `environment` ("NAME=value") added: its wall time and CPU time (user and
// system of the child alone) in *cost. False when it did not end with exit
// code 0.
bool RunChild(std::vector<std::string> args, const std::string& input, const std::vector<std::string>& environment,
              const std::string& output, Cost* cost);

// One psql run of `statements` on `database` of `server`, its output to
// /dev/null (RunChild).
bool RunPsql(const std::map<std::string, std::string>& server, const std::string& database,
             const std::vector<std::string>& statements, Cost* cost);

}  // namespace bench
