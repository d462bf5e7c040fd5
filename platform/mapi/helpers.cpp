// HrQueryAllRows, HrGetOneProp, HrSetOneProp and UlRelease: plain functions
// over the interfaces, so they work with any object that implements them.
#include <cstring>
#include <vector>

#include "platform/mapi/failure_injection.h"
#include "platform/mapi/mapi.h"

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                       LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows) {
  if (lppRows == nullptr || lpTable == nullptr || crowsMax < 0) return MAPI_E_INVALID_PARAMETER;
  *lppRows = nullptr;
  if (const HRESULT hr = mapi_internal::InjectedFailure("HrQueryAllRows")) return hr;
  HRESULT hr = S_OK;
  if (lpPropTags != nullptr) hr = lpTable->SetColumns(lpPropTags, TBL_BATCH);
  if (SUCCEEDED(hr) && lpRestriction != nullptr) hr = lpTable->Restrict(lpRestriction, TBL_BATCH);
  if (SUCCEEDED(hr) && lpSortOrderSet != nullptr) hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH);
  if (SUCCEEDED(hr)) hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
  if (FAILED(hr)) return hr;

  // Batches are gathered until the table has no more rows; the rows' values
  // move into the one set handed out.
  constexpr LONG kBatch = 0x7FFFFFFF;
  std::vector<SRow> rows;
  for (;;) {
    LPSRowSet batch = nullptr;
    hr = lpTable->QueryRows(kBatch, 0, &batch);
    if (FAILED(hr)) break;
    const ULONG count = batch->cRows;
    rows.insert(rows.end(), batch->aRow, batch->aRow + count);
    MAPIFreeBuffer(batch);  // the set only: its rows' values are kept
    if (count == 0) break;
    if (crowsMax != 0 && rows.size() > static_cast<std::size_t>(crowsMax)) {
      hr = MAPI_E_TABLE_TOO_BIG;
      break;
    }
  }
  void* block = nullptr;
  if (SUCCEEDED(hr) &&
      MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(rows.empty() ? 1 : rows.size())), &block) !=
          S_OK) {
    hr = MAPI_E_NOT_ENOUGH_MEMORY;
  }
  if (FAILED(hr)) {
    for (SRow& row : rows) MAPIFreeBuffer(row.lpProps);
    return hr;
  }
  auto* set = static_cast<SRowSet*>(block);
  set->cRows = static_cast<ULONG>(rows.size());
  if (!rows.empty()) std::memcpy(set->aRow, rows.data(), rows.size() * sizeof(SRow));
  *lppRows = set;
  return S_OK;
}

HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
  if (lpMapiProp == nullptr || lppProp == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppProp = nullptr;
  SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
  if (FAILED(hr)) return hr;
  if (count != 1 || values == nullptr) {
    MAPIFreeBuffer(values);
    return MAPI_E_CALL_FAILED;
  }
  if (PROP_TYPE(values->ulPropTag) == PT_ERROR) {
    hr = values->Value.err;
    MAPIFreeBuffer(values);
    return hr;
  }
  *lppProp = values;
  return S_OK;
}

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
  if (lpMapiProp == nullptr || lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
  LPSPropProblemArray problems = nullptr;
  HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
  if (SUCCEEDED(hr) && problems != nullptr && problems->cProblem > 0) hr = problems->aProblem[0].scode;
  MAPIFreeBuffer(problems);
  return hr;
}

ULONG UlRelease(LPVOID lpUnknown) {
  return lpUnknown != nullptr ? static_cast<IUnknown*>(lpUnknown)->Release() : 0;
}
