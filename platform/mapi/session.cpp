// MAPIInitialize, MAPIUninitialize, MAPILogonEx and the session object.
#include <atomic>
#include <memory>
#include <string>

#include "platform/mapi/address_book.h"
#include "platform/mapi/entry_id.h"
#include "platform/mapi/object_base.h"
#include "platform/mapi/profile_directory.h"
#include "platform/mapi/store.h"
#include "platform/mapi/text.h"

namespace mapi_internal {
namespace {

std::atomic<LONG> initializations{0};

class Session final : public MapiObject<IMAPISession> {
 public:
  explicit Session(std::shared_ptr<Context> context) : MapiObject(std::move(context)) {}

  HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override {
    auto hold = Enter();
    return LastError(hResult, ulFlags, lppMAPIError);
  }

  HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPISession::GetMsgStoresTable")) return hr;
    if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if ((ulFlags & ~MAPI_UNICODE) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    *lppTable = NewTable(context_, NewStoresTableSource(context_), (ulFlags & MAPI_UNICODE) != 0);
    return S_OK;
  }

  HRESULT OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                       ULONG ulFlags, LPMDB* lppMDB) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPISession::OpenMsgStore")) return hr;
    if (lppMDB == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppMDB = nullptr;
    constexpr ULONG kKnown = MDB_NO_DIALOG | MDB_WRITE | MDB_TEMPORARY | MDB_NO_MAIL | MDB_ONLINE |
                             MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS;
    if ((ulFlags & ~kKnown) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    if (FAILED(CheckInterface<IMsgStore>(lpInterface))) {
      return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "a store is an IMsgStore");
    }
    ParsedEntryId entry;
    HRESULT hr = ParseEntryId(lpEntryID, cbEntryID, &entry);
    if (SUCCEEDED(hr) && entry.kind != ParsedEntryId::Kind::kStore) hr = MAPI_E_INVALID_ENTRYID;
    if (FAILED(hr)) return Fail(hr, "not a store's entry identifier");
    StoreInfo store;
    Failure failure;
    hr = LoadStoreByName(*context_->db, entry.name, &store, &failure);
    if (FAILED(hr)) return Fail(failure);
    store.writable = (ulFlags & (MDB_WRITE | MAPI_BEST_ACCESS)) != 0;
    *lppMDB = NewMsgStore(context_, std::move(store));
    return S_OK;
  }

  HRESULT OpenAddressBook(ULONG_PTR, LPCIID lpInterface, ULONG ulFlags,
                          LPADRBOOK* lppAdrBook) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPISession::OpenAddressBook")) return hr;
    if (lppAdrBook == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppAdrBook = nullptr;
    if ((ulFlags & ~(AB_NO_DIALOG | MAPI_DEFERRED_ERRORS)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    if (FAILED(CheckInterface<IAddrBook>(lpInterface))) {
      return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "the address book is an IAddrBook");
    }
    *lppAdrBook = NewAddrBook(context_);
    return S_OK;
  }
};

}  // namespace
}  // namespace mapi_internal

HRESULT MAPIInitialize(LPVOID lpMapiInit) {
  if (const HRESULT hr = mapi_internal::InjectedFailure("MAPIInitialize")) return hr;
  if (lpMapiInit != nullptr) {
    const auto* init = static_cast<const MAPIINIT_0*>(lpMapiInit);
    if (init->ulVersion != MAPI_INIT_VERSION) return MAPI_E_VERSION;
    if ((init->ulFlags & ~(MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NO_COINIT | MAPI_NT_SERVICE)) != 0) {
      return MAPI_E_UNKNOWN_FLAGS;
    }
  }
  mapi_internal::initializations.fetch_add(1);
  return S_OK;
}

void MAPIUninitialize() {
  LONG count = mapi_internal::initializations.load();
  while (count > 0 && !mapi_internal::initializations.compare_exchange_weak(count, count - 1)) {
  }
}

HRESULT MAPILogonEx(ULONG_PTR, LPTSTR lpszProfileName, LPTSTR, ULONG flFlags,
                    LPMAPISESSION* lppSession) {
  using namespace mapi_internal;
  if (const HRESULT hr = InjectedFailure("MAPILogonEx")) return hr;
  if (lppSession == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppSession = nullptr;
  if (initializations.load() <= 0) return MAPI_E_NOT_INITIALIZED;
  constexpr ULONG kKnown = MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS |
                           MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED | MAPI_USE_DEFAULT |
                           MAPI_FORCE_DOWNLOAD | MAPI_SERVICE_UI_ALWAYS | MAPI_NO_MAIL |
                           MAPI_PASSWORD_UI | MAPI_UNICODE;
  if ((flFlags & ~kKnown) != 0) return MAPI_E_UNKNOWN_FLAGS;

  std::string name;
  if (lpszProfileName != nullptr) {
    name = (flFlags & MAPI_UNICODE) != 0
               ? Utf8FromWide(reinterpret_cast<const wchar_t*>(lpszProfileName))
               : Utf8FromAnsi(lpszProfileName);
  }
  if (name.empty()) name = mapi_profile::DefaultProfileName();
  std::string path;
  if (!mapi_profile::ProfilePath(name, &path)) return MAPI_E_LOGON_FAILED;

  auto context = std::make_shared<Context>();
  context->path = path;
  Failure failure;
  if (FAILED(Database::Open(path, false, &context->db, &failure)) ||
      FAILED(context->db->CheckProfile(&failure))) {
    return MAPI_E_LOGON_FAILED;
  }
  auto* session = new Session(std::move(context));
  session->AddRef();
  *lppSession = session;
  return S_OK;
}
