#include "platform/ado/connection_string.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/ado/ascii_text.h"

namespace ado {
namespace {

using text::EqualsIgnoreCase;
using text::ToLower;
using text::Trim;

void SetError(std::wstring* error, std::wstring message) {
  if (error) *error = L"connection string: " + std::move(message);
}

std::wstring Position(size_t offset) { return L" at character " + std::to_wstring(offset + 1); }

// Reads "keyword=" from text[*pos]; OLE DB doubles '=' inside a keyword,
// ODBC does not.
bool ReadKeyword(std::wstring_view text, size_t* pos, bool doubledEquals, std::wstring* keyword,
                 std::wstring* error) {
  const size_t start = *pos;
  std::wstring raw;
  size_t i = start;
  for (; i < text.size() && text[i] != L';'; ++i) {
    if (text[i] == L'=') {
      if (doubledEquals && i + 1 < text.size() && text[i + 1] == L'=') {
        raw += L'=';
        ++i;
        continue;
      }
      break;
    }
    raw += text[i];
  }
  if (i >= text.size() || text[i] != L'=') {
    SetError(error, L"a pair has no '='" + Position(start));
    return false;
  }
  *keyword = std::wstring(Trim(raw));
  if (keyword->empty()) {
    SetError(error, L"a pair has an empty keyword" + Position(start));
    return false;
  }
  *pos = i + 1;
  return true;
}

// After a closing quote or brace only blanks may come before ';'.
bool ExpectPairEnd(std::wstring_view text, size_t* pos, const std::wstring& keyword,
                   std::wstring* error) {
  size_t i = *pos;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  if (i < text.size() && text[i] != L';') {
    SetError(error, L"text follows the quoted value of '" + keyword + L"'" + Position(i));
    return false;
  }
  *pos = i;
  return true;
}

enum class Syntax { OleDb, Odbc };

bool Parse(std::wstring_view text, Syntax syntax, std::vector<ConnectionAttribute>* out,
           std::wstring* error) {
  std::vector<ConnectionAttribute> pairs;
  size_t pos = 0;
  while (pos < text.size()) {
    // Skip blanks and empty pieces.
    if (text[pos] == L';' || text[pos] == L' ' || text[pos] == L'\t' || text[pos] == L'\r' ||
        text[pos] == L'\n') {
      ++pos;
      continue;
    }
    ConnectionAttribute pair;
    if (!ReadKeyword(text, &pos, syntax == Syntax::OleDb, &pair.keyword, error)) return false;
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
    const wchar_t open = pos < text.size() ? text[pos] : L'\0';
    const bool quoted = syntax == Syntax::OleDb ? (open == L'"' || open == L'\'') : open == L'{';
    if (quoted) {
      const wchar_t close = syntax == Syntax::OleDb ? open : L'}';
      const size_t start = pos++;
      bool closed = false;
      while (pos < text.size()) {
        if (text[pos] == close) {
          if (pos + 1 < text.size() && text[pos + 1] == close) {
            pair.value += close;
            pos += 2;
            continue;
          }
          ++pos;
          closed = true;
          break;
        }
        pair.value += text[pos++];
      }
      if (!closed) {
        SetError(error, L"the quoted value of '" + pair.keyword + L"' is not closed" +
                            Position(start));
        return false;
      }
      if (!ExpectPairEnd(text, &pos, pair.keyword, error)) return false;
    } else {
      const size_t end = std::min(text.find(L';', pos), text.size());
      pair.value = std::wstring(Trim(text.substr(pos, end - pos)));
      pos = end;
    }
    pairs.push_back(std::move(pair));
  }
  *out = std::move(pairs);
  return true;
}

bool IsYes(std::wstring_view value) {
  return EqualsIgnoreCase(value, L"yes") || EqualsIgnoreCase(value, L"true") ||
         EqualsIgnoreCase(value, L"sspi");
}

// The ODBC string being built, and beside it the form for logs.
class OdbcBuilder {
 public:
  void Add(std::wstring_view keyword, std::wstring_view value, bool secret = false) {
    Append(keyword, QuoteOdbcValue(value), secret);
  }
  void AddBraced(std::wstring_view keyword, std::wstring_view value) {
    std::wstring braced = L"{";
    for (wchar_t c : value) braced += c == L'}' ? std::wstring(L"}}") : std::wstring(1, c);
    Append(keyword, braced + L"}", false);
  }
  // Fixed attributes of the provider map, already in ODBC syntax.
  void AddRaw(std::wstring_view attributes) {
    std::wstring_view trimmed = Trim(attributes);
    while (!trimmed.empty() && trimmed.front() == L';') trimmed.remove_prefix(1);
    if (trimmed.empty()) return;
    Separate();
    odbc_ += trimmed;
    redacted_ += RedactConnectionString(trimmed);
  }
  OdbcTarget Finish(std::wstring provider) {
    return OdbcTarget{std::move(odbc_), std::move(redacted_), std::move(provider)};
  }

