#include "device/mailbox.h"

#include <strings.h>

#include <memory>
#include <new>

#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "platform/com/com_ptr.h"

namespace {

constexpr unsigned kEventHierarchyTableFailed = 0x6FFF9CD5u;  // message 40149
constexpr unsigned kEventSeekRowFailed = 0x6FFF9CD6u;         // message 40150
constexpr unsigned kEventSetColumnsFailed = 0x6FFF9CD7u;      // message 40151
constexpr unsigned kEventQueryRowsFailed = 0x6FFF9CD8u;       // message 40152
constexpr unsigned kEventFolderFound = 0x6FFF9CD9u;           // message 40153
constexpr unsigned kEventFolderOpenFailed = 0x6FFF9CDAu;      // message 40154
constexpr unsigned kEventFolderOpened = 0x6FFF9CDBu;          // message 40155
constexpr unsigned kEventCreateFolderFailed = 0x6FFF9CDCu;    // message 40156
constexpr unsigned kEventFolderCreated = 0x6FFF9CDDu;         // message 40157
constexpr unsigned kEventMapiError = 0x6FFF9F10u;             // message 40720

struct RowsFree {
  void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using OwnedRows = std::unique_ptr<SRowSet, RowsFree>;

struct BufferFree {
  void operator()(void* buffer) const { MAPIFreeBuffer(buffer); }
};
using OwnedValue = std::unique_ptr<SPropValue, BufferFree>;

void LogResult(unsigned event, HRESULT result) {
  LogEvent(4, event, LoadResString(event), static_cast<unsigned>(result));
}

// Opens entry `entryId` (none: the root) of `container`, a store or a
// folder, as a folder into `*folder`; MAPI_E_CORRUPT_DATA when it is not one.
template <class Container>
HRESULT OpenAsFolder(Container* container, ULONG size, LPENTRYID entryId, ULONG flags, IMAPIFolder** folder) {
  ULONG type = 0;
  IUnknown* object = nullptr;
  const HRESULT hr = container->OpenEntry(size, entryId, nullptr, flags, &type, &object);
  if (FAILED(hr)) {
    LogLastMapiError(container, hr);
    return hr;
  }
  if (object == nullptr || type != MAPI_FOLDER) {
    UlRelease(object);
    return MAPI_E_CORRUPT_DATA;
  }
  *folder = static_cast<IMAPIFolder*>(object);
  return S_OK;
}

// Opens entry `entryId` of `parent` for writing as a folder.
HRESULT OpenFolderEntry(IMAPIFolder* parent, const SBinary& entryId, IMAPIFolder** folder) {
  const HRESULT hr =
      OpenAsFolder(parent, entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), MAPI_MODIFY, folder);
  if (FAILED(hr)) LogResult(kEventFolderOpenFailed, hr);
  return hr;
}

// Makes the folder `name` under `parent`, saved, into `*folder`.
HRESULT CreateFolder(IMAPIFolder* parent, const char* name, IMAPIFolder** folder) {
  _com_ptr_t<IMAPIFolder> created;
  HRESULT hr =
      parent->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr, OPEN_IF_EXISTS, &created);
  if (FAILED(hr)) {
    LogResult(kEventCreateFolderFailed, hr);
    hr = parent->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr, 0, &created);
    if (FAILED(hr) || !created) {
      LogLastMapiError(parent, hr);
      return FAILED(hr) ? hr : MAPI_E_CALL_FAILED;
    }
  }
  hr = created->SaveChanges(KEEP_OPEN_READWRITE);
  if (hr == MAPI_E_OBJECT_CHANGED) {
    // Someone else saved it meanwhile: force this save, then work on a
    // fresh handle, since a forced save leaves this one read-only.
    LPSPropValue raw = nullptr;
    hr = HrGetOneProp(created, PR_ENTRYID, &raw);
    OwnedValue entryId(raw);
    if (FAILED(hr)) {
      LogLastMapiError(created.GetInterfacePtr(), hr);
      return hr;
    }
    created->SaveChanges(FORCE_SAVE);
    created = nullptr;
    hr = OpenFolderEntry(parent, entryId->Value.bin, &created);
    if (FAILED(hr)) return hr;
  } else if (FAILED(hr)) {
    LogLastMapiError(created.GetInterfacePtr(), hr);
    return hr;
  }
  LogEvent(4, kEventFolderCreated, LoadResString(kEventFolderCreated), name);
  *folder = created.Detach();
  return S_OK;
}

}  // namespace

void LogAndFreeMapiError(HRESULT fetchResult, MAPIERROR** error) {
  if (error == nullptr || *error == nullptr) return;
  if (fetchResult == S_OK) {
    const MAPIERROR& e = **error;
    LogEvent(4, kEventMapiError, LoadResString(kEventMapiError), e.lpszError != nullptr ? e.lpszError : "N/A",
             static_cast<unsigned>(e.ulLowLevelError), e.lpszComponent != nullptr ? e.lpszComponent : "N/A",
             static_cast<unsigned>(e.ulContext));
  }
  MAPIFreeBuffer(*error);
  *error = nullptr;
}

HRESULT OpenRootFolder(IMsgStore* store, IMAPIFolder** root) {
  if (store == nullptr || root == nullptr) return E_INVALIDARG;
  *root = nullptr;
  return OpenAsFolder(store, 0, nullptr, MAPI_BEST_ACCESS, root);
}

