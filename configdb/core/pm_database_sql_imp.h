// PMDatabaseSQLImp: the configuration database object over ADO and the
// process-wide connection pool (configdb/pm_database.h has the interface and
// the factory).
//
// What an object holds: the server's configuration row (ServerConfig joined
// with the site's GlobalSettings row), its capabilities per service, its
// ServerStats row (a SQLDBObject) and its relay list, read by Open; the
// cached record of every loaded user, in two maps (by user id, and by the
// user's device object, which owns the records), and each user's statistics
// record; the query retry count of its own runners; the change listener
// given to Open.
//
// Open, in order: the pool, the command settings, the server row by name,
// the capabilities, the relay list, the default IT policy, the ServerStats
// row, the last change-history id, and (when asked) every user of the
// server: one batch read of the UserConfig rows, then one of their UserStats
// rows on a thread of its own (another pooled connection) while every row
// becomes a device object (CreatePagerImp) and its record; then, row by row,
// each record is logged, cached and given its statistics. ReloadPagerList
// loads the users the same way.
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
// Locks, each recursive: the user lock guards the user maps and every
// cached record; the life-cycle lock is held for the whole of Open, Close
// and ReloadPagerList; the statistics lock guards the statistics records;
// the server-statistics lock guards the ServerStats row object. When two are
// held the user lock is taken first. The server row has a reader/writer lock
// of its own: its loaders write under it, its getters read under it. Every
// operation may be called from any thread; the runners keep no state
// between calls. The thread that reads the UserStats rows takes no lock and
// touches no member but reads; the load waits for it before it caches a
// user, and on every way out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "configdb/core/server_pager_stats.h"
#include "configdb/pm_database.h"
#include "configdb/servers/server_config.h"
#include "configdb/servers/sql_db_object.h"
#include "configdb/users/pager_record.h"
#include "db/connection_holder.h"
#include "db/vexdb_user.h"
#include "foundation/critical_section.h"
#include "platform/ado/ado.h"
#include "platform/com/unknown.h"

