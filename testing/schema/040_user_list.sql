-- The users of one server (and of one agent, when the agent id is above 0),
-- with the 64 columns of the user SELECT in its order, and the newest
-- change-history id as the output parameter MaxHistoryId.
--
-- Procedures that return rows and set output parameters are functions whose
-- OUT parameters are the output parameters followed by one refcursor per
-- result set: the "PostgreSQL Unicode" driver fills the bound output
-- parameters from the OUT values and, with FetchRefcursors=1 inside a
-- transaction, returns each cursor's rows as a result set of the call escape
-- "{call GetAgentUserListWithMaxHistId(?,?,?,?)}".
CREATE FUNCTION GetAgentUserListWithMaxHistId(
    LastHistoryId bigint, ForServerConfigId integer, ForAgentId integer,
    OUT MaxHistoryId bigint, OUT Users refcursor)
LANGUAGE plpgsql AS $$
BEGIN
    SELECT coalesce(max(Id), 0) INTO MaxHistoryId FROM ConfigHistory;
    OPEN Users FOR
        SELECT DisplayName, MailboxDN, ServerDN, DeviceType, PIN, RedirectionState,
               ExtServicesState, CalendarEnableState, OTAFMUserConfig,
               OTAFMConflictResolution, OTAFMState, OverrideSMTPAddr, OTAPIMState, lurnum,
               MailboxSMTPAddr, ServerConfigId, PendingServerConfigId, PendingKey, CurrentKey,
               PreviousKey, CreationTime, ITPolicy2Id, Id, DeviceCapabilities, KeyDate,
               DataSourceId, ServiceBookName, AckData, ActivationTime, RoutingInfo,
               UserDeleteStatus, PendingRoutingInfo, KeyGenPassword, KeyGenExpiryTime,
               AutoSignature, RedirectWhenInCradle, DisableSentItems, AutoKeyGenerate,
               DefaultFilterAction, Filters, SMIMEEnabled, GlobalResourceId, RefIdGenerator,
               MailStoreDisplayName, UnId, NotesAdminServer, RedirectionSuspended, UserName,
               DisclaimerText, DisclaimerTextPrepended, RedirectFromSelectedFolders,
               RichContentEnabled, RichContentInlineEnabled, RichContentTrainingFileId,
               NumberOfSelectedFolders, SelectedFolderTime, UserCertificates,
               UserPeerToPeerKey, SyncingPersonalFolders, DisableRedirectRead,
               RedirectFromSentItems, DeviceUserId, ClientCertificateInfo, OOOReturnDate
        FROM UserConfig
        WHERE (ServerConfigId = ForServerConfigId OR PendingServerConfigId = ForServerConfigId)
          AND (ForAgentId <= 0 OR AgentId = ForAgentId)
        ORDER BY Id;
END
$$;
