// PagerImp: the device object of one user of an opened configuration
// database. It keeps the user's id, the trashed mark, a record of the
// user's settings of its own (no owner, user id 0 at construction) and the
// settings it queued for the database (CachedValueItem, written by the next
// reconciliation with the database).
//
// The mailbox side (the property stores of the user's hidden settings
// messages) is not held here yet: the statistics setters and SaveStats fail.
//
// Threads: one thread at a time (see device/pager.h).
#pragma once

#include "configdb/users/cached_value.h"
#include "configdb/users/pager_record.h"
#include "device/pager.h"

class PagerImp : public Pager {
 public:
  // Does no I/O.
  explicit PagerImp(PMDatabaseSQLImp* owner);
  ~PagerImp() override = default;
  PagerImp(const PagerImp&) = delete;
  PagerImp& operator=(const PagerImp&) = delete;

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

  bool SetRichContentEnabled(bool enabled) override;
  bool SetRichContentInlineEnabled(bool enabled) override;
  bool SetRichContentTrainingFileId(std::int32_t fileId) override;

  PMDatabaseSQLImp* GetOwner() const { return owner_; }
  const PagerRecord& GetRecord() const { return record_; }
  const CachedValueItemVector& GetPendingItems() const { return pendingItems_; }

 private:
  PMDatabaseSQLImp* owner_;
  PagerRecord record_{nullptr, 0};
  std::int32_t userId_ = 0;
  bool trashed_ = false;
  CachedValueItemVector pendingItems_;
};
