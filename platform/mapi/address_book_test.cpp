#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/session_fixture_for_tests.h"
#include "platform/win32/codepage.h"

namespace morvale::testing {
namespace {

constexpr char kJohn[] = "/o=Quillon/ou=First Site/cn=Recipients/cn=jsmith";
constexpr char kMail1[] =
    "/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";

class AddressBookTest : public MapiSessionTest {
 protected:
  void SetUp() override {
    MapiSessionTest::SetUp();
    SetAnsiCodePageForTesting(CP_UTF8);  // the narrow names below are UTF-8
    session_ = BuildAndLogOn(ReadTextFile(std::string(MORVALE_MAPI_TESTDATA) + "/organisation.txt"));
    IAddrBook* book = nullptr;
    ASSERT_EQ(session_->OpenAddressBook(0, nullptr, 0, &book), S_OK);
    book_.Attach(book);
  }

  // A one-entry address list as the utility's front end builds it: the list
  // in one buffer, the entry's values in another, their texts linked to it.
  static MapiBuffer<ADRLIST> OneEntry(const char* name) {
    void* block = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &block), S_OK);
    std::memset(block, 0, CbNewADRLIST(1));
    MapiBuffer<ADRLIST> list(static_cast<ADRLIST*>(block));
    void* values = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(3 * sizeof(SPropValue), &values), S_OK);
    std::memset(values, 0, 3 * sizeof(SPropValue));
    auto* props = static_cast<SPropValue*>(values);
    void* text = nullptr;
    EXPECT_EQ(MAPIAllocateMore(512, values, &text), S_OK);
    std::strncpy(static_cast<char*>(text), name, 511);
    props[0] = TextProp(PR_DISPLAY_NAME, static_cast<char*>(text));
    EXPECT_EQ(MAPIAllocateMore(3, values, &text), S_OK);
    std::memcpy(text, "EX", 3);
    props[1] = TextProp(PR_ADDRTYPE, static_cast<char*>(text));
    list->cEntries = 1;
    list->aEntries[0] = {0, 2, props};
    return list;
  }

  struct ListFree {
    void operator()(ADRLIST* list) const { FreePadrlist(list); }
  };

  static const SPropValue* Find(const ADRENTRY& entry, ULONG tag) {
    for (ULONG i = 0; i < entry.cValues; ++i) {
      if (entry.rgPropVals[i].ulPropTag == tag) return &entry.rgPropVals[i];
    }
    return nullptr;
  }

  // Resolves `name`; the e-mail address it resolved to, or nothing.
  HRESULT Resolve(const char* name, std::string* email) {
    auto list = OneEntry(name);
    const HRESULT hr = book_->ResolveName(0, 0, nullptr, list.get());
    if (const SPropValue* address = Find(list->aEntries[0], PR_EMAIL_ADDRESS)) {
      *email = address->Value.lpszA;
    }
    MAPIFreeBuffer(list->aEntries[0].rgPropVals);
    return hr;
  }

  _com_ptr_t<IUnknown> Open(IAddrBook* book, const SBinary& id, ULONG* type, ULONG flags = MAPI_BEST_ACCESS) {
    IUnknown* object = nullptr;
    EXPECT_EQ(book->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, flags, type, &object),
              S_OK);
    return _com_ptr_t<IUnknown>(object, false);
  }

  _com_ptr_t<IABContainer> RootContainer() {
    ULONG type = 0;
    IUnknown* object = nullptr;
    EXPECT_EQ(book_->OpenEntry(0, nullptr, nullptr, 0, &type, &object), S_OK);
    EXPECT_EQ(type, MAPI_ABCONT);
    return _com_ptr_t<IABContainer>(static_cast<IABContainer*>(object), false);
  }

  void TearDown() override {
    book_ = nullptr;
    session_ = nullptr;
    SetAnsiCodePageForTesting(0);
    MapiSessionTest::TearDown();
  }

  _com_ptr_t<IMAPISession> session_;
  _com_ptr_t<IAddrBook> book_;
};

