#include "platform/mapi/table.h"

#include <algorithm>
#include <optional>

#include "platform/mapi/text.h"

namespace mapi_internal {

NameQuery ParseName(std::string_view utf8) {
  NameQuery query;
  std::string_view name = TrimBlanks(utf8);
  if (name.size() >= 5 && name.front() == '[' && name.back() == ']' &&
      (name[1] == 'E' || name[1] == 'e') && (name[2] == 'X' || name[2] == 'x') && name[3] == ':') {
    query.emailOnly = true;
    name = TrimBlanks(name.substr(4, name.size() - 5));
  }
  query.key = FoldedKey(name);
  return query;
}

bool NameMatches(const NameQuery& query, const PropertyBag& user) {
  auto matches = [&](ULONG tag) {
    const auto found = user.find(PROP_ID(tag));
    return found != user.end() && found->second.type == PT_UNICODE &&
           FoldedKey(found->second.data) == query.key;
  };
  if (query.emailOnly) return matches(PR_EMAIL_ADDRESS);
  return matches(PR_DISPLAY_NAME) || matches(PR_ACCOUNT) || matches(PR_EMAIL_ADDRESS) ||
         matches(PR_SMTP_ADDRESS);
}

namespace {

constexpr int kMaxNesting = 32;

HRESULT Convert(const SRestriction& restriction, bool anrAllowed, int depth, Condition* out) {
  if (depth > kMaxNesting) return MAPI_E_TOO_COMPLEX;
  Condition condition;
  condition.kind = restriction.rt;
  switch (restriction.rt) {
    case RES_AND:
    case RES_OR: {
      const ULONG count = restriction.res.resAnd.cRes;
      const SRestriction* children = restriction.res.resAnd.lpRes;
      if (count > 0 && children == nullptr) return MAPI_E_INVALID_PARAMETER;
      condition.children.resize(count);
      for (ULONG i = 0; i < count; ++i) {
        const HRESULT hr = Convert(children[i], anrAllowed, depth + 1, &condition.children[i]);
        if (FAILED(hr)) return hr;
      }
      break;
    }
    case RES_NOT: {
      if (restriction.res.resNot.lpRes == nullptr) return MAPI_E_INVALID_PARAMETER;
      condition.children.resize(1);
      const HRESULT hr = Convert(*restriction.res.resNot.lpRes, anrAllowed, depth + 1,
                                 &condition.children[0]);
      if (FAILED(hr)) return hr;
      break;
    }
    case RES_EXIST:
      condition.tag = restriction.res.resExist.ulPropTag;
      break;
    case RES_PROPERTY: {
      const SPropertyRestriction& property = restriction.res.resProperty;
      if (property.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
      if (property.relop > RELOP_NE) return MAPI_E_TOO_COMPLEX;
      condition.relop = property.relop;
      condition.tag = property.ulPropTag;
      if (PROP_ID(property.ulPropTag) == PROP_ID(PR_ANR)) {
        if (!anrAllowed || property.relop != RELOP_EQ) return MAPI_E_TOO_COMPLEX;
        Value name;
        if (FAILED(ValueFromProp(*property.lpProp, &name)) || name.type != PT_UNICODE) {
          return MAPI_E_INVALID_PARAMETER;
        }
        condition.anr = true;
        condition.name = ParseName(name.data);
        break;
      }
      const HRESULT hr = ValueFromProp(*property.lpProp, &condition.value);
      if (FAILED(hr)) return hr;
      if ((condition.value.type & MV_FLAG) != 0) return MAPI_E_TOO_COMPLEX;
      break;
    }
    default:
      return MAPI_E_TOO_COMPLEX;
  }
  *out = std::move(condition);
  return S_OK;
}

bool TypeFits(ULONG tag, const Value& value) {
  return PROP_TYPE(tag) == PT_UNSPECIFIED || CanonicalType(PROP_TYPE(tag)) == value.type;
}

}  // namespace

HRESULT ConditionFromRestriction(const SRestriction& restriction, bool anrAllowed, Condition* out) {
  return Convert(restriction, anrAllowed, 0, out);
}

bool Meets(const Condition& condition, const PropertyBag& row) {
  switch (condition.kind) {
    case RES_AND:
      return std::all_of(condition.children.begin(), condition.children.end(),
                         [&](const Condition& c) { return Meets(c, row); });
    case RES_OR:
      return std::any_of(condition.children.begin(), condition.children.end(),
                         [&](const Condition& c) { return Meets(c, row); });
    case RES_NOT:
      return !Meets(condition.children[0], row);
    case RES_EXIST: {
      const auto found = row.find(PROP_ID(condition.tag));
      return found != row.end() && TypeFits(condition.tag, found->second);
    }
    default:
      break;
  }
  if (condition.anr) return NameMatches(condition.name, row);
  const auto found = row.find(PROP_ID(condition.tag));
  if (found == row.end() || !TypeFits(condition.tag, found->second)) return false;
  int order = 0;
  if (!CompareValues(found->second, condition.value, &order)) return false;
  switch (condition.relop) {
    case RELOP_LT: return order < 0;
    case RELOP_LE: return order <= 0;
    case RELOP_GT: return order > 0;
    case RELOP_GE: return order >= 0;
    case RELOP_EQ: return order == 0;
    default: return order != 0;
  }
}

namespace {

class Table final : public MapiObject<IMAPITable> {
 public:
  Table(std::shared_ptr<Context> context, std::unique_ptr<RowSource> source, bool unicode)
      : MapiObject(std::move(context)), source_(std::move(source)), unicode_(unicode) {
    SetColumnList(source_->DefaultColumns());
  }

  HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override {
    auto hold = Enter();
    return LastError(hResult, ulFlags, lppMAPIError);
  }

  HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPITable::SetColumns")) return hr;
    if (lpPropTagArray == nullptr) return Fail(MAPI_E_INVALID_PARAMETER, "no columns");
    if ((ulFlags & ~(TBL_ASYNC | TBL_BATCH)) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    SetColumnList(std::vector<ULONG>(lpPropTagArray->aulPropTag,
                                     lpPropTagArray->aulPropTag + lpPropTagArray->cValues));
    return S_OK;
  }

  HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPITable::QueryRows")) return hr;
    if (lppRows == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if ((ulFlags & ~TBL_NOADVANCE) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    if (lRowCount < 0) return Fail(MAPI_E_NO_SUPPORT, "rows are read forwards only");
    Failure failure;
    if (FAILED(Ensure(&failure))) return Fail(failure);
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(lRowCount), rows_.size() - position_);
    void* block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(std::max<std::size_t>(count, 1))), &block) !=
        S_OK) {
      return Fail(MAPI_E_NOT_ENOUGH_MEMORY, "out of memory");
    }
    auto* set = static_cast<SRowSet*>(block);
    set->cRows = 0;
    for (std::size_t i = 0; i < count; ++i) {
      PropertyBag row;
      HRESULT hr = source_->Read(rows_[position_ + i], &row, &failure);
      SRow& out = set->aRow[i];
      out.ulAdrEntryPad = 0;
      bool errors = false;
      if (SUCCEEDED(hr)) {
        hr = BuildPropArray(row, Columns(), unicode_, true, &out.cValues, &out.lpProps, &errors);
        if (FAILED(hr)) failure = Failure{hr, "out of memory", 0};
      }
      if (FAILED(hr)) {
        FreeProws(set);
        return Fail(failure);
      }
      set->cRows = static_cast<ULONG>(i + 1);
    }
    if ((ulFlags & TBL_NOADVANCE) == 0) position_ += count;
    *lppRows = set;
    return S_OK;
  }

  HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPITable::SeekRow")) return hr;
    if (lplRowsSought != nullptr) *lplRowsSought = 0;
    if (bkOrigin != BOOKMARK_BEGINNING && bkOrigin != BOOKMARK_CURRENT && bkOrigin != BOOKMARK_END) {
      return Fail(MAPI_E_INVALID_BOOKMARK, "unknown bookmark");
    }
    if (bkOrigin == BOOKMARK_BEGINNING && lRowCount == 0) {
      position_ = 0;  // the rows need not be read for this
      return S_OK;
    }
    Failure failure;
    if (FAILED(Ensure(&failure))) return Fail(failure);
    const std::int64_t size = static_cast<std::int64_t>(rows_.size());
    const std::int64_t base = bkOrigin == BOOKMARK_BEGINNING ? 0
                              : bkOrigin == BOOKMARK_CURRENT ? static_cast<std::int64_t>(position_)
                                                             : size;
    const std::int64_t target = std::clamp<std::int64_t>(base + lRowCount, 0, size);
    position_ = static_cast<std::size_t>(target);
    if (lplRowsSought != nullptr) *lplRowsSought = static_cast<LONG>(target - base);
    return S_OK;
  }

  HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPITable::Restrict")) return hr;
    if ((ulFlags & ~(TBL_ASYNC | TBL_BATCH)) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    if (lpRestriction == nullptr) {
      restriction_.reset();
    } else {
      Condition condition;
      const HRESULT hr = ConditionFromRestriction(*lpRestriction, source_->AnswersAnr(), &condition);
      if (FAILED(hr)) return Fail(hr, "the restriction cannot be evaluated here");
      restriction_ = std::move(condition);
    }
    Invalidate();
    return S_OK;
  }

  HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPITable::SortTable")) return hr;
    if ((ulFlags & ~(TBL_ASYNC | TBL_BATCH)) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    std::vector<SSortOrder> sort;
    if (lpSortCriteria != nullptr) {
      if (lpSortCriteria->cCategories != 0) return Fail(MAPI_E_TOO_COMPLEX, "no categories here");
      for (ULONG i = 0; i < lpSortCriteria->cSorts; ++i) {
        const SSortOrder& order = lpSortCriteria->aSort[i];
        if (order.ulOrder != TABLE_SORT_ASCEND && order.ulOrder != TABLE_SORT_DESCEND) {
          return Fail(MAPI_E_TOO_COMPLEX, "unknown sort order");
        }
        if ((PROP_TYPE(order.ulPropTag) & MV_FLAG) != 0) {
          return Fail(MAPI_E_TOO_COMPLEX, "multi-valued columns are not sorted");
        }
        sort.push_back(order);
      }
    }
    sort_ = std::move(sort);
    Invalidate();
    return S_OK;
  }

 private:
  void SetColumnList(const std::vector<ULONG>& tags) {
    columns_.assign(1, static_cast<ULONG>(tags.size()));
    columns_.insert(columns_.end(), tags.begin(), tags.end());
  }
  const SPropTagArray* Columns() const { return reinterpret_cast<const SPropTagArray*>(columns_.data()); }

  void Invalidate() {
    ready_ = false;
    rows_.clear();
    position_ = 0;
  }

  // Reads the rows, keeping those that meet the restriction, in sort order;
  // again whenever the profile changed since, keeping the position.
  HRESULT Ensure(Failure* failure) {
    std::pair<std::int64_t, std::int64_t> stamp;
    HRESULT hr = context_->db->ChangeStamp(&stamp, failure);
    if (FAILED(hr)) return hr;
    if (ready_ && stamp == stamp_) return S_OK;
    std::vector<RowKey> keys;
    hr = source_->Keys(restriction_ ? &*restriction_ : nullptr, &keys, failure);
    if (FAILED(hr)) return hr;
    struct Sorted {
      RowKey key;
      std::vector<std::optional<Value>> values;
    };
    std::vector<Sorted> kept;
    for (const RowKey& key : keys) {
      if (!restriction_ && sort_.empty()) {
        kept.push_back({key, {}});
        continue;
      }
      PropertyBag row;
      hr = source_->Read(key, &row, failure);
      if (FAILED(hr)) return hr;
      if (restriction_ && !Meets(*restriction_, row)) continue;
      Sorted entry{key, {}};
      for (const SSortOrder& order : sort_) {
        const auto found = row.find(PROP_ID(order.ulPropTag));
        if (found != row.end()) {
          entry.values.emplace_back(found->second);
        } else {
          entry.values.emplace_back();
        }
      }
      kept.push_back(std::move(entry));
    }
    if (!sort_.empty()) {
      std::stable_sort(kept.begin(), kept.end(), [&](const Sorted& a, const Sorted& b) {
        for (std::size_t i = 0; i < sort_.size(); ++i) {
          const auto& x = a.values[i];
          const auto& y = b.values[i];
          int order = 0;
          if (!x || !y) {
            order = (x ? 1 : 0) - (y ? 1 : 0);  // rows without the value come first
          } else if (!CompareValues(*x, *y, &order)) {
            order = 0;
          }
          if (sort_[i].ulOrder == TABLE_SORT_DESCEND) order = -order;
          if (order != 0) return order < 0;
        }
        return false;
      });
    }
    rows_.clear();
    for (const Sorted& entry : kept) rows_.push_back(entry.key);
    position_ = std::min(position_, rows_.size());
    stamp_ = stamp;
    ready_ = true;
    return S_OK;
  }

  std::unique_ptr<RowSource> source_;
  const bool unicode_;
  std::vector<ULONG> columns_;  // laid out as an SPropTagArray
  std::optional<Condition> restriction_;
  std::vector<SSortOrder> sort_;
  bool ready_ = false;
  std::pair<std::int64_t, std::int64_t> stamp_;  // the profile's when the rows were read
  std::vector<RowKey> rows_;
  std::size_t position_ = 0;
};

}  // namespace

IMAPITable* NewTable(std::shared_ptr<Context> context, std::unique_ptr<RowSource> source,
                     bool unicode) {
  auto* table = new Table(std::move(context), std::move(source), unicode);
  table->AddRef();
  return table;
}

}  // namespace mapi_internal
