#include "platform/com/apartment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct IProbe : IUnknown {
  static constexpr IID kInterfaceId = {0x1B3C5D7E, 0x2A4B, 0x4C6D,
                                       {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};
};
constexpr CLSID kProbeClass = {0x1B3C5D7F, 0x2A4B, 0x4C6D,
                               {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x66}};
class Probe : public ComObject<IProbe> {};

// Creates and drops one object; the HRESULT of the creation.
HRESULT CreateProbe() {
  void* object = nullptr;
  const HRESULT hr = CoCreateInstance(kProbeClass, nullptr, CLSCTX_ALL, IProbe::kInterfaceId,
                                      &object);
  if (SUCCEEDED(hr)) static_cast<IUnknown*>(object)->Release();
  return hr;
}

// Runs `body` on a thread of its own and waits for it.
void OnNewThread(const std::function<void()>& body) { std::thread(body).join(); }

TEST(Apartment, CountsCallsOfOneModelAndRefusesTheOther) {
  OnNewThread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Still inside: the refused calls were not counted.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Left entirely, so the model may change now.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // unbalanced: nothing happens
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
}

TEST(Apartment, RejectsBadArguments) {
  OnNewThread([] {
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // nothing was counted
    CoUninitialize();
  });
}

TEST(Apartment, EachThreadHasItsOwnModel) {
  std::mutex mutex;
  std::condition_variable changed;
  int entered = 0;
  bool release = false;
  std::vector<HRESULT> results(4);
  auto worker = [&](int slot, DWORD model) {
    results[slot] = CoInitializeEx(nullptr, model);
    std::unique_lock<std::mutex> lock(mutex);
    ++entered;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    lock.unlock();
    CoUninitialize();
  };
  std::vector<std::thread> threads;
  threads.emplace_back(worker, 0, COINIT_MULTITHREADED);
  threads.emplace_back(worker, 1, COINIT_APARTMENTTHREADED);
  threads.emplace_back(worker, 2, COINIT_MULTITHREADED);
  threads.emplace_back(worker, 3, COINIT_APARTMENTTHREADED);
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return entered == 4; });
    release = true;
    changed.notify_all();
  }
  for (auto& t : threads) t.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
}

TEST(Apartment, CreationNeedsAnApartmentOrTheProcessMultithreadedOne) {
  ComRegisterClass(kProbeClass, &ComCreateObject<Probe>);
  OnNewThread([] { EXPECT_EQ(CreateProbe(), CO_E_NOTINITIALIZED); });
  OnNewThread([] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CreateProbe(), S_OK);
    CoUninitialize();
    EXPECT_EQ(CreateProbe(), CO_E_NOTINITIALIZED);
  });

  // While one thread is in the multithreaded apartment, a thread without an
  // apartment of its own uses it implicitly.
  std::mutex mutex;
  std::condition_variable changed;
  enum { kStarting, kInside, kLeave, kLeft } state = kStarting;
  std::thread member([&] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    std::unique_lock<std::mutex> lock(mutex);
    state = kInside;
    changed.notify_all();
    changed.wait(lock, [&] { return state == kLeave; });
    CoUninitialize();
    state = kLeft;
    changed.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [&] { return state == kInside; });
  OnNewThread([] { EXPECT_EQ(CreateProbe(), S_OK); });
  state = kLeave;
  changed.notify_all();
  changed.wait(lock, [&] { return state == kLeft; });
  lock.unlock();
  member.join();
  OnNewThread([] { EXPECT_EQ(CreateProbe(), CO_E_NOTINITIALIZED); });
}

class OtherProbe : public ComObject<IProbe> {};
std::atomic<int> otherProbesMade{0};

HRESULT CreateOtherProbe(REFIID iid, void** object) {
  ++otherProbesMade;
  return ComCreateObject<OtherProbe>(iid, object);
}

// Registering again replaces the creator; creations running meanwhile on
// other threads see either creator and never fail, and classes registered
// meanwhile are found.
TEST(Apartment, ARegistrationReplacesTheCreatorWhileOtherThreadsCreate) {
  ComRegisterClass(kProbeClass, &ComCreateObject<Probe>);
  struct Inside {
    Inside() { EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    ~Inside() { CoUninitialize(); }
  } inside;
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> creators;
  for (int t = 0; t < 4; ++t) {
    creators.emplace_back([&] {
      while (!stop.load()) {
        if (FAILED(CreateProbe())) ++failures;
      }
    });
  }
  for (std::uint32_t i = 0; i < 200; ++i) {
    CLSID other = kProbeClass;
    other.Data1 = 0x2B000000u + i;
    ComRegisterClass(other, &ComCreateObject<Probe>);
    ComRegisterClass(kProbeClass, i % 2 == 0 ? &CreateOtherProbe : &ComCreateObject<Probe>);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_ALL, IProbe::kInterfaceId, &object), S_OK) << i;
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
  }
  stop = true;
  for (std::thread& creator : creators) creator.join();
  EXPECT_EQ(failures.load(), 0);

  ComRegisterClass(kProbeClass, &CreateOtherProbe);
  const int before = otherProbesMade.load();
  EXPECT_EQ(CreateProbe(), S_OK);
  EXPECT_EQ(otherProbesMade.load(), before + 1);
  ComRegisterClass(kProbeClass, &ComCreateObject<Probe>);
  EXPECT_EQ(CreateProbe(), S_OK);
  EXPECT_EQ(otherProbesMade.load(), before + 1);
}

TEST(Apartment, AThreadThatEndsInsideLeavesTheMultithreadedApartment) {
  ComRegisterClass(kProbeClass, &ComCreateObject<Probe>);
  OnNewThread([] { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); });
  OnNewThread([] { EXPECT_EQ(CreateProbe(), CO_E_NOTINITIALIZED); });
}

}  // namespace
