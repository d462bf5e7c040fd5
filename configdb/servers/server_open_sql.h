// The SQL texts with which Open reads the server's own rows: its ServerConfig
// row (by name, or by id) and its ServerStats row, inserted when absent.
// Each has one "?": the server's name (narrow text) or its configuration id.
//
// Constants; any thread.
#pragma once

inline constexpr wchar_t kServerConfigByName[] = L"SELECT Id FROM ServerConfig WHERE ServiceName = ?";
inline constexpr wchar_t kServerConfigById[] = L"SELECT Id FROM ServerConfig WHERE Id = ?";
inline constexpr wchar_t kSelectServerStats[] =
    L" select MsgsExpired,MsgsFiltered,MsgsForwarded,MsgsPending,MsgsSent from ServerStats where ServerConfigId = ?";
inline constexpr wchar_t kInsertServerStats[] = L"insert into ServerStats (ServerConfigId) VALUES(?)";
