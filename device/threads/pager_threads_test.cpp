// Device objects used from several threads at once: two users' objects
// saving and reloading in parallel, and one object whose settings are read
// and reloaded on one thread while another writes and saves them. A
// program of its own so that it runs under ThreadSanitizer too.
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "device/mailbox_fixture_for_tests.h"
#include "device/pager_imp.h"

namespace morvale::testing {
namespace {

constexpr int kRounds = 15;

class PagerThreadsTest : public DeviceMailboxTest {};

// Writes, saves, reloads and checks `rounds` times; false at the first
// surprise.
bool Exercise(PagerImp& pager, const std::string& name) {
  for (int i = 1; i <= kRounds; ++i) {
    const std::string text = name + " " + std::to_string(i);
    if (!pager.GetConfigStore().SetString(kText, text.c_str()) || !pager.GetConfigStore().SetLong(kLong, i) ||
        !pager.GetStatsStore().Increment(kStat6009) || !pager.SaveChanges() || !pager.Refresh()) {
      return false;
    }
    char read[64];
    std::int32_t number = 0;
    std::int32_t count = 0;
    if (!pager.GetConfigStore().GetString(kText, read, sizeof read) || text != read ||
        !pager.GetConfigStore().GetLong(kLong, &number) || number != i ||
        !pager.GetStatsStore().GetLong(kStat6009, &count) || count != i) {
      return false;
    }
  }
  return true;
}

TEST_F(PagerThreadsTest, TwoUsersObjectsWorkOnTheirMailboxesInParallel) {
  // Each user's object on a session and store of its own, as a host opens
  // them by the mailbox's distinguished name.
  auto aliceSession = LogOn("Test");
  auto bobSession = LogOn("Test");
  auto aliceStore = OpenStoreByName(aliceSession, kAliceMailbox);
  auto bobStore = OpenStoreByName(bobSession, kBobMailbox);
  PagerImp alice(nullptr);
  PagerImp bob(nullptr);
  alice.SetUserId(1);
  bob.SetUserId(2);

  std::atomic<bool> aliceOk{false};
  std::atomic<bool> bobOk{false};
  std::thread first([&] { aliceOk = alice.Open(aliceStore, true, true) == Pager::kOpened && Exercise(alice, "alice"); });
  std::thread second([&] { bobOk = bob.Open(bobStore, true, true) == Pager::kOpened && Exercise(bob, "bob"); });
  first.join();
  second.join();
  EXPECT_TRUE(aliceOk);
  EXPECT_TRUE(bobOk);

  // Each mailbox holds its own user's last values.
  const struct {
    const char* mailbox;
    const char* text;
  } expected[] = {{kAliceMailbox, "alice 15"}, {kBobMailbox, "bob 15"}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.mailbox);
    PagerImp reader(nullptr);
    ASSERT_EQ(reader.Open(OpenStoreByName(session_, e.mailbox), false, true), Pager::kOpened);
    char text[64];
    EXPECT_TRUE(reader.GetConfigStore().GetString(kText, text, sizeof text));
    EXPECT_STREQ(text, e.text);
  }
}

TEST_F(PagerThreadsTest, OneObjectIsReadAndReloadedWhileAnotherThreadSavesIt) {
  PagerImp pager(nullptr);
  ASSERT_EQ(pager.Open(store_, true, true), Pager::kOpened);
  std::atomic<bool> writing{true};
  std::atomic<bool> writerOk{true};
  std::thread writer([&] {
    for (int i = 1; i <= kRounds; ++i) {
      if (!pager.GetConfigStore().SetLong(kLong, i) || !pager.SaveChanges()) writerOk = false;
    }
    writing = false;
  });
  int reads = 0;
  bool inRange = true;
  while (writing || reads == 0) {
    std::int32_t number = 0;
    pager.GetConfigStore().GetLong(kLong, &number);
    inRange = inRange && number >= 0 && number <= kRounds;
    pager.Reload();
    pager.IsOpen();
    ++reads;
  }
  writer.join();
  EXPECT_TRUE(writerOk);
  EXPECT_TRUE(inRange);
  ASSERT_TRUE(pager.Reload());
  std::int32_t number = 0;
  EXPECT_TRUE(pager.GetConfigStore().GetLong(kLong, &number));
  EXPECT_EQ(number, kRounds);
}

}  // namespace
}  // namespace morvale::testing
