#include "platform/ado/connection_string.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace ado {
namespace {

ProviderMap PostgresMap() {
  ProviderMap map = DefaultProviderMap();
  std::wstring error;
  EXPECT_TRUE(ApplyProviderOverride("SQLOLEDB,SQLNCLI:PostgreSQL Unicode:CommLog=0", &map, &error))
      << std::string(error.begin(), error.end());
  return map;
}

ProviderMap FailoverMap() {
  ProviderMap map = DefaultProviderMap();
  EXPECT_TRUE(ApplyProviderOverride("SQLNCLI:Native SQL Driver::Failover_Partner", &map, nullptr));
  return map;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(TranslateConnectionString, SystemStringsBecomeOdbcStrings) {
  struct Case {
    const wchar_t* ado;
    const wchar_t* odbc;
    const wchar_t* redacted;
  };
  const Case defaults[] = {
      // The front end's trusted and SQL-login forms.
      {L"Provider=SQLOLEDB;Server=(local);Database=VEXMgmt;Trusted_Connection=Yes",
       L"Driver={FreeTDS};Server=127.0.0.1;Database=VEXMgmt;Trusted_Connection=Yes;"
       L"ClientCharset=UTF-8",
       nullptr},
      {L"Provider=SQLOLEDB;Server=db;Database=VEXMgmt;uid=sa;pwd=secret",
       L"Driver={FreeTDS};Server=db;Database=VEXMgmt;UID=sa;PWD=secret;ClientCharset=UTF-8",
       L"Driver={FreeTDS};Server=db;Database=VEXMgmt;UID=sa;PWD=***;ClientCharset=UTF-8"},
      // The database configuration's form, with a port, Network= and a partner
      // the driver cannot use.
      {L"Provider=SQLOLEDB.1;Server=dbhost,1433;Database=VEXMgmt;Network=dbmssocn;uid=u;pwd=p;"
       L"Failover Partner=mirror",
       L"Driver={FreeTDS};Server=dbhost;Port=1433;Database=VEXMgmt;UID=u;PWD=p;"
       L"ClientCharset=UTF-8",
       L"Driver={FreeTDS};Server=dbhost;Port=1433;Database=VEXMgmt;UID=u;PWD=***;"
       L"ClientCharset=UTF-8"},
      // A trusted connection drops the login; aliases and blanks; a repeated
      // keyword with the same value.
      {L" provider = sqlncli10 ; Data Source = . ; Initial Catalog=B; Database=B; User ID=x; "
       L"Password=y; Integrated Security=SSPI;",
       L"Driver={FreeTDS};Server=127.0.0.1;Database=B;Trusted_Connection=Yes;ClientCharset=UTF-8",
       nullptr},
      // A quoted password holding ';' and '}' stays one value.
      {L"Provider=SQLOLEDB;Server=db;uid=u;pwd=\"a;b}c\"\"d\"",
       L"Driver={FreeTDS};Server=db;UID=u;PWD={a;b}}c\"d};ClientCharset=UTF-8",
       L"Driver={FreeTDS};Server=db;UID=u;PWD=***;ClientCharset=UTF-8"},
      // DB2 form.
      {L"Provider=IBMDADB2;DSN=VEXDB;uid=db2inst;pwd=p w;",
       L"DSN=VEXDB;UID=db2inst;PWD=p w", L"DSN=VEXDB;UID=db2inst;PWD=***"},
      {L"Provider=IBMDADB2;DSN=VEXDB;", L"DSN=VEXDB", L"DSN=VEXDB"},
      // ODBC strings pass through untouched.
      {L"Driver={PostgreSQL Unicode};Server=h;Pwd={x;y}}};CommLog=0",
       L"Driver={PostgreSQL Unicode};Server=h;Pwd={x;y}}};CommLog=0",
       L"Driver={PostgreSQL Unicode};Server=h;Pwd=***;CommLog=0"},
      {L"DSN=mine;UID=a", L"DSN=mine;UID=a", L"DSN=mine;UID=a"},
  };
  for (const Case& c : defaults) {
    SCOPED_TRACE(Narrow(c.ado));
    OdbcTarget target;
    std::wstring error;
    ASSERT_TRUE(TranslateConnectionString(c.ado, DefaultProviderMap(), &target, &error))
        << Narrow(error);
    EXPECT_EQ(Narrow(target.odbc), Narrow(c.odbc));
    EXPECT_EQ(Narrow(target.redacted), Narrow(c.redacted ? c.redacted : c.odbc));
  }

  OdbcTarget target;
  ASSERT_TRUE(TranslateConnectionString(
      L"Provider=SQLOLEDB;Server=127.0.0.1,5432;Database=t;uid=postgres;pwd=pw", PostgresMap(),
      &target, nullptr));
  EXPECT_EQ(Narrow(target.odbc),
            "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=t;UID=postgres;"
            "PWD=pw;CommLog=0");
  EXPECT_EQ(Narrow(target.provider), "SQLOLEDB");

  // The mirror partner reaches a driver that has a keyword for it.
  ASSERT_TRUE(TranslateConnectionString(
      L"Provider=SQLNCLI;Server=a;Database=d;Trusted_Connection=Yes;Failover Partner=b,1434",
      FailoverMap(), &target, nullptr));
  EXPECT_EQ(Narrow(target.odbc),
            "Driver={Native SQL Driver};Server=a;Database=d;Trusted_Connection=Yes;"
            "Failover_Partner=b,1434");
}

TEST(TranslateConnectionString, HostilePasswordCannotAddAKeyword) {
  // Each password, once parsed out of the ADO string, must come back as the
  // one PWD value of the ODBC string, whatever it holds.
  const wchar_t* passwords[] = {L"x};Database=other;Driver={evil",
                                L"x;Server=evil",
                                L"{x}",
                                L"}}",
                                L"a=b",
                                L" padded ",
                                L"x'\"y"};
  for (const wchar_t* password : passwords) {
    SCOPED_TRACE(Narrow(password));
    std::wstring quoted = L"\"";
    for (const wchar_t* p = password; *p; ++p) quoted += *p == L'"' ? L"\"\"" : std::wstring(1, *p);
    quoted += L"\"";
    OdbcTarget target;
    std::wstring error;
    ASSERT_TRUE(TranslateConnectionString(L"Provider=SQLOLEDB;Server=db;Database=d;uid=u;pwd=" +
                                              quoted,
                                          DefaultProviderMap(), &target, &error))
        << Narrow(error);
    std::vector<ConnectionAttribute> pairs;
    ASSERT_TRUE(ParseOdbcConnectionString(target.odbc, &pairs, &error)) << Narrow(error);
    ASSERT_EQ(pairs.size(), 6u);
    EXPECT_EQ(Narrow(pairs[0].value), "FreeTDS");
    EXPECT_EQ(Narrow(pairs[2].value), "d");
    EXPECT_EQ(Narrow(pairs[4].keyword), "PWD");
    EXPECT_EQ(Narrow(pairs[4].value), Narrow(password));
    EXPECT_EQ(target.redacted.find(password), std::wstring::npos);
  }
}

TEST(TranslateConnectionString, RefusesWhatItCannotServeWithoutShowingThePassword) {
  struct Case {
    const wchar_t* ado;
    const char* says;
  };
  const Case cases[] = {
      {L"Provider=MSDAORA;Data Source=x;pwd=hunter2", "provider 'MSDAORA' is not served"},
      {L"Provider=SQLOLEDB;Server=db;pwd=hunter2;Encrypt=yes", "keyword 'Encrypt'"},
      {L"Provider=SQLOLEDB;Database=d;pwd=hunter2", "names no server"},
      {L"Provider=SQLOLEDB;Server=db,99999;pwd=hunter2", "port"},
      {L"Provider=SQLOLEDB;Server=db,14x3;pwd=hunter2", "port"},
      {L"Provider=SQLOLEDB;Server=,1433;pwd=hunter2", "names no server"},
      {L"Provider=IBMDADB2;uid=u;pwd=hunter2", "names no data source"},
      {L"Provider=IBMDADB2;DSN=x;Server=y;pwd=hunter2", "keyword 'Server'"},
      {L"Provider=SQLOLEDB;Server=db;pwd=\"hunter2", "not closed"},
      {L"Provider=SQLOLEDB;Server=db;pwd=\"hunter2\"x", "text follows"},
      {L"Provider=SQLOLEDB;Server=db;hunter2", "no '='"},
      // An unquoted password holding ';' written into a formatted string.
      {L"Provider=SQLOLEDB.1;Server=db;Database=VEXMgmt;uid=u;pwd=hunter2;Server=evil",
       "'Server' is given more than once"},
      {L"Provider=SQLOLEDB;Server=db;Database=a;uid=u;pwd=hunter2;Initial Catalog=b",
       "'Initial Catalog' is given more than once"},
      {L"Provider=SQLOLEDB;Server=db;pwd=hunter2;Password=other", "more than once"},
      {L"Provider=IBMDADB2;DSN=a;uid=u;pwd=hunter2;DSN=b", "'DSN' is given more than once"},
      {L"Provider=SQLOLEDB;Server=db;pwd=hunter2;Provider=MSDASQL", "more than once"},
      {L"Server=db;Database=d;pwd=hunter2", "names no Provider, Driver or DSN"},
      {L"Driver={x;Pwd={hunter2", "not closed"},
      {L"", "names no Provider"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.ado));
    OdbcTarget target;
    target.odbc = L"unchanged";
    std::wstring error;
    EXPECT_FALSE(TranslateConnectionString(c.ado, DefaultProviderMap(), &target, &error));
    EXPECT_NE(Narrow(error).find(c.says), std::string::npos) << Narrow(error);
    EXPECT_EQ(error.find(L"hunter2"), std::wstring::npos) << Narrow(error);
    EXPECT_EQ(Narrow(target.odbc), "unchanged");
  }
}

TEST(TranslateConnectionString, ReadsTheOverrideFromTheEnvironment) {
  const char* saved = std::getenv("MORVALE_ADO_PROVIDERS");
  const std::string restore = saved ? saved : "";
  OdbcTarget target;
  std::wstring error;

  setenv("MORVALE_ADO_PROVIDERS", "SQLOLEDB:PostgreSQL Unicode", 1);
  ASSERT_TRUE(TranslateConnectionString(L"Provider=SQLOLEDB.1;Server=h", &target, &error));
  EXPECT_EQ(Narrow(target.odbc), "Driver={PostgreSQL Unicode};Server=h");

  setenv("MORVALE_ADO_PROVIDERS", "SQLOLEDB", 1);
  EXPECT_FALSE(TranslateConnectionString(L"Provider=SQLOLEDB.1;Server=h", &target, &error));
  EXPECT_NE(Narrow(error).find("MORVALE_ADO_PROVIDERS"), std::string::npos);

  unsetenv("MORVALE_ADO_PROVIDERS");
  ASSERT_TRUE(TranslateConnectionString(L"Provider=SQLOLEDB.1;Server=h", &target, &error));
  EXPECT_EQ(Narrow(target.odbc), "Driver={FreeTDS};Server=h;ClientCharset=UTF-8");

  if (saved) setenv("MORVALE_ADO_PROVIDERS", restore.c_str(), 1);
}

TEST(RedactConnectionString, MasksEveryPasswordOfEitherForm) {
  struct Case {
    const wchar_t* text;
    const wchar_t* redacted;
  };
  const Case cases[] = {
      {L"Provider=SQLOLEDB;Server=s;uid=u;PWD=secret", L"Provider=SQLOLEDB;Server=s;uid=u;PWD=***"},
      {L"Password=\"se;cret\";pwd=again", L"Password=***;pwd=***"},
      {L"Driver={X};PWD={se;cr}}et};Server=s", L"Driver={X};PWD=***;Server=s"},
      {L"Driver={X};PWD={se;Password=cret}", L"Driver={X};PWD=***"},
      // A value read one way holds what the other way reads as a password:
      // masked either way.
      {L"Provider=SQLOLEDB;Server={x;pwd=secret}", L"Provider=SQLOLEDB;Server={x;pwd=***"},
      {L"Provider=SQLOLEDB;Server={x};pwd={se;cret}", L"Provider=SQLOLEDB;Server={x};pwd=***"},
      {L"App=\"a;pwd=b\";Server=s", L"App=\"a;pwd=***;Server=s"},
      {L"Server=s; Pwd = \r\n'a;b' ;uid=u", L"Server=s; Pwd =***;uid=u"},
      {L"Server=s;secret", L"<unparsable connection string>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    EXPECT_EQ(Narrow(RedactConnectionString(c.text)), Narrow(c.redacted));
  }
}

TEST(LoginOfConnectionString, ReadsTheLastLoginKeywordAnyCaseQuotedOrNot) {
  struct Case {
    const wchar_t* text;
    const wchar_t* login;
  };
  const Case cases[] = {
      {L"Server=a;uid=sa;pwd=x", L"sa"},
      {L"Server=a;UID=sa", L"sa"},
      {L"Server=a; User ID = \"do;main\" ;pwd=x", L"do;main"},
      {L"uid=first;User=second", L"second"},
      {L"Server=a;pwd=\"uid=not\"", L""},
      {L"Server=a;xuid=no", L""},
      {L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    EXPECT_EQ(Narrow(LoginOfConnectionString(c.text)), Narrow(c.login));
  }
}

TEST(ReplaceLogin, DropsTheStringsLoginForTheOneGiven) {
  struct Case {
    const wchar_t* text;
    const wchar_t* user;
    const wchar_t* password;
    const wchar_t* result;
  };
  const Case cases[] = {
      {L"Provider=P;Server=s;uid=u;pwd=old;Database=d", L"", L"new", L"Provider=P;Server=s;uid=u;Database=d;Password=new"},
      {L"Provider=P;PWD=\"o;ld\";Password=again", L"", L"n w", L"Provider=P;Password=\"n w\""},
      {L"Provider=P;User ID=a;uid=b;pwd=p", L"c", L"", L"Provider=P;pwd=p;User ID=c"},
      {L"Provider=P;Server=s", L"u", L"x\"y", L"Provider=P;Server=s;User ID=u;Password=\"x\"\"y\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    EXPECT_EQ(Narrow(ReplaceLogin(c.text, c.user, c.password)), Narrow(c.result));
    std::vector<ConnectionAttribute> pairs;
    EXPECT_TRUE(ParseConnectionString(ReplaceLogin(c.text, c.user, c.password), &pairs, nullptr));
  }
}

TEST(QuoteAdoValue, QuotesWhatAReaderCouldTakeForStructure) {
  struct Case {
    const wchar_t* value;
    const wchar_t* quoted;
  };
  const Case cases[] = {
      {L"plain", L"plain"}, {L"", L""},          {L"a;b", L"\"a;b\""},  {L"a\"b", L"\"a\"\"b\""},
      {L"a'b", L"\"a'b\""},  {L"a=b", L"\"a=b\""}, {L"a b", L"\"a b\""}, {L"{x}", L"\"{x}\""},
      {L"x{", L"x{"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.value));
    EXPECT_EQ(Narrow(QuoteAdoValue(c.value)), Narrow(c.quoted));
  }
}

TEST(QuoteOdbcValue, BracesOnlyWhatTheSyntaxWouldRead) {
  struct Case {
    const wchar_t* value;
    const wchar_t* quoted;
  };
  const Case cases[] = {
      {L"plain", L"plain"},     {L"", L""},           {L"a;b", L"{a;b}"},
      {L"a}b", L"{a}}b}"},      {L"{a", L"{{a}"},     {L"a=b", L"{a=b}"},
      {L" a", L"{ a}"},         {L"a b", L"a b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.value));
    EXPECT_EQ(Narrow(QuoteOdbcValue(c.value)), Narrow(c.quoted));
  }
}

}  // namespace
}  // namespace ado