TEST_F(AddressBookTest, ResolveNameMatchesNamesAndAddressesWithoutRegardToCase) {
  const struct {
    const char* name;
    HRESULT result;
    const char* email;
  } cases[] = {
      {"John Smith", S_OK, kJohn},
      {"  jOHN sMITH ", S_OK, kJohn},
      {"jsmith", S_OK, kJohn},
      {"/O=QUILLON/ou=First Site/cn=Recipients/cn=JSMITH", S_OK, kJohn},
      {"JOHN.SMITH@quillon.example", S_OK, kJohn},
      {"[EX:/o=Quillon/ou=First Site/cn=Recipients/cn=jsmith]", S_OK, kJohn},
      {"[ex: /o=quillon/ou=first site/cn=recipients/cn=clee ]", S_OK,
       "/o=Quillon/ou=First Site/cn=Recipients/cn=clee"},
      {"zoë müller", S_OK, "/o=Quillon/ou=First Site/cn=Recipients/cn=zmuller"},
      {"Chris Lee", MAPI_E_AMBIGUOUS_RECIP, nullptr},
      {"John", MAPI_E_NOT_FOUND, nullptr},
      {"[EX:john.smith@quillon.example]", MAPI_E_NOT_FOUND, nullptr},  // EX is the e-mail address only
      {"smtp:jsmith@quillon.example", MAPI_E_NOT_FOUND, nullptr},
      {"", MAPI_E_NOT_FOUND, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string email;
    EXPECT_EQ(Resolve(c.name, &email), c.result);
    EXPECT_EQ(email, c.email != nullptr ? c.email : "");
  }
}

// What the utility does per user: resolve, open the mail user by the entry
// identifier, read its four columns.
TEST_F(AddressBookTest, AResolvedEntryOpensAsAMailUserWithTheColumnsTheUtilityReads) {
  auto list = OneEntry(kJohn);
  SPropValue* old = list->aEntries[0].rgPropVals;
  SPropValue recipient = LongProp(PR_RECIPIENT_TYPE, MAPI_TO);
  // An entry value of another identifier survives the resolution.
  std::memcpy(&old[2], &recipient, sizeof recipient);
  list->aEntries[0].cValues = 3;
  ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
  ADRENTRY& entry = list->aEntries[0];
  EXPECT_NE(entry.rgPropVals, old);  // the old array was freed and replaced
  ASSERT_NE(Find(entry, PR_RECIPIENT_TYPE), nullptr);
  EXPECT_STREQ(Find(entry, PR_DISPLAY_NAME)->Value.lpszA, "John Smith");
  EXPECT_STREQ(Find(entry, PR_ADDRTYPE)->Value.lpszA, "EX");
  EXPECT_EQ(Find(entry, PR_SEND_RICH_INFO)->Value.b, 1);
  const SPropValue* id = Find(entry, PR_ENTRYID);
  ASSERT_NE(id, nullptr);

  ULONG type = 0;
  auto object = Open(book_, id->Value.bin, &type);
  ASSERT_EQ(type, MAPI_MAILUSER);
  auto* user = static_cast<IMailUser*>(object.GetInterfacePtr());
  SizedSPropTagArray(4, columns) = {
      4, {PR_DISPLAY_NAME_W, PR_EMS_AB_HOME_MDB, PR_EMAIL_ADDRESS, PR_SMTP_ADDRESS}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(user->GetProps(reinterpret_cast<LPSPropTagArray>(&columns), 0, &count, &values), S_OK);
  MapiBuffer<SPropValue> owned(values);
  EXPECT_STREQ(values[0].Value.lpszW, L"John Smith");
  EXPECT_STREQ(values[1].Value.lpszA, kMail1);
  EXPECT_STREQ(values[2].Value.lpszA, kJohn);
  EXPECT_STREQ(values[3].Value.lpszA, "john.smith@quillon.example");
  auto proxies = Get(user, PR_EMS_AB_PROXY_ADDRESSES);
  ASSERT_EQ(proxies->Value.MVszA.cValues, 3u);
  EXPECT_STREQ(proxies->Value.MVszA.lppszA[1], "smtp:jsmith@quillon.example");
  EXPECT_EQ(Set(user, LongProp(PR_DISPLAY_TYPE, 1)), MAPI_E_NO_ACCESS);
  IUnknown* writable = nullptr;
  EXPECT_EQ(book_->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr,
                             MAPI_MODIFY, &type, &writable),
            MAPI_E_NO_ACCESS);
  FreePadrlist(list.release());
}

TEST_F(AddressBookTest, AMailUserWithoutAnSmtpAddressReportsItMissing) {
  auto list = OneEntry("Conference Room");
  ASSERT_EQ(book_->ResolveName(0, MAPI_UNICODE, nullptr, list.get()), S_OK);
  ADRENTRY& entry = list->aEntries[0];
  EXPECT_STREQ(Find(entry, PR_DISPLAY_NAME_W)->Value.lpszW, L"Conference Room");
  ULONG type = 0;
  auto object = Open(book_, Find(entry, PR_ENTRYID)->Value.bin, &type);
  HRESULT error = S_OK;
  EXPECT_EQ(Get(static_cast<IMailUser*>(object.GetInterfacePtr()), PR_SMTP_ADDRESS, &error), nullptr);
  EXPECT_EQ(error, MAPI_E_NOT_FOUND);
  FreePadrlist(list.release());
}

// The utility's way out of an ambiguous name: the root's child containers,
// each restricted by PR_ANR to the stored address; the last match wins.
TEST_F(AddressBookTest, AnAmbiguousNameIsSettledThroughTheContainersAndAnAnrRestriction) {
  auto root = RootContainer();
  IMAPITable* raw = nullptr;
  ASSERT_EQ(root->GetHierarchyTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> hierarchy(raw, false);
  SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_EMS_AB_HOME_MDB}};
  ASSERT_EQ(hierarchy->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
  std::vector<std::string> matches;
  int containers = 0;
  for (;;) {
    LPSRowSet rows = nullptr;
    ASSERT_EQ(hierarchy->QueryRows(1, 0, &rows), S_OK);
    MapiRows owned(rows);
    if (rows->cRows == 0) break;
    const SPropValue& id = rows->aRow[0].lpProps[0];
    ASSERT_EQ(id.ulPropTag, PR_ENTRYID);
    ULONG type = 0;
    IUnknown* object = nullptr;
    ASSERT_EQ(root->OpenEntry(id.Value.bin.cb, reinterpret_cast<LPENTRYID>(id.Value.bin.lpb), nullptr, 0,
                              &type, &object),
              S_OK);
    ASSERT_EQ(type, MAPI_ABCONT);
    _com_ptr_t<IABContainer> container(static_cast<IABContainer*>(object), false);
    ++containers;
    ASSERT_EQ(container->GetContentsTable(0, &raw), S_OK);
    _com_ptr_t<IMAPITable> contents(raw, false);
    ASSERT_EQ(contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
    ASSERT_EQ(contents->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    SPropValue address = TextProp(PR_ANR, "CHRISTINE.LEE@quillon.example");
    SRestriction anr{};
    anr.rt = RES_PROPERTY;
    anr.res.resProperty = {RELOP_EQ, PR_ANR, &address};
    ASSERT_EQ(contents->Restrict(&anr, 0), S_OK);
    for (;;) {
      LPSRowSet found = nullptr;
      ASSERT_EQ(contents->QueryRows(1, 0, &found), S_OK);
      MapiRows ownedFound(found);
      if (found->cRows == 0) break;
      if (found->aRow[0].lpProps[1].ulPropTag == PR_EMS_AB_HOME_MDB) {
        matches.push_back(Bytes(found->aRow[0].lpProps[0].Value.bin));
      }
    }
  }
  EXPECT_EQ(containers, 2);  // the global list and All Users; Sales lies below All Users
  ASSERT_EQ(matches.size(), 2u);  // the same mail user through both containers
  EXPECT_EQ(matches[0], matches[1]);
  ULONG type = 0;
  SBinary id{static_cast<ULONG>(matches[1].size()), reinterpret_cast<BYTE*>(matches[1].data())};
  auto user = Open(book_, id, &type);
  EXPECT_STREQ(Get(static_cast<IMailUser*>(user.GetInterfacePtr()), PR_ACCOUNT)->Value.lpszA, "clee2");
}

TEST_F(AddressBookTest, AnrRestrictionsMatchWhatResolveNameMatchesWithinTheContainer) {
  auto root = RootContainer();
  IMAPITable* raw = nullptr;
  ASSERT_EQ(root->GetHierarchyTable(CONVENIENT_DEPTH, &raw), S_OK);
  _com_ptr_t<IMAPITable> hierarchy(raw, false);
  SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_DISPLAY_NAME, PR_DEPTH}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
            S_OK);
  MapiRows containers(rows);
  ASSERT_EQ(rows->cRows, 3u);
  EXPECT_STREQ(rows->aRow[2].lpProps[1].Value.lpszA, "Sales");
  EXPECT_EQ(rows->aRow[2].lpProps[2].Value.l, 1);

  auto namesIn = [&](int row, const char* name, ULONG relop = RELOP_EQ) {
    ULONG type = 0;
    auto object = Open(book_, rows->aRow[row].lpProps[0].Value.bin, &type);
    IMAPITable* table = nullptr;
    EXPECT_EQ(static_cast<IABContainer*>(object.GetInterfacePtr())->GetContentsTable(0, &table), S_OK);
    _com_ptr_t<IMAPITable> contents(table, false);
    SPropValue value = TextProp(PR_ANR, name);
    SRestriction anr{};
    anr.rt = RES_PROPERTY;
    anr.res.resProperty = {relop, PR_ANR, &value};
    SizedSPropTagArray(1, alias) = {1, {PR_EMAIL_ADDRESS}};
    LPSRowSet found = nullptr;
    std::vector<std::string> out;
    const HRESULT hr = HrQueryAllRows(contents, reinterpret_cast<LPSPropTagArray>(&alias),
                                      name != nullptr ? &anr : nullptr, nullptr, 0, &found);
    if (hr != S_OK) {
      out.push_back("error");
      return out;
    }
    for (ULONG i = 0; i < found->cRows; ++i) out.push_back(found->aRow[i].lpProps[0].Value.lpszA);
    FreeProws(found);
    return out;
  };
  const std::string clee = "/o=Quillon/ou=First Site/cn=Recipients/cn=clee";
  EXPECT_EQ(namesIn(0, "chris lee"), (std::vector<std::string>{clee, clee + "2"}));
  EXPECT_EQ(namesIn(1, "chris lee"), (std::vector<std::string>{clee + "2"}));
  EXPECT_EQ(namesIn(2, "Chris Lee"), (std::vector<std::string>{clee}));
  EXPECT_EQ(namesIn(2, "[EX:" "/o=Quillon/ou=First Site/cn=Recipients/cn=clee]"), (std::vector<std::string>{clee}));
  EXPECT_EQ(namesIn(2, "nobody"), (std::vector<std::string>{}));
  EXPECT_EQ(namesIn(0, nullptr).size(), 5u);  // unrestricted: every member
  EXPECT_EQ(namesIn(0, "x", RELOP_NE), (std::vector<std::string>{"error"}));
}

// How a client finds the global address list: the address-book provider's
// container whose container id is 0.
TEST_F(AddressBookTest, TheGlobalListIsTheOnlyContainerWithContainerIdZero) {
  auto root = RootContainer();
  IMAPITable* raw = nullptr;
  ASSERT_EQ(root->GetHierarchyTable(CONVENIENT_DEPTH | MAPI_DEFERRED_ERRORS, &raw), S_OK);
  _com_ptr_t<IMAPITable> hierarchy(raw, false);
  static const BYTE provider[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                    0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};
  SPropValue providerValue{};
  providerValue.ulPropTag = PR_AB_PROVIDER_ID;
  providerValue.Value.bin = {16, const_cast<BYTE*>(provider)};
  SPropValue zero = LongProp(PR_EMS_AB_CONTAINERID, 0);
  SRestriction parts[2] = {};
  parts[0].rt = RES_PROPERTY;
  parts[0].res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &providerValue};
  parts[1].rt = RES_PROPERTY;
  parts[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &zero};
  SRestriction both{};
  both.rt = RES_AND;
  both.res.resAnd = {2, parts};
  SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_TYPE}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&columns), &both, nullptr, 0, &rows),
            S_OK);
  MapiRows owned(rows);
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(rows->aRow[0].lpProps[1].Value.l, static_cast<LONG>(DT_GLOBAL));
  ULONG type = 0;
  auto gal = Open(book_, rows->aRow[0].lpProps[0].Value.bin, &type);
  EXPECT_STREQ(Get(static_cast<IABContainer*>(gal.GetInterfacePtr()), PR_DISPLAY_NAME)->Value.lpszA,
               "Global Address List");
}

