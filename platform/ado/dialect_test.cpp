#include "platform/ado/dialect.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ado {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(RewriteSql, TurnsTheSystemsTsqlIntoPostgres) {
  struct Case {
    const wchar_t* sql;
    const wchar_t* postgres;
  };
  const Case cases[] = {
      // Table hints, alone and in lists, in any case.
      {L"SELECT NumFailures FROM MbMailSync WITH (NOLOCK) WHERE (UserConfigID = ?)",
       L"SELECT NumFailures FROM MbMailSync  WHERE (UserConfigID = ?)"},
      {L"select a from t with ( rowlock , updlock ) where b = 1",
       L"select a from t  where b = 1"},
      {L"SELECT x FROM dbo.MbAddressLookup WITH (NOLOCK) WHERE ServerConfigId is NULL",
       L"SELECT x FROM MbAddressLookup  WHERE ServerConfigId is NULL"},
      // A common table expression is not a hint.
      {L"WITH (x) AS (SELECT 1) SELECT * FROM x", L"WITH (x) AS (SELECT 1) SELECT * FROM x"},
      // Dates.
      {L"AND DATEDIFF(Day, MbF.ModifyDate, GetUTCDate()) < ?",
       L"AND (CAST((now() AT TIME ZONE 'UTC') AS date) - CAST(MbF.ModifyDate AS date)) < ?"},
      {L"DATEDIFF(dd, f(a, b), ?)", L"(CAST(? AS date) - CAST(f(a, b) AS date))"},
      {L"DATEDIFF(Hour, a, b)", L"DATEDIFF(Hour, a, b)"},
      {L"SELECT GETDATE ( )", L"SELECT LOCALTIMESTAMP"},
      // dbo. only as a schema prefix of its own.
      {L"JOIN UserConfig ON M.UserConfigId = dbo.UserConfig.Id", L"JOIN UserConfig ON M.UserConfigId = UserConfig.Id"},
      {L"SELECT * FROM [dbo].T, master.dbo.U, mydbo.V", L"SELECT * FROM T, master.dbo.U, mydbo.V"},
      // TOP n becomes LIMIT n at the end of its own SELECT.
      {L"SELECT TOP 5 Id FROM UserConfig ORDER BY Id", L"SELECT Id FROM UserConfig ORDER BY Id LIMIT 5"},
      {L"SELECT DISTINCT TOP (10) a FROM t; SELECT 1", L"SELECT DISTINCT a FROM t LIMIT 10; SELECT 1"},
      {L"SELECT a FROM t WHERE b IN (SELECT TOP 1 b FROM u ORDER BY c) AND d = 1",
       L"SELECT a FROM t WHERE b IN (SELECT b FROM u ORDER BY c LIMIT 1) AND d = 1"},
      // A parameter as the count would move the parameter: left alone.
      {L"SELECT TOP (?) a FROM t WHERE b = ?", L"SELECT TOP (?) a FROM t WHERE b = ?"},
      {L"SELECT TOPIC FROM t", L"SELECT TOPIC FROM t"},
      // Literals, quoted names and comments are never touched.
      {L"SELECT 'dbo.x WITH (NOLOCK) GETUTCDATE()' FROM \"dbo.T\" -- dbo.T\n",
       L"SELECT 'dbo.x WITH (NOLOCK) GETUTCDATE()' FROM \"dbo.T\" -- dbo.T\n"},
      {L"SELECT 'it''s', [GETDATE()] /* TOP 1 */", L"SELECT 'it''s', [GETDATE()] /* TOP 1 */"},
      // Names that only begin like an idiom.
      {L"SELECT GETUTCDATEX(), SET_NOCOUNT FROM dbox.t", L"SELECT GETUTCDATEX(), SET_NOCOUNT FROM dbox.t"},
      // Unfinished text is passed on as it is.
      {L"SELECT DATEDIFF(Day, a", L"SELECT DATEDIFF(Day, a"},
      {L"SELECT 'open", L"SELECT 'open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.sql));
    EXPECT_EQ(Narrow(RewriteSql(c.sql, Dialect::PostgreSql)), Narrow(c.postgres));
  }
}

// An identity read back right after an INSERT is that INSERT's own: the
// table's identity column returned by it, or NULL for a table without one.
TEST(RewriteSql, ReadsTheIdentityBackFromTheInsertItself) {
  struct Case {
    const wchar_t* sql;
    const wchar_t* postgres;
  };
  const Case cases[] = {
      // The record layer's INSERT.
      {L"SET NOCOUNT ON; INSERT INTO T (a, b, Id) VALUES (?, ?, ?) ; SELECT SCOPE_IDENTITY(); "
       L"SET NOCOUNT OFF",
       L"INSERT INTO T (a, b, Id) VALUES (?, ?, ?) RETURNING \"Key\"; "},
      {L"INSERT dbo.T (a) VALUES (1) SELECT @@IDENTITY", L"INSERT T (a) VALUES (1) RETURNING \"Key\""},
      {L"insert into Plain (a) values ((1)); select scope_identity ( )",
       L"insert into Plain (a) values ((1)) RETURNING NULL"},
      // Not right after an INSERT: the session's last identity.
      {L"INSERT INTO T (a) VALUES (1); UPDATE U SET b = 2; SELECT SCOPE_IDENTITY()",
       L"INSERT INTO T (a) VALUES (1); UPDATE U SET b = 2; SELECT lastval()"},
      {L"SELECT @@IDENTITY", L"SELECT lastval()"},
      {L"INSERT INTO T (a) SELECT (SELECT SCOPE_IDENTITY())", L"INSERT INTO T (a) SELECT (SELECT lastval())"},
  };
  std::vector<std::wstring> asked;
  const IdentityLookup lookup = [&asked](std::wstring_view table) {
    asked.emplace_back(table);
    return table == L"T" ? std::wstring(L"\"Key\"") : std::wstring();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.sql));
    EXPECT_EQ(Narrow(RewriteSql(c.sql, Dialect::PostgreSql, lookup)), Narrow(c.postgres));
  }
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"T", L"T", L"Plain"}));
  // Without a way to look the column up, no identity is claimed.
  EXPECT_EQ(Narrow(RewriteSql(L"INSERT INTO T (a) VALUES (1); SELECT SCOPE_IDENTITY()", Dialect::PostgreSql)),
            "INSERT INTO T (a) VALUES (1) RETURNING NULL");
}

TEST(RewriteSql, LeavesOtherDialectsAlone) {
  const wchar_t* sql = L"SET NOCOUNT ON; SELECT TOP 1 a FROM dbo.t WITH (NOLOCK)";
  for (Dialect dialect : {Dialect::SqlServer, Dialect::Db2, Dialect::Other}) {
    EXPECT_EQ(RewriteSql(sql, dialect), sql);
  }
}

TEST(DialectOfDbms, NamesOfTheDriversDbms) {
  struct Case {
    const wchar_t* name;
    Dialect dialect;
  };
  const Case cases[] = {{L"Microsoft SQL Server", Dialect::SqlServer},
                        {L"DB2/LINUXX8664", Dialect::Db2},
                        {L"PostgreSQL", Dialect::PostgreSql},
                        {L"postgresql", Dialect::PostgreSql},
                        {L"SQLite", Dialect::Other},
                        {L"", Dialect::Other}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    EXPECT_EQ(DialectOfDbms(c.name), c.dialect);
  }
}

}  // namespace
}  // namespace ado
