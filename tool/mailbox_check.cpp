// The walk over the server's users: per user the mailbox check against the
// address book (-u), which hands what the address book says now to SetDNs,
// and the dump (-d).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/crt/printf.h"
#include "tool/console.h"
#include "tool/front_end.h"

namespace {

// The bits of the SetDNs change mask that stand for a UserConfig column;
// the home store is kept only in the cache.
constexpr std::uint8_t kColumnChanges = 1 | 2 | 4 | 16;

// Copies at most 511 characters of a narrow or wide address-book value and
// ends it; false when the value is longer.
template <typename Char>
bool CopyValue(Char (&to)[512], const Char* from) {
  const std::basic_string_view<Char> text = from != nullptr ? from : std::basic_string_view<Char>();
  const std::size_t length = std::min(text.size(), std::size(to) - 1);
  std::copy_n(text.data(), length, to);
  to[length] = Char();
  return text.size() < std::size(to);
}

// The text of a string property, of the width of the text it goes to.
const char* TextOf(const SPropValue& value, const char (&)[512]) { return value.Value.lpszA; }
const wchar_t* TextOf(const SPropValue& value, const wchar_t (&)[512]) { return value.Value.lpszW; }

// The row set of one QueryRows, freed when it goes.
struct RowSet {
  ~RowSet() { FreeProws(rows); }
  SRowSet* rows = nullptr;
};

}  // namespace

bool FrontEnd::Morvale() {
  Pager* pager = nullptr;
  if (!database_->Seek(1, &pager, 0, nullptr)) {
    Print(out_, "Failed Getting pagers with PMDatabase::Seek()\n");
    return false;
  }
  Print(out_, "Scanning handhelds....this may take a while...\n");
  bool result = true;
  while (pager != nullptr) {
    bool userHandled = true;
    if (settings_.update) userHandled = CheckUser(pager);
    if (settings_.dump) DumpUser(pager);
    EndUserTurn();
    if (!database_->Seek(2, &pager, 0, nullptr)) {
      Print(out_, "Morvale(): Failed Getting pagers with PMDatabase::Seek()\n");
      return false;
    }
    if (!userHandled) result = false;
  }
  return result;
}

void FrontEnd::EndUserTurn() {
  ADRENTRY& entry = addressList_->aEntries[0];
  MAPIFreeBuffer(entry.rgPropVals);
  std::memset(addressList_, 0, CbNewADRLIST(1));
  // Nothing of one user may show in the next user's lines.
  std::memset(&texts_, 0, sizeof texts_);
}

