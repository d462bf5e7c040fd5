// The SQL dialect of the connected server and the rewrite of the system's
// T-SQL texts for PostgreSQL.
//
// The system's SQL texts are written for SQL Server (or, where the database
// configuration says DB2, for DB2) and reach those servers unchanged. When
// the connected DBMS (SQLGetInfo SQL_DBMS_NAME, through DialectOfDbms) is
// PostgreSQL, RewriteSql turns the few T-SQL idioms the system uses into
// PostgreSQL's, one rule per idiom, outside string literals, quoted
// identifiers and comments:
//
//   SELECT [DISTINCT] TOP n / TOP (n) ...   ->  SELECT ... LIMIT n
//   table hints  WITH (NOLOCK[, ...])        ->  removed
//   GETUTCDATE()                            ->  (now() AT TIME ZONE 'UTC')
//   GETDATE()                               ->  LOCALTIMESTAMP
//   DATEDIFF(Day|dd|d, a, b)                ->  (CAST(b AS date) - CAST(a AS date))
//   dbo.name / [dbo].name                   ->  name
//   SET NOCOUNT ON / OFF  (with its ';')    ->  removed
//   INSERT [INTO] t ... [;] SELECT SCOPE_IDENTITY() (or @@IDENTITY)
//                                           ->  INSERT [INTO] t ... RETURNING c
//       c the identity column of t as the caller's IdentityLookup names it,
//       NULL when t has none (or no lookup is given): the identity of the
//       row just inserted, never another table's
//   SCOPE_IDENTITY() / @@IDENTITY elsewhere ->  lastval()
//
// Keywords ignore case. Everything else is left as written: the PostgreSQL
// test database is made to look like the configuration database (tables,
// procedures as functions) instead. Other dialects get the text unchanged.
//
// Pure functions apart from what `identity` does; safe to call from any
// thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ado {

enum class Dialect { SqlServer, Db2, PostgreSql, Other };

// "Microsoft SQL Server" -> SqlServer, "DB2..." -> Db2, "PostgreSQL" ->
// PostgreSql (case-insensitive prefixes), anything else Other.
Dialect DialectOfDbms(std::wstring_view dbmsName);

// The identity column of table `table` (as the SQL text names it, without a
// "dbo." prefix), as it may stand in SQL; empty when the table has none.
using IdentityLookup = std::function<std::wstring(std::wstring_view table)>;

// The text to send to a server of dialect `target`. `identity` is asked only
// for the tables of an identity read-back.
std::wstring RewriteSql(std::wstring_view sql, Dialect target, const IdentityLookup& identity = nullptr);

}  // namespace ado
