#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/session_fixture_for_tests.h"

namespace morvale::testing {
namespace {

using namespace std::chrono_literals;

constexpr ULONG kCount = PROP_TAG(PT_LONG, 0x6006);
// Long enough for a loaded machine; the waits end as soon as the condition holds.
constexpr auto kDeadline = 20s;

// Records each notification; OnNotify may be given extra work.
class RecordingSink final : public ComObject<IMAPIAdviseSink> {
 public:
  ULONG OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      for (ULONG i = 0; i < cNotif; ++i) {
        const NOTIFICATION& n = lpNotifications[i];
        EXPECT_EQ(n.ulEventType, fnevObjectModified);
        entryIds_.emplace_back(reinterpret_cast<const char*>(n.info.obj.lpEntryID), n.info.obj.cbEntryID);
        types_.push_back(n.info.obj.ulObjType);
      }
      threads_.push_back(std::this_thread::get_id());
    }
    changed_.notify_all();
    if (work_) work_();
    return 0;
  }

  void SetWork(std::function<void()> work) { work_ = std::move(work); }

  // Waits until `calls` notifications came; false after the deadline.
  bool WaitFor(std::size_t calls) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, kDeadline, [&] { return threads_.size() >= calls; });
  }

  std::size_t Calls() {
    std::lock_guard<std::mutex> hold(lock_);
    return threads_.size();
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> hold(lock_);
    return threads_;
  }
  std::vector<std::string> EntryIds() {
    std::lock_guard<std::mutex> hold(lock_);
    return entryIds_;
  }
  std::vector<ULONG> Types() {
    std::lock_guard<std::mutex> hold(lock_);
    return types_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::thread::id> threads_;
  std::vector<std::string> entryIds_;
  std::vector<ULONG> types_;
  std::function<void()> work_;
};

// A one-shot gate a callback can wait at. Open notifies under the lock, so
// a waiter that returns may destroy the gate at once.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, kDeadline, [&] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = false;
};

