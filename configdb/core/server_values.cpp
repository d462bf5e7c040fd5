// Answers from the server values the object holds, the certificate
// operations over a user's cached record, typed blobs, and the small
// operations of the object that reach no table of their own.
#include <cstring>
#include <mutex>
#include <vector>

#include "configdb/core/core_sql.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/connection_pool.h"
#include "db/vexdb_user.h"
#include "device/otacr_request.h"
#include "device/pager.h"
#include "foundation/string_conversion.h"
#include "foundation/string_util.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

constexpr int kPolicyBlob = 3;
constexpr int kPeerToPeerKeyBlob = 9;

// The text doubled quote for quote, for a literal between single quotes.
std::wstring QuotedLiteral(const char* text) {
  return DoubleSingleQuotes(ToWideString(text != nullptr ? text : "", CP_ACP));
}

}  // namespace

// Server values.

template <typename Read>
bool PMDatabaseSQLImp::ReadServer(Read read) const {
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  read(server_);
  return true;
}

bool PMDatabaseSQLImp::GetServerBytesSize(const ByteBuffer ServerConfigValues::*member, std::uint32_t* size) const {
  if (size == nullptr) return false;
  return ReadServer([&](const ServerConfigValues& s) { *size = (s.*member).GetSize(); });
}

bool PMDatabaseSQLImp::GetServerBytes(const ByteBuffer ServerConfigValues::*member, void* buffer,
                                      std::uint32_t* length) const {
  if (buffer == nullptr || length == nullptr) return false;
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  const ByteBuffer& bytes = server_.*member;
  if (*length < bytes.GetSize()) return false;
  if (bytes.GetSize() != 0) std::memcpy(buffer, bytes.GetData(), bytes.GetSize());
  return true;
}

// Every getter refuses a null out pointer: the value goes nowhere.
#define MORVALE_SERVER_GETTER(Operation, Type, Expression)                                           \
  bool PMDatabaseSQLImp::Operation(Type* value) {                                                    \
    if (value == nullptr) return false;                                                              \
    return ReadServer([&](const ServerConfigValues& s) { *value = static_cast<Type>(Expression); }); \
  }

MORVALE_SERVER_GETTER(GetExternalServices, bool, s.ExternalServices > 0)
MORVALE_SERVER_GETTER(GetOTAFMEnable, bool, s.OTAFMEnable > 0)
MORVALE_SERVER_GETTER(GetEnableSMIME, int, s.EnableSMIME)
MORVALE_SERVER_GETTER(GetExternalServicesPort, int, s.ExternalServicesPort)
MORVALE_SERVER_GETTER(GetOTAFMSupport, int, s.OTAFMSupport)
MORVALE_SERVER_GETTER(GetPolicyResendTimeout, std::int64_t, s.PolicyResendTimeout)
MORVALE_SERVER_GETTER(GetInternalQIPPPort, int, s.InternalQIPPPort)
MORVALE_SERVER_GETTER(GetEnabledEncryptionAlgs, std::uint8_t, s.EnabledEncryptionAlgs)
MORVALE_SERVER_GETTER(GetOTAFMHardDeleteEnabled, bool, s.OTAFMHardDeleteEnabled)
MORVALE_SERVER_GETTER(GetServerRichContentEnabled, bool, s.RichContentEnabled)
MORVALE_SERVER_GETTER(GetServerInlineImagesEnabled, bool, s.RichContentInlineEnabled)
MORVALE_SERVER_GETTER(GetMessageStateDbSize, int, s.MessageStateDbSize)
MORVALE_SERVER_GETTER(GetMaxAttachUploadSize, int, s.MaxAttachUploadSize)
MORVALE_SERVER_GETTER(GetMaxAttachTotalUploadSize, int, s.MaxAttachTotalUploadSize)
MORVALE_SERVER_GETTER(GetMaxAttachDownloadSize, int, s.MaxAttachDownloadSize)
MORVALE_SERVER_GETTER(GetRemoteSearchEnabled, bool, s.RemoteSearchEnabled)
MORVALE_SERVER_GETTER(GetRemoteSearchMaxNumOfResults, int, s.RemoteSearchMaxNumOfResults)
MORVALE_SERVER_GETTER(GetFreeBusyEnabled, bool, s.FreeBusyEnabled)
MORVALE_SERVER_GETTER(GetDisclaimerTextRuleLow, int, s.DisclaimerTextRuleLow)
MORVALE_SERVER_GETTER(GetDisclaimerTextRuleHigh, int, s.DisclaimerTextRuleHigh)