HRESULT OpenOrCreateFolder(IMAPIFolder* parent, const char* name, bool create, IMAPIFolder** folder) {
  if (parent == nullptr || name == nullptr || folder == nullptr) return E_INVALIDARG;
  *folder = nullptr;
  try {
    _com_ptr_t<IMAPITable> table;
    HRESULT hr = parent->GetHierarchyTable(0, &table);
    if (FAILED(hr)) {
      LogResult(kEventHierarchyTableFailed, hr);
      LogLastMapiError(parent, hr);
      return hr;
    }
    hr = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    if (FAILED(hr)) {
      LogResult(kEventSeekRowFailed, hr);
      LogLastMapiError(table.GetInterfacePtr(), hr);
      return hr;
    }
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE}};
    hr = table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0);
    if (FAILED(hr)) {
      LogResult(kEventSetColumnsFailed, hr);
      LogLastMapiError(table.GetInterfacePtr(), hr);
      return hr;
    }
    for (;;) {
      LPSRowSet raw = nullptr;
      hr = table->QueryRows(1, 0, &raw);
      OwnedRows rows(raw);
      if (FAILED(hr)) {
        LogResult(kEventQueryRowsFailed, hr);
        LogLastMapiError(table.GetInterfacePtr(), hr);
        return hr;
      }
      if (rows == nullptr || rows->cRows == 0) break;
      const SRow& row = rows->aRow[0];
      if (row.cValues < 3) continue;
      const SPropValue* values = row.lpProps;
      if (values[2].ulPropTag != PR_OBJECT_TYPE || values[2].Value.l != static_cast<LONG>(MAPI_FOLDER) ||
          values[1].ulPropTag != PR_DISPLAY_NAME_A || values[1].Value.lpszA == nullptr ||
          strcasecmp(values[1].Value.lpszA, name) != 0) {
        continue;
      }
      LogEvent(4, kEventFolderFound, LoadResString(kEventFolderFound), name);
      if (values[0].ulPropTag != PR_ENTRYID) return MAPI_E_CORRUPT_DATA;
      hr = OpenFolderEntry(parent, values[0].Value.bin, folder);
      if (FAILED(hr)) return hr;
      LogEvent(4, kEventFolderOpened, LoadResString(kEventFolderOpened), name);
      return S_OK;
    }
    if (!create) return MAPI_E_NOT_FOUND;
    return CreateFolder(parent, name, folder);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT DeleteFolderByName(IMAPIFolder* parent, const char* name) {
  if (parent == nullptr) return E_FAIL;
  _com_ptr_t<IMAPIFolder> folder;
  HRESULT hr = OpenOrCreateFolder(parent, name, false, &folder);
  if (hr == MAPI_E_NOT_FOUND) return S_OK;
  if (FAILED(hr)) return hr;
  LPSPropValue raw = nullptr;
  hr = HrGetOneProp(folder, PR_ENTRYID, &raw);
  OwnedValue entryId(raw);
  folder = nullptr;
  if (FAILED(hr)) return hr;
  hr = parent->DeleteFolder(entryId->Value.bin.cb, reinterpret_cast<LPENTRYID>(entryId->Value.bin.lpb), 0, nullptr,
                            DEL_FOLDERS | DEL_MESSAGES);
  if (FAILED(hr)) LogLastMapiError(parent, hr);
  return hr;
}

HRESULT CreateMessageOfClass(IMAPIFolder* folder, const char* messageClass, std::vector<BYTE>* entryId,
                             IMessage** message) {
  if (folder == nullptr) return E_FAIL;
  if (entryId != nullptr) entryId->clear();
  if (message != nullptr) *message = nullptr;
  _com_ptr_t<IMessage> created;
  HRESULT hr = folder->CreateMessage(nullptr, 0, &created);
  if (FAILED(hr)) {
    LogLastMapiError(folder, hr);
    return hr;
  }
  if (messageClass != nullptr) {
    SPropValue value{};
    value.ulPropTag = PR_MESSAGE_CLASS_A;
    value.Value.lpszA = const_cast<char*>(messageClass);
    hr = HrSetOneProp(created, &value);
    if (FAILED(hr)) {
      LogLastMapiError(created.GetInterfacePtr(), hr);
      return hr;
    }
  }
  if (message != nullptr) {
    *message = created.Detach();
    return S_OK;
  }
  if (entryId == nullptr) return E_INVALIDARG;
  return SaveMessageAndGetEntryId(created, entryId);
}

HRESULT SaveMessageAndGetEntryId(IMessage* message, std::vector<BYTE>* entryId) {
  if (message == nullptr || entryId == nullptr) return E_INVALIDARG;
  entryId->clear();
  HRESULT hr = message->SaveChanges(FORCE_SAVE);
  if (FAILED(hr)) {
    LogLastMapiError(message, hr);
    return hr;
  }
  LPSPropValue raw = nullptr;
  hr = HrGetOneProp(message, PR_ENTRYID, &raw);
  OwnedValue value(raw);
  if (FAILED(hr)) {
    LogLastMapiError(message, hr);
    return hr;
  }
  try {
    entryId->assign(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
