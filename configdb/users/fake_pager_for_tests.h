// A device object for tests of the configuration database that counts its
// own destruction in a counter the test owns.
//
//   int destroyed = 0;
//   auto* pager = new FakePager(&destroyed);   // or (&destroyed, true): trashed
//
// Belongs to the test's thread.
#pragma once

#include "device/pager_imp.h"

class FakePager : public PagerImp {
 public:
  explicit FakePager(int* destroyed = nullptr, bool trashed = false) : PagerImp(nullptr), destroyed_(destroyed) {
    SetTrashed(trashed);
  }
  ~FakePager() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }

 private:
  int* destroyed_;
};