#undef MORVALE_SERVER_GETTER

bool PMDatabaseSQLImp::GetLocalServerConfigId(int* serverConfigId) {
  if (serverConfigId == nullptr) return false;
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  *serverConfigId = serverConfigId_;
  return serverConfigId_ != 0;
}

int PMDatabaseSQLImp::GetLinkStatus() {
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  return server_.LinkStatus;
}

bool PMDatabaseSQLImp::GetAuthenticationKeySize(std::uint32_t* size) {
  return GetServerBytesSize(&ServerConfigValues::SRPKey, size);
}
bool PMDatabaseSQLImp::GetAuthenticationKey(void* buffer, std::uint32_t* length) {
  return GetServerBytes(&ServerConfigValues::SRPKey, buffer, length);
}
bool PMDatabaseSQLImp::GetServerLTKeyPairSize(std::uint32_t* size) {
  return GetServerBytesSize(&ServerConfigValues::ServerLTKeyPair, size);
}
bool PMDatabaseSQLImp::GetServerLTKeyPair(void* buffer, std::uint32_t* length) {
  return GetServerBytes(&ServerConfigValues::ServerLTKeyPair, buffer, length);
}
bool PMDatabaseSQLImp::GetFilterBlobSize(std::uint32_t* size) {
  return GetServerBytesSize(&ServerConfigValues::GlobalFilterBin, size);
}
bool PMDatabaseSQLImp::GetFilterBlob(void* buffer, std::uint32_t* length) {
  return GetServerBytes(&ServerConfigValues::GlobalFilterBin, buffer, length);
}
bool PMDatabaseSQLImp::GetServerPeerToPeerKeyBlobSize(std::uint32_t* size) {
  return GetServerBytesSize(&ServerConfigValues::PeerToPeerKeyData, size);
}
bool PMDatabaseSQLImp::GetServerPeerToPeerKeyBlob(void* buffer, std::uint32_t* length) {
  return GetServerBytes(&ServerConfigValues::PeerToPeerKeyData, buffer, length);
}

zev::ZEVString PMDatabaseSQLImp::GetXMLFilter() {
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  return server_.GlobalFilter;
}

bool PMDatabaseSQLImp::GetASConnectorConfigData(zev::ZEVString& out) {
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  out = server_.ConnectorConfigData;
  return true;
}

bool PMDatabaseSQLImp::Reserved246(std::int64_t* value) {
  if (value == nullptr) return false;
  *value = 0;
  return true;
}

void PMDatabaseSQLImp::NotifyServerConfigChanges(const bool* externalServices, const bool* otafmEnable,
                                                 const int* enableSMIME, const char* srpid, const char* autoBCCAddr) {
  if (changeListener_ == nullptr) return;
  std::vector<int> events;
  {
    std::shared_lock<std::shared_mutex> reader(serverLock_);
    const ServerConfigValues& s = server_;
    if (srpid != nullptr && !s.SRPID.empty() && s.SRPID != srpid) events.push_back(18);
    if (otafmEnable != nullptr && *otafmEnable != (s.OTAFMEnable > 0)) events.push_back(19);
    if (externalServices != nullptr && *externalServices != (s.ExternalServices > 0)) events.push_back(16);
    if (enableSMIME != nullptr && *enableSMIME != s.EnableSMIME) events.push_back(66);
    if (autoBCCAddr != nullptr && s.AutoBCCAddr != autoBCCAddr) events.push_back(65);
  }
  for (int event : events) changeListener_->OnServerSettingChanged(event);
}

