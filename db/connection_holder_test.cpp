#include "db/connection_holder.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "db/connection_pool.h"
#include "platform/com/hresult.h"
#include "platform/win32/sync.h"
#include "db/test_support_for_tests.h"

namespace {

// Runs `body` on a thread of its own, so each case starts outside any
// apartment.
template <typename F>
void OnFreshThread(F body) {
  std::thread thread(body);
  thread.join();
}

// Whether the calling thread is outside any apartment: a first
// CoInitializeEx there answers S_OK (and is undone at once).
bool OutsideApartment() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr == S_OK;
}

TEST(ComInitializer, SameModelTwiceInitialisesOnce) {
  OnFreshThread([] {
    {
      ComInitializer com(COINIT_MULTITHREADED, false, true);
      EXPECT_TRUE(com.IsInitialized());
      com.Initialize(COINIT_MULTITHREADED, true);
      com.Uninitialize();
      EXPECT_FALSE(com.IsInitialized());
      EXPECT_TRUE(OutsideApartment());
    }
    EXPECT_TRUE(OutsideApartment());
  });
}

TEST(ComInitializer, AThreadAlreadyInitialisedGetsItsMatchingUninitialize) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      ComInitializer com(COINIT_APARTMENTTHREADED, false, true);  // S_FALSE
      EXPECT_TRUE(com.IsInitialized());
    }
    // The thread's own call is still in force.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_TRUE(OutsideApartment());
  });
}

TEST(ComInitializer, AnotherModelThrowsAndKeepsTheHeldInitialisation) {
  OnFreshThread([] {
    {
      ComInitializer com(COINIT_MULTITHREADED, false, true);
      try {
        com.Initialize(COINIT_APARTMENTTHREADED, true);
        ADD_FAILURE() << "no exception";
      } catch (const init_exception& e) {
        EXPECT_EQ(e.hr(), RPC_E_CHANGED_MODE);
        EXPECT_EQ(std::string(e.what()).rfind("A previous call to CoInitializeEx specified a different", 0), 0u);
        const init_exception copy(e);
        EXPECT_EQ(copy.hr(), e.hr());
        EXPECT_STREQ(copy.what(), e.what());
      }
      EXPECT_TRUE(com.IsInitialized());
      com.Initialize(COINIT_APARTMENTTHREADED, false);  // quietly refused
      EXPECT_TRUE(com.IsInitialized());
    }
    // The one successful call was undone.
    EXPECT_TRUE(OutsideApartment());
  });
}

TEST(ComInitializer, DeferredAndFailedWithoutThrowing) {
  OnFreshThread([] {
    ComInitializer deferred(COINIT_MULTITHREADED, true, true);
    EXPECT_FALSE(deferred.IsInitialized());
    ComInitializer bad(0x100, false, false);  // unknown flag: E_INVALIDARG
    EXPECT_FALSE(bad.IsInitialized());
    EXPECT_THROW(bad.Initialize(0x100, true), init_exception);
    EXPECT_TRUE(OutsideApartment());
  });
}

// The pool's 600-second semaphore wait gives up after 100 ms.
DWORD ShortAbandonWait(DWORD milliseconds) { return milliseconds == 600000 ? 100 : milliseconds; }

class ConnectionHolderTest : public ComDatabaseTest {
 protected:
  void SetUp() override {
    ComDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    previousWait_ = SetWaitTimeoutHookForTesting(ShortAbandonWait);
    const std::wstring& ado = database().ado_connection_string();
    ASSERT_TRUE(GetConnectionPool().InitializePool(2, ado, 0, false, true));
  }
  void TearDown() override {
    if (ComReady()) {
      GetConnectionPool().ReleasePool(true);
      SetWaitTimeoutHookForTesting(previousWait_);
    }
    ComDatabaseTest::TearDown();
  }
  WaitTimeoutHook previousWait_ = nullptr;
};

TEST_F(ConnectionHolderTest, ALazyHolderHoldsAndReleasesNothing) {
  ConnectionHolder lazy(true);
  EXPECT_EQ(lazy.get(), nullptr);
  EXPECT_FALSE(lazy.Release());
}

TEST_F(ConnectionHolderTest, ReleasingTwiceGivesTheConnectionBackOnce) {
  ConnectionHolder kept;
  ASSERT_NE(kept.get(), nullptr);
  EXPECT_EQ(kept->GetConnection()->GetState(), ado::adStateOpen);
  {
    ConnectionHolder twice;
    ASSERT_NE(twice.get(), nullptr);
    EXPECT_TRUE(twice.Release());
    EXPECT_EQ(twice.get(), nullptr);
    EXPECT_FALSE(twice.Release());
  }  // and the destructor gives nothing back either
  // With one of two connections still out, exactly one more can be had.
  ConnectionHolder second;
  EXPECT_NE(second.get(), nullptr);
  ConnectionHolder third;  // gives up after the (shortened) abandon time
  EXPECT_EQ(third.get(), nullptr);
}

}  // namespace
