#include "device/pager_imp.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "configdb/pm_database.h"
#include "device/mailbox.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/time_convert.h"

namespace {

constexpr unsigned kEventWrongMessageCount = 0x6FFF9CDEu;  // message 40158
constexpr unsigned kEventNoMessageClass = 0x6FFF9CDFu;     // message 40159
constexpr unsigned kEventSavedProperties = 0x6FFFA077u;    // message 41079

// Statistics counters written by the configuration database.
constexpr ULONG kStat6005 = 0x60050003;
constexpr ULONG kStat6006 = 0x60060003;
constexpr ULONG kStat6008 = 0x60080003;
constexpr ULONG kStat6009 = 0x60090003;
constexpr ULONG kStat600A = 0x600A0003;

// The most characters of the saved-properties text.
constexpr std::size_t kSavedTextChars = 359;
// The index list stops after the entry that takes it past this length.
constexpr std::size_t kSavedListChars = 354;
// The most characters of the e-mail address read for the log line.
constexpr int kEmailAddressChars = 128;

struct RowsFree {
  void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using OwnedRows = std::unique_ptr<SRowSet, RowsFree>;

// Every message of the hidden folder's contents table, oldest first, with
// entry id, class and creation time.
HRESULT QueryMessages(IMAPITable* table, OwnedRows* rows) {
  SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_MESSAGE_CLASS_A, PR_CREATION_TIME}};
  SizedSSortOrderSet(1, order) = {1, 0, 0, {{PR_CREATION_TIME, TABLE_SORT_ASCEND}}};
  LPSRowSet raw = nullptr;
  const HRESULT hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                    reinterpret_cast<LPSSortOrderSet>(&order), 0, &raw);
  rows->reset(raw);
  if (FAILED(hr)) {
    LogLastMapiError(table, hr);
    return hr;
  }
  return raw != nullptr ? S_OK : MAPI_E_CALL_FAILED;
}

// Logs and frees the extended error a property store kept.
void LogStoreError(PagerPropertyStore& store) {
  MAPIERROR* error = nullptr;
  if (store.TakeLastError(&error)) LogAndFreeMapiError(S_OK, &error);
}

}  // namespace

Pager* CreatePagerImp(PMDatabase* owner) { return new (std::nothrow) PagerImp(owner); }

PagerImp::PagerImp(PMDatabase* owner) : owner_(owner) {}

PagerImp::~PagerImp() {
  Close();
  owner_ = nullptr;
}

int PagerImp::Open(IMsgStore* store, bool create, bool /*skipSync*/) {
  // The reconciliation with the database that follows an Open is not made
  // by this object yet, so skipSync changes nothing here.
  ScopedLock hold(&lock_);
  int result = kNoStoreOrMemory;
  try {
    result = OpenLocked(store, create);
  } catch (...) {
    result = kNoStoreOrMemory;
  }
  if (result != kOpened) Close();
  return result;
}

