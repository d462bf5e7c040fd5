#include "db/tsql.h"

#include <climits>
#include <cwctype>
#include <vector>

#include "platform/ado/connection_string.h"

namespace tsql {
namespace {

using ado::ConnectionStringPiece;

// The pieces of a (lower-cased) connection string, read as the ADO objects
// read it.
std::vector<ConnectionStringPiece> SplitPairs(std::wstring_view text) {
  return ado::TokenizeConnectionString(text, ado::ConnectionStringSyntax::OleDb);
}

// The first pair of the pieces whose keyword is `keyword` (lower case);
// null when there is none.
const ConnectionStringPiece* FindKeyword(const std::vector<ConnectionStringPiece>& pairs,
                                         std::wstring_view keyword) {
  for (const ConnectionStringPiece& pair : pairs) {
    if (pair.equals != std::wstring_view::npos && pair.keyword == keyword) return &pair;
  }
  return nullptr;
}

// Reads a number as _wtoi does: blanks, a sign, then decimal digits up to
// the first other character; saturates at INT_MAX / INT_MIN.
int ReadInt(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

// Splits a server text at its first ',' into the name and the port after
// it (-1 unless the port reads as a number above 0).
void SplitServerText(std::wstring_view text, std::wstring* name, int* port) {
  *port = -1;
  const std::size_t comma = text.find(L',');
  if (comma == std::wstring_view::npos) {
    name->assign(text);
    return;
  }
  const int number = ReadInt(text.substr(comma + 1));
  if (number > 0) *port = number;
  name->assign(text.substr(0, comma));
}

// The server of a parsed string ("data source", else "server") split into
// name and port; false when neither keyword is there.
bool ReadServer(const ConnectionStringMap& map, std::wstring* name, int* port) {
  auto found = map.find(L"data source");
  if (found == map.end()) found = map.find(L"server");
  if (found == map.end()) return false;
  SplitServerText(found->second, name, port);
  return true;
}

void Log(LogFunction log, const wchar_t* text, const char* location, int line) {
  if (log != nullptr) log(1, text, location, line);
}

// The text from the pair's '=' on replaced by "=" + value.
std::wstring ReplaceValue(const std::wstring& text, const ConnectionStringPiece& pair, std::wstring_view value) {
  std::wstring result = text.substr(0, pair.equals);
  result += L'=';
  result += value;
  result.append(text, pair.end, std::wstring::npos);
  return result;
}

// SetServerName and SetFailoverServerName: points the first of `keywords`
// found (lower case, in order of preference) at the server, or appends
// ";<appended>=server".
std::wstring SetServerKeyword(const std::wstring& text, const std::wstring& newServer, int port,
                              std::initializer_list<std::wstring_view> keywords,
                              const wchar_t* appended, const char* location, LogFunction log) {
  if (text.empty()) {
    Log(log, L"Connection string is empty", location, __LINE__);
    return text;
  }
  std::wstring name;
  int givenPort = -1;
  SplitServerText(newServer, &name, &givenPort);
  if (port <= 0) port = givenPort;
  const std::wstring_view trimSet = L"\n\r\t\a\f\b ";
  const std::size_t first = name.find_first_not_of(trimSet);
  name = first == std::wstring::npos ? std::wstring()
                                     : name.substr(first, name.find_last_not_of(trimSet) - first + 1);
  // A name of blanks, or a bare ",port", names no server either.
  if (name.empty()) {
    Log(log, L"New sql server name is empty", location, __LINE__);
    return text;
  }
  std::wstring value = name;
  if (port > 0) value += L"," + std::to_wstring(port);

  const std::vector<ConnectionStringPiece> pairs = SplitPairs(ToLower1252(text));
  for (std::wstring_view keyword : keywords) {
    if (const ConnectionStringPiece* pair = FindKeyword(pairs, keyword)) {
      return ReplaceValue(text, *pair, value);
    }
  }
  return text + L";" + appended + L"=" + value;
}

}  // namespace

std::wstring ToLower1252(std::wstring_view text) {
  std::wstring lowered(text);
  for (wchar_t& c : lowered) {
    if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
      c = static_cast<wchar_t>(c + 0x20);
    } else if (c == 0x160 || c == 0x152 || c == 0x17D) {  // S, OE, Z with caron / ligature
      c = static_cast<wchar_t>(c + 1);
    } else if (c == 0x178) {  // Y with diaeresis
      c = 0xFF;
    }
  }
  return lowered;
}

std::size_t ParseConnectionString(ConnectionStringMap& map, const std::wstring& lowered) {
  map.clear();
  for (const ConnectionStringPiece& pair : SplitPairs(lowered)) {
    if (pair.equalsCount != 1) continue;
    map[lowered.substr(pair.begin, pair.equals - pair.begin)] =
        lowered.substr(pair.equals + 1, pair.end - pair.equals - 1);
  }
  return map.size();
}

bool GetServerAndFailoverPartner(const std::wstring& text, std::wstring* server, int* serverPort,
                                 std::wstring* partner, int* partnerPort) {
  server->clear();
  partner->clear();
  *serverPort = -1;
  *partnerPort = -1;
  if (text.empty()) return false;
  ConnectionStringMap map;
  ParseConnectionString(map, ToLower1252(text));
  ReadServer(map, server, serverPort);
  if (!server->empty()) {
    const auto found = map.find(L"failover partner");
    if (found != map.end()) SplitServerText(found->second, partner, partnerPort);
  }
  return !server->empty() && !partner->empty();
}

bool GetServerAndDatabase(const std::wstring& text, std::wstring* database, std::wstring* server,
                          int* port) {
  database->clear();
  server->clear();
  *port = -1;
  if (text.empty()) return false;
  ConnectionStringMap map;
  ParseConnectionString(map, ToLower1252(text));
  const bool serverKey = ReadServer(map, server, port);

  auto found = map.find(L"initial catalog");
  const bool catalogKey = found != map.end();
  if (catalogKey) *database = found->second;
  bool databaseKey = false;
  if (!catalogKey || !serverKey) {
    found = map.find(L"database");
    databaseKey = found != map.end();
    if (databaseKey) *database = found->second;
  }
  return (serverKey && catalogKey) || databaseKey;
}

std::wstring SetServerName(const std::wstring& text, const std::wstring& newServer, int port,
                           LogFunction log) {
  return SetServerKeyword(text, newServer, port, {L"data source", L"server"}, L"Server",
                          "tsql::SetServerName", log);
}

std::wstring SetFailoverServerName(const std::wstring& text, const std::wstring& newPartner,
                                   int port, LogFunction log) {
  return SetServerKeyword(text, newPartner, port, {L"failover partner"}, L"Failover Partner",
                          "tsql::SetFailoverServerName", log);
}

std::wstring SetMasterDbName(const std::wstring& text, LogFunction log) {
  if (text.empty()) {
    Log(log, L"Connection string is empty", "tsql::SetMasterDbName", __LINE__);
    return text;
  }
  const std::vector<ConnectionStringPiece> pairs = SplitPairs(ToLower1252(text));
  for (std::wstring_view keyword : {L"initial catalog", L"database"}) {
    if (const ConnectionStringPiece* pair = FindKeyword(pairs, keyword)) {
      return ReplaceValue(text, *pair, L"master");
    }
  }
  std::wstring result = text;
  if (result.back() != L';') result += L';';
  return result + L"Database=master";
}

bool SwapToFailoverPartner(std::wstring* connectionString, LogFunction log) {
  const std::wstring& text = *connectionString;
  std::wstring server, partner;
  int serverPort = -1, partnerPort = -1;
  if (!GetServerAndFailoverPartner(text, &server, &serverPort, &partner, &partnerPort)) {
    return false;
  }
  if (ToLower1252(server) == ToLower1252(partner) && serverPort == partnerPort) return false;
  std::wstring swapped = SetServerName(text, partner, partnerPort, log);
  swapped = SetFailoverServerName(swapped, server, serverPort, log);
  *connectionString = std::move(swapped);
  return true;
}

}  // namespace tsql
