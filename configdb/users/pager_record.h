// PagerRecord: the in-memory copy of one user's UserConfig row, plus the few
// values only the server keeps in memory (the event flags, the database
// status byte, HomeMDB, the policy status, times and blob, the key-generation
// attempt counts).
//
// The configuration database object keeps one per user of its server,
// owned through its pager map, with the user's device object as owner: the
// record deletes that device object when it is destroyed, unless the object
// reports itself trashed. A device object may keep a record of its own
// with no owner. Records are copied only through CopyFrom.
//
// Accessor rules, by kind of field:
//   narrow texts   Set copies (null leaves the field null), Get hands out
//                  the stored pointer itself (null when unset); Check
//                  compares ignoring case, two nulls are equal, and a null
//                  equals a non-null text only when that text is empty.
//   wide arrays    ServiceBookName and MailStoreDisplayName hold at most 63
//                  characters in place; a longer text is refused.
//   keys           three 72-byte slots: kind 1 PreviousKey, 2 CurrentKey,
//                  3 PendingKey.
//   byte buffers   Set empties the buffer, then copies length bytes when
//                  bytes is not null and length above 0.
//
// Cached-value ids (CachedValue, configdb/users/cached_value.h) name the
// fields as SetCachedValue and GetCachedValueById apply and read them: 1 PIN,
// 2 RedirectionState, 3 ExtServicesState, 4 CalendarEnableState, 5
// OTAFMUserConfig, 6 OTAPIMState, 7 DeviceType, 8 DeviceCapabilities, 9
// AckData, 10 OverrideSMTPAddr, 11 the key of the value's key kind, 12
// KeyDate, 13 ActivationTime, 14 RoutingInfo, 15 DataSourceId, 16
// ServiceBookName, 17 RedirectWhenInCradle, 18 DisableSentItems, 19
// AutoSignature, 20 DefaultFilterAction, 21 AutoKeyGenerate, 22 Filters, 23
// SMIMEEnabled, 24 RefIdGenerator, 25 a byte block nothing fills, 26
// RichContentEnabled, 27 RichContentInlineEnabled, 28
// RichContentTrainingFileId, 29 RedirectFromSelectedFolders, 30
// NumberOfSelectedFolders, 31 SelectedFolderTime, 32 UserCertificates, 33
// UserPeerToPeerKey, 34 OTAFMConflictResolution, 35 MailStoreDisplayName, 36
// SyncingPersonalFolders, 37 DisableRedirectRead, 38 RedirectFromSentItems,
// 39 DeviceUserId, 40 the client certificate information. Ids 26, 27, 28
// and 40 cannot be read back by id; 25, 28 and 40 are not applied.
//
// The record embeds the user's over-the-air certificate requests
// (CertificateInfo, device/certificate_info.h), stored in the column
// ClientCertificateInfo and named after the user's MailboxSMTPAddr.
//
// Every buffer that held text or key material is wiped before it is freed.
// Nothing here logs or throws; failures are results.
//
// Thread safety: none. The database object reads and writes its records only
// under its user lock; an embedded or temporary record belongs to one thread.
#pragma once

#include <cstdint>

#include "configdb/users/cached_value.h"
#include "device/certificate_info.h"
#include "foundation/byte_buffer.h"
#include "foundation/secure_wipe.h"
#include "foundation/zev_string.h"

class Pager;

// The device type and PIN of a device id block (20 bytes: int32 DeviceType,
// uint32 PIN, 12 bytes that are written as zero and never read).
struct DeviceIDRecord {
  std::int32_t DeviceType = 0;
  std::uint32_t PIN = 0;
  std::uint8_t reserved[12] = {};
};
static_assert(sizeof(DeviceIDRecord) == 20);

class PagerRecord {
 public:
  static constexpr int kKeySize = 72;
  // Characters of ServiceBookName and MailStoreDisplayName, terminator
  // included.
  static constexpr int kWideArrayChars = 64;

  // Flags 0, texts null, strings and buffers empty, numbers and times 0,
  // RichContentTrainingFileId -1, key slots and wide arrays zero.
  PagerRecord(Pager* owner, int userId);
  // Deletes the owner unless it is trashed.
  ~PagerRecord();
  PagerRecord(const PagerRecord&) = delete;
  PagerRecord& operator=(const PagerRecord&) = delete;

