// The run around the walk: banner, options, connection settings, dump
// file, MAPI session, database, result lines and clean-up.
#include "tool/front_end.h"

#include <algorithm>
#include <cstring>

#include "foundation/secure_wipe.h"
#include "tool/command_line.h"
#include "tool/connection_settings.h"
#include "tool/console.h"

namespace {

constexpr char kBanner[] = "Quorrel Dazadevari Server Utility - Morvale.exe, Version 2.0";

// The server name read at the prompt: 199 characters at most; a longer
// answer is refused.
constexpr std::size_t kServerNameBytes = 200;

// Connections in the pool of the run's database object.
constexpr int kPoolSize = 5;

}  // namespace

FrontEnd::FrontEnd(std::FILE* in, std::FILE* out) : in_(in), out_(out) { std::memset(&texts_, 0, sizeof texts_); }

FrontEnd::~FrontEnd() {
  SecureWipe(settings_.connectionString, sizeof settings_.connectionString);
  SecureWipe(&texts_, sizeof texts_);
}

int FrontEnd::Main(int argc, char** argv) {
  settings_.connectionString[0] = '\0';
  Print(out_, "%s\n", kBanner);
  if (!ParseCommandLine(argc, argv, &settings_, out_)) return 1;

  if (!settings_.connectionStringGiven && !ReadConnectionSettings(&settings_)) {
    Print(out_, "Unable to open VEX Management database. Exiting.\n");
    return 0;
  }

  if (settings_.dump && settings_.dumpFileName != nullptr) {
    dumpFile_ = std::fopen(settings_.dumpFileName, "w");
    if (dumpFile_ == nullptr) {
      Print(out_, "%s could not be opened\n", settings_.dumpFileName);
      return 1;
    }
  }

  if (!OpenMapiSession()) return 0;

  if (settings_.update || settings_.dump) {
    const bool handled = Morvale();
    if (settings_.update && handled) Print(out_, "Update Handhelds Complete\n");
    if (!handled) Print(out_, "Error(s) encountered while dealing with Handheld Info\n");
  }

  CleanUp();
  Print(out_, "%s finished\n", argv[0]);
  return 0;
}

bool FrontEnd::OpenMapiSession() {
  IMAPITable* storesTable = nullptr;
  SRowSet* rows = nullptr;
  IExchangeManageStore* manageStore = nullptr;
  const bool result = OpenMapiObjects(&storesTable, &rows, &manageStore);
  FreeProws(rows);
  UlRelease(storesTable);
  UlRelease(manageStore);
  if (!result) CleanUp();
  return result;
}

