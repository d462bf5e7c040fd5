// PMDatabaseSQLImp: the configuration database object over ADO and the
// process-wide connection pool (configdb/pm_database.h has the interface and
// the factory).
//
// What an object holds: the server's name, configuration id and relay list,
// read by Open; the cached record of every loaded user, in two maps (by user
// id, and by the user's device object, which owns the records); the query
// retry count of its own runners; the change listener given to Open.
//
// Reference counting: CreatePMDatabase hands out the object with one
// reference, the caller's; AddRef and Release change the count with
// interlocked operations and the object deletes itself when it reaches 0.
// Open takes no reference of its own, so ReleasePMDatabase frees an object
// exactly once, whether or not it was ever opened.
//
// The query core: every SQL operation of the object borrows a pooled
// connection for its own duration (ConnectionHolder), creates a Command and
// runs it with executeQuery (rows) or executeStatement (no rows). Both count
// each try in the pool's statistics and hand a COM error to
// HandleCommandError, which retries the transient SQL states ("HYT00",
// "40001", "57033") after (count - tries left)^2 seconds while tries are left
// (the query retry count, 0 by default, is the number of tries) and throws
// every other error back to the operation, which logs it and fails.
//
// Operations that this build does not provide yet answer with the failure
// value of their type (false, 0, -1 for the Check and counting operations,
// null, empty) and touch nothing.
//
// Locks: the user lock guards the two maps and every cached record; the
// life-cycle lock is held for the whole of Open and Close. When both are
// held the user lock is taken first. Every operation may be called from any
// thread; the runners keep no state between calls.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "configdb/pm_database.h"
#include "configdb/users/pager_record.h"
#include "db/vexdb_user.h"
#include "foundation/critical_section.h"
#include "platform/ado/ado.h"
#include "platform/com/unknown.h"

class PMDatabaseSQLImp : public PMDatabase {
 public:
  // Every member at its default; one reference held.
  PMDatabaseSQLImp();
  PMDatabaseSQLImp(const PMDatabaseSQLImp&) = delete;
  PMDatabaseSQLImp& operator=(const PMDatabaseSQLImp&) = delete;