// Seconds on the monotonic clock (GetTickCount64 / 1000).
std::int64_t MonotonicSeconds();

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
  bool ReloadServerConfig() override;
  void Close() override;
  bool Remove(int) override { return false; }
  bool CheckDB(char*) override { return false; }
  bool ReloadPagerList(LoadProgress* progress) override;
  void NotifyServerConfigChanges(const bool* externalServices, const bool* otafmEnable, const int* enableSMIME,
                                 const char* srpid, const char* autoBCCAddr) override;
  bool IsEmpty() override { return false; }
  bool Seek(int mode, Pager** pager, int value, const char* text) override;
  bool Destroy(Pager* pager) override;
  bool SetPagerDBStatus(Pager* pager, std::uint8_t status) override;
  bool AddPager(const wchar_t* displayName, const char* mailboxDN, const char* serverDN, const DeviceIDRecord* deviceIds,
                int deviceIdsSize, bool redirectionState, bool extServicesState, int, int,
                const ITPolicyDescriptor* policy, const char* overrideSMTPAddr, int, const char* routingInfo) override;
  bool RemovePager(Pager* pager) override;
  // Per-user identity and cache.
  bool Reserved13(int) override { return true; }
  bool GetUserId(Pager* pager, int* userId) override;
  bool GetServerConfigId(Pager* pager, int* serverConfigId) override;
  bool GetLocalServerConfigId(int* serverConfigId) override;
  bool GetAgentIdforUserId(int userId, int* agentId, int* serverConfigId, bool* found) override;
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
  bool GetDisplayName(Pager* pager, char* buffer, int length) override;
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
  bool Reserved41(Pager*, const char*) override { return true; }
  bool GetServiceName(Pager* pager, char* buffer, int size) override;
  bool Reserved43(Pager*, const char*) override { return true; }
  bool GetPendingServiceName(Pager* pager, char* buffer, int size) override;
  bool GetPendingServerConfigId(Pager* pager, int* serverConfigId) override;
  bool GetPolicyName(Pager* pager, char* buffer, int size) override;
  bool Reserved47(Pager*, const char*) override { return true; }
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
  bool Reserved59(int) override { return true; }
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
  bool SetTypedBlob(Pager* pager, OTACRRequest* blob) override;
  bool GetTypedBlob(Pager* pager, OTACRRequest* blob) override;
  bool GetOverrideEmailAddress(Pager* pager, char* buffer, int size) override;
  bool SetOverrideEmailAddress(Pager*, const char*) override { return false; }
  bool GetEmailAddress(Pager* pager, char* buffer, int size) override;
  bool SetEmailAddress(Pager*, const char*) override { return false; }
  bool GetServerRichContentEnabled(bool* enabled) override;
  bool GetRichContentEnabled(Pager* pager, std::uint8_t* enabled) override;
  bool SetRichContentEnabled(Pager*, bool) override { return false; }
  bool GetServerInlineImagesEnabled(bool* enabled) override;
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
  bool GetExpiredMsgsCount(Pager* pager, int* value) override;
  bool SetExpiredMsgsCount(Pager* pager, int value) override;
  bool GetFailedMsgsCount(Pager* pager, int* value) override;
  bool SetFailedMsgsCount(Pager* pager, int value) override;
  bool GetFilteredMsgsCount(Pager* pager, int* value) override;
  bool SetFilteredMsgsCount(Pager* pager, int value) override;
  bool GetPendingMsgsCount(Pager* pager, int* value) override;
  bool SetPendingMsgsCount(Pager* pager, int value) override;
  bool GetLastMsgExpired(Pager* pager, std::int64_t* value) override;
  bool SetLastMsgExpired(Pager* pager, std::int64_t value) override;
  bool GetServerMsgsSent(int* value) override;
  bool GetMsgsSent(Pager* pager, int* value) override;
  bool SetServerMsgsSent(int value) override;
  bool SetMsgsSent(Pager* pager, int value) override;
  bool GetMsgsRcvd(Pager* pager, int* value) override;
  bool SetMsgsRcvd(Pager* pager, int value) override;
  bool GetLastMsgSent(Pager* pager, std::int64_t* value) override;
  bool SetLastMsgSent(Pager* pager, std::int64_t value) override;
  bool GetLastMsgRcvd(Pager* pager, std::int64_t* value) override;
  bool SetLastMsgRcvd(Pager* pager, std::int64_t value) override;
  bool GetLastXPAction(Pager* pager, std::int64_t* value) override;
  bool SetLastXPAction(Pager* pager, std::int64_t value) override;
  bool GetStatus(Pager* pager, int* value) override;
  bool SetStatus(Pager* pager, int value) override;
  bool SaveServerPagerStats(int userId, bool* countersChanged, bool* hasPending) override;
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
  bool CompleteUserDelete(Pager* pager, bool* failed) override;
  bool MarkPagerDeleted(int userId) override;
  bool MarkPagerChanged(int userId, int value) override;
  bool ClearPagerFlag(int userId) override;
  bool SetPagerFlag(int userId) override;
  bool MatchCertificateAttachment(Pager* pager, OTACRRequest* attachment, std::uint32_t size,
                                  const char* allowedExtensions) override;
  bool StoreCertificateAttachment(Pager* pager, OTACRRequest* attachment, const ByteBuffer& blob) override;
  bool UpdateCertificateRequest(int serverConfigId, int userId, int deliverCertificate, int deliverChain) override;
  bool SaveClientCertificateInfo(const ByteBuffer& info, int userId) override;
  CertificateInfo* GetCertificateInfo(Pager* pager) override;
  bool CheckCACertificate(Pager* pager, OTACRRequest* request, const ByteBuffer& certificate) override;
  bool LoadPendingPager(int userId) override;
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
  bool GetMbFolderSyncItemByVexFolderId(int userId, int vexFolderId, GWFolderState* out) override;
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
  bool RefreshServerStats() override;
  bool FlushServerStats(int) override { return true; }
  bool ResetGlobalStats() override { return false; }
  bool SetLinkStatus(int) override { return false; }
  int GetLinkStatus() override;
  bool GetServiceInstallName(char*, int) override { return false; }
  bool GetServiceInstallNameSize(int*) override { return false; }
  bool SetServiceInstallName(const char*) override { return false; }
  bool GetMailServerName(char*, unsigned) override { return false; }
  bool GetMailServerNameSize(int*) override { return false; }
  bool GetSRPID(char*, unsigned) override { return false; }
  bool GetSRPIDSize(int*) override { return false; }
  bool GetAuthenticationKey(void* buffer, std::uint32_t* length) override;
  bool GetAuthenticationKeySize(std::uint32_t* size) override;
  bool SetAuthenticationKey(const char*) override { return false; }
  int CheckAuthenticationKey(const void*, std::uint32_t) override { return -1; }
  bool GetServerMsgsForwarded(int* value) override;
  bool IncrementServerMsgsForwarded(int* value) override;
  bool SetServerMsgsForwarded(int value) override;
  bool IncrementServerMsgsSent(int* value) override;
  bool GetServerMsgsPending(int* value) override;
  bool IncrementServerMsgsPending(int* value) override;
  bool DecrementServerMsgsPending(int* value) override;
  bool SetServerMsgsPending(int value) override;
  bool GetServerMsgsExpired(int* value) override;
  bool IncrementServerMsgsExpired(int* value) override;
  bool SetServerMsgsExpired(int value) override;
  bool GetServerMsgsFiltered(int* value) override;
  bool IncrementServerMsgsFiltered(int* value) override;
  bool SetServerMsgsFiltered(int value) override;
  bool Reserved246(std::int64_t* value) override;
  bool PagerDump(Pager* pager, char** text, int* length) override;
  bool GetFilterBlob(void* buffer, std::uint32_t* length) override;
  bool GetFilterBlobSize(std::uint32_t* size) override;
  bool SetFilterBlob(const void*, int) override { return false; }
  zev::ZEVString GetXMLFilter() override;
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
  bool GetExternalServices(bool* value) override;
  bool SetExternalServices(bool) override { return false; }
  bool GetServerDisclaimerTextWSize(int*) override { return false; }
  bool GetServerDisclaimerTextW(wchar_t*, unsigned) override { return false; }
  bool SetServerDisclaimerText(const char*) override { return false; }
  bool SetServerDisclaimerTextW(const wchar_t*) override { return false; }
  bool GetServerPrependDisclaimerTextWSize(int*) override { return false; }
  bool GetServerPrependDisclaimerTextW(wchar_t*, unsigned) override { return false; }
  bool SetServerPrependDisclaimerText(const char*) override { return false; }
  bool SetServerPrependDisclaimerTextW(const wchar_t*) override { return false; }
  bool GetDisclaimerTextRuleLow(int* value) override;
  bool GetDisclaimerTextRuleHigh(int* value) override;
  bool GetAutoBCCNameSize(int*) override { return false; }
  bool GetAutoBCCName(char*, unsigned) override { return false; }
  bool SetAutoBCCName(const char*) override { return false; }
  bool GetAutoBCCAddrSize(int*) override { return false; }
  bool GetAutoBCCAddr(char*, unsigned) override { return false; }
  bool SetAutoBCCAddr(const char*) override { return false; }
  bool GetVexVersionSize(int*) override { return false; }
  bool GetVexVersion(char*, unsigned) override { return false; }
  bool SetVexVersion(const char*) override { return false; }
  bool SetServerTypedBlob(OTACRRequest* blob) override;
  bool GetServerTypedBlob(OTACRRequest* blob) override;
  bool GetServerPeerToPeerKeyBlobSize(std::uint32_t* size) override;
  bool GetServerPeerToPeerKeyBlob(void* buffer, std::uint32_t* length) override;
  bool SetServerPeerToPeerKeyBlob(const void*, std::uint32_t) override { return false; }
  bool GetEnableSMIME(int* value) override;
  bool SetEnableSMIME(int) override { return false; }
  bool GetExternalServicesPort(int* value) override;
  bool SetExternalServicesPort(int) override { return false; }
  bool GetOTAFMSupport(int* value) override;
  bool SetOTAFMSupport(int) override { return false; }
  bool GetOTAFMEnable(bool* value) override;
  bool SetOTAFMEnable(bool) override { return false; }
  bool Reserved301(int) override { return false; }
  bool Reserved302(int, int) override { return false; }
  bool Reserved303(int) override { return true; }
  bool GetPolicyResendTimeout(std::int64_t* value) override;
  bool SetPolicyResendTimeout(std::int64_t) override { return false; }
  bool GetServerLTKeyPair(void* buffer, std::uint32_t* length) override;
  bool GetServerLTKeyPairSize(std::uint32_t* size) override;
  bool SetServerLTKeyPair(const void*, int) override { return false; }
  // Queries and settings.
  bool GetUserPIN(std::map<std::wstring, zev::ZEVString*>&) override { return false; }
  bool GetUserCompanyName(zev::ZEVString, zev::ZEVString*) override { return false; }
  bool GetAgentIDMap(std::map<std::string, std::int32_t>&) override { return false; }
  bool Reserved312(KwyRList& relays) override;
  bool HasServerCapability(int serviceType, std::wstring& capabilities) override;
  bool GetServerCapabilities(std::list<std::wstring>& capabilities) override;
  bool SetServerCapabilities(int serviceId, const wchar_t* capabilities) override;
  bool GetInternalQIPPPort(int* value) override;
  bool SetInternalQIPPPort(std::int32_t) override { return false; }
  bool GetEnabledEncryptionAlgs(std::uint8_t* value) override;
  bool SetEnabledEncryptionAlgs(std::uint8_t) override { return false; }
  bool GetOTAFMHardDeleteEnabled(bool* value) override;
  bool GetMessageStateDbSize(int* value) override;
  bool GetUserCount(int*) override { return false; }
  bool ValidateConnectionPool() override;
  bool GetMigratingUsers(std::set<std::int32_t>&) override { return false; }
  bool RemoveMigratedUser(std::int32_t) override { return false; }
  bool IsUserOnSameRelay(int, const char*) override { return false; }
  bool GetPrePolulationConfig(int*, int*, bool*) override { return false; }
  bool GetUserConfigData(PMDBInterface::UserConfigData*) override { return false; }
  bool GetMaxAttachUploadSize(int* value) override;
  bool GetMaxAttachTotalUploadSize(int* value) override;
  bool GetMaxAttachDownloadSize(int* value) override;
  bool GetRemoteSearchEnabled(bool* value) override;
  bool GetRemoteSearchMaxNumOfResults(int* value) override;
  bool GetFreeBusyEnabled(bool* value) override;
  bool SetQueryRetryCount(int count) override;
  bool GetAppConfigCredentials(const char*, std::string&, std::string&, std::string&, int*) override { return false; }
  bool SetPollingLookbackDays(int days) override;
  void SetServiceInstanceId(int id) override;
  bool GetASConnectorConfigData(zev::ZEVString& out) override;
  // Calendar and folder extras.
  bool GetUserIdByEmail(const wchar_t* smtpAddress, int* userId) override;
  bool GetMeetingAttendees(const wchar_t*, bool, std::map<std::wstring, std::int32_t>&) override { return false; }
  bool GetOriginatingMeetingId(const char*, bool, int, int*, int*) override { return false; }
  bool GetCalendarIdFromUserIdAndVexRefId(int, int, int*) override { return false; }
  void Reserved344(int value) override { reserved344_ = value; }
  bool resetRevSeqNumsInDatabaseForCalEntries(int) override { return false; }
  bool triggerCalendarGetAllItems(int) override { return false; }

  // The implementation's own operations, after the interface's.
  virtual bool LoadPagerStatRecord(int userId);
  // Forgets `userId` in the user-id map (the record stays with its device
  // object); true when it was there. Takes the user lock.
  virtual bool RemoveCachedPager(int userId);
  virtual bool SetMbCalendarSyncItem(int, PMDBInterface::MbCalendarSyncItem*, bool) { return false; }
  virtual bool DeleteMbCalendarSyncItem(int, int, bool) { return false; }
  virtual bool UpdateMbCalendarSyncMeetingStatus(int, int) { return false; }
  virtual bool GetMbCalendarSyncRecurrences(int, int, std::vector<std::wstring>&) { return false; }
  virtual bool GetMbFolderSyncItemByFolderId(int userId, const char* folderId, GWFolderState* out);
  virtual bool PollMbSyncTable(const char*, const wchar_t*, const wchar_t*, unsigned, std::list<PollItem*>&) {
    return false;
  }
  virtual bool UpdateCertificateRequestRecord(PagerRecord* record, int serverConfigId, int userId,
                                              int deliverCertificate, int deliverChain);
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

  // Reads the server's ServerConfig row joined with the site's
  // GlobalSettings row into the server members: by the stored server name
  // (0; the row's Id becomes ServerConfigId) or by ServerConfigId. False
  // when there is no such row or a column cannot be read.
  bool LoadServerConfig(int serverId);
  // Sets up the ServerStats row object for ServerConfigId, reading the
  // counters or creating the row; sets *resultFlag when given.
  bool InitServerStats(int statsArgument, const char* serverName, bool* resultFlag);
  // Empties the ServerStats row object (under the server-statistics lock).
  void ClearServerStatsRow();
  // The statistics record of the pager's user, returned with the statistics
  // lock held (the caller unlocks GetStatisticsLock()); false, unlocked,
  // when the user has none.
  bool GetAndLockServerPagerStats(Pager* pager, ServerPagerStats** out);
  CriticalSection& GetStatisticsLock() { return statsLock_; }
  // Loads one user's row into `record` by id, or by MailboxDN when the id
  // is 0: 1 found, 0 none (or neither given), -1 failure.
  int LoadUserConfig(int userId, PagerRecord* record, const char* mailboxDN);
  // Fills `record` from the user's row of a GetRows array of the user
  // SELECT's columns ([column][row]): 1 found, 0 none (no array, user id 0,
  // no record), -1 failure.
  int LoadUserConfigVariant(int userId, PagerRecord* record, const VARIANT* rows);
  // Runs "GetAgentUserListWithMaxHistId" on the caller's connection: the
  // rows (if any) in `rows`, the newest change-history id in *maxHistoryId
  // when above 0.
  bool LoadUserArray(VARIANT* rows, ConnectionHolder* connection, std::int64_t* maxHistoryId);
  // The user's UserConfig Id by MailboxDN, 0 when none or on failure.
  int CheckUserExists(const char* mailboxDN);

 protected:
  // Objects go away through Release.
  ~PMDatabaseSQLImp() override;

 private:
  friend class PMDatabaseSQLImpTestAccess;

  // Statistics records read in one batch, by user id.
  using StatsRows = std::map<int, ServerPagerStats>;

  bool LoadServerCapabilities();
  int _GetDefaultPolicyId();
  // The first column of the first row of `sql` (with the one text
  // parameter when `text` is not null) when it holds a value; else 0, also
  // on failure (logged under `name`).
  int SelectId(const char* name, const wchar_t* sql, const char* text);
  // Removes every cached user: record and device object (under the user
  // lock).
  void RemoveAllPagers();
  bool PopulateListOfPagers(LoadProgress* progress);
  // Make, load and cache one user (the caller holds the user lock).
  bool CreatePagerForUser(int userId, const char* mailboxDN);
  // LoadUserConfigVariant for a row already found: the record filled from
  // its cells (FillUserRecord), a failure logged (LogUserRowFailure).
  int LoadUserConfigCells(int userId, PagerRecord* record, const VARIANT* cells, std::size_t count);
  // Fills `record` from the cells of a user's row (the user SELECT's
  // columns in order, NULL or empty for none); false, with the column being
  // read in *column, when a cell cannot be read or the row is short. Logs
  // nothing and touches nothing but the record.
  static bool FillUserRecord(PagerRecord* record, const VARIANT* cells, std::size_t count, int* column);
  // The DisplayName a row's failure names: up to 254 characters of its
  // text cell, empty for a short row.
  static std::wstring UserRowDisplayName(const VARIANT* cells, std::size_t count);
  // Logs a user row that FillUserRecord refused.
  static void LogUserRowFailure(int userId, const wchar_t* displayName, int column);
  // A row of the user list made into a device object and its record
  // (owning the object), waiting to be cached in row order; a row without
  // a user id, or whose object could not be made, has no record.
  struct RowRecord {
    PagerRecord* record = nullptr;
    int userId = 0;
    // The column FillUserRecord failed at (the record then holds what was
    // read before it) and the DisplayName its log names; -1 when filled.
    int failedColumn = -1;
    std::wstring failedName;
  };
  // Makes the device object and record of the user's row into *out; sends
  // nothing to the server and logs nothing.
  void MakeRowRecord(int userId, const VARIANT* cells, std::size_t count, RowRecord* out);
  // In row order: logs and frees each failed record, caches the others
  // (CachePager) and reports progress out of `total`; frees the records not
  // handed on when something throws. Call under the user lock.
  void CacheRowRecords(std::vector<RowRecord>& made, const StatsRows* stats, LoadProgress* progress, double total);
  // Puts a freshly loaded record into the maps and loads what belongs to it.
  bool CachePager(Pager* pager, PagerRecord* record, int userId, int place, const StatsRows* stats);
  // Reads the UserStats rows of the server's users, first row per user.
  bool LoadServerStatRows(StatsRows& rows);
  // Replaces the user's statistics record (under the statistics lock).
  void StorePagerStatRecord(const ServerPagerStats& stats);
  bool SetAllStatProps(const ServerPagerStats& stats);
  // The work of both loaders of the server row: the row by the stored
  // name (byName) or by ServerConfigId, every column read the same way.
  bool ReadServerConfigRow(const char* name, bool byName, int serverId);
  // A statistics field of the pager's user, read or changed under the
  // statistics lock. `count`: a negative value is not stored; `counter`:
  // a change marks the counters changed.
  template <typename Value>
  bool GetStat(Pager* pager, Value* out, Value ServerPagerStats::*field);
  template <typename Value>
  bool SetStat(Pager* pager, Value value, Value ServerPagerStats::*field, bool count, bool counter);
  // Reads a server counter, refreshing the row first when due.
  bool GetServerCounter(const char* column, int* value);
  // The record of `pager`, null when it is not cached; call under the user
  // lock.
  PagerRecord* FindRecord(Pager* pager) const;
  // Runs `read` on the server members under the server lock as a reader.
  template <typename Read>
  bool ReadServer(Read read) const;
  // Size and bytes of a server byte value, under the server lock.
  bool GetServerBytesSize(const ByteBuffer ServerConfigValues::*member, std::uint32_t* size) const;
  bool GetServerBytes(const ByteBuffer ServerConfigValues::*member, void* buffer, std::uint32_t* length) const;

  CriticalSection serverStatsLock_;
  CriticalSection lifeCycleLock_;
  // User id -> record; holds no ownership.
  std::map<int, PagerRecord*> userRecords_;
  // Device object -> record; owns the records.
  std::map<Pager*, PagerRecord*> pagers_;
  // Users the change history found that are not loaded yet.
  std::set<int> pendingUsers_;
  CriticalSection userLock_;
  // User id -> statistics record (owned).
  std::map<int, std::unique_ptr<ServerPagerStats>> stats_;
  CriticalSection statsLock_;
  int agentId_ = 0;
  // Set once Open has initialised the pool; Close gives the pool back.
  bool opened_ = false;
  ChangeListener* changeListener_ = nullptr;
  SQLDBObject serverStats_;
  // When the server counters were last read, on secondsClock_.
  std::int64_t statsRefreshTime_ = 0;
  // Monotonic seconds; tests replace it.
  std::int64_t (*secondsClock_)() = &MonotonicSeconds;
  bool refreshCounters_ = true;
  std::string connectionString_;
  int poolSize_ = 5;
  LONG references_ = 1;
  int serverConfigId_ = 0;
  int defaultPolicyId_ = 0;
  std::int64_t lastHistoryId_ = 0;
  // The server row; serverLock_ guards it (and serverConfigId_ while a load
  // writes it).
  mutable std::shared_mutex serverLock_;
  ServerConfigValues server_;
  int serviceInstanceId_ = 0;
  int reserved344_ = 0;
  KwyRList relayList_;
  // Service id -> capabilities; service type -> service id.
  std::map<int, CapabilityEntry> capabilities_;
  std::map<std::string, int> serviceTypes_;
  int lastServiceId_ = 6;
  int queryRetryCount_ = 0;
  int pollingLookbackDays_ = 7;
};

// Closes the recordset when it is open; logs and swallows what that throws.
void closeRecordSet(ado::_RecordsetPtr recordset);
// The first column of the current row as a 32-bit value, zero-extended, in
// *out (0 for NULL); false without a recordset, when `read` is false, or at
// the end of the rows. COM errors reach the caller.
bool ReadFirstColumnAsInt64(ado::_RecordsetPtr recordset, bool read, std::int64_t* out);
