#include "platform/com/com_ptr.h"

#include <gtest/gtest.h>

#include "platform/com/com_error.h"
#include "platform/com/variant.h"

namespace {

struct ICounter : IDispatch {
  // {6E1D2A40-0C11-4F8B-9A7E-3C5D7B2E1F01}
  static constexpr IID kInterfaceId = {0x6E1D2A40, 0x0C11, 0x4F8B,
                                       {0x9A, 0x7E, 0x3C, 0x5D, 0x7B, 0x2E, 0x1F, 0x01}};
  virtual int Next() = 0;
};

struct IOther : IUnknown {
  static constexpr IID kInterfaceId = {0x6E1D2A41, 0x0C11, 0x4F8B,
                                       {0x9A, 0x7E, 0x3C, 0x5D, 0x7B, 0x2E, 0x1F, 0x02}};
};

constexpr CLSID kCounterClass = {0x6E1D2A42, 0x0C11, 0x4F8B,
                                 {0x9A, 0x7E, 0x3C, 0x5D, 0x7B, 0x2E, 0x1F, 0x03}};
constexpr CLSID kUnknownClass = {0x6E1D2A43, 0x0C11, 0x4F8B,
                                 {0x9A, 0x7E, 0x3C, 0x5D, 0x7B, 0x2E, 0x1F, 0x04}};

int liveCounters = 0;

class Counter : public ComObject<ICounter> {
 public:
  Counter() { ++liveCounters; }
  ~Counter() override { --liveCounters; }
  int Next() override { return ++value_; }

 private:
  int value_ = 0;
};

using CounterPtr = _com_ptr_t<ICounter>;

HRESULT ThrownBy(void (*action)()) {
  try {
    action();
  } catch (const _com_error& e) {
    return e.Error();
  }
  return S_OK;
}

class ComPtr : public ::testing::Test {
 protected:
  void SetUp() override {
    ComRegisterClass(kCounterClass, &ComCreateObject<Counter>);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    EXPECT_EQ(liveCounters, 0);
  }
};

TEST_F(ComPtr, NullPointerThrowsInsteadOfCrashing) {
  EXPECT_EQ(ThrownBy([] { CounterPtr p; p->Next(); }), E_POINTER);
  EXPECT_EQ(ThrownBy([] { CounterPtr p; (void)*p; }), E_POINTER);
  EXPECT_EQ(ThrownBy([] { CounterPtr p; p.Release(); }), E_POINTER);
  CounterPtr p;
  EXPECT_TRUE(!p);
  EXPECT_FALSE(p);
  EXPECT_TRUE(p == nullptr);
}

TEST_F(ComPtr, CreatesRegisteredClassesAndCountsReferences) {
  CounterPtr first;
  ASSERT_EQ(first.CreateInstance(kCounterClass), S_OK);
  EXPECT_EQ(liveCounters, 1);
  EXPECT_EQ(first->Next(), 1);
  {
    CounterPtr second = first;  // copy adds a reference
    EXPECT_TRUE(second == first);
    first = nullptr;
    EXPECT_EQ(liveCounters, 1);
    EXPECT_EQ(second->Next(), 2);
  }
  EXPECT_EQ(liveCounters, 0);

  CounterPtr made(kCounterClass);
  ASSERT_TRUE(made);
  ICounter* raw = made.Detach();
  EXPECT_FALSE(made);
  EXPECT_EQ(liveCounters, 1);
  CounterPtr adopted;
  adopted.Attach(raw);  // takes the reference over
  adopted.Release();
  EXPECT_EQ(liveCounters, 0);
}

TEST_F(ComPtr, CreationFailuresAreReported) {
  CounterPtr p;
  EXPECT_EQ(p.CreateInstance(kUnknownClass), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(p);
  ASSERT_EQ(p.CreateInstance(kCounterClass), S_OK);
  _com_ptr_t<IOther> other;
  EXPECT_EQ(other.CreateInstance(kCounterClass), E_NOINTERFACE);
  EXPECT_EQ(liveCounters, 1);  // only p's object remains
  EXPECT_EQ(p.CreateInstance(kCounterClass, p.GetInterfacePtr()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p.CreateInstance(kCounterClass, nullptr, CLSCTX_LOCAL_SERVER),
            REGDB_E_CLASSNOTREG);
}

TEST_F(ComPtr, QueryInterfaceAnswersForEachBase) {
  CounterPtr p(kCounterClass);
  ASSERT_TRUE(p);
  void* out = nullptr;
  ASSERT_EQ(p->QueryInterface(IID_IDispatch, &out), S_OK);
  static_cast<IDispatch*>(out)->Release();
  ASSERT_EQ(p->QueryInterface(IID_IUnknown, &out), S_OK);
  static_cast<IUnknown*>(out)->Release();
  EXPECT_EQ(p->QueryInterface(IOther::kInterfaceId, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  _com_ptr_t<IUnknown> base = _com_ptr_t<IUnknown>(p.GetInterfacePtr());
  EXPECT_EQ(liveCounters, 1);
}

TEST_F(ComPtr, OutParameterAddressDropsTheOldReference) {
  CounterPtr p(kCounterClass);
  ICounter** slot = &p;
  EXPECT_EQ(*slot, nullptr);
  EXPECT_EQ(liveCounters, 0);
}

TEST_F(ComPtr, VariantsHoldObjectReferences) {
  CounterPtr p(kCounterClass);
  {
    _variant_t held(static_cast<IDispatch*>(p.GetInterfacePtr()));
    const _variant_t copy(held);
    p = nullptr;
    EXPECT_EQ(liveCounters, 1);
    _variant_t asUnknown;
    ASSERT_EQ(VariantChangeType(&asUnknown, &copy, 0, VT_UNKNOWN), S_OK);
    IDispatch* back = copy;
    ASSERT_NE(back, nullptr);
    p.Attach(static_cast<ICounter*>(back));
  }
  EXPECT_EQ(liveCounters, 1);
  p = nullptr;
  EXPECT_EQ(liveCounters, 0);
}

}  // namespace