  // Copies every UserConfig value of `other` (not the flags, the owner, Id,
  // HomeMDB, the database status byte, the policy status, times and blob,
  // the peer-to-peer key blob or MailboxSMTPAddr), the certificate requests
  // last, when they differ. Null does nothing.
  void CopyFrom(const PagerRecord* other);
  // The three event flags.
  void CopyFlagsFrom(const PagerRecord& other);

  // Fills `out` (type and value part; column, key kind and empty-is-NULL
  // stay) with the field of cached-value id `id`. False, type 0, for an id
  // that cannot be read, for id 11 with a key kind outside 1 to 3, and when
  // memory for the bytes runs out.
  bool GetCachedValueById(int id, CachedValue& out) const;

  // Owner.
  void SetPagerImp(Pager* owner) { owner_ = owner; }
  Pager* GetPagerImp() const { return owner_; }

  // Event flags and status byte.
  std::uint8_t GetChangedFlag() const { return changedFlag_; }
  void SetChangedFlag(std::uint8_t flag) { changedFlag_ = flag; }
  std::uint8_t GetDeletedFlag() const { return deletedFlag_; }
  void SetDeletedFlag(std::uint8_t flag) { deletedFlag_ = flag; }
  std::uint8_t GetChangeValue() const { return changeValue_; }
  void SetChangeValue(std::uint8_t value) { changeValue_ = value; }
  std::uint8_t GetDBStatus() const { return dbStatus_; }
  void SetDBStatus(std::uint8_t status) { dbStatus_ = status; }

  // Narrow texts. Set is false (the field null) when memory runs out.
  bool SetServerDN(const char* text) { return SetText(serverDN_, text); }
  void GetServerDN(char** out) const { *out = serverDN_.get(); }
  bool CheckServerDN(const char* text) const { return TextsMatch(serverDN_.get(), text); }
  bool SetMailboxDN(const char* text) { return SetText(mailboxDN_, text); }
  void GetMailboxDN(char** out) const { *out = mailboxDN_.get(); }
  bool CheckMailboxDN(const char* text) const { return TextsMatch(mailboxDN_.get(), text); }
  bool SetHomeMDB(const char* text) { return SetText(homeMDB_, text); }
  void GetHomeMDB(char** out) const { *out = homeMDB_.get(); }
  bool CheckHomeMDB(const char* text) const { return TextsMatch(homeMDB_.get(), text); }
  bool SetRoutingInfo(const char* text) { return SetText(routingInfo_, text); }
  void GetRoutingInfo(char** out) const { *out = routingInfo_.get(); }
  bool SetPendingRoutingInfo(const char* text) { return SetText(pendingRoutingInfo_, text); }
  void GetPendingRoutingInfo(char** out) const { *out = pendingRoutingInfo_.get(); }
  bool SetOverrideSMTPAddr(const char* text) { return SetText(overrideSMTPAddr_, text); }
  void GetOverrideSMTPAddr(char** out) const { *out = overrideSMTPAddr_.get(); }
  bool CheckOverrideSMTPAddr(const char* text) const { return TextsMatch(overrideSMTPAddr_.get(), text); }
  bool SetMailboxSMTPAddr(const char* text) { return SetText(mailboxSMTPAddr_, text); }
  void GetMailboxSMTPAddr(char** out) const { *out = mailboxSMTPAddr_.get(); }
  bool CheckMailboxSMTPAddr(const char* text) const { return TextsMatch(mailboxSMTPAddr_.get(), text); }
  // Nothing fills these: they read as null.
  void GetServiceName(char** out) const { *out = nullptr; }
  void GetPendingServiceName(char** out) const { *out = nullptr; }
  void GetPolicyName(char** out) const { *out = nullptr; }

  // Wide text.
  bool SetDisplayName(const wchar_t* text);
  void GetDisplayName(wchar_t** out) const { *out = displayName_.get(); }
  bool CheckDisplayName(const wchar_t* text) const;

