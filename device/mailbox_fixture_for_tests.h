// A GoogleTest fixture for tests of the device object on real stand-in
// mailboxes: a profile with two users' mailbox stores (alice and bob), a
// session logged on to it, alice's store opened by its mailbox
// distinguished name (as a host opens a user's store) and its root folder,
// and helpers to look at the hidden folder and its messages.
//
//   class PagerMailboxTest : public morvale::testing::DeviceMailboxTest {};
//
// Use the fixture's objects on the test's thread.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/mailbox.h"
#include "platform/mapi/session_fixture_for_tests.h"

namespace morvale::testing {

inline constexpr char kAliceMailbox[] = "/o=Org/ou=Site/cn=Recipients/cn=alice";
inline constexpr char kBobMailbox[] = "/o=Org/ou=Site/cn=Recipients/cn=bob";
inline constexpr char kTwoMailboxes[] =
    "[store]\ndn = /o=Org/cn=admin\ndisplay-name = Admin\nrole = default\n"
    "[store]\ndn = /o=Org/ou=Site/cn=Recipients/cn=alice\ndisplay-name = Mailbox - Alice\n"
    "[store]\ndn = /o=Org/ou=Site/cn=Recipients/cn=bob\ndisplay-name = Mailbox - Bob\n";

// Tags of the configuration list, one or two of each kind of value, and of
// the statistics list.
inline constexpr ULONG kText = 0x6001001E;
inline constexpr ULONG kNarrowName = 0x601D001E;
inline constexpr ULONG kWide = 0x6046001F;
inline constexpr ULONG kLong = 0x60060003;
inline constexpr ULONG kFlag = 0x60070003;
inline constexpr ULONG kOtherLong = 0x60080003;
inline constexpr ULONG kBinary = 0x60020102;
inline constexpr ULONG kTime = 0x60250040;
inline constexpr ULONG kList = 0x6095101E;
inline constexpr ULONG kOtherList = 0x6098101E;
inline constexpr ULONG kStat6005 = 0x60050003;
inline constexpr ULONG kStat6009 = 0x60090003;

class DeviceMailboxTest : public MapiSessionTest {
 protected:
  void SetUp() override {
    MapiSessionTest::SetUp();
    session_ = BuildAndLogOn(kTwoMailboxes);
    ASSERT_TRUE(session_);
    store_ = OpenStoreByName(session_, kAliceMailbox);
    ASSERT_TRUE(store_);
    root_ = Root(store_);
    ASSERT_TRUE(root_);
  }

  // The hidden folder under `root`, or null when there is none.
  _com_ptr_t<IMAPIFolder> HiddenFolder(IMAPIFolder* root = nullptr) {
    _com_ptr_t<IMAPIFolder> folder;
    const HRESULT hr = OpenOrCreateFolder(root != nullptr ? root : root_.GetInterfacePtr(),
                                          kHandheldInfoFolderName, false, &folder);
    if (hr != MAPI_E_NOT_FOUND) {
      EXPECT_EQ(hr, S_OK);
    }
    return folder;
  }

  // The classes of the messages of `folder`, oldest first.
  std::vector<std::string> MessageClasses(IMAPIFolder* folder) {
    std::vector<std::string> classes;
    IMAPITable* raw = nullptr;
    if (folder->GetContentsTable(0, &raw) != S_OK) {
      ADD_FAILURE() << "no contents table";
      return classes;
    }
    _com_ptr_t<IMAPITable> table(raw, false);
    SizedSPropTagArray(1, columns) = {1, {PR_MESSAGE_CLASS_A}};
    SizedSSortOrderSet(1, order) = {1, 0, 0, {{PR_CREATION_TIME, TABLE_SORT_ASCEND}}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             reinterpret_cast<LPSSortOrderSet>(&order), 0, &rows),
              S_OK);
    MapiRows owned(rows);
    for (ULONG i = 0; rows != nullptr && i < rows->cRows; ++i) {
      const SPropValue& value = rows->aRow[i].lpProps[0];
      classes.push_back(value.ulPropTag == PR_MESSAGE_CLASS_A ? value.Value.lpszA : "(none)");
    }
    return classes;
  }

  // A new, saved message of class `messageClass` in `folder`; its entry id.
  std::string AddMessage(IMAPIFolder* folder, const char* messageClass) {
    std::vector<BYTE> entryId;
    EXPECT_EQ(CreateMessageOfClass(folder, messageClass, &entryId), S_OK);
    return std::string(entryId.begin(), entryId.end());
  }

  _com_ptr_t<IMAPISession> session_;
  _com_ptr_t<IMsgStore> store_;
  _com_ptr_t<IMAPIFolder> root_;
};

}  // namespace morvale::testing
