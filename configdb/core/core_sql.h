// The SQL texts of the configuration database object's own user and
// statistics operations, kept together so that one test can run each of
// them on the test schema. Texts whose shape depends on the call are made
// by the functions below; every value travels as a "?" parameter.
//
// Constants and pure functions; any thread.
#pragma once

#include <string>

// UserStats of one user: "?" the user id.
inline constexpr wchar_t kSelectUserStats[] =
    L" select LastSentTime, LastFwdTime, LastXPAction,  MsgsSent, MsgsForwarded, MsgsPending,  MsgsFailed, "
    L"MsgsExpired, MsgsFiltered,  LastMsgExpired, Status, Id  from UserStats WHERE UserConfigId = ?";
// Seven integers, three timestamps, LastXPAction, the row's Id.
inline constexpr wchar_t kUpdateUserStats[] =
    L" update UserStats set  MsgsForwarded = ?, MsgsSent = ?, MsgsPending = ?,  MsgsExpired = ?, MsgsFiltered = ?, "
    L"MsgsFailed = ?,  Status = ?, LastFwdTime = ?, LastSentTime = ?,  LastMsgExpired = ?, LastXPAction = ?  "
    L"where Id = ?";
// "?" the SMTP address (wide text).
inline constexpr wchar_t kUserIdByEmail[] = L"SELECT Id FROM UserConfig WHERE MailboxSMTPAddr = ? ";
// "?" the MailboxDN (narrow text), or none.
inline constexpr wchar_t kUserIdByMailboxDN[] = L"SELECT Id FROM UserConfig WHERE MailboxDN = ?";
inline constexpr wchar_t kDefaultPolicy[] = L" SELECT Id FROM ITPolicy2 WHERE PolicyName = 'Default'";
// "?" the user id.
inline constexpr wchar_t kAgentOfUser[] = L"SELECT AgentId, ServerConfigId FROM UserConfig where Id = ?";
// Formats of one folder's row: (user id, VEXFolderId) and (user id, FolderId
// as a quoted literal).
inline constexpr wchar_t kFolderSyncByVexFolderId[] =
    L"SELECT ParentId, FolderName, FolderType, Subscribed, FolderId, VEXFolderID FROM MbFolderSync WHERE "
    L"(UserConfigId = %d) and (VEXFolderId = %d)";
inline constexpr wchar_t kFolderSyncByFolderId[] =
    L"SELECT ParentId, FolderName, FolderType, Subscribed, FolderId, VEXFolderID FROM MbFolderSync WHERE "
    L"(UserConfigId = %d) and (FolderId = '%s')";

// One user's row of the user SELECT: "?" the user id (byId) or its MailboxDN,
// then the agent id when `agent`.
std::wstring UserRowSql(bool byId, bool agent);
// The UserStats rows of the server's users: "?" the server id twice, then
// the agent id when `agent`; the columns of kSelectUserStats, then
// UserConfigId.
std::wstring ServerStatRowsSql(bool agent);
// AddPager's INSERT: DisplayName, ServerDN, RedirectionState,
// ExtServicesState, [OverrideSMTPAddr], MailboxDN, ServerConfigId,
// PendingServerConfigId, ITPolicy2Id, [DeviceType, PIN], [RoutingInfo].
std::wstring AddPagerInsertSql(bool overrideAddress, bool deviceIds, bool routingInfo);
// AddPager's UPDATE: ServerConfigId, PendingServerConfigId, [RoutingInfo],
// Id.
std::wstring AddPagerUpdateSql(bool routingInfo);