  // Strings.
  void SetPIN(zev::ZEVString pin) { pin_ = pin; }
  zev::ZEVString GetPIN() const { return pin_; }
  void SetKeyGenPassword(zev::ZEVString password) { keyGenPassword_ = password; }
  zev::ZEVString GetKeyGenPassword() const { return keyGenPassword_; }
  void SetAutoSignature(zev::ZEVString signature) { autoSignature_ = signature; }
  zev::ZEVString GetAutoSignature() const { return autoSignature_; }
  // Trims white space at both ends.
  void SetFilters(zev::ZEVString filters);
  zev::ZEVString GetFilters() const { return filters_; }
  bool SetDisclaimerText(const wchar_t* text);
  zev::ZEVString GetDisclaimerText() const { return disclaimerText_; }
  bool SetDisclaimerTextPrepended(const wchar_t* text);
  zev::ZEVString GetDisclaimerTextPrepended() const { return disclaimerTextPrepended_; }

  // The PIN as a number: "%08lX" above 0x1FFFFFFF, else decimal (and back).
  void SetPINNumber(unsigned pin);
  unsigned GetPINNumber() const;
  // DeviceType and the PIN.
  void SetDeviceIDCache(int deviceType, unsigned pin);
  void GetDeviceIDCache(DeviceIDRecord* out) const;

  // 32-bit values.
  void SetUserId(int id) { id_ = id; }
  int GetUserId() const { return id_; }
  void SetDeviceType(int value) { deviceType_ = value; }
  int GetDeviceType() const { return deviceType_; }
  void SetCalendarEnableState(int value) { calendarEnableState_ = value; }
  int GetCalendarEnableState() const { return calendarEnableState_; }
  void SetITPolicy2Id(int value) { itPolicy2Id_ = value; }
  int GetITPolicy2Id() const { return itPolicy2Id_; }
  void SetITPolicyStatus(int value) { itPolicyStatus_ = value; }
  int GetITPolicyStatus() const { return itPolicyStatus_; }
  void SetOTAFMUserConfig(int value) { otafmUserConfig_ = value; }
  int GetOTAFMUserConfig() const { return otafmUserConfig_; }
  void SetOTAFMConflictResolution(int value) { otafmConflictResolution_ = value; }
  int GetOTAFMConflictResolution() const { return otafmConflictResolution_; }
  void SetOTAPIMState(int value) { otapimState_ = value; }
  int GetOTAPIMState() const { return otapimState_; }
  void SetServerConfigId(int value) { serverConfigId_ = value; }
  int GetServerConfigId() const { return serverConfigId_; }
  void SetPendingServerConfigId(int value) { pendingServerConfigId_ = value; }
  int GetPendingServerConfigId() const { return pendingServerConfigId_; }
  void SetUserDeleteStatus(int value) { userDeleteStatus_ = value; }
  int GetUserDeleteStatus() const { return userDeleteStatus_; }
  void SetGlobalResourceId(int value) { globalResourceId_ = value; }
  int GetGlobalResourceId() const { return globalResourceId_; }
  void SetRefIdGenerator(int value) { refIdGenerator_ = value; }
  int GetRefIdGenerator() const { return refIdGenerator_; }
  void SetRichContentTrainingFileId(int value) { richContentTrainingFileId_ = value; }
  int GetRichContentTrainingFileId() const { return richContentTrainingFileId_; }
  void SetNumberOfSelectedFolders(int value) { numberOfSelectedFolders_ = value; }
  int GetNumberOfSelectedFolders() const { return numberOfSelectedFolders_; }
  void SetSelectedFolderTime(int value) { selectedFolderTime_ = value; }
  int GetSelectedFolderTime() const { return selectedFolderTime_; }
  void SetDeviceUserId(int value) { deviceUserId_ = value; }
  int GetDeviceUserId() const { return deviceUserId_; }
  void SetKeyGenMaxAttempts(int value) { keyGenMaxAttempts_ = value; }
  void GetKeyGenMaxAttempts(int* out) const { *out = keyGenMaxAttempts_; }
  void SetKeyGenNumAttempts(int value) { keyGenNumAttempts_ = value; }
  void GetKeyGenNumAttempts(int* out) const { *out = keyGenNumAttempts_; }

