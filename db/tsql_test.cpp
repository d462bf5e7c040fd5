#include "db/tsql.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tsql {
namespace {

struct LoggedLine {
  int level;
  std::wstring text;
  std::string location;
};

std::vector<LoggedLine>& Logged() {
  static std::vector<LoggedLine> lines;
  return lines;
}

int Collect(int level, const wchar_t* text, const char* location, int) {
  Logged().push_back({level, text, location});
  return 1;
}

class TsqlTest : public ::testing::Test {
 protected:
  void SetUp() override { Logged().clear(); }
};

TEST_F(TsqlTest, LowerCasingFollowsWindows1252) {
  EXPECT_EQ(ToLower1252(L"SERVER=Db\u00C0\u00DE\u00D7\u0160\u0152\u017D\u0178\u0100"),
            L"server=db\u00E0\u00FE\u00D7\u0161\u0153\u017E\u00FF\u0100");
}

TEST_F(TsqlTest, ParseKeepsPairsWithOneEqualsSignOutsideQuotes) {
  struct Case {
    const char* name;
    std::wstring text;
    ConnectionStringMap expected;
  };
  const Case cases[] = {
      {"plain pairs, empty pieces and a trailing ';'",
       L"provider=sqloledb;;server=a;", {{L"provider", L"sqloledb"}, {L"server", L"a"}}},
      {"nothing trimmed", L" server = a ", {{L" server ", L" a "}}},
      {"a later keyword replaces an earlier one", L"server=a;server=b", {{L"server", L"b"}}},
      {"pieces without '=' or with two are ignored", L"junk;a=b=c;database=d",
       {{L"database", L"d"}}},
      {"a quoted value keeps its ';' and '='", L"pwd=\"x;server=evil=1\";server=a",
       {{L"pwd", L"\"x;server=evil=1\""}, {L"server", L"a"}}},
      {"a doubled quote stays inside the value", L"pwd='it''s;x';server=a",
       {{L"pwd", L"'it''s;x'"}, {L"server", L"a"}}},
      {"an unclosed quote runs to the end", L"server=a;pwd=\"x;database=d",
       {{L"server", L"a"}, {L"pwd", L"\"x;database=d"}}},
      {"empty text", L"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionStringMap map = {{L"stale", L"entry"}};
    EXPECT_EQ(ParseConnectionString(map, c.text), c.expected.size());
    EXPECT_EQ(map, c.expected);
  }
}

TEST_F(TsqlTest, ServerAndFailoverPartner) {
  struct Case {
    const char* name;
    std::wstring text;
    bool result;
    std::wstring server;
    int serverPort;
    std::wstring partner;
    int partnerPort;
  };
  const Case cases[] = {
      {"server with port, partner without",
       L"Provider=SQLNCLI;Server=DbA,1433;Database=VEXMgmt;Failover Partner=DbB", true, L"dba",
       1433, L"dbb", -1},
      {"data source wins over server; partner port",
       L"Server=x;Data Source=y;FAILOVER PARTNER=z,1434", true, L"y", -1, L"z", 1434},
      {"a port that is no number above 0 is dropped, the name still cut",
       L"Server=a,abc;Failover Partner=b,0", true, L"a", -1, L"b", -1},
      {"negative port", L"Server=a,-5;Failover Partner=b", true, L"a", -1, L"b", -1},
      {"digits then text", L"Server=a,1433x;Failover Partner=b", true, L"a", 1433, L"b", -1},
      {"huge port saturates", L"Server=a,99999999999;Failover Partner=b", true, L"a", 2147483647,
       L"b", -1},
      {"no partner", L"Server=a;Database=d", false, L"a", -1, L"", -1},
      {"no server, so no partner read", L"Database=d;Failover Partner=b", false, L"", -1, L"", -1},
      {"a password cannot name the server",
       L"Server=a;pwd=\"p;Server=evil;Failover Partner=evil\";Failover Partner=b", true, L"a", -1,
       L"b", -1},
      {"empty text", L"", false, L"", -1, L"", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring server = L"stale", partner = L"stale";
    int serverPort = 7, partnerPort = 7;
    EXPECT_EQ(GetServerAndFailoverPartner(c.text, &server, &serverPort, &partner, &partnerPort),
              c.result);
    EXPECT_EQ(server, c.server);
    EXPECT_EQ(serverPort, c.serverPort);
    EXPECT_EQ(partner, c.partner);
    EXPECT_EQ(partnerPort, c.partnerPort);
  }
}

TEST_F(TsqlTest, ServerAndDatabase) {
  struct Case {
    const char* name;
    std::wstring text;
    bool result;
    std::wstring database;
    std::wstring server;
    int port;
  };
  const Case cases[] = {
      {"server and initial catalog", L"Data Source=H,1500;Initial Catalog=Cat;Database=Other",
       true, L"cat", L"h", 1500},
      {"database when there is no initial catalog", L"Server=h;Database=Db", true, L"db", L"h",
       -1},
      {"without a server key database replaces the catalog",
       L"Initial Catalog=cat;Database=db", true, L"db", L"", -1},
      {"catalog alone, no server", L"Initial Catalog=cat", false, L"cat", L"", -1},
      {"server alone", L"Server=h", false, L"", L"h", -1},
      {"empty text", L"", false, L"", L"", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring database = L"stale", server = L"stale";
    int port = 7;
    EXPECT_EQ(GetServerAndDatabase(c.text, &database, &server, &port), c.result);
    EXPECT_EQ(database, c.database);
    EXPECT_EQ(server, c.server);
    EXPECT_EQ(port, c.port);
  }
}

TEST_F(TsqlTest, SetServerNameReplacesTheValueOrAppendsTheKeyword) {
  struct Case {
    const char* name;
    std::wstring text;
    std::wstring newServer;
    int port;
    std::wstring expected;
  };
  const Case cases[] = {
      {"keyword in capitals keeps them; old port dropped",
       L"Provider=SQLOLEDB.1;SERVER=old,1433;Database=db", L"new", 0,
       L"Provider=SQLOLEDB.1;SERVER=new;Database=db"},
      {"given port", L"Server=old;Database=db", L"new", 1500, L"Server=new,1500;Database=db"},
      {"port from the new text, name trimmed", L"Server=old", L" \tnew \r\n,1434", 0,
       L"Server=new,1434"},
      {"a given port wins over the text's", L"Server=old", L"new,1434", 99, L"Server=new,99"},
      {"data source before server", L"Server=s;Data Source=d;x=y", L"new", 0,
       L"Server=s;Data Source=new;x=y"},
      {"value running to the end", L"Database=db;Server=old", L"new", 0,
       L"Database=db;Server=new"},
      {"blanks around the keyword", L"Database=db; Server =old", L"new", 0,
       L"Database=db; Server =new"},
      {"a keyword that merely ends in server is not it", L"MyServer=x;Server=old", L"new", 0,
       L"MyServer=x;Server=new"},
      {"a quoted password is not searched", L"pwd=\"a;Server=evil\";Server=old", L"new", 0,
       L"pwd=\"a;Server=evil\";Server=new"},
      {"no server keyword: appended", L"Provider=SQLOLEDB;Database=db", L"new", 1433,
       L"Provider=SQLOLEDB;Database=db;Server=new,1433"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetServerName(c.text, c.newServer, c.port, &Collect), c.expected);
  }
  EXPECT_TRUE(Logged().empty());
}

TEST_F(TsqlTest, SetFailoverServerNameReplacesOrAppendsThePartner) {
  EXPECT_EQ(SetFailoverServerName(L"Server=a;failover partner=b,1;x=y", L"c", 0, nullptr),
            L"Server=a;failover partner=c;x=y");
  EXPECT_EQ(SetFailoverServerName(L"Server=a", L"c,1434", 0, nullptr),
            L"Server=a;Failover Partner=c,1434");
}

TEST_F(TsqlTest, EditsOfNothingReturnTheTextAndLogWhy) {
  struct Case {
    const char* name;
    std::wstring result;
    std::wstring expected;
    std::wstring logged;
    std::string location;
  };
  const Case cases[] = {
      {"empty text", SetServerName(L"", L"new", 0, &Collect), L"", L"Connection string is empty",
       "tsql::SetServerName"},
      {"empty server", SetServerName(L"Server=a", L"", 0, &Collect), L"Server=a",
       L"New sql server name is empty", "tsql::SetServerName"},
      {"blank server with only a port", SetServerName(L"Server=a", L" ,1433", 0, &Collect),
       L"Server=a", L"New sql server name is empty", "tsql::SetServerName"},
      {"empty partner", SetFailoverServerName(L"Server=a", L"", 0, &Collect), L"Server=a",
       L"New sql server name is empty", "tsql::SetFailoverServerName"},
      {"master of nothing", SetMasterDbName(L"", &Collect), L"", L"Connection string is empty",
       "tsql::SetMasterDbName"},
  };
  ASSERT_EQ(Logged().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(cases[i].result, cases[i].expected);
    EXPECT_EQ(Logged()[i].level, 1);
    EXPECT_EQ(Logged()[i].text, cases[i].logged);
    EXPECT_EQ(Logged()[i].location, cases[i].location);
  }
  // A null log function is allowed.
  EXPECT_EQ(SetServerName(L"", L"new", 0, nullptr), L"");
}

TEST_F(TsqlTest, SetMasterDbName) {
  struct Case {
    const char* name;
    std::wstring text;
    std::wstring expected;
  };
  const Case cases[] = {
      {"initial catalog replaced in place",
       L"Provider=SQLOLEDB.1;Initial Catalog=VEXMgmt;Server=h;uid=sa",
       L"Provider=SQLOLEDB.1;Initial Catalog=master;Server=h;uid=sa"},
      {"initial catalog before database", L"Database=a;INITIAL CATALOG=b",
       L"Database=a;INITIAL CATALOG=master"},
      {"database at the end", L"Server=h;Database=VEXMgmt", L"Server=h;Database=master"},
      {"none, ending in ';'", L"Server=h;", L"Server=h;Database=master"},
      {"none", L"Server=h", L"Server=h;Database=master"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetMasterDbName(c.text, nullptr), c.expected);
  }
}

TEST_F(TsqlTest, SwapToFailoverPartner) {
  struct Case {
    const char* name;
    std::wstring text;
    bool swapped;
    std::wstring expected;
  };
  const Case cases[] = {
      {"server with port and partner exchanged, names lower-cased",
       L"Provider=SQLNCLI;Server=DbA,1433;Database=VEXMgmt;uid=sa;pwd=Pw;Failover Partner=DbB",
       true, L"Provider=SQLNCLI;Server=dbb;Database=VEXMgmt;uid=sa;pwd=Pw;Failover Partner=dba,1433"},
      {"same name, other ports", L"Server=h,1433;Failover Partner=H,1434", true,
       L"Server=h,1434;Failover Partner=h,1433"},
      {"same name and port", L"Server=h,1433;Failover Partner=H,1433", false,
       L"Server=h,1433;Failover Partner=H,1433"},
      {"no partner", L"Server=h;Database=d", false, L"Server=h;Database=d"},
      {"empty", L"", false, L""},
      // A quoted password that holds a server keyword stays the password's.
      {"quoted password", L"Server=a;pwd=\"x;Server=evil;Failover Partner=evil\";Failover Partner=b", true,
       L"Server=b;pwd=\"x;Server=evil;Failover Partner=evil\";Failover Partner=a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring text = c.text;
    EXPECT_EQ(SwapToFailoverPartner(&text, &Collect), c.swapped);
    EXPECT_EQ(text, c.expected);
  }
  EXPECT_TRUE(Logged().empty());
}

}  // namespace
}  // namespace tsql