 private:
  void Separate() {
    if (!odbc_.empty()) {
      odbc_ += L';';
      redacted_ += L';';
    }
  }
  void Append(std::wstring_view keyword, std::wstring_view quoted, bool secret) {
    Separate();
    odbc_.append(keyword).append(L"=").append(quoted);
    redacted_.append(keyword).append(L"=").append(secret ? L"***" : quoted);
  }
  std::wstring odbc_;
  std::wstring redacted_;
};

// Keywords of the SQL Server providers that mean nothing over ODBC here.
constexpr std::wstring_view kIgnoredSqlServerKeywords[] = {
    L"provider",           L"network",       L"network library",
    L"net",                L"persist security info", L"auto translate",
    L"packet size",        L"workstation id", L"wsid",
    L"application name",   L"app",           L"connect timeout",
    L"connection timeout", L"timeout",       L"use procedure for prepare",
    L"general timeout",
};

constexpr std::wstring_view kProviderKeywords[] = {L"provider"};
constexpr std::wstring_view kOdbcTargetKeywords[] = {L"driver", L"dsn", L"filedsn"};
constexpr std::wstring_view kServerKeywords[] = {L"server", L"data source", L"address",
                                                 L"addr", L"network address"};
constexpr std::wstring_view kDatabaseKeywords[] = {L"database", L"initial catalog"};
constexpr std::wstring_view kUserKeywords[] = {L"uid", L"user id", L"user"};
constexpr std::wstring_view kPasswordKeywords[] = {L"pwd", L"password"};
constexpr std::wstring_view kTrustedKeywords[] = {L"trusted_connection", L"integrated security"};
constexpr std::wstring_view kFailoverKeywords[] = {L"failover partner"};

template <size_t N>
bool In(const std::wstring_view (&set)[N], std::wstring_view keyword) {
  for (std::wstring_view name : set) {
    if (EqualsIgnoreCase(keyword, name)) return true;
  }
  return false;
}

template <size_t N>
std::optional<std::wstring> Last(const std::vector<ConnectionAttribute>& pairs,
                                 const std::wstring_view (&set)[N]) {
  std::optional<std::wstring> found;
  for (const ConnectionAttribute& pair : pairs) {
    if (In(set, pair.keyword)) found = pair.value;
  }
  return found;
}

// A keyword given again, also under another of its names, must repeat its
// value: a value holding ';' that was written without quotes reads as more
// pairs, and may not override what the string said before.
template <size_t N>
bool Consistent(const std::vector<ConnectionAttribute>& pairs, const std::wstring_view (&set)[N],
                std::wstring* error) {
  const ConnectionAttribute* first = nullptr;
  for (const ConnectionAttribute& pair : pairs) {
    if (!In(set, pair.keyword)) continue;
    if (first && first->value != pair.value) {
      SetError(error, L"keyword '" + pair.keyword +
                          L"' is given more than once with different values (quote a value "
                          L"that holds ';')");
      return false;
    }
    if (!first) first = &pair;
  }
  return true;
}

bool Unsupported(const ConnectionAttribute& pair, const ProviderMapping& mapping,
                 std::wstring* error) {
  SetError(error, L"keyword '" + pair.keyword + L"' is not supported with provider " +
                      mapping.provider);
  return false;
}

// "host[,port]" with the "(local)" spellings made a TCP address.
bool SplitServer(std::wstring_view value, std::wstring* host, std::wstring* port,
                 std::wstring* error) {
  std::wstring_view server = Trim(value);
  if (server.size() >= 4 && EqualsIgnoreCase(server.substr(0, 4), L"tcp:")) {
    server.remove_prefix(4);
  }
  const size_t comma = server.find(L',');
  std::wstring_view name = Trim(server.substr(0, comma));
  if (comma != std::wstring_view::npos) {
    std::wstring_view digits = Trim(server.substr(comma + 1));
    unsigned long number = 0;
    bool valid = !digits.empty() && digits.size() <= 5;
    for (wchar_t c : digits) {
      if (c < L'0' || c > L'9') valid = false;
      number = number * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (!valid || number == 0 || number > 65535) {
      SetError(error, L"the server's port is not a number from 1 to 65535");
      return false;
    }
    *port = std::to_wstring(number);
  }
  if (name.empty()) {
    SetError(error, L"names no server");
    return false;
  }
  *host = EqualsIgnoreCase(name, L"(local)") || name == L"." ? L"127.0.0.1" : std::wstring(name);
  return true;
}

bool TranslateSqlServer(const std::vector<ConnectionAttribute>& pairs,
                        const ProviderMapping& mapping, std::wstring_view provider,
                        OdbcTarget* out, std::wstring* error) {
  for (const ConnectionAttribute& pair : pairs) {
    if (!In(kServerKeywords, pair.keyword) && !In(kDatabaseKeywords, pair.keyword) &&
        !In(kUserKeywords, pair.keyword) && !In(kPasswordKeywords, pair.keyword) &&
        !In(kTrustedKeywords, pair.keyword) && !In(kFailoverKeywords, pair.keyword) &&
        !In(kIgnoredSqlServerKeywords, pair.keyword)) {
      return Unsupported(pair, mapping, error);
    }
  }
  if (!Consistent(pairs, kServerKeywords, error) || !Consistent(pairs, kDatabaseKeywords, error) ||
      !Consistent(pairs, kUserKeywords, error) || !Consistent(pairs, kPasswordKeywords, error) ||
      !Consistent(pairs, kTrustedKeywords, error) || !Consistent(pairs, kFailoverKeywords, error)) {
    return false;
  }
  std::wstring host, port;
  const std::optional<std::wstring> server = Last(pairs, kServerKeywords);
  if (!server) {
    SetError(error, L"names no server (Server=host[,port])");
    return false;
  }
  if (!SplitServer(*server, &host, &port, error)) return false;

  OdbcBuilder odbc;
  odbc.AddBraced(L"Driver", mapping.driver);
  odbc.Add(L"Server", host);
  if (!port.empty()) odbc.Add(L"Port", port);
  if (auto database = Last(pairs, kDatabaseKeywords)) odbc.Add(L"Database", *database);
  const std::optional<std::wstring> trusted = Last(pairs, kTrustedKeywords);
  if (trusted && IsYes(*trusted)) {
    odbc.Add(L"Trusted_Connection", L"Yes");
  } else {
    if (auto user = Last(pairs, kUserKeywords)) odbc.Add(L"UID", *user);
    if (auto password = Last(pairs, kPasswordKeywords)) odbc.Add(L"PWD", *password, true);
  }
  const std::optional<std::wstring> partner = Last(pairs, kFailoverKeywords);
  if (partner && !partner->empty() && !mapping.failoverKeyword.empty()) {
    odbc.Add(mapping.failoverKeyword, *partner);
  }
  odbc.AddRaw(mapping.attributes);
  *out = odbc.Finish(std::wstring(provider));
  return true;
}

constexpr std::wstring_view kDsnKeywords[] = {L"dsn", L"data source"};

bool TranslateDsn(const std::vector<ConnectionAttribute>& pairs, const ProviderMapping& mapping,
                  std::wstring_view provider, OdbcTarget* out, std::wstring* error) {
  for (const ConnectionAttribute& pair : pairs) {
    if (!EqualsIgnoreCase(pair.keyword, L"provider") && !In(kDsnKeywords, pair.keyword) &&
        !In(kUserKeywords, pair.keyword) && !In(kPasswordKeywords, pair.keyword)) {
      return Unsupported(pair, mapping, error);
    }
  }
  if (!Consistent(pairs, kDsnKeywords, error) || !Consistent(pairs, kUserKeywords, error) ||
      !Consistent(pairs, kPasswordKeywords, error)) {
    return false;
  }
  const std::optional<std::wstring> dsn = Last(pairs, kDsnKeywords);
  if (!dsn || dsn->empty()) {
    SetError(error, L"names no data source (DSN=name)");
    return false;
  }
  OdbcBuilder odbc;
  odbc.Add(L"DSN", *dsn);
  if (auto user = Last(pairs, kUserKeywords)) odbc.Add(L"UID", *user);
  if (auto password = Last(pairs, kPasswordKeywords)) odbc.Add(L"PWD", *password, true);
  odbc.AddRaw(mapping.attributes);
  *out = odbc.Finish(std::wstring(provider));
  return true;
}

std::wstring ServedProviders(const ProviderMap& map) {
  std::wstring names;
  for (const ProviderMapping& mapping : map) {
    if (!names.empty()) names += L", ";
    names += mapping.provider;
  }
  return names;
}

std::wstring Redact(const std::vector<ConnectionAttribute>& pairs, Syntax syntax) {
  std::wstring out;
  for (const ConnectionAttribute& pair : pairs) {
    if (!out.empty()) out += L';';
    std::wstring keyword = pair.keyword;
    if (syntax == Syntax::OleDb) {
      // Write '=' in a keyword doubled again, so the result still parses.
      std::wstring escaped;
      for (wchar_t c : keyword) escaped += c == L'=' ? std::wstring(L"==") : std::wstring(1, c);
      keyword = escaped;
    }
    out += keyword + L"=";
    if (In(kPasswordKeywords, pair.keyword)) {
      out += L"***";
    } else if (syntax == Syntax::Odbc) {
      out += QuoteOdbcValue(pair.value);
    } else if (pair.value.find_first_of(L";\"' ") != std::wstring::npos) {
      std::wstring quoted = L"\"";
      for (wchar_t c : pair.value) quoted += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
      out += quoted + L"\"";
    } else {
      out += pair.value;
    }
  }
  return out;
}

}  // namespace

bool ParseConnectionString(std::wstring_view text, std::vector<ConnectionAttribute>* out,
                           std::wstring* error) {
  return Parse(text, Syntax::OleDb, out, error);
}

bool ParseOdbcConnectionString(std::wstring_view text, std::vector<ConnectionAttribute>* out,
                               std::wstring* error) {
  return Parse(text, Syntax::Odbc, out, error);
}

std::wstring QuoteOdbcValue(std::wstring_view value) {
  const bool plain = value.empty() ||
                     (value.find_first_of(L";{}=") == std::wstring_view::npos &&
                      Trim(value).size() == value.size());
  if (plain) return std::wstring(value);
  std::wstring quoted = L"{";
  for (wchar_t c : value) quoted += c == L'}' ? std::wstring(L"}}") : std::wstring(1, c);
  return quoted + L"}";
}

bool TranslateConnectionString(std::wstring_view adoString, OdbcTarget* out, std::wstring* error) {
  // Successful translations are kept, keyed by the string and the override
  // in effect (unset and empty told apart), so that a pooled Open does not
  // parse the same text again. Failures are not kept: their errors are
  // built afresh.
  constexpr std::size_t kMemoCapacity = 64;
  using Key = std::pair<std::string, std::wstring>;
  static std::mutex* memoMutex = new std::mutex();  // never destroyed: Open may run at exit
  static auto* memo = new std::map<Key, OdbcTarget>();
  const char* spec = std::getenv(kProviderOverrideVariable);
  Key key(spec != nullptr ? std::string("=") + spec : std::string(), std::wstring(adoString));
  {
    std::lock_guard<std::mutex> lock(*memoMutex);
    auto found = memo->find(key);
    if (found != memo->end()) {
      *out = found->second;
      return true;
    }
  }
  ProviderMap map;
  if (!ProviderMapInEffect(&map, error)) return false;
  OdbcTarget target;
  if (!TranslateConnectionString(adoString, map, &target, error)) return false;
  {
    std::lock_guard<std::mutex> lock(*memoMutex);
    if (memo->size() >= kMemoCapacity) memo->clear();
    memo->emplace(std::move(key), target);
  }
  *out = std::move(target);
  return true;
}

bool TranslateConnectionString(std::wstring_view adoString, const ProviderMap& map,
                               OdbcTarget* out, std::wstring* error) {
  std::vector<ConnectionAttribute> pairs;
  std::wstring adoError;
  const bool adoParsed = ParseConnectionString(adoString, &pairs, &adoError);
  const std::optional<std::wstring> provider =
      adoParsed ? Last(pairs, kProviderKeywords) : std::nullopt;
  if (provider) {
    if (!Consistent(pairs, kProviderKeywords, error)) return false;
    const ProviderMapping* mapping = FindProvider(map, *provider);
    if (!mapping) {
      SetError(error, L"provider '" + *provider + L"' is not served; the provider map serves " +
                          ServedProviders(map) + L" (MORVALE_ADO_PROVIDERS adds more)");
      return false;
    }
    return mapping->form == ProviderForm::Dsn
               ? TranslateDsn(pairs, *mapping, *provider, out, error)
               : TranslateSqlServer(pairs, *mapping, *provider, out, error);
  }
  // No provider: an ODBC string naming its driver or data source passes as it is.
  std::vector<ConnectionAttribute> odbcPairs;
  std::wstring odbcError;
  if (!ParseOdbcConnectionString(adoString, &odbcPairs, &odbcError)) {
    if (error) *error = adoParsed ? odbcError : adoError;
    return false;
  }
  if (!Last(odbcPairs, kOdbcTargetKeywords)) {
    if (!adoParsed) {
      if (error) *error = adoError;
    } else {
      SetError(error, L"names no Provider, Driver or DSN");
    }
    return false;
  }
  *out = OdbcTarget{std::wstring(adoString), Redact(odbcPairs, Syntax::Odbc), std::wstring()};
  return true;
}

std::wstring RedactConnectionString(std::wstring_view text) {
  std::vector<ConnectionAttribute> pairs;
  if (ParseConnectionString(text, &pairs, nullptr)) {
    // A braced ODBC value holding ';' reads as two pairs in the OLE DB
    // syntax; the ODBC reading is then the one that can hide a password.
    bool braced = false;
    for (const ConnectionAttribute& pair : pairs) {
      if (!pair.value.empty() && pair.value.front() == L'{') braced = true;
    }
    if (!braced) return Redact(pairs, Syntax::OleDb);
  }
  if (ParseOdbcConnectionString(text, &pairs, nullptr)) return Redact(pairs, Syntax::Odbc);
  return L"<unparsable connection string>";
}

}  // namespace ado
