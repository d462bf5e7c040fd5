// A GoogleTest fixture for tests that work through the messaging stand-in:
// a profile directory of its own (profile_fixture_for_tests.h), MAPI
// initialised for the test's length, and helpers to build a profile, log on,
// open stores by name and folders, and read and write single properties.
//
//   class StoreTest : public morvale::testing::MapiSessionTest {};
//   TEST_F(StoreTest, ...) {
//     auto session = BuildAndLogOn(kOrganisation);
//     auto store = OpenStoreByName(session, "/o=Org/cn=Recipients/cn=jsmith");
//     ...
//   }
//
// Use the fixture's objects on the test's thread; sinks may be called on
// the dispatcher's.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi.h"
#include "platform/mapi/mapi_test_hooks.h"
#include "platform/mapi/profile_fixture_for_tests.h"

namespace morvale::testing {

// An organisation of two stores: the profile's default one and a user's
// mailbox, kMailboxName.
inline constexpr char kMailboxOrganisation[] =
    "[store]\ndn = /o=Org/cn=admin\ndisplay-name = Admin\nrole = default\n"
    "[store]\ndn = /o=Org/cn=user\ndisplay-name = Mailbox - User\n";
inline constexpr char kMailboxName[] = "/o=Org/cn=user";

// A buffer from MAPIAllocateBuffer, freed when it goes.
struct MapiFree {
  void operator()(void* buffer) const { MAPIFreeBuffer(buffer); }
};
template <typename T>
using MapiBuffer = std::unique_ptr<T, MapiFree>;

struct RowsFree {
  void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using MapiRows = std::unique_ptr<SRowSet, RowsFree>;

inline SPropValue TextProp(ULONG tag, const char* text) {
  SPropValue value{};
  value.ulPropTag = tag;
  value.Value.lpszA = const_cast<char*>(text);
  return value;
}

inline SPropValue WideProp(ULONG tag, const wchar_t* text) {
  SPropValue value{};
  value.ulPropTag = tag;
  value.Value.lpszW = const_cast<wchar_t*>(text);
  return value;
}

inline SPropValue LongProp(ULONG tag, LONG number) {
  SPropValue value{};
  value.ulPropTag = tag;
  value.Value.l = number;
  return value;
}

inline SPropValue BinaryProp(ULONG tag, const std::string& bytes) {
  SPropValue value{};
  value.ulPropTag = tag;
  value.Value.bin.cb = static_cast<ULONG>(bytes.size());
  value.Value.bin.lpb = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  return value;
}

// The bytes of a binary value.
inline std::string Bytes(const SBinary& bin) {
  return std::string(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

class MapiSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MAPIInitialize(nullptr), S_OK); }
  void TearDown() override {
    ClearMapiFailuresForTesting();
    MAPIUninitialize();
  }

  // Builds profile `name` (the default one) and logs on to it.
  _com_ptr_t<IMAPISession> BuildAndLogOn(std::string_view description,
                                          const char* name = "Test") {
    profiles_.Build(name, description, true);
    return LogOn(name);
  }

  _com_ptr_t<IMAPISession> LogOn(const char* name) {
    IMAPISession* session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, const_cast<char*>(name), nullptr,
                          MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION,
                          &session),
              S_OK);
    return _com_ptr_t<IMAPISession>(session, false);
  }

  // The store of distinguished name `dn`, opened by the entry identifier the
  // store-administration interface gives (null when that fails).
  _com_ptr_t<IMsgStore> OpenStoreByName(IMAPISession* session, const char* dn,
                                        ULONG flags = MDB_WRITE) {
    _com_ptr_t<IMsgStore> any = OpenDefaultStore(session, flags);
    if (!any) return nullptr;
    _com_ptr_t<IExchangeManageStore> manage;
    if (any->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage)) != S_OK) {
      ADD_FAILURE() << "no store administration";
      return nullptr;
    }
    ULONG size = 0;
    LPENTRYID id = nullptr;
    if (manage->CreateStoreEntryID(nullptr, const_cast<char*>(dn), OPENSTORE_USE_ADMIN_PRIVILEGE,
                                   &size, &id) != S_OK) {
      ADD_FAILURE() << "CreateStoreEntryID failed";
      return nullptr;
    }
    MapiBuffer<ENTRYID> entry(id);
    IMsgStore* store = nullptr;
    const HRESULT hr = session->OpenMsgStore(0, size, id, nullptr, flags, &store);
    EXPECT_EQ(hr, S_OK) << dn;
    return _com_ptr_t<IMsgStore>(store, false);
  }

  // The store the stores table marks as default.
  _com_ptr_t<IMsgStore> OpenDefaultStore(IMAPISession* session, ULONG flags = MDB_WRITE) {
    IMAPITable* raw = nullptr;
    if (session->GetMsgStoresTable(0, &raw) != S_OK) return nullptr;
    _com_ptr_t<IMAPITable> table(raw, false);
    SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    if (HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                       &rows) != S_OK) {
      return nullptr;
    }
    MapiRows owned(rows);
    for (ULONG i = 0; i < rows->cRows; ++i) {
      const SPropValue* values = rows->aRow[i].lpProps;
      if (values[0].ulPropTag == PR_DEFAULT_STORE && values[0].Value.b != 0) {
        IMsgStore* store = nullptr;
        EXPECT_EQ(session->OpenMsgStore(0, values[1].Value.bin.cb,
                                        reinterpret_cast<LPENTRYID>(values[1].Value.bin.lpb),
                                        nullptr, flags, &store),
                  S_OK);
        return _com_ptr_t<IMsgStore>(store, false);
      }
    }
    ADD_FAILURE() << "no default store";
    return nullptr;
  }

  // The folder or message `entryId` of `store`, opened for writing.
  template <class Interface>
  _com_ptr_t<Interface> OpenObject(IMsgStore* store, const std::string& entryId,
                                   ULONG flags = MAPI_MODIFY) {
    ULONG type = 0;
    IUnknown* object = nullptr;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(entryId.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(entryId.data())), nullptr,
                               flags, &type, &object),
              S_OK);
    return _com_ptr_t<Interface>(static_cast<Interface*>(object), false);
  }

  _com_ptr_t<IMAPIFolder> Root(IMsgStore* store) {
    ULONG type = 0;
    IUnknown* object = nullptr;
    EXPECT_EQ(store->OpenEntry(0, nullptr, nullptr, MAPI_BEST_ACCESS, &type, &object), S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
    return _com_ptr_t<IMAPIFolder>(static_cast<IMAPIFolder*>(object), false);
  }

  // One property, or null (with its error in *error) when GetProps gave an
  // error value.
  static MapiBuffer<SPropValue> Get(IMAPIProp* object, ULONG tag, HRESULT* error = nullptr) {
    LPSPropValue value = nullptr;
    const HRESULT hr = HrGetOneProp(object, tag, &value);
    if (error != nullptr) *error = hr;
    return MapiBuffer<SPropValue>(value);
  }

  static HRESULT Set(IMAPIProp* object, SPropValue value) { return HrSetOneProp(object, &value); }

  ScopedMapiProfileDirectory profiles_;
};

}  // namespace morvale::testing