  // Life cycle and user list.
  bool Open(int statsArgument, int agentId, const char* connectionString, int poolSize, ChangeListener* listener,
            const char* serverName, bool unusedFlag, bool refreshCounters, int unusedValue, bool* resultFlag,
            bool loadUsers, int msdeSizeLimit) override;
  bool ReloadServerConfig() override { return false; }
  void Close() override;
  bool Remove(int) override { return false; }
  bool CheckDB(char*) override { return false; }
  bool ReloadPagerList(LoadProgress*) override { return false; }
  void NotifyServerConfigChanges(const bool*, const bool*, const int*, const char*, const char*) override {}
  bool IsEmpty() override { return false; }
  bool Seek(int mode, Pager** pager, int value, const char* text) override;
  bool Destroy(Pager* pager) override;
  bool SetPagerDBStatus(Pager* pager, std::uint8_t status) override;
  bool AddPager(const wchar_t*, const char*, const char*, const DeviceIDRecord*, int, bool, bool, int, int,
                const ITPolicyDescriptor*, const char*, int, const char*) override {
    return false;
  }
  bool RemovePager(Pager* pager) override;
  // Per-user identity and cache.
  bool Reserved13(int) override { return false; }
  bool GetUserId(Pager* pager, int* userId) override;
  bool GetServerConfigId(Pager* pager, int* serverConfigId) override;
  bool GetLocalServerConfigId(int*) override { return false; }
  bool GetAgentIdforUserId(int, int*, int*, bool*) override { return false; }
  bool GetDeviceIDCache(Pager* pager, const DeviceIDRecord* ids, bool* changed, char* pinText,
                        int pinTextSize) override;
  bool GetDeviceIDCache(Pager* pager, DeviceIDRecord* out, std::uint32_t* size) override;
  bool SetDeviceIDCache(Pager* pager, const DeviceIDRecord* ids, int unused, bool guardUniquePin,
                        bool* pinTaken) override;
  bool SaveCachedValues(const CachedValueItemVector* items, int userId) override;
  bool SetCachedValue(Pager* pager, int id, CachedValue value) override;
  bool GetCachedValue(Pager* pager, int id, CachedValue* out) override;
  // Per-user names, states, policies, blobs, keys and times.
  bool SetDisplayNameW(Pager* pager, const wchar_t* displayName) override;
  bool GetDisplayNameW(Pager* pager, wchar_t* buffer, int size) override;
  bool GetDisplayName(Pager*, char*, int) override { return false; }
  bool GetRedirectionState(Pager* pager, std::uint8_t* state) override;
  bool SetRedirectionState(Pager*, bool) override { return false; }
  bool SetDisableSentItems(Pager*, bool) override { return false; }
  bool SetDNs(Pager* pager, const char* mailboxDN, const char* serverDN, const wchar_t* displayName,
              const char* homeMDB, const char* smtpAddress, std::uint8_t* changeMask, HRESULT* result,
              bool sanityCheck, bool* sanityFailed) override;
  bool SanityCheckDNChanges(std::uint8_t changeMask) override;
  bool GetServerDN(Pager* pager, char* buffer, int size) override;
  bool GetMailboxDN(Pager* pager, char* buffer, int size) override;
  bool SetHomeMDB(Pager* pager, const char* homeMDB) override;
  bool GetHomeMDB(Pager* pager, char* buffer, int size) override;
  bool GetCreationTime(Pager* pager, std::int64_t* time) override;
  bool GetExternalServicesState(Pager* pager, std::uint8_t* state) override;
  bool SetExternalServicesState(Pager*, bool) override { return false; }
  bool GetCalendarEnableState(Pager* pager, int* state) override;
  bool SetCalendarEnableState(Pager*, int) override { return false; }
  bool Reserved41(Pager*, const char*) override { return false; }
  bool GetServiceName(Pager* pager, char* buffer, int size) override;
  bool Reserved43(Pager*, const char*) override { return false; }
  bool GetPendingServiceName(Pager* pager, char* buffer, int size) override;
  bool GetPendingServerConfigId(Pager* pager, int* serverConfigId) override;
  bool GetPolicyName(Pager* pager, char* buffer, int size) override;
  bool Reserved47(Pager*, const char*) override { return false; }
  bool GetITPolicy2Id(Pager* pager, int* policyId) override;
  bool SetITPolicy2Id(Pager*, int) override { return false; }
  bool GetPolicyStatus(Pager* pager, int* status) override;
  bool SetPolicyStatus(Pager*, std::uint32_t) override { return false; }
  bool GetPolicyTimeSent(Pager* pager, std::int64_t* time) override;
  bool SetPolicyTimeSent(Pager*, std::int64_t) override { return false; }
  bool GetPolicyTimeReceived(Pager* pager, std::int64_t* time) override;
  bool SetPolicyTimeReceived(Pager*, std::int64_t) override { return false; }
  bool GetPolicyBlobSize(Pager* pager, int* size) override;
  bool GetPolicyBlob(Pager* pager, void* buffer, std::uint32_t* size) override;
  bool SetPolicyBlob(Pager* pager, const void* data, int length) override;
  bool Reserved59(int) override { return false; }
  bool GetDeviceCapabilitiesSize(Pager* pager, int* size) override;
  bool GetDeviceCapabilitiesBlob(Pager* pager, void* buffer, std::uint32_t* size) override;
  bool SetDeviceCapabilitiesBlob(Pager*, const void*, std::uint32_t) override { return false; }
  int CheckDeviceCapabilitiesBlob(Pager* pager, const void* data, int length) override;
  bool GetPeerToPeerKeyBlobSize(Pager* pager, int* size) override;
  bool GetPeerToPeerKeyBlob(Pager* pager, void* buffer, std::uint32_t* size) override;
  bool SetPeerToPeerKeyBlob(Pager*, const void*, std::uint32_t) override { return false; }
  bool RemovePeerToPeerKeyBlob(Pager*) override { return false; }
  bool SetPreviousKey(Pager*, const std::uint8_t*, int, bool) override { return false; }
  bool SetCurrentKey(Pager*, const std::uint8_t*, int, bool) override { return false; }
  bool SetPendingKey(Pager*, const std::uint8_t*, int, bool) override { return false; }
  int CheckEncryptionKey(Pager*, int, const std::uint8_t*, int, bool) override { return -1; }
  bool SetKeyDate(Pager*, std::int64_t) override { return false; }
  int CheckKeyDate(Pager*, std::int64_t) override { return -1; }
  bool SetActivationTime(Pager*, std::int64_t) override { return false; }
  int CheckActivationTime(Pager* pager, std::int64_t time) override;
  bool GetActivationTime(Pager*, std::int64_t*) override { return false; }
  bool SetSRPID(const char*) override { return false; }
  bool SetRoutingInfo(Pager*, const char*) override { return false; }
  int CheckRoutingInfo(Pager* pager, const char* routingInfo) override;
  bool SetTypedBlob(Pager*, OTACRRequest*) override { return false; }
  bool GetTypedBlob(Pager*, OTACRRequest*) override { return false; }
  bool GetOverrideEmailAddress(Pager* pager, char* buffer, int size) override;
  bool SetOverrideEmailAddress(Pager*, const char*) override { return false; }
  bool GetEmailAddress(Pager* pager, char* buffer, int size) override;
  bool SetEmailAddress(Pager*, const char*) override { return false; }
  bool GetServerRichContentEnabled(bool*) override { return false; }
  bool GetRichContentEnabled(Pager* pager, std::uint8_t* enabled) override;
  bool SetRichContentEnabled(Pager*, bool) override { return false; }
  bool GetServerInlineImagesEnabled(bool*) override { return false; }
  bool GetInlineImagesEnabled(Pager* pager, std::uint8_t* enabled) override;
  bool SetInlineImagesEnabled(Pager*, bool) override { return false; }
  bool GetServiceBookName(Pager* pager, wchar_t* buffer, int size) override;
  bool SetServiceBookName(Pager*, const wchar_t*) override { return false; }
  int CheckServiceBookName(Pager* pager, const wchar_t* name) override;
  bool GetServerDisclaimerTextSize(int*) override { return false; }
  bool GetDisclaimerTextSize(Pager* pager, int* size) override;
  bool GetServerDisclaimerText(char*, unsigned) override { return false; }
  bool GetDisclaimerText(Pager* pager, wchar_t* buffer, int size) override;
  bool GetServerPrependDisclaimerTextSize(int*) override { return false; }
  bool GetPrependDisclaimerTextSize(Pager* pager, int* size) override;
  bool GetServerPrependDisclaimerText(char*, unsigned) override { return false; }
  bool GetPrependDisclaimerText(Pager* pager, wchar_t* buffer, int size) override;
  bool SetAutoSignature(Pager*, const wchar_t*) override { return false; }
  int CheckAutoSignature(Pager* pager, const wchar_t* signature) override;
  // Per-user statistics and server counters.
  bool GetExpiredMsgsCount(Pager*, int*) override { return false; }
  bool SetExpiredMsgsCount(Pager*, int) override { return false; }
  bool GetFailedMsgsCount(Pager*, int*) override { return false; }
  bool SetFailedMsgsCount(Pager*, int) override { return false; }
  bool GetFilteredMsgsCount(Pager*, int*) override { return false; }
  bool SetFilteredMsgsCount(Pager*, int) override { return false; }
  bool GetPendingMsgsCount(Pager*, int*) override { return false; }
  bool SetPendingMsgsCount(Pager*, int) override { return false; }
  bool GetLastMsgExpired(Pager*, std::int64_t*) override { return false; }
  bool SetLastMsgExpired(Pager*, std::int64_t) override { return false; }
  bool GetServerMsgsSent(int*) override { return false; }
  bool GetMsgsSent(Pager*, int*) override { return false; }
  bool SetServerMsgsSent(int) override { return false; }
  bool SetMsgsSent(Pager*, int) override { return false; }
  bool GetMsgsRcvd(Pager*, int*) override { return false; }
  bool SetMsgsRcvd(Pager*, int) override { return false; }
  bool GetLastMsgSent(Pager*, std::int64_t*) override { return false; }
  bool SetLastMsgSent(Pager*, std::int64_t) override { return false; }
  bool GetLastMsgRcvd(Pager*, std::int64_t*) override { return false; }
  bool SetLastMsgRcvd(Pager*, std::int64_t) override { return false; }
  bool GetLastXPAction(Pager*, std::int64_t*) override { return false; }
  bool SetLastXPAction(Pager*, std::int64_t) override { return false; }
  bool GetStatus(Pager*, int*) override { return false; }
  bool SetStatus(Pager*, int) override { return false; }
  bool SaveServerPagerStats(int, bool*, bool*) override { return false; }
  // Per-user settings, record, templates, flags and certificates.
  bool GetOTAFMUserConfig(Pager*, int*) override { return false; }
  bool SetOTAFMUserConfig(Pager*, std::uint32_t) override { return false; }
  bool GetOTAFMConflit(Pager*, int*) override { return false; }
  bool SetOTAFMConflict(Pager*, std::uint32_t) override { return false; }
  bool GetOTASyncUserConfig(Pager*, int*) override { return false; }
  bool SetOTASyncUserConfig(Pager*, std::uint32_t) override { return false; }
  bool GetUserConfigRecord(Pager* pager, PagerRecord* out) override;
  bool GetDataSourceIdSize(Pager* pager, int* size) override;
  bool GetDataSourceId(Pager* pager, void* buffer, std::uint32_t* size) override;
  bool SetDataSourceId(Pager*, const void*, std::uint32_t) override { return false; }
  int CheckDataSourceId(Pager* pager, const void* data, int length) override;
  bool GetAckDataBlobSize(Pager* pager, int* size) override;
  bool GetAckDataBlob(Pager* pager, void* buffer, std::uint32_t* size) override;
  bool SetAckDataBlob(Pager*, const std::uint8_t*, int) override { return false; }
  int CheckAckDataBlob(Pager* pager, const void* data, int length) override;
  bool GetServiceBookDataTemplate(std::string&) override { return false; }
  bool GetServiceBookAppTemplates(std::list<std::wstring>&, std::uint32_t) override { return false; }
  bool SetRefIDGenerator(Pager*, std::int32_t) override { return false; }
  bool GetUserToServerStatus(Pager*, int*, int*) override { return false; }
  bool PromotePendingServerConfigId(Pager*) override { return false; }
  bool PromotePendingRoutingInfo(Pager*) override { return false; }
  bool SaveLanguageId(Pager*, std::uint32_t) override { return false; }
  bool LoadUserKeyGenProperties(Pager*, zev::ZEVString*, std::int64_t*, int*, int*, int*) override { return false; }
  bool GetUserKeyGenProperties(int, zev::ZEVString*, std::int64_t*, int*, int*, int*) override { return false; }
  bool StoreUserKeyGenProperties(Pager*, const zev::ZEVString*, const std::int64_t*, const int*, const int*,
                                 const int*) override {
    return false;
  }
  bool SetUserKeyGenProperties(int, const zev::ZEVString*, const std::int64_t*, const int*, const int*,
                               const int*) override {
    return false;
  }
  bool InitiateUserDelete(Pager* pager, unsigned mode, int* newStatus) override;
  bool CompleteUserDelete(Pager*, bool*) override { return false; }
  bool MarkPagerDeleted(int userId) override;
  bool MarkPagerChanged(int userId, int value) override;
  bool ClearPagerFlag(int userId) override;
  bool SetPagerFlag(int userId) override;
  bool MatchCertificateAttachment(Pager*, OTACRRequest*, std::uint32_t, const char*) override { return false; }
  bool StoreCertificateAttachment(Pager*, OTACRRequest*, const ByteBuffer&) override { return false; }
  bool UpdateCertificateRequest(int, int, int, int) override { return false; }
  bool SaveClientCertificateInfo(const ByteBuffer&, int) override { return false; }
  CertificateInfo* GetCertificateInfo(Pager*) override { return nullptr; }
  bool CheckCACertificate(Pager*, OTACRRequest*, const ByteBuffer&) override { return false; }
  bool LoadPendingPager(int) override { return false; }
  // Work queue and synchronisation state.
  bool AddWorkQueue(int, int, int, int, const wchar_t*) override { return false; }
  bool clearOutDuplicateMbMailSyncRows(int, const wchar_t*) override { return false; }
  bool setMbMailScanFailure(int, const wchar_t*, int) override { return false; }
  int getFailureCount(int, const wchar_t*) override { return -1; }
  int getCountOfGWUID(int, const wchar_t*) override { return -1; }
  bool GetMbMailSyncItem(int, MbMailSyncItem*, bool, bool) override { return false; }
  bool SetMbMailSyncItem(int, MbMailSyncItem*, bool) override { return false; }
  bool SetMbMailSyncRefID(int, int, int, int) override { return false; }
  bool ClearMBMailSyncRemoteSearch(int, int) override { return false; }
  bool SetMbCalendarSyncRefID(int, int, int) override { return false; }
  bool GetMbCalendarSyncItem(int, int, PMDBInterface::MbCalendarSyncItem*) override { return false; }
  bool GetMbCalendarSyncItemAndExceptions(int, int, PMDBInterface::MbCalendarSyncItem*,
                                          std::list<PMDBInterface::MbCalendarSyncChildItem*>&) override {
    return false;
  }
  bool GetMbCalendarSyncItems(int, std::list<PMDBInterface::MbCalendarSyncItem*>&) override { return false; }
  bool GetMbFolderSync(int, std::list<FolderState*>&) override { return false; }
  bool GetMbFolderSyncItem(const wchar_t*, GWFolderState*) override { return false; }
  bool GetMbFolderSyncItemByVexFolderId(int, int, GWFolderState*) override { return false; }
  bool GetMbFolderSyncRescan(int, std::deque<PMDBInterface::WorkQueue>&) override { return false; }
  bool PollMbPimSync(int, std::map<int, PMDBInterface::WorkQueue>&) override { return false; }
  bool RescanMbMailSync(int, std::list<MailRescanItem*>&, int) override { return false; }
  bool UpdateMbMailSyncMessageState(int, int, bool, int, bool, int) override { return false; }
  bool UpdateMbFolderSync(int, int, GWFolderState*, int) override { return false; }
  bool UpdateMbFolderSyncDeliveryStatus(int, int) override { return false; }
  bool UpdateMbFolderSyncSubscribed(int, int, bool) override { return false; }
  bool UpdateMbCalendarSyncDeliveryStatus(int, int, bool) override { return false; }
  bool GetGWTrustedAppKey(_bstr_t&, _bstr_t&) override { return false; }
  bool GetGWFolderID(int, int, std::wstring&) override { return false; }
  bool GetSubscribedFolderList(int, std::list<FolderState*>&) override { return false; }
  bool GetAddressLookup(const wchar_t*, const wchar_t*, std::list<ADLMap*>&, bool) override { return false; }
  bool GetAddressBookSubscribed(int, _bstr_t&) override { return false; }
  bool GetGWUserName(int, _bstr_t&) override { return false; }
  bool SetMbCalendarSyncItemsInProgress(std::list<int>&) override { return false; }
  bool SetMbCalendarSyncLMTime(int, int, int, int) override { return false; }
  bool SetupMbSyncStatesForPolling(int) override { return false; }
  bool GetPINsLookup(const wchar_t*, std::list<ADLMap*>&) override { return false; }
  bool UpdateMbMailSyncDeliveryStatus(int, MbMailSyncItem*, int) override { return false; }
  bool SetStartupMBSyncDeliveryStatus() override { return false; }
  bool SetupMbCalendarPolling(int) override { return false; }
  bool PollMbFolderSyncUpdates(std::list<int>&) override { return false; }
  bool PollMbMailSyncUpdates(std::list<int>&) override { return false; }
  bool PollMbCalendarSyncUpdates(std::list<PollItem*>&) override { return false; }
  bool PollMbFolderSyncCreates(std::list<PollItem*>&) override { return false; }
  bool PollMbMailSyncNewMail(std::list<PollItem*>&) override { return false; }
  bool PollMbMailSyncMissedMail(std::list<PollItem*>&) override { return false; }
  bool PollMbCalendarSyncNewCal(std::list<PollItem*>&) override { return false; }
  bool PollMbCalendarSyncMissedMail(std::list<PollItem*>&) override { return false; }
  bool PollMbPimSyncNewPim(std::list<PollItem*>&) override { return false; }
  bool PruneMbMailSync(int, const std::set<int>*) override { return false; }
  // Server configuration and counters.
  bool RefreshServerStats() override { return false; }
  bool FlushServerStats(int) override { return false; }
  bool ResetGlobalStats() override { return false; }
  bool SetLinkStatus(int) override { return false; }
  int GetLinkStatus() override { return 0; }
  bool GetServiceInstallName(char*, int) override { return false; }
  bool GetServiceInstallNameSize(int*) override { return false; }
  bool SetServiceInstallName(const char*) override { return false; }
  bool GetMailServerName(char*, unsigned) override { return false; }
  bool GetMailServerNameSize(int*) override { return false; }
  bool GetSRPID(char*, unsigned) override { return false; }
  bool GetSRPIDSize(int*) override { return false; }
  bool GetAuthenticationKey(void*, std::uint32_t*) override { return false; }
  bool GetAuthenticationKeySize(std::uint32_t*) override { return false; }
  bool SetAuthenticationKey(const char*) override { return false; }
  int CheckAuthenticationKey(const void*, std::uint32_t) override { return -1; }
  bool GetServerMsgsForwarded(int*) override { return false; }
  bool IncrementServerMsgsForwarded(int*) override { return false; }
  bool SetServerMsgsForwarded(int) override { return false; }
  bool IncrementServerMsgsSent(int*) override { return false; }
  bool GetServerMsgsPending(int*) override { return false; }
  bool IncrementServerMsgsPending(int*) override { return false; }
  bool DecrementServerMsgsPending(int*) override { return false; }
  bool SetServerMsgsPending(int) override { return false; }
  bool GetServerMsgsExpired(int*) override { return false; }
  bool IncrementServerMsgsExpired(int*) override { return false; }
  bool SetServerMsgsExpired(int) override { return false; }
  bool GetServerMsgsFiltered(int*) override { return false; }
  bool IncrementServerMsgsFiltered(int*) override { return false; }
  bool SetServerMsgsFiltered(int) override { return false; }
  bool Reserved246(std::int64_t*) override { return false; }
  bool PagerDump(Pager* pager, char** text, int* length) override;
  bool GetFilterBlob(void*, std::uint32_t*) override { return false; }
  bool GetFilterBlobSize(std::uint32_t*) override { return false; }
  bool SetFilterBlob(const void*, int) override { return false; }
  zev::ZEVString GetXMLFilter() override { return zev::ZEVString(); }
  bool SaveXMLFilterToDatabase(zev::ZEVString) override { return false; }
  bool LoadAndClearGlobalFilterBin() override { return false; }
  bool ClearGlobalFilterBin() override { return false; }
  bool GetRPCEndPoint(char*, unsigned) override { return false; }
  bool GetRPCEndPointSize(int*) override { return false; }
  bool SetRPCEndPoint(const char*) override { return false; }
  bool GetMachineName(char*, unsigned) override { return false; }
  bool GetMachineNameSize(int*) override { return false; }
  bool SetMachineName(const char*) override { return false; }
  bool GetHRTSize(int*) override { return false; }
  bool GetHRT(char*, unsigned) override { return false; }
  bool SetHRT(const char*) override { return false; }
  bool GetExternalServices(bool*) override { return false; }
  bool SetExternalServices(bool) override { return false; }
  bool GetServerDisclaimerTextWSize(int*) override { return false; }
  bool GetServerDisclaimerTextW(wchar_t*, unsigned) override { return false; }
  bool SetServerDisclaimerText(const char*) override { return false; }
  bool SetServerDisclaimerTextW(const wchar_t*) override { return false; }
  bool GetServerPrependDisclaimerTextWSize(int*) override { return false; }
  bool GetServerPrependDisclaimerTextW(wchar_t*, unsigned) override { return false; }
  bool SetServerPrependDisclaimerText(const char*) override { return false; }
  bool SetServerPrependDisclaimerTextW(const wchar_t*) override { return false; }
  bool GetDisclaimerTextRuleLow(int*) override { return false; }
  bool GetDisclaimerTextRuleHigh(int*) override { return false; }
  bool GetAutoBCCNameSize(int*) override { return false; }
  bool GetAutoBCCName(char*, unsigned) override { return false; }
  bool SetAutoBCCName(const char*) override { return false; }
  bool GetAutoBCCAddrSize(int*) override { return false; }
  bool GetAutoBCCAddr(char*, unsigned) override { return false; }
  bool SetAutoBCCAddr(const char*) override { return false; }
  bool GetVexVersionSize(int*) override { return false; }
  bool GetVexVersion(char*, unsigned) override { return false; }
  bool SetVexVersion(const char*) override { return false; }
  bool SetServerTypedBlob(OTACRRequest*) override { return false; }
  bool GetServerTypedBlob(OTACRRequest*) override { return false; }
  bool GetServerPeerToPeerKeyBlobSize(std::uint32_t*) override { return false; }
  bool GetServerPeerToPeerKeyBlob(void*, std::uint32_t*) override { return false; }
  bool SetServerPeerToPeerKeyBlob(const void*, std::uint32_t) override { return false; }
  bool GetEnableSMIME(int*) override { return false; }
  bool SetEnableSMIME(int) override { return false; }
  bool GetExternalServicesPort(int*) override { return false; }
  bool SetExternalServicesPort(int) override { return false; }
  bool GetOTAFMSupport(int*) override { return false; }
  bool SetOTAFMSupport(int) override { return false; }
  bool GetOTAFMEnable(bool*) override { return false; }
  bool SetOTAFMEnable(bool) override { return false; }
  bool Reserved301(int) override { return false; }
  bool Reserved302(int, int) override { return false; }
  bool Reserved303(int) override { return false; }
  bool GetPolicyResendTimeout(std::int64_t*) override { return false; }
  bool SetPolicyResendTimeout(std::int64_t) override { return false; }
  bool GetServerLTKeyPair(void*, std::uint32_t*) override { return false; }
  bool GetServerLTKeyPairSize(std::uint32_t*) override { return false; }
  bool SetServerLTKeyPair(const void*, int) override { return false; }
  // Queries and settings.
  bool GetUserPIN(std::map<std::wstring, zev::ZEVString*>&) override { return false; }
  bool GetUserCompanyName(zev::ZEVString, zev::ZEVString*) override { return false; }
  bool GetAgentIDMap(std::map<std::string, std::int32_t>&) override { return false; }
  bool Reserved312(KwyRList& relays) override;
  bool HasServerCapability(int, std::wstring&) override { return false; }
  bool GetServerCapabilities(std::list<std::wstring>&) override { return false; }
  bool SetServerCapabilities(int, const wchar_t*) override { return false; }
  bool GetInternalQIPPPort(int*) override { return false; }
  bool SetInternalQIPPPort(std::int32_t) override { return false; }
  bool GetEnabledEncryptionAlgs(std::uint8_t*) override { return false; }
  bool SetEnabledEncryptionAlgs(std::uint8_t) override { return false; }
  bool GetOTAFMHardDeleteEnabled(bool*) override { return false; }
  bool GetMessageStateDbSize(int*) override { return false; }
  bool GetUserCount(int*) override { return false; }
  bool ValidateConnectionPool() override { return false; }
  bool GetMigratingUsers(std::set<std::int32_t>&) override { return false; }
  bool RemoveMigratedUser(std::int32_t) override { return false; }
  bool IsUserOnSameRelay(int, const char*) override { return false; }
  bool GetPrePolulationConfig(int*, int*, bool*) override { return false; }
  bool GetUserConfigData(PMDBInterface::UserConfigData*) override { return false; }
  bool GetMaxAttachUploadSize(int*) override { return false; }
  bool GetMaxAttachTotalUploadSize(int*) override { return false; }
  bool GetMaxAttachDownloadSize(int*) override { return false; }
  bool GetRemoteSearchEnabled(bool*) override { return false; }
  bool GetRemoteSearchMaxNumOfResults(int*) override { return false; }
  bool GetFreeBusyEnabled(bool*) override { return false; }
  bool SetQueryRetryCount(int count) override;
  bool GetAppConfigCredentials(const char*, std::string&, std::string&, std::string&, int*) override { return false; }
  bool SetPollingLookbackDays(int days) override;
  void SetServiceInstanceId(int id) override;
  bool GetASConnectorConfigData(zev::ZEVString&) override { return false; }
  // Calendar and folder extras.
  bool GetUserIdByEmail(const wchar_t*, int*) override { return false; }
  bool GetMeetingAttendees(const wchar_t*, bool, std::map<std::wstring, std::int32_t>&) override { return false; }
  bool GetOriginatingMeetingId(const char*, bool, int, int*, int*) override { return false; }
  bool GetCalendarIdFromUserIdAndVexRefId(int, int, int*) override { return false; }
  void Reserved344(int) override {}
  bool resetRevSeqNumsInDatabaseForCalEntries(int) override { return false; }
  bool triggerCalendarGetAllItems(int) override { return false; }

