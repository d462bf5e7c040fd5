// Tables: the IMAPITable of the stores table, folder hierarchy and contents
// tables, and address-book hierarchy and contents tables, over a RowSource
// that names the rows and reads each row's properties; restrictions as
// conditions over a row's properties; and the name matching shared by
// PR_ANR restrictions and name resolution.
//
// A table reads its row keys (and evaluates its restriction and sort order)
// when a call first needs them after it was made, after Restrict or
// SortTable, and after any change to the profile (keeping its position);
// QueryRows reads the values of the rows it hands out, as they stand then. Internal to platform/mapi; a table is used under
// its session's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/object_base.h"

namespace mapi_internal {

// What a name names: a user whose display name, alias, e-mail address or
// SMTP address has this folded key, or, for "[EX:address]", whose e-mail
// address has it.
struct NameQuery {
  bool emailOnly = false;
  std::string key;
};
NameQuery ParseName(std::string_view utf8);
// Whether a mail user's properties match the query.
bool NameMatches(const NameQuery& query, const PropertyBag& user);

// A restriction as the table keeps it.
struct Condition {
  ULONG kind = RES_AND;             // RES_AND, RES_OR, RES_NOT, RES_EXIST, RES_PROPERTY
  std::vector<Condition> children;  // RES_AND, RES_OR, RES_NOT
  ULONG relop = RELOP_EQ;           // RES_PROPERTY
  ULONG tag = 0;                    // RES_PROPERTY, RES_EXIST
  Value value;                      // RES_PROPERTY
  bool anr = false;                 // RES_PROPERTY on PR_ANR: `name` holds the query
  NameQuery name;
};

// MAPI_E_TOO_COMPLEX for a kind, relation or nesting this library does not
// evaluate, or PR_ANR where `anrAllowed` is false; MAPI_E_INVALID_PARAMETER
// for a malformed restriction.
HRESULT ConditionFromRestriction(const SRestriction& restriction, bool anrAllowed, Condition* out);
bool Meets(const Condition& condition, const PropertyBag& row);

struct RowKey {
  std::int64_t id = 0;
  LONG depth = 0;  // hierarchy rows below the table's container, from 0
};

class RowSource {
 public:
  virtual ~RowSource() = default;
  // The rows in the table's own order. With a restriction a source may leave
  // out rows that cannot meet it (the table still tests every row it gives).
  virtual HRESULT Keys(const Condition* restriction, std::vector<RowKey>* keys,
                       Failure* failure) = 0;
  virtual HRESULT Read(const RowKey& key, PropertyBag* row, Failure* failure) = 0;
  // Whether PR_ANR restrictions mean something here (address-book contents).
  virtual bool AnswersAnr() const { return false; }
  // The columns before SetColumns.
  virtual std::vector<ULONG> DefaultColumns() const = 0;
};

// A new table over `source`, with one reference for the caller.
IMAPITable* NewTable(std::shared_ptr<Context> context, std::unique_ptr<RowSource> source,
                     bool unicode);

}  // namespace mapi_internal