TEST_F(AddressBookTest, ResolveNamesWorksWithinOneContainerAndReportsEachEntry) {
  auto root = RootContainer();
  IMAPITable* raw = nullptr;
  ASSERT_EQ(root->GetHierarchyTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> hierarchy(raw, false);
  SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&idColumn), nullptr, nullptr, 0, &rows),
            S_OK);
  MapiRows owned(rows);
  ULONG type = 0;
  auto object = Open(book_, rows->aRow[0].lpProps[0].Value.bin, &type);  // the global list
  auto* gal = static_cast<IABContainer*>(object.GetInterfacePtr());

  void* block = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(3)), &block), S_OK);
  std::unique_ptr<ADRLIST, ListFree> list(static_cast<ADRLIST*>(block));
  list->cEntries = 3;
  const char* names[] = {"Zoë Müller", "Chris Lee", "Nobody"};
  for (int i = 0; i < 3; ++i) {
    SPropValue values[2] = {TextProp(PR_DISPLAY_NAME, names[i]), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)};
    LPSPropValue copy = nullptr;
    ASSERT_EQ(ScDupPropset(2, values, MAPIAllocateBuffer, &copy), S_OK);
    list->aEntries[i] = {0, 2, copy};
  }
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewFlagList(3)), &block), S_OK);
  MapiBuffer<FlagList> flags(static_cast<FlagList*>(block));
  flags->cFlags = 3;
  flags->ulFlag[0] = flags->ulFlag[1] = flags->ulFlag[2] = MAPI_UNRESOLVED;
  SizedSPropTagArray(2, wanted) = {2, {PR_ENTRYID, PR_SEND_RICH_INFO}};
  ASSERT_EQ(gal->ResolveNames(reinterpret_cast<LPSPropTagArray>(&wanted), EMS_AB_ADDRESS_LOOKUP, list.get(),
                              flags.get()),
            S_OK);
  EXPECT_EQ(flags->ulFlag[0], MAPI_RESOLVED);
  EXPECT_EQ(flags->ulFlag[1], MAPI_AMBIGUOUS);
  EXPECT_EQ(flags->ulFlag[2], MAPI_UNRESOLVED);
  ASSERT_EQ(list->aEntries[0].cValues, 2u);  // exactly the asked columns
  EXPECT_EQ(list->aEntries[0].rgPropVals[0].ulPropTag, PR_ENTRYID);
  EXPECT_EQ(list->aEntries[0].rgPropVals[1].Value.b, 1);
  EXPECT_EQ(list->aEntries[1].cValues, 2u);  // untouched
  EXPECT_STREQ(list->aEntries[1].rgPropVals[0].Value.lpszA, "Chris Lee");

  // PrepareRecips puts the asked properties of the resolved entry first.
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &block), S_OK);
  std::unique_ptr<ADRLIST, ListFree> one(static_cast<ADRLIST*>(block));
  one->cEntries = 1;
  one->aEntries[0] = {0, 0, nullptr};
  ASSERT_EQ(ScDupPropset(2, list->aEntries[0].rgPropVals, MAPIAllocateBuffer, &one->aEntries[0].rgPropVals),
            S_OK);
  one->aEntries[0].cValues = 2;
  SizedSPropTagArray(3, asked) = {3, {PR_EMAIL_ADDRESS, PR_EMS_AB_PROXY_ADDRESSES, PR_ADDRTYPE}};
  ASSERT_EQ(book_->PrepareRecips(0, reinterpret_cast<LPSPropTagArray>(&asked), one.get()), S_OK);
  const ADRENTRY& prepared = one->aEntries[0];
  ASSERT_EQ(prepared.cValues, 5u);
  EXPECT_STREQ(prepared.rgPropVals[0].Value.lpszA, "/o=Quillon/ou=First Site/cn=Recipients/cn=zmuller");
  EXPECT_EQ(prepared.rgPropVals[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_EMS_AB_PROXY_ADDRESSES)));
  EXPECT_STREQ(prepared.rgPropVals[2].Value.lpszA, "EX");
  EXPECT_EQ(prepared.rgPropVals[3].ulPropTag, PR_ENTRYID);
}

