// Pager: a user's device object, as the configuration database sees it.
//
// The configuration database object (configdb/pm_database.h) makes one
// device object per cached user through CreatePagerImp, tells it the user's
// id, and keys the user's cached record by it; the record owns the object and
// deletes it unless the object reports itself trashed. This interface holds
// what the configuration database uses of the object: the user id, the
// trashed mark, the rich-content settings that the object queues for the
// database, and the statistics it writes to the user's mailbox.
//
// Threads: a device object is used by the thread that holds the database
// object's user lock for its record, or by its owner's thread.
#pragma once

#include <cstdint>

class PMDatabaseSQLImp;

class Pager {
 public:
  // Whether the object was marked as no longer owned by its user record.
  virtual bool IsTrashed() = 0;
  // The user's UserConfig Id, as the database object set it (0 before).
  virtual void SetUserId(std::int32_t userId) = 0;
  virtual std::int32_t GetUserId() = 0;
  // Saves the statistics store to the user's mailbox.
  virtual bool SaveStats() = 0;

  // Long values of the statistics store.
  virtual bool SetHandheldStat6009(std::int32_t value) = 0;
  virtual bool SetHandheldStat6008(std::int32_t value) = 0;
  virtual bool SetHandheldStat600A(std::int32_t value) = 0;
  virtual bool SetHandheldStat6005(std::int32_t value) = 0;
  virtual bool SetHandheldStat6006(std::int32_t value) = 0;

  // Rich-content settings: kept in the object's own record and queued for
  // the database (cached-value ids 26, 27 and 28).
  virtual bool SetRichContentEnabled(bool enabled) = 0;
  virtual bool SetRichContentInlineEnabled(bool enabled) = 0;
  virtual bool SetRichContentTrainingFileId(std::int32_t fileId) = 0;

  virtual ~Pager() = default;
};

// A new device object of `owner`, user id 0; null when it cannot be
// allocated.
Pager* CreatePagerImp(PMDatabaseSQLImp* owner);
