// Pager: a user's device object, bound to the user's record in the
// configuration database and to a hidden folder in the user's mailbox.
//
// The configuration database object (configdb/pm_database.h) makes one
// device object per cached user through CreatePagerImp, tells it the user's
// id, and keys the user's cached record by it; the record owns the object and
// deletes it unless the object reports itself trashed. Making the object
// does no I/O: the mailbox is touched only when a host opens the object on
// the user's message store.
//
// The mailbox side: under the root folder of the user's store, the folder
// "QuorrelHandheldInfo" holds one message of class
// "ZEV.Quorrel.Handheld.Config" (the device's settings) and one of class
// "ZEV.Quorrel.Handheld.Stats" (its statistics). Open finds (or, when
// asked, creates) them and loads both into memory; the accessors read and
// write the copies; SaveChanges, SaveStats, Reload, LoadStats and Refresh
// move them between memory and the mailbox; Reset deletes the folder so that
// the next Open with create builds it afresh.
//
// Results: operations return a success flag (Open a result code) and log
// the details; nothing is thrown to the caller.
//
// Threads: Open, Close, Reset, IsOpen and PingMailbox take the object's own
// (re-entrant) lock; the accessors, SaveChanges, SaveStats, Reload,
// LoadStats and Refresh rely on the locks of the two property stores. The
// user id and the trashed mark are set by the configuration database while
// it holds its user lock and read under the same lock.
#pragma once

#include <cstdint>

class PMDatabase;
class PagerImp;
struct IMsgStore;

// The host's receiver of changes to a device object's configuration
// message in the mailbox; told with the cookie its registration was made
// with and no further data.
class PagerChangeListener {
 public:
  virtual void OnPagerChange(std::int32_t cookie, void* data) = 0;

 protected:
  ~PagerChangeListener() = default;
};

class Pager {
 public:
  // Result codes of Open.
  enum OpenResult : int {
    kOpened = 0,
    kBadFolderContents = 3,  // not exactly one message of each class, or a load failed
    kNoFolder = 6,           // no hidden folder, and create was false
    kMapiFailed = 7,
    kNoStoreOrMemory = 8,
  };

  // Binds the object to `store` (one reference held until Close), finds the
  // hidden folder and its two messages, creating them first when `create`
  // is true and they are missing, and loads both. Closes the object first;
  // on any result but kOpened the object ends closed. `skipSync` asks for no
  // reconciliation with the database.
  virtual int Open(IMsgStore* store, bool create, bool skipSync) = 0;
  // Drops the listener, the loaded values and the store.
  virtual void Close() = 0;
  virtual bool IsOpen() = 0;
  // Deletes the hidden folder of `store` with its messages; true also when
  // there is none.
  virtual bool DeleteHandheldInfoFolder(IMsgStore* store) = 0;
  // As Close, but keeps the store and deletes the hidden folder from it.
  virtual bool Reset() = 0;
  // Sets the listener told of changes to the configuration message.
  virtual bool EnableNotifications(PagerChangeListener* listener) = 0;
  // The trashed mark: set when the user's record no longer owns the object.
  virtual void SetTrashed(bool trashed) = 0;
  virtual bool IsTrashed() = 0;
  virtual PagerImp* GetPagerImp() = 0;
  // Creation time of the configuration message, seconds since 1970 (0
  // until an Open found it).
  virtual std::int64_t GetMessageCreationTime() = 0;
  // A free integer kept for callers (0 at first).
  virtual void SetAuxValue(std::int32_t value) = 0;
  virtual std::int32_t GetAuxValue() = 0;
  // The user's UserConfig Id, as the database object set it (0 before).
  virtual void SetUserId(std::int32_t userId) = 0;
  virtual std::int32_t GetUserId() = 0;
  // Writes the changed settings and statistics to the mailbox.
  virtual bool SaveChanges() = 0;
  // Reload, then LoadStats.
  virtual bool Refresh() = 0;
  // Re-reads the settings from the mailbox, keeping unsaved changes.
  virtual bool Reload() = 0;
  // Re-reads the statistics.
  virtual bool LoadStats() = 0;
  // Writes the changed statistics.
  virtual bool SaveStats() = 0;
  // A cheap round trip to the user's store; false when none is held.
  virtual bool PingMailbox() = 0;

  // Settings accessors.
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
// allocated. Does no I/O.
Pager* CreatePagerImp(PMDatabase* owner);
