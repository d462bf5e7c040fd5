// A device object for tests of the configuration database that counts its
// own destruction in a counter the test owns, and keeps the statistics the
// database object writes to it.
//
//   int destroyed = 0;
//   auto* pager = new FakePager(&destroyed);   // or (&destroyed, true): trashed
//   ... pager->stats: (property, value) in call order; pager->saves
//
// Belongs to the test's thread.
#pragma once

#include <utility>
#include <vector>

#include "device/pager_imp.h"

class FakePager : public PagerImp {
 public:
  explicit FakePager(int* destroyed = nullptr, bool trashed = false) : PagerImp(nullptr), destroyed_(destroyed) {
    SetTrashed(trashed);
  }
  ~FakePager() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }

  bool SaveStats() override {
    ++saves;
    return true;
  }
  bool SetHandheldStat6009(std::int32_t value) override { return Stat(0x6009, value); }
  bool SetHandheldStat6008(std::int32_t value) override { return Stat(0x6008, value); }
  bool SetHandheldStat600A(std::int32_t value) override { return Stat(0x600A, value); }
  bool SetHandheldStat6005(std::int32_t value) override { return Stat(0x6005, value); }
  bool SetHandheldStat6006(std::int32_t value) override { return Stat(0x6006, value); }

  std::vector<std::pair<int, std::int32_t>> stats;
  int saves = 0;

 private:
  bool Stat(int property, std::int32_t value) {
    stats.emplace_back(property, value);
    return true;
  }

  int* destroyed_;
};