int PagerImp::OpenLocked(IMsgStore* store, bool create) {
  Close();
  if (store == nullptr) return kNoStoreOrMemory;
  store_ = store;

  _com_ptr_t<IMAPIFolder> root;
  if (FAILED(OpenRootFolder(store, &root)) || !root) return kMapiFailed;
  _com_ptr_t<IMAPIFolder> folder;
  HRESULT hr = OpenOrCreateFolder(root, kHandheldInfoFolderName, create, &folder);
  if (hr == MAPI_E_NOT_FOUND) return kNoFolder;
  if (FAILED(hr) || !folder) return kMapiFailed;

  _com_ptr_t<IMAPITable> table;
  hr = folder->GetContentsTable(0, &table);
  if (FAILED(hr)) {
    LogLastMapiError(folder.GetInterfacePtr(), hr);
    return kMapiFailed;
  }
  OwnedRows rows;
  if (FAILED(QueryMessages(table, &rows))) return kMapiFailed;
  if (rows->cRows == 0 && create) {
    rows.reset();
    std::vector<BYTE> created;
    if (FAILED(CreateMessageOfClass(folder, kHandheldConfigClass, &created)) ||
        FAILED(CreateMessageOfClass(folder, kHandheldStatsClass, &created)) ||
        FAILED(QueryMessages(table, &rows))) {
      return kMapiFailed;
    }
  }
  if (rows->cRows != 2) {
    LogEvent(4, kEventWrongMessageCount, LoadResString(kEventWrongMessageCount), static_cast<int>(rows->cRows));
    return kBadFolderContents;
  }

  for (ULONG i = 0; i < rows->cRows; ++i) {
    const SRow& row = rows->aRow[i];
    if (row.cValues < 3 || row.lpProps[1].ulPropTag != PR_MESSAGE_CLASS_A || row.lpProps[1].Value.lpszA == nullptr) {
      LogEvent(4, kEventNoMessageClass, LoadResString(kEventNoMessageClass));
      continue;
    }
    const SPropValue& entryId = row.lpProps[0];
    const bool hasEntryId = entryId.ulPropTag == PR_ENTRYID && entryId.Value.bin.lpb != nullptr &&
                            entryId.Value.bin.cb > 0;
    const char* messageClass = row.lpProps[1].Value.lpszA;
    if (std::strcmp(messageClass, kHandheldConfigClass) == 0) {
      if (hasEntryId) configEntryId_.assign(entryId.Value.bin.lpb, entryId.Value.bin.lpb + entryId.Value.bin.cb);
      if (row.lpProps[2].ulPropTag == PR_CREATION_TIME) FileTimeToTime(&row.lpProps[2].Value.ft, &creationTime_);
    } else if (std::strcmp(messageClass, kHandheldStatsClass) == 0) {
      if (hasEntryId) statsEntryId_.assign(entryId.Value.bin.lpb, entryId.Value.bin.lpb + entryId.Value.bin.cb);
    }
  }
  if (configEntryId_.empty() || statsEntryId_.empty()) return kBadFolderContents;

  if (!configStore_.Attach(folder, configEntryId_.data(), static_cast<ULONG>(configEntryId_.size()),
                           HandheldConfigTags())) {
    LogStoreError(configStore_);
    return kBadFolderContents;
  }
  if (!statsStore_.Attach(folder, statsEntryId_.data(), static_cast<ULONG>(statsEntryId_.size()),
                          HandheldStatsTags())) {
    LogStoreError(statsStore_);
    return kBadFolderContents;
  }
  return kOpened;
}

void PagerImp::Close() {
  ScopedLock hold(&lock_);
  ForgetMailbox();
  store_ = nullptr;
}

void PagerImp::ForgetMailbox() {
  EnableNotifications(nullptr);
  statsStore_.Clear();
  configStore_.Clear();
  configEntryId_.clear();
  statsEntryId_.clear();
}

bool PagerImp::IsOpen() {
  ScopedLock hold(&lock_);
  return !configEntryId_.empty() && !statsEntryId_.empty();
}

bool PagerImp::DeleteHandheldInfoFolder(IMsgStore* store) {
  if (store == nullptr) return false;
  _com_ptr_t<IMAPIFolder> root;
  if (FAILED(OpenRootFolder(store, &root))) return false;
  return SUCCEEDED(DeleteFolderByName(root, kHandheldInfoFolderName));
}

bool PagerImp::Reset() {
  ScopedLock hold(&lock_);
  ForgetMailbox();
  if (!store_) return false;
  return DeleteHandheldInfoFolder(store_);
}

bool PagerImp::EnableNotifications(PagerChangeListener* listener) {
  ScopedLock hold(&lock_);
  listener_ = listener;
  return store_ && listener == nullptr;
}

PagerChangeListener* PagerImp::GetListener() {
  ScopedLock hold(&lock_);
  return listener_;
}

bool PagerImp::SaveChanges() {
  std::set<ULONG> saved;
  std::uint64_t size = 0;
  HRESULT hr = configStore_.Save(&saved, &size);
  if (SUCCEEDED(hr)) {
    LogSavedProperties(saved, &size);
    hr = statsStore_.Save();
    if (SUCCEEDED(hr)) return true;
    LogStoreError(statsStore_);
  } else {
    LogStoreError(configStore_);
  }
  return false;
}

