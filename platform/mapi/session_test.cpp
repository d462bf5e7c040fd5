#include <fstream>

#include <gtest/gtest.h>

#include "platform/mapi/session_fixture_for_tests.h"

namespace morvale::testing {
namespace {

std::string Sample() { return ReadTextFile(std::string(MORVALE_MAPI_TESTDATA) + "/organisation.txt"); }

class SessionTest : public MapiSessionTest {};

HRESULT TryLogOn(const char* name, ULONG flags = MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE) {
  IMAPISession* session = nullptr;
  const HRESULT hr = MAPILogonEx(0, const_cast<char*>(name), nullptr, flags, &session);
  if (session != nullptr) session->Release();
  return hr;
}

TEST_F(SessionTest, LogonFindsNamedAndDefaultProfilesOnly) {
  profiles_.Build("Main", Sample());
  {
    std::ofstream junk(profiles_.path() + "/Junk.mapi");
    junk << "not a database at all, but long enough to have a header of sorts..........";
  }
  // A profile directory without a default profile.
  EXPECT_EQ(TryLogOn(nullptr, MAPI_EXTENDED | MAPI_LOGON_UI), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(TryLogOn(""), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(TryLogOn("Main"), S_OK);
  const char* refused[] = {"Missing", "main", "Junk", "../Main", ".Main", "Ma/in"};
  for (const char* name : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(TryLogOn(name), MAPI_E_LOGON_FAILED);
  }
  profiles_.Build("Other", Sample(), /*makeDefault=*/true);
  EXPECT_EQ(TryLogOn(nullptr, MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_LOGON_UI), S_OK);
  IMAPISession* session = nullptr;
  EXPECT_EQ(MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Main")), nullptr,
                        MAPI_EXTENDED | MAPI_UNICODE, &session),
            S_OK);
  session->Release();
  EXPECT_EQ(TryLogOn("Main", 0x40000000), MAPI_E_UNKNOWN_FLAGS);
}

TEST(Session, LogonNeedsMapiInitialisedAndUninitialiseIsToleratedAfterAFailure) {
  ScopedMapiProfileDirectory profiles;
  profiles.Build("Main", Sample());
  EXPECT_EQ(TryLogOn("Main"), MAPI_E_NOT_INITIALIZED);
  FailMapiCallForTesting("MAPIInitialize", MAPI_E_CALL_FAILED, 0, 1);
  EXPECT_EQ(MAPIInitialize(nullptr), MAPI_E_CALL_FAILED);
  MAPIUninitialize();
  EXPECT_EQ(TryLogOn("Main"), MAPI_E_NOT_INITIALIZED);
  MAPIINIT_0 init = {MAPI_INIT_VERSION, 0};
  ASSERT_EQ(MAPIInitialize(&init), S_OK);
  ASSERT_EQ(MAPIInitialize(&init), S_OK);
  MAPIUninitialize();
  EXPECT_EQ(TryLogOn("Main"), S_OK);  // one initialisation still stands
  MAPIUninitialize();
  EXPECT_EQ(TryLogOn("Main"), MAPI_E_NOT_INITIALIZED);
  init.ulVersion = 7;
  EXPECT_EQ(MAPIInitialize(&init), MAPI_E_VERSION);
  ClearMapiFailuresForTesting();
}

// What the utility's front end does after logon: the stores table, the
// default store, the store-administration check, the address book.
TEST_F(SessionTest, TheStoresTableNamesTheDefaultAndThePublicStore) {
  auto session = BuildAndLogOn(Sample());
  IMAPITable* raw = nullptr;
  ASSERT_EQ(session->GetMsgStoresTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> table(raw, false);
  SizedSPropTagArray(3, columns) = {3, {PR_DEFAULT_STORE, PR_ENTRYID, PR_DISPLAY_NAME}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
            S_OK);
  MapiRows owned(rows);
  ASSERT_EQ(rows->cRows, 2u);
  const SPropValue* first = rows->aRow[0].lpProps;
  ASSERT_EQ(first[0].ulPropTag, PR_DEFAULT_STORE);
  EXPECT_EQ(first[0].Value.b, 1);
  EXPECT_STREQ(first[2].Value.lpszA, "Mailbox - Quorrel Administrator");
  EXPECT_EQ(rows->aRow[1].lpProps[0].Value.b, 0);
  EXPECT_STREQ(rows->aRow[1].lpProps[2].Value.lpszA, "Public Folders");

  IMsgStore* store = nullptr;
  ASSERT_EQ(session->OpenMsgStore(0, first[1].Value.bin.cb,
                                  reinterpret_cast<LPENTRYID>(first[1].Value.bin.lpb), nullptr,
                                  MDB_WRITE, &store),
            S_OK);
  _com_ptr_t<IMsgStore> owner(store, false);
  IUnknown* manage = nullptr;
  ASSERT_EQ(store->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage)), S_OK);
  IUnknown* back = nullptr;
  EXPECT_EQ(manage->QueryInterface(IID_IMsgStore, reinterpret_cast<void**>(&back)), S_OK);
  EXPECT_EQ(back, static_cast<IUnknown*>(store));
  back->Release();
  EXPECT_EQ(UlRelease(manage), 0u);
  EXPECT_EQ(UlRelease(nullptr), 0u);
  IAddrBook* book = nullptr;
  ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), S_OK);
  book->Release();
  auto name = Get(store, PR_DISPLAY_NAME);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name->Value.lpszA, "Mailbox - Quorrel Administrator");
  auto speed = Get(store, PR_TEST_LINE_SPEED);
  ASSERT_NE(speed, nullptr);
  EXPECT_GT(speed->Value.bin.cb, 0u);
}

