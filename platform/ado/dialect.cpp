#include "platform/ado/dialect.h"

#include <optional>
#include <vector>

#include "platform/ado/ascii_text.h"

namespace ado {
namespace {

using text::EqualsIgnoreCase;

bool IsWordChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'_' || c == L'@' || c == L'#' || c == L'$';
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Reads the source text; positions are indexes into it.
class Cursor {
 public:
  explicit Cursor(std::wstring_view sql) : sql_(sql) {}

  size_t SkipSpace(size_t at) const {
    while (at < sql_.size() && IsSpace(sql_[at])) ++at;
    return at;
  }
  // The word starting at `at` when it equals `word` (ignoring case) and ends there.
  std::optional<size_t> Word(size_t at, std::wstring_view word) const {
    if (at + word.size() > sql_.size()) return std::nullopt;
    if (!EqualsIgnoreCase(sql_.substr(at, word.size()), word)) return std::nullopt;
    const size_t end = at + word.size();
    if (end < sql_.size() && IsWordChar(sql_[end]) && IsWordChar(word.back())) return std::nullopt;
    return end;
  }
  std::optional<size_t> Char(size_t at, wchar_t c) const {
    at = SkipSpace(at);
    if (at < sql_.size() && sql_[at] == c) return at + 1;
    return std::nullopt;
  }
  // `name ( )` with blanks allowed.
  std::optional<size_t> Call(size_t at, std::wstring_view name) const {
    auto end = Word(at, name);
    if (!end) return std::nullopt;
    end = Char(*end, L'(');
    if (!end) return std::nullopt;
    return Char(*end, L')');
  }
  // The end of a literal, quoted name or comment starting at `at`, or npos.
  size_t Verbatim(size_t at) const {
    const wchar_t c = sql_[at];
    if (c == L'\'' || c == L'"' || c == L'[') {
      const wchar_t close = c == L'[' ? L']' : c;
      for (size_t i = at + 1; i < sql_.size(); ++i) {
        if (sql_[i] == close) {
          if (i + 1 < sql_.size() && sql_[i + 1] == close) {
            ++i;
            continue;
          }
          return i + 1;
        }
      }
      return sql_.size();
    }
    if (c == L'-' && at + 1 < sql_.size() && sql_[at + 1] == L'-') {
      const size_t eol = sql_.find(L'\n', at);
      return eol == std::wstring_view::npos ? sql_.size() : eol;
    }
    if (c == L'/' && at + 1 < sql_.size() && sql_[at + 1] == L'*') {
      const size_t close = sql_.find(L"*/", at + 2);
      return close == std::wstring_view::npos ? sql_.size() : close + 2;
    }
    return std::wstring_view::npos;
  }
  // Splits the argument list of a call whose '(' is at `open` at its
  // top-level commas; returns the position after the closing ')'.
  std::optional<size_t> Arguments(size_t open, std::vector<std::wstring_view>* args) const {
    int depth = 0;
    size_t start = open + 1;
    for (size_t i = open; i < sql_.size();) {
      const size_t verbatim = Verbatim(i);
      if (verbatim != std::wstring_view::npos) {
        i = verbatim;
        continue;
      }
      const wchar_t c = sql_[i];
      if (c == L'(') {
        ++depth;
      } else if (c == L')' && --depth == 0) {
        args->push_back(sql_.substr(start, i - start));
        return i + 1;
      } else if (c == L',' && depth == 1) {
        args->push_back(sql_.substr(start, i - start));
        start = i + 1;
      }
      ++i;
    }
    return std::nullopt;
  }
  std::wstring_view Slice(size_t from, size_t to) const { return sql_.substr(from, to - from); }
  size_t size() const { return sql_.size(); }
  wchar_t operator[](size_t at) const { return sql_[at]; }

