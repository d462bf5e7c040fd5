// PMDatabase: the configuration database as the front end and the device
// objects see it. One object serves one server (one ServerConfig row): it is
// made by CreatePMDatabase, opened on a connection string and a server name,
// keeps the server's users in memory, answers the per-user and per-server
// operations from those copies, writes changes to the database first and to
// the copies second, and is given back with ReleasePMDatabase.
//
// A user is named by its device object (`Pager*`), the key under which the
// object keeps the user's cached record; Seek hands these handles out.
//
// Results: operations return a success flag (Check operations 1 equal, 0
// different, -1 unknown user or failure) and log the details; nothing is
// thrown to the caller. The operations are listed in the order of their
// slots, grouped by family.
//
// Threads: an opened object may be shared by the threads of its host (the
// front end, the device objects' notification callbacks, the pollers); it
// guards its caches with its own locks. CreatePMDatabase and
// ReleasePMDatabase are called by the owner of the object, once each.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "configdb/users/cached_value.h"
#include "db/vexdb_user.h"
#include "foundation/byte_buffer.h"
#include "foundation/zev_string.h"
#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

class Pager;
class PagerRecord;
class CertificateInfo;
class OTACRRequest;
class FolderState;
class GWFolderState;
class PollItem;
class MailRescanItem;
class MbMailSyncItem;
struct DeviceIDRecord;

namespace PMDBInterface {
class UserConfigData;
class MbCalendarSyncItem;
class MbCalendarSyncChildItem;
class WorkQueue;
}  // namespace PMDBInterface

// One row of an address-book or PIN look-up: column name -> value.
using ADLMap = std::map<std::string, std::wstring>;

// What the host of an opened database wants to hear about. The object calls
// it without holding its own locks, from whichever thread made the change.
class ChangeListener {
 public:
  // A user's device object event: 1 created and cached, 2 marked changed,
  // 4 configuration changed in the database, 256 marked deleted.
  virtual void OnUserEvent(int event, Pager* pager) = 0;
  // A per-user history event (512) with the history row's number; the
  // pager may be null.
  virtual void OnUserHistoryEvent(int event, Pager* pager, int value) = 0;
  // A server setting changed: 16 ExternalServices, 18 SRPID, 19 OTAFMEnable,
  // 65 AutoBCCAddr, 66 EnableSMIME.
  virtual void OnServerSettingChanged(int event) = 0;

 protected:
  ~ChangeListener() = default;
};

// What a host hands to a user-list load to follow its progress: called
// after each row with (rows done, rows in all).
class LoadProgress {
 public:
  virtual void OnProgress(double done, double total) = 0;

 protected:
  ~LoadProgress() = default;
};

// The IT policy a new user is given (AddPager): 0 means the server's
// default policy.
struct ITPolicyDescriptor {
  int ITPolicyId = 0;
};

class PMDatabase {
 public:
  // Life cycle and user list.
  virtual bool Open(int statsArgument, int agentId, const char* connectionString, int poolSize,
                    ChangeListener* listener, const char* serverName, bool unusedFlag, bool refreshCounters,
                    int unusedValue, bool* resultFlag, bool loadUsers, int msdeSizeLimit) = 0;
  virtual bool ReloadServerConfig() = 0;
  virtual void Close() = 0;
  virtual bool Remove(int unused) = 0;
  virtual bool CheckDB(char* cycleFlags) = 0;
  virtual bool ReloadPagerList(LoadProgress* progress) = 0;
  virtual void NotifyServerConfigChanges(const bool* externalServices, const bool* otafmEnable,
                                         const int* enableSMIME, const char* srpid, const char* autoBCCAddr) = 0;
  virtual bool IsEmpty() = 0;
  virtual bool Seek(int mode, Pager** pager, int value, const char* text) = 0;
  virtual bool Destroy(Pager* pager) = 0;
  virtual bool SetPagerDBStatus(Pager* pager, std::uint8_t status) = 0;
  virtual bool AddPager(const wchar_t* displayName, const char* mailboxDN, const char* serverDN,
                        const DeviceIDRecord* deviceIds, int deviceIdsSize, bool redirectionState,
                        bool extServicesState, int unused8, int unused9, const ITPolicyDescriptor* policy,
                        const char* overrideSMTPAddr, int unused12, const char* routingInfo) = 0;
  virtual bool RemovePager(Pager* pager) = 0;