bool PMDatabaseSQLImp::SanityCheckDNChanges(std::uint8_t changeMask) { return (changeMask & 0x15) != 0x15; }

bool PMDatabaseSQLImp::GetDisplayName(Pager* pager, char* buffer, int length) {
  if (buffer == nullptr || length < 1) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(length), L'\0');
  if (!GetDisplayNameW(pager, wide.data(), length)) return false;
  const std::string narrow = ToNarrowString(wide.data(), CP_THREAD_ACP);
  std::strncpy(buffer, narrow.c_str(), static_cast<std::size_t>(length));
  buffer[length - 1] = '\0';
  return true;
}

bool PMDatabaseSQLImp::ValidateConnectionPool() {
  return GetConnectionPool().ValidatePool() || GetConnectionPool().ReInitializePool();
}

bool PMDatabaseSQLImp::CompleteUserDelete(Pager* pager, bool* failed) {
  if (pager == nullptr) return false;
  int serverConfigId = serverConfigId_;
  int userId = pager->GetUserId();
  // A caller that does not ask whether the deletion failed passes no flag.
  bool unused = false;
  return VEXDB_CompleteUserDelete(&serverConfigId, &userId, failed != nullptr ? failed : &unused);
}

bool PMDatabaseSQLImp::GetMbFolderSyncItemByVexFolderId(int userId, int vexFolderId, GWFolderState* out) {
  wchar_t sql[512];
  crt::snwprintf(sql, 511, kFolderSyncByVexFolderId, userId, vexFolderId);
  sql[511] = L'\0';
  return GetMbFolderSyncItem(sql, out);
}

bool PMDatabaseSQLImp::GetMbFolderSyncItemByFolderId(int userId, const char* folderId, GWFolderState* out) {
  // The folder id is a literal of the text: its quotes are doubled.
  const std::wstring literal = QuotedLiteral(folderId);
  wchar_t sql[512];
  crt::snwprintf(sql, 511, kFolderSyncByFolderId, userId, literal.c_str());
  sql[511] = L'\0';
  return GetMbFolderSyncItem(sql, out);
}

// Typed blobs.

bool PMDatabaseSQLImp::SetTypedBlob(Pager* pager, OTACRRequest* blob) {
  if (blob == nullptr) return false;
  std::uint32_t size = 0;
  const std::uint8_t* bytes = blob->Serialize(&size);
  if (bytes == nullptr) return false;
  switch (blob->GetKind()) {
    case kPolicyBlob:
      return SetPolicyBlob(pager, bytes, static_cast<int>(size));
    case kPeerToPeerKeyBlob:
      return SetPeerToPeerKeyBlob(pager, bytes, size);
    default:
      return false;
  }
}

bool PMDatabaseSQLImp::GetTypedBlob(Pager* pager, OTACRRequest* blob) {
  if (blob == nullptr) return false;
  const std::uint8_t kind = blob->GetKind();
  int size = 0;
  if (kind == kPolicyBlob) {
    if (!GetPolicyBlobSize(pager, &size)) return false;
  } else if (kind == kPeerToPeerKeyBlob) {
    if (!GetPeerToPeerKeyBlobSize(pager, &size)) return false;
  } else {
    return false;
  }
  if (size <= 0) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::uint32_t length = static_cast<std::uint32_t>(size);
  const bool read = kind == kPolicyBlob ? GetPolicyBlob(pager, bytes.data(), &length)
                                        : GetPeerToPeerKeyBlob(pager, bytes.data(), &length);
  return read && blob->Parse(kind, bytes.data(), length);
}

bool PMDatabaseSQLImp::SetServerTypedBlob(OTACRRequest* blob) {
  if (blob == nullptr || blob->GetKind() != kPeerToPeerKeyBlob) return false;
  std::uint32_t size = 0;
  const std::uint8_t* bytes = blob->Serialize(&size);
  return bytes != nullptr && SetServerPeerToPeerKeyBlob(bytes, size);
}

