#include "platform/ado/providers.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace ado {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<std::string> Narrow(const std::vector<std::wstring>& texts) {
  std::vector<std::string> out;
  for (const std::wstring& text : texts) out.push_back(Narrow(text));
  return out;
}

TEST(ApplyProviderOverride, ReplacesAndAddsEntries) {
  ProviderMap map = DefaultProviderMap();
  std::wstring error;
  ASSERT_TRUE(ApplyProviderOverride(
      " SQLOLEDB , sqlncli : PostgreSQL Unicode : CommLog=0;FetchRefcursors=1 | "
      "MYPROV:Other Driver::Partner_Key | IBMDADB2:DB2 Driver",
      &map, &error))
      << Narrow(error);
  ASSERT_EQ(map.size(), 5u);
  EXPECT_EQ(Narrow(map[0].driver), "PostgreSQL Unicode");
  EXPECT_EQ(Narrow(map[0].attributes), "CommLog=0;FetchRefcursors=1");
  EXPECT_EQ(Narrow(map[1].provider), "SQLNCLI");
  EXPECT_EQ(Narrow(map[1].driver), "PostgreSQL Unicode");
  EXPECT_EQ(Narrow(map[2].driver), "FreeTDS");  // not named: kept
  EXPECT_EQ(map[3].form, ProviderForm::Dsn);    // named: keeps its form
  EXPECT_EQ(Narrow(map[3].driver), "DB2 Driver");
  EXPECT_EQ(Narrow(map[4].provider), "MYPROV");
  EXPECT_EQ(map[4].form, ProviderForm::SqlServer);
  EXPECT_EQ(Narrow(map[4].failoverKeyword), "Partner_Key");
}

TEST(ApplyProviderOverride, RejectsMalformedValuesAndKeepsTheMap) {
  const char* specs[] = {
      "SQLOLEDB",                      // no driver
      "SQLOLEDB:",                     // empty driver
      "SQLOLEDB,:FreeTDS",             // empty name
      "SQLOLEDB:FreeTDS:a:b:c",        // too many fields
      "SQLOLEDB:FreeTDS:{unclosed",    // attributes do not parse
      "SQLOLEDB:FreeTDS::Key;PWD=x",   // failover keyword smuggling a pair
  };
  for (const char* spec : specs) {
    SCOPED_TRACE(spec);
    ProviderMap map = DefaultProviderMap();
    std::wstring error;
    EXPECT_FALSE(ApplyProviderOverride(spec, &map, &error));
    EXPECT_NE(Narrow(error).find("MORVALE_ADO_PROVIDERS"), std::string::npos);
    EXPECT_EQ(Narrow(map[0].driver), "FreeTDS");
  }
}

TEST(FindProvider, MatchesNameCaseAndVersionSuffix) {
  const ProviderMap map = DefaultProviderMap();
  struct Case {
    const wchar_t* name;
    const char* found;
  };
  const Case cases[] = {{L"SQLOLEDB", "SQLOLEDB"},   {L"sqloledb.1", "SQLOLEDB"},
                        {L"SQLNCLI10", "SQLNCLI10"}, {L"SQLNCLI.10", "SQLNCLI"},
                        {L"SQLOLEDB.x", nullptr},    {L"SQLOLEDB.", nullptr},
                        {L"MSDASQL", nullptr},       {L"", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const ProviderMapping* mapping = FindProvider(map, c.name);
    if (c.found) {
      ASSERT_NE(mapping, nullptr);
      EXPECT_EQ(Narrow(mapping->provider), c.found);
    } else {
      EXPECT_EQ(mapping, nullptr);
    }
  }
}

TEST(ProvidersServedBy, ListsProvidersWhoseDriverIsInstalled) {
  const ProviderMap map = DefaultProviderMap();
  EXPECT_EQ(Narrow(ProvidersServedBy(map, {L"PostgreSQL Unicode", L"freetds"})),
            (std::vector<std::string>{"SQLOLEDB", "SQLNCLI", "SQLNCLI10"}));
  EXPECT_EQ(Narrow(ProvidersServedBy(map, {L"IBM DB2 ODBC DRIVER"})),
            std::vector<std::string>{"IBMDADB2"});
  EXPECT_TRUE(ProvidersServedBy(map, {}).empty());
}

// The machine's own driver manager: the build installs FreeTDS and the
// PostgreSQL drivers, so the SQL Server providers are present, as a rule
// that looks for "SQLNCLI" expects when a suitable driver is installed.
TEST(InstalledProviders, ComeFromTheInstalledOdbcDrivers) {
  const std::vector<std::string> drivers = Narrow(InstalledOdbcDrivers());
  ASSERT_NE(std::find(drivers.begin(), drivers.end(), "FreeTDS"), drivers.end());
  ASSERT_NE(std::find(drivers.begin(), drivers.end(), "PostgreSQL Unicode"), drivers.end());

  const char* saved = std::getenv("MORVALE_ADO_PROVIDERS");
  const std::string restore = saved ? saved : "";
  unsetenv("MORVALE_ADO_PROVIDERS");
  EXPECT_EQ(Narrow(InstalledProviders()),
            (std::vector<std::string>{"SQLOLEDB", "SQLNCLI", "SQLNCLI10"}));
  setenv("MORVALE_ADO_PROVIDERS", "SQLNCLI:No Such Driver", 1);
  EXPECT_EQ(Narrow(InstalledProviders()), (std::vector<std::string>{"SQLOLEDB", "SQLNCLI10"}));
  setenv("MORVALE_ADO_PROVIDERS", "broken", 1);
  EXPECT_TRUE(InstalledProviders().empty());
  if (saved) {
    setenv("MORVALE_ADO_PROVIDERS", restore.c_str(), 1);
  } else {
    unsetenv("MORVALE_ADO_PROVIDERS");
  }
}

}  // namespace
}  // namespace ado
