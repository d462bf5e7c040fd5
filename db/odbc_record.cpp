// ODBCRecord: the record's data, the operations that fill it and the
// statement builders. Execution is in odbc_record_exec.cpp.
#include "db/odbc_record.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

// Operator texts of comparison codes 0 to 9 (kIn is written by the IN list).
constexpr const wchar_t* kOperators[] = {L" = ",  L" != ", L" > ",    L" < ",        L" >= ",
                                         L" <= ", L" & ",  L" & ",    L" LIKE ",     L" NOT LIKE "};

// Values longer than this many characters are cut in the DATA text.
constexpr std::size_t kDataTextChars = 32;

// Room for a usual statement, so that building it allocates once.
constexpr std::size_t kStatementChars = 240;

// Room for the names of a usual operation, and for its outputs, values and
// terms, so that each is made once.
constexpr std::size_t kNameChars = 64;
constexpr std::size_t kUsualCount = 4;

// Makes room for `more` items in `items`, the usual room at least.
template <typename Items>
void MakeRoom(Items& items, std::size_t more, std::size_t usual) {
  if (items.size() + more > items.capacity()) items.reserve(items.size() + std::max(more, usual));
}

std::wstring Widen(const char* text) {
  return text == nullptr ? std::wstring() : ConvertToWideString(text, CP_ACP);
}

}  // namespace

ODBCRecord::ODBCRecord(ODBCDatabase* database) : database_(database) {
  if (database_ == nullptr) throw std::runtime_error("ODBCRecord::ODBCRecord:  Invalid ODBCDatabase object");
  // Registered by the first record; later ones only test the guard.
  static const bool registered = (ado::RegisterAdoClasses(), true);
  (void)registered;
}

ODBCRecord::~ODBCRecord() {
  if (holdsConnection_) {
    database_->GetConnections()->GiveBack(lent_);
    holdsConnection_ = false;
  }
}

void ODBCRecord::SetTableName(const wchar_t* table) {
  const std::wstring_view name = table != nullptr ? table : L"";
  if (name.size() > tableLength_) MakeRoom(names_, name.size() - tableLength_, kNameChars);
  names_.replace(0, tableLength_, name);
  tableLength_ = name.size();
}

ODBCRecord::Name ODBCRecord::AddName(const wchar_t* column) {
  const std::wstring_view text = column;
  MakeRoom(names_, text.size(), kNameChars);
  const Name name{names_.size() - tableLength_, text.size()};
  names_ += text;
  return name;
}

void ODBCRecord::AddOutput(const wchar_t* column, const wchar_t* function, std::int16_t type, void* destination) {
  MakeRoom(outputs_, 1, kUsualCount);
  Output output;
  output.type = type;
  output.destination = destination;
  output.column = AddName(column);
  if (function != nullptr) {
    output.function = AddName(function);
    output.wrapped = true;
  }
  outputs_.push_back(output);
}

void ODBCRecord::AddOutputString(const wchar_t* column, std::wstring* destination, const wchar_t* function) {
  AddOutput(column, function, kTypeWideString, destination);
}

void ODBCRecord::AddOutputInt(const wchar_t* column, std::int32_t* destination, const wchar_t* function) {
  AddOutput(column, function, kTypeInt, destination);
}

void ODBCRecord::AddOutputInt64(const char* column, std::int64_t* destination, const char* function) {
  const std::wstring wideColumn = Widen(column);
  const std::wstring wideFunction = Widen(function);
  AddOutput(wideColumn.c_str(), function != nullptr ? wideFunction.c_str() : nullptr, kTypeInt64, destination);
}

void ODBCRecord::AddValueString(const wchar_t* column, const wchar_t* value) {
  MakeRoom(values_, 1, kUsualCount);
  values_.push_back(ColumnValue{AddName(column), Value{kTypeWideString, 0, value, value == nullptr}});
}

void ODBCRecord::AddValueInt(const wchar_t* column, std::int32_t value) {
  MakeRoom(values_, 1, kUsualCount);
  values_.push_back(ColumnValue{AddName(column), Value{kTypeInt, value, nullptr, false}});
}

void ODBCRecord::AddTerm(Term term) {
  MakeRoom(terms_, 1, kUsualCount);
  terms_.push_back(term);
}