bool PMDatabaseSQLImp::GetServerTypedBlob(OTACRRequest* blob) {
  if (blob == nullptr || blob->GetKind() != kPeerToPeerKeyBlob) return false;
  std::uint32_t size = 0;
  if (!GetServerPeerToPeerKeyBlobSize(&size) || size == 0) return false;
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t length = size;
  return GetServerPeerToPeerKeyBlob(bytes.data(), &length) && blob->Parse(kPeerToPeerKeyBlob, bytes.data(), size);
}

// Certificate requests of a cached user.

bool PMDatabaseSQLImp::MatchCertificateAttachment(Pager* pager, OTACRRequest* attachment, std::uint32_t size,
                                                  const char* allowedExtensions) {
  if (pager == nullptr || attachment == nullptr) return false;
  ScopedLock users(&userLock_);
  PagerRecord* record = FindRecord(pager);
  return record != nullptr &&
         record->AcceptCertificateAttachment(attachment->GetName().c_str(), size, allowedExtensions);
}

bool PMDatabaseSQLImp::StoreCertificateAttachment(Pager* pager, OTACRRequest* attachment, const ByteBuffer& blob) {
  if (pager == nullptr || attachment == nullptr) return false;
  ScopedLock users(&userLock_);
  PagerRecord* record = FindRecord(pager);
  return record != nullptr && record->AcceptCertificateBlob(attachment->GetName().c_str(), blob);
}

CertificateInfo* PMDatabaseSQLImp::GetCertificateInfo(Pager* pager) {
  if (pager == nullptr) return nullptr;
  ScopedLock users(&userLock_);
  PagerRecord* record = FindRecord(pager);
  return record != nullptr ? record->GetCertificateInfo() : nullptr;
}

bool PMDatabaseSQLImp::CheckCACertificate(Pager* pager, OTACRRequest* request, const ByteBuffer& certificate) {
  if (pager == nullptr || request == nullptr) return false;
  ScopedLock users(&userLock_);
  PagerRecord* record = FindRecord(pager);
  if (record == nullptr) return false;
  // The answer belongs to the request the record names.
  const CertificateMessageFields fields = {{1, ToWideString(request->GetName(), CP_ACP)}};
  return record->AcceptCACertificate(fields, certificate);
}

bool PMDatabaseSQLImp::UpdateCertificateRequest(int serverConfigId, int userId, int deliverCertificate,
                                                int deliverChain) {
  if (serverConfigId < 1 || userId < 1) return true;
  ScopedLock users(&userLock_);
  const auto found = userRecords_.find(userId);
  if (found == userRecords_.end()) return false;
  return UpdateCertificateRequestRecord(found->second, serverConfigId, userId, deliverCertificate, deliverChain);
}

bool PMDatabaseSQLImp::UpdateCertificateRequestRecord(PagerRecord* record, int serverConfigId, int userId,
                                                      int deliverCertificate, int deliverChain) {
  if (record == nullptr || serverConfigId < 1 || userId < 1) return true;
  if (record->GetCertificateInfo() == nullptr) return false;
  // No request serialises to nothing: nothing to update (most users).
  if (record->GetCertificateInfo()->GetEntries().empty()) return false;
  ByteBuffer before;
  record->SerializeCertificates(before);
  if (before.GetSize() == 0) return false;
  record->UpdateCertificateEntry(serverConfigId, userId, deliverCertificate != 0, deliverChain != 0);
  ByteBuffer after;
  record->SerializeCertificates(after);
  if (after.GetSize() == 0 || after.IsEqual(before.GetData(), before.GetSize())) return false;
  return SaveClientCertificateInfo(after, userId);
}

bool PMDatabaseSQLImp::SaveClientCertificateInfo(const ByteBuffer& info, int userId) {
  if (info.GetSize() == 0) return false;
  const CachedValue value(204, info.GetSize(), info.GetData(), "ClientCertificateInfo");
  const CachedValueItemVector items = {CachedValueItem(40, value)};
  return SaveCachedValues(&items, userId);
}
