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
//   SCOPE_IDENTITY() / @@IDENTITY           ->  lastval()
//
// Keywords ignore case. Everything else is left as written: the PostgreSQL
// test database is made to look like the configuration database (tables,
// procedures as functions) instead. Other dialects get the text unchanged.
//
// Pure functions; safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ado {

enum class Dialect { SqlServer, Db2, PostgreSql, Other };

// "Microsoft SQL Server" -> SqlServer, "DB2..." -> Db2, "PostgreSQL" ->
// PostgreSql (case-insensitive prefixes), anything else Other.
Dialect DialectOfDbms(std::wstring_view dbmsName);

// The text to send to a server of dialect `target`.
std::wstring RewriteSql(std::wstring_view sql, Dialect target);

}  // namespace ado
