#include "db/provider_list.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/provider_map_for_tests.h"
#include "platform/com/apartment.h"
#include "platform/com/hresult.h"

namespace {

struct SinkLine {
  int level;
  unsigned eventCode;
  std::wstring text;
  std::string location;
};

std::vector<SinkLine>& Sunk() {
  static std::vector<SinkLine> lines;
  return lines;
}

void Sink(int level, unsigned eventCode, int, int, const wchar_t* text, const char* location,
          int) {
  Sunk().push_back({level, eventCode, text, location});
}

class ProviderListTest : public ::testing::Test {
 protected:
  void SetUp() override { Sunk().clear(); }
};

TEST_F(ProviderListTest, ThreadWithoutComGetsNothingAndTheSinkIsTold) {
  ScopedProviderMap providers(kWithNativeClient);
  EXPECT_TRUE(provider_list(&Sink).empty());
  ASSERT_EQ(Sunk().size(), 1u);
  EXPECT_EQ(Sunk()[0].level, 4);
  EXPECT_EQ(Sunk()[0].eventCode, 0u);
  EXPECT_EQ(Sunk()[0].text, L"CoInitialize has not been called. [-2147221008]");
  EXPECT_EQ(Sunk()[0].location, "provider_list");
  // Without a sink, silently.
  EXPECT_TRUE(provider_list().empty());
  // And the thread is still outside COM.
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

TEST_F(ProviderListTest, ListsTheProvidersOfTheInstalledDriversInMapOrder) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  struct Case {
    const char* map;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {kWithNativeClient, {L"SQLOLEDB", L"SQLNCLI", L"SQLNCLI10"}},
      {kWithoutNativeClient, {L"SQLOLEDB"}},
      {"SQLOLEDB,SQLNCLI,SQLNCLI10:No Such Driver", {}},
      {"malformed", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.map);
    ScopedProviderMap providers(c.map);
    EXPECT_EQ(provider_list(&Sink), c.expected);
  }
  EXPECT_TRUE(Sunk().empty());
  // The caller's initialisation is left as it was: one uninitialise ends it.
  CoUninitialize();
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

TEST_F(ProviderListTest, ASingleThreadedApartmentFailsTheProbeButStillLists) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ScopedProviderMap providers(kWithoutNativeClient);
  EXPECT_EQ(provider_list(&Sink), std::vector<std::wstring>{L"SQLOLEDB"});
  ASSERT_EQ(Sunk().size(), 1u);
  EXPECT_EQ(Sunk()[0].text,
            L"An error occurred during enumerating OLE DB providers - failure during COM "
            L"initialization. [0]");
  CoUninitialize();
}

}  // namespace
