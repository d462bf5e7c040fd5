#include "platform/ado/connection_string.h"

#include <string.h>

#include <algorithm>
#include <optional>
#include <type_traits>
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

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// A strict reading of the pieces: every piece that is not blank is a pair
// with a keyword and, when quoted, a closed quote with nothing after it.
bool Parse(std::wstring_view text, ConnectionStringSyntax syntax, std::vector<ConnectionAttribute>* out,
           std::wstring* error) {
  std::vector<ConnectionAttribute> pairs;
  for (ConnectionStringPiece& piece : TokenizeConnectionString(text, syntax)) {
    const std::wstring_view raw = text.substr(piece.begin, piece.end - piece.begin);
    const std::wstring_view trimmed = Trim(raw);
    if (trimmed.empty()) continue;
    const std::size_t start = piece.begin + static_cast<std::size_t>(trimmed.data() - raw.data());
    if (piece.equals == std::wstring_view::npos) {
      SetError(error, L"a pair has no '='" + Position(start));
      return false;
    }
    if (piece.keyword.empty()) {
      SetError(error, L"a pair has an empty keyword" + Position(start));
      return false;
    }
    if (!piece.closed) {
      SetError(error, L"the quoted value of '" + piece.keyword + L"' is not closed" + Position(piece.valueBegin));
      return false;
    }
    if (piece.trailing) {
      std::size_t at = piece.valueEnd;
      while (at < piece.end && IsBlank(text[at])) ++at;
      SetError(error, L"text follows the quoted value of '" + piece.keyword + L"'" + Position(at));
      return false;
    }
    pairs.push_back(ConnectionAttribute{std::move(piece.keyword), std::move(piece.value)});
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

// The ranges [first, second) of `text` that hold the value of a keyword of
// `set` in either reading, in order and merged.
template <size_t N>
std::vector<std::pair<size_t, size_t>> ValueRanges(std::wstring_view text, const std::wstring_view (&set)[N]) {
  std::vector<std::pair<size_t, size_t>> ranges;
  for (ConnectionStringSyntax syntax : {ConnectionStringSyntax::OleDb, ConnectionStringSyntax::Odbc}) {
    for (const ConnectionStringPiece& piece : TokenizeConnectionString(text, syntax)) {
      if (piece.equals != std::wstring_view::npos && In(set, piece.keyword)) {
        ranges.emplace_back(piece.equals + 1, piece.end);
      }
    }
  }
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<size_t, size_t>> merged;
  for (const auto& range : ranges) {
    if (!merged.empty() && range.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

}  // namespace

std::vector<ConnectionStringPiece> TokenizeConnectionString(std::wstring_view text,
                                                            ConnectionStringSyntax syntax) {
  const bool oleDb = syntax == ConnectionStringSyntax::OleDb;
  std::vector<ConnectionStringPiece> pieces;
  const size_t n = text.size();
  size_t pos = 0;
  while (pos < n) {
    ConnectionStringPiece piece;
    piece.begin = pos;
    std::wstring keyword;
    size_t i = pos;
    for (; i < n && text[i] != L';'; ++i) {
      if (text[i] == L'=') {
        if (oleDb && i + 1 < n && text[i + 1] == L'=') {
          keyword += L'=';
          piece.equalsCount += 2;
          ++i;
          continue;
        }
        break;
      }
      keyword += text[i];
    }
    piece.keyword = std::wstring(Trim(keyword));
    if (i >= n || text[i] == L';') {
      piece.end = piece.valueBegin = piece.valueEnd = i;
      piece.keyword.clear();
      pieces.push_back(std::move(piece));
      pos = i + 1;
      continue;
    }
    piece.equals = i;
    ++piece.equalsCount;
    size_t v = i + 1;
    while (v < n && IsBlank(text[v])) ++v;
    piece.valueBegin = v;
    const wchar_t open = v < n ? text[v] : L'\0';
    piece.quoted = oleDb ? (open == L'"' || open == L'\'') : open == L'{';
    size_t end = v;
    if (piece.quoted) {
      const wchar_t close = oleDb ? open : L'}';
      piece.closed = false;
      for (end = v + 1; end < n;) {
        if (text[end] == close) {
          if (end + 1 < n && text[end + 1] == close) {
            piece.value += close;
            end += 2;
            continue;
          }
          ++end;
          piece.closed = true;
          break;
        }
        piece.value += text[end++];
      }
      piece.valueEnd = end;
      for (; piece.closed && end < n && text[end] != L';'; ++end) {
        if (text[end] == L'=') ++piece.equalsCount;
        if (!IsBlank(text[end])) piece.trailing = true;
      }
    } else {
      for (end = i + 1; end < n && text[end] != L';'; ++end) {
        if (text[end] == L'=') ++piece.equalsCount;
      }
      piece.valueEnd = end;
      piece.value = std::wstring(Trim(text.substr(i + 1, end - i - 1)));
    }
    piece.end = end;
    pieces.push_back(std::move(piece));
    pos = end + 1;
  }
  return pieces;
}

bool ParseConnectionString(std::wstring_view text, std::vector<ConnectionAttribute>* out,
                           std::wstring* error) {
  return Parse(text, ConnectionStringSyntax::OleDb, out, error);
}

bool ParseOdbcConnectionString(std::wstring_view text, std::vector<ConnectionAttribute>* out,
                               std::wstring* error) {
  return Parse(text, ConnectionStringSyntax::Odbc, out, error);
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
  ProviderMap map;
  if (!ProviderMapInEffect(&map, error)) return false;
  return TranslateConnectionString(adoString, map, out, error);
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
  *out = OdbcTarget{std::wstring(adoString), MaskPasswords(adoString, L"***"), std::wstring()};
  return true;
}

std::wstring MaskPasswords(std::wstring_view text, std::wstring_view mask) {
  // Masking changes the text, and so may change where one reading's pairs
  // begin and end: a quote or brace that went with a value can uncover
  // another password. Passes go on until every password value is the mask.
  // With an empty mask every pass that changes anything shortens the text,
  // so the passes end; with another mask they end within a bound, past
  // which the empty mask's result is given.
  auto pass = [](std::wstring_view current, std::wstring_view with, bool* changed) {
    std::wstring out;
    out.reserve(current.size());
    size_t at = 0;
    *changed = false;
    for (const auto& [from, to] : ValueRanges(current, kPasswordKeywords)) {
      if (current.substr(from, to - from) != with) *changed = true;
      out.append(current.substr(at, from - at)).append(with);
      at = to;
    }
    out.append(current.substr(at));
    return out;
  };
  constexpr int kPassesAtMost = 16;
  std::wstring current(text);
  bool changed = true;
  for (int i = 0; changed && i < kPassesAtMost; ++i) current = pass(current, mask, &changed);
  if (!changed) return current;
  current = std::wstring(text);
  for (changed = true; changed;) current = pass(current, L"", &changed);
  return current;
}

std::wstring RedactConnectionString(std::wstring_view text) {
  std::vector<ConnectionAttribute> pairs;
  if (!ParseConnectionString(text, &pairs, nullptr) && !ParseOdbcConnectionString(text, &pairs, nullptr)) {
    return L"<unparsable connection string>";
  }
  return MaskPasswords(text, L"***");
}

std::wstring LoginOfConnectionString(std::wstring_view text) {
  std::wstring login;
  for (ConnectionStringPiece& piece : TokenizeConnectionString(text, ConnectionStringSyntax::OleDb)) {
    if (piece.equals != std::wstring_view::npos && In(kUserKeywords, piece.keyword)) login = std::move(piece.value);
  }
  return login;
}

namespace {

// QuoteAdoValue for either width of text, read as it stands.
template <typename Char>
std::basic_string<Char> QuotedAdoValue(std::basic_string_view<Char> value) {
  const auto structure = [](Char c) {
    return c == Char(';') || c == Char('"') || c == Char('\'') || c == Char('=') ||
           static_cast<std::make_unsigned_t<Char>>(c) <= static_cast<std::make_unsigned_t<Char>>(' ');
  };
  bool plain = value.empty() || value.front() != Char('{');
  for (Char c : value) {
    if (structure(c)) plain = false;
  }
  if (plain) return std::basic_string<Char>(value);
  std::basic_string<Char> quoted;
  quoted.reserve(2 * value.size() + 2);
  quoted += Char('"');
  for (Char c : value) {
    quoted += c;
    if (c == Char('"')) quoted += c;
  }
  quoted += Char('"');
  return quoted;
}

}  // namespace

std::wstring QuoteAdoValue(std::wstring_view value) { return QuotedAdoValue(value); }

std::string QuoteAdoValue(std::string_view value) { return QuotedAdoValue(value); }

std::wstring ReplaceLogin(std::wstring_view text, std::wstring_view user, std::wstring_view password) {
  // Reserved in full: growing would leave copies of the password behind.
  std::wstring out;
  out.reserve(text.size() + 2 * (user.size() + password.size()) + 32);
  size_t at = 0;
  for (const ConnectionStringPiece& piece : TokenizeConnectionString(text, ConnectionStringSyntax::OleDb)) {
    const bool replaced = piece.equals != std::wstring_view::npos &&
                          ((!user.empty() && In(kUserKeywords, piece.keyword)) ||
                           (!password.empty() && In(kPasswordKeywords, piece.keyword)));
    if (!replaced) continue;
    out.append(text.substr(at, piece.begin - at));
    at = std::min(piece.end + 1, text.size());
  }
  out.append(text.substr(at));
  auto separate = [&out] {
    if (!out.empty() && out.back() != L';') out += L';';
  };
  if (!user.empty()) {
    separate();
    out.append(L"User ID=").append(QuoteAdoValue(user));
  }
  if (!password.empty()) {
    std::wstring quoted = QuoteAdoValue(password);
    separate();
    out.append(L"Password=").append(quoted);
    WipeText(quoted);
  }
  return out;
}

void WipeText(std::wstring& text) {
  if (!text.empty()) explicit_bzero(text.data(), text.size() * sizeof(wchar_t));
  text.clear();
}

}  // namespace ado
