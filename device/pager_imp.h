// PagerImp: the device object of one user of an opened configuration
// database (the only implementation of device/pager.h).
//
// It binds the user's message store, the entry ids of the two hidden
// messages and their property stores (device/pager_property_store.h), a
// record of the user's settings of its own (no owner, user id 0; made by the
// first setting it keeps, since a server holds one object per user and most
// never keep one) and the settings it queued for the database
// (CachedValueItem). The store, both entry ids and both property stores are
// either all present (the object is open) or all absent.
//
// Threads: see device/pager.h. The object's lock guards the store, the entry
// ids and the listener; it is re-entrant for its owner thread, which Open
// relies on (it closes the object while holding it).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "configdb/users/cached_value.h"
#include "configdb/users/pager_record.h"
#include "device/pager.h"
#include "device/pager_property_store.h"
#include "foundation/critical_section.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi.h"

class PagerImp : public Pager {
 public:
  // Does no I/O.
  explicit PagerImp(PMDatabase* owner);
  // Closes the object.
  ~PagerImp() override;
  PagerImp(const PagerImp&) = delete;
  PagerImp& operator=(const PagerImp&) = delete;

  int Open(IMsgStore* store, bool create, bool skipSync) override;
  void Close() override;
  bool IsOpen() override;
  bool DeleteHandheldInfoFolder(IMsgStore* store) override;
  bool Reset() override;
  // Stores the listener. Registering it with the store is not done here:
  // the result is true only for a null listener on an object that holds a
  // store (nothing is left registered), false otherwise.
  bool EnableNotifications(PagerChangeListener* listener) override;
  void SetTrashed(bool trashed) override { trashed_ = trashed; }
  bool IsTrashed() override { return trashed_; }
  PagerImp* GetPagerImp() override { return this; }
  std::int64_t GetMessageCreationTime() override { return creationTime_; }
  void SetAuxValue(std::int32_t value) override { auxValue_ = value; }
  std::int32_t GetAuxValue() override { return auxValue_; }
  void SetUserId(std::int32_t userId) override { userId_ = userId; }
  std::int32_t GetUserId() override { return userId_; }
  bool SaveChanges() override;
  bool Refresh() override;
  bool Reload() override;
  bool LoadStats() override;
  bool SaveStats() override;
  bool PingMailbox() override;

  bool SetHandheldStat6009(std::int32_t value) override;
  bool SetHandheldStat6008(std::int32_t value) override;
  bool SetHandheldStat600A(std::int32_t value) override;
  bool SetHandheldStat6005(std::int32_t value) override;
  bool SetHandheldStat6006(std::int32_t value) override;

  bool SetRichContentEnabled(bool enabled) override;
  bool SetRichContentInlineEnabled(bool enabled) override;
  bool SetRichContentTrainingFileId(std::int32_t fileId) override;

  // Logs, as message 41079 with the user's e-mail address, the value
  // indices of the saved configuration properties and, when given, their
  // size in bytes. Nothing for an empty set.
  void LogSavedProperties(const std::set<ULONG>& saved, const std::uint64_t* size);

  PMDatabase* GetOwner() const { return owner_; }
  // The object's own record; one with every field at its default until a
  // setting is kept.
  const PagerRecord& GetRecord() const;
  const CachedValueItemVector& GetPendingItems() const { return pendingItems_; }
  PagerPropertyStore& GetConfigStore() { return configStore_; }
  PagerPropertyStore& GetStatsStore() { return statsStore_; }
  PagerChangeListener* GetListener();

 private:
  // Open's work, under the lock; the result code.
  int OpenLocked(IMsgStore* store, bool create);
  // Drops the listener, the loaded values and the entry ids; keeps the store.
  void ForgetMailbox();
  // The own record, made on first use.
  PagerRecord& OwnRecord();

  PMDatabase* owner_;
  _com_ptr_t<IMsgStore> store_;
  std::vector<BYTE> configEntryId_;
  PagerPropertyStore configStore_;
  std::vector<BYTE> statsEntryId_;
  PagerPropertyStore statsStore_;
  std::unique_ptr<PagerRecord> record_;
  PagerChangeListener* listener_ = nullptr;
  std::int64_t creationTime_ = 0;
  std::int32_t auxValue_ = 0;
  std::int32_t userId_ = 0;
  bool trashed_ = false;
  CachedValueItemVector pendingItems_;
  CriticalSection lock_;
};

// The text LogSavedProperties logs after the e-mail address: the indices in
// ascending order joined by ", " (cut once it passes 354 characters), then
// " Size = N" when a size is given; at most 359 characters.
std::string SavedPropertiesText(const std::set<ULONG>& saved, const std::uint64_t* size);