  // Per-user identity and cache.
  virtual bool Reserved13(int value) = 0;
  virtual bool GetUserId(Pager* pager, int* userId) = 0;
  virtual bool GetServerConfigId(Pager* pager, int* serverConfigId) = 0;
  virtual bool GetLocalServerConfigId(int* serverConfigId) = 0;
  virtual bool GetAgentIdforUserId(int userId, int* agentId, int* serverConfigId, bool* found) = 0;
  virtual bool GetDeviceIDCache(Pager* pager, const DeviceIDRecord* ids, bool* changed, char* pinText,
                                int pinTextSize) = 0;
  virtual bool GetDeviceIDCache(Pager* pager, DeviceIDRecord* out, std::uint32_t* size) = 0;
  virtual bool SetDeviceIDCache(Pager* pager, const DeviceIDRecord* ids, int unused, bool guardUniquePin,
                                bool* pinTaken) = 0;
  virtual bool SaveCachedValues(const CachedValueItemVector* items, int userId) = 0;
  virtual bool SetCachedValue(Pager* pager, int id, CachedValue value) = 0;
  virtual bool GetCachedValue(Pager* pager, int id, CachedValue* out) = 0;

  // Per-user names, states, policies, blobs, keys and times.
  virtual bool SetDisplayNameW(Pager* pager, const wchar_t* displayName) = 0;
  virtual bool GetDisplayNameW(Pager* pager, wchar_t* buffer, int size) = 0;
  virtual bool GetDisplayName(Pager* pager, char* buffer, int size) = 0;
  virtual bool GetRedirectionState(Pager* pager, std::uint8_t* state) = 0;
  virtual bool SetRedirectionState(Pager* pager, bool state) = 0;
  virtual bool SetDisableSentItems(Pager* pager, bool disable) = 0;
  virtual bool SetDNs(Pager* pager, const char* mailboxDN, const char* serverDN, const wchar_t* displayName,
                      const char* homeMDB, const char* smtpAddress, std::uint8_t* changeMask, HRESULT* result,
                      bool sanityCheck, bool* sanityFailed) = 0;
  virtual bool SanityCheckDNChanges(std::uint8_t changeMask) = 0;
  virtual bool GetServerDN(Pager* pager, char* buffer, int size) = 0;
  virtual bool GetMailboxDN(Pager* pager, char* buffer, int size) = 0;
  virtual bool SetHomeMDB(Pager* pager, const char* homeMDB) = 0;
  virtual bool GetHomeMDB(Pager* pager, char* buffer, int size) = 0;
  virtual bool GetCreationTime(Pager* pager, std::int64_t* time) = 0;
  virtual bool GetExternalServicesState(Pager* pager, std::uint8_t* state) = 0;
  virtual bool SetExternalServicesState(Pager* pager, bool state) = 0;
  virtual bool GetCalendarEnableState(Pager* pager, int* state) = 0;
  virtual bool SetCalendarEnableState(Pager* pager, int state) = 0;
  virtual bool Reserved41(Pager* pager, const char* text) = 0;
  virtual bool GetServiceName(Pager* pager, char* buffer, int size) = 0;
  virtual bool Reserved43(Pager* pager, const char* text) = 0;
  virtual bool GetPendingServiceName(Pager* pager, char* buffer, int size) = 0;
  virtual bool GetPendingServerConfigId(Pager* pager, int* serverConfigId) = 0;
  virtual bool GetPolicyName(Pager* pager, char* buffer, int size) = 0;
  virtual bool Reserved47(Pager* pager, const char* text) = 0;
  virtual bool GetITPolicy2Id(Pager* pager, int* policyId) = 0;
  virtual bool SetITPolicy2Id(Pager* pager, int policyId) = 0;
  virtual bool GetPolicyStatus(Pager* pager, int* status) = 0;
  virtual bool SetPolicyStatus(Pager* pager, std::uint32_t status) = 0;
  virtual bool GetPolicyTimeSent(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetPolicyTimeSent(Pager* pager, std::int64_t time) = 0;
  virtual bool GetPolicyTimeReceived(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetPolicyTimeReceived(Pager* pager, std::int64_t time) = 0;
  virtual bool GetPolicyBlobSize(Pager* pager, int* size) = 0;
  virtual bool GetPolicyBlob(Pager* pager, void* buffer, std::uint32_t* size) = 0;
  virtual bool SetPolicyBlob(Pager* pager, const void* data, int length) = 0;
  virtual bool Reserved59(int value) = 0;
  virtual bool GetDeviceCapabilitiesSize(Pager* pager, int* size) = 0;
  virtual bool GetDeviceCapabilitiesBlob(Pager* pager, void* buffer, std::uint32_t* size) = 0;
  virtual bool SetDeviceCapabilitiesBlob(Pager* pager, const void* data, std::uint32_t length) = 0;
  virtual int CheckDeviceCapabilitiesBlob(Pager* pager, const void* data, int length) = 0;
  virtual bool GetPeerToPeerKeyBlobSize(Pager* pager, int* size) = 0;
  virtual bool GetPeerToPeerKeyBlob(Pager* pager, void* buffer, std::uint32_t* size) = 0;
  virtual bool SetPeerToPeerKeyBlob(Pager* pager, const void* data, std::uint32_t length) = 0;
  virtual bool RemovePeerToPeerKeyBlob(Pager* pager) = 0;
  virtual bool SetPreviousKey(Pager* pager, const std::uint8_t* key, int length, bool compareFirst) = 0;
  virtual bool SetCurrentKey(Pager* pager, const std::uint8_t* key, int length, bool compareFirst) = 0;
  virtual bool SetPendingKey(Pager* pager, const std::uint8_t* key, int length, bool compareFirst) = 0;
  virtual int CheckEncryptionKey(Pager* pager, int kind, const std::uint8_t* key, int length, bool compare) = 0;
  virtual bool SetKeyDate(Pager* pager, std::int64_t keyDate) = 0;
  virtual int CheckKeyDate(Pager* pager, std::int64_t keyDate) = 0;
  virtual bool SetActivationTime(Pager* pager, std::int64_t time) = 0;
  virtual int CheckActivationTime(Pager* pager, std::int64_t time) = 0;
  virtual bool GetActivationTime(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetSRPID(const char* srpid) = 0;
  virtual bool SetRoutingInfo(Pager* pager, const char* routingInfo) = 0;
  virtual int CheckRoutingInfo(Pager* pager, const char* routingInfo) = 0;
  virtual bool SetTypedBlob(Pager* pager, OTACRRequest* blob) = 0;
  virtual bool GetTypedBlob(Pager* pager, OTACRRequest* blob) = 0;
  virtual bool GetOverrideEmailAddress(Pager* pager, char* buffer, int size) = 0;
  virtual bool SetOverrideEmailAddress(Pager* pager, const char* address) = 0;
  virtual bool GetEmailAddress(Pager* pager, char* buffer, int size) = 0;
  virtual bool SetEmailAddress(Pager* pager, const char* address) = 0;
  virtual bool GetServerRichContentEnabled(bool* enabled) = 0;
  virtual bool GetRichContentEnabled(Pager* pager, std::uint8_t* enabled) = 0;
  virtual bool SetRichContentEnabled(Pager* pager, bool enabled) = 0;
  virtual bool GetServerInlineImagesEnabled(bool* enabled) = 0;
  virtual bool GetInlineImagesEnabled(Pager* pager, std::uint8_t* enabled) = 0;
  virtual bool SetInlineImagesEnabled(Pager* pager, bool enabled) = 0;
  virtual bool GetServiceBookName(Pager* pager, wchar_t* buffer, int size) = 0;
  virtual bool SetServiceBookName(Pager* pager, const wchar_t* name) = 0;
  virtual int CheckServiceBookName(Pager* pager, const wchar_t* name) = 0;
  virtual bool GetServerDisclaimerTextSize(int* size) = 0;
  virtual bool GetDisclaimerTextSize(Pager* pager, int* size) = 0;
  virtual bool GetServerDisclaimerText(char* buffer, unsigned size) = 0;
  virtual bool GetDisclaimerText(Pager* pager, wchar_t* buffer, int size) = 0;
  virtual bool GetServerPrependDisclaimerTextSize(int* size) = 0;
  virtual bool GetPrependDisclaimerTextSize(Pager* pager, int* size) = 0;
  virtual bool GetServerPrependDisclaimerText(char* buffer, unsigned size) = 0;
  virtual bool GetPrependDisclaimerText(Pager* pager, wchar_t* buffer, int size) = 0;
  virtual bool SetAutoSignature(Pager* pager, const wchar_t* signature) = 0;
  virtual int CheckAutoSignature(Pager* pager, const wchar_t* signature) = 0;

  // Per-user statistics and server counters.
  virtual bool GetExpiredMsgsCount(Pager* pager, int* count) = 0;
  virtual bool SetExpiredMsgsCount(Pager* pager, int count) = 0;
  virtual bool GetFailedMsgsCount(Pager* pager, int* count) = 0;
  virtual bool SetFailedMsgsCount(Pager* pager, int count) = 0;
  virtual bool GetFilteredMsgsCount(Pager* pager, int* count) = 0;
  virtual bool SetFilteredMsgsCount(Pager* pager, int count) = 0;
  virtual bool GetPendingMsgsCount(Pager* pager, int* count) = 0;
  virtual bool SetPendingMsgsCount(Pager* pager, int count) = 0;
  virtual bool GetLastMsgExpired(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetLastMsgExpired(Pager* pager, std::int64_t time) = 0;
  virtual bool GetServerMsgsSent(int* count) = 0;
  virtual bool GetMsgsSent(Pager* pager, int* count) = 0;
  virtual bool SetServerMsgsSent(int count) = 0;
  virtual bool SetMsgsSent(Pager* pager, int count) = 0;
  virtual bool GetMsgsRcvd(Pager* pager, int* count) = 0;
  virtual bool SetMsgsRcvd(Pager* pager, int count) = 0;
  virtual bool GetLastMsgSent(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetLastMsgSent(Pager* pager, std::int64_t time) = 0;
  virtual bool GetLastMsgRcvd(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetLastMsgRcvd(Pager* pager, std::int64_t time) = 0;
  virtual bool GetLastXPAction(Pager* pager, std::int64_t* time) = 0;
  virtual bool SetLastXPAction(Pager* pager, std::int64_t time) = 0;
  virtual bool GetStatus(Pager* pager, int* status) = 0;
  virtual bool SetStatus(Pager* pager, int status) = 0;
  virtual bool SaveServerPagerStats(int userId, bool* countersChanged, bool* hasPending) = 0;

  // Per-user settings, record, templates, flags and certificates.
  virtual bool GetOTAFMUserConfig(Pager* pager, int* value) = 0;
  virtual bool SetOTAFMUserConfig(Pager* pager, std::uint32_t value) = 0;
  virtual bool GetOTAFMConflit(Pager* pager, int* value) = 0;
  virtual bool SetOTAFMConflict(Pager* pager, std::uint32_t value) = 0;
  virtual bool GetOTASyncUserConfig(Pager* pager, int* value) = 0;
  virtual bool SetOTASyncUserConfig(Pager* pager, std::uint32_t value) = 0;
  virtual bool GetUserConfigRecord(Pager* pager, PagerRecord* out) = 0;
  virtual bool GetDataSourceIdSize(Pager* pager, int* size) = 0;
  virtual bool GetDataSourceId(Pager* pager, void* buffer, std::uint32_t* size) = 0;
  virtual bool SetDataSourceId(Pager* pager, const void* data, std::uint32_t length) = 0;
  virtual int CheckDataSourceId(Pager* pager, const void* data, int length) = 0;
  virtual bool GetAckDataBlobSize(Pager* pager, int* size) = 0;
  virtual bool GetAckDataBlob(Pager* pager, void* buffer, std::uint32_t* size) = 0;
  virtual bool SetAckDataBlob(Pager* pager, const std::uint8_t* data, int length) = 0;
  virtual int CheckAckDataBlob(Pager* pager, const void* data, int length) = 0;
  virtual bool GetServiceBookDataTemplate(std::string& text) = 0;
  virtual bool GetServiceBookAppTemplates(std::list<std::wstring>& templates, std::uint32_t propertyId) = 0;
  virtual bool SetRefIDGenerator(Pager* pager, std::int32_t value) = 0;
  virtual bool GetUserToServerStatus(Pager* pager, int* serverConfigId, int* pendingServerConfigId) = 0;
  virtual bool PromotePendingServerConfigId(Pager* pager) = 0;
  virtual bool PromotePendingRoutingInfo(Pager* pager) = 0;
  virtual bool SaveLanguageId(Pager* pager, std::uint32_t languageId) = 0;
  virtual bool LoadUserKeyGenProperties(Pager* pager, zev::ZEVString* password, std::int64_t* expiryTime,
                                        int* numAttempts, int* maxAttempts, int* swapAttempts) = 0;
  virtual bool GetUserKeyGenProperties(int userId, zev::ZEVString* password, std::int64_t* expiryTime,
                                       int* numAttempts, int* maxAttempts, int* swapAttempts) = 0;
  virtual bool StoreUserKeyGenProperties(Pager* pager, const zev::ZEVString* password,
                                         const std::int64_t* expiryTime, const int* numAttempts,
                                         const int* maxAttempts, const int* swapAttempts) = 0;
  virtual bool SetUserKeyGenProperties(int userId, const zev::ZEVString* password, const std::int64_t* expiryTime,
                                       const int* numAttempts, const int* maxAttempts, const int* swapAttempts) = 0;
  virtual bool InitiateUserDelete(Pager* pager, unsigned mode, int* newStatus) = 0;
  virtual bool CompleteUserDelete(Pager* pager, bool* failed) = 0;
  virtual bool MarkPagerDeleted(int userId) = 0;
  virtual bool MarkPagerChanged(int userId, int value) = 0;
  virtual bool ClearPagerFlag(int userId) = 0;
  virtual bool SetPagerFlag(int userId) = 0;
  virtual bool MatchCertificateAttachment(Pager* pager, OTACRRequest* request, std::uint32_t size,
                                          const char* allowedExtensions) = 0;
  virtual bool StoreCertificateAttachment(Pager* pager, OTACRRequest* request, const ByteBuffer& blob) = 0;
  virtual bool UpdateCertificateRequest(int serverConfigId, int userId, int value1, int value2) = 0;
  virtual bool SaveClientCertificateInfo(const ByteBuffer& info, int userId) = 0;
  virtual CertificateInfo* GetCertificateInfo(Pager* pager) = 0;
  virtual bool CheckCACertificate(Pager* pager, OTACRRequest* request, const ByteBuffer& certificate) = 0;
  virtual bool LoadPendingPager(int userId) = 0;

  // Work queue and synchronisation state.
  virtual bool AddWorkQueue(int userId, int workDefnId, int objectDefnId, int objectId, const wchar_t* data) = 0;
  virtual bool clearOutDuplicateMbMailSyncRows(int userId, const wchar_t* messageUid) = 0;
  virtual bool setMbMailScanFailure(int userId, const wchar_t* messageUid, int numFailures) = 0;
  virtual int getFailureCount(int userId, const wchar_t* messageUid) = 0;
  virtual int getCountOfGWUID(int userId, const wchar_t* messageUid) = 0;
  virtual bool GetMbMailSyncItem(int userId, MbMailSyncItem* item, bool mailTable, bool byMessageUid) = 0;
  virtual bool SetMbMailSyncItem(int userId, MbMailSyncItem* item, bool create) = 0;
  virtual bool SetMbMailSyncRefID(int userId, int vexRefId, int id, int unused) = 0;
  virtual bool ClearMBMailSyncRemoteSearch(int userId, int searchId) = 0;
  virtual bool SetMbCalendarSyncRefID(int userId, int vexRefId, int id) = 0;
  virtual bool GetMbCalendarSyncItem(int userId, int id, PMDBInterface::MbCalendarSyncItem* item) = 0;
  virtual bool GetMbCalendarSyncItemAndExceptions(int userId, int id, PMDBInterface::MbCalendarSyncItem* item,
                                                  std::list<PMDBInterface::MbCalendarSyncChildItem*>& out) = 0;
  virtual bool GetMbCalendarSyncItems(int userId, std::list<PMDBInterface::MbCalendarSyncItem*>& out) = 0;
  virtual bool GetMbFolderSync(int userId, std::list<FolderState*>& out) = 0;
  virtual bool GetMbFolderSyncItem(const wchar_t* /*sql*/, GWFolderState* /*out*/) { return false; }
  virtual bool GetMbFolderSyncItemByVexFolderId(int userId, int vexFolderId, GWFolderState* out) = 0;
  virtual bool GetMbFolderSyncRescan(int userId, std::deque<PMDBInterface::WorkQueue>& out) = 0;
  virtual bool PollMbPimSync(int minimumId, std::map<int, PMDBInterface::WorkQueue>& out) = 0;
  virtual bool RescanMbMailSync(int userId, std::list<MailRescanItem*>& out, int folderId) = 0;
  virtual bool UpdateMbMailSyncMessageState(int userId, int vexRefId, bool remove, int folderId,
                                            bool messageStatus, int rowId) = 0;
  virtual bool UpdateMbFolderSync(int operation, int userId, GWFolderState* folder, int deliveryStatus) = 0;
  virtual bool UpdateMbFolderSyncDeliveryStatus(int userId, int vexFolderId) = 0;
  virtual bool UpdateMbFolderSyncSubscribed(int userId, int vexFolderId, bool subscribed) = 0;
  virtual bool UpdateMbCalendarSyncDeliveryStatus(int userId, int vexRefId, bool remove) = 0;
  virtual bool GetGWTrustedAppKey(_bstr_t& applicationName, _bstr_t& key) = 0;
  virtual bool GetGWFolderID(int userId, int vexFolderId, std::wstring& folderId) = 0;
  virtual bool GetSubscribedFolderList(int userId, std::list<FolderState*>& out) = 0;
  virtual bool GetAddressLookup(const wchar_t* search, const wchar_t* companyName, std::list<ADLMap*>& out,
                                bool byFirstName) = 0;
  virtual bool GetAddressBookSubscribed(int userId, _bstr_t& out) = 0;
  virtual bool GetGWUserName(int userId, _bstr_t& out) = 0;
  virtual bool SetMbCalendarSyncItemsInProgress(std::list<int>& ids) = 0;
  virtual bool SetMbCalendarSyncLMTime(int rowId, int unused1, int unused2, int unused3) = 0;
  virtual bool SetupMbSyncStatesForPolling(int rowLimit) = 0;
  virtual bool GetPINsLookup(const wchar_t* search, std::list<ADLMap*>& out) = 0;
  virtual bool UpdateMbMailSyncDeliveryStatus(int userId, MbMailSyncItem* item, int deliveryStatus) = 0;
  virtual bool SetStartupMBSyncDeliveryStatus() = 0;
  virtual bool SetupMbCalendarPolling(int rowLimit) = 0;
  virtual bool PollMbFolderSyncUpdates(std::list<int>& userIds) = 0;
  virtual bool PollMbMailSyncUpdates(std::list<int>& userIds) = 0;
  virtual bool PollMbCalendarSyncUpdates(std::list<PollItem*>& out) = 0;
  virtual bool PollMbFolderSyncCreates(std::list<PollItem*>& out) = 0;
  virtual bool PollMbMailSyncNewMail(std::list<PollItem*>& out) = 0;
  virtual bool PollMbMailSyncMissedMail(std::list<PollItem*>& out) = 0;
  virtual bool PollMbCalendarSyncNewCal(std::list<PollItem*>& out) = 0;
  virtual bool PollMbCalendarSyncMissedMail(std::list<PollItem*>& out) = 0;
  virtual bool PollMbPimSyncNewPim(std::list<PollItem*>& out) = 0;
  virtual bool PruneMbMailSync(int userId, const std::set<int>* refIdsInUse) = 0;

  // Server configuration and counters.
  virtual bool RefreshServerStats() = 0;
  virtual bool FlushServerStats(int value) = 0;
  virtual bool ResetGlobalStats() = 0;
  virtual bool SetLinkStatus(int status) = 0;
  virtual int GetLinkStatus() = 0;
  virtual bool GetServiceInstallName(char* buffer, int size) = 0;
  virtual bool GetServiceInstallNameSize(int* size) = 0;
  virtual bool SetServiceInstallName(const char* name) = 0;
  virtual bool GetMailServerName(char* buffer, unsigned size) = 0;
  virtual bool GetMailServerNameSize(int* size) = 0;
  virtual bool GetSRPID(char* buffer, unsigned size) = 0;
  virtual bool GetSRPIDSize(int* size) = 0;
  virtual bool GetAuthenticationKey(void* buffer, std::uint32_t* size) = 0;
  virtual bool GetAuthenticationKeySize(std::uint32_t* size) = 0;
  virtual bool SetAuthenticationKey(const char* keyText) = 0;
  virtual int CheckAuthenticationKey(const void* key, std::uint32_t size) = 0;
  virtual bool GetServerMsgsForwarded(int* count) = 0;
  virtual bool IncrementServerMsgsForwarded(int* count) = 0;
  virtual bool SetServerMsgsForwarded(int count) = 0;
  virtual bool IncrementServerMsgsSent(int* count) = 0;
  virtual bool GetServerMsgsPending(int* count) = 0;
  virtual bool IncrementServerMsgsPending(int* count) = 0;
  virtual bool DecrementServerMsgsPending(int* count) = 0;
  virtual bool SetServerMsgsPending(int count) = 0;
  virtual bool GetServerMsgsExpired(int* count) = 0;
  virtual bool IncrementServerMsgsExpired(int* count) = 0;
  virtual bool SetServerMsgsExpired(int count) = 0;
  virtual bool GetServerMsgsFiltered(int* count) = 0;
  virtual bool IncrementServerMsgsFiltered(int* count) = 0;
  virtual bool SetServerMsgsFiltered(int count) = 0;
  virtual bool Reserved246(std::int64_t* value) = 0;
  virtual bool PagerDump(Pager* pager, char** text, int* length) = 0;
  virtual bool GetFilterBlob(void* buffer, std::uint32_t* size) = 0;
  virtual bool GetFilterBlobSize(std::uint32_t* size) = 0;
  virtual bool SetFilterBlob(const void* data, int size) = 0;
  virtual zev::ZEVString GetXMLFilter() = 0;
  virtual bool SaveXMLFilterToDatabase(zev::ZEVString filter) = 0;
  virtual bool LoadAndClearGlobalFilterBin() = 0;
  virtual bool ClearGlobalFilterBin() = 0;
  virtual bool GetRPCEndPoint(char* buffer, unsigned size) = 0;
  virtual bool GetRPCEndPointSize(int* size) = 0;
  virtual bool SetRPCEndPoint(const char* endPoint) = 0;
  virtual bool GetMachineName(char* buffer, unsigned size) = 0;
  virtual bool GetMachineNameSize(int* size) = 0;
  virtual bool SetMachineName(const char* name) = 0;
  virtual bool GetHRTSize(int* size) = 0;
  virtual bool GetHRT(char* buffer, unsigned size) = 0;
  virtual bool SetHRT(const char* hrt) = 0;
  virtual bool GetExternalServices(bool* enabled) = 0;
  virtual bool SetExternalServices(bool enabled) = 0;
  virtual bool GetServerDisclaimerTextWSize(int* size) = 0;
  virtual bool GetServerDisclaimerTextW(wchar_t* buffer, unsigned count) = 0;
  virtual bool SetServerDisclaimerText(const char* text) = 0;
  virtual bool SetServerDisclaimerTextW(const wchar_t* text) = 0;
  virtual bool GetServerPrependDisclaimerTextWSize(int* size) = 0;
  virtual bool GetServerPrependDisclaimerTextW(wchar_t* buffer, unsigned count) = 0;
  virtual bool SetServerPrependDisclaimerText(const char* text) = 0;
  virtual bool SetServerPrependDisclaimerTextW(const wchar_t* text) = 0;
  virtual bool GetDisclaimerTextRuleLow(int* value) = 0;
  virtual bool GetDisclaimerTextRuleHigh(int* value) = 0;
  virtual bool GetAutoBCCNameSize(int* size) = 0;
  virtual bool GetAutoBCCName(char* buffer, unsigned size) = 0;
  virtual bool SetAutoBCCName(const char* name) = 0;
  virtual bool GetAutoBCCAddrSize(int* size) = 0;
  virtual bool GetAutoBCCAddr(char* buffer, unsigned size) = 0;
  virtual bool SetAutoBCCAddr(const char* address) = 0;
  virtual bool GetVexVersionSize(int* size) = 0;
  virtual bool GetVexVersion(char* buffer, unsigned size) = 0;
  virtual bool SetVexVersion(const char* version) = 0;
  virtual bool SetServerTypedBlob(OTACRRequest* blob) = 0;
  virtual bool GetServerTypedBlob(OTACRRequest* blob) = 0;
  virtual bool GetServerPeerToPeerKeyBlobSize(std::uint32_t* size) = 0;
  virtual bool GetServerPeerToPeerKeyBlob(void* buffer, std::uint32_t* size) = 0;
  virtual bool SetServerPeerToPeerKeyBlob(const void* data, std::uint32_t count) = 0;
  virtual bool GetEnableSMIME(int* value) = 0;
  virtual bool SetEnableSMIME(int value) = 0;
  virtual bool GetExternalServicesPort(int* port) = 0;
  virtual bool SetExternalServicesPort(int port) = 0;
  virtual bool GetOTAFMSupport(int* value) = 0;
  virtual bool SetOTAFMSupport(int value) = 0;
  virtual bool GetOTAFMEnable(bool* enabled) = 0;
  virtual bool SetOTAFMEnable(bool enabled) = 0;
  virtual bool Reserved301(int value) = 0;
  virtual bool Reserved302(int value1, int value2) = 0;
  virtual bool Reserved303(int value) = 0;
  virtual bool GetPolicyResendTimeout(std::int64_t* timeout) = 0;
  virtual bool SetPolicyResendTimeout(std::int64_t timeout) = 0;
  virtual bool GetServerLTKeyPair(void* buffer, std::uint32_t* size) = 0;
  virtual bool GetServerLTKeyPairSize(std::uint32_t* size) = 0;
  virtual bool SetServerLTKeyPair(const void* data, int size) = 0;

  // Queries and settings.
  virtual bool GetUserPIN(std::map<std::wstring, zev::ZEVString*>& pins) = 0;
  virtual bool GetUserCompanyName(zev::ZEVString userName, zev::ZEVString* companyName) = 0;
  virtual bool GetAgentIDMap(std::map<std::string, std::int32_t>& agents) = 0;
  virtual bool Reserved312(KwyRList& relays) = 0;
  virtual bool HasServerCapability(int serviceType, std::wstring& capabilities) = 0;
  virtual bool GetServerCapabilities(std::list<std::wstring>& capabilities) = 0;
  virtual bool SetServerCapabilities(int serviceId, const wchar_t* capabilities) = 0;
  virtual bool GetInternalQIPPPort(int* port) = 0;
  virtual bool SetInternalQIPPPort(std::int32_t port) = 0;
  virtual bool GetEnabledEncryptionAlgs(std::uint8_t* algorithms) = 0;
  virtual bool SetEnabledEncryptionAlgs(std::uint8_t algorithms) = 0;
  virtual bool GetOTAFMHardDeleteEnabled(bool* enabled) = 0;
  virtual bool GetMessageStateDbSize(int* size) = 0;
  virtual bool GetUserCount(int* count) = 0;
  virtual bool ValidateConnectionPool() = 0;
  virtual bool GetMigratingUsers(std::set<std::int32_t>& userIds) = 0;
  virtual bool RemoveMigratedUser(std::int32_t userId) = 0;
  virtual bool IsUserOnSameRelay(int userId, const char* relayHost) = 0;
  virtual bool GetPrePolulationConfig(int* days, int* messages, bool* sendHeadersOnly) = 0;
  virtual bool GetUserConfigData(PMDBInterface::UserConfigData* data) = 0;
  virtual bool GetMaxAttachUploadSize(int* size) = 0;
  virtual bool GetMaxAttachTotalUploadSize(int* size) = 0;
  virtual bool GetMaxAttachDownloadSize(int* size) = 0;
  virtual bool GetRemoteSearchEnabled(bool* enabled) = 0;
  virtual bool GetRemoteSearchMaxNumOfResults(int* count) = 0;
  virtual bool GetFreeBusyEnabled(bool* enabled) = 0;
  virtual bool SetQueryRetryCount(int count) = 0;
  virtual bool GetAppConfigCredentials(const char* serviceName, std::string& mailUserName,
                                       std::string& mailPassword, std::string& mailServer, int* mailPort) = 0;
  virtual bool SetPollingLookbackDays(int days) = 0;
  virtual void SetServiceInstanceId(int id) = 0;
  virtual bool GetASConnectorConfigData(zev::ZEVString& data) = 0;

  // Calendar and folder extras.
  virtual bool GetUserIdByEmail(const wchar_t* /*smtpAddress*/, int* /*userId*/) { return false; }
  virtual bool GetMeetingAttendees(const wchar_t* /*meetingId*/, bool /*usePseudoRefId*/,
                                   std::map<std::wstring, std::int32_t>& /*attendees*/) {
    return false;
  }
  virtual bool GetOriginatingMeetingId(const char* /*meetingId*/, bool /*usePseudoRefId*/, int /*userId*/,
                                       int* /*rowId*/, int* /*vexRefId*/) {
    return false;
  }
  virtual bool GetCalendarIdFromUserIdAndVexRefId(int /*userId*/, int /*vexRefId*/, int* /*rowId*/) {
    return false;
  }
  virtual void Reserved344(int value) = 0;
  virtual bool resetRevSeqNumsInDatabaseForCalEntries(int /*userId*/) { return false; }
  virtual bool triggerCalendarGetAllItems(int /*userId*/) { return false; }

 protected:
  // The object goes away through ReleasePMDatabase.
  virtual ~PMDatabase() = default;
};

// A new, unopened database object holding one reference: the caller's.
// Null when it cannot be allocated.
PMDatabase* CreatePMDatabase();

// Closes the object and drops the caller's reference (the object is deleted
// when none is left). Returns the references left; 0 for null.
int ReleasePMDatabase(PMDatabase* database);