TEST_F(SessionTest, AProfileWithoutADefaultStoreListsNone) {
  auto session = BuildAndLogOn(
      "[store]\ndn = /cn=public\ndisplay-name = Public\nrole = public\n"
      "[store]\ndn = /cn=x\ndisplay-name = X\n");
  IMAPITable* raw = nullptr;
  ASSERT_EQ(session->GetMsgStoresTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> table(raw, false);
  SizedSPropTagArray(1, columns) = {1, {PR_DEFAULT_STORE}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
            S_OK);
  MapiRows owned(rows);
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(rows->aRow[0].lpProps[0].Value.b, 0);
}

TEST_F(SessionTest, AUsersMailboxOpensByItsDistinguishedNameInAnyCase) {
  auto session = BuildAndLogOn(Sample());
  auto john = OpenStoreByName(session, "/O=QUILLON/OU=First Site/CN=Recipients/CN=JSMITH");
  ASSERT_TRUE(john);
  auto name = Get(john, PR_DISPLAY_NAME);
  EXPECT_STREQ(name->Value.lpszA, "Mailbox - John Smith");

  // The entry identifier carries the name: a mailbox the profile lacks is
  // refused when it is opened.
  auto any = OpenDefaultStore(session);
  IExchangeManageStore* manage = nullptr;
  ASSERT_EQ(any->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage)), S_OK);
  ULONG size = 0;
  LPENTRYID id = nullptr;
  ASSERT_EQ(manage->CreateStoreEntryID(const_cast<char*>("/cn=server"), const_cast<char*>("/cn=nobody"),
                                       0, &size, &id),
            S_OK);
  MapiBuffer<ENTRYID> owned(id);
  IMsgStore* store = nullptr;
  EXPECT_EQ(session->OpenMsgStore(0, size, id, nullptr, MDB_WRITE, &store), MAPI_E_NOT_FOUND);
  EXPECT_EQ(store, nullptr);
  LPMAPIERROR error = nullptr;
  ASSERT_EQ(session->GetLastError(MAPI_E_NOT_FOUND, 0, &error), S_OK);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error->lpszError, "the profile holds no such store");
  MAPIFreeBuffer(error);
  EXPECT_EQ(manage->CreateStoreEntryID(nullptr, nullptr, 0, &size, &id), MAPI_E_INVALID_PARAMETER);
  manage->Release();

  BYTE garbage[30] = {};
  EXPECT_EQ(session->OpenMsgStore(0, sizeof garbage, reinterpret_cast<LPENTRYID>(garbage), nullptr, 0, &store),
            MAPI_E_UNKNOWN_ENTRYID);
}

TEST_F(SessionTest, ACallMadeToFailByATestHookFailsOnceAndSaysSo) {
  auto session = BuildAndLogOn(Sample());
  FailMapiCallForTesting("IMAPISession::OpenAddressBook", MAPI_E_CALL_FAILED, 1, 1);
  IAddrBook* book = nullptr;
  ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), S_OK);
  book->Release();
  EXPECT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), MAPI_E_CALL_FAILED);
  LPMAPIERROR error = nullptr;
  ASSERT_EQ(session->GetLastError(MAPI_E_CALL_FAILED, MAPI_UNICODE, &error), S_OK);
  EXPECT_STREQ(reinterpret_cast<wchar_t*>(error->lpszError),
               L"IMAPISession::OpenAddressBook: failure injected by a test");
  MAPIFreeBuffer(error);
  ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), S_OK);
  book->Release();
}

}  // namespace
}  // namespace morvale::testing
