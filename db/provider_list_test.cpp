#include "db/provider_list.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/provider_map_for_tests.h"
#include "db/test_support_for_tests.h"
#include "platform/com/apartment.h"
#include "platform/com/hresult.h"

namespace {


class ProviderListTest : public ::testing::Test {
 protected:
  void SetUp() override { SinkLines().clear(); }
};

TEST_F(ProviderListTest, ThreadWithoutComGetsNothingAndTheSinkIsTold) {
  ScopedProviderMap providers(kWithNativeClient);
  EXPECT_TRUE(provider_list(&RecordingSink).empty());
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_EQ(SinkLines()[0].level, 4);
  EXPECT_EQ(SinkLines()[0].eventCode, 0u);
  EXPECT_EQ(SinkLines()[0].text, L"CoInitialize has not been called. [-2147221008]");
  EXPECT_EQ(SinkLines()[0].location, "provider_list");
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
    EXPECT_EQ(provider_list(&RecordingSink), c.expected);
  }
  EXPECT_TRUE(SinkLines().empty());
  // The caller's initialisation is left as it was: one uninitialise ends it.
  CoUninitialize();
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

TEST_F(ProviderListTest, ASingleThreadedApartmentFailsTheProbeButStillLists) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ScopedProviderMap providers(kWithoutNativeClient);
  EXPECT_EQ(provider_list(&RecordingSink), std::vector<std::wstring>{L"SQLOLEDB"});
  ASSERT_EQ(SinkLines().size(), 1u);
  EXPECT_EQ(SinkLines()[0].text,
            L"An error occurred during enumerating OLE DB providers - failure during COM "
            L"initialization. [0]");
  CoUninitialize();
}

}  // namespace