TEST_F(AddressBookTest, EntryIdentifiersOfOtherKindsAreRefused) {
  ULONG type = 0;
  IUnknown* object = nullptr;
  BYTE garbage[12] = {1};
  EXPECT_EQ(book_->OpenEntry(sizeof garbage, reinterpret_cast<LPENTRYID>(garbage), nullptr, 0, &type, &object),
            MAPI_E_INVALID_ENTRYID);
  auto store = OpenDefaultStore(session_);
  auto id = Get(store, PR_ENTRYID);
  EXPECT_EQ(book_->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr, 0,
                             &type, &object),
            MAPI_E_UNKNOWN_ENTRYID);
  EXPECT_EQ(object, nullptr);
  IMAPITable* table = nullptr;
  EXPECT_EQ(RootContainer()->GetContentsTable(0, &table), MAPI_E_NO_SUPPORT);
}

// Running out of memory while the entry is rebuilt leaves it as it was.
TEST_F(AddressBookTest, AFailedAllocationInResolveNameLeavesTheEntryWhole) {
  for (ULONG skip = 0; skip < 12; ++skip) {
    SCOPED_TRACE(skip);
    auto list = OneEntry("jsmith");
    SPropValue* before = list->aEntries[0].rgPropVals;
    FailMapiAllocationsForTesting(skip, 1);
    const HRESULT hr = book_->ResolveName(0, 0, nullptr, list.get());
    ClearMapiFailuresForTesting();
    if (hr != S_OK) {
      EXPECT_EQ(hr, MAPI_E_NOT_ENOUGH_MEMORY);
      EXPECT_EQ(list->aEntries[0].rgPropVals, before);
      EXPECT_STREQ(list->aEntries[0].rgPropVals[0].Value.lpszA, "jsmith");
    }
    FreePadrlist(list.release());
  }
}

}  // namespace
}  // namespace morvale::testing
