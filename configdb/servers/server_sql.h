// The SQL texts of the server's own rows: its configuration row (by name or
// by id), its capabilities and the procedure that stores them. The
// ServerStats texts are made by SQLDBObject from its columns and keys.
//
// Constants; any thread.
#pragma once

#define MORVALE_SERVER_CONFIG_COLUMNS                                                                               \
  L"SELECT s.Id, ServiceName, ServerDN, MachineName, MailServerName, LinkStatus, SRPHostName, SRPId, SRPKey, "      \
  L"ExternalServicesPort, AdminAcctName, ExternalServices, ExternalServicesPort, GlobalFilter, RPCEndPoint, HRT, "  \
  L"DisclaimerText, AutoBCCName, AutoBCCAddr, VEXVersion, EnableSMIME, g.PeerToPeerKeyData, OTAFMSupport, "         \
  L"OTAFMEnable, ServerLTKeyPair, SendHeadersOnly, PrePopulationDays, PrePopulationMessage, MigrationComplete, "     \
  L"InternalQIPPPort, PolicyResendTimeout, EnabledEncryptionAlgs, OTAFMHardDeleteEnabled, MessageStateDbSize, "     \
  L"MaxAttachUploadSize, MaxAttachTotalUploadSize, DisclaimerTextPrepended, DisclaimerTextRule, "                   \
  L"MaxAttachDownloadSize, GlobalFilterBin, RichContentEnabled, RichContentInlineEnabled, RemoteSearchEnabled, "    \
  L"FreeBusyEnabled, RemoteSearchMaxNumOfResults"

// One "?": the server's Id (integer).
inline constexpr wchar_t kServerConfigById[] =
    MORVALE_SERVER_CONFIG_COLUMNS L" FROM ServerConfig s, GlobalSettings g WHERE g.Container = 'Site' and s.Id = ?";
// One "?": the server's ServiceName (wide text).
inline constexpr wchar_t kServerConfigByName[] = MORVALE_SERVER_CONFIG_COLUMNS
    L" FROM ServerConfig s, GlobalSettings g WHERE g.Container = 'Site' and ServiceName = ?";

#undef MORVALE_SERVER_CONFIG_COLUMNS

// One "?": the server's Id.
inline constexpr wchar_t kSelectServerCapabilities[] =
    L"SELECT ServiceType, Capabilities FROM ServerCapabilities WHERE ServerConfigId = ?";
// Stored procedure of (ServerConfigId, service type, capabilities); its one
// row's first field says: above 0 a new service, 0 an update, below 0 (or
// NULL) refused.
inline constexpr wchar_t kServerCapabilitiesSet[] = L"ServerCapabilitiesSet";