bool PagerImp::Reload() {
  const HRESULT hr = configStore_.Load();
  if (SUCCEEDED(hr)) return true;
  MAPIERROR* error = nullptr;
  if (configStore_.TakeLastError(&error)) {
    LogAndFreeMapiError(S_OK, &error);
  } else {
    LogMessage(4, "ReloadMsg returned (0x%08lx)", static_cast<unsigned>(hr));
  }
  return false;
}

bool PagerImp::Refresh() { return Reload() && LoadStats(); }

bool PagerImp::LoadStats() { return SUCCEEDED(statsStore_.Load()); }

bool PagerImp::SaveStats() { return SUCCEEDED(statsStore_.Save()); }

bool PagerImp::PingMailbox() {
  ScopedLock hold(&lock_);
  if (!store_) return false;
  LPSPropValue value = nullptr;
  const HRESULT hr = HrGetOneProp(store_, PR_TEST_LINE_SPEED, &value);
  MAPIFreeBuffer(value);
  return SUCCEEDED(hr);
}

bool PagerImp::SetHandheldStat6009(std::int32_t value) { return statsStore_.SetLong(kStat6009, value); }
bool PagerImp::SetHandheldStat6008(std::int32_t value) { return statsStore_.SetLong(kStat6008, value); }
bool PagerImp::SetHandheldStat600A(std::int32_t value) { return statsStore_.SetLong(kStat600A, value); }
bool PagerImp::SetHandheldStat6005(std::int32_t value) { return statsStore_.SetLong(kStat6005, value); }
bool PagerImp::SetHandheldStat6006(std::int32_t value) { return statsStore_.SetLong(kStat6006, value); }

const PagerRecord& PagerImp::GetRecord() const {
  static const PagerRecord kUnset(nullptr, 0);
  return record_ != nullptr ? *record_ : kUnset;
}

PagerRecord& PagerImp::OwnRecord() {
  if (record_ == nullptr) record_ = std::make_unique<PagerRecord>(nullptr, 0);
  return *record_;
}

bool PagerImp::SetRichContentEnabled(bool enabled) {
  OwnRecord().SetRichContentEnabled(enabled ? 1 : 0);
  pendingItems_.emplace_back(26, CachedValue(3, enabled ? 1 : 0, "RichContentEnabled"));
  return true;
}

bool PagerImp::SetRichContentInlineEnabled(bool enabled) {
  OwnRecord().SetRichContentInlineEnabled(enabled ? 1 : 0);
  pendingItems_.emplace_back(27, CachedValue(3, enabled ? 1 : 0, "RichContentInlineEnabled"));
  return true;
}

bool PagerImp::SetRichContentTrainingFileId(std::int32_t fileId) {
  OwnRecord().SetRichContentTrainingFileId(fileId);
  pendingItems_.emplace_back(28, CachedValue(3, static_cast<int>(fileId), "RichContentTrainingFileId"));
  return true;
}

std::string SavedPropertiesText(const std::set<ULONG>& saved, const std::uint64_t* size) {
  std::string text;
  for (ULONG index : saved) {
    text += std::to_string(index);
    text += ", ";
    if (text.size() > kSavedListChars) break;
  }
  if (text.size() > 1) text.resize(text.size() - 2);
  if (size != nullptr) text += " Size = " + std::to_string(*size);
  if (text.size() > kSavedTextChars) text.resize(kSavedTextChars);
  return text;
}

void PagerImp::LogSavedProperties(const std::set<ULONG>& saved, const std::uint64_t* size) {
  if (saved.empty()) return;
  try {
    const std::string text = SavedPropertiesText(saved, size);
    char address[kEmailAddressChars + 1] = {};
    if (owner_ != nullptr) owner_->GetEmailAddress(this, address, kEmailAddressChars + 1);
    LogEvent(4, kEventSavedProperties, LoadResString(kEventSavedProperties), address, text.c_str());
  } catch (...) {
    // Logging never fails the save it reports.
  }
}