void ODBCRecord::AddWhereIsNull(const wchar_t* column, bool conjunction) {
  Term term;
  term.column = AddName(column);
  term.conjunction = conjunction;
  term.value.type = kTypeIsNull;
  AddTerm(term);
}

void ODBCRecord::AddWhereString(const wchar_t* column, const wchar_t* value, bool conjunction,
                                std::int32_t comparison, std::int32_t caseCode) {
  Term term;
  term.column = AddName(column);
  term.comparison = comparison;
  term.conjunction = conjunction;
  term.caseCode = caseCode;
  term.value = Value{kTypeWideString, 0, value, value == nullptr};
  AddTerm(term);
}

void ODBCRecord::AddWhereInt(const wchar_t* column, std::int32_t value, bool conjunction, std::int32_t comparison) {
  Term term;
  term.column = AddName(column);
  term.comparison = comparison;
  term.conjunction = conjunction;
  term.value = Value{kTypeInt, value, nullptr, false};
  AddTerm(term);
}

void ODBCRecord::AddWhereOpenGroup() {
  Term term;
  term.group = kOpen;
  AddTerm(term);
}

void ODBCRecord::AddWhereCloseGroup() {
  Term term;
  term.group = kClose;
  AddTerm(term);
}

void ODBCRecord::AddOrderBy(const wchar_t* column, bool ascending) {
  order_.push_back(Order{AddName(column), ascending});
}

void ODBCRecord::AddPageKeyInt(const wchar_t* column, bool ascending, std::int32_t value) {
  pageKeys_.push_back(PageKey{AddName(column), ascending, Value{kTypeInt, value, nullptr, false}});
}

bool ODBCRecord::GetIdentifier(zev::ZEVString& value, zev::ZEVString* name) const {
  const bool read = identity_ == Identity::kRead;
  const wchar_t* const empty = identity_ == Identity::kNoText ? nullptr : L"";
  value = read ? identityText_ : empty;
  if (name != nullptr) *name = read ? L"Id" : empty;
  return read;
}

void ODBCRecord::Reset() {
  status_ = kStatusOk;
  outputs_.clear();
  names_.resize(tableLength_);
  order_.clear();
  pageKeys_.clear();
  values_.clear();
  terms_.clear();
  identity_ = Identity::kEmpty;
  rows_.Clear();
  currentRow_ = 0;
  upperRow_ = 0;
}

void ODBCRecord::AppendWhereClause(std::wstring* sql) const {
  std::wstring& out = *sql;
  out += L" WHERE ";
  const std::size_t start = out.size();
  std::size_t pendingOpens = 0;  // "(" of group terms, written before the next term
  bool inListOpen = false;
  std::wstring_view inListColumn;

  for (const Term& term : terms_) {
    const std::wstring_view column = NameOf(term.column);
    const bool continues = inListOpen && term.comparison == kIn && term.value.type != kTypeIsNull &&
                           column == inListColumn;
    if (inListOpen && !continues) {
      out += L") ";
      inListOpen = false;
    }
    if (column.empty()) {
      if (term.group == kOpen) ++pendingOpens;
      if (term.group == kClose) out += L")";
      continue;
    }
    if (out.size() > start && !continues) out += term.conjunction ? L" AND " : L" OR ";
    out.append(pendingOpens, L'(');
    pendingOpens = 0;
    if (!continues) {
      if (term.caseCode == kCaseUpper) {
        out += L"UPPER(";
        out += column;
        out += L")";
      } else if (term.caseCode == kCaseLower) {
        out += L"LOWER(";
        out += column;
        out += L")";
      } else {
        out += column;
      }
    }
    if (term.value.type == kTypeIsNull) {
      out += L" IS NULL";
      continue;
    }
    if (term.comparison == kIn) {
      if (inListOpen) {
        out += L", ";
      } else {
        out += L" IN (";
        inListOpen = true;
        inListColumn = column;
      }
    } else if (term.comparison >= kEqual && term.comparison < kIn) {
      out += kOperators[term.comparison];
    }
    out += L"?";
    if (term.comparison == kBitSet) out += L" != 0";
    if (term.comparison == kBitClear) out += L" = 0";
  }
  if (inListOpen) out += L") ";

  bool pageInParentheses = false;
  for (std::size_t i = 0; i < pageKeys_.size(); ++i) {
    if (i > 0) {
      out += L" OR ";
    } else if (!terms_.empty()) {
      out += L" AND (";
      pageInParentheses = true;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (j == 0) out += L" (";
      out += L" ( ";
      out += NameOf(pageKeys_[j].column);
      out += L" = ? ) AND";
    }
    out += L" ( ";
    out += NameOf(pageKeys_[i].column);
    out += pageKeys_[i].ascending ? L" > ? ) " : L" < ? ) ";
    if (i > 0) out += L" )";
  }
  if (pageInParentheses) out += L")";
}