  // Flag and state bytes: Set stores the low byte.
  void SetRedirectionState(int value) { redirectionState_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetRedirectionState() const { return redirectionState_; }
  void SetExtServicesState(int value) { extServicesState_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetExtServicesState() const { return extServicesState_; }
  void SetSMIMEEnabled(int value) { smimeEnabled_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetSMIMEEnabled() const { return smimeEnabled_; }
  void SetRedirectWhenInCradle(int value) { redirectWhenInCradle_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetRedirectWhenInCradle() const { return redirectWhenInCradle_; }
  void SetDisableSentItems(int value) { disableSentItems_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetDisableSentItems() const { return disableSentItems_; }
  void SetAutoKeyGenerate(int value) { autoKeyGenerate_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetAutoKeyGenerate() const { return autoKeyGenerate_; }
  void SetRichContentEnabled(int value) { richContentEnabled_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetRichContentEnabled() const { return richContentEnabled_; }
  void SetRichContentInlineEnabled(int value) { richContentInlineEnabled_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetRichContentInlineEnabled() const { return richContentInlineEnabled_; }
  void SetDefaultFilterAction(int value) { defaultFilterAction_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetDefaultFilterAction() const { return defaultFilterAction_; }
  void SetRedirectFromSelectedFolders(int value) {
    redirectFromSelectedFolders_ = static_cast<std::uint8_t>(value);
  }
  std::uint8_t GetRedirectFromSelectedFolders() const { return redirectFromSelectedFolders_; }
  void SetSyncingPersonalFolders(int value) { syncingPersonalFolders_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetSyncingPersonalFolders() const { return syncingPersonalFolders_; }
  void SetDisableRedirectRead(int value) { disableRedirectRead_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetDisableRedirectRead() const { return disableRedirectRead_; }
  void SetRedirectFromSentItems(int value) { redirectFromSentItems_ = static_cast<std::uint8_t>(value); }
  std::uint8_t GetRedirectFromSentItems() const { return redirectFromSentItems_; }

  // Times (time64).
  void SetCreationTime(std::int64_t time) { creationTime_ = time; }
  std::int64_t GetCreationTime() const { return creationTime_; }
  void SetKeyDate(std::int64_t time) { keyDate_ = time; }
  void GetKeyDate(std::int64_t* out) const { *out = keyDate_; }
  void SetActivationTime(std::int64_t time) { activationTime_ = time; }
  void GetActivationTime(std::int64_t* out) const { *out = activationTime_; }
  void SetITPolicyTimeSent(std::int64_t time) { itPolicyTimeSent_ = time; }
  std::int64_t GetITPolicyTimeSent() const { return itPolicyTimeSent_; }
  void SetITPolicyTimeReceived(std::int64_t time) { itPolicyTimeReceived_ = time; }
  std::int64_t GetITPolicyTimeReceived() const { return itPolicyTimeReceived_; }
  void SetKeyGenExpiryTime(std::int64_t time) { keyGenExpiryTime_ = time; }
  void GetKeyGenExpiryTime(std::int64_t* out) const { *out = keyGenExpiryTime_; }

  // Byte buffers.
  bool SetAckData(const void* bytes, int length) { return SetBytes(ackData_, bytes, length); }
  unsigned GetAckDataSize() const { return ackData_.GetSize(); }
  const std::uint8_t* GetAckData() const { return ackData_.GetData(); }
  bool CopyOutAckData(void* buffer, unsigned* length) { return CopyOut(ackData_, buffer, length); }
  bool IsEqualAckData(const void* bytes, unsigned length) const { return ackData_.IsEqual(bytes, length); }
  bool SetDeviceCapabilities(const void* bytes, int length) { return SetBytes(deviceCapabilities_, bytes, length); }
  unsigned GetDeviceCapabilitiesSize() const { return deviceCapabilities_.GetSize(); }
  const std::uint8_t* GetDeviceCapabilities() const { return deviceCapabilities_.GetData(); }
  bool CopyOutDeviceCapabilities(void* buffer, unsigned* length) {
    return CopyOut(deviceCapabilities_, buffer, length);
  }
  bool IsEqualDeviceCapabilities(const void* bytes, unsigned length) const {
    return deviceCapabilities_.IsEqual(bytes, length);
  }
  bool SetDataSourceId(const void* bytes, int length) { return SetBytes(dataSourceId_, bytes, length); }
  unsigned GetDataSourceIdSize() const { return dataSourceId_.GetSize(); }
  const std::uint8_t* GetDataSourceId() const { return dataSourceId_.GetData(); }
  // Copies and sets *length only when buffer is not null and *length is at
  // least the size.
  void CopyOutDataSourceId(void* buffer, unsigned* length) const;
  bool IsEqualDataSourceId(const void* bytes, unsigned length) const { return dataSourceId_.IsEqual(bytes, length); }
  void SetUserCertificates(const void* bytes, int length) { SetBytes(userCertificates_, bytes, length); }
  unsigned GetUserCertificatesSize() const { return userCertificates_.GetSize(); }
  const std::uint8_t* GetUserCertificates() const { return userCertificates_.GetData(); }
  bool IsEqualUserCertificates(const void* bytes, unsigned length) const {
    return userCertificates_.IsEqual(bytes, length);
  }
  void SetUserPeerToPeerKey(const void* bytes, int length) { SetBytes(userPeerToPeerKey_, bytes, length); }
  unsigned GetUserPeerToPeerKeySize() const { return userPeerToPeerKey_.GetSize(); }
  bool IsEqualUserPeerToPeerKey(const void* bytes, unsigned length) const {
    return userPeerToPeerKey_.IsEqual(bytes, length);
  }
  bool SetPolicyBlob(const void* bytes, int length) { return SetBytes(policyBlob_, bytes, length); }
  void GetPolicyBlob(const std::uint8_t** bytes, unsigned* size) const;
  bool SetPeerToPeerKeyBlob(const void* bytes, int length) { return SetBytes(peerToPeerKeyBlob_, bytes, length); }
  void GetPeerToPeerKeyBlob(const std::uint8_t** bytes, unsigned* size) const;

  // Wide arrays: null clears (true); more than 63 characters: false,
  // unchanged.
  bool SetServiceBookName(const wchar_t* text) { return SetWideArray(serviceBookName_, text); }
  const wchar_t* GetServiceBookName() const { return serviceBookName_; }
  bool SetMailStoreDisplayName(const wchar_t* text) { return SetWideArray(mailStoreDisplayName_, text); }
  const wchar_t* GetMailStoreDisplayName() const { return mailStoreDisplayName_; }
  // Exact comparison; false for null.
  bool CheckMailStoreDisplayName(const wchar_t* text) const;

  // Keys. GetEncryptionKey points *out at the slot of kind 1 to 3 (another
  // kind leaves it) and returns 72; 0 for a null out. SetEncryptionKey
  // zeroes the slot and copies `length` bytes: false for a kind outside 1
  // to 3, a length above 72, or null bytes with a length above 0.
  int GetEncryptionKey(int kind, const std::uint8_t** out) const;
  bool SetEncryptionKey(int kind, const void* bytes, unsigned length);

  // Certificate requests. CertificateEquals is false for a blob that holds
  // nothing, else whether the own requests serialise to exactly its bytes.
  // LoadCertificates replaces them by those of a ClientCertificateInfo
  // value (a value that holds nothing changes nothing).
  bool CertificateEquals(const ByteBuffer& blob) const;
  bool SerializeCertificates(ByteBuffer& out) const { return certificateInfo_.Serialize(out); }
  bool LoadCertificates(const ByteBuffer& blob);
  // Sets the allowed extensions, then offers the attachment.
  bool AcceptCertificateAttachment(const char* attachmentName, unsigned length, const char* extensions);
  // A blob that holds bytes is offered as an attachment of its size and,
  // when taken, stored with the request whose key it carries.
  bool AcceptCertificateBlob(const char* attachmentName, const ByteBuffer& blob);
  // Reads an authority's answer for its issue id.
  bool AcceptCACertificate(const CertificateMessageFields& fields, const ByteBuffer& body);
  bool UpdateCertificateEntry(int channelKey1, int channelKey2, bool deliverCertificate, bool deliverChain) {
    return certificateInfo_.UpdateCertInfo(channelKey1, channelKey2, deliverCertificate, deliverChain);
  }
  CertificateInfo* GetCertificateInfo() { return &certificateInfo_; }

  // lurnum: stored only from exactly 8 bytes; Differs is true for another
  // length or other bytes.
  void SetLurnum(const void* bytes, unsigned length);
  bool LurnumDiffers(const void* bytes, unsigned length) const;
  const std::uint8_t* GetLurnum() const { return lurnum_; }

 private:
  static bool SetText(WipedArray<char>& field, const char* text);
  static bool TextsMatch(const char* stored, const char* text);
  static bool SetBytes(ByteBuffer& buffer, const void* bytes, int length);
  static bool CopyOut(ByteBuffer& buffer, void* out, unsigned* length);
  static bool SetWideArray(wchar_t (&field)[kWideArrayChars], const wchar_t* text);
  std::uint8_t* KeySlot(int kind);
  const std::uint8_t* KeySlot(int kind) const;

  std::uint8_t changedFlag_ = 0;
  std::uint8_t deletedFlag_ = 0;
  std::uint8_t changeValue_ = 0;
  Pager* owner_;
  int id_;
  WipedArray<char> serverDN_;
  WipedArray<char> mailboxDN_;
  WipedArray<wchar_t> displayName_;
  WipedArray<char> homeMDB_;
  WipedArray<char> routingInfo_;
  WipedArray<char> pendingRoutingInfo_;
  zev::ZEVString pin_;
  int deviceType_ = 0;
  std::uint8_t dbStatus_ = 0;
  std::uint8_t redirectionState_ = 0;
  std::uint8_t extServicesState_ = 0;
  std::uint8_t smimeEnabled_ = 0;
  std::int64_t creationTime_ = 0;
  int calendarEnableState_ = 0;
  int itPolicy2Id_ = 0;
  int itPolicyStatus_ = 0;
  std::int64_t itPolicyTimeSent_ = 0;
  std::int64_t itPolicyTimeReceived_ = 0;
  ByteBuffer policyBlob_;
  ByteBuffer peerToPeerKeyBlob_;
  WipedArray<char> overrideSMTPAddr_;
  WipedArray<char> mailboxSMTPAddr_;
  int otafmUserConfig_ = 0;
  int otafmConflictResolution_ = 0;
  int otapimState_ = 0;
  std::uint8_t lurnum_[8] = {};
  int serverConfigId_ = 0;
  int pendingServerConfigId_ = 0;
  ByteBuffer deviceCapabilities_;
  ByteBuffer dataSourceId_;
  ByteBuffer ackData_;
  std::uint8_t previousKey_[kKeySize] = {};
  std::uint8_t currentKey_[kKeySize] = {};
  std::uint8_t pendingKey_[kKeySize] = {};
  std::int64_t keyDate_ = 0;
  std::int64_t activationTime_ = 0;
  wchar_t serviceBookName_[kWideArrayChars] = {};
  zev::ZEVString disclaimerText_;
  zev::ZEVString disclaimerTextPrepended_;
  zev::ZEVString keyGenPassword_;
  int keyGenMaxAttempts_ = 0;
  int keyGenNumAttempts_ = 0;
  std::int64_t keyGenExpiryTime_ = 0;
  int refIdGenerator_ = 0;
  zev::ZEVString autoSignature_;
  std::uint8_t redirectWhenInCradle_ = 0;
  std::uint8_t disableSentItems_ = 0;
  std::uint8_t autoKeyGenerate_ = 0;
  std::uint8_t richContentEnabled_ = 0;
  std::uint8_t richContentInlineEnabled_ = 0;
  int richContentTrainingFileId_ = -1;
  std::uint8_t defaultFilterAction_ = 0;
  zev::ZEVString filters_;
  int userDeleteStatus_ = 0;
  int globalResourceId_ = 0;
  std::uint8_t redirectFromSelectedFolders_ = 0;
  int numberOfSelectedFolders_ = 0;
  int selectedFolderTime_ = 0;
  ByteBuffer userCertificates_;
  ByteBuffer userPeerToPeerKey_;
  wchar_t mailStoreDisplayName_[kWideArrayChars] = {};
  std::uint8_t syncingPersonalFolders_ = 0;
  std::uint8_t disableRedirectRead_ = 0;
  std::uint8_t redirectFromSentItems_ = 0;
  int deviceUserId_ = 0;
  CertificateInfo certificateInfo_;
};