  // The implementation's own operations, after the interface's.
  virtual bool LoadPagerStatRecord(int) { return false; }
  // Forgets `userId` in the user-id map (the record stays with its device
  // object); true when it was there. Takes the user lock.
  virtual bool RemoveCachedPager(int userId);
  virtual bool SetMbCalendarSyncItem(int, PMDBInterface::MbCalendarSyncItem*, bool) { return false; }
  virtual bool DeleteMbCalendarSyncItem(int, int, bool) { return false; }
  virtual bool UpdateMbCalendarSyncMeetingStatus(int, int) { return false; }
  virtual bool GetMbCalendarSyncRecurrences(int, int, std::vector<std::wstring>&) { return false; }
  virtual bool GetMbFolderSyncItemByFolderId(int, const char*, GWFolderState*) { return false; }
  virtual bool PollMbSyncTable(const char*, const wchar_t*, const wchar_t*, unsigned, std::list<PollItem*>&) {
    return false;
  }
  virtual bool UpdateCertificateRequestRecord(PagerRecord*, int, int, int, int) { return false; }
  virtual LONG AddRef();
  // At 0 the object deletes itself.
  virtual LONG Release();
  // IID_IUnknown only (with a reference added); E_NOINTERFACE otherwise,
  // E_POINTER for a null out pointer.
  virtual HRESULT QueryInterface(REFIID iid, void** object);

