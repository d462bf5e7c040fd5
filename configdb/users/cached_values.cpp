// SetCachedValue and GetCachedValue: one value of a cached user record,
// applied or read by its cached-value id.
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"

namespace {

// Applies `value` to `record` by `id`; the result of the record's setter
// where it has one, else true; false for the ids that are not applied.
bool Apply(PagerRecord& record, int id, CachedValue& value) {
  switch (id) {
    case 1:
      record.SetPIN(value.text);
      return true;
    case 2:
      record.SetRedirectionState(value.AsByte());
      return true;
    case 3:
      record.SetExtServicesState(value.AsByte());
      return true;
    case 4:
      record.SetCalendarEnableState(value.AsInt());
      return true;
    case 5:
      record.SetOTAFMUserConfig(value.AsInt());
      return true;
    case 6:
      record.SetOTAPIMState(value.AsInt());
      return true;
    case 7:
      record.SetDeviceType(value.AsInt());
      return true;
    case 8:
      return record.SetDeviceCapabilities(value.bytes(), static_cast<int>(value.length()));
    case 9:
      return record.SetAckData(value.bytes(), static_cast<int>(value.length()));
    case 10:
      return record.SetOverrideSMTPAddr(value.text.GetNarrow());
    case 11:
      return record.SetEncryptionKey(value.keyKind, value.bytes(), value.length());
    case 12:
      record.SetKeyDate(value.value);
      return true;
    case 13:
      record.SetActivationTime(value.value);
      return true;
    case 14:
      return record.SetRoutingInfo(value.text.GetNarrow());
    case 15:
      return record.SetDataSourceId(value.bytes(), static_cast<int>(value.length()));
    case 16:
      return record.SetServiceBookName(value.text.GetWide());
    case 17:
      record.SetRedirectWhenInCradle(value.AsByte());
      return true;
    case 18:
      record.SetDisableSentItems(value.AsByte());
      return true;
    case 19:
      record.SetAutoSignature(value.text);
      return true;
    case 20:
      record.SetDefaultFilterAction(value.AsByte());
      return true;
    case 21:
      record.SetAutoKeyGenerate(value.AsByte());
      return true;
    case 22:
      record.SetFilters(value.text);
      return true;
    case 23:
      record.SetSMIMEEnabled(value.AsByte());
      return true;
    case 24:
      record.SetRefIdGenerator(value.AsInt());
      return true;
    case 26:
      record.SetRichContentEnabled(value.AsByte());
      return true;
    case 27:
      record.SetRichContentInlineEnabled(value.AsByte());
      return true;
    case 29:
      record.SetRedirectFromSelectedFolders(value.AsByte());
      return true;
    case 30:
      record.SetNumberOfSelectedFolders(value.AsInt());
      return true;
    case 31:
      record.SetSelectedFolderTime(value.AsInt());
      return true;
    case 32:
      record.SetUserCertificates(value.bytes(), static_cast<int>(value.length()));
      return true;
    case 33:
      record.SetUserPeerToPeerKey(value.bytes(), static_cast<int>(value.length()));
      return true;
    case 34:
      record.SetOTAFMConflictResolution(value.AsInt());
      return true;
    case 35:
      return record.SetMailStoreDisplayName(value.text.GetWide());
    case 36:
      record.SetSyncingPersonalFolders(value.AsByte());
      return true;
    case 37:
      record.SetDisableRedirectRead(value.AsByte());
      return true;
    case 38:
      record.SetRedirectFromSentItems(value.AsByte());
      return true;
    case 39:
      record.SetDeviceUserId(value.AsInt());
      return true;
    default:  // 25, 28, 40 carry values only to the database; others are no ids
      return false;
  }
}

}  // namespace

bool PMDatabaseSQLImp::SetCachedValue(Pager* pager, int id, CachedValue value) {
  try {
    ScopedLock users(&userLock_);
    PagerRecord* record = FindRecord(pager);
    return record != nullptr && Apply(*record, id, value);
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::SetCachedValue");
    return false;
  }
}

bool PMDatabaseSQLImp::GetCachedValue(Pager* pager, int id, CachedValue* out) {
  try {
    ScopedLock users(&userLock_);
    PagerRecord* record = FindRecord(pager);
    return record != nullptr && out != nullptr && record->GetCachedValueById(id, *out);
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::GetCachedValue");
    return false;
  }
}