 private:
  std::wstring_view sql_;
};

std::wstring RewriteForPostgres(std::wstring_view sql, const IdentityLookup& identity);

// Each rule looks at the text at `at` (outside literals, at a word start)
// and, when it applies, appends its replacement and returns where the text
// goes on.
using Rule = std::optional<size_t> (*)(const Cursor&, size_t at, std::wstring* out);

std::optional<size_t> SetNocount(const Cursor& sql, size_t at, std::wstring*) {
  auto end = sql.Word(at, L"SET");
  if (!end) return std::nullopt;
  end = sql.Word(sql.SkipSpace(*end), L"NOCOUNT");
  if (!end) return std::nullopt;
  const size_t value = sql.SkipSpace(*end);
  end = sql.Word(value, L"ON");
  if (!end) end = sql.Word(value, L"OFF");
  if (!end) return std::nullopt;
  if (auto semicolon = sql.Char(*end, L';')) end = semicolon;
  return sql.SkipSpace(*end);
}

constexpr std::wstring_view kTableHints[] = {
    L"NOLOCK",   L"READUNCOMMITTED", L"READCOMMITTED", L"REPEATABLEREAD", L"SERIALIZABLE",
    L"ROWLOCK",  L"PAGLOCK",         L"TABLOCK",       L"TABLOCKX",       L"UPDLOCK",
    L"XLOCK",    L"HOLDLOCK",        L"READPAST",      L"NOWAIT",         L"READCOMMITTEDLOCK",
};

std::optional<size_t> TableHints(const Cursor& sql, size_t at, std::wstring*) {
  auto end = sql.Word(at, L"WITH");
  if (!end) return std::nullopt;
  auto open = sql.Char(*end, L'(');
  if (!open) return std::nullopt;
  size_t pos = *open;
  for (;;) {
    pos = sql.SkipSpace(pos);
    std::optional<size_t> hint;
    for (std::wstring_view name : kTableHints) {
      if ((hint = sql.Word(pos, name))) break;
    }
    if (!hint) return std::nullopt;
    if (auto close = sql.Char(*hint, L')')) return *close;
    auto comma = sql.Char(*hint, L',');
    if (!comma) return std::nullopt;
    pos = *comma;
  }
}

struct CallReplacement {
  std::wstring_view name;
  std::wstring_view replacement;
};
constexpr CallReplacement kCalls[] = {
    {L"GETUTCDATE", L"(now() AT TIME ZONE 'UTC')"},
    {L"GETDATE", L"LOCALTIMESTAMP"},
    {L"SCOPE_IDENTITY", L"lastval()"},
};

std::optional<size_t> Calls(const Cursor& sql, size_t at, std::wstring* out) {
  for (const CallReplacement& call : kCalls) {
    if (auto end = sql.Call(at, call.name)) {
      out->append(call.replacement);
      return end;
    }
  }
  if (auto end = sql.Word(at, L"@@IDENTITY")) {
    out->append(L"lastval()");
    return end;
  }
  return std::nullopt;
}

std::optional<size_t> DateDiffDays(const Cursor& sql, size_t at, std::wstring* out) {
  auto end = sql.Word(at, L"DATEDIFF");
  if (!end) return std::nullopt;
  const size_t open = sql.SkipSpace(*end);
  if (open >= sql.size() || sql[open] != L'(') return std::nullopt;
  std::vector<std::wstring_view> args;
  auto after = sql.Arguments(open, &args);
  if (!after || args.size() != 3) return std::nullopt;
  const std::wstring_view unit = text::Trim(args[0]);
  if (!EqualsIgnoreCase(unit, L"day") && !EqualsIgnoreCase(unit, L"dd") &&
      !EqualsIgnoreCase(unit, L"d")) {
    return std::nullopt;
  }
  out->append(L"(CAST(")
      .append(text::Trim(RewriteForPostgres(args[2], nullptr)))
      .append(L" AS date) - CAST(")
      .append(text::Trim(RewriteForPostgres(args[1], nullptr)))
      .append(L" AS date))");
  return after;
}

std::optional<size_t> DboPrefix(const Cursor& sql, size_t at, std::wstring*) {
  if (at > 0 && sql[at - 1] == L'.') return std::nullopt;  // db.dbo.name keeps its schema
  if (auto end = sql.Word(at, L"dbo.")) return end;
  if (auto end = sql.Word(at, L"[dbo].")) return end;
  return std::nullopt;
}

constexpr Rule kRules[] = {SetNocount, TableHints, Calls, DateDiffDays, DboPrefix};

// "SELECT [DISTINCT|ALL] TOP n" / "TOP (n)" with a literal n: the SELECT
// without its TOP and the limit to append where the statement ends. A
// parameter marker as n is left alone: moving it to the end would change
// the order of the parameters.
std::optional<size_t> SelectTop(const Cursor& sql, size_t at, std::wstring* out,
                                std::wstring* limit) {
  auto end = sql.Word(at, L"SELECT");
  if (!end) return std::nullopt;
  size_t pos = sql.SkipSpace(*end);
  std::optional<size_t> quantifier = sql.Word(pos, L"DISTINCT");
  if (!quantifier) quantifier = sql.Word(pos, L"ALL");
  const size_t topAt = quantifier ? sql.SkipSpace(*quantifier) : pos;
  auto top = sql.Word(topAt, L"TOP");
  if (!top) return std::nullopt;
  pos = sql.SkipSpace(*top);
  const bool parenthesised = pos < sql.size() && sql[pos] == L'(';
  if (parenthesised) pos = sql.SkipSpace(pos + 1);
  const size_t digits = pos;
  while (pos < sql.size() && sql[pos] >= L'0' && sql[pos] <= L'9') ++pos;
  if (pos == digits) return std::nullopt;
  *limit = std::wstring(sql.Slice(digits, pos));
  if (parenthesised) {
    auto close = sql.Char(pos, L')');
    if (!close) return std::nullopt;
    pos = *close;
  } else if (pos < sql.size() && IsWordChar(sql[pos])) {
    return std::nullopt;
  }
  out->append(sql.Slice(at, quantifier ? *quantifier : *end));
  return pos;
}

// "INSERT [INTO] name" at `at`: the table's name as written, without a
// "dbo." prefix.
std::optional<std::wstring> InsertedTable(const Cursor& sql, size_t at) {
  auto end = sql.Word(at, L"INSERT");
  if (!end) return std::nullopt;
  size_t pos = sql.SkipSpace(*end);
  if (auto into = sql.Word(pos, L"INTO")) pos = sql.SkipSpace(*into);
  if (auto dbo = sql.Word(pos, L"dbo.")) pos = *dbo;
  if (auto dbo = sql.Word(pos, L"[dbo].")) pos = *dbo;
  const size_t start = pos;
  while (pos < sql.size()) {
    if (sql[pos] == L'"') {
      pos = sql.Verbatim(pos);
    } else if (IsWordChar(sql[pos]) || sql[pos] == L'.') {
      ++pos;
    } else {
      break;
    }
  }
  if (pos == start) return std::nullopt;
  return std::wstring(sql.Slice(start, pos));
}

// "SELECT SCOPE_IDENTITY()" or "SELECT @@IDENTITY" at `at`: where it ends.
std::optional<size_t> IdentitySelect(const Cursor& sql, size_t at) {
  auto end = sql.Word(at, L"SELECT");
  if (!end) return std::nullopt;
  const size_t pos = sql.SkipSpace(*end);
  if (auto call = sql.Call(pos, L"SCOPE_IDENTITY")) return call;
  return sql.Word(pos, L"@@IDENTITY");
}

std::wstring RewriteForPostgres(std::wstring_view source, const IdentityLookup& identity) {
  const Cursor sql(source);
  std::wstring out;
  out.reserve(source.size());
  // Limits waiting for the end of their SELECT, by parenthesis depth.
  struct PendingLimit {
    int depth;
    std::wstring count;
  };
  std::vector<PendingLimit> limits;
  int depth = 0;
  auto flushLimits = [&](int endingDepth) {
    while (!limits.empty() && limits.back().depth >= endingDepth) {
      while (!out.empty() && IsSpace(out.back())) out.pop_back();
      out.append(L" LIMIT ").append(limits.back().count);
      limits.pop_back();
    }
  };
  // The INSERT whose identity a following SELECT may read back: its table
  // and parenthesis depth, and whether its statement has ended (';').
  std::optional<std::wstring> inserted;
  int insertDepth = 0;
  bool insertEnded = false;
  size_t at = 0;
  while (at < sql.size()) {
    const wchar_t c = sql[at];
    const bool wordStart = at == 0 || !IsWordChar(sql[at - 1]);
    if (wordStart && (IsWordChar(c) || c == L'[')) {
      if (inserted && depth == insertDepth) {
        if (auto end = IdentitySelect(sql, at)) {
          while (!out.empty() && (IsSpace(out.back()) || out.back() == L';')) out.pop_back();
          const std::wstring column = identity ? identity(*inserted) : std::wstring();
          out.append(L" RETURNING ").append(column.empty() ? L"NULL" : column);
          inserted.reset();
          at = *end;
          continue;
        }
        if (insertEnded) inserted.reset();
      }
      if (auto table = InsertedTable(sql, at)) {
        inserted = std::move(table);
        insertDepth = depth;
        insertEnded = false;
      }
      std::optional<size_t> next;
      for (Rule rule : kRules) {
        if ((next = rule(sql, at, &out))) break;
      }
      std::wstring count;
      if (!next && (next = SelectTop(sql, at, &out, &count))) {
        limits.push_back(PendingLimit{depth, std::move(count)});
      }
      if (next) {
        at = *next;
        continue;
      }
    }
    const size_t verbatim = sql.Verbatim(at);
    if (verbatim != std::wstring_view::npos) {
      out.append(sql.Slice(at, verbatim));
      at = verbatim;
      continue;
    }
    if (c == L'(') {
      ++depth;
    } else if (c == L')') {
      flushLimits(depth);
      --depth;
    } else if (c == L';') {
      flushLimits(depth);
      if (depth == insertDepth) insertEnded = true;
    }
    out += c;
    ++at;
  }
  flushLimits(depth);
  return out;
}

bool StartsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

Dialect DialectOfDbms(std::wstring_view dbmsName) {
  dbmsName = text::Trim(dbmsName);
  if (StartsWithIgnoreCase(dbmsName, L"Microsoft SQL Server")) return Dialect::SqlServer;
  if (StartsWithIgnoreCase(dbmsName, L"DB2")) return Dialect::Db2;
  if (StartsWithIgnoreCase(dbmsName, L"PostgreSQL")) return Dialect::PostgreSql;
  return Dialect::Other;
}

std::wstring RewriteSql(std::wstring_view sql, Dialect target, const IdentityLookup& identity) {
  if (target != Dialect::PostgreSql) return std::wstring(sql);
  return RewriteForPostgres(sql, identity);
}

}  // namespace ado