  // The runners of the query core (see above). executeQuery leaves the
  // recordset in `recordset`; executeStatement is true when the command
  // returned a recordset object. A non-transient COM error, or the last
  // transient one, reaches the caller as the same _com_error.
  void executeQuery(const char* name, ado::_RecordsetPtr& recordset, ado::_CommandPtr& command);
  bool executeStatement(const char* name, ado::_CommandPtr& command, VARIANT* recordsAffected);
  // Called only inside the runners' handler of the exception being handled,
  // with the tries left after the failed one: returns to retry or rethrows.
  void HandleCommandError(const char* name, int triesLeft, ado::_CommandPtr& command);

  // Reads the server's ServerConfig row, by the stored server name (0) or by
  // the stored configuration id; false when there is none.
  bool LoadServerConfig(int serverConfigId);
  // Makes sure the server's ServerStats row exists, creating it when absent;
  // sets *resultFlag when given. False when neither could be done.
  bool InitServerStats(int statsArgument, const char* serverName, bool* resultFlag);

 protected:
  // Objects go away through Release.
  ~PMDatabaseSQLImp() override;

 private:
  friend class PMDatabaseSQLImpTestAccess;

  bool LoadServerCapabilities() { return false; }
  int _GetDefaultPolicyId() { return 0; }
  bool PopulateListOfPagers(LoadProgress*) { return false; }
  // The record of `pager`, null when it is not cached; call under the user
  // lock.
  PagerRecord* FindRecord(Pager* pager) const;

