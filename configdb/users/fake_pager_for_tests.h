// A device object for tests of the configuration database: it keeps its user
// id and trashed mark, counts its own destruction in a counter the test
// owns, and fails every mailbox operation.
//
//   int destroyed = 0;
//   auto* pager = new FakePager(&destroyed);
//
// Belongs to the test's thread.
#pragma once

#include <cstdint>

#include "device/pager.h"

class FakePager : public Pager {
 public:
  explicit FakePager(int* destroyed = nullptr, bool trashed = false) : destroyed_(destroyed), trashed_(trashed) {}
  ~FakePager() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }

  bool IsTrashed() override { return trashed_; }
  void SetTrashed(bool trashed) { trashed_ = trashed; }
  void SetUserId(std::int32_t userId) override { userId_ = userId; }
  std::int32_t GetUserId() override { return userId_; }
  bool SaveStats() override { return false; }
  bool SetHandheldStat6009(std::int32_t) override { return false; }
  bool SetHandheldStat6008(std::int32_t) override { return false; }
  bool SetHandheldStat600A(std::int32_t) override { return false; }
  bool SetHandheldStat6005(std::int32_t) override { return false; }
  bool SetHandheldStat6006(std::int32_t) override { return false; }
  bool SetRichContentEnabled(bool) override { return false; }
  bool SetRichContentInlineEnabled(bool) override { return false; }
  bool SetRichContentTrainingFileId(std::int32_t) override { return false; }

 private:
  int* destroyed_;
  bool trashed_;
  std::int32_t userId_ = 0;
};
