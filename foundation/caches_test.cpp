#include "foundation/caches.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::int64_t fakeNow = 1000;
std::int64_t FakeClock() { return fakeNow; }

TEST(NameCache, SeededKnownNamesAndBothDirections) {
  NameCache cache;
  EXPECT_EQ(cache.KnownNames(), (std::vector<std::string>{".", "System Administrator"}));
  EXPECT_TRUE(cache.IsKnownName("System Administrator"));
  EXPECT_FALSE(cache.IsKnownName("system administrator"));

  cache.Put(NameCache::kForward, L"jdoe", L"/o=Org/cn=jdoe", 100);
  cache.Put(NameCache::kReverse, L"/o=Org/cn=jdoe", L"jdoe", 100);
  cache.Put(NameCache::kForward, L"jdoe", L"/o=Org/cn=jdoe2", 200);
  std::wstring value;
  EXPECT_TRUE(cache.Find(NameCache::kForward, L"jdoe", &value));
  EXPECT_EQ(value, L"/o=Org/cn=jdoe2");
  EXPECT_FALSE(cache.Find(NameCache::kReverse, L"jdoe", &value));
  EXPECT_TRUE(cache.Find(NameCache::kReverse, L"/o=Org/cn=jdoe", &value));
  EXPECT_EQ(cache.Stats(NameCache::kForward).hits, 1u);
  EXPECT_EQ(cache.Stats(NameCache::kReverse).misses, 1u);
  EXPECT_EQ(cache.Stores(NameCache::kForward), 2);
}

TEST(ExpiringCache, PurgeKeepsOnlyWhatExpiresLaterThanNow) {
  fakeNow = 1000;
  ExpiringCache cache(&FakeClock);
  EXPECT_EQ(cache.created(), 1000);
  cache.AddValues(L"k", {zev::ZEVString(L"old")}, 999);
  cache.AddValues(L"k", {zev::ZEVString(L"now")}, 1000);
  cache.AddValues(L"k", {zev::ZEVString(L"a"), zev::ZEVString(L"b")}, 1001);
  cache.AddValues(L"gone", {zev::ZEVString(L"x")}, 10);
  cache.AddMark(L"k", 2000);
  cache.AddMark(L"m", 500);

  std::vector<zev::ZEVString> values;
  ASSERT_TRUE(cache.FindValues(L"k", &values));
  ASSERT_EQ(values.size(), 2u);
  EXPECT_STREQ(values[1].GetWide(), L"b");
  EXPECT_FALSE(cache.FindValues(L"gone", &values));
  EXPECT_TRUE(cache.HasMark(L"k"));
  EXPECT_FALSE(cache.HasMark(L"m"));

  cache.Purge();
  EXPECT_EQ(cache.ValueEntries(L"k"), 1u);
  EXPECT_EQ(cache.ValueEntries(L"gone"), 0u);
  EXPECT_EQ(cache.MarkEntries(L"k"), 1u);
  EXPECT_EQ(cache.MarkEntries(L"m"), 0u);
  EXPECT_EQ(cache.Stats().hits, 1u);
  EXPECT_EQ(cache.Stats().misses, 1u);
  EXPECT_EQ(cache.ValuesAdded(), 4);
  EXPECT_EQ(cache.MarksAdded(), 2);

  fakeNow = 1001;
  EXPECT_FALSE(cache.FindValues(L"k", &values));
  // What is left is freed by the destructor (the leak checker watches).
}

TEST(ExpiringCache, ManyThreadsAddAndPurgeAtOnce) {
  ExpiringCache cache;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      for (int i = 0; i < 200; ++i) {
        const std::wstring key = L"k" + std::to_wstring(i % 7);
        cache.AddValues(key, {zev::ZEVString(L"v")}, t % 2 == 0 ? 0 : INT64_MAX);
        cache.AddMark(key, 0);
        if (i % 50 == 0) cache.Purge();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  cache.Purge();
  std::size_t left = 0;
  for (int k = 0; k < 7; ++k) left += cache.ValueEntries(L"k" + std::to_wstring(k));
  EXPECT_EQ(left, 400u);
  EXPECT_EQ(cache.ValuesAdded(), 800);
}

}  // namespace
