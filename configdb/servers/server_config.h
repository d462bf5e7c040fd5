// What the configuration database object keeps of the server it was opened
// on: the cached copy of the server's ServerConfig row joined with the
// GlobalSettings row of the container 'Site', and the server's capabilities
// per service.
//
// The loaders of the row (PMDatabaseSQLImp::LoadServerConfig and
// ReloadServerConfig) write the copy under the object's server lock as a
// writer; the server value getters read it as readers, so a reload on one
// thread never tears a value another thread reads. Plain data otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/byte_buffer.h"
#include "foundation/zev_string.h"

struct ServerConfigValues {
  std::string HRT;
  std::string DisclaimerText;
  std::wstring DisclaimerTextW;
  std::string DisclaimerTextPrepended;
  std::wstring DisclaimerTextPrependedW;
  std::string AutoBCCName;
  std::string AutoBCCAddr;
  std::string VEXVersion;
  // The server's name: Open stores the name it was given, a load by name
  // the stored spelling.
  std::string ServiceName;
  std::string ServerDN;
  std::string MachineName;
  std::string MailServerName;
  std::string SRPHostName;
  std::string SRPID;
  std::string AdminAcctName;
  std::string RPCEndPoint;
  std::int32_t LinkStatus = 0;
  std::int32_t ExternalServices = 0;
  std::int32_t SendHeadersOnly = 0;
  // Days at most 30, messages at most 3000.
  std::int32_t PrePopulationDays = 0;
  std::int32_t PrePopulationMessage = 0;
  std::int32_t ExternalServicesPort = 0;
  std::int32_t InternalQIPPPort = 0;
  std::int64_t PolicyResendTimeout = 0;
  std::int32_t EnableSMIME = 0;
  std::int32_t OTAFMSupport = 0;
  std::int32_t OTAFMEnable = 0;
  // DisclaimerTextRule: bits 0-7 and bits 8-15.
  std::int32_t DisclaimerTextRuleLow = 0;
  std::int32_t DisclaimerTextRuleHigh = 0;
  bool MigrationComplete = false;
  ByteBuffer SRPKey;
  ByteBuffer ServerLTKeyPair;
  // From GlobalSettings.
  ByteBuffer PeerToPeerKeyData;
  ByteBuffer GlobalFilterBin;
  // No text until a load finds one.
  zev::ZEVString GlobalFilter;
  std::uint8_t EnabledEncryptionAlgs = 0;
  bool OTAFMHardDeleteEnabled = false;
  std::int32_t MessageStateDbSize = 100;
  std::int32_t MaxAttachUploadSize = 0;
  std::int32_t MaxAttachTotalUploadSize = 0;
  std::int32_t MaxAttachDownloadSize = 0;
  bool RichContentEnabled = true;
  bool RichContentInlineEnabled = true;
  bool RemoteSearchEnabled = true;
  std::int32_t RemoteSearchMaxNumOfResults = 0;
  bool FreeBusyEnabled = true;
  // The connector configuration text last read for the service instance.
  zev::ZEVString ConnectorConfigData;
};

// One service's capabilities on the server.
struct CapabilityEntry {
  std::int32_t id = 0;
  std::string serviceType;
  std::wstring capabilities;
};