  CriticalSection lifeCycleLock_;
  // User id -> record; holds no ownership.
  std::map<int, PagerRecord*> userRecords_;
  // Device object -> record; owns the records.
  std::map<Pager*, PagerRecord*> pagers_;
  CriticalSection userLock_;
  int agentId_ = 0;
  // Set once Open has initialised the pool; Close gives the pool back.
  bool opened_ = false;
  ChangeListener* changeListener_ = nullptr;
  bool refreshCounters_ = true;
  std::string connectionString_;
  int poolSize_ = 5;
  LONG references_ = 1;
  int serverConfigId_ = 0;
  int defaultPolicyId_ = 0;
  std::int64_t lastHistoryId_ = 0;
  std::string serviceName_;
  int serviceInstanceId_ = 0;
  KwyRList relayList_;
  int queryRetryCount_ = 0;
  int pollingLookbackDays_ = 7;
};

// Closes the recordset when it is open; logs and swallows what that throws.
void closeRecordSet(ado::_RecordsetPtr recordset);
// The first column of the current row as a 32-bit value, zero-extended, in
// *out (0 for NULL); false without a recordset, when `read` is false, or at
// the end of the rows. COM errors reach the caller.
bool ReadFirstColumnAsInt64(ado::_RecordsetPtr recordset, bool read, std::int64_t* out);