bool FrontEnd::CheckUser(Pager* pager) {
  UserTexts& t = texts_;
  database_->GetDisplayNameW(pager, t.storedDisplayName, kTextChars);
  database_->GetServerDN(pager, t.storedServerDN, kTextChars);
  database_->GetMailboxDN(pager, t.storedMailboxDN, kTextChars);
  database_->GetEmailAddress(pager, t.storedEmailAddress, kTextChars);
  const std::wstring name = Showable(t.storedDisplayName);

  // An X.500 name, or one in brackets, is resolved as it stands; an
  // address by the display name, or else as an Exchange address.
  const char* mailboxDN = t.storedMailboxDN;
  if (std::strpbrk(mailboxDN, "[]") != nullptr || std::strchr(mailboxDN, '@') == nullptr) {
    CopyValue(t.nameToResolve, mailboxDN);
  } else if (t.storedDisplayName[0] != L'\0') {
    crt::snprintf(t.nameToResolve, kTextChars - 1, "%S", name.c_str());
  } else {
    crt::snprintf(t.nameToResolve, kTextChars - 1, "[EX:%s]", mailboxDN);
  }
  t.nameToResolve[kTextChars - 1] = '\0';
  if (t.storedDisplayName[0] == L'\0' || t.storedServerDN[0] == '\0' || t.nameToResolve[0] == '\0') {
    Print(out_, "Failed to retrieve display name or server dn for current pager object.\n");
    return false;
  }

  ADRENTRY& entry = addressList_->aEntries[0];
  void* values = nullptr;
  HRESULT hr = MAPIAllocateBuffer(3 * sizeof(SPropValue), &values);
  if (FAILED(hr)) {
    Print(out_, "Failed to MAPIAllocateBuffer in Morvale. User:%S hResult: <%08lx>\n", name.c_str(), hr);
    return false;
  }
  std::memset(values, 0, 3 * sizeof(SPropValue));
  entry.rgPropVals = static_cast<SPropValue*>(values);
  void* resolve = nullptr;
  void* addressType = nullptr;
  hr = MAPIAllocateMore(kTextChars, values, &resolve);
  if (SUCCEEDED(hr)) hr = MAPIAllocateMore(3, values, &addressType);
  if (FAILED(hr)) {
    Print(out_, "Failed to MAPIAllocateBuffer in Morvale. hResult: <%08lx>\n", hr);
    return false;
  }
  std::memcpy(resolve, t.nameToResolve, kTextChars);
  std::memcpy(addressType, "EX", 3);
  entry.rgPropVals[0].ulPropTag = PR_DISPLAY_NAME;
  entry.rgPropVals[0].Value.lpszA = static_cast<char*>(resolve);
  entry.rgPropVals[1].ulPropTag = PR_ADDRTYPE;
  entry.rgPropVals[1].Value.lpszA = static_cast<char*>(addressType);
  addressList_->cEntries = 1;
  entry.ulReserved1 = 0;
  entry.cValues = 2;

  hr = addressBook_->ResolveName(0, 0, nullptr, addressList_);
  if (hr == MAPI_E_AMBIGUOUS_RECIP) {
    if (!SearchContainers(&hr)) {
      Print(out_, "Failed to Resolve Name in Morvale. User:%S hResult: <%08lx>\n", name.c_str(), hr);
      return false;
    }
  } else if (FAILED(hr)) {
    Print(out_, "Failed to Resolve Name in Morvale. User:%S hResult: <%08lx>\n", name.c_str(), hr);
    return false;
  }

  const SPropValue* entryId = nullptr;
  for (ULONG i = 0; i < entry.cValues && entryId == nullptr; ++i) {
    if (entry.rgPropVals[i].ulPropTag == PR_ENTRYID) entryId = &entry.rgPropVals[i];
  }
  if (entryId == nullptr) return true;  // nothing to compare with

  _com_ptr_t<IUnknown> opened;
  ULONG objectType = 0;
  hr = addressBook_->OpenEntry(entryId->Value.bin.cb, reinterpret_cast<LPENTRYID>(entryId->Value.bin.lpb), nullptr,
                               MAPI_BEST_ACCESS, &objectType, &opened);
  if (FAILED(hr)) {
    Print(out_, "Could not open the recipient. User:%S hResult: <%08lx>\n", name.c_str(), hr);
    return false;
  }
  IMailUser* mailUser = static_cast<IMailUser*>(opened.GetInterfacePtr());
  SizedSPropTagArray(4, columns) = {4, {PR_DISPLAY_NAME_W, PR_EMS_AB_HOME_MDB, PR_EMAIL_ADDRESS, PR_SMTP_ADDRESS}};
  ULONG count = 0;
  SPropValue* properties = nullptr;
  hr = mailUser->GetProps(reinterpret_cast<LPSPropTagArray>(&columns), 0, &count, &properties);
  if (FAILED(hr)) {
    Print(out_, "Could not get properties for the mailbox selected. User:%S hResult: <%08lx>\n", name.c_str(), hr);
    return false;
  }
  const bool complete = ReadMailUser(properties, count);
  MAPIFreeBuffer(properties);
  opened = nullptr;
  if (!complete) return false;

  std::uint8_t changes = 0;
  HRESULT setResult = 0;
  if (!database_->SetDNs(pager, t.currentMailboxDN, t.currentServerDN, t.currentDisplayName, t.currentMailboxDN,
                         t.currentSmtpAddress, &changes, &setResult, false, nullptr)) {
    Print(out_, "Morvale():Failed to set Server Name. User:%S, hResult: <%x>\n", name.c_str(), setResult);
    return false;
  }
  // A change of the cached home store alone writes nothing, and is not a
  // change to report.
  if ((changes & kColumnChanges) != 0) {
    const std::wstring current = Showable(t.currentDisplayName);
    Print(out_,
          "\nChange detected for: \nCurrent DisplayName: %S\nPrevious DisplayName: %S\nCurrent ServerDN: "
          "%s\nPrevious ServerDN %s\nCurrent SMTP address: %s\nPrevious SMTP address %s\n",
          current.c_str(), name.c_str(), t.currentServerDN, t.storedServerDN, t.currentSmtpAddress,
          t.storedEmailAddress);
  }
  return true;
}

