// Database operations whose SQL lives in the database layer: the two-step
// deletion of a user (mark the row, then delete it with every row that
// refers to it), the batch read of a server's users, the server's router
// endpoints, single-value selects and the site's service-book data template.
//
// Each operation borrows its own pooled connection and runs through the
// command runner (db/vexdb_command.h) with its retry rule; failures are
// logged under the operation's name and returned as false.
//
// User deletion. UserConfig.UserDeleteStatus 1 or 2 may be marked for
// deletion (VEXDB_InitiateUserDelete sets 3 or 4); a row in state 3 or 4 is
// deleted by VEXDB_CompleteUserDelete, which first empties, in ascending Id
// ranges of at most the chunk size (registry UserDeleteChunkSize, default
// 5000, which also stands for a size below 1), every table whose foreign
// key refers to UserConfig, except those of the registry's comma-separated
// UserDeleteTableExcludeList (case ignored, nothing trimmed) and seven
// fixed ones. The map of those tables is read
// from the database's catalogue once per process, on the first completed
// deletion; a name that is not a plain identifier is left out of it, so no
// catalogue text is ever formatted into a statement unchecked.
//
// Thread safety: every operation may be called from any thread. Completed
// deletions are serialised by one process-wide lock that also guards the
// table map and the chunk size.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/com/variant.h"

// Table name -> its column that refers to UserConfig.Id, ordered by name.
using UserChildTableMap = std::map<std::wstring, std::wstring>;

// One router endpoint of ServerKwyRMap: host and port in decimal text.
struct KwyREndpoint {
  std::string host;
  std::string port;
};
using KwyRList = std::vector<KwyREndpoint>;

// Marks the user for deletion. mode 1 sets status 3 and mode 2 status 4
// (*newStatus), on the row of `userId` and `serverConfigId` whose status
// is 1 or 2; true when the UPDATE ran (whether or not a row changed).
// mode 3 or 4: true, nothing changed. mode 0 or above 4: false, no SQL.
bool VEXDB_InitiateUserDelete(int* serverConfigId, int* userId, unsigned mode, int* newStatus);

// Deletes the user's rows of the child tables and then the user's row when
// its status is 3 or 4. *failed = !result, except when no connection could
// be borrowed (false, *failed untouched).
bool VEXDB_CompleteUserDelete(int* serverConfigId, int* userId, bool* failed);

// Reads the child tables from the catalogue into `map` (an existing key
// keeps its column), leaving out the excluded ones; reads the chunk size.
bool VEXDB_InitUserChildTableMap(UserChildTableMap& map);

// Empties every table of `map` of the rows of `userId`, chunk by chunk,
// once `checkSql` (run with userId and serverConfigId) finds the user's row.
// False when the check fails or finds no row.
bool VEXDB_DeleteUserChildTables(const wchar_t* checkSql, const UserChildTableMap& map, int userId,
                                 int serverConfigId);

// The SELECT of the user list: the UserConfig rows of a server
// (ServerConfigId or PendingServerConfigId) and, when `agent`, of one agent;
// "?" the server id twice, then the agent id when `agent`.
std::wstring UserListSql(bool agent);

// The UserConfig rows of the server (ServerConfigId or PendingServerConfigId)
// and, when agentId is not 0, of that agent (UserListSql), as the GetRows array of the 64
// columns of VEXDB_BuildUserSelect ([column][row]) in `rows`; no row: true
// with `rows` empty. serverConfigId <= 0: false without a query.
bool GetUserList(_variant_t& rows, int serverConfigId, int agentId);

// The first column of the first row of `sql` into *out (left as it is when
// NULL or empty); false when there is no row.
bool VEXDB_RunSelectImpl(const wchar_t* sql, VARIANT* out);
// VEXDB_RunSelectImpl for a text: true with the text, or with "" for an
// empty value; false otherwise (NULL included).
bool VEXDB_SelectString(const wchar_t* sql, std::wstring& out);

// The router endpoints of the server in ServerKwyRMap's Sequence order.
bool VEXDB_LoadKwyRList(int* serverConfigId, KwyRList& list);

// The site's ServiceBookDataTemplate from GlobalSettings, stripped by
// VEXDB_StripServiceBookTemplate; an empty template is a success.
bool VEXDB_GetServiceBookDataTemplate(std::wstring& out);
// Removes every "<database" ... "</database>" element (from an unclosed one
// nothing more), then the first "<DBRelation" ... "</DBRelation>" element.
// Exact, case-sensitive matching.
void VEXDB_StripServiceBookTemplate(std::wstring& text);