class NotificationTest : public MapiSessionTest {
 protected:
  void SetUp() override {
    MapiSessionTest::SetUp();
    session_ = BuildAndLogOn(kMailboxOrganisation);
    store_ = OpenStoreByName(session_, kMailboxName);
    ASSERT_TRUE(store_);
    IMessage* message = nullptr;
    ASSERT_EQ(Root(store_)->CreateMessage(nullptr, 0, &message), S_OK);
    message_.Attach(message);
    ASSERT_EQ(message_->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    auto id = Get(message_, PR_ENTRYID);
    entryId_ = Bytes(id->Value.bin);
  }

  ULONG Advise(IMsgStore* store, IMAPIAdviseSink* sink) {
    ULONG connection = 0;
    EXPECT_EQ(store->Advise(static_cast<ULONG>(entryId_.size()),
                            reinterpret_cast<LPENTRYID>(entryId_.data()), fnevObjectModified, sink,
                            &connection),
              S_OK);
    EXPECT_NE(connection, 0u);
    return connection;
  }

  void Save(IMessage* message, LONG value) {
    ASSERT_EQ(Set(message, LongProp(kCount, value)), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  }

  _com_ptr_t<IMAPISession> session_;
  _com_ptr_t<IMsgStore> store_;
  _com_ptr_t<IMessage> message_;
  std::string entryId_;
};

TEST_F(NotificationTest, EverySaveNotifiesOnceOnTheDispatcherThreadAndNoneAfterUnadvise) {
  _com_ptr_t<RecordingSink> first(new RecordingSink());
  const ULONG connection = Advise(store_, first);
  for (LONG i = 1; i <= 3; ++i) Save(message_, i);
  ASSERT_TRUE(first->WaitFor(3));
  for (std::thread::id thread : first->Threads()) EXPECT_NE(thread, std::this_thread::get_id());
  EXPECT_EQ(first->EntryIds(), std::vector<std::string>(3, entryId_));
  EXPECT_EQ(first->Types(), std::vector<ULONG>(3, MAPI_MESSAGE));

  ASSERT_EQ(store_->Unadvise(connection), S_OK);
  EXPECT_EQ(store_->Unadvise(connection), MAPI_E_NOT_FOUND);
  Save(message_, 4);
  // Notifications go out in order: once the later registration has heard of
  // the next save, the first would have heard of it already.
  _com_ptr_t<RecordingSink> second(new RecordingSink());
  Advise(store_, second);
  Save(message_, 5);
  ASSERT_TRUE(second->WaitFor(1));
  EXPECT_EQ(first->Calls(), 3u);
  EXPECT_EQ(second->Calls(), 1u);
}

TEST_F(NotificationTest, UnadviseDoesNotWaitForACallbackInProgress) {
  Gate entered;
  Gate release;
  Gate finished;
  _com_ptr_t<RecordingSink> sink(new RecordingSink());
  sink->SetWork([&] {
    entered.Open();
    release.Wait();
    finished.Open();
  });
  const ULONG connection = Advise(store_, sink);
  Save(message_, 1);
  ASSERT_TRUE(entered.Wait());
  // The callback is held at the gate; Unadvise returns all the same, and so
  // do other calls of the session.
  EXPECT_EQ(store_->Unadvise(connection), S_OK);
  Save(message_, 2);
  release.Open();
  ASSERT_TRUE(finished.Wait());
  EXPECT_EQ(sink->Calls(), 1u);
}

TEST_F(NotificationTest, ASinkMayUnadviseAndCallTheStoreFromItsCallback) {
  _com_ptr_t<RecordingSink> sink(new RecordingSink());
  ULONG connection = 0;
  Gate done;
  HRESULT unadvised = E_FAIL;
  LONG seen = 0;
  IMsgStore* store = store_;
  sink->SetWork([&] {
    auto message = Get(store, PR_DISPLAY_NAME);  // the store answers inside the callback
    seen = message != nullptr ? 1 : 0;
    unadvised = store->Unadvise(connection);
    done.Open();
  });
  connection = Advise(store_, sink);
  Save(message_, 1);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(unadvised, S_OK);
  EXPECT_EQ(seen, 1);
}

TEST_F(NotificationTest, ASaveThroughAnotherSessionIsNoticed) {
  _com_ptr_t<RecordingSink> sink(new RecordingSink());
  Advise(store_, sink);
  auto other = LogOn("Test");
  auto otherStore = OpenStoreByName(other, kMailboxName);
  auto otherMessage = OpenObject<IMessage>(otherStore, entryId_);
  Save(otherMessage, 7);
  ASSERT_TRUE(sink->WaitFor(1));
  EXPECT_EQ(sink->EntryIds().front(), entryId_);
}

// The last reference to the session can go inside a callback: the
// dispatcher then ends by itself.
TEST_F(NotificationTest, TheSessionMayEndInsideACallback) {
  _com_ptr_t<RecordingSink> sink(new RecordingSink());
  Gate released;
  IMsgStore* kept = store_.Detach();
  sink->SetWork([&] {
    if (kept != nullptr) {
      kept->Release();  // the last reference to this session's objects
      kept = nullptr;
      released.Open();
    }
  });
  Advise(kept, sink);
  message_ = nullptr;
  session_ = nullptr;
  // A second session saves; the first session's dispatcher notices it.
  auto other = LogOn("Test");
  auto otherStore = OpenStoreByName(other, kMailboxName);
  auto otherMessage = OpenObject<IMessage>(otherStore, entryId_);
  Save(otherMessage, 1);
  ASSERT_TRUE(released.Wait());
}

// A device object lets its store go while holding its own lock, and its
// sink's callback waits for that lock: letting the session go must not wait
// for the callback.
TEST_F(NotificationTest, LettingTheSessionGoDoesNotWaitForACallbackInProgress) {
  Gate entered;
  Gate release;
  Gate finished;
  _com_ptr_t<RecordingSink> sink(new RecordingSink());
  sink->SetWork([&] {
    entered.Open();
    release.Wait();
    finished.Open();
  });
  Advise(store_, sink);
  Save(message_, 1);
  ASSERT_TRUE(entered.Wait());
  message_ = nullptr;
  store_ = nullptr;
  session_ = nullptr;  // the last reference: returns while the callback still waits
  release.Open();
  ASSERT_TRUE(finished.Wait());
}

TEST_F(NotificationTest, AdviseWantsOneObjectOfTheStore) {
  _com_ptr_t<RecordingSink> sink(new RecordingSink());
  ULONG connection = 0;
  EXPECT_EQ(store_->Advise(0, nullptr, fnevObjectModified, sink, &connection), MAPI_E_NO_SUPPORT);
  EXPECT_EQ(store_->Advise(static_cast<ULONG>(entryId_.size()), reinterpret_cast<LPENTRYID>(entryId_.data()),
                           fnevObjectModified, nullptr, &connection),
            MAPI_E_INVALID_PARAMETER);
  auto other = OpenDefaultStore(session_);
  EXPECT_EQ(other->Advise(static_cast<ULONG>(entryId_.size()), reinterpret_cast<LPENTRYID>(entryId_.data()),
                          fnevObjectModified, sink, &connection),
            MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(store_->Unadvise(12345), MAPI_E_NOT_FOUND);
}

}  // namespace
}  // namespace morvale::testing