bool FrontEnd::ReadMailUser(const SPropValue* values, ULONG count) {
  UserTexts& t = texts_;
  const std::wstring name = Showable(t.storedDisplayName);
  // Takes value `index` into `to`; false, its line printed, when it is
  // missing or longer than `to` takes (cut, it would be written to the
  // database as another value).
  const auto take = [&](auto& to, ULONG index, ULONG tag, const char* line) {
    if (index < count && values[index].ulPropTag == tag && CopyValue(to, TextOf(values[index], to))) return true;
    Print(out_, line, name.c_str());
    return false;
  };
  return take(t.currentServerDN, 1, PR_EMS_AB_HOME_MDB,
              "Morvale():Could not find server distinguished name. User:%S\n") &&
         take(t.currentMailboxDN, 2, PR_EMAIL_ADDRESS, "Could not get email address for this mailbox. User:%S\n") &&
         take(t.currentDisplayName, 0, PR_DISPLAY_NAME_W,
              "Could not get display name for this mailbox. User:%S\n") &&
         take(t.currentSmtpAddress, 3, PR_SMTP_ADDRESS,
              "Could not get SMTP email address for this mailbox. User:%S\n");
}

bool FrontEnd::SearchContainers(HRESULT* result) {
  ADRENTRY& entry = addressList_->aEntries[0];
  SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_EMS_AB_HOME_MDB}};
  const LPSPropTagArray columnList = reinterpret_cast<LPSPropTagArray>(&columns);
  bool found = false;
  HRESULT& hr = *result;

  _com_ptr_t<IUnknown> rootObject;
  ULONG objectType = 0;
  hr = addressBook_->OpenEntry(0, nullptr, nullptr, 0, &objectType, &rootObject);
  if (FAILED(hr)) return false;
  IABContainer* root = static_cast<IABContainer*>(rootObject.GetInterfacePtr());
  _com_ptr_t<IMAPITable> hierarchy;
  hr = root->GetHierarchyTable(0, &hierarchy);
  if (FAILED(hr)) return false;
  hr = hierarchy->SetColumns(columnList, 0);
  if (FAILED(hr)) return false;

  SPropValue anr{};
  anr.ulPropTag = PR_ANR;
  anr.Value.lpszA = texts_.storedMailboxDN;
  SRestriction restriction{};
  restriction.rt = RES_PROPERTY;
  restriction.res.resProperty.relop = RELOP_EQ;
  restriction.res.resProperty.ulPropTag = PR_ANR;
  restriction.res.resProperty.lpProp = &anr;

  for (;;) {
    RowSet containerRow;
    hr = hierarchy->QueryRows(1, 0, &containerRow.rows);
    if (FAILED(hr) || containerRow.rows->cRows == 0) break;
    const SRow& row = containerRow.rows->aRow[0];
    if (row.cValues < 1 || row.lpProps[0].ulPropTag != PR_ENTRYID) continue;
    _com_ptr_t<IUnknown> containerObject;
    const SBinary& id = row.lpProps[0].Value.bin;
    hr = root->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &objectType, &containerObject);
    if (FAILED(hr)) break;
    if (objectType != MAPI_ABCONT) continue;
    IABContainer* container = static_cast<IABContainer*>(containerObject.GetInterfacePtr());
    _com_ptr_t<IMAPITable> contents;
    hr = container->GetContentsTable(0, &contents);
    if (FAILED(hr)) break;
    hr = contents->SetColumns(columnList, 0);
    if (SUCCEEDED(hr)) hr = contents->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    if (SUCCEEDED(hr)) hr = contents->Restrict(&restriction, 0);
    if (FAILED(hr)) break;
    for (;;) {
      RowSet match;
      hr = contents->QueryRows(1, 0, &match.rows);
      if (FAILED(hr) || match.rows->cRows == 0) break;
      const SRow& user = match.rows->aRow[0];
      if (user.cValues < 2 || user.lpProps[1].ulPropTag != PR_EMS_AB_HOME_MDB ||
          user.lpProps[0].ulPropTag != PR_ENTRYID) {
        continue;
      }
      // The last match wins.
      const SBinary& userId = user.lpProps[0].Value.bin;
      void* copy = nullptr;
      hr = MAPIAllocateMore(userId.cb, entry.rgPropVals, &copy);
      if (FAILED(hr)) break;
      std::memcpy(copy, userId.lpb, userId.cb);
      entry.rgPropVals[2].ulPropTag = PR_ENTRYID;
      entry.rgPropVals[2].Value.bin.cb = userId.cb;
      entry.rgPropVals[2].Value.bin.lpb = static_cast<BYTE*>(copy);
      entry.cValues = 3;
      found = true;
    }
    if (FAILED(hr)) break;
  }
  return found;
}

void FrontEnd::DumpUser(Pager* pager) {
  char* text = nullptr;
  int length = 0;
  database_->PagerDump(pager, &text, &length);
  Print(dumpFile_ != nullptr ? dumpFile_ : out_, "%s", text != nullptr ? text : "");
  std::free(text);
}