std::wstring ODBCRecord::BuildSelect() const {
  std::wstring sql;
  sql.reserve(kStatementChars);
  sql += L"SELECT ";
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const Output& output = outputs_[i];
    if (i > 0) sql += L", ";
    if (output.wrapped) {
      sql += NameOf(output.function);
      sql += L"(";
      sql += NameOf(output.column);
      sql += L")";
    } else {
      sql += NameOf(output.column);
    }
  }
  sql += L" FROM ";
  sql += Table();
  if (HasWhere()) AppendWhereClause(&sql);
  for (std::size_t i = 0; i < order_.size(); ++i) {
    sql += i == 0 ? L" ORDER BY " : L", ";
    sql += NameOf(order_[i].column);
    if (!order_[i].ascending) sql += L" DESC";
  }
  return sql;
}

std::wstring ODBCRecord::BuildInsert() const {
  std::wstring sql;
  sql.reserve(kStatementChars);
  if (!database_->IsDB2()) sql += L"SET NOCOUNT ON; ";
  sql += L"INSERT INTO ";
  sql += Table();
  sql += L" (";
  std::size_t count = 0;
  auto add = [&](const Name& column) {
    if (count++ > 0) sql += L", ";
    sql += NameOf(column);
  };
  for (const ColumnValue& value : values_) add(value.column);
  for (const Term& term : terms_) {
    if (term.column.length != 0 && term.value.type != kTypeIsNull) add(term.column);
  }
  sql += L") VALUES (";
  for (std::size_t i = 0; i < count; ++i) sql += i == 0 ? L"?" : L", ?";
  sql += L") ";
  if (!database_->IsDB2()) sql += L"; SELECT SCOPE_IDENTITY(); SET NOCOUNT OFF";
  return sql;
}

std::wstring ODBCRecord::BuildUpdate() const {
  std::wstring sql;
  sql.reserve(kStatementChars);
  sql += L"UPDATE ";
  sql += Table();
  sql += L" SET ";
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (i > 0) sql += L", ";
    sql += NameOf(values_[i].column);
    sql += L" = ?";
  }
  if (HasWhere()) AppendWhereClause(&sql);
  return sql;
}

std::wstring ODBCRecord::BuildDelete() const {
  std::wstring sql;
  sql.reserve(kStatementChars);
  sql += L"DELETE FROM ";
  sql += Table();
  if (!terms_.empty()) AppendWhereClause(&sql);
  return sql;
}

std::wstring ODBCRecord::BuildDataText() const {
  std::wstring data;
  auto entry = [this, &data](const Name& name, const Value& value) {
    const std::wstring_view column = NameOf(name);
    wchar_t buffer[64];
    if (value.isNull) {
      data += column;
      data += L"[NULL] ";
    } else if (value.type == kTypeInt) {
      crt::snwprintf(buffer, 63, L"[%d] ", value.number);
      buffer[63] = L'\0';
      data += column;
      data += buffer;
    } else if (value.type == kTypeWideString) {
      const std::wstring text = value.text;
      data += column;
      if (text.size() > kDataTextChars) {
        crt::snwprintf(buffer, 63, L"(first %d bytes)", static_cast<int>(kDataTextChars));
        buffer[63] = L'\0';
        data += buffer;
        data += L"[" + DoublePercent(text.substr(0, kDataTextChars)) + L"] ";
      } else {
        data += L"[" + DoublePercent(text) + L"] ";
      }
    }
  };
  for (const ColumnValue& value : values_) entry(value.column, value.value);
  for (const Term& term : terms_) {
    if (term.column.length != 0 && term.value.type != kTypeIsNull) entry(term.column, term.value);
  }
  return data;
}