bool FrontEnd::OpenMapiObjects(IMAPITable** storesTable, SRowSet** rows, IExchangeManageStore** manageStore) {
  MAPIINIT_0 init = {MAPI_INIT_VERSION, 0};
  HRESULT hr = MAPIInitialize(&init);
  if (FAILED(hr)) {
    Print(out_, "MAPIInitialize() failed (%08lx)\n", hr);
    return false;
  }
  mapiInitialized_ = true;

  Print(out_, "Attempting MAPILogon....\n");
  const ULONG flags = settings_.profileName != nullptr
                          ? MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION
                          : MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_LOGON_UI;
  hr = MAPILogonEx(0, const_cast<char*>(settings_.profileName), nullptr, flags, &session_);
  if (FAILED(hr)) {
    Print(out_, "MAPILogonEx() failed (%08lx)\n", hr);
    return false;
  }
  Print(out_, "MAPILogon Success.\n");

  hr = session_->GetMsgStoresTable(0, storesTable);
  if (FAILED(hr)) {
    Print(out_, "GetMsgStoresTable() failed (%08lx)\n", hr);
    return false;
  }
  SizedSPropTagArray(3, columns) = {3, {PR_DEFAULT_STORE, PR_ENTRYID, PR_DISPLAY_NAME}};
  hr = HrQueryAllRows(*storesTable, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows);
  if (FAILED(hr)) {
    Print(out_, "HrQueryAllRows() failed (%08lx)\n", hr);
    return false;
  }
  const SRow* defaultStore = nullptr;
  for (ULONG i = 0; i < (*rows)->cRows && defaultStore == nullptr; ++i) {
    const SRow& row = (*rows)->aRow[i];
    if (row.cValues >= 3 && row.lpProps[0].ulPropTag == PR_DEFAULT_STORE && row.lpProps[0].Value.b) {
      defaultStore = &row;
    }
  }
  if (defaultStore == nullptr) {
    Print(out_, "Could not find default message store for profile chosen.\n");
    return false;
  }
  const SBinary& entryId = defaultStore->lpProps[1].Value.bin;
  hr = session_->OpenMsgStore(0, entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), nullptr, MDB_WRITE, &store_);
  if (FAILED(hr)) {
    Print(out_, "OpenMsgStore() for this profile failed (%08lx)\n", hr);
    return false;
  }
  const SPropValue& name = defaultStore->lpProps[2];
  Print(out_, "Opening Default Message Store %s.\n", name.ulPropTag == PR_DISPLAY_NAME ? name.Value.lpszA : "");

  // Only a check that the store offers administration.
  hr = store_->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(manageStore));
  if (FAILED(hr)) {
    Print(out_, "QueryInterface() failed (%08lx)\n", hr);
    return false;
  }

  if ((settings_.dump || settings_.update) && !OpenDB()) {
    Print(out_, "OpenDB failed to open Database\n");
    return false;
  }

  hr = session_->OpenAddressBook(0, nullptr, 0, &addressBook_);
  if (FAILED(hr)) {
    Print(out_, "OpenAddressBook() failed (%08lx)\n", hr);
    return false;
  }
  void* list = nullptr;
  hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &list);
  if (FAILED(hr)) {
    Print(out_, "Failed to MAPIAllocateBuffer in Morvale. hResult: <%08lx>\n", hr);
    return false;
  }
  std::memset(list, 0, CbNewADRLIST(1));
  addressList_ = static_cast<ADRLIST*>(list);
  return true;
}

bool FrontEnd::OpenDB() {
  Print(out_, "Please Enter VEXName: -> ");
  std::fflush(out_);
  // The whole line is read, so that the rest of a longer one is not taken
  // for a second answer, and a name longer than the prompt takes is refused:
  // cut, it could name another server.
  serverName_.clear();
  for (int c = std::fgetc(in_); c != EOF && c != '\n'; c = std::fgetc(in_)) serverName_ += static_cast<char>(c);
  serverName_.resize(std::min(serverName_.size(), serverName_.find('\r')));
  const bool fits = serverName_.size() < kServerNameBytes;

  database_ = CreatePMDatabase();
  bool opened = false;
  if (database_ == nullptr) {
    Print(out_, "CreatePMDatabase() failed\n");
  } else if (!fits) {
    Print(out_, "Open() failed for %s\n", serverName_.c_str());
  } else {
    opened = database_->Open(0, 0, settings_.connectionString, kPoolSize, nullptr, serverName_.c_str(), false, true, 0,
                             nullptr, true, 0);
    if (!opened) Print(out_, "Open() failed for %s\n", serverName_.c_str());
  }
  // Nothing else needs the connection string, which may hold a password.
  SecureWipe(settings_.connectionString, sizeof settings_.connectionString);
  if (!opened) ReleaseDatabase();
  return opened;
}

void FrontEnd::ReleaseDatabase() {
  if (database_ == nullptr) return;
  ReleasePMDatabase(database_);
  database_ = nullptr;
}

void FrontEnd::CleanUp() {
  // The users' device objects go before the MAPI session they may use.
  ReleaseDatabase();
  if (addressList_ != nullptr) {
    MAPIFreeBuffer(addressList_->aEntries[0].rgPropVals);
    MAPIFreeBuffer(addressList_);
    addressList_ = nullptr;
  }
  UlRelease(addressBook_);
  addressBook_ = nullptr;
  UlRelease(store_);
  store_ = nullptr;
  UlRelease(session_);
  session_ = nullptr;
  if (dumpFile_ != nullptr) {
    std::fclose(dumpFile_);
    dumpFile_ = nullptr;
  }
  if (mapiInitialized_) {
    MAPIUninitialize();
    mapiInitialized_ = false;
  }
}
