#include "configdb/core/core_sql.h"

#include "db/vexdb_command.h"

std::wstring UserRowSql(bool byId, bool agent) {
  std::wstring condition = byId ? L"Id = ?" : L"MailboxDN = ?";
  if (agent) condition += L" AND AgentId = ?";
  return VEXDB_BuildUserSelect(condition.c_str());
}

std::wstring ServerStatRowsSql(bool agent) {
  std::wstring sql =
      L" select s.LastSentTime, s.LastFwdTime, s.LastXPAction,  s.MsgsSent, s.MsgsForwarded, s.MsgsPending,  "
      L"s.MsgsFailed, s.MsgsExpired, s.MsgsFiltered,  s.LastMsgExpired, s.Status, s.Id, s.UserConfigId  from "
      L"UserStats s join UserConfig u on u.Id = s.UserConfigId WHERE (u.ServerConfigId = ? OR "
      L"u.PendingServerConfigId = ?)";
  if (agent) sql += L" AND u.AgentId = ?";
  return sql;
}

std::wstring AddPagerInsertSql(bool overrideAddress, bool deviceIds, bool routingInfo) {
  std::wstring sql =
      L" insert into UserConfig  (DisplayName, ServerDN, RedirectionState, ExtServicesState,   OverrideSMTPAddr, "
      L"MailboxDN, ServerConfigId, PendingServerConfigId, ITPolicy2Id,  DeviceType, PIN, RoutingInfo ) "
      L"VALUES(?,?,?,?,";
  sql += overrideAddress ? L"?" : L"null";
  sql += L",?,?,?,?,";
  sql += deviceIds ? L"?,?," : L"null,null,";
  sql += routingInfo ? L"?" : L"''";
  sql += L") ";
  return sql;
}

std::wstring AddPagerUpdateSql(bool routingInfo) {
  std::wstring sql = L" update UserConfig set  ServerConfigId = ?, PendingServerConfigId = ?, RoutingInfo = ";
  sql += routingInfo ? L"?" : L"''";
  sql += L"  where Id = ? ";
  return sql;
}
